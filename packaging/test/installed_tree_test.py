#!/usr/bin/env python3
"""The installed tree: installs the build into a scratch DESTDIR and checks
that it holds exactly the expected files, that the engine library exports the
C interface of voxaim.h and nothing else, that the systemd units verify, and
that C programs build against it with find_package(voxaim) and with
pkg-config, for the build's own target (run through the emulator for ARM).

usage: installed_tree_test.py --emulator "<prefix>" --build <dir> --expected <list>
       --multiarch <triplet> --config <build type> --map <voxaim.map> --header <voxaim.h>
       --consumer <folder> --cc <C compiler> --nm <nm> --readelf <readelf>
       --version <project version> [--toolchain <file>]
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import unittest

import scripttest  # tools/testing, on PYTHONPATH

def read(path):
    with open(path) as f:
        return f.read()


def run(command, env=None, cwd=None):
    result = subprocess.run(command, capture_output=True, text=True, env=env, cwd=cwd, timeout=600)
    if result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (shlex.join(command), result.returncode,
                                                         result.stdout, result.stderr))
    return result.stdout


def libdir(args):
    return os.path.join(args.root, "usr/lib", args.multiarch)


def exported_names(args):
    """The names of the version script's global: section."""
    text = read(args.map)
    section = re.search(r"global:(.*?)local:", text, re.S).group(1)
    return set(re.findall(r"[A-Za-z_]\w*", section))


def defined_globals(command):
    """Strong defined global symbols in nm --format=posix output."""
    names = set()
    for line in run(command).splitlines():
        fields = line.split()
        if len(fields) >= 2 and fields[1] not in ("W", "V", "u", "w", "v", "U"):
            names.add(fields[0])
    return names


def run_program(emulator, path, library_path=None):
    env = dict(os.environ)
    if library_path and emulator:
        emulator = emulator + ["-E", "LD_LIBRARY_PATH=" + library_path]
    elif library_path:
        env["LD_LIBRARY_PATH"] = library_path
    result = subprocess.run(emulator + [path], capture_output=True, text=True, env=env, timeout=300)
    return result


class InstalledFiles(unittest.TestCase):
    def test_exactly_the_expected_files(self):
        expected = set()
        for line in read(self.args.expected).splitlines():
            line = line.strip()
            if line and not line.startswith("#"):
                expected.add(line.replace("@MULTIARCH@", self.args.multiarch)
                             .replace("@CONFIG@", self.args.config.lower()))
        found = set()
        for folder, dirs, files in os.walk(self.args.root):
            relative = "/" + os.path.relpath(folder, self.args.root)
            for name in files + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
                found.add(os.path.join(relative, name))
            if not dirs and not files:
                found.add(relative + "/")
        self.assertEqual(sorted(found - expected), [], "installed but not expected")
        self.assertEqual(sorted(expected - found), [], "expected but not installed")


class Exports(unittest.TestCase):
    def test_the_map_names_the_functions_of_the_header(self):
        header = re.sub(r"/\*.*?\*/", "", read(self.args.header), flags=re.S)
        declared = set(re.findall(r"\b(voxaim_\w+)\s*\(", header))
        self.assertEqual(declared, exported_names(self.args))

    def test_shared_library_exports_only_the_interface(self):
        library = os.path.join(libdir(self.args), "libvoxaim.so.1")
        names = defined_globals([self.args.nm, "-D", "--defined-only", "--format=posix", library])
        self.assertEqual(names, exported_names(self.args))

    def test_static_archive_keeps_only_the_interface_global(self):
        archive = os.path.join(libdir(self.args), "libvoxaim.a")
        names = defined_globals([self.args.nm, "-g", "--defined-only", "--format=posix", archive])
        names.discard(archive + "[voxaim_sealed.o]:")
        self.assertEqual({n for n in names if not n.endswith(":")}, exported_names(self.args))


class Units(unittest.TestCase):
    def test_units_verify(self):
        # systemd-analyze resolves the units' dependencies and ExecStart in the
        # root it is given: the installed tree plus the host's own units.
        root = os.path.join(self.args.work, "verify-root")
        shutil.rmtree(root, ignore_errors=True)
        shutil.copytree(self.args.root, root, symlinks=True)
        units = os.path.join(root, "lib/systemd/system")
        for name in os.listdir("/lib/systemd/system"):
            source = os.path.join("/lib/systemd/system", name)
            if not os.path.exists(os.path.join(units, name)) and not os.path.isdir(source):
                shutil.copy(source, units, follow_symlinks=False)
        env = dict(os.environ, MANPATH=os.path.join(root, "usr/share/man"))
        result = subprocess.run(["systemd-analyze", "verify", "--root=" + root, "kmsgwatch.service",
                                 "selfcheckrun.service"], capture_output=True, text=True, env=env, timeout=120)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))


