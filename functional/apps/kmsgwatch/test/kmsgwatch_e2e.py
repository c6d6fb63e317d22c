#!/usr/bin/env python3
"""End-to-end tests of kmsgwatch, run as PID 1 of a private PID + mount
namespace. Handler programs and the reboot command are fakes placed on
overlays of /usr/bin and /usr/sbin, /run is a tmpfs; runs that may reach the
restart path run in a nested PID namespace, which the restart request ends.

The machine's own kernel log is never read or written: inside the namespace
/dev/kmsg is a FIFO that collects the watcher's notes, one write() each.
Records come from stand-in record sources: regular files whose records are
NUL-padded blocks of the watcher's read size, so that every read returns one
record, like the device does; one of them is mounted on /dev/kmsg itself for
the runs that read the default device. How the watcher behaves on a real
kernel log is proven on the emulated board."""

import os
import signal
import subprocess
import sys
import time

import nsutil
import scripttest

READ_SIZE = 8191  # the watcher's read size: one stand-in record per block
INCIDENTS = ["test", "hung-task", "oom", "oops", "null-pointer", "scsi-error", "avc", "smmu"]
USAGE = ("Usage: {0} [ -f <kmsg> | -F <logfile> | -t <pattern>] | -h\n"
         "       -f <kmsg>    : default to /dev/kmsg\n"
         "       -F <logfile> : regular log file to parse, will be used if /dev/kmsg\n"
         "                      is not usable, default to /var/log/kern.log\n"
         "       -t <pattern> : check for string assumed to be present\n"
         "       -h           : print this help text and exit\n")
PATH = "/usr/sbin:/usr/bin:/sbin:/bin"

scratch = ""
notes_fd = -1
t = scripttest.Failures()


def standin_kmsg():
    """Puts a FIFO on /dev/kmsg that collects the notes (kept open for reading
    and writing here, so that neither side ever blocks in open())."""
    global notes_fd
    fifo = os.path.join(scratch, "kmsg-notes")
    os.mkfifo(fifo)
    nsutil.bind(fifo, "/dev/kmsg")
    notes_fd = os.open("/dev/kmsg", os.O_RDWR | os.O_NONBLOCK)
    if os.fstat(notes_fd).st_ino != os.stat(fifo).st_ino:
        sys.exit("/dev/kmsg is not the stand-in: stopping")


def setup():
    standin_kmsg()
    nsutil.overlay("/usr/bin", scratch, "usr-bin")
    nsutil.overlay("/usr/sbin", scratch, "usr-sbin")
    nsutil.tmpfs("/run")
    install_reboot("exit 1")
    # Never go on unless every reboot the watcher could find is the fake.
    for d in PATH.split(":"):
        p = os.path.join(d, "reboot")
        if os.path.exists(p):
            with open(p, "rb") as f:
                if scratch.encode() not in f.read():
                    sys.exit(f"{p} is not the fake reboot: stopping")
    for name in INCIDENTS:
        install_handler(name)
    os.mkdir(os.path.join(scratch, "decoy"))
    nsutil.write_script(os.path.join(scratch, "decoy", "reboot"),
                        f"#!/bin/sh\necho decoy >> {scratch}/reboot.log\nexit 1\n")


def install_reboot(end):
    for d in ("/usr/bin", "/usr/sbin"):
        nsutil.write_script(os.path.join(d, "reboot"), f"#!/bin/sh\necho \"reboot|$#|$*\" >> {scratch}/reboot.log\n{end}\n")


def install_handler(name):
    nsutil.write_script(f"/usr/bin/kmsgwatch-{name}",
                        f"#!/bin/sh\necho \"$0|$#\" >> {scratch}/handlers.log\n")


def reset():
    for f in ("handlers.log", "reboot.log"):
        p = os.path.join(scratch, f)
        if os.path.exists(p):
            os.remove(p)
    for d in ("/run/metrics",):
        if os.path.isdir(d):
            for f in os.listdir(d):
                os.remove(os.path.join(d, f))
        else:
            os.mkdir(d)


def handlers():
    text = nsutil.read_text(os.path.join(scratch, "handlers.log")) or ""
    return text.splitlines()


