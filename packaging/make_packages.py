#!/usr/bin/env python3
"""Makes the Debian packages of a built tree with CPack: one .deb per package
of the build's component list, <package>_<version>_<architecture>.deb, and,
where the build has debug information, <package>-dbgsym_<version>_<arch>.ddeb
beside each package with binaries.

Two things CPack (3.25) does unlike Debian are mended before the packages
are moved out: the md5sums of a -dbgsym package name the paths of its
staging folder (rewritten relative to the package root, with the
documentation link Debian's debug packages carry), and a shared library's
package gets ldconfig calls in its postinst and postrm besides its ldconfig
trigger (the scripts are dropped: the trigger does that work).

usage: make_packages.py --build <tree> --out <folder>

The packages go to the output folder (files of the same names are replaced);
their paths are printed. packaging/test/packages_test.py checks them.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys

# What CPack writes as postinst and postrm of a package with a shared library.
CPACK_LDCONFIG_SCRIPT = re.compile(r'\A#!/bin/sh\s+set -e\s+if \[ "\$1" = "(configure|remove)" \]; then\s+'
                                   r'ldconfig\s+fi\s*\Z')


def read(path):
    if not os.path.exists(path):
        return ""
    with open(path) as f:
        return f.read()


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, check=True, **kwargs).stdout


def cpack_settings(build):
    """The settings of the build's CPackConfig.cmake the packages follow."""
    config = read(os.path.join(build, "CPackConfig.cmake"))

    def setting(name, default=None):
        match = re.search(r'^set\(%s "([^"]*)"\)' % re.escape(name), config, re.M)
        if not match and default is None:
            sys.exit("make_packages: %s not set in %s/CPackConfig.cmake" % (name, build))
        return match.group(1) if match else default

    packages = setting("CPACK_COMPONENTS_ALL").split(";")
    arch = setting("CPACK_DEBIAN_PACKAGE_ARCHITECTURE")
    return {"packages": packages,
            "version": "%s-%s" % (setting("CPACK_PACKAGE_VERSION"), setting("CPACK_DEBIAN_PACKAGE_RELEASE")),
            "arch": arch,
            # A package of scripts only is for every architecture ("all").
            "package_arch": {p: setting("CPACK_DEBIAN_%s_PACKAGE_ARCHITECTURE" % p.upper(), arch) for p in packages},
            "readelf": setting("CPACK_READELF_EXECUTABLE"),
            "debug": setting("CPACK_DEBIAN_DEBUGINFO_PACKAGE", "OFF") == "ON"}


def rebuild(path, root):
    run(["dpkg-deb", "--root-owner-group", "-b", root, path])
    shutil.rmtree(root)


def repair_debug_package(path, package, scratch):
    """Rewrites the md5sums of a -dbgsym package relative to its root and adds
    the link /usr/share/doc/<package>-dbgsym -> <package>."""
    root = os.path.join(scratch, os.path.basename(path) + ".root")
    run(["dpkg-deb", "-R", path, root])
    md5sums = os.path.join(root, "DEBIAN", "md5sums")
    lines = []
    for line in read(md5sums).splitlines(keepends=True):
        digest, name = line.rstrip("\n").split(None, 1)
        marker = "/%s-dbgsym/" % package
        if marker in name:
            name = name.split(marker, 1)[1]
        lines.append("%s  %s\n" % (digest, name))
    with open(md5sums, "w") as f:
        f.writelines(lines)
    doc = os.path.join(root, "usr/share/doc")
    os.makedirs(doc, exist_ok=True)
    os.symlink(package, os.path.join(doc, package + "-dbgsym"))
    rebuild(path, root)


def drop_ldconfig_scripts(path, scratch):
    """Removes CPack's ldconfig-only postinst and postrm from a package that
    has the ldconfig trigger; any other package is left as it is."""
    triggers = run(["dpkg-deb", "-I", path, "triggers"]) if "triggers" in run(["dpkg-deb", "-I", path]) else ""
    if "activate-noawait ldconfig" not in triggers:
        return
    root = os.path.join(scratch, os.path.basename(path) + ".root")
    run(["dpkg-deb", "-R", path, root])
    for script in ("postinst", "postrm"):
        script = os.path.join(root, "DEBIAN", script)
        if CPACK_LDCONFIG_SCRIPT.match(read(script)):
            os.remove(script)
    rebuild(path, root)


def make_packages(build, out):
    """Makes the packages of `build` into `out`; returns their paths."""
    staging = os.path.join(build, "_packages")
    shutil.rmtree(staging, ignore_errors=True)
    result = subprocess.run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"),
                             "-B", staging], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("make_packages: cpack failed\n" + result.stdout + result.stderr)
    os.makedirs(out, exist_ok=True)
    made = []
    for path in sorted(glob.glob(os.path.join(staging, "*.deb")) + glob.glob(os.path.join(staging, "*.ddeb"))):
        if path.endswith(".ddeb"):
            repair_debug_package(path, os.path.basename(path).split("-dbgsym_")[0], staging)
        else:
            drop_ldconfig_scripts(path, staging)
        made.append(os.path.join(out, os.path.basename(path)))
        shutil.move(path, made[-1])
    shutil.rmtree(staging)
    return made


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    for path in make_packages(args.build, args.out):
        print("made " + path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
