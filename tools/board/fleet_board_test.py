#!/usr/bin/env python3
"""A fleet watching the board (guest/fleet.sh): the board's Debian image on
QEMU's user-mode network with restrict=on, so that it reaches nothing but
what this test forwards: node_exporter's port 9100 to 127.0.0.1 on the host
(hostfwd) and 10.0.2.100:19532 in the guest to a journal receiver on the
host's 127.0.0.1 (guestfwd). On the host, Debian's prometheus (scraping
every second) and systemd-journal-remote run as plain processes unpacked
into the build folder (tools/testing/fleettools.py), on 127.0.0.1 only, and
end with the test. The test asks Prometheus's HTTP API for the incidents
and the sanity tests of the board, and reads the received journal with
journalctl, the message catalog included. Every step's time is printed.

usage: fleet_board_test.py --board-dir DIR --tools CACHE --catalog FILE"""

import json
import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import urllib.parse
import urllib.request

import boardtest
import fleettools
from boardtest import BoardTest
from parts import log
from vm import _die_with_parent

SMMU = "699b575c17cd4fda9c044ce5e1242632"
# What the host asks Prometheus for, and the value each must reach.
EXPECTED = {
    'kmsgwatch_incidents_total{incident="smmu"}': 2,
    'kmsgwatch_incidents_total{incident="avc"}': 1,
    'kmsgwatch_incidents_total{incident="rt_throttle"}': 1,
    'selfcheckrun_test_failed{test="fail"}': 1,
    'selfcheckrun_test_failed{test="pass"}': 0,
    "node_textfile_scrape_error": 0,
}
FRESH = "time() - selfcheckrun_last_run_timestamp_seconds"
FRESH_SECONDS = 120
ENTRY_FIELDS = ("MESSAGE", "PRIORITY", "MESSAGE_ID", "INCIDENT", "ACTION", "KERNEL_SEQNUM", "KERNEL_LEVEL",
                "KERNEL_TEXT", "SYSLOG_IDENTIFIER")
# From QEMU's start to the board's end (apt-get of the packages under
# emulation is most of it).
LIMIT = 1200
# How long the host waits for what it checks once the board has sent its
# results (its own files show everything by then).
AFTER_RESULTS = 180