def standin(name, records):
    """A stand-in record device: one NUL-padded READ_SIZE block per record."""
    path = os.path.join(scratch, name)
    with open(path, "wb") as f:
        for i, r in enumerate(records):
            data = r.encode() if isinstance(r, str) else r
            assert len(data) <= READ_SIZE
            f.seek(i * READ_SIZE)  # the padding is a hole: a long stand-in takes no room
            f.write(data)
        f.truncate(len(records) * READ_SIZE)
    return path


def drain_notes():
    data = b""
    while True:
        try:
            piece = os.read(notes_fd, 65536)
        except BlockingIOError:
            return data.decode(errors="replace")
        if not piece:
            return data.decode(errors="replace")
        data += piece


class KernelLog:
    """The notes written to /dev/kmsg from now on."""

    def __init__(self):
        drain_notes()

    def texts(self):
        return drain_notes().splitlines()


def note(incident, words):
    return f"kmsgwatch has detected a situation to report ({incident}) and will {words}"


def run(args, options, binary=None, timeout=60, argv0=None):
    binary = binary or args.kmsgwatch
    env = {"PATH": PATH}
    if argv0 is None:
        command = args.emulator + [binary] + options
        return subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=env)
    if args.emulator:
        command = args.emulator + ["-0", argv0, binary] + options
        return subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=env)
    return subprocess.run([argv0] + options, executable=binary, capture_output=True, text=True,
                          timeout=timeout, env=env)


def run_nested(args, options, binary=None, timeout=60):
    """Runs the watcher (the fast-clock build unless told otherwise) as PID 1
    of a nested PID namespace, where the restart request ends that namespace
    only. A timeout kills the namespace with everything started in it."""
    command = (["unshare", "--kill-child", "--pid", "--fork", "--mount-proc"] + args.emulator +
               [binary or args.fastclock] + options)
    # The watcher inherits a PATH whose first folder holds a reboot of its
    # own: only the fixed path's reboot may run.
    return subprocess.run(command, capture_output=True, text=True, timeout=timeout,
                          env={"PATH": os.path.join(scratch, "decoy") + ":" + PATH})


def test_command_line(args):
    r = run(args, ["-h"])
    t.equal((r.returncode, r.stdout), (1, USAGE.format(args.kmsgwatch)), "-h prints the usage, status 1")
    r = run(args, ["-x"])
    t.equal((r.returncode, r.stdout), (1, USAGE.format(args.kmsgwatch)), "unknown option: usage, status 1")
    r = run(args, ["--version", "-t", "x"])
    t.equal((r.returncode, r.stdout), (0, f"kmsgwatch {args.project_version}\n"), "--version: name and version, status 0")
    missing = os.path.join(scratch, "no-such-device")
    r = run(args, ["-f", missing, "-t", "x"])
    t.equal((r.returncode, r.stderr), (1, f"kmsgwatch: cannot open {missing}: No such file or directory\n"),
            "missing device: why, status 1")
    fifo = os.path.join(scratch, "fifo")
    os.mkfifo(fifo)
    r = run(args, ["-f", fifo, "-t", "x"])
    t.equal((r.returncode, r.stderr), (1, "kmsgwatch: seek(): Illegal seek\n"), "unseekable device")
    r = run(args, ["-T", "0", "-t", "x", "-f", missing])
    t.equal((r.returncode, r.stderr), (1, "kmsgwatch: -T: not a number of seconds from 1 to 86400: 0\n"),
            "handler time limit 0 refused")


def test_start_guard(args):
    r = run(args, ["-h"], argv0="/bin/kmsgwatch-oops")
    t.equal((r.returncode, r.stdout), (-signal.SIGABRT, ""), "started under a handler path: abort first")
    r = run(args, ["-h"], argv0="/bin/kmsgwatch")
    t.equal(r.returncode, 1, "the plain name is not guarded")


