"""How every script test ends, in one of two forms:

- unittest cases: main() parses its own options with parse_known_args and
  ends with sys.exit(scripttest.run(rest)), rest being what its parser left
  over (unittest's own options and test names);
- checks collected in order (tests that share one namespace or one long
  set-up): a Failures reports each failed check as it happens and
  failures.finish() ends the script.

Either way the exit status is 0 when everything passed and 1 otherwise.
A test that cannot run here (no root, a missing tool) skips its cases with
unittest's skips, or exits with SKIPPED where CTest is told so
(SKIP_RETURN_CODE)."""
import sys
import unittest

SKIPPED = 77


def run(rest):
    """Runs the unittest cases of the calling script, verbosely; the exit status."""
    program = unittest.main(module="__main__", argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


class Failures:
    """Collects check failures so that one run reports them all."""

    def __init__(self):
        self.failed = 0
        self.passed = 0

    def check(self, condition, what, detail=""):
        if condition:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAIL: {what}" + (f"\n      {detail}" if detail else ""), flush=True)

    def equal(self, got, expected, what):
        self.check(got == expected, what, f"got {got!r}, expected {expected!r}")

    def finish(self):
        """Prints the tally and exits: 1 when a check failed or none ran."""
        print(f"{self.passed} checks passed, {self.failed} failed", flush=True)
        sys.exit(1 if self.failed or not self.passed else 0)
