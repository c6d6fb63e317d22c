"""What the board tests share: one boot of the board per test class, the
results that its scripts sent back (guest/lib.sh: finish), and the command
line: --board-dir DIR (made by setup_board.py) before the test's own
arguments. With BOARD_RESULTS=<folder> in the environment, each boot's
results are also kept there (<scripts>.tar), to look at by hand."""

import io
import os
import sys
import tarfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "testing")]
import scripttest  # noqa: E402
from image import Image  # noqa: E402
from vm import Boot  # noqa: E402


class BoardTest(unittest.TestCase):
    """Boots the board once for the class and runs SCRIPTS on it. Its
    `args` (scripttest.run) hold --board-dir and the test's own options."""

    SCRIPTS = []
    MACHINE = "virt"
    TIMEOUT = 240
    # Boots the Debian image (image.py) with systemd as PID 1 instead of the
    # busybox initramfs; the scripts run from board.service.
    DEBIAN = False
    # Whether the scripts must run to their end (a restart test's do not).
    COMPLETE = True

    @classmethod
    def qemu_args(cls):
        return []

    @classmethod
    def new_boot(cls):
        """The class's boot, not started yet."""
        image = {}
        if cls.DEBIAN:
            board_dir = cls.args.board_dir
            image = dict(initrd=os.path.join(board_dir, "disk-initrd.gz"), disk=Image(board_dir).disk,
                         append=["systemd.show_status=0", "systemd.mask=serial-getty@ttyAMA0.service",
                                 "systemd.wants=board.service"])
        return Boot(cls.args.board_dir, cls.SCRIPTS, machine=cls.MACHINE, qemu_args=cls.qemu_args(),
                    timeout=cls.TIMEOUT, **image)

    @classmethod
    def setUpClass(cls):
        cls.boot = cls.new_boot().run()
        cls.collect()

    @classmethod
    def collect(cls):
        """Checks that the scripts ran to their end (where they must) and
        unpacks the results they sent."""
        if cls.COMPLETE:
            for script in cls.SCRIPTS:
                result = cls.boot.results.get(script)
                if result is None or result.status != 0:
                    raise AssertionError("board script %s did not run to its end (%s); console:\n%s"
                                         % (script, result and result.status, "\n".join(cls.boot.console)))
        cls.out = {}
        keep = os.environ.get("BOARD_RESULTS")
        if keep and "results.tar" in cls.boot.files:
            with open(os.path.join(keep, "%s.tar" % "-".join(cls.SCRIPTS)), "wb") as f:
                f.write(cls.boot.files["results.tar"])
        if "results.tar" in cls.boot.files:
            with tarfile.open(fileobj=io.BytesIO(cls.boot.files["results.tar"])) as tar:
                for member in tar:
                    if member.isfile():
                        cls.out[os.path.normpath(member.name)] = tar.extractfile(member).read()

    def text(self, name):
        """A result file as text, None when the board did not have it."""
        data = self.out.get(name)
        return None if data is None else data.decode(errors="replace")

    def lines(self, name):
        return (self.text(name) or "").splitlines()

    def run_result(self, name):
        """(exit status, standard output, standard error) of a captured run."""
        rc = self.text(name + ".rc")
        return (None if rc is None else int(rc), self.text(name + ".out"), self.text(name + ".err"))


def main(options=()):
    """Parses --board-dir and the test's own required options (their names),
    then runs the test classes of the calling module."""
    args = scripttest.arguments(options=("--board-dir", *options))
    args.board_dir = os.path.abspath(args.board_dir)
    sys.exit(scripttest.run(args))
