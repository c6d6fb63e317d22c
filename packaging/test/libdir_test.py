#!/usr/bin/env python3
"""The device build's library folder as Debian's cross build gives it: with
-DCMAKE_INSTALL_LIBDIR=lib/<triplet> on the command line (debhelper passes
it so), configuring keeps it relative to the prefix: the library and
voxaim.pc go to /usr/lib/<triplet>, not to a folder named after the build
folder. Without it, the device build picks the same multiarch folder.

usage: libdir_test.py --emulator "<prefix>" --source <checkout> --toolchain <file> --multiarch <triplet>
       --work <scratch folder>
"""
import os
import re
import shutil
import subprocess

import scripttest  # tools/testing


def configure(args, build, *options):
    shutil.rmtree(build, ignore_errors=True)
    subprocess.run(["cmake", "-S", args.source, "-B", build, "-G", "Ninja", "-DCMAKE_TOOLCHAIN_FILE=" + args.toolchain,
                    "-DCMAKE_INSTALL_PREFIX=/usr", "-DBUILD_TESTING=OFF", *options],
                   check=True, capture_output=True, text=True, timeout=300)
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        libdir = re.search(r"^CMAKE_INSTALL_LIBDIR:\w+=(.*)$", f.read(), re.M).group(1)
    with open(os.path.join(build, "functional/audio/voxaim/voxaim.pc")) as f:
        pc_libdir = re.search(r"^libdir=(.*)$", f.read(), re.M).group(1)
    return libdir, pc_libdir


def main():
    args = scripttest.arguments(options=("--source", "--toolchain", "--multiarch", "--work"), checks=True)
    expected = ("lib/" + args.multiarch, "${prefix}/lib/" + args.multiarch)
    c = scripttest.Failures()
    c.equal(configure(args, os.path.join(args.work, "given"), "-DCMAKE_INSTALL_LIBDIR=lib/" + args.multiarch),
            expected, "CMAKE_INSTALL_LIBDIR given: the cache and voxaim.pc")
    c.equal(configure(args, os.path.join(args.work, "default")), expected,
            "CMAKE_INSTALL_LIBDIR not given: the cache and voxaim.pc")
    shutil.rmtree(args.work)
    c.finish()


if __name__ == "__main__":
    main()