def test_default_device(args):
    """Without -f the watcher reads /dev/kmsg: here a stand-in record source
    mounted over the note FIFO for these runs, so the note of the test
    incident lands at the start of that file."""
    reset()
    source = standin("default.kmsg", ["4,1,1,-;MARK-default present at level 4\n"])
    nsutil.bind(source, "/dev/kmsg")
    try:
        r = run(args, ["-t", "MARK-default"])
        t.equal((r.returncode, r.stderr), (0, "kmsgwatch: Found test string\n"), "test text found in /dev/kmsg")
        t.equal(handlers(), ["/bin/kmsgwatch-test|0"], "test handler started once, with its path only")
        with open(source, "rb") as f:
            t.equal(f.read(len(note("test", "exit itself")) + 1).decode(), note("test", "exit itself") + "\n",
                    "exit note written to /dev/kmsg")
        reset()
        standin("default.kmsg", ["4,1,1,-;MARK-default present at level 4\n"])  # same file, note gone
        r = run(args, ["-t", "MARK-absent"])
        t.equal((r.returncode, r.stderr, handlers()), (0, "", []), "end of /dev/kmsg without the test text")
    finally:
        nsutil.umount("/dev/kmsg")
    t.check(os.path.samestat(os.stat("/dev/kmsg"), os.fstat(notes_fd)), "note FIFO back on /dev/kmsg")


def test_rules_on_standin(args):
    reset()
    with open("/run/metrics/csr_nvdisplayr", "w") as f:
        f.write("7\n")
    # Left by killed watchers (no process 99999 in this namespace), and names
    # that are not theirs: a live process's, another form, another file's.
    stale = ["smmu_errors.99999", "rt_throttle.99998"]
    foreign = ["smmu_errors.1", "smmu_errors.tmp", "other.99999"]
    for name in stale + foreign:
        with open(os.path.join("/run/metrics", name), "w") as f:
            f.write("x")
    records = [
        "6,1,10,-;audit: type=1400 avc: denied { read } e2e\n",
        "4,2,11,-;avc: denied at level 4\n",
        "12,3,12,-;Internal error: Oops: at level 4 is ignored\n",
        "3,4,13,-;arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402\n",
        "3,5,14,-;end_request: critical target error, dev sda\n",
        "3,6,15,-;tegra-mc: csr_nvdisplayr: EMEM address decode error\n",
        "3,7,16,-;tegra-mc: csr_nvdisplayr: EMEM address decode error\n",
        "3,8,17,-;sched: RT throttling activated\n",
        "0,9,18,-;i2c 1-0050: Inter byte i2c xfer time LIMIT reached\n",
        "no head at all\n",
        # A record filling the whole read without its newline, and its
        # continuation, which looks like a record of its own.
        "6,10,19,-;" + "y" * (READ_SIZE - 10),
        "3,11,20,-;avc: denied injected by a continuation\n",
        # (The continuation is not a record: no sequence number is missing.)
        "3,11,21,-;Out of memory: Killed process 42 (e2e)\n",
    ]
    log = KernelLog()
    r = run(args, ["-O", "-f", standin("rules.kmsg", records)])
    notes = log.texts()
    t.equal(r.returncode, 1, "stand-in device ends: status 1")
    expected_stderr = (
        "kmsgwatch: Got AVC violation: audit: type=1400 avc: denied { read } e2e\n"
        "kmsgwatch: Found SMMU error: arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402\n"
        "kmsgwatch: Got SCSI error\n"
        "kmsgwatch: Found csr_nvdisplayr error: tegra-mc: csr_nvdisplayr: EMEM address decode error\n"
        "kmsgwatch: Found csr_nvdisplayr error: tegra-mc: csr_nvdisplayr: EMEM address decode error\n"
        "kmsgwatch: Found RT Throttling incident: sched: RT throttling activated\n"
        "kmsgwatch: Found I2C xfer limit reached incident: i2c 1-0050: Inter byte i2c xfer time LIMIT reached\n"
        "kmsgwatch: Failed to parse line\n"
        "kmsgwatch: Process out of memory\n"
        "kmsgwatch: read(): end of the record device\n")
    # One line per incident: the record's own newline is not printed.
    t.equal(r.stderr, expected_stderr, "rule log lines")
    t.equal(handlers(), ["/bin/kmsgwatch-avc|0", "/bin/kmsgwatch-smmu|0",
                         "/bin/kmsgwatch-scsi-error|0", "/bin/kmsgwatch-oom|0"], "handlers in order")
    for incident in ("avc", "smmu", "scsi-error", "oom"):
        t.check(note(incident, "continue to watch log") in notes, f"{incident} note", notes)
    t.equal(nsutil.read_text("/run/metrics/smmu_errors"), "1\n", "smmu metrics")
    t.equal(nsutil.read_text("/run/metrics/csr_nvdisplayr"), "9\n", "csr_nvdisplayr metrics 7 -> 9")
    t.equal(nsutil.read_text("/run/metrics/rt_throttle"), "1\n", "rt_throttle metrics")
    t.equal(nsutil.read_text("/run/metrics/i2c_xfer_limit_reached"), "1\n", "i2c metrics")
    t.equal(sorted(os.listdir("/run/metrics")),
            sorted(["csr_nvdisplayr", "i2c_xfer_limit_reached", "rt_throttle", "smmu_errors"] + foreign),
            "killed watchers' temporaries removed at start, other files kept")

    # Without /run/metrics the count fails with its message; the report goes on.
    reset()
    os.rmdir("/run/metrics")
    r = run(args, ["-f", standin("smmu.kmsg", ["3,1,1,-;arm-smmu x: Unhandled context fault\n"])])
    t.equal(r.stderr, "kmsgwatch: Found SMMU error: arm-smmu x: Unhandled context fault\n"
            "kmsgwatch: updating metrics file (/run/metrics/smmu_errors) failed\n"
            "kmsgwatch: read(): end of the record device\n", "unwritable metrics file")
    t.equal(handlers(), ["/bin/kmsgwatch-smmu|0"], "smmu still reported")

    # Test mode on the stand-in: the test text is matched at any level.
    reset()
    source = standin("test.kmsg", ["3,1,1,-;avc: denied first\n", "7,2,2,-;MARK-debug found\n",
                                   "3,3,3,-;avc: denied after\n"])
    r = run(args, ["-t", "MARK-debug", "-f", source])
    t.equal(r.returncode, 0, "test text at level 7: status 0")
    t.equal(handlers(), ["/bin/kmsgwatch-avc|0", "/bin/kmsgwatch-test|0"], "stops at the test text")
    reset()
    r = run(args, ["-t", "MARK-absent", "-f", source])
    t.equal((r.returncode, r.stderr.count("Got AVC")), (0, 2), "test mode to the end: status 0")


