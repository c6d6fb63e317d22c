#!/usr/bin/env python3
"""The Debian packages of a build (made by packaging/make_packages.py):

  - one .deb per package of the build's component list, with that Package,
    Version and Architecture, the architecture being the one of the ELF
    files inside (ARM: armhf, x86-64: amd64), or "all" for a package of
    scripts, the only kind that may depend on Python; a Depends field from
    the binaries (dpkg-shlibdeps);
  - every program (in bin, sbin, libexec) answers --version with its name and
    the packages' upstream version (run through the emulator where it is
    code for the device), but for the daemons, which run only inside their
    own tests' namespaces (kmsgwatch_e2e, selfcheckrun_e2e check theirs);
  - every ELF file stripped with a build id and, where the build has debug
    information, its debug symbols in <package>-dbgsym_<version>_<arch>.ddeb
    under that id;
  - the shared library's package: its shlibs file, a symbols file that names
    exactly the library's exported functions, and the ldconfig trigger;
  - lintian (pedantic, with its informational tags) reports no error, no
    hardening tag, no ldconfig call in a maintainer script and no missing
    symbols file.

usage: packages_test.py --emulator "<prefix>" --build <tree> --packages <folder> [--make]
  --make  makes the packages into the folder first
"""
import argparse
import glob
import os
import re
import shlex
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from make_packages import cpack_settings, make_packages, read, run  # noqa: E402
from scripttest import Failures  # noqa: E402  (tools/testing)

MACHINES = {"ARM": "armhf", "Advanced Micro Devices X86-64": "amd64"}
# The packages are for devices, not for uploading to Debian.
LINTIAN_SUPPRESS = ["initial-upload-closes-no-bugs"]
LINTIAN_REFUSED = re.compile(r"^\w: \S+: (hardening-\S+|maintscript-calls-ldconfig|no-symbols-control-file)\b", re.M)


def elf_files(root):
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                with open(path, "rb") as f:
                    if f.read(4) == b"\x7fELF":
                        yield path


# Never started on this machine: they act on its kernel log, /run and /var/log.
DAEMONS = {"kmsgwatch", "selfcheckrun"}


def check_versions(c, s, root, binaries, emulator):
    version = s["version"].rsplit("-", 1)[0]
    for folder in ("usr/bin", "usr/sbin", "usr/libexec"):
        for parent, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                program = os.path.join(parent, name)
                if not os.access(program, os.X_OK) or name in DAEMONS:
                    continue
                command = (emulator if program in binaries else []) + [program, "--version"]
                r = subprocess.run(command, capture_output=True, text=True, timeout=300)
                c.equal((r.returncode, r.stdout), (0, "%s %s\n" % (name, version)), "%s --version" % name)


