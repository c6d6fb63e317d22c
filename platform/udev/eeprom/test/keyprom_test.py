#!/usr/bin/env python3
"""End-to-end tests of the keyprom program.

The program runs against a fake platform (test/fake_platform.py): a sysfs
tree in which libudev really enumerates the GPIO controllers and finds the
write-protect controller by its label and base, 65536-byte EEPROM files at
the board's sysfs paths, and a test preload (fake_gpio_sysfs) that does what
the kernel does on writes to the GPIO files and keeps a protected EEPROM from
storing data. Natively /sys is redirected by umockdev's preload; under the
emulator by a private mount namespace.
"""
import fcntl
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import scripttest  # tools/testing, on PYTHONPATH

from fake_platform import (CRYPTO, CRYPTO_LINE, GPIO_CLASS, PROD_LINE,
                           PRODUCTION, Launcher, Platform, launcher_options)

ERASED = b"\x00" + b"\xff" * 255
NO_VALUE = "keyprom: no value on standard input\n"


def usage_line(program):
    return "usage: %s set | get | delete\n" % program


class KeypromCase(unittest.TestCase):
    with_platform = True

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="keyprom-test-")
        self.addCleanup(self.tmp.cleanup)
        self.platform = Platform(self.tmp.name) if self.with_platform else None
        self.lock = os.path.join(self.tmp.name, "eeprom.lock")
        self.extra_env = {}

    def environment(self):
        env = self.args.launcher.environment(self.platform)
        env["EEPROM_LOCK_FILE"] = self.lock
        if self.platform:
            env["FAKE_SYSFS_WP"] = "1-0050/eeprom=%d,1-0054/eeprom=%d" % (CRYPTO_LINE, PROD_LINE)
        env.update(self.extra_env)
        return env

    def start(self, *args):
        return subprocess.Popen(self.args.launcher.command(self.platform, [self.args.keyprom] + list(args)),
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=self.environment())

    def run_keyprom(self, *args, stdin=b""):
        process = self.start(*args)
        out, err = process.communicate(stdin, timeout=60)
        return process.returncode, out, err.decode(errors="replace")

    def assert_gpio_released(self):
        for line in (CRYPTO_LINE, PROD_LINE):
            self.assertFalse(os.path.exists(self.platform.path("%s/gpio%d" % (GPIO_CLASS, line))))


class CommandLineTest(KeypromCase):
    """Usage handling: needs no platform, so it runs in every preset."""
    with_platform = False

    def test_usage(self):
        for args, status in (([], 1), (["-h"], 0), (["-d"], 1), (["-d", "-h"], 0),
                             (["bogus"], 1), (["get", "extra"], 1), (["-d", "set", "x"], 1)):
            with self.subTest(args=args):
                code, out, err = self.run_keyprom(*args)
                self.assertEqual(code, status)
                self.assertEqual(out, b"")
                self.assertEqual(err, usage_line(self.args.keyprom))

    def test_version(self):
        self.assertEqual(self.run_keyprom("--version"), (0, b"keyprom %s\n" % self.args.project_version.encode(), ""))

    def test_set_without_input_fails_before_any_eeprom_access(self):
        code, out, err = self.run_keyprom("set", stdin=b"")
        self.assertEqual((code, err), (1, "fgets(): Success\n" + NO_VALUE))