def test_handler_link_start_guard(args):
    """A handler path linked to kmsgwatch itself: the started copy must abort
    at once. Without the guard it would read /dev/kmsg with the default
    options (here the note FIFO, which it cannot seek: its message shows)."""
    if args.emulator:
        print("skipped under the emulator: a link to an ARM program cannot be executed by the host")
        return
    reset()
    os.remove("/usr/bin/kmsgwatch-avc")
    os.symlink(os.path.abspath(args.kmsgwatch), "/usr/bin/kmsgwatch-avc")
    try:
        log = KernelLog()
        r = run_nested(args, ["-f", standin("link.kmsg", ["3,1,1,-;avc: denied e2e link\n"])],
                       binary=args.kmsgwatch, timeout=30)
        notes = log.texts()
        t.equal((r.returncode, r.stderr), (1, "kmsgwatch: Got AVC violation: avc: denied e2e link\n"
                                              "kmsgwatch: read(): end of the record device\n"),
                "linked handler aborts at once, watcher goes on to the end")
        t.check(note("avc", "continue to watch log") in notes, "note after the aborted handler", notes)
    except subprocess.TimeoutExpired:
        t.check(False, "linked handler did not abort at once")
    finally:
        install_handler("avc")


def test_missing_handler(args):
    reset()
    os.remove("/usr/bin/kmsgwatch-scsi-error")
    try:
        log = KernelLog()
        r = run(args, ["-f", standin("scsi.kmsg", ["3,1,1,-;end_request: critical target error\n",
                                                   "3,2,2,-;avc: denied next\n"])])
        notes = log.texts()
        t.equal(r.returncode, 1, "missing handler: watcher goes on")
        t.check(note("scsi-error", "continue to watch log") in notes, "note without handler", notes)
        t.equal(handlers(), ["/bin/kmsgwatch-avc|0"], "next record handled")
    finally:
        install_handler("scsi-error")


