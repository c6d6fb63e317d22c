# Started by board.service on the board's Debian image: runs the board
# scripts named on the kernel command line one after another from /tmp, and
# powers the board off. Everything goes to the host over the console (lib.sh).
. /board/lib.sh
read uptime idle </proc/uptime
say ready "$uptime"
for arg in $(cat /proc/cmdline); do
    case "$arg" in
    board.run=*) runs=$(echo "${arg#board.run=}" | tr , ' ') ;;
    esac
done
for script in $runs; do
    say run "$script"
    start=$(uptime_ms)
    (cd /tmp && sh "/board/$script.sh" </dev/null)
    say status "$script" $? $(($(uptime_ms) - start))
done
say done
sync
systemctl poweroff --force --force
