#!/usr/bin/env python3
"""keyprom on the board's EEPROM (guest/keyprom.sh): QEMU's at24c model on
the vexpress-a15 I2C bus, read and written by the kernel's at24 driver, with
the write-protect line on a gpio-mmio controller labelled "ffc02a00.gpio".
QEMU keeps the EEPROM in a file here, so its content is also checked after
the board has stopped, past the driver. QEMU's model has no write-protect
pin: the line's sysfs sequence is checked, not its effect."""

import os
import re
import shutil
import tempfile

import boardtest
from boardtest import BoardTest

SIZE = 65536
PARTITION = 256


def initial_image():
    """A key record in the key partition, a pattern everywhere else."""
    image = bytearray(i % 251 for i in range(SIZE))
    record = b"key=old-key\n\0"
    image[:PARTITION] = record + b"\xff" * (PARTITION - len(record))
    return bytes(image)


def partition(*records):
    text = b"".join(records) + b"\0"
    return text + b"\xff" * (PARTITION - len(text))


ERASED = partition()


class Eeprom(BoardTest):
    SCRIPTS = ["keyprom"]
    MACHINE = "vexpress-a15"

    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="board-eeprom-")
        cls.addClassCleanup(shutil.rmtree, cls.workdir, ignore_errors=True)
        cls.image = os.path.join(cls.workdir, "eeprom.bin")
        with open(cls.image, "wb") as f:
            f.write(initial_image())
        super().setUpClass()
        with open(cls.image, "rb") as f:
            cls.final = f.read()

    @classmethod
    def qemu_args(cls):
        return ["-drive", "if=none,id=eeprom,format=raw,file=" + cls.image,
                "-device", "at24c-eeprom,bus=i2c,address=0x50,rom-size=%d,drive=eeprom" % SIZE]

    def raw(self, stage):
        """The first 512 bytes read on the board after `stage`: the key
        partition and the 256 bytes after it, which must stay as they were."""
        data = self.out[stage + ".raw"]
        self.assertEqual(data[PARTITION:], initial_image()[PARTITION:2 * PARTITION], stage)
        return data[:PARTITION]

    def assertLifted(self, stage, writes):
        """For each write, the line was exported (an input showing what its
        register last held; the driver sets the level low before it turns
        the line into an output), driven low, set high and released, in that
        order; the sampler may miss the short states, never the low one,
        which lasts 100 ms at least."""
        seen = self.lines(stage + ".gpio")
        self.assertEqual((seen[0], seen[-1]), ("absent", "absent"), seen)
        cycles, current = [], []
        for state in seen[1:]:
            if state == "absent":
                cycles.append("".join(s + "|" for s in current))
                current = []
            else:
                current.append(state)
        self.assertEqual(len(cycles), writes, seen)
        for cycle in cycles:
            self.assertRegex(cycle, r"^(in 1\|)?(in 0\|)?out 0\|(out 1\|)?(in 1\|)?$", seen)

    def test_set_get_replace(self):
        self.assertEqual(self.raw("initial"), initial_image()[:PARTITION])
        self.assertEqual(self.run_result("set"), (0, "", ""))
        self.assertEqual(self.raw("set"), partition(b"key=board-key-1\n"))
        self.assertLifted("set", writes=1)  # erase and record in one write
        self.assertEqual(self.run_result("get"), (0, "board-key-1", ""))
        self.assertEqual(self.lines("get.gpio"), ["absent"])
        self.assertEqual(self.run_result("replace"), (0, "", ""))
        self.assertEqual(self.raw("replace"), partition(b"key=board-key-2\n"))
        self.assertLifted("replace", writes=1)

    def test_value_refused_before_any_write(self):
        rc, out, err = self.run_result("refused")
        self.assertEqual((rc, out), (1, ""))
        self.assertIn("nothing stored", err)
        self.assertEqual(self.raw("refused"), partition(b"key=board-key-2\n"))
        self.assertEqual(self.lines("refused.gpio"), ["absent"])

    def test_delete(self):
        self.assertEqual(self.run_result("delete"), (0, "", ""))
        self.assertEqual(self.raw("delete"), ERASED)
        self.assertLifted("delete", writes=1)
        self.assertEqual(self.run_result("get-deleted"), (1, "", ""))

    def test_eeprom_content_after_the_board_stopped(self):
        expected = ERASED + initial_image()[PARTITION:]
        self.assertEqual(len(self.final), SIZE)
        self.assertTrue(self.final == expected,
                        "bytes differ at %s" % [i for i in range(SIZE) if self.final[i] != expected[i]][:20])


if __name__ == "__main__":
    boardtest.main()
