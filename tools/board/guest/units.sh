# Our packages on the board's Debian image under systemd: installed with apt,
# both units enabled and started as a device integrator does, then
# - kmsgwatch on the kernel's /dev/kmsg: every rule at its level and below it,
#   the handlers, the metrics, the journal; a kill, the restart that follows,
#   and no record handled twice; the fatal rules up to their restart, each
#   unit stopped in its pause (and started again);
# - selfcheckrun: its first run published in /run and /var/log, the journal,
#   and the install marker that stops it for good;
# - corestack and keyprom from their package; systemd-analyze security;
# - apt-get purge of every package, with the file lists before and after.
. /board/lib.sh
. /board/install.sh

# node_exporter's textfile folder, as on a fleet device: both daemons keep
# their figures there (which the purge takes away).
mkdir -p /var/lib/prometheus/node-exporter
files before
install_packages
handlers
# The package's example handler keeps the kernel log under /var/log/kmsgwatch.
cp /usr/share/doc/kmsgwatch/examples/kmsgwatch-save-log /bin/kmsgwatch-scsi-error
mkdir -p /etc/selfcheckrun.d
printf '#!/bin/sh\necho "<test name=\\"pass\\" result=\\"ok\\"/>"\n' >/etc/selfcheckrun.d/pass
printf '#!/bin/sh\necho "<test name=\\"fail\\">"\necho "</test>"\nexit 3\n' >/etc/selfcheckrun.d/fail
printf '#!/bin/sh\necho "<never/>"\n' >/etc/selfcheckrun.d/plain
cp /usr/share/doc/selfcheckrun/examples/kmsgwatch-running /etc/selfcheckrun.d/
chmod 755 /etc/selfcheckrun.d/pass /etc/selfcheckrun.d/fail /etc/selfcheckrun.d/kmsgwatch-running
chmod 644 /etc/selfcheckrun.d/plain

step "systemctl enable --now kmsgwatch.service selfcheckrun.service"
capture enable systemctl enable --now kmsgwatch.service selfcheckrun.service
wait_until 300 systemctl -q is-active kmsgwatch.service

step "every rule at its level and below"
kmsg '<4>"echo 0 > /proc/sys/kernel/hung_task_timeout_secs" disables this message. board-ignored-4'
kmsg '<4>Out of memory: Killed process 77 (board-ignored-4)'
kmsg '<4>Internal error: Oops: 17 [#1] ARM board-ignored-4'
kmsg '<5>Unable to handle kernel NULL pointer dereference at virtual address 00000000 board-ignored-5'
kmsg '<7>Internal error: Oops: 17 [#1] ARM board-ignored-7'
kmsg '<4>end_request: critical target error, dev sda board-ignored-4'
kmsg '<4>audit: type=1400 audit(1.2:3): avc:  denied  { read } board-ignored-4'
kmsg '<4>arm-smmu 12000000.iommu: Unhandled context fault: board-ignored-4'
kmsg '<4>tegra-mc: csr_nvdisplayr: EMEM address decode error board-ignored-4'
kmsg '<5>sched: RT throttling activated board-ignored-5'
kmsg '<4>i2c 1-0050: Inter byte i2c xfer time LIMIT reached board-ignored-4'
kmsg '<3>end_request: critical target error, dev sda board-scsi'
kmsg '<5>audit: type=1400 audit(1.2:6): avc:  denied  { open } board-avc'
kmsg '<3>arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402 board-smmu-1'
kmsg '<3>arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402 board-smmu-2'
kmsg '<3>tegra-mc: csr_nvdisplayr: EMEM address decode error board-csr'
kmsg '<4>sched: RT throttling activated board-rt'
kmsg '<3>i2c 1-0050: Inter byte i2c xfer time LIMIT reached board-last'
wait_until 300 [ -e /run/metrics/i2c_xfer_limit_reached ]

