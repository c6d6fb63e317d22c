#!/usr/bin/env python3
"""The Debian packages of the source package packaging/debian
(tools/package.sh builds them with dpkg-buildpackage):

  - one .deb per binary package of debian/control, with that Package,
    Version (debian/changelog's, whose upstream part is the project's) and
    Architecture, the architecture being the one of the ELF files inside
    (ARM: armhf, x86-64: amd64), or "all" for a package of scripts, the only
    kind that may depend on Python but for the Python module's package
    python3-*; a Depends field from the binaries
    (dh_shlibdeps);
  - made from a build folder (--make-from), every package holds exactly the
    files that folder installs for the CMake component of its name (the
    *.install, *.manpages and *.bash-completion files miss nothing and put
    nothing into the wrong package);
  - every program (in bin, sbin, libexec) answers --version with its name and
    the packages' upstream version (run through the emulator where it is
    code for the device), but for the daemons, which run only inside their
    own tests' namespaces (kmsgwatch_e2e, selfcheckrun_e2e check theirs);
  - every ELF file stripped with a build id and, where the build has debug
    information, its debug symbols in <package>-dbgsym_<version>_<arch>.deb
    under that id;
  - the shared library's package: its shlibs file, a symbols file that names
    exactly the library's exported functions, and the ldconfig trigger;
  - lintian (pedantic, with its informational tags) reports no error, no
    warning (but initial-upload-closes-no-bugs: the packages are for
    devices, not for Debian), no hardening tag, no ldconfig call in a
    maintainer script and no missing symbols file.

usage: packages_test.py --emulator "<prefix>" --arch <arch> --source <checkout> --packages <folder>
                        [--debug 0|1] [--project-version <version>] [--make-from <build folder>]
  --make-from  makes the packages of that build folder into the folder first
               (tools/package.sh --tree), and compares them with its install
               components
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

from scripttest import Failures, arguments  # noqa: E402  (tools/testing)


def read(path):
    if not os.path.exists(path):
        return ""
    with open(path) as f:
        return f.read()


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, check=True, **kwargs).stdout


def source_settings(source, arch):
    """The packages of debian/control and their architectures, and the
    version of debian/changelog."""
    debian = os.path.join(source, "packaging", "debian")
    packages, package_arch = [], {}
    for stanza in read(os.path.join(debian, "control")).split("\n\n"):
        name = re.search(r"^Package: (\S+)", stanza, re.M)
        if name:
            packages.append(name.group(1))
            declared = re.search(r"^Architecture: (\S+)", stanza, re.M).group(1)
            package_arch[name.group(1)] = "all" if declared == "all" else arch
    version = run(["dpkg-parsechangelog", "-l", os.path.join(debian, "changelog"), "-S", "Version"]).strip()
    return {"packages": packages, "package_arch": package_arch, "version": version, "arch": arch}


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
    # Python module's need it.
    c.check(arch == "all" or package.startswith("python3-") or "python" not in fields["Depends"],
            "%s: depends on no Python package" % package,
            fields["Depends"])
    root = os.path.join(scratch, package)
    run(["dpkg-deb", "-x", deb, root])
    debug_root = os.path.join(scratch, package + "-dbgsym")
    ddeb = os.path.join(folder, "%s-dbgsym_%s_%s.deb" % (package, s["version"], s["arch"]))
    binaries = list(elf_files(root))
    check_versions(c, s, root, binaries, emulator)
    if binaries:
        c.check(os.path.exists(ddeb) == s["debug"], "%s made only where the build has debug information" % ddeb)
        if s["debug"] and os.path.exists(ddeb):
            run(["dpkg-deb", "-x", ddeb, debug_root])
            sums = run(["dpkg-deb", "-I", ddeb, "md5sums"])
            c.check(all(line.split(None, 1)[1].startswith("usr/lib/debug/") for line in sums.splitlines()),
                    "%s: md5sums" % ddeb, sums)
        c.check(re.search(r"\blibc6 \(>=", fields["Depends"]) is not None,
                "%s: Depends from the binaries" % package, fields["Depends"])
    for binary in binaries:
        name = "%s/%s" % (package, os.path.relpath(binary, root))
        machine = re.search(r"Machine:\s+(.*)", run(["readelf", "-h", binary])).group(1).strip()
        c.equal(MACHINES.get(machine), s["arch"], "%s: architecture of the code" % name)
        sections = run(["readelf", "-S", "-W", binary])
        c.check(".symtab" not in sections and ".debug_info" not in sections, "%s: stripped" % name)
        build_id = re.search(r"Build ID: ([0-9a-f]+)", run(["readelf", "-n", binary]))
        c.check(build_id is not None, "%s: has a build id" % name)
        if build_id and s["debug"]:
            debug = os.path.join(debug_root, "usr/lib/debug/.build-id", build_id.group(1)[:2],
                                 build_id.group(1)[2:] + ".debug")
            c.check(os.path.exists(debug) and ".debug_info" in run(["readelf", "-S", "-W", debug]),
                    "%s: debug symbols in %s" % (name, os.path.basename(ddeb)))
    for library in glob.glob(os.path.join(root, "usr/lib/*/lib*.so.*.*")):
        control = os.path.join(scratch, package + "-control")
        run(["dpkg-deb", "-e", deb, control])
        shlibs = read(os.path.join(control, "shlibs"))
        upstream = re.escape(s["version"].rsplit("-", 1)[0])
        c.check(re.search(r"^libvoxaim 1 %s \(>= %s\)$" % (package, upstream), shlibs, re.M),
                "%s: shlibs" % package, shlibs)
        exported = {line.split()[7] for line in run(["readelf", "--dyn-syms", "-W", library]).splitlines()
                    if re.search(r"\bGLOBAL +DEFAULT +\d+ ", line)}
        listed = set(re.findall(r"^ (\S+)@Base ", read(os.path.join(control, "symbols")), re.M))
        c.equal(sorted(listed), sorted(exported), "%s: the symbols file names the library's exports" % package)
        c.check("activate-noawait ldconfig" in read(os.path.join(control, "triggers")), "%s: ldconfig trigger"
                % package)


def component_files(tree, component, scratch):
    """The paths that `cmake --install` of the build folder puts into the
    component (with Debian's /usr prefix)."""
    root = os.path.join(scratch, "component-" + component)
    run(["cmake", "--install", tree, "--component", component], env=dict(os.environ, DESTDIR=root))
    return tree_paths(root)


def tree_paths(root):
    paths = set()
    for folder, dirs, files in os.walk(root):
        relative = os.path.relpath(folder, root)
        paths.update(os.path.normpath(os.path.join("/", relative, n)) for n in files)
        paths.update(os.path.normpath(os.path.join("/", relative, d)) + "/" for d in dirs
                     if os.path.islink(os.path.join(folder, d)) or not os.listdir(os.path.join(folder, d)))
    return paths


def check_components(c, s, tree, scratch):
    """Every package holds what its component installs, but for the
    copyright and changelog that Debian adds to each."""
    for package in s["packages"]:
        root = os.path.join(scratch, package)
        if not os.path.isdir(root):
            continue
        packaged = {p for p in tree_paths(root)
                    if not re.fullmatch(r"/usr/share/doc/[^/]+/(copyright|changelog\.Debian\.gz)", p)}
        c.equal(sorted(packaged), sorted(component_files(tree, package, scratch)),
                "%s: the files of component %s" % (package, package))


def main():
    def options(parser):
        parser.add_argument("--debug", type=int, default=1)
        parser.add_argument("--project-version")
        parser.add_argument("--make-from")
    args = arguments(options=("--arch", "--source", "--packages"), extra=options, checks=True)
    if args.make_from:
        for old in glob.glob(os.path.join(args.packages, "*.deb")):
            os.remove(old)
        run([os.path.join(args.source, "tools", "package.sh"), "--tree", args.make_from, "--arch", args.arch,
             "--out", args.packages])
    s = source_settings(args.source, args.arch)
    s["debug"] = bool(args.debug)

    c = Failures()
    if args.project_version:
        c.equal(s["version"].rsplit("-", 1)[0], args.project_version,
                "debian/changelog: the upstream version is the project's")
    with tempfile.TemporaryDirectory() as scratch:
        for package in s["packages"]:
            check_package(c, s, args.packages, package, scratch, args.emulator)
        if args.make_from:
            check_components(c, s, args.make_from, scratch)
    files = [os.path.join(args.packages, "%s%s_%s_%s.deb" % (p, suffix, s["version"], s["package_arch"][p]))
             for p in s["packages"] for suffix in ("", "-dbgsym")]
    lintian = subprocess.run(["lintian", "--display-info", "--pedantic", "--fail-on", "error,warning", "--tag-display-limit", "0",
                              "--suppress-tags", ",".join(LINTIAN_SUPPRESS), *filter(os.path.exists, files)],
                             capture_output=True, text=True)
    print(lintian.stdout, end="", flush=True)
    c.equal(lintian.returncode, 0, "lintian: no errors and no warnings")
    c.equal(LINTIAN_REFUSED.findall(lintian.stdout), [], "lintian: no hardening, ldconfig or symbols file tag")
    c.finish()


if __name__ == "__main__":
    main()
