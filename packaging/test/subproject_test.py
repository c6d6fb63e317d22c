#!/usr/bin/env python3
"""The checkout without its test-only packages: in a private mount namespace
where every file of GoogleTest, Google Benchmark, FFTW, clang/LLVM and
umockdev is hidden, the project configures with BUILD_TESTING=OFF (host and
device builds), builds in
full as another project's subproject (add_subdirectory), and that project's
programs run with the engine library of the build tree; a module folder that
is missing stops the configuration with an error.

Needs root (mount namespace); exits with 77 (skipped) otherwise.

usage: subproject_test.py --emulator "" --source <checkout> --work <folder>
"""
import ctypes
import os
import re
import shutil
import stat
import subprocess
import sys
import unittest

import scripttest  # tools/testing, on PYTHONPATH

CLONE_NEWNS = 0x00020000
MS_BIND, MS_REC, MS_PRIVATE = 4096, 16384, 1 << 18
# The packages only the tests, benchmarks and fuzzers need.
TEST_ONLY = re.compile(r"^(googletest|libgtest-dev|libgmock-dev|libbenchmark.*|.*fftw3.*|clang.*|libclang.*|"
                       r"llvm-14.*|libllvm14|umockdev|libumockdev.*|gir1\.2-umockdev.*)$")
libc = ctypes.CDLL(None, use_errno=True)


def mount(source, target, fstype, flags):
    if libc.mount(source.encode() if source else None, target.encode(), fstype.encode() if fstype else None,
                  flags, None) != 0:
        error = ctypes.get_errno()
        raise OSError(error, "mount %s: %s" % (target, os.strerror(error)))


def package_files():
    """(paths of the test-only packages, paths of every other package)."""
    hidden, others, names = set(), set(), set()
    info = "/var/lib/dpkg/info"
    for name in os.listdir(info):
        if not name.endswith(".list"):
            continue
        package = name[:-5].split(":")[0]
        with open(os.path.join(info, name), errors="replace") as f:
            paths = {line.rstrip("\n") for line in f}
        if TEST_ONLY.match(package):
            hidden |= paths
            names.add(package)
        else:
            others |= paths
    return hidden, others, names


def hide_test_only_packages():
    """Empty tmpfs over the folders only those packages own, /dev/null over
    their other files. Returns the package names."""
    hidden, others, names = package_files()
    covered = []
    for path in sorted(hidden):
        if any(path == c or path.startswith(c + "/") for c in covered):
            continue
        try:
            mode = os.lstat(path).st_mode
        except FileNotFoundError:
            continue
        if stat.S_ISDIR(mode) and path not in others:
            mount("none", path, "tmpfs", 0)
            covered.append(path)
        elif stat.S_ISREG(mode):
            mount("/dev/null", path, None, MS_BIND)
    return names


def run(command, cwd=None):
    result = subprocess.run(command, capture_output=True, text=True, cwd=cwd, timeout=1500)
    return result


class WithoutTestPackages(unittest.TestCase):
    def test_0_the_test_packages_are_hidden(self):
        r = run(["cmake", "-S", self.args.source, "-B", os.path.join(self.args.work, "testing"), "-G", "Ninja"])
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("GoogleTest sources missing", r.stderr)

    def test_1_top_level_configures_with_testing_off(self):
        build = os.path.join(self.args.work, "top")
        r = run(["cmake", "-S", self.args.source, "-B", build, "-G", "Ninja", "-DBUILD_TESTING=OFF"])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        with open(os.path.join(build, "build.ninja")) as f:
            ninja = f.read()
        self.assertNotIn("googletest", ninja)
        self.assertNotIn("benchmark", ninja)

    def test_1_device_build_configures_with_testing_off(self):
        build = os.path.join(self.args.work, "top-arm")
        r = run(["cmake", "-S", self.args.source, "-B", build, "-G", "Ninja", "-DBUILD_TESTING=OFF",
                 "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(self.args.source, "cmake/toolchain-armhf.cmake")])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_2_builds_as_a_subproject(self):
        build = os.path.join(self.args.work, "subproject")
        r = run(["cmake", "-S", os.path.join(os.path.dirname(os.path.abspath(__file__)), "subproject"),
                 "-B", build, "-G", "Ninja", "-DVOXAIM_SOURCE_DIR=" + self.args.source])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        r = run(["cmake", "--build", build, "-j", "2"])
        self.assertEqual(r.returncode, 0, r.stdout[-4000:] + r.stderr)
        for program in ("voxaim/platform/udev/eeprom/keyprom", "voxaim/functional/apps/kmsgwatch/kmsgwatch",
                        "voxaim/functional/audio/voxaim/voxaim_unittest"):
            self.assertTrue(os.access(os.path.join(build, program), os.X_OK), program)
        outputs = []
        for program in ("consumer_shared", "consumer_static"):
            r = run([os.path.join(build, program)])
            self.assertEqual(r.returncode, 0, program + ": " + r.stderr)
            self.assertEqual(len(r.stdout.splitlines()), 13, r.stdout)  # the version, 12 frames
            outputs.append(r.stdout)
        self.assertEqual(outputs[0], outputs[1])

    def test_3_a_missing_module_stops_the_configuration(self):
        mount("none", os.path.join(self.args.source, "platform/corestack"), "tmpfs", 0)
        build = os.path.join(self.args.work, "missing")
        r = run(["cmake", "-S", self.args.source, "-B", build, "-G", "Ninja", "-DBUILD_TESTING=OFF"])
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("Module platform/corestack is missing", r.stderr)


def main():
    args = scripttest.arguments(options=("--source", "--work"))
    if os.geteuid() != 0:
        print("subproject_test: needs root for a private mount namespace; skipped")
        return scripttest.SKIPPED
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    if libc.unshare(CLONE_NEWNS) != 0:
        print("subproject_test: unshare: %s; skipped" % os.strerror(ctypes.get_errno()))
        return scripttest.SKIPPED
    mount("none", "/", None, MS_REC | MS_PRIVATE)
    names = hide_test_only_packages()
    print("hidden: " + " ".join(sorted(names)), flush=True)
    return scripttest.run(args)


if __name__ == "__main__":
    sys.exit(main())
