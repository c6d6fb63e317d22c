#!/usr/bin/env python3
"""Makes the Debian packages of a built tree with CPack and checks them:

  - one .deb per package of the build's component list, named
    <package>_<version>_<architecture>.deb, with that Package, Version and
    Architecture, the architecture being the one of the ELF files inside
    (ARM: armhf, x86-64: amd64), or "all" for a package of scripts, the
    only kind that may depend on Python;
  - every ELF file stripped (no symbol table, no debug information), its
    debug symbols in <package>-dbgsym_<version>_<architecture>.ddeb under its
    build id, and a Depends field from the binaries (dpkg-shlibdeps);
  - the shared library's package with its shlibs file and ldconfig trigger;
  - lintian reports no error.

usage: make_packages.py [--emulator "<prefix>"] --build <tree> --out <folder>

The packages go to the output folder (files of the same names are replaced).
Exit status 0 when every check passed.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

MACHINES = {"ARM": "armhf", "Advanced Micro Devices X86-64": "amd64"}
# The packages are for devices, not for uploading to Debian.
LINTIAN_SUPPRESS = ["initial-upload-closes-no-bugs"]


def read(path):
    if not os.path.exists(path):
        return ""
    with open(path) as f:
        return f.read()


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, check=True, **kwargs).stdout


def cpack_setting(config, name, default=None):
    match = re.search(r'^set\(%s "([^"]*)"\)' % re.escape(name), config, re.M)
    if not match and default is None:
        sys.exit("make_packages: %s not set in CPackConfig.cmake" % name)
    return match.group(1) if match else default


def elf_files(root):
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                with open(path, "rb") as f:
                    if f.read(4) == b"\x7fELF":
                        yield path


def repair_debug_package(path, package, scratch):
    """CPack (3.25) writes the md5sums of a -dbgsym package with the paths of
    its staging folder; rewrites them relative to the package root, adds the
    documentation link Debian's debug packages carry, and rebuilds it."""
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
    run(["dpkg-deb", "--root-owner-group", "-b", root, path])
    shutil.rmtree(root)


