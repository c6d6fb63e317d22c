#!/usr/bin/env python3
"""What a fleet's monitoring gets from kmsgwatch and selfcheckrun, run as
PID 1 of a private PID + mount namespace: /run, /tmp and /var/log are
tmpfs, /etc and /usr/bin are overlays, /dev/kmsg is a
scratch file. Debian's promtool and node_exporter (unpacked into the build,
on 127.0.0.1) read the metrics files; a stand-in journal socket on
/run/systemd/journal/socket receives the entries."""

import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time
import urllib.request

import fleettools
import nsutil
import scripttest

READ_SIZE = 8191
t = scripttest.Failures()
scratch = ""
tools = ""


def records_file(path, records):
    with open(path, "wb") as f:
        for r in records:
            data = r.encode()
            f.write(data + b"\0" * (READ_SIZE - len(data)))


def setup(args):
    kmsg = os.path.join(scratch, "kmsg-notes")
    open(kmsg, "w").close()
    nsutil.bind(kmsg, "/dev/kmsg")
    if os.stat("/dev/kmsg").st_ino != os.stat(kmsg).st_ino:
        sys.exit("/dev/kmsg is not the stand-in: stopping")
    for d in ("/run", "/tmp", "/var/log"):
        # The checkout may sit under /tmp: the build tree and the source
        # files read later stay reachable.
        sources = [os.path.dirname(os.path.abspath(p)) for p in (args.rules, args.catalog, args.message_ids)]
        nsutil.tmpfs(d, keep=[scratch, args.build] + sources)
    for d in ("/run/metrics", "/run/kmsgwatch", "/run/systemd/journal"):
        os.makedirs(d)
    nsutil.overlay("/usr/bin", scratch, "usr-bin")
    nsutil.overlay("/etc", scratch, "etc")  # changes to /etc stay in the namespace
    shutil.rmtree("/etc/selfcheckrun.d", ignore_errors=True)
    os.mkdir("/etc/selfcheckrun.d")


def prom_findings(path):
    r = subprocess.run([os.path.join(tools, "usr/bin/promtool"), "check", "metrics"], stdin=open(path),
                       capture_output=True, text=True)
    return r.returncode, r.stdout + r.stderr


def samples(text):
    """{series: value} of an exposition text."""
    out = {}
    for line in text.splitlines():
        if line and not line.startswith("#"):
            name, value = line.rsplit(" ", 1)
            out[name] = float(value)
    return out


def kmsgwatch(args, options, env=None, **kw):
    return subprocess.Popen(args.emulator + [args.kmsgwatch] + options, env=env, **kw)


