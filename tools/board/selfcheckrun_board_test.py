#!/usr/bin/env python3
"""selfcheckrun on the board (guest/selfcheckrun.sh): the document published
under /run, its copy in /var/log, the messages and the system log."""

import boardtest
from boardtest import BoardTest

PASS = ['<test name="pass" result="ok"/>']
FAIL = ['<test name="fail">', "</test>"]


class TestDirectory(BoardTest):
    SCRIPTS = ["selfcheckrun"]

    def test_published_document(self):
        lines = self.lines("selfcheckrun.xml")
        self.assertEqual((lines[0], lines[-1]), ("<tests>", "</tests>"))
        # Each program's whole output, in the directory's order.
        self.assertIn(lines[1:-1], (PASS + FAIL, FAIL + PASS))
        self.assertEqual(self.text("copy.xml"), self.text("selfcheckrun.xml"))
        # No temporary file left beside it.
        self.assertEqual([n for n in self.lines("run.ls") if n.startswith("selfcheckrun")],
                         ["selfcheckrun.xml"])

    def test_messages(self):
        rc, out, err = self.run_result("run")
        self.assertEqual((rc, out), (0, ""))
        self.assertEqual(sorted(err.splitlines()), [
            "selfcheckrun: /etc/selfcheckrun.d/plain is not executable",
            "selfcheckrun: Failed to run /etc/selfcheckrun.d/fail"])
        log = [l.split(": ", 1)[-1] for l in self.lines("messages") if "selfcheckrun" in l]
        self.assertEqual(log, ["selfcheckrun: Started",
                               "selfcheckrun: Failed to run /etc/selfcheckrun.d/fail"])


if __name__ == "__main__":
    boardtest.main()