class Checker:
    def __init__(self):
        self.failures = 0
        self.passed = 0

    def check(self, condition, what):
        if condition:
            self.passed += 1
        else:
            self.failures += 1
            print("FAILED: " + what, flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--emulator", default="")
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    config_path = os.path.join(args.build, "CPackConfig.cmake")
    config = read(config_path)
    packages = cpack_setting(config, "CPACK_COMPONENTS_ALL").split(";")
    version = "%s-%s" % (cpack_setting(config, "CPACK_PACKAGE_VERSION"),
                         cpack_setting(config, "CPACK_DEBIAN_PACKAGE_RELEASE"))
    arch = cpack_setting(config, "CPACK_DEBIAN_PACKAGE_ARCHITECTURE")
    readelf = cpack_setting(config, "CPACK_READELF_EXECUTABLE")

    staging = os.path.join(args.build, "_packages")
    shutil.rmtree(staging, ignore_errors=True)
    result = subprocess.run(["cpack", "-G", "DEB", "--config", config_path, "-B", staging],
                            capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("make_packages: cpack failed\n" + result.stdout + result.stderr)
    os.makedirs(args.out, exist_ok=True)
    made = sorted(glob.glob(os.path.join(staging, "*.deb")) + glob.glob(os.path.join(staging, "*.ddeb")))
    for path in made:
        if path.endswith(".ddeb"):
            repair_debug_package(path, os.path.basename(path).split("-dbgsym_")[0], staging)
        shutil.move(path, os.path.join(args.out, os.path.basename(path)))
    shutil.rmtree(staging)

    c = Checker()
    debs = [os.path.join(args.out, os.path.basename(path)) for path in made]
    with tempfile.TemporaryDirectory() as scratch:
        for package in packages:
            # A package of scripts only is for every architecture ("all").
            package_arch = cpack_setting(config, "CPACK_DEBIAN_%s_PACKAGE_ARCHITECTURE" % package.upper(), arch)
            deb = os.path.join(args.out, "%s_%s_%s.deb" % (package, version, package_arch))
            c.check(os.path.exists(deb), "%s made" % deb)
            if not os.path.exists(deb):
                continue
            fields = {f: run(["dpkg-deb", "-f", deb, f]).strip() for f in ("Package", "Version", "Architecture",
                                                                        "Depends")}
            c.check((fields["Package"], fields["Version"], fields["Architecture"]) == (package, version, package_arch),
                    "%s: Package, Version, Architecture %s" % (deb, fields))
            # The device image has no Python: only the plotting package needs it.
            c.check(package_arch == "all" or "python" not in fields["Depends"],
                    "%s: depends on no Python package: %r" % (package, fields["Depends"]))
            root = os.path.join(scratch, package)
            run(["dpkg-deb", "-x", deb, root])
            debug_root = os.path.join(scratch, package + "-dbgsym")
            ddeb = os.path.join(args.out, "%s-dbgsym_%s_%s.ddeb" % (package, version, arch))
            binaries = list(elf_files(root))
            if binaries:
                c.check(os.path.exists(ddeb), "%s made" % ddeb)
                if os.path.exists(ddeb):
                    run(["dpkg-deb", "-x", ddeb, debug_root])
                    sums = run(["dpkg-deb", "-I", ddeb, "md5sums"])
                    c.check(all(line.split(None, 1)[1].startswith("usr/lib/debug/.build-id/")
                                for line in sums.splitlines()), "%s: md5sums %r" % (ddeb, sums))
                c.check(re.search(r"\blibc6 \(>=", fields["Depends"]) is not None,
                        "%s: Depends from the binaries: %r" % (package, fields["Depends"]))
            for binary in binaries:
                name = os.path.relpath(binary, root)
                header = run([readelf, "-h", binary])
                machine = re.search(r"Machine:\s+(.*)", header).group(1).strip()
                c.check(MACHINES.get(machine) == arch, "%s/%s: %s code in an %s package" % (package, name, machine,
                                                                                         arch))
                sections = run([readelf, "-S", "-W", binary])
                c.check(".symtab" not in sections and ".debug_info" not in sections,
                        "%s/%s: stripped" % (package, name))
                build_id = re.search(r"Build ID: ([0-9a-f]+)", run([readelf, "-n", binary]))
                c.check(build_id is not None, "%s/%s: has a build id" % (package, name))
                if build_id:
                    debug = os.path.join(debug_root, "usr/lib/debug/.build-id", build_id.group(1)[:2],
                                         build_id.group(1)[2:] + ".debug")
                    c.check(os.path.exists(debug) and ".debug_info" in run([readelf, "-S", "-W", debug]),
                            "%s/%s: debug symbols in %s" % (package, name, os.path.basename(ddeb)))
            if glob.glob(os.path.join(root, "usr/lib/*/lib*.so.*")):
                control = os.path.join(scratch, package + "-control")
                run(["dpkg-deb", "-e", deb, control])
                shlibs = read(os.path.join(control, "shlibs"))
                c.check(re.search(r"^libvoxaim 1 %s \(>= %s\)$" % (package, re.escape(version)), shlibs, re.M),
                        "%s: shlibs %r" % (package, shlibs))
                triggers = os.path.join(control, "triggers")
                c.check(os.path.exists(triggers) and "activate-noawait ldconfig" in read(triggers),
                        "%s: ldconfig trigger" % package)

    lintian = subprocess.run(["lintian", "--fail-on", "error", "--tag-display-limit", "0",
                              "--suppress-tags", ",".join(LINTIAN_SUPPRESS), *debs],
                             capture_output=True, text=True)
    print(lintian.stdout, end="", flush=True)
    c.check(lintian.returncode == 0, "lintian: no errors (status %d)" % lintian.returncode)

    for path in made:
        print("made " + os.path.join(args.out, os.path.basename(path)))
    print("%d passed, %d failed" % (c.passed, c.failures))
    return 0 if c.failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
