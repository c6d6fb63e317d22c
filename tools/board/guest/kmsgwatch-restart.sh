# kmsgwatch restarts the board for a fatal incident: an oops record at the
# kernel's own level for it (emergency). The results go out during the
# watcher's 60 s pause; the restart then ends QEMU (-no-reboot), and the host
# checks for the kernel's restart message and the time since the pause began.
. /board/lib.sh

printf '#!/bin/sh\necho "$0|$#" >>/tmp/handlers.log\n' >/bin/kmsgwatch-oops
chmod 755 /bin/kmsgwatch-oops
kmsgwatch >$OUT/watch.out 2>$OUT/watch.err &
printf '%s\n' '<0>Internal error: Oops: 805 [#1] SMP ARM board-restart' >/dev/kmsg
wait_until 30 grep -q "reboot unit" $OUT/watch.err
step "the watcher pauses before the restart"
keep /tmp/handlers.log
finish
sleep 150
step "no restart"
