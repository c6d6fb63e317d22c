# A device as a fleet watches it: our packages installed with apt and their
# units enabled, one failing and one passing sanity test, two SMMU faults, an
# RT throttle and an AVC denial in the kernel log; then Debian's
# node_exporter and journal uploader installed with apt and the uploader
# enabled. The network is QEMU's user-mode one, which reaches nothing but
# the host's forwards: node_exporter's port 9100 from the host, and the
# journal receiver at 10.0.2.100:19532. Once the device's own files show
# everything, the results go out and the board stays up for the host's
# Prometheus and journal checks; the host ends the boot.
. /board/lib.sh
. /board/install.sh

# node_exporter's textfile folder, as on a fleet device (the package of
# node_exporter, installed later, takes it over).
mkdir -p /var/lib/prometheus/node-exporter
install_packages
handlers
mkdir -p /etc/selfcheckrun.d
printf '#!/bin/sh\necho "<test name=\\"pass\\" result=\\"ok\\"/>"\n' >/etc/selfcheckrun.d/pass
printf '#!/bin/sh\necho "<test name=\\"fail\\"/>"\nexit 3\n' >/etc/selfcheckrun.d/fail
chmod 755 /etc/selfcheckrun.d/pass /etc/selfcheckrun.d/fail

# Our units first: selfcheckrun's first run (half a minute after its start)
# and the kernel records are done while the fleet's packages install; the
# uploader sends the journal from its beginning, node_exporter serves the
# files as they are.
step "systemctl enable --now kmsgwatch selfcheckrun"
capture enable systemctl enable --now kmsgwatch.service selfcheckrun.service
wait_until 300 systemctl -q is-active kmsgwatch.service

step "kernel records"
kmsg '<3>arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402 board-fleet-smmu-1'
kmsg '<3>arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402 board-fleet-smmu-2'
kmsg '<4>sched: RT throttling activated board-fleet-rt'
kmsg '<5>audit: type=1400 audit(1.2:6): avc:  denied  { open } board-fleet-avc'

step "apt-get install prometheus-node-exporter systemd-journal-remote"
capture apt-fleet apt-get install -y --no-install-recommends prometheus-node-exporter systemd-journal-remote
# All of node_exporter's default collectors take some 20 s per scrape on the
# emulated board: it serves the textfile collector alone, which fits the
# host's scrape interval of a second.
printf 'ARGS="--collector.disable-defaults --collector.textfile"\n' >/etc/default/prometheus-node-exporter
systemctl restart prometheus-node-exporter.service

step "network"
mkdir -p /etc/systemd/network /etc/systemd/journal-upload.conf.d /etc/systemd/system/systemd-networkd.service.d
printf '[Match]\nType=ether\n\n[Network]\nAddress=10.0.2.15/24\nLinkLocalAddressing=no\nIPv6AcceptRA=no\n' \
    >/etc/systemd/network/50-board.network
# The image has no udev. networkd waits for udev to announce each link
# unless /sys is read-only (as in a container): for networkd it is.
printf '[Service]\nReadOnlyPaths=/sys\n' >/etc/systemd/system/systemd-networkd.service.d/no-udev.conf
systemctl enable --now systemd-networkd.service >$OUT/networkd.out 2>&1
capture wait-online /lib/systemd/systemd-networkd-wait-online --timeout=120
networkctl --no-pager status >$OUT/networkctl.out 2>&1

step "systemctl enable --now systemd-journal-upload"
printf '[Upload]\nURL=http://10.0.2.100:19532\n' >/etc/systemd/journal-upload.conf.d/board.conf
capture enable-upload systemctl enable --now systemd-journal-upload.service

# has FILE TEXT: true when FILE holds the line TEXT.
has() {
    grep -qxF "$2" "$1" 2>/dev/null
}
PROM=/var/lib/prometheus/node-exporter
step "the device's metrics files"
wait_until 300 has $PROM/kmsgwatch.prom 'kmsgwatch_incidents_total{incident="avc"} 1'
wait_until 300 has $PROM/selfcheckrun.prom 'selfcheckrun_test_failed{test="fail"} 1'
for f in $PROM/*.prom; do
    keep "$f"
done
ls -l $PROM >$OUT/prom.ls
systemctl show systemd-journal-upload.service -p ActiveState -p NRestarts -p Result >$OUT/upload.show
journalctl --no-pager -o cat -u systemd-journal-upload.service >$OUT/upload.journal
step "serving the host"
finish
# The host ends the boot once it has seen everything (or given up).
sleep 1200
