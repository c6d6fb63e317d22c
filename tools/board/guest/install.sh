# Sourced by the scripts of the Debian image's boots: installs this build's
# packages (/board/debs) with apt, as on a device. The board has no network:
# its apt source is the folder /board/repo, which holds every package they
# need (the image lacks some of them).
export DEBIAN_FRONTEND=noninteractive

# files NAME: every path of the root file system and of /run, but for the
# board's own files (/board, /tmp/out), as NAME.files.
files() {
    find / /run -xdev \( -path /board -o -path $OUT -o -path /run/board \) -prune -o -print |
        sort -u >$OUT/$1.files
}

install_packages() {
    step "apt-get install"
    printf 'deb [trusted=yes] file:/board/repo ./\n' >/etc/apt/sources.list
    capture apt-update apt-get update
    (cd /board/debs && set -- ./*.deb && echo "apt-get install -y $*" >$OUT/apt-install.command &&
        apt-get install -y "$@") >$OUT/apt-install.out 2>$OUT/apt-install.err
    echo $? >$OUT/apt-install.rc
    for deb in /board/debs/*.deb; do
        package=$(dpkg-deb -f "$deb" Package)
        echo "$package" >>$OUT/packages
        dpkg -L "$package" >>$OUT/installed.paths
    done
    dpkg-query -W -f '${Package} ${Version} ${db:Status-Abbrev}\n' >$OUT/dpkg.list
    # Installing neither enables nor starts a unit: that is the operator's.
    for unit in kmsgwatch.service selfcheckrun.service; do
        echo "$unit $(systemctl is-enabled $unit) $(systemctl is-active $unit)" >>$OUT/units.installed
    done
}

# handlers: /bin/kmsgwatch-<incident> for every incident, each noting its
# name and argument count in /run/board/handlers.log.
handlers() {
    mkdir -p /run/board
    for incident in hung-task oom oops null-pointer scsi-error avc smmu; do
        printf '#!/bin/sh\necho "$0|$#" >>/run/board/handlers.log\n' >/bin/kmsgwatch-$incident
        chmod 755 /bin/kmsgwatch-$incident
    done
}

# kmsg TEXT: TEXT (with its "<level>" prefix) as one kernel log record.
kmsg() {
    printf '%s\n' "$1" >/dev/kmsg
}

# stopped UNIT: true when the unit is not active.
stopped() {
    ! systemctl -q is-active "$1"
}

# restarts UNIT COUNT: true when systemd has restarted the unit COUNT times
# (asked anew at every call, so that wait_until can poll it).
restarts() {
    [ "$(systemctl show -P NRestarts "$1")" = "$2" ]
}

# journal UNIT NAME: the unit's journal as NAME (messages only).
journal() {
    journalctl --no-pager -o cat -u "$1" >"$OUT/$2"
}

# journal_has SECONDS UNIT COUNT TEXT: waits until the unit's journal holds
# COUNT lines with TEXT.
journal_has() {
    local limit=$(($(uptime_ms) + $1 * 1000))
    until [ "$(journalctl --no-pager -o cat -u "$2" | grep -cF "$4")" -ge "$3" ]; do
        [ "$(uptime_ms)" -lt $limit ] || return 1
        sleep 1
    done
}
