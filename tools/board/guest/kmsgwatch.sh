# kmsgwatch on the board's own kernel log (/dev/kmsg): test mode, every rule
# at its level and below it, metrics, and the fatal rules up to the restart
# (the watcher is stopped during its pause before restarting; the real
# restart is kmsgwatch-restart.sh). Handlers are logging scripts at
# /bin/kmsgwatch-<incident>.
. /board/lib.sh

mkdir -p /run/metrics
for incident in test hung-task oom oops null-pointer scsi-error avc smmu; do
    printf '#!/bin/sh\necho "$0|$#" >>/tmp/handlers.log\n' >/bin/kmsgwatch-$incident
    chmod 755 /bin/kmsgwatch-$incident
done

# kmsg TEXT: TEXT (with its "<level>" prefix) as one record, one write().
kmsg() {
    printf '%s\n' "$1" >/dev/kmsg
}

# The kernel log as the next watcher sees it: its oldest records overwritten
# by debug-level fillers (which kmsgwatch ignores), as after a long uptime, so
# that the watcher meets none of the records written for an earlier run.
fresh_log() {
    local filler=$(printf '%0900d' 0) rounds=0 n
    generation=$((generation + 1))
    until head -n 1 /dev/kmsg | grep -q ";board filler $generation "; do
        rounds=$((rounds + 1))
        [ $rounds -le 20 ] || return 1
        n=0
        while [ $n -lt 40 ]; do
            printf '<7>board filler %s %s\n' $generation "$filler" >/dev/kmsg
            n=$((n + 1))
        done
    done
}
generation=0

# Handlers started since the last call and the kernel log as it is now, kept
# as NAME.handlers and NAME.dmesg.
handlers_as() {
    keep /tmp/handlers.log "$1.handlers"
    rm -f /tmp/handlers.log
    dmesg -r >"$OUT/$1.dmesg"
}

step "test mode, text absent"
capture absent kmsgwatch -t "board test text never written"
handlers_as absent

step "test mode, text at level 4"
kmsg "<4>board test text at level 4"
capture found kmsgwatch -t "board test text"
handlers_as found

step "every rule at its level and below"
echo 7 >/run/metrics/rt_throttle
kmsgwatch -O >$OUT/rules.out 2>$OUT/rules.err &
watcher=$!
kmsg '<4>"echo 0 > /proc/sys/kernel/hung_task_timeout_secs" disables this message. board-ignored-4'
kmsg '<4>Out of memory: Killed process 77 (board-ignored-4)'
kmsg '<4>Internal error: Oops: 17 [#1] ARM board-ignored-4'
kmsg '<4>Unable to handle kernel NULL pointer dereference at virtual address 00000000 board-ignored-4'
kmsg '<5>Internal error: Oops: 17 [#1] ARM board-ignored-5'
kmsg '<7>Internal error: Oops: 17 [#1] ARM board-ignored-7'
kmsg '<4>end_request: critical target error, dev sda board-ignored-4'
kmsg '<4>audit: type=1400 audit(1.2:3): avc:  denied  { read } board-ignored-4'
kmsg '<7>audit: type=1400 audit(1.2:3): avc:  denied  { read } board-ignored-7'
kmsg '<4>arm-smmu 12000000.iommu: Unhandled context fault: board-ignored-4'
kmsg '<4>tegra-mc: csr_nvdisplayr: EMEM address decode error board-ignored-4'
kmsg '<5>sched: RT throttling activated board-ignored-5'
kmsg '<4>i2c 1-0050: Inter byte i2c xfer time LIMIT reached board-ignored-4'
kmsg '<3>Out of memory: Killed process 78 (board-oom)'
kmsg '<3>end_request: critical target error, dev sda board-scsi'
kmsg '<6>audit: type=1400 audit(1.2:4): avc:  denied  { read } for pid=1 comm="sh" board-avc-two-blanks'
kmsg '<6>audit: type=1400 audit(1.2:5): avc: denied { write } board-avc-one-blank'
# The kernel's audit records come at level 5, RT throttling at level 4.
kmsg '<5>audit: type=1400 audit(1.2:6): avc:  denied  { open } board-avc-notice'
kmsg '<3>arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402 board-smmu-1'
kmsg '<3>arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402 board-smmu-2'
kmsg '<3>tegra-mc: csr_nvdisplayr: EMEM address decode error board-csr'
kmsg '<3>sched: RT throttling activated board-rt'
kmsg '<4>sched: RT throttling activated board-rt-warning'
kmsg '<3>i2c 1-0050: Inter byte i2c xfer time LIMIT reached board-last'
wait_until 30 grep -q board-last $OUT/rules.err
kill $watcher
wait $watcher
handlers_as rules
for f in /run/metrics/*; do
    keep "$f" "metrics.$(basename "$f")"
done

# fatal NAME RECORD: a watcher started on a fresh log reports RECORD and stops
# (here) in its pause before restarting the unit.
fatal() {
    step "fatal rule $1"
    rm -f /run/exit_wdt
    fresh_log || echo "the kernel log kept its old records" >$OUT/$1.nofresh
    kmsgwatch >$OUT/$1.out 2>$OUT/$1.err &
    watcher=$!
    kmsg "$2"
    wait_until 30 grep -q "reboot unit" $OUT/$1.err
    kill $watcher
    wait $watcher
    handlers_as $1
    [ -e /run/exit_wdt ] && keep /run/exit_wdt $1.exit_wdt
}
fatal hung-task '<3>"echo 0 > /proc/sys/kernel/hung_task_timeout_secs" disables this message.'
fatal oom '<3>Out of memory: Killed process 79 (board-oom-fatal)'
fatal null-pointer '<1>Unable to handle kernel NULL pointer dereference at virtual address 00000000'
finish
