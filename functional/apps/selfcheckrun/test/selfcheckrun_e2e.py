#!/usr/bin/env python3
"""End-to-end tests of selfcheckrun, run as PID 1 of a private PID + mount
namespace: /etc is overlaid (so that /etc/selfcheckrun.d can be made), /run
and /tmp are tmpfs, a scratch directory stands in for /var/log, and /dev is
overlaid so that a socket at /dev/log receives the system log messages."""

import os
import signal
import socket
import subprocess
import time

import nsutil
import scripttest

TESTDIR = "/etc/selfcheckrun.d"
MARKER = "/tmp/install-wait"
RESULT = "/run/selfcheckrun.xml"
USAGE = "usage: {0} [-s sleep-in-seconds] [-f output-file] [-i postpone-in-seconds]\n"

scratch = ""
syslog_socket = None
t = scripttest.Failures()


def setup(args):
    global syslog_socket
    nsutil.overlay("/etc", scratch, "etc")
    nsutil.overlay("/dev", scratch, "dev")
    keep = [scratch, os.path.dirname(os.path.abspath(args.selfcheckrun)),
            os.path.dirname(os.path.abspath(__file__))]
    nsutil.tmpfs("/run", keep)
    nsutil.tmpfs("/tmp", keep)
    varlog = os.path.join(scratch, "varlog")
    os.mkdir(varlog)
    nsutil.bind(varlog, "/var/log")
    syslog_socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    syslog_socket.bind("/dev/log")
    syslog_socket.setblocking(False)
    os.chdir(os.path.join(scratch))


def syslog_messages():
    out = []
    while True:
        try:
            out.append(syslog_socket.recv(4096).decode(errors="replace"))
        except BlockingIOError:
            return out


def reset(programs=None, keep_copy=False, keep_temporaries=False):
    """A fresh test directory holding the given {name: (body, mode)}."""
    subprocess.run(["rm", "-rf", TESTDIR, MARKER], check=True)
    if not keep_copy:
        subprocess.run(["rm", "-f", "/var/log/selfcheckrun.xml"], check=True)
    if not keep_temporaries:
        for f in run_files():
            os.remove(os.path.join("/run", f))
    syslog_messages()
    if programs is not None:
        os.mkdir(TESTDIR)
        for name, (body, mode) in programs.items():
            if body is None:
                os.mkdir(os.path.join(TESTDIR, name))
            else:
                nsutil.write_script(os.path.join(TESTDIR, name), body, mode)


def run_files():
    """The regular files in /run (mount(8) keeps a directory of its own there)."""
    return sorted(f for f in os.listdir("/run") if os.path.isfile(os.path.join("/run", f)))


class Runner:
    """selfcheckrun started in the background, its standard error in a file."""

    def __init__(self, args, options):
        self.errpath = os.path.join(scratch, "stderr.txt")
        self.errfile = open(self.errpath, "w")
        self.proc = subprocess.Popen(args.emulator + [args.selfcheckrun] + options, stdout=subprocess.DEVNULL,
                                     stderr=self.errfile)

    def stderr(self):
        return nsutil.read_text(self.errpath)

    def wait_until(self, condition, seconds=20):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if condition():
                return True
            if self.proc.poll() is not None:
                return condition()
            time.sleep(0.02)
        return False

    def stop_with_marker(self):
        with open(MARKER, "w"):
            pass
        try:
            status = self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            status = "timeout"
        self.errfile.close()
        return status


def run(args, options, timeout=20):
    return subprocess.run(args.emulator + [args.selfcheckrun] + options, capture_output=True, text=True,
                          timeout=timeout)


