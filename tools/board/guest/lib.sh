# Shell helpers of the board scripts (busybox sh), and the console protocol
# the host reads (tools/board/vm.py): lines beginning with "@@".

# say TAG WORDS...: one protocol line.
say() {
    echo "@@$*"
}

# step TEXT: a progress note, timed on the host.
step() {
    say step "$*"
}

# Milliseconds since boot.
uptime_ms() {
    local up idle
    read up idle </proc/uptime
    local frac=${up#*.}
    echo $((${up%.*} * 1000 + ${frac#0} * 10))
}

# send NAME FILE: FILE, gzip'd and base64-encoded, as the host's file NAME.
send() {
    echo "@@file $1"
    gzip -c "$2" | base64
    echo "@@endfile $1"
}

# Results of a script are collected in $OUT and sent as one archive
# (results.tar) by finish.
OUT=/tmp/out
mkdir -p $OUT

# capture NAME COMMAND...: runs COMMAND and keeps its standard output,
# standard error and exit status as NAME.out, NAME.err and NAME.rc.
capture() {
    local name=$1
    shift
    "$@" >"$OUT/$name.out" 2>"$OUT/$name.err"
    echo $? >"$OUT/$name.rc"
}

# keep FILE [NAME]: a copy of FILE among the results (NAME.missing if absent).
keep() {
    local name=${2:-$(basename "$1")}
    if [ -e "$1" ]; then
        cp "$1" "$OUT/$name"
    else
        touch "$OUT/$name.missing"
    fi
}

# nap: a pause of 50 ms (busybox's usleep; the Debian image's sleep takes
# fractions).
nap() {
    if command -v usleep >/dev/null; then
        usleep 50000
    else
        sleep 0.05
    fi
}

# wait_until SECONDS COMMAND...: polls COMMAND every 50 ms until it succeeds;
# fails after SECONDS.
wait_until() {
    local limit=$(($(uptime_ms) + $1 * 1000))
    shift
    until "$@"; do
        [ "$(uptime_ms)" -lt $limit ] || return 1
        nap
    done
}

# finish: sends the results and the kernel log.
finish() {
    dmesg -r >$OUT/dmesg.txt
    tar -cf /tmp/results.tar -C $OUT .
    send results.tar /tmp/results.tar
}
