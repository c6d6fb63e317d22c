# kmsgwatch, installed with apt and started by systemd, restarts the board
# for an oops record at the kernel's own level for it (emergency), from
# inside its unit's sandbox. The results go out during the watcher's 60 s
# pause; the restart then ends QEMU (-no-reboot), and the host checks for the
# kernel's restart message and the time since the pause began.
. /board/lib.sh
. /board/install.sh

install_packages
handlers
systemctl enable --now kmsgwatch.service
wait_until 300 systemctl -q is-active kmsgwatch.service
kmsg '<0>Internal error: Oops: 805 [#1] SMP ARM board-restart'
journal_has 300 kmsgwatch.service 1 "kmsgwatch: reboot unit"
step "the watcher pauses before the restart"
keep /run/board/handlers.log
journal kmsgwatch.service kmsgwatch.journal
finish
sleep 150
step "no restart"