class LockTest(KeypromCase):
    """The lock as another user sees it: needs no platform, the lock is
    taken before any EEPROM access."""
    with_platform = False

    def test_held_lock_ends_the_wait_after_10_s(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to run keyprom as another user")
        folder = os.path.join(self.tmp.name, "user")
        os.mkdir(folder)
        os.chown(folder, 65534, 65534)
        os.chmod(self.tmp.name, 0o755)
        lock = os.path.join(folder, "keyprom.lock")
        with open(lock, "w") as held:
            os.chown(lock, 65534, 65534)
            fcntl.flock(held, fcntl.LOCK_EX)
            self.extra_env["EEPROM_LOCK_FILE"] = lock
            user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
            started = time.monotonic()
            done = subprocess.run(user + self.args.launcher.command(None, [self.args.keyprom, "get"]),
                                  capture_output=True, env=self.environment(), timeout=30)
            waited = time.monotonic() - started
        self.assertEqual((done.returncode, done.stdout, done.stderr.decode()),
                         (1, b"", "keyprom: the EEPROM is busy: %s held for 10 s\n" % lock))
        self.assertLess(waited, 11)


class KeyTest(KeypromCase):
    @classmethod
    def setUpClass(cls):
        missing = cls.args.launcher.available()
        if missing:
            raise unittest.SkipTest("platform cases: " + missing)

    def store(self, value, *options):
        code, out, err = self.run_keyprom(*options, "set", stdin=value)
        self.assertEqual((code, err), (0, ""), err)
        return out

    def get(self, *options):
        return self.run_keyprom(*options, "get")

    def test_without_eeprom_file_nothing_is_initialised(self):
        # On the fake platform, never the host's /sys: "delete" writes.
        os.unlink(self.platform.path(CRYPTO))
        code, out, err = self.run_keyprom("get")
        self.assertEqual((code, out), (1, b""))
        self.assertEqual(err, "eeprom: device crypto not initialized\n")
        code, out, err = self.run_keyprom("delete")
        self.assertEqual(code, 1)
        self.assertEqual(err, "eeprom: device crypto not initialized")
        self.assertEqual(self.platform.log_lines(), [])

    def test_set_then_get(self):
        before = self.platform.read(CRYPTO)
        self.assertEqual(self.store(b"abc\n"), b"")
        image = self.platform.read(CRYPTO)
        self.assertEqual(image[:256], b"key=abc\n\x00" + b"\xff" * 247)
        self.assertEqual(image[256:], before[256:])
        self.assertEqual(self.get(), (0, b"abc", ""))
        self.assertEqual(self.platform.read(PRODUCTION)[:14], b"serial=A1234\n\x00")

    def test_partial_transfers(self):
        """A driver that moves 7 bytes per call: reads are continued; a set's
        write that falls short is not (a kill before its end would leave old
        and new bytes mixed): after its tries the old image is written back;
        a delete is continued (any part of it already hides the key)."""
        value = bytes(range(0x41, 0x5b)) * 9
        record = b"key=" + value + b"\n\x00"
        self.platform.set_key_partition(record + b"\xff" * (256 - len(record)))
        self.extra_env["FAKE_SYSFS_CHUNK"] = "7"
        self.assertEqual(self.get(), (0, value, ""))
        code, out, err = self.run_keyprom("set", stdin=b"other\n")
        self.assertEqual((code, out), (1, b""))
        self.assertEqual(err, "eeprom: partition crypto: fskey: write failed (short write, 7 of 256 bytes); "
                              "the old key is kept\n")
        self.assertEqual(self.get(), (0, value, ""))
        self.assert_gpio_released()
        self.platform.set_key_partition(record)
        self.assertEqual(self.run_keyprom("delete"), (0, b"", ""))
        self.assertEqual(self.platform.key_partition(), ERASED)

    def test_write_protection_is_lifted_only_while_writing(self):
        self.store(b"abc\n")
        log = self.platform.log_lines()
        crypto = "/sys/devices/platform/ffc06000.i2c/i2c-1/1-0050/eeprom"  # resolved link
        gpio = "/%s/gpio%d" % (GPIO_CLASS, CRYPTO_LINE)
        lift = ["/%s/export %d unexported" % (GPIO_CLASS, CRYPTO_LINE),
                gpio + "/direction out ok", gpio + "/value 0 ok"]
        restore = [gpio + "/value 1 ok", gpio + "/direction in ok",
                   "/%s/unexport %d exported" % (GPIO_CLASS, CRYPTO_LINE)]
        # One protected write of the whole partition: erase and store at once.
        self.assertEqual(log, lift + [crypto + " 256 out,0"] + restore)
        self.assert_gpio_released()

    def test_verbose(self):
        code, out, err = self.run_keyprom("-d", "set", stdin=b"xyz\n")
        self.assertEqual((code, out, err), (0, b"Deleting crypto key partition\n",
                                            "Writing 3 bytes to eeprom\n"))
        self.assertEqual(self.get("-d"), (0, b"xyz", "Read 3 bytes\n"))
        code, out, err = self.run_keyprom("-d", "delete")
        self.assertEqual((code, out, err), (0, b"Deleting crypto key partition\n", ""))
        self.assertEqual(self.platform.key_partition(), ERASED)

    def test_get_and_delete_of_missing_key(self):
        self.assertEqual(self.get(), (1, b"", ""))  # blank part, never written
        self.platform.set_key_partition(ERASED)
        self.assertEqual(self.get(), (1, b"", ""))
        self.platform.set_key_partition(b"other=1\n\x00")
        self.assertEqual(self.get(), (1, b"", ""))
        self.assertEqual(self.run_keyprom("delete"), (0, b"", ""))
        self.assertEqual(self.platform.key_partition(), ERASED)

    def test_values_that_fit(self):
        cases = [
            (b"\n", b""),
            (b"no line end", b"no line end"),
            (b"x" * 250 + b"\n", b"x" * 250),
            (bytes(b for b in range(1, 32) if b != 10) + bytes(range(0x80, 0x100)) + b"\n",
             bytes(b for b in range(1, 32) if b != 10) + bytes(range(0x80, 0x100))),
            (b"first\nsecond\n", b"first"),
        ]
        for given, stored in cases:
            with self.subTest(given=given):
                self.store(given)
                record = b"key=" + stored + b"\n\x00"
                self.assertEqual(self.platform.key_partition(),
                                 record + b"\xff" * (256 - len(record)))
                self.assertEqual(self.get(), (0, stored, ""))

    def test_refused_values_keep_the_stored_key(self):
        self.store(b"secret\n")
        kept = self.platform.read(CRYPTO)
        cases = [
            (b"a=b\n", 'value contains "="'),
            (b"x" * 251 + b"\n", "value of 251 bytes too long (at most 250)"),
            (b"x" * 255 + b"\n", "value of 255 bytes too long (at most 250)"),
            (b"x" * 300 + b"\n", "input line longer than 255 bytes"),
            (b"ab\x00cd\n", "value contains a NUL byte"),
        ]
        for given, message in cases:
            with self.subTest(given=given[:20]):
                self.platform.clear_log()
                code, out, err = self.run_keyprom("set", stdin=given)
                self.assertEqual((code, out), (1, b""))
                self.assertEqual(err, "keyprom: %s, nothing stored\n" % message)
                self.assertEqual(self.platform.read(CRYPTO), kept)
                self.assertEqual(self.platform.log_lines(), [])
        code, out, err = self.run_keyprom("set", stdin=b"")
        self.assertEqual((code, err), (1, "fgets(): Success\n" + NO_VALUE))
        self.assertEqual(self.platform.read(CRYPTO), kept)
        self.assertEqual(self.get(), (0, b"secret", ""))

    def test_damaged_images(self):
        images = [
            bytes((i * 37 + 11) % 255 + 1 for i in range(256)),  # garbage, no NUL
            b"key=old\nkey=dangling" + b"\x00" + b"\xff" * 235,  # final line without line end
            b"\x00" * 256,
        ]
        expected_get = [(1, b"", ""), (0, b"old", ""), (1, b"", "")]
        for image, got in zip(images, expected_get):
            with self.subTest(image=image[:12]):
                self.platform.set_key_partition(image)
                self.assertEqual(self.get(), got)
                self.store(b"new\n")
                self.assertEqual(self.get(), (0, b"new", ""))

    def test_write_that_does_not_reach_the_part_fails(self):
        self.store(b"secret\n")
        kept = self.platform.read(CRYPTO)
        # Without the export file the line cannot be exported: the part stays
        # protected and ignores the data.
        os.unlink(self.platform.path(GPIO_CLASS + "/export"))
        code, out, err = self.run_keyprom("set", stdin=b"other\n")
        self.assertEqual((code, out), (1, b""))
        self.assertEqual(err, "eeprom: partition crypto: fskey: write failed (read back different); "
                              "the old key is kept\n")
        self.assertEqual(self.platform.read(CRYPTO), kept)
        code, out, err = self.run_keyprom("delete")
        self.assertEqual(code, 1)
        self.assertEqual(self.platform.read(CRYPTO), kept)

    def test_eeprom_errors_never_lose_the_key(self):
        """A part that fails with EIO after its first 128-byte page: once, a
        later try stores the new key (status 0, a warning); for good, the
        old key is written back (status 1). Never a mixed record, never no
        key; a read-back that fails once is read again."""
        stored = re.compile(r"eeprom: partition crypto: fskey: write failed \(Input/output error\); "
                            r"the new key is stored \(try [12] of 3\)\n\Z")
        lost = []
        self.extra_env["FAKE_SYSFS_WRITE_EIO"] = "128:1"
        for trial in range(20):
            value = (b"%02d" % trial) * (100 if trial % 2 else 3)  # 200 and 6 bytes
            code, out, err = self.run_keyprom("set", stdin=value + b"\n")
            if code != 0 or not stored.match(err) or self.get() != (0, value, ""):
                lost.append((trial, code, err, self.get()))
        self.assertEqual(lost, [])
        kept = b"k" * 200
        self.extra_env.pop("FAKE_SYSFS_WRITE_EIO")
        for old, new in ((kept, b"n" * 200), (b"kept", b"n" * 200), (kept, b"new")):
            with self.subTest(old=len(old), new=len(new)):
                self.store(old + b"\n")
                self.extra_env["FAKE_SYSFS_WRITE_EIO"] = "128"
                code, out, err = self.run_keyprom("set", stdin=new + b"\n")
                self.extra_env.pop("FAKE_SYSFS_WRITE_EIO")
                self.assertEqual((code, err), (1, "eeprom: partition crypto: fskey: write failed "
                                                  "(Input/output error); the old key is kept\n"))
                self.assertEqual(self.get(), (0, old, ""))
        # Reads: 1 the old image, 2 the byte that ends the write, 3 the check.
        self.extra_env["FAKE_SYSFS_READ_EIO"] = "3"
        self.assertEqual(self.run_keyprom("set", stdin=b"checked\n"), (0, b"", ""))
        self.assertEqual(self.get(), (0, b"checked", ""))

    def test_lock_of_someone_else_is_refused(self):
        """Run as root, keyprom never uses a lock path that another user
        could have prepared: a link (never followed, nothing created through
        it), another user's file, one others may write, a FIFO."""
        self.store(b"kept\n")
        target = os.path.join(self.tmp.name, "made-through-link")
        cases = {"link": "it is a symbolic link", "foreign": "owned by another user",
                 "writable": "writable by group or others", "fifo": "not a regular file"}
        for name, why in cases.items():
            with self.subTest(name):
                lock = os.path.join(self.tmp.name, name + ".lock")
                if name == "link":
                    os.symlink(target, lock)
                elif name == "fifo":
                    os.mkfifo(lock, 0o600)
                else:
                    with open(lock, "w"):
                        pass
                    os.chmod(lock, 0o622 if name == "writable" else 0o600)
                    if name == "foreign":
                        os.chown(lock, 65534, 65534)
                self.extra_env["EEPROM_LOCK_FILE"] = lock
                for command, stdin in (("set", b"other\n"), ("get", b""), ("delete", b"")):
                    self.assertEqual(self.run_keyprom(command, stdin=stdin),
                                     (1, b"", "eeprom: lock %s refused: %s\n" % (lock, why)))
                self.assertFalse(os.path.lexists(target))
        self.extra_env.pop("EEPROM_LOCK_FILE")
        self.assertEqual(self.get(), (0, b"kept", ""))

    def test_sets_wait_for_readers_and_gets_for_writers(self):
        self.store(b"first\n")
        with open(self.lock, "a") as held:
            fcntl.flock(held, fcntl.LOCK_SH)  # a reader
            setter = self.start("set")
            setter.stdin.write(b"second\n")
            setter.stdin.close()
            time.sleep(0.5)
            set_waited = setter.poll() is None
            shared = self.get()  # readers share the lock
            fcntl.flock(held, fcntl.LOCK_UN)
            set_status = setter.wait(timeout=60)
            fcntl.flock(held, fcntl.LOCK_EX)  # a writer
            getter = self.start("get")
            getter.stdin.close()
            time.sleep(0.5)
            get_waited = getter.poll() is None
            fcntl.flock(held, fcntl.LOCK_UN)
        out = getter.stdout.read()
        self.assertEqual((getter.wait(timeout=60), out), (0, b"second"))
        for process in (setter, getter):
            process.stdout.close()
            process.stderr.close()
        self.assertTrue(set_waited, "keyprom set did not wait for a reader")
        self.assertEqual(shared, (0, b"first", ""))
        self.assertEqual(set_status, 0)
        self.assertTrue(get_waited, "keyprom get did not wait for a writer")

    def test_kills_leave_the_old_key_or_the_new_one(self):
        """SIGKILL at random moments of sets alternating two 44-byte values:
        every get afterwards prints one of them whole, never no key and never
        a mixture; the protection a kill left lifted is restored by the next
        set."""
        values = (b"old-" + b"o" * 40, b"new-" + b"n" * 40)
        started = time.monotonic()
        self.store(values[0] + b"\n")
        span = time.monotonic() - started
        seed = int(os.environ.get("KEYPROM_KILL_SEED", time.time_ns() % 100000))
        rng = random.Random(seed)
        kills = int(os.environ.get("KEYPROM_KILLS", "100"))
        wrong = []
        landed = 0
        for trial in range(kills):
            process = self.start("set")
            process.stdin.write(values[(trial + 1) % 2] + b"\n")
            process.stdin.close()
            time.sleep(rng.uniform(0, span))
            process.kill()
            process.wait()
            process.stdout.close()
            process.stderr.close()
            code, out, err = self.get()
            if code != 0 or out not in values:
                wrong.append((trial, code, out))
            landed += out == values[(trial + 1) % 2]
        print("keyprom_test: %d kills (seed %d, set takes %.3f s): %d left the new key, %d neither key"
              % (kills, seed, span, landed, len(wrong)), flush=True)
        self.assertEqual(wrong, [])
        self.store(values[0] + b"\n")
        self.assert_gpio_released()

    def test_ending_signals_wait_for_the_protection(self):
        """SIGTERM, SIGINT or SIGHUP while the protection is lifted ends the
        set only once the line is protected and released again; the write
        goes through."""
        line = self.platform.path("%s/gpio%d/value" % (GPIO_CLASS, CRYPTO_LINE))
        for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=signum.name):
                value = signum.name.encode()
                process = self.start("set")
                process.stdin.write(value + b"\n")
                process.stdin.close()
                deadline = time.monotonic() + 30
                while time.monotonic() < deadline and not os.path.exists(line):
                    time.sleep(0.002)
                process.send_signal(signum)
                self.assertEqual(process.wait(timeout=60), -signum)
                process.stdout.close()
                process.stderr.close()
                self.assert_gpio_released()
                self.assertEqual(self.get(), (0, value, ""))

    def test_concurrent_writers_leave_one_whole_record(self):
        processes = [self.start("set") for _ in range(4)]
        for i, process in enumerate(processes):
            process.stdin.write(b"value%d\n" % i)
            process.stdin.close()
        for process in processes:
            self.assertEqual(process.wait(timeout=60), 0)
            process.stdout.close()
            process.stderr.close()
        code, out, err = self.get()
        self.assertEqual(code, 0)
        self.assertIn(out, [b"value%d" % i for i in range(4)])
        record = b"key=" + out + b"\n\x00"
        self.assertEqual(self.platform.key_partition(), record + b"\xff" * (256 - len(record)))
        self.assert_gpio_released()

    def test_readers_never_see_a_set_in_progress(self):
        """Gets during sets (4 writers, 2 readers): each get prints one whole
        stored value with status 0, never a torn value and never a missing
        key."""
        sets = 8

        def value(writer, index):
            return b"w%d-value-%03d-" % (writer, index) + b"x" * 40

        self.store(b"initial\n")
        stored = {b"initial"} | {value(w, i) for w in range(4) for i in range(sets)}
        problems = []
        gets = []
        writing = threading.Event()
        writing.set()

        def write(writer):
            for index in range(sets):
                code, _, err = self.run_keyprom("set", stdin=value(writer, index) + b"\n")
                if code != 0:
                    problems.append(("set", code, err))

        def read():
            while writing.is_set():
                code, out, err = self.get()
                gets.append(code)
                if (code, err) != (0, "") or out not in stored:
                    problems.append(("get", code, out[:60], err))

        writers = [threading.Thread(target=write, args=(w,)) for w in range(4)]
        readers = [threading.Thread(target=read) for _ in range(2)]
        for thread in writers + readers:
            thread.start()
        for thread in writers:
            thread.join()
        writing.clear()
        for thread in readers:
            thread.join()
        self.assertEqual(problems[:3], [], "%d of %d gets and sets went wrong" % (len(problems), len(gets) + 4 * sets))
        self.assertGreaterEqual(len(gets), 10, "too few gets overlapped the sets")


def main():
    args = scripttest.arguments("--keyprom", options=("--project-version",), extra=launcher_options)
    args.launcher = Launcher(args.emulator, args.shim, args.umockdev_preload)
    sys.exit(scripttest.run(args))


if __name__ == "__main__":
    main()