class Consumers(unittest.TestCase):
    """The consumer prints one line per frame; every build prints the same."""

    outputs = {}

    @classmethod
    def setUpClass(cls):
        build = os.path.join(cls.args.work, "consumer")
        shutil.rmtree(build, ignore_errors=True)
        configure = ["cmake", "-S", cls.args.consumer, "-B", build, "-G", "Ninja",
                     "-DCMAKE_PREFIX_PATH=" + os.path.join(cls.args.root, "usr"), "-DCMAKE_BUILD_TYPE=Release"]
        if cls.args.toolchain:
            configure.append("-DCMAKE_TOOLCHAIN_FILE=" + cls.args.toolchain)
        run(configure)
        run(["cmake", "--build", build])
        cls.cmake_build = build

        env = dict(os.environ, PKG_CONFIG_SYSROOT_DIR=cls.args.root,
                   PKG_CONFIG_LIBDIR=os.path.join(libdir(cls.args), "pkgconfig"),
                   PKG_CONFIG_ALLOW_SYSTEM_CFLAGS="1", PKG_CONFIG_ALLOW_SYSTEM_LIBS="1")
        cflags = shlex.split(run(["pkg-config", "--cflags", "voxaim"], env=env))
        libs = shlex.split(run(["pkg-config", "--libs", "voxaim"], env=env))
        # The archive rather than the shared library, with what it needs.
        static_libs = []
        for flag in shlex.split(run(["pkg-config", "--libs", "--static", "voxaim"], env=env)):
            static_libs += ["-Wl,-Bstatic", flag, "-Wl,-Bdynamic"] if flag == "-lvoxaim" else [flag]
        source = os.path.join(cls.args.consumer, "consumer.c")
        cls.pc_shared = os.path.join(cls.args.work, "pc_shared")
        cls.pc_static = os.path.join(cls.args.work, "pc_static")
        run([cls.args.cc, *cflags, source, *libs, "-lm", "-o", cls.pc_shared])
        run([cls.args.cc, "-DOWN_HAMMING_WINDOW", *cflags, source, *static_libs, "-o", cls.pc_static])

    def check(self, name, program, shared, library_path=None):
        dynamic = run([self.args.readelf, "-d", program])
        self.assertEqual("libvoxaim.so.1" in dynamic, shared, "%s: NEEDED libvoxaim.so.1" % name)
        result = run_program(self.args.emulator, program, library_path)
        self.assertEqual(result.returncode, 0, "%s: %s" % (name, result.stderr))
        lines = result.stdout.splitlines()
        self.assertEqual(lines[0], "voxaim " + self.args.version, "%s: voxaim_versionString()" % name)
        self.assertEqual(len(lines), 13, result.stdout)
        Consumers.outputs[name] = result.stdout

    def test_1_find_package_shared(self):
        self.check("cmake shared", os.path.join(self.cmake_build, "consumer_shared"), True)

    def test_2_find_package_static_with_own_hamming_window(self):
        self.check("cmake static", os.path.join(self.cmake_build, "consumer_static"), False)

    def test_3_pkg_config_shared(self):
        self.check("pkg-config shared", self.pc_shared, True, library_path=libdir(self.args))

    def test_4_pkg_config_static_with_own_hamming_window(self):
        self.check("pkg-config static", self.pc_static, False)

    def test_5_every_build_prints_the_same(self):
        self.assertEqual(len(set(Consumers.outputs.values())), 1, Consumers.outputs)
        self.assertEqual(len(Consumers.outputs), 4)


def main():
    args = scripttest.arguments(options=("--build", "--expected", "--multiarch", "--config", "--map", "--header",
                                         "--consumer", "--cc", "--nm", "--readelf", "--version"),
                                extra=lambda parser: parser.add_argument("--toolchain", default=""))
    args.work = os.path.join(args.build, "installed-tree-test")
    args.root = os.path.join(args.work, "root")
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    run(["cmake", "--install", args.build], env=dict(os.environ, DESTDIR=args.root))
    sys.exit(scripttest.run(args))


if __name__ == "__main__":
    main()
