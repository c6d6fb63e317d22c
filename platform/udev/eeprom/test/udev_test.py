#!/usr/bin/env python3
"""Tests of the udev helpers and the GPIO write protection against the fake
sysfs of test/fake_platform.py (libudev really enumerates it), with the
kernel's part on the GPIO files played by the fake_gpio_sysfs preload."""
import os
import subprocess
import sys
import tempfile
import unittest

import scripttest  # tools/testing, on PYTHONPATH

from fake_platform import GPIO_CLASS, GPIO_CONTROLLER, I2C_BUS, Launcher, Platform, launcher_options



class UdevTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = cls.args.launcher.available()
        if missing:
            raise unittest.SkipTest(missing)

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="udev-test-")
        self.addCleanup(self.tmp.cleanup)
        self.platform = Platform(self.tmp.name)

    def probe(self, *args):
        result = subprocess.run(
            self.args.launcher.command(self.platform, [self.args.probe] + [str(a) for a in args]),
            env=self.args.launcher.environment(self.platform), capture_output=True, timeout=60)
        return result.returncode, result.stdout.decode(), result.stderr.decode()

    def test_path_by_attribute(self):
        found = GPIO_CONTROLLER
        self.assertEqual(self.probe("attr", "label", "ffc02a00.gpio", "gpio", 256),
                         (0, "0 %s\n" % found, ""))
        # The path and its NUL must fit.
        self.assertEqual(self.probe("attr", "label", "ffc02a00.gpio", "gpio", len(found) + 1),
                         (0, "0 %s\n" % found, ""))
        self.assertEqual(self.probe("attr", "label", "ffc02a00.gpio", "gpio", len(found)),
                         (0, "-1 \n", ""))
        self.assertEqual(self.probe("attr", "label", "nothing", "gpio", 256), (0, "-1 \n", ""))
        self.assertEqual(self.probe("attr", "label", "ffc02a00.gpio", "-", 256),
                         (0, "0 %s\n" % found,
                          "udev_get_path_from_attr: called without subsystem set\n"
                          "udev_get_path: called without subsystem set\n"))

    def test_path_by_properties(self):
        first = "/" + I2C_BUS + "/1-0068"
        self.assertEqual(self.probe("driver", "rtc-ds1307", "i2c", 256), (0, "0 %s\n" % first, ""))
        self.assertEqual(self.probe("driver", "rtc-ds1307", "-", 256),
                         (0, "0 %s\n" % first,
                          "udev_get_path_from_driver: called without subsystem set "
                          "(driver: rtc-ds1307)\n"
                          "udev_get_path: called without subsystem set\n"))
        # libudev joins property matches with "or"; the first device in path order wins.
        self.assertEqual(self.probe("match", "DRIVER=rtc-ds1307", "MODALIAS=i2c:1-0054", "--",
                                    "i2c", 256), (0, "0 /%s/1-0054\n" % I2C_BUS, ""))
        self.assertEqual(self.probe("match", "MODALIAS=i2c:1-0060", "--", "i2c", 256),
                         (0, "0 /%s/1-0060\n" % I2C_BUS, ""))
        self.assertEqual(self.probe("match", "DRIVER=at24", "--", "gpio", 256), (0, "-1 \n", ""))

    def test_broken_preconditions_are_fatal(self):
        code, out, err = self.probe("attr", "label", "ffc02a00.gpio", "gpio", 0)
        self.assertNotEqual(code, 0)
        self.assertRegex(err, r"platform/udev/util/udev_util.cpp:\d+: .*udev_get_path.*: "
                              r"Assertion `size' failed.")
        code, out, err = self.probe("attr", "label", "-", "gpio", 256)
        self.assertNotEqual(code, 0)
        self.assertIn("Assertion `(match && match_length) || (attr && attr_value)' failed.", err)

    def test_all_devices_of_a_driver(self):
        paths = ["/%s/%s" % (I2C_BUS, a) for a in ("1-0050", "1-0054", "1-0060")]
        code, out, err = self.probe("all", "at24", "i2c", 3)
        self.assertEqual((code, err), (0, ""))
        lines = out.split("\n")
        self.assertEqual(lines[0], "0")
        self.assertEqual(sorted(lines[1:4]), paths)
        self.assertEqual(lines[4:], ["", ""])  # the empty terminator entry, then the end
        self.assertEqual(self.probe("all", "at24", "i2c", 2),
                         (0, "-1\n", "udev_get_path_all_from_driver: Number of devices greater "
                                     "than max. number of devices\n"))
        self.assertEqual(self.probe("all", "none", "i2c", 2),
                         (0, "-1\n", "udev_get_path_all_from_driver: Can't get device list\n"))

    def test_all_devices_refuses_long_paths(self):
        long_name = "1-" + "7" * 120
        self.platform.add_i2c_device(long_name, "long")
        self.assertEqual(self.probe("all", "long", "i2c", 4),
                         (0, "-1\n", "udev_get_path_all_from_driver: Device path length is "
                                     "greater than max. path length\n"))

    def test_gpio_base(self):
        self.assertEqual(self.probe("base", GPIO_CONTROLLER), (0, "480\n", ""))
        self.assertEqual(self.probe("base", "ffc03000.gpio"), (0, "448\n", ""))
        self.assertEqual(self.probe("base", "ffc04000.gpio"), (0, "-1\n", ""))

    def test_write_protection_of_the_production_line(self):
        line = self.platform.path("%s/gpio499" % GPIO_CLASS)
        self.assertEqual(self.probe("protect", 1, 19), (0, "0\n", ""))
        self.assertEqual(self.platform.read(GPIO_CLASS + "/gpio499/direction"), b"out\n")
        self.assertEqual(self.platform.read(GPIO_CLASS + "/gpio499/value"), b"0\n")
        self.assertEqual(self.probe("protect", 0, 19), (0, "0\n", ""))
        self.assertFalse(os.path.exists(line))
        gpio = "/%s/gpio499" % GPIO_CLASS
        self.assertEqual(self.platform.log_lines(), [
            "/%s/export 499 unexported" % GPIO_CLASS, gpio + "/direction out ok",
            gpio + "/value 0 ok", gpio + "/value 1 ok", gpio + "/direction in ok",
            "/%s/unexport 499 exported" % GPIO_CLASS])
        # Protecting a line that is not exported fails: its value file is missing.
        self.assertEqual(self.probe("protect", 0, 19), (0, "-1\n", ""))

    def test_write_protection_without_controller(self):
        os.unlink(self.platform.path(GPIO_CLASS + "/gpiochip480"))
        self.assertEqual(self.probe("protect", 1, 18), (0, "-1\n", ""))
        self.assertEqual(self.platform.log_lines(), [])


def main():
    args = scripttest.arguments("--probe", extra=launcher_options)
    args.launcher = Launcher(args.emulator, args.shim, args.umockdev_preload)
    return scripttest.run(args)


if __name__ == "__main__":
    sys.exit(main())