def unreadable_device():
    # Reading /proc/self/pagemap with a count that is not a multiple of 8
    # fails with EINVAL, as a record device that cannot be read does.
    return "/proc/self/pagemap"


def test_log_file_fallback(args):
    reset()
    logfile = os.path.join(scratch, "kern.log")
    with open(logfile, "w") as f:
        f.write("2026-12-08T04:00:00 kernel: [   12.345678] avc: denied { write } e2e-file\n"
                "Dec  8 kernel: Out of memory: second word is not kernel:\n"
                "ts notkernel: Internal error: Oops: skipped\n"
                # A NUL inside a line hides neither its end nor the next line.
                "ts kernel: [0.5] nul\0inside\n"
                "ts kernel: [1.0] FILE-MARK here\n")
    r = run(args, ["-f", unreadable_device(), "-F", logfile, "-t", "FILE-MARK"])
    t.equal(r.returncode, 0, "fallback test mode: found")
    t.equal(handlers(), ["/bin/kmsgwatch-avc|0", "/bin/kmsgwatch-test|0"], "fallback handlers")
    t.equal(r.stderr, "kmsgwatch: Got AVC violation: avc: denied { write } e2e-file\n"
            "kmsgwatch: Found test string\n", "fallback messages")
    reset()
    r = run(args, ["-f", unreadable_device(), "-F", logfile, "-t", "FILE-ABSENT"])
    t.equal(r.returncode, 1, "fallback test mode without the text: status 1")
    missing = os.path.join(scratch, "none.log")
    r = run(args, ["-f", unreadable_device(), "-F", missing, "-t", "x"])
    t.equal((r.returncode, r.stderr), (1, "kmsgwatch: inotify_add_watch(): No such file or directory\n"
                                          f"kmsgwatch: cannot open {missing}: No such file or directory\n"),
            "fallback file missing: why, status 1")

    # Following the file as it grows.
    reset()
    proc = subprocess.Popen(args.emulator + [args.kmsgwatch, "-O", "-f", unreadable_device(), "-F", logfile],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env={"PATH": PATH})

    def wait_for(count):
        deadline = time.time() + 20
        while time.time() < deadline and len(handlers()) < count:
            time.sleep(0.05)
        return handlers()

    def append(text):
        with open(logfile, "a") as f:
            f.write(text)

    try:
        t.equal(wait_for(1), ["/bin/kmsgwatch-avc|0"], "follow: existing lines")
        append("ts kernel: [2.0] arm-smmu x: Unhandled context fault\n")
        t.equal(wait_for(2)[1:], ["/bin/kmsgwatch-smmu|0"], "follow: appended line")
        # An overlong line whose tail looks like a line of its own.
        append("ts kernel: " + "x" * (2047 - 11) + "ts kernel: avc: denied injected\n")
        # A line written in two parts.
        append("ts kernel: [4.0] Out of mem")
        time.sleep(0.5)
        append("ory: Killed process 7 (split)\n")
        t.equal(wait_for(3)[2:], ["/bin/kmsgwatch-oom|0"], "follow: split line joined")
        time.sleep(0.3)
        t.equal(len(handlers()), 3, "follow: tail of an overlong line is not a line")
    finally:
        proc.kill()
        _, err = proc.communicate()
    t.check("Process out of memory\n" in err and "AVC violation: avc: denied injected" not in err,
            "follow: messages", err)