def test_metrics_across_kill_and_node_exporter(args):
    """Counts since boot across a SIGKILL and restart, promtool, 0644 under
    umask 077, node_exporter serving both files while they are replaced."""
    folder = os.path.join(scratch, "textfiles")
    os.mkdir(folder)
    nsutil.write_script("/usr/bin/kmsgwatch-avc",
                        f"#!/bin/sh\necho $$ > {scratch}/avc-started.tmp\n"
                        f"mv {scratch}/avc-started.tmp {scratch}/avc-started\nexec sleep 600\n")
    records = ["6,1,10,-;boot line\n", "3,2,20,-;sched: RT throttling activated\n",
               "3,3,30,-;tegra-mc: csr_nvdisplayr: EMEM address decode error\n", "not a record\n",
               "3,4,40,-;sched: RT throttling activated\n", "5,5,50,-;audit: avc:  denied  { read }\n",
               "3,6,60,-;i2c 1-0050: Inter byte i2c xfer time LIMIT reached\n",
               "3,7,70,-;sched: RT throttling activated\n", "6,8,80,-;last line\n"]
    source = os.path.join(scratch, "records")
    records_file(source, records)
    nsutil.bind(source, "/dev/kmsg")  # the default device: counts kept since boot
    os.umask(0o077)
    try:
        first = kmsgwatch(args, ["-p", folder], stderr=subprocess.DEVNULL)
        deadline = time.time() + 60
        while not os.path.exists(os.path.join(scratch, "avc-started")) and time.time() < deadline:
            time.sleep(0.05)
        first.send_signal(signal.SIGKILL)
        first.wait()
        with open(os.path.join(scratch, "avc-started")) as f:
            os.kill(int(f.read()), signal.SIGKILL)  # the handler that never ends
        first.wait()
        nsutil.write_script("/usr/bin/kmsgwatch-avc", "#!/bin/sh\nexit 0\n")
        second = kmsgwatch(args, ["-p", folder], stderr=subprocess.PIPE, text=True)
        err = second.communicate(timeout=60)[1]
    finally:
        nsutil.umount("/dev/kmsg")
        os.umask(0o022)
    path = os.path.join(folder, "kmsgwatch.prom")
    got = samples(open(path).read())
    expected = {'kmsgwatch_incidents_total{incident="rt_throttle"}': 3,
                'kmsgwatch_incidents_total{incident="csr_nvdisplayr"}': 1,
                'kmsgwatch_incidents_total{incident="i2c_xfer_limit_reached"}': 1,
                'kmsgwatch_incidents_total{incident="avc"}': 1,
                'kmsgwatch_incidents_total{incident="oops"}': 0,
                "kmsgwatch_records_total": 8, "kmsgwatch_parse_errors_total": 1,
                'kmsgwatch_handler_failures_total{incident="avc"}': 0}
    t.equal({k: got.get(k) for k in expected}, expected, "counts since boot across a SIGKILL and restart")
    t.check("Got AVC violation" not in err, "the avc record is not handled again after the restart", err)
    t.equal(os.stat(path).st_mode & 0o777, 0o644, "kmsgwatch.prom mode 0644 under umask 077")
    t.equal(prom_findings(path), (0, ""), "promtool check metrics: kmsgwatch.prom")

    # selfcheckrun replaces its file after every run: many times a second.
    nsutil.write_script("/etc/selfcheckrun.d/pass", "#!/bin/sh\necho '<pass/>'\n")
    nsutil.write_script("/etc/selfcheckrun.d/fail", "#!/bin/sh\nexit 3\n")
    os.umask(0o077)
    runner = subprocess.Popen(args.emulator + [args.selfcheckrun, "-s", "0", "-i", "0", "-f", "/run/r.xml",
                                          "-p", folder], stderr=subprocess.DEVNULL)
    os.umask(0o022)
    port = 19100 + os.getpid() % 500 + 200
    exporter = subprocess.Popen([os.path.join(tools, "usr/bin/prometheus-node-exporter"),
                                 f"--web.listen-address=127.0.0.1:{port}", "--collector.disable-defaults",
                                 "--collector.textfile", f"--collector.textfile.directory={folder}"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # The first run's results before the first scrape (an emulated runner starts slowly).
        deadline = time.time() + 30
        while 'test="fail"' not in (nsutil.read_text(os.path.join(folder, "selfcheckrun.prom")) or "") \
                and time.time() < deadline:
            time.sleep(0.05)
        # Scrapes while the file is replaced under them: at least 40 scrapes
        # across at least 20 replacements (bounded in time; a loaded machine
        # replaces it more slowly, never with an error).
        def runs():
            return samples(open(os.path.join(folder, "selfcheckrun.prom")).read())["selfcheckrun_runs_total"]
        scraped, before = [], runs()
        deadline = time.time() + 60
        while (len(scraped) < 40 or runs() - before < 20) and time.time() < deadline:
            try:
                scraped.append(urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5).read().decode())
            except OSError:
                time.sleep(0.1)
        after = runs()
    finally:
        runner.send_signal(signal.SIGTERM)
        runner.wait()
        exporter.terminate()
        exporter.wait()
    print(f"selfcheckrun.prom replaced {after - before:.0f} times during {len(scraped)} scrapes", flush=True)
    t.check(after - before >= 20, "selfcheckrun.prom replaced while it was scraped", after - before)
    bad = [s for s in scraped if samples(s).get("node_textfile_scrape_error") != 0
           or 'selfcheckrun_test_failed{test="fail"}' not in s or "kmsgwatch_records_total" not in s]
    t.check(len(scraped) >= 40 and not bad, "every scrape: both files, node_textfile_scrape_error 0",
            bad[:1])
    last = samples(scraped[-1]) if scraped else {}
    t.equal((last.get('selfcheckrun_test_failed{test="fail"}'), last.get('selfcheckrun_test_failed{test="pass"}')),
            (1, 0), "the failing test 1, the passing one 0")
    path = os.path.join(folder, "selfcheckrun.prom")
    t.equal(os.stat(path).st_mode & 0o777, 0o644, "selfcheckrun.prom mode 0644 under umask 077")
    t.equal(prom_findings(path), (0, ""), "promtool check metrics: selfcheckrun.prom")


def entries(sock):
    """The datagrams received so far, each as {field: value}."""
    got = []
    while True:
        try:
            data = sock.recv(1 << 20)
        except BlockingIOError:
            return got
        fields = {}
        while data:
            line, sep, rest = data.partition(b"\n")
            if b"=" in line:
                k, v = line.split(b"=", 1)
                fields[k.decode()] = v.decode()
                data = rest
            else:  # KEY\n, 64-bit length, value, \n
                size = struct.unpack("<Q", rest[:8])[0]
                fields[line.decode()] = rest[8:8 + size].decode()
                data = rest[8 + size + 1:]
        got.append(fields)


def test_journal_entries(args):
    """Each message line one datagram with the line as MESSAGE and its
    fields, nothing on standard error; without JOURNAL_STREAM the same lines
    on standard error."""
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    sock.bind("/run/systemd/journal/socket")
    sock.setblocking(False)
    nsutil.write_script("/usr/bin/kmsgwatch-smmu", "#!/bin/sh\nexit 0\n")
    source = os.path.join(scratch, "journal-records")
    # Records 42 to 44 were overwritten before they were read.
    records_file(source, ["3,41,10,-;arm-smmu 1.iommu: Unhandled context fault: fsr=0x402\n", "garbage\n",
                          "4,45,20,-;sched: RT throttling activated\n"])
    for f in os.listdir("/etc/selfcheckrun.d"):
        os.remove(os.path.join("/etc/selfcheckrun.d", f))
    nsutil.write_script("/etc/selfcheckrun.d/fail", "#!/bin/sh\nexit 3\n")
    nsutil.write_script("/etc/selfcheckrun.d/killed", "#!/bin/sh\nkill -9 $$\n")
    nsutil.write_script("/etc/selfcheckrun.d/chatty", "#!/bin/sh\nprintf '%0100d' 0\nexec sleep 60\n")
    programs = {"kmsgwatch": [args.kmsgwatch, "-f", source, "-t", "never"],
                "selfcheckrun": [args.selfcheckrun, "-s", "0", "-i", "0", "-o", "64", "-f", "/run/j.xml"]}
    for name, command in programs.items():
        streams = {}
        for journal in (False, True):
            err = open(os.path.join(scratch, f"{name}-{journal}.err"), "w+b")
            env = dict(os.environ)
            env.pop("JOURNAL_STREAM", None)
            if journal:
                st = os.fstat(err.fileno())
                env["JOURNAL_STREAM"] = f"{st.st_dev}:{st.st_ino}"
            if name == "selfcheckrun":
                p = subprocess.Popen(args.emulator + command, stderr=err, env=env)
                deadline = time.time() + 60
                while not os.path.exists("/run/j.xml") and time.time() < deadline:
                    time.sleep(0.05)
                time.sleep(0.2)
                p.send_signal(signal.SIGTERM)
                p.wait(timeout=60)
                os.remove("/run/j.xml")
            else:
                subprocess.run(args.emulator + command, stderr=err, env=env, timeout=60)
            err.seek(0)
            streams[journal] = err.read().decode()
        got = [e for e in entries(sock) if e.get("SYSLOG_IDENTIFIER") == name]
        t.equal(streams[True], "", f"{name}: nothing on standard error with JOURNAL_STREAM")
        lines = streams[False].splitlines()
        if name == "selfcheckrun":  # runs repeat until the marker: compare the first run
            got, lines = got[:4], lines[:4]
        t.equal([e.get("MESSAGE") for e in got], lines, f"{name}: one entry per line of standard error")
        if name == "kmsgwatch":
            smmu, parse, rt, lost = (got + [{}] * 4)[:4]
            t.equal({k: smmu.get(k) for k in ("PRIORITY", "MESSAGE_ID", "INCIDENT", "ACTION", "KERNEL_SEQNUM",
                                              "KERNEL_LEVEL", "KERNEL_TEXT")},
                    {"PRIORITY": "4", "MESSAGE_ID": "699b575c17cd4fda9c044ce5e1242632", "INCIDENT": "smmu",
                     "ACTION": "continue to watch log", "KERNEL_SEQNUM": "41", "KERNEL_LEVEL": "3",
                     "KERNEL_TEXT": "arm-smmu 1.iommu: Unhandled context fault: fsr=0x402"}, "smmu entry fields")
            t.equal((parse.get("PRIORITY"), rt.get("PRIORITY"), rt.get("INCIDENT")), ("3", "5", "rt_throttle"),
                    "parse failure priority 3, counted-only incident priority 5")
            t.equal((lost.get("MESSAGE_ID"), lost.get("LOST"), lost.get("PRIORITY")),
                    ("2e7c413e767c48f09633d4e700a9f114", "3", "4"), "records lost: MESSAGE_ID and LOST")
        else:
            failed, cut = "448f3e15adb6445e88b21aa0c4a8a6ba", "0c2cb9030b5e437ca71d8ce9026d18a5"
            ended = {(e.get("TEST"), e.get("MESSAGE_ID")): (e.get("PRIORITY"), e.get("EXIT_STATUS"), e.get("SIGNAL"))
                     for e in got}
            # The program that printed too much is ended (SIGTERM) and fails.
            t.equal(ended, {("fail", failed): ("4", "3", None), ("killed", failed): ("4", None, "9"),
                            ("chatty", cut): ("4", None, "15"), ("chatty", failed): ("4", None, "15")},
                    "failed tests and cut output: TEST, MESSAGE_ID, EXIT_STATUS or SIGNAL")
    sock.close()
    os.remove("/run/systemd/journal/socket")


def test_handler_timeout(args):
    """A handler ended at its time limit: counted in kmsgwatch.prom, and its
    journal entry names the handler."""
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    sock.bind("/run/systemd/journal/socket")
    sock.setblocking(False)
    folder = os.path.join(scratch, "timeout-textfiles")
    os.mkdir(folder)
    nsutil.write_script("/usr/bin/kmsgwatch-avc", "#!/bin/sh\nexec sleep 600\n")
    source = os.path.join(scratch, "timeout-records")
    records_file(source, ["6,1,10,-;audit: avc:  denied  { read }\n"])
    err = open(os.path.join(scratch, "timeout.err"), "w+b")
    st = os.fstat(err.fileno())
    env = dict(os.environ, JOURNAL_STREAM=f"{st.st_dev}:{st.st_ino}")
    subprocess.run(args.emulator + [args.kmsgwatch, "-T", "1", "-f", source, "-t", "never", "-p", folder],
                   stderr=err, env=env, timeout=60)
    got = samples(open(os.path.join(folder, "kmsgwatch.prom")).read())
    t.equal((got.get('kmsgwatch_handler_timeouts_total{incident="avc"}'),
             got.get('kmsgwatch_incidents_total{incident="avc"}')), (1, 1), "handler timeout counted")
    timed_out = [e for e in entries(sock) if e.get("MESSAGE_ID") == "d22ace2bf784406f9919ff0d2e7fb884"]
    t.equal([(e.get("HANDLER"), e.get("INCIDENT"), e.get("PRIORITY")) for e in timed_out],
            [("/bin/kmsgwatch-avc", "avc", "3")], "one timed-out entry with HANDLER and INCIDENT")
    sock.close()
    os.remove("/run/systemd/journal/socket")


def test_catalog(args):
    """journalctl builds a catalog database from the catalog, with an entry
    for every MESSAGE_ID the daemons send."""
    root = os.path.join(scratch, "catalog-root")
    folder = os.path.join(root, "usr/lib/systemd/catalog")
    os.makedirs(folder)
    shutil.copy(args.catalog, folder)
    subprocess.run(["journalctl", "--root=" + root, "--update-catalog"], check=True)
    listed = subprocess.run(["journalctl", "--root=" + root, "--list-catalog"], capture_output=True,
                            text=True).stdout
    ids = set(re.findall(r'"([0-9a-f]{32})"', open(args.message_ids).read()))
    found = {line.split()[0] for line in listed.splitlines() if line.split()}
    t.equal(sorted(ids - found), [], "a catalog entry for every MESSAGE_ID")


def main():
    global scratch, tools
    args = scripttest.arguments("--kmsgwatch", "--selfcheckrun",
                                options=("--build", "--rules", "--catalog", "--message-ids"), checks=True)
    if os.geteuid() != 0:
        print("needs root: skipped")
        sys.exit(scripttest.SKIPPED)
    tools = fleettools.unpacked(os.path.join(args.build, "fleet-tools"), ["prometheus", "prometheus-node-exporter"])
    if tools is None:
        sys.exit(scripttest.SKIPPED)
    r = subprocess.run([os.path.join(tools, "usr/bin/promtool"), "check", "rules", args.rules],
                       capture_output=True, text=True)
    if "--inside-namespace" not in sys.argv:
        print(r.stdout + r.stderr, end="", flush=True)
        if r.returncode != 0:
            sys.exit(1)
    scratch = nsutil.enter_namespace(args.build)
    setup(args)
    test_metrics_across_kill_and_node_exporter(args)
    test_journal_entries(args)
    test_handler_timeout(args)
    test_catalog(args)
    t.finish()


if __name__ == "__main__":
    main()
