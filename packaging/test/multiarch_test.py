#!/usr/bin/env python3
"""libvoxaim1 and libvoxaim-dev of two architectures side by side, as a
Debian cross build of a library user needs them: both pairs installed with
dpkg into one scratch root (dpkg --root, armhf added as a foreign
architecture), then a C program built for the second architecture against
that root with pkg-config (PKG_CONFIG_SYSROOT_DIR, PKG_CONFIG_LIBDIR: the
recipe of docs/operating.md) and with find_package(voxaim), and run; finally a purge of
all four packages leaves nothing of them in the root.

usage: multiarch_test.py --emulator "<prefix>" --packages <folder> --native-packages <folder>
       --consumer <folder> --toolchain <file> --cc <C compiler>
  --packages         the armhf packages (this build's)
  --native-packages  the amd64 packages (the native preset's); the test is
                     skipped (77) when they are not there
"""
import glob
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

from scripttest import Failures, arguments  # tools/testing

PACKAGES = ("libvoxaim1", "libvoxaim-dev")
TRIPLET = "arm-linux-gnueabihf"


def run(command, env=None):
    result = subprocess.run(command, capture_output=True, text=True, env=env, timeout=600)
    if result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (shlex.join(command), result.returncode,
                                                         result.stdout, result.stderr))
    return result.stdout


def debs(folder, arch):
    found = []
    for package in PACKAGES:
        matches = glob.glob(os.path.join(folder, "%s_*_%s.deb" % (package, arch)))
        if len(matches) != 1:
            return None
        found += matches
    return found


def dpkg(root, *arguments):
    # No maintainer script runs: the library's packages have none (ldconfig
    # is their trigger, which no package of this root waits for).
    return subprocess.run(["dpkg", "--root=" + root, "--log=/dev/null", *arguments],
                          capture_output=True, text=True, timeout=300)


def run_consumer(c, name, program, emulator, libdir):
    result = subprocess.run(emulator + ["-E", "LD_LIBRARY_PATH=" + libdir, program], capture_output=True,
                            text=True, timeout=300)
    lines = result.stdout.splitlines()
    c.check(result.returncode == 0 and len(lines) == 13 and lines[0].startswith("voxaim "),
            "%s: runs and prints the version and 12 frames" % name, result.stdout + result.stderr)
    machine = run(["readelf", "-h", program])
    c.check("Machine:                           ARM" in machine, "%s: ARM code" % name)
    c.check("libvoxaim.so.1" in run(["readelf", "-d", program]), "%s: NEEDED libvoxaim.so.1" % name)


def main():
    args = arguments(options=("--packages", "--native-packages", "--consumer", "--toolchain", "--cc"), checks=True)
    armhf, amd64 = debs(args.packages, "armhf"), debs(args.native_packages, "amd64")
    if not armhf:
        sys.exit("multiarch_test: no armhf %s in %s" % (" and ".join(PACKAGES), args.packages))
    if not amd64:
        print("multiarch_test: skipped: no amd64 %s in %s (the native preset's packages_test makes them)"
              % (" and ".join(PACKAGES), args.native_packages))
        sys.exit(77)
    emulator = args.emulator

    c = Failures()
    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "root")
        admin = os.path.join(root, "var/lib/dpkg")
        for folder in ("updates", "info", "triggers"):
            os.makedirs(os.path.join(admin, folder))
        open(os.path.join(admin, "status"), "w").close()
        r = dpkg(root, "--add-architecture", "armhf")
        c.equal((r.returncode, r.stderr), (0, ""), "dpkg --add-architecture armhf")
        # Their dependencies (libc6, libstdc++6) are not in the scratch root.
        r = dpkg(root, "--force-depends", "--install", *amd64, *armhf)
        c.equal(r.returncode, 0, "dpkg --install of both architectures' packages")
        c.check("over (" not in r.stdout, "neither architecture's package replaces the other", r.stdout)
        status = run(["dpkg-query", "--admindir=" + admin, "-W", "-f", "${Package}:${Architecture} ${Status}\n"])
        c.equal(sorted(status.splitlines()),
                sorted("%s:%s install ok installed" % (p, a) for p in PACKAGES for a in ("amd64", "armhf")),
                "both pairs installed")

        # pkg-config against the staged root, as docs/operating.md says.
        libdir = os.path.join(root, "usr/lib", TRIPLET)
        env = dict(os.environ, PKG_CONFIG_SYSROOT_DIR=root,
                   PKG_CONFIG_LIBDIR=os.path.join(libdir, "pkgconfig") + ":" + os.path.join(root, "usr/share/pkgconfig"))
        flags = shlex.split(run(["pkg-config", "--cflags", "--libs", "voxaim"], env=env))
        program = os.path.join(work, "consumer_pkg_config")
        run([args.cc, os.path.join(args.consumer, "consumer.c"), *flags, "-lm", "-o", program])
        run_consumer(c, "pkg-config", program, emulator, libdir)

        # find_package(voxaim) from the same root.
        build = os.path.join(work, "cmake")
        run(["cmake", "-S", args.consumer, "-B", build, "-G", "Ninja", "-DCMAKE_TOOLCHAIN_FILE=" + args.toolchain,
             "-DCMAKE_PREFIX_PATH=" + os.path.join(root, "usr"), "-DCMAKE_BUILD_TYPE=Release"])
        run(["cmake", "--build", build, "--target", "consumer_shared"])
        run_consumer(c, "find_package", os.path.join(build, "consumer_shared"), emulator, libdir)

        r = dpkg(root, "--purge", *("%s:%s" % (p, a) for p in PACKAGES for a in ("amd64", "armhf")))
        c.equal(r.returncode, 0, "dpkg --purge", )
        left = [os.path.relpath(os.path.join(f, n), root) for f, _, names in os.walk(root) for n in names
                if "voxaim" in os.path.join(f, n)]
        c.equal(left, [], "nothing of the packages left after the purge")
        shutil.rmtree(build)
    c.finish()


if __name__ == "__main__":
    main()