def test_restart_paths(args):
    reset()
    with open("/run/exit_wdt", "w") as f:
        f.write("old")
    after = "3,9,9,-;avc: denied after the restart request\n"

    def nested(name, records, options=()):
        log = KernelLog()
        r = run_nested(args, list(options) + ["-f", standin(name, records)])
        return r, log.texts()

    r, notes = nested("hung.kmsg", ["3,1,1,-;\"echo 0 > /proc/sys/kernel/hung_task_timeout_secs\" "
                                    "disables this message.\n", after])
    t.equal(r.stderr, "kmsgwatch: Got hung task\nkmsgwatch: reboot unit\n", "hung task: hard restart")
    t.equal(nsutil.read_text("/run/exit_wdt"), "", "hung task marker truncated")
    t.equal(handlers(), ["/bin/kmsgwatch-hung-task|0"], "hung task handler, nothing after")
    t.check(note("hung-task", "reboot unit") in notes, "hung task note", notes)
    t.check(r.returncode in (-signal.SIGHUP, 128 + signal.SIGHUP), "namespace ended by the restart",
            r.returncode)
    t.equal(nsutil.read_text(os.path.join(scratch, "reboot.log")), None, "no soft reboot for a hard restart")

    for incident, text in (("oops", "11,1,1,-;Internal error: Oops: 17 [#1]\n"),
                           ("null-pointer", "3,1,1,-;Unable to handle kernel NULL pointer dereference at 0\n")):
        reset()
        r, notes = nested(incident + ".kmsg", [text, after])
        t.check(r.stderr.endswith("kmsgwatch: reboot unit\n") and "soft reboot" not in r.stderr,
                f"{incident}: hard restart", r.stderr)
        t.equal(handlers(), [f"/bin/kmsgwatch-{incident}|0"], f"{incident} handler")
        t.check(note(incident, "reboot unit") in notes, f"{incident} note", notes)
        t.equal(nsutil.read_text(os.path.join(scratch, "reboot.log")), None, f"{incident}: no reboot command")

    reset()
    r, notes = nested("oom.kmsg", ["3,1,1,-;Out of memory: Killed process 1\n", after])
    t.equal(r.stderr, "kmsgwatch: Process out of memory\nkmsgwatch: reboot unit\n"
            "kmsgwatch: soft reboot failed\n", "oom: soft reboot first")
    t.equal(nsutil.read_text(os.path.join(scratch, "reboot.log")), "reboot|0|\n", "reboot command without arguments")
    t.check(note("oom", "reboot unit") in notes, "oom note", notes)
    t.check(r.returncode in (-signal.SIGHUP, 128 + signal.SIGHUP), "namespace ended after the soft reboot",
            r.returncode)


def test_child_time_limits(args):
    """A handler that never ends (it ignores SIGTERM and leaves a child of its
    own behind) is stopped at the -T limit, and the oops after it still
    restarts the unit; a reboot command that never returns is stopped at the
    end of the pause, and the restart request follows."""
    reset()
    child_pid = os.path.join(scratch, "avc-child.pid")
    nsutil.write_script("/usr/bin/kmsgwatch-avc",
                        f"#!/bin/sh\ntrap '' TERM\nsleep 1000 &\necho $! > {child_pid}\n"
                        f"echo \"$0|$#\" >> {scratch}/handlers.log\nwait\n")
    # The oops handler tells whether the avc handler's child still runs.
    nsutil.write_script("/usr/bin/kmsgwatch-oops",
                        f"#!/bin/sh\nstate=$(sed 's/.*) //' /proc/$(cat {child_pid})/stat 2>/dev/null | cut -c1)\n"
                        f"echo \"$0|${{state:-gone}}\" >> {scratch}/handlers.log\n")
    try:
        log = KernelLog()
        started = time.monotonic()
        r = run_nested(args, ["-T", "2", "-f", standin("hang.kmsg", ["6,1,1,-;avc: denied hangs\n",
                                                                     "3,2,2,-;Internal error: Oops: 17 [#1]\n"])],
                       timeout=10)
        took = time.monotonic() - started
        notes = log.texts()
        t.equal(r.stderr, "kmsgwatch: Got AVC violation: avc: denied hangs\n"
                "kmsgwatch: handler /bin/kmsgwatch-avc timed out after 2 s\n"
                "kmsgwatch: Got oops\nkmsgwatch: reboot unit\n", "hanging handler: stopped, oops acted on")
        t.check(handlers()[1:] in (["/bin/kmsgwatch-oops|Z"], ["/bin/kmsgwatch-oops|gone"]),
                "the handler's own child stopped with it", handlers())
        t.check(note("avc", "continue to watch log") in notes, "note after the timeout", notes)
        t.check(took >= 4, "SIGKILL only after the 2 s grace", took)
    except subprocess.TimeoutExpired:
        t.check(False, "hanging handler: no restart within 10 s")
    finally:
        install_handler("avc")
        install_handler("oops")

    reset()
    install_reboot("exec sleep 1000")
    try:
        r = run_nested(args, ["-f", standin("oom-hang.kmsg", ["3,1,1,-;Out of memory: Killed process 1\n"])],
                       timeout=10)
        t.equal(r.stderr, "kmsgwatch: Process out of memory\nkmsgwatch: reboot unit\n"
                "kmsgwatch: reboot timed out after 60 s\nkmsgwatch: soft reboot failed\n",
                "hanging reboot command: stopped after the pause")
        t.equal(nsutil.read_text(os.path.join(scratch, "reboot.log")), "reboot|0|\n", "reboot command ran")
        t.check(r.returncode in (-signal.SIGHUP, 128 + signal.SIGHUP), "restart request reached", r.returncode)
    except subprocess.TimeoutExpired:
        t.check(False, "hanging reboot command: no restart request within 10 s")
    finally:
        install_reboot("exit 1")