def test_command_line(args):
    r = run(args, ["-h"])
    t.equal((r.returncode, r.stderr), (0, USAGE.format(args.selfcheckrun)), "-h: usage, status 0")
    r = run(args, ["-x"])
    t.equal((r.returncode, r.stderr.splitlines(True)[-1]), (1, USAGE.format(args.selfcheckrun)),
            "unknown option: usage, status 1")
    r = run(args, ["--version", "-s", "x"])
    t.equal((r.returncode, r.stdout), (0, f"selfcheckrun {args.project_version}\n"),
            "--version: name and version, status 0")
    for bad in (["-s", "abc"], ["-s", "-5"], ["-s", "5x"], ["-i", "2.5"], ["-i", ""]):
        r = run(args, bad)
        t.equal((r.returncode, r.stderr), (1, USAGE.format(args.selfcheckrun)), f"{bad}: usage, status 1")
    reset()
    with open(MARKER, "w"):
        pass
    too_long = "/run/" + "a" * 1006  # "cp " + 1011 characters + " /var/log/" needs 1025 bytes
    r = run(args, ["-i", "0", "-f", too_long])
    t.equal((r.returncode, r.stderr),
            (1, f"selfcheckrun: result path too long for the copy to /var/log: {too_long}\n"),
            "result path too long: refused at start")
    r = run(args, ["-i", "-3", "-f", "/run/" + "a" * 1005])
    t.equal((r.returncode, r.stderr), (0, ""), "longest result path and a negative delay accepted")
    # Publishing would rename the temporary file over these.
    os.symlink("/dev/null", "/run/link.xml")
    for path in ("/dev/null", "/run", "/run/link.xml"):
        r = run(args, ["-i", "0", "-f", path])
        t.equal((r.returncode, r.stderr), (1, f"selfcheckrun: result path is not a regular file: {path}\n"),
                f"result path {path} refused at start")
    t.check(os.path.exists("/dev/null") and not os.path.isfile("/dev/null"), "/dev/null left alone")
    t.equal(os.readlink("/run/link.xml"), "/dev/null", "link left alone")
    os.remove("/run/link.xml")


def test_install_wait_at_start(args):
    reset({"count": (f"#!/bin/sh\necho run >> {scratch}/runs.txt\n", 0o755)})
    with open(MARKER, "w"):
        pass
    started = time.time()
    r = run(args, ["-i", "1", "-s", "0"])
    t.equal(r.returncode, 0, "marker present: status 0")
    t.check(time.time() - started >= 1.0, "the start delay comes first")
    t.equal((nsutil.read_text(RESULT), nsutil.read_text(os.path.join(scratch, "runs.txt"))), (None, None), "no run at all")
    messages = syslog_messages()
    t.check(any(m.startswith("<30>") and m.endswith(" selfcheckrun: selfcheckrun: Started") for m in messages),
            "started in the system log as selfcheckrun, daemon.info", messages)


def test_empty_directory(args):
    reset({})
    runner = Runner(args, ["-i", "0", "-s", "1"])
    runner.wait_until(lambda: os.path.exists(RESULT) and os.path.exists("/var/log/selfcheckrun.xml"))
    t.equal(runner.stop_with_marker(), 0, "marker during the pause: status 0")
    t.equal(nsutil.read_text(RESULT), "<tests>\n</tests>\n", "empty directory: framing only")
    t.equal(nsutil.read_text("/var/log/selfcheckrun.xml"), "<tests>\n</tests>\n", "copy in /var/log")
    t.equal(run_files(), ["selfcheckrun.xml"], "no temporary file left")
    t.equal(runner.stderr(), "", "no messages")


def test_programs(args):
    reset({
        "two lines": ("#!/bin/sh\necho '<test name=\"a\"/>'\necho 'second line'\nexit 3\n", 0o755),
        "semi;touch pwned": ("#!/bin/sh\necho '<semi/>'\n", 0o755),
        "quote'd": ("#!/bin/sh\necho \"<quote arg0='$0' args='$#'/>\"\n", 0o755),
        "semi": ("#!/bin/sh\necho '<decoy/>'\n", 0o755),
        "noexec": ("#!/bin/sh\necho '<never/>'\n", 0o644),
        "sub": (None, 0),
        "killed": ("#!/bin/sh\necho partial\nkill -9 $$\n", 0o755),
        "plain": ("echo '<plain/>'\n", 0o755),
    })
    outputs = {
        "two lines": '<test name="a"/>\nsecond line\n',
        "semi;touch pwned": "<semi/>\n",
        "quote'd": f"<quote arg0='{TESTDIR}/quote'd' args='0'/>\n",
        "semi": "<decoy/>\n",
        "killed": "partial\n",
        "plain": "<plain/>\n",
    }
    order = [n for n in os.listdir(TESTDIR) if n in outputs]
    expected = "<tests>\n" + "".join(outputs[n] for n in order) + "</tests>\n"
    runner = Runner(args, ["-i", "0", "-s", "1"])
    runner.wait_until(lambda: os.path.exists(RESULT))
    t.equal(runner.stop_with_marker(), 0, "status 0")
    t.equal(nsutil.read_text(RESULT), expected, "outputs in directory order, unchanged")
    failed = [f"selfcheckrun: Failed to run {TESTDIR}/two lines\n", f"selfcheckrun: Failed to run {TESTDIR}/killed\n"]
    err = runner.stderr()
    for line in failed + [f"selfcheckrun: {TESTDIR}/noexec is not executable\n"]:
        t.check(line in err, f"message {line!r}", err)
    t.equal(len(err.splitlines()), 3, "no other messages (the subdirectory is skipped silently)")
    messages = syslog_messages()
    for line in failed:
        t.check(any(m.startswith("<30>") and m.endswith(" selfcheckrun: " + line.strip()) for m in messages),
                f"system log {line.strip()!r}", messages)
    t.check(not os.path.exists("pwned"), "a file name is never shell text")


