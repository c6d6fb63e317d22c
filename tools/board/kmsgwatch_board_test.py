#!/usr/bin/env python3
"""kmsgwatch on the board's own kernel log (guest/kmsgwatch.sh and
guest/kmsgwatch-restart.sh): records written to /dev/kmsg at levels the
watcher acts on and at levels it ignores, handler scripts at
/bin/kmsgwatch-<incident>, the notes read back from the kernel log, and a real
restart of the board."""

import boardtest
from boardtest import BoardTest


def note(incident, words):
    return "kmsgwatch has detected a situation to report (%s) and will %s" % (incident, words)


def record(text):
    """A line of what the watcher prints about a record: the record's text
    keeps its own newline, so an empty line follows."""
    return [text, ""]


class KernelLog(BoardTest):
    SCRIPTS = ["kmsgwatch"]

    def test_test_mode(self):
        self.assertEqual(self.run_result("absent"), (0, "", ""))
        self.assertIsNone(self.text("absent.handlers"))
        self.assertEqual(self._notes("absent"), [])
        # Matched at level 4, below the levels of every rule.
        self.assertEqual(self.run_result("found"), (0, "", "kmsgwatch: Found test string\n"))
        self.assertEqual(self.lines("found.handlers"), ["/bin/kmsgwatch-test|0"])
        self.assertEqual(self._notes("found"), [note("test", "exit itself")])

    def test_rules_at_their_level(self):
        # avc has a test of its own.
        expected = ["kmsgwatch: Process out of memory", "kmsgwatch: Got SCSI error"]
        expected += record("kmsgwatch: Found SMMU error: arm-smmu 12000000.iommu: "
                           "Unhandled context fault: fsr=0x402 board-smmu-1")
        expected += record("kmsgwatch: Found SMMU error: arm-smmu 12000000.iommu: "
                           "Unhandled context fault: fsr=0x402 board-smmu-2")
        expected += record("kmsgwatch: Found csr_nvdisplayr error: "
                           "tegra-mc: csr_nvdisplayr: EMEM address decode error board-csr")
        expected += record("kmsgwatch: Found RT Throttling incident: sched: RT throttling activated board-rt")
        expected += record("kmsgwatch: Found RT Throttling incident: sched: RT throttling activated board-rt-warning")
        expected += record("kmsgwatch: Found I2C xfer limit reached incident: "
                           "i2c 1-0050: Inter byte i2c xfer time LIMIT reached board-last")
        self.assertEqual(self._without_avc(self.lines("rules.err")), expected)
        self.assertEqual([h for h in self.lines("rules.handlers") if "-avc|" not in h],
                         ["/bin/kmsgwatch-oom|0", "/bin/kmsgwatch-scsi-error|0",
                          "/bin/kmsgwatch-smmu|0", "/bin/kmsgwatch-smmu|0"])
        notes = [n for n in self._notes("rules") if "(avc)" not in n]
        self.assertEqual(notes, [note("test", "exit itself")] + [
            note(i, "continue to watch log") for i in ("oom", "scsi-error", "smmu", "smmu")])
        # rt_throttle held 7 before the run; RT throttling came at levels 3 and 4.
        self.assertEqual({name: self.text("metrics." + name) for name in
                          ("smmu_errors", "csr_nvdisplayr", "rt_throttle", "i2c_xfer_limit_reached")},
                         {"smmu_errors": "2\n", "csr_nvdisplayr": "1\n", "rt_throttle": "9\n",
                          "i2c_xfer_limit_reached": "1\n"})

    def test_avc_as_the_kernel_writes_it(self):
        # The kernel's audit text has two blanks after "avc:", and its records
        # come at level 5.
        err = self.lines("rules.err")
        for text in ('audit: type=1400 audit(1.2:4): avc:  denied  { read } for pid=1 comm="sh" '
                     'board-avc-two-blanks', "audit: type=1400 audit(1.2:5): avc: denied { write } "
                     "board-avc-one-blank", "audit: type=1400 audit(1.2:6): avc:  denied  { open } board-avc-notice"):
            self.assertIn("kmsgwatch: Got AVC violation: " + text, err)
        self.assertEqual([h for h in self.lines("rules.handlers") if "-avc|" in h],
                         ["/bin/kmsgwatch-avc|0"] * 3)
        self.assertEqual([n for n in self._notes("rules") if "(avc)" in n],
                         [note("avc", "continue to watch log")] * 3)

    def test_levels_below_are_ignored(self):
        self.assertNotIn("board-ignored", self.text("rules.err"))

    def test_fatal_rules_stop_before_the_restart(self):
        for incident, line in (("hung-task", "kmsgwatch: Got hung task"),
                               ("oom", "kmsgwatch: Process out of memory"),
                               ("null-pointer", "kmsgwatch: Got null pointer dereference")):
            with self.subTest(incident):
                self.assertIsNone(self.text(incident + ".nofresh"))
                self.assertEqual(self.text(incident + ".err"), line + "\nkmsgwatch: reboot unit\n")
                self.assertEqual(self.lines(incident + ".handlers"), ["/bin/kmsgwatch-%s|0" % incident])
                self.assertIn(note(incident, "reboot unit"), self._notes(incident))
                # The hung-task marker is made before the report, empty.
                self.assertEqual(self.text(incident + ".exit_wdt"), "" if incident == "hung-task" else None)

    def _notes(self, stage):
        return [l.split("] ", 1)[1] for l in self.lines(stage + ".dmesg") if "kmsgwatch has detected" in l]

    @staticmethod
    def _without_avc(lines):
        out = []
        skip = False
        for line in lines:
            if skip and line == "":
                skip = False
                continue
            skip = "AVC violation" in line
            if not skip:
                out.append(line)
        return out


class Restart(BoardTest):
    SCRIPTS = ["kmsgwatch-restart"]
    COMPLETE = False

    def test_oops_restarts_the_board(self):
        self.assertEqual(self.text("watch.err"), "kmsgwatch: Got oops\nkmsgwatch: reboot unit\n")
        self.assertEqual(self.lines("handlers.log"), ["/bin/kmsgwatch-oops|0"])
        self.assertIn(note("oops", "reboot unit"), self.text("dmesg.txt"))
        # The kernel's own restart, 60 s after the watcher's message; QEMU
        # (-no-reboot) ends instead of starting the board again.
        restarted = self.boot.saw("reboot: Restarting system")
        paused = self.boot.saw("@@step the watcher pauses before the restart")
        self.assertIsNotNone(restarted, "no restart message from the kernel")
        self.assertIsNotNone(paused)
        print("board: restart %.1f s after the watcher's message" % (restarted - paused), flush=True)
        self.assertFalse(self.boot.done, "the board script ran to its end: no restart")
        self.assertEqual(self.boot.exit_status, 0)
        self.assertTrue(58 <= restarted - paused <= 90, restarted - paused)


if __name__ == "__main__":
    boardtest.main()