def test_storm(args):
    """10,000 AVC denials, 300 records lost in between, then an oops: a few
    avc reports, the rest counted; the oops acted on at once."""
    reset()
    nsutil.write_script("/usr/bin/kmsgwatch-oops",
                        f"#!/bin/sh\ndate +%s.%N > {scratch}/oops-time\necho \"$0|$#\" >> {scratch}/handlers.log\n")
    records = [f"6,{i + (300 if i > 5000 else 0)},{i},-;audit: avc: denied {{ read }} storm {i}\n"
               for i in range(1, 10001)]
    records.append("3,10301,10301,-;Internal error: Oops: 17 [#1]\n")
    # On a tmpfs of its own: a long stand-in on the disk of a loaded machine
    # took many seconds to remove.
    os.makedirs(os.path.join(scratch, "storm"), exist_ok=True)
    nsutil.tmpfs(os.path.join(scratch, "storm"))
    source = standin("storm/storm.kmsg", records)
    log = KernelLog()
    proc = subprocess.Popen(["unshare", "--kill-child", "--pid", "--fork", "--mount-proc"] + args.emulator +
                            [args.fastclock, "-f", source], stderr=subprocess.PIPE, text=True,
                            env={"PATH": PATH})
    oops_read = None
    err = []
    try:
        for line in proc.stderr:  # ends with the namespace
            err.append(line)
            if line == "kmsgwatch: Got oops\n":
                oops_read = time.time()
    finally:
        proc.kill()
        proc.wait()
        install_handler("oops")
    nsutil.umount(os.path.join(scratch, "storm"))
    notes = log.texts()
    avc_runs = handlers().count("/bin/kmsgwatch-avc|0")
    held = [line for line in err if "were not handed to the handler" in line]
    t.check(0 < avc_runs <= 20, "storm: a few avc handler runs", avc_runs)
    t.equal(notes.count(note("avc", "continue to watch log")), avc_runs, "storm: one note per handler run")
    if avc_runs == 10:
        t.equal(held, ["kmsgwatch: 9990 avc incidents in 10 s were not handed to the handler (rate limit)\n"],
                "storm: the summary line")
    t.equal(avc_runs + sum(int(line.split()[1]) for line in held), 10000, "storm: every avc counted")
    t.check("kmsgwatch: 300 kernel log records lost (overwritten before they were read)\n" in err and
            nsutil.read_text("/run/metrics/kmsg_lost") == "300\n", "storm: the lost records line and count")
    oops_acted = nsutil.read_text(os.path.join(scratch, "oops-time"))
    t.check(oops_read is not None and oops_acted is not None and float(oops_acted) - oops_read < 1,
            "storm: the oops acted on within 1 s of being read", (oops_read, oops_acted))
    t.check(note("oops", "reboot unit") in notes and err[-1:] == ["kmsgwatch: reboot unit\n"],
            "storm: the oops restarts the unit", err[-3:])


def main():
    global scratch
    args = scripttest.arguments("--kmsgwatch", "--fastclock", options=("--project-version",), checks=True)
    scratch = nsutil.enter_namespace()
    setup()
    for test in (test_command_line, test_start_guard, test_default_device, test_rules_on_standin,
                 test_handler_link_start_guard, test_missing_handler, test_log_file_fallback,
                 test_restart_paths, test_child_time_limits, test_storm):
        print(f"--- {test.__name__}", flush=True)
        test(args)
    t.finish()


if __name__ == "__main__":
    main()