def test_missing_directory(args):
    reset()
    with open(RESULT, "w") as f:
        f.write("previous document\n")
    runner = Runner(args, ["-i", "0", "-s", "1"])
    runner.wait_until(lambda: "Failed to run tests" in (runner.stderr() or ""))
    t.equal(runner.stop_with_marker(), 0, "status 0")
    t.equal(nsutil.read_text(RESULT), "previous document\n", "previous result kept")
    t.check((runner.stderr() or "").startswith(f"selfcheckrun: cannot open {TESTDIR}: No such file or directory\n"
                                               "selfcheckrun: Failed to run tests\n"), "failed run reported with why",
            runner.stderr())
    t.equal(run_files(), ["selfcheckrun.xml"], "temporary file deleted")


def test_marker_during_pause(args):
    reset({"count": (f"#!/bin/sh\necho run >> {scratch}/runs.txt\necho '<c/>'\n", 0o755)})
    if os.path.exists(os.path.join(scratch, "runs.txt")):
        os.remove(os.path.join(scratch, "runs.txt"))
    runner = Runner(args, ["-i", "0", "-s", "1"])
    runner.wait_until(lambda: os.path.exists(RESULT))
    t.equal(runner.stop_with_marker(), 0, "marker created during the pause: status 0")
    t.equal(nsutil.read_text(os.path.join(scratch, "runs.txt")), "run\n", "no run after the marker")


def test_comma_path(args):
    reset({})
    path = "/run/result,v1 x.xml"
    runner = Runner(args, ["-i", "0", "-s", "1", "-f", path])
    runner.wait_until(lambda: os.path.exists("/var/log/result,v1 x.xml"))
    t.equal(runner.stop_with_marker(), 0, "status 0")
    t.equal(nsutil.read_text(path), "<tests>\n</tests>\n", "comma path published")
    t.equal(nsutil.read_text("/var/log/result,v1 x.xml"), "<tests>\n</tests>\n", "and copied")
    t.equal(runner.stderr(), "", "no messages")
    os.remove(path)
    os.remove("/var/log/result,v1 x.xml")


def test_full_var_log_keeps_the_old_copy(args):
    """/var/log fills up: the old copy stays byte for byte, the message names
    the copy and why, the result is published all the same."""
    old = "<tests>\n<old/>\n</tests>\n"
    nsutil.mount("-t", "tmpfs", "-o", "size=12k", "tmpfs", "/var/log")
    try:
        with open("/var/log/selfcheckrun.xml", "w") as f:
            f.write(old)
        line = "<x>" + "y" * 92 + "</x>"
        reset({"big": (f"#!/bin/sh\nfor i in $(seq 1 200); do echo '{line}'; done\n", 0o755)}, keep_copy=True)
        runner = Runner(args, ["-i", "0", "-s", "2"])
        runner.wait_until(lambda: "Copying results failed" in (runner.stderr() or ""))
        t.equal(runner.stop_with_marker(), 0, "status 0")
        t.equal(nsutil.read_text(RESULT), "<tests>\n" + (line + "\n") * 200 + "</tests>\n", "new result published")
        t.equal(nsutil.read_text("/var/log/selfcheckrun.xml"), old, "old copy unchanged")
        t.equal(runner.stderr(), "selfcheckrun: Copying results failed\n"
                "selfcheckrun: /var/log/selfcheckrun.xml: No space left on device\n", "copy failure: path and reason")
        t.equal(os.listdir("/var/log"), ["selfcheckrun.xml"], "no temporary copy left")
    finally:
        nsutil.umount("/var/log")