def check_package(c, s, folder, package, scratch, emulator):
    arch = s["package_arch"][package]
    deb = os.path.join(folder, "%s_%s_%s.deb" % (package, s["version"], arch))
    c.check(os.path.exists(deb), "%s made" % deb)
    if not os.path.exists(deb):
        return
    fields = {f: run(["dpkg-deb", "-f", deb, f]).strip() for f in ("Package", "Version", "Architecture", "Depends")}
    c.equal((fields["Package"], fields["Version"], fields["Architecture"]), (package, s["version"], arch),
            "%s: Package, Version, Architecture" % deb)
    # The device image has no Python: only the plotting package and the
    # Python module's package need it.
    c.check(arch == "all" or package.startswith("python3-") or "python" not in fields["Depends"], "%s: depends on no Python package" % package,
            fields["Depends"])
    root = os.path.join(scratch, package)
    run(["dpkg-deb", "-x", deb, root])
    debug_root = os.path.join(scratch, package + "-dbgsym")
    ddeb = os.path.join(folder, "%s-dbgsym_%s_%s.ddeb" % (package, s["version"], s["arch"]))
    binaries = list(elf_files(root))
    check_versions(c, s, root, binaries, emulator)
    if binaries:
        c.check(os.path.exists(ddeb) == s["debug"], "%s made only where the build has debug information" % ddeb)
        if s["debug"] and os.path.exists(ddeb):
            run(["dpkg-deb", "-x", ddeb, debug_root])
            sums = run(["dpkg-deb", "-I", ddeb, "md5sums"])
            c.check(all(line.split(None, 1)[1].startswith("usr/lib/debug/.build-id/") for line in sums.splitlines()),
                    "%s: md5sums" % ddeb, sums)
        c.check(re.search(r"\blibc6 \(>=", fields["Depends"]) is not None,
                "%s: Depends from the binaries" % package, fields["Depends"])
    for binary in binaries:
        name = "%s/%s" % (package, os.path.relpath(binary, root))
        machine = re.search(r"Machine:\s+(.*)", run([s["readelf"], "-h", binary])).group(1).strip()
        c.equal(MACHINES.get(machine), s["arch"], "%s: architecture of the code" % name)
        sections = run([s["readelf"], "-S", "-W", binary])
        c.check(".symtab" not in sections and ".debug_info" not in sections, "%s: stripped" % name)
        build_id = re.search(r"Build ID: ([0-9a-f]+)", run([s["readelf"], "-n", binary]))
        c.check(build_id is not None, "%s: has a build id" % name)
        if build_id and s["debug"]:
            debug = os.path.join(debug_root, "usr/lib/debug/.build-id", build_id.group(1)[:2],
                                 build_id.group(1)[2:] + ".debug")
            c.check(os.path.exists(debug) and ".debug_info" in run([s["readelf"], "-S", "-W", debug]),
                    "%s: debug symbols in %s" % (name, os.path.basename(ddeb)))
    for library in glob.glob(os.path.join(root, "usr/lib/*/lib*.so.*.*")):
        control = os.path.join(scratch, package + "-control")
        run(["dpkg-deb", "-e", deb, control])
        shlibs = read(os.path.join(control, "shlibs"))
        c.check(re.search(r"^libvoxaim 1 %s \(>= %s\)$" % (package, re.escape(s["version"])), shlibs, re.M),
                "%s: shlibs" % package, shlibs)
        exported = {line.split()[7] for line in run([s["readelf"], "--dyn-syms", "-W", library]).splitlines()
                    if re.search(r"\bGLOBAL +DEFAULT +\d+ ", line)}
        listed = set(re.findall(r"^ (\S+)@Base ", read(os.path.join(control, "symbols")), re.M))
        c.equal(sorted(listed), sorted(exported), "%s: the symbols file names the library's exports" % package)
        c.check("activate-noawait ldconfig" in read(os.path.join(control, "triggers")), "%s: ldconfig trigger"
                % package)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--emulator", default="")
    parser.add_argument("--build", required=True)
    parser.add_argument("--packages", required=True)
    parser.add_argument("--make", action="store_true")
    args = parser.parse_args()
    if args.make:
        make_packages(args.build, args.packages)
    s = cpack_settings(args.build)

    c = Failures()
    with tempfile.TemporaryDirectory() as scratch:
        for package in s["packages"]:
            check_package(c, s, args.packages, package, scratch, shlex.split(args.emulator))
    files = [os.path.join(args.packages, "%s%s_%s_%s.%s" % (p, suffix, s["version"], s["package_arch"][p], kind))
             for p in s["packages"] for suffix, kind in (("", "deb"), ("-dbgsym", "ddeb"))]
    lintian = subprocess.run(["lintian", "--display-info", "--pedantic", "--fail-on", "error", "--tag-display-limit", "0",
                              "--suppress-tags", ",".join(LINTIAN_SUPPRESS), *filter(os.path.exists, files)],
                             capture_output=True, text=True)
    print(lintian.stdout, end="", flush=True)
    c.equal(lintian.returncode, 0, "lintian: no errors")
    c.equal(LINTIAN_REFUSED.findall(lintian.stdout), [], "lintian: no hardening, ldconfig or symbols file tag")
    c.finish()


if __name__ == "__main__":
    main()
