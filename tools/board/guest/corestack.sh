# corestack on the ARM kernel's own core dumps: each crasher (built with
# unwind tables and without) dies of SIGSEGV with three threads; corestack
# reads its core with -f for every module, with libc's entry missing, and
# without -f. The cores go back to the host, where gdb-multiarch reads them.
. /board/lib.sh

# module_args INFO [SKIP]: one -f start-end:path per module of the crasher's
# memory map (first address of its first mapping, last byte of its last),
# leaving out modules whose path contains SKIP.
module_args() {
    awk -v skip="$2" '
        $1 == "map" && substr($7, 1, 1) == "/" {
            split($2, range, "-")
            if (!($7 in first)) { first[$7] = range[1]; order[++n] = $7 }
            last[$7] = range[2]
        }
        END {
            for (i = 1; i <= n; i++)
                if (skip == "" || index(order[i], skip) == 0)
                    print first[order[i]], last[order[i]], order[i]
        }' "$1" |
        while read start end path; do
            printf ' -f %x-%x:%s' $((0x$start)) $((0x$end - 1)) "$path"
        done
}

name_args() {
    awk '$1 == "tid" { printf " -t %s:%s", $2, $3 }' "$1"
}

for crasher in corestack_crasher corestack_crasher_nounwind; do
    step "$crasher dies"
    mkdir -p /tmp/cores/$crasher
    echo /tmp/cores/$crasher/core >/proc/sys/kernel/core_pattern
    # Thread stacks of 256 KiB (glibc takes their size from the stack
    # limit) keep the core small: it crosses the console gzip'd.
    (ulimit -c unlimited -s 256 && $crasher $OUT/$crasher.info)
    echo $? >$OUT/$crasher.rc
    cp /tmp/cores/$crasher/core $OUT/$crasher.core
    info=$OUT/$crasher.info
    ulimit -c 0
    for mode in all missing none; do
        step "corestack reads the core of $crasher, -f $mode"
        case $mode in
        all) maps=$(module_args $info) ;;
        missing) maps=$(module_args $info /libc.so) ;;
        none) maps= ;;
        esac
        echo "$maps" >$OUT/$crasher.$mode.args
        capture $crasher.$mode corestack -J -c $OUT/$crasher.core $maps $(name_args $info) -C $crasher
    done
done
step "sending the results"
finish