def test_killed_runs_leave_nothing_behind(args):
    """A runner killed during a run leaves its temporary files; the next one
    removes them (and those of its copy) at start, and nothing else."""
    reset({"sleeper": (f"#!/bin/sh\necho $$ > {scratch}/sleeper.pid\nexec sleep 30\n", 0o755)})
    pidfile = os.path.join(scratch, "sleeper.pid")
    if os.path.exists(pidfile):
        os.remove(pidfile)
    runner = Runner(args, ["-i", "0", "-s", "1"])
    runner.wait_until(lambda: bool(nsutil.read_text(pidfile)))
    os.killpg(runner.proc.pid, signal.SIGKILL)
    runner.proc.wait()
    runner.errfile.close()
    left = f"selfcheckrun.xml.{runner.proc.pid}"
    t.equal(run_files(), [left], "the killed run's temporary file")
    foreign = ["/run/selfcheckrun.xml.bak", "/run/selfcheckrun.xml.1", "/var/log/other.99999"]
    for path in foreign + ["/var/log/selfcheckrun.xml.99999"]:
        with open(path, "w") as f:
            f.write("x")
    reset({}, keep_temporaries=True)
    runner = Runner(args, ["-i", "0", "-s", "1"])
    runner.wait_until(lambda: os.path.exists("/var/log/selfcheckrun.xml"))
    t.equal(runner.stop_with_marker(), 0, "status 0")
    t.equal(sorted(run_files() + os.listdir("/var/log")),
            sorted(["selfcheckrun.xml", "selfcheckrun.xml.bak", "selfcheckrun.xml.1", "other.99999",
                    "selfcheckrun.xml"]), "stale temporaries removed, other files kept")
    for path in foreign:
        os.remove(path)


def test_programs_others_can_change_are_not_run_as_root(args):
    marker = os.path.join(scratch, "untrusted-ran")
    body = f"#!/bin/sh\necho ran >> {marker}\necho '<untrusted/>'\n"
    outside = os.path.join(scratch, "world-writable")
    nsutil.write_script(outside, body, 0o777)
    reset({"world": (body, 0o757), "group": (body, 0o775), "user": (body, 0o755),
           "good": ("#!/bin/sh\necho '<good/>'\n", 0o755)})
    os.chown(os.path.join(TESTDIR, "user"), 1000, 1000)
    os.symlink(outside, os.path.join(TESTDIR, "link"))
    if os.path.exists(marker):
        os.remove(marker)
    runner = Runner(args, ["-i", "0", "-s", "1"])
    runner.wait_until(lambda: os.path.exists(RESULT))
    # Another user's marker is reported and ignored: a second run follows.
    with open(MARKER + ".new", "w"):
        pass
    os.chown(MARKER + ".new", 1000, 1000)
    os.rename(MARKER + ".new", MARKER)
    os.remove(RESULT)
    runner.wait_until(lambda: os.path.exists(RESULT))
    t.check(runner.proc.poll() is None, "another user's marker does not stop the runner")
    os.remove(MARKER)
    t.equal(runner.stop_with_marker(), 0, "root's marker stops it: status 0")
    t.equal(nsutil.read_text(RESULT), "<tests>\n<good/>\n</tests>\n", "only the trusted program ran")
    t.check(not os.path.exists(marker), "no untrusted program ran")
    why = {"world": "writable by group or others", "group": "writable by group or others",
           "user": "not owned by root",
           "link": f"its target {os.path.realpath(outside)} is writable by group or others"}
    messages = syslog_messages()
    err = runner.stderr()
    for name, reason in why.items():
        line = f"selfcheckrun: Not running {TESTDIR}/{name}: {reason}"
        t.check(err.count(line + "\n") >= 2, f"{name}: named on standard error in each run", err)
        t.check(any(m.startswith("<30>") and m.endswith(" selfcheckrun: " + line) for m in messages),
                f"{name}: named in the system log", messages)
    ignored = f"selfcheckrun: ignoring {MARKER}: owned by user 1000\n"
    t.equal(err.count(ignored), 1, "another user's marker reported once")