def wait_for(what, condition, seconds, interval=0.2):
    """Polls condition() until it is true; raises after `seconds`."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("no %s after %d s" % (what, seconds))
        time.sleep(interval)


def listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def catalog_subject(path, message_id):
    with open(path) as f:
        text = f.read()
    return re.search(r"^-- %s\nSubject: (.*)$" % message_id, text, re.M).group(1)


class Fleet(BoardTest):
    SCRIPTS = ["fleet"]
    DEBIAN = True
    # The board stays up until the host has seen everything; the host
    # then ends it.
    COMPLETE = False
    TIMEOUT = LIMIT

    @classmethod
    def qemu_args(cls):
        net = ("user,id=net,restrict=on,hostfwd=tcp:127.0.0.1:%d-:9100,"
               "guestfwd=tcp:10.0.2.100:19532-tcp:127.0.0.1:%d" % (cls.exporter_port, cls.receiver_port))
        return ["-netdev", net, "-device", "virtio-net-device,netdev=net"]

    @classmethod
    def start(cls, name, command, **kw):
        log("starting %s: %s" % (name, " ".join(command)))
        with open(os.path.join(cls.work, name + ".log"), "w") as out:
            cls.processes.append((name, subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out,
                                                         stderr=subprocess.STDOUT, preexec_fn=_die_with_parent,
                                                         **kw)))

    @classmethod
    def stop_processes(cls):
        for name, proc in cls.processes:
            proc.terminate()
        for name, proc in cls.processes:
            try:
                proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
            log("%s ended with status %s" % (name, proc.returncode))

    @classmethod
    def query(cls, expression):
        """The value of an instant query's one series, or None."""
        url = "http://127.0.0.1:%d/api/v1/query?%s" % (cls.prometheus_port,
                                                       urllib.parse.urlencode({"query": expression}))
        try:
            with urllib.request.urlopen(url, timeout=5) as r:
                answer = json.load(r)
        except OSError:
            return None
        result = answer.get("data", {}).get("result", [])
        return float(result[0]["value"][1]) if len(result) == 1 else None

    @classmethod
    def journal(cls, *args, namespace=False):
        """journalctl on the received journal files (in a private mount
        namespace with the test's own catalog database, when asked)."""
        command = ["journalctl", "--no-pager", "--file=" + os.path.join(cls.received, "*.journal"), *args]
        if namespace:
            # journalctl 252 reads the catalog only from
            # /var/lib/systemd/catalog/database, --root or not: the test's
            # database is bound there in a mount namespace of its own.
            unshare = ["unshare", "--mount", "--propagation", "private"]
            if os.geteuid() != 0:
                unshare[1:1] = ["--user", "--map-root-user"]
            command = unshare + ["sh", "-c", 'mount --bind "$0" /var/lib/systemd/catalog && exec "$@"',
                                 cls.catalog_dir] + command
        return subprocess.run(command, capture_output=True, text=True)

    @classmethod
    def smmu_entries(cls):
        r = cls.journal("INCIDENT=smmu", "-o", "json")
        return [json.loads(line) for line in r.stdout.splitlines() if line.strip()]

    @classmethod
    def setUpClass(cls):
        start = time.monotonic()
        tools = fleettools.unpacked(cls.args.tools, ["prometheus", "systemd-journal-remote", "libmicrohttpd12"])
        if tools is None:
            raise AssertionError("Debian's prometheus and systemd-journal-remote could not be fetched")
        cls.work = tempfile.mkdtemp(prefix="fleet.", dir=cls.args.board_dir)
        cls.received = os.path.join(cls.work, "received")
        os.mkdir(cls.received)
        cls.exporter_port, cls.receiver_port, cls.prometheus_port = (fleettools.free_port() for _ in range(3))
        cls.processes = []
        cls.times = []  # (what, host seconds since QEMU's start)
        cls.values = {}
        cls.entries = []
        try:
            # The catalog database of the test's own root folder.
            root = os.path.join(cls.work, "catalog-root")
            os.makedirs(os.path.join(root, "usr/lib/systemd/catalog"))
            shutil.copy(cls.args.catalog, os.path.join(root, "usr/lib/systemd/catalog"))
            subprocess.run(["journalctl", "--root=" + root, "--update-catalog"], check=True)
            cls.catalog_dir = os.path.join(root, "var/lib/systemd/catalog")

            cls.start("systemd-journal-remote",
                      [os.path.join(tools, "lib/systemd/systemd-journal-remote"),
                       "--listen-http=127.0.0.1:%d" % cls.receiver_port, "--output=%s/" % cls.received],
                      env=dict(os.environ, LD_LIBRARY_PATH=os.path.join(tools, fleettools.LIBRARY_PATH)))
            config = os.path.join(cls.work, "prometheus.yml")
            with open(config, "w") as f:
                f.write("global: {scrape_interval: 1s, scrape_timeout: 1s, evaluation_interval: 1s}\n"
                        "scrape_configs: [{job_name: board, static_configs: [{targets: ['127.0.0.1:%d']}]}]\n"
                        % cls.exporter_port)
            cls.start("prometheus", [os.path.join(tools, "usr/bin/prometheus"), "--config.file=" + config,
                                     "--storage.tsdb.path=" + os.path.join(cls.work, "tsdb"),
                                     "--web.listen-address=127.0.0.1:%d" % cls.prometheus_port])
            # QEMU connects its guestfwd to the receiver as it starts.
            wait_for("journal receiver on 127.0.0.1:%d" % cls.receiver_port,
                     lambda: listening(cls.receiver_port), 30)
            wait_for("Prometheus", lambda: listening(cls.prometheus_port), 30)
            log("host side ready in %.1f s" % (time.monotonic() - start))

            cls.boot = cls.new_boot()
            thread = threading.Thread(target=cls.boot.run, daemon=True)
            thread.start()
            wait_for("start of QEMU", lambda: cls.boot.started_at is not None, 30, 0.05)
            try:
                cls.watch(thread)
            finally:
                cls.boot.stop()
                thread.join()
        finally:
            cls.stop_processes()
        cls.collect()
        cls.report()

    @classmethod
    def note(cls, what):
        at = time.monotonic() - cls.boot.started_at
        cls.times.append((what, at))
        log("%6.1f s  %s" % (at, what))

    @classmethod
    def watch(cls, thread):
        """Polls Prometheus until every value is there, then the received
        journal until it holds both SMMU entries; gives up when the board
        ends or after LIMIT seconds."""
        end = cls.boot.started_at + LIMIT - 30
        results_at = None

        def waiting():
            nonlocal end, results_at
            if results_at is None and "results.tar" in cls.boot.files:
                results_at = time.monotonic()
                end = min(end, results_at + AFTER_RESULTS)
            return thread.is_alive() and time.monotonic() < end

        scraped = False
        while waiting():
            if not scraped and cls.query('up{job="board"}') == 1:
                scraped = True
                cls.note("first scrape of the board's node_exporter")
            cls.values = {e: cls.query(e) for e in list(EXPECTED) + [FRESH]}
            fresh = cls.values[FRESH]
            if all(cls.values[e] == v for e, v in EXPECTED.items()) and fresh is not None and fresh < FRESH_SECONDS:
                cls.note("Prometheus has every value")
                break
            time.sleep(0.5)
        while waiting():
            cls.entries = cls.smmu_entries()
            if len(cls.entries) >= 2:
                cls.note("both SMMU entries in the received journal")
                break
            time.sleep(0.5)
        cls.explained = cls.journal("-x", "INCIDENT=smmu", namespace=True)

    @classmethod
    def report(cls):
        steps = [(text, at) for at, text in cls.boot.results["fleet"].steps] if "fleet" in cls.boot.results else []
        if cls.boot.ready_after is not None:
            steps.insert(0, ("booted", cls.boot.ready_after))
        rows = sorted(steps + cls.times, key=lambda row: row[1])
        log("fleet timings (host seconds since QEMU's start):\n" +
            "\n".join("  %7.1f  %s" % (at, what) for what, at in rows))
        if cls.boot.cpu:
            log("QEMU ran %.1f s, CPU user %.1f s sys %.1f s" % (cls.boot.seconds, *cls.boot.cpu))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_prometheus_sees_the_board(self):
        self.assertEqual({e: self.values.get(e) for e in EXPECTED}, EXPECTED)
        fresh = self.values.get(FRESH)
        self.assertTrue(fresh is not None and fresh < FRESH_SECONDS, "%s = %s" % (FRESH, fresh))

    def test_received_journal_entries(self):
        self.assertEqual(len(self.entries), 2, self.entries)
        for entry, n in zip(self.entries, (1, 2)):
            text = "arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402 board-fleet-smmu-%d" % n
            self.assertEqual({k: entry.get(k) for k in ENTRY_FIELDS if k != "KERNEL_SEQNUM"},
                             {"MESSAGE": "kmsgwatch: Found SMMU error: " + text, "PRIORITY": "4",
                              "MESSAGE_ID": SMMU, "INCIDENT": "smmu", "ACTION": "continue to watch log",
                              "KERNEL_LEVEL": "3", "KERNEL_TEXT": text, "SYSLOG_IDENTIFIER": "kmsgwatch"})
        # (kmsgwatch's own note may lie between the two records)
        seqnums = [int(e.get("KERNEL_SEQNUM", "-1")) for e in self.entries]
        self.assertTrue(0 <= seqnums[0] < seqnums[1], seqnums)

    def test_catalog_explains_the_entries(self):
        self.assertEqual(self.explained.returncode, 0, self.explained.stderr)
        out = self.explained.stdout
        self.assertEqual(out.count("Subject: " + catalog_subject(self.args.catalog, SMMU)), 2, out)
        # The body's @KERNEL_TEXT@, filled in from the entry.
        self.assertIn("    arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402 board-fleet-smmu-2", out)


if __name__ == "__main__":
    boardtest.main(("--tools", "--catalog"))   # the build's cache of Debian's fleet tools; our catalog