step "systemctl kill -s KILL kmsgwatch.service"
systemctl show -P MainPID kmsgwatch.service >$OUT/kill.pid-before
systemctl kill -s KILL kmsgwatch.service
wait_until 300 restarts kmsgwatch.service 1
wait_until 300 systemctl -q is-active kmsgwatch.service
systemctl show -P MainPID kmsgwatch.service >$OUT/kill.pid-after
systemctl show -P NRestarts kmsgwatch.service >$OUT/kill.restarts
step "kmsgwatch restarted"
kmsg '<3>arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402 board-smmu-after-restart'
journal_has 300 kmsgwatch.service 1 board-smmu-after-restart
keep /run/board/handlers.log
for f in /run/metrics/*; do
    keep "$f" "metrics.$(basename "$f")"
done
keep /var/log/kmsgwatch/scsi-error-*.log save-log.log

# fatal NAME RECORD: the watcher reports RECORD and pauses before restarting
# the board; stopping the unit then cancels the restart, and the unit started
# again passes over the record.
fatal() {
    step "fatal rule $1"
    rm -f /run/exit_wdt
    local before=$(journalctl --no-pager -o cat -u kmsgwatch.service | grep -c "reboot unit")
    kmsg "$2"
    journal_has 300 kmsgwatch.service $((before + 1)) "kmsgwatch: reboot unit"
    systemctl stop kmsgwatch.service
    [ -e /run/exit_wdt ] && keep /run/exit_wdt $1.exit_wdt
    systemctl start kmsgwatch.service
}
fatal hung-task '<3>"echo 0 > /proc/sys/kernel/hung_task_timeout_secs" disables this message.'
fatal oom '<3>Out of memory: Killed process 79 (board-oom-fatal)'
fatal null-pointer '<1>Unable to handle kernel NULL pointer dereference at virtual address 00000000'
# The last watcher has passed over every record when it counts this one.
kmsg '<3>i2c 1-0050: Inter byte i2c xfer time LIMIT reached board-after-fatal'
journal_has 300 kmsgwatch.service 1 board-after-fatal
keep /run/board/handlers.log handlers-fatal.log
journal kmsgwatch.service kmsgwatch.journal
# The example handler's syslog line (its short-lived logger is not always
# attributed to the unit).
journalctl --no-pager -o cat -t kmsgwatch-handler >$OUT/handler.journal
systemctl show kmsgwatch.service -p NRestarts -p ActiveState >$OUT/kmsgwatch.show

step "selfcheckrun publishes"
wait_until 300 [ -e /var/log/selfcheckrun.xml ]
keep /run/selfcheckrun.xml
keep /var/log/selfcheckrun.xml copy.xml
ls -a /run /var/log >$OUT/published.ls
stat -c '%a %U:%G %n' /run/selfcheckrun.xml /var/log/selfcheckrun.xml /run/metrics /run/metrics/* \
    /run/kmsgwatch /run/kmsgwatch/position >$OUT/modes
touch /tmp/install-wait

step "corestack and keyprom from the package"
echo '/tmp/core.%e' >/proc/sys/kernel/core_pattern
(ulimit -c unlimited && exec sh -c 'kill -SEGV $$')
capture corestack corestack -c /tmp/core.sh
capture keyprom keyprom get

step "systemd-analyze security"
capture security systemd-analyze security --no-pager kmsgwatch.service selfcheckrun.service \
    systemd-journald.service
capture security-offline systemd-analyze security --no-pager --offline=yes \
    /lib/systemd/system/kmsgwatch.service /lib/systemd/system/selfcheckrun.service

step "the install marker stops selfcheckrun"
wait_until 300 stopped selfcheckrun.service
# Past the unit's restart delay: it stays stopped.
sleep 12
systemctl show selfcheckrun.service -p ActiveState -p Result -p ExecMainStatus -p NRestarts >$OUT/selfcheckrun.show
journal selfcheckrun.service selfcheckrun.journal

step "apt-get purge"
# What the platform put in place (handlers, tests, the marker and the
# example handler's logs) goes first: it is not the packages'.
rm -rf /bin/kmsgwatch-* /etc/selfcheckrun.d/* /tmp/install-wait /tmp/core.sh /var/log/kmsgwatch
# daemons NAME: the running kmsgwatch and selfcheckrun processes, as NAME.
daemons() {
    cat /proc/[0-9]*/comm 2>/dev/null | grep -x -e kmsgwatch -e selfcheckrun >$OUT/$1
}
daemons purge.processes-before
ls /var/lib/prometheus/node-exporter >$OUT/purge.prom-before
capture purge apt-get purge -y --autoremove $(cat $OUT/packages)
# Removing a package stops its running daemon.
daemons purge.processes
files after
finish