def test_ending_signals(args):
    """SIGTERM or SIGINT during a run: the running test program ends too, the
    temporary file is removed, and the runner ends by that signal. The test
    program is signalled once it is sleep itself: a shell that receives
    SIGINT while it starts a command may let that command run on."""
    for signum in (signal.SIGTERM, signal.SIGINT):
        reset({"sleeper": (f"#!/bin/sh\necho $$ > {scratch}/sleeper.pid\nexec sleep 30\n", 0o755)})
        pidfile = os.path.join(scratch, "sleeper.pid")
        if os.path.exists(pidfile):
            os.remove(pidfile)
        runner = Runner(args, ["-i", "0", "-s", "1"])
        runner.wait_until(lambda: bool(nsutil.read_text(pidfile)))
        sleeper = int(nsutil.read_text(pidfile))
        runner.wait_until(lambda: nsutil.read_text(f"/proc/{sleeper}/comm") == "sleep\n")
        temporary = f"selfcheckrun.xml.{runner.proc.pid}"
        t.check(temporary in run_files(), "a temporary file during the run", run_files())
        runner.proc.send_signal(signum)
        try:
            status = runner.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            runner.proc.kill()
            status = "timeout"
        t.equal(status, -signum, f"runner ended by {signum.name}")
        t.equal(run_files(), [], f"{signum.name}: no temporary file left")

        def ended(pid):
            stat = nsutil.read_text(f"/proc/{pid}/stat")
            return stat is None or stat.rsplit(")", 1)[1].split()[0] in ("Z", "X")

        deadline = time.time() + 10
        while time.time() < deadline and not ended(sleeper):
            time.sleep(0.05)
        t.check(ended(sleeper), f"{signum.name}: the running test program ended with it")


def test_reader_never_sees_partial_document(args):
    line = "<x>" + "y" * 60 + "</x>\n"
    reset({"big": (f"#!/bin/sh\nfor i in $(seq 1 2000); do echo '{line.strip()}'; done\n", 0o755)})
    expected = "<tests>\n" + line * 2000 + "</tests>\n"
    runner = Runner(args, ["-i", "0", "-s", "0"])
    reads = partial = 0
    inodes = set()
    # Two seconds of reading, longer on a slow or loaded machine (the test
    # program runs under the emulator) until a second document came.
    start = time.time()
    while time.time() < start + 2 or (len(inodes) < 2 and time.time() < start + 30):
        try:
            with open(RESULT) as f:
                inodes.add(os.fstat(f.fileno()).st_ino)
                text = f.read()
        except FileNotFoundError:
            continue
        reads += 1
        if text != expected:
            partial += 1
    t.equal(runner.stop_with_marker(), 0, "status 0")
    print(f"{reads} reads of {len(inodes)} published documents", flush=True)
    t.equal(partial, 0, f"{reads} reads, none partial")
    t.check(len(inodes) >= 2, "several documents were published while reading", inodes)


def test_lost_output_is_never_published(args):
    """The result file system is full when a test's output is written; a
    later test frees the space again, so only the lost pieces of that
    output were not written. That document must not be published."""
    small = "/run/small"
    os.makedirs(small, exist_ok=True)
    nsutil.mount("-t", "tmpfs", "-o", "size=64k", "tmpfs", small)
    try:
        filler = os.path.join(small, "filler")
        with open(filler, "wb") as f:
            f.write(b"\0" * (56 * 1024))  # 8 KiB left for the result
        result = os.path.join(small, "result.xml")
        with open(result, "w") as f:
            f.write("previous document\n")
        # The first program prints 48 KiB (the runner writes it when it
        # ends); the second then frees the space.
        reset({"p1": ("", 0o755), "p2": ("", 0o755)})
        first, second = os.listdir(TESTDIR)  # their order stays as long as they do
        for name, body in ((first, "#!/bin/sh\nfor i in $(seq 1 48); do printf '<x>%01020d</x>\\n' 0; done\n"),
                           (second, f"#!/bin/sh\nrm {filler}\n")):
            with open(os.path.join(TESTDIR, name), "w") as f:
                f.write(body)
        # The pause is long enough for the marker to stop the runner before
        # a second run, which would succeed.
        runner = Runner(args, ["-i", "0", "-s", "2", "-f", result])
        runner.wait_until(lambda: "Failed to run tests" in (runner.stderr() or ""))
        t.equal(runner.stop_with_marker(), 0, "status 0")
        published = nsutil.read_text(result)
        t.check(published == "previous document\n", "incomplete document not published",
                f"{len(published or '')} characters published")
        t.check((runner.stderr() or "").startswith(
            "selfcheckrun: Writing tempfile failed: No space left on device\n"
            "selfcheckrun: Failed to run tests\n"), "write failure reported", runner.stderr())
        t.equal(sorted(os.listdir(small)), ["result.xml"], "temporary file deleted")
    finally:
        nsutil.umount(small)


