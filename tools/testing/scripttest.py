"""The end of every script test's main(): run the unittest cases of the
script with the arguments its own parser left over, verbosely, and give the
exit status (0 when every case passed)."""
import sys
import unittest


def run(rest):
    program = unittest.main(module="__main__", argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1