def test_time_limit(args):
    """A test program that never ends is ended at the time limit (its group
    SIGTERMed): the document comes on time, with the other programs' output
    and the whole lines the stuck one printed."""
    reset({"a-stuck": ("#!/bin/sh\necho '<before/>'\nprintf '<cut'\nexec sleep 1000\n", 0o755),
           "b-other": ("#!/bin/sh\necho '<other/>'\n", 0o755)})
    started = time.time()
    runner = Runner(args, ["-i", "0", "-s", "1", "-T", "3"])
    runner.wait_until(lambda: os.path.exists(RESULT), seconds=6)
    waited = time.time() - started
    t.check(waited < 6, "a document within 6 s", f"{waited:.1f} s")
    t.equal(runner.stop_with_marker(), 0, "status 0")
    outputs = {"a-stuck": "<before/>\n", "b-other": "<other/>\n"}
    t.equal(nsutil.read_text(RESULT), "<tests>\n" + "".join(outputs[n] for n in os.listdir(TESTDIR)) + "</tests>\n",
            "the other program's output and the stuck one's whole lines")
    err = runner.stderr() or ""
    messages = syslog_messages()
    for line in (f"selfcheckrun: {TESTDIR}/a-stuck timed out after 3 s", f"selfcheckrun: Failed to run {TESTDIR}/a-stuck"):
        t.check(line + "\n" in err, f"message {line!r}", err)
        t.check(any(m.endswith(" selfcheckrun: " + line) for m in messages), f"system log {line!r}", messages)


def test_output_limit(args):
    """`yes` as a test program: cut at the output limit, the run completes,
    and the result's file system never holds more than the old document and
    the new one (the output is never gathered there)."""
    small = "/run/limited"
    os.makedirs(small, exist_ok=True)
    nsutil.mount("-t", "tmpfs", "-o", "size=16m", "tmpfs", small)
    try:
        result = os.path.join(small, "result.xml")
        old = "<tests>\n" + "<old/>\n" * 20000 + "</tests>\n"
        with open(result, "w") as f:
            f.write(old)
        reset({"a-yes": ("#!/bin/sh\nexec yes\n", 0o755), "b-other": ("#!/bin/sh\necho '<other/>'\n", 0o755)})
        outputs = {"a-yes": "y\n" * 524288, "b-other": "<other/>\n"}
        expected = "<tests>\n" + "".join(outputs[n] for n in os.listdir(TESTDIR)) + "</tests>\n"

        def used():
            info = os.statvfs(small)
            return (info.f_blocks - info.f_bfree) * info.f_frsize

        base = used() - len(old)
        peak = 0
        runner = Runner(args, ["-i", "0", "-s", "2", "-f", result])
        deadline = time.time() + 30
        while time.time() < deadline and nsutil.read_text(result) == old:
            peak = max(peak, used())
            time.sleep(0.002)
        t.equal(runner.stop_with_marker(), 0, "status 0")
        text = nsutil.read_text(result)
        t.check(text == expected, "the document holds the output up to the limit and the rest",
                f"{len(text or '')} characters")
        bound = base + len(old) + len(expected) + 64 * 1024
        t.check(peak <= bound, "the file system never held more than the old and the new document",
                f"peak {peak}, bound {bound}")
        line = f"selfcheckrun: {TESTDIR}/a-yes printed more than 1048576 bytes; the rest was dropped\n"
        t.check(line in (runner.stderr() or ""), "the cut is reported", runner.stderr())
    finally:
        nsutil.umount(small)


def main():
    global scratch
    args = scripttest.arguments("--selfcheckrun", options=("--project-version",), checks=True)
    scratch = nsutil.enter_namespace()
    setup(args)
    for test in (test_command_line, test_install_wait_at_start, test_empty_directory, test_programs,
                 test_missing_directory, test_marker_during_pause, test_comma_path, test_ending_signals,
                 test_reader_never_sees_partial_document, test_lost_output_is_never_published,
                 test_full_var_log_keeps_the_old_copy, test_killed_runs_leave_nothing_behind,
                 test_programs_others_can_change_are_not_run_as_root, test_time_limit, test_output_limit):
        print(f"--- {test.__name__}", flush=True)
        test(args)
    t.finish()


if __name__ == "__main__":
    main()
