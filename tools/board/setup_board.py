#!/usr/bin/env python3
"""Makes the emulated board ready in a directory of the build tree:

  kernel       path of the kernel image (vmlinuz of linux-image-<version>-armmp)
  vexpress.dtb the vexpress-a15 device tree with the device's I2C and GPIO layout
  initrd.gz    busybox, the device programs with their libraries, the kernel
               modules of the EEPROM bus, and the board scripts

usage: setup_board.py --board-dir DIR [--program BOARD_PATH=HOST_PATH ...]
                      [--deb PACKAGE.deb ...]

The device programs come either one by one (--program, from the ARM build
tree) or as armhf packages (--deb: every file of the package, at its own
path); either way the libraries they need are added from the host's armhf
multiarch directories. Downloads stay in DIR/cache for the next run."""

import argparse
import glob
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from initramfs import Tree  # noqa: E402
from parts import Parts, log, vexpress_dtb  # noqa: E402

GUEST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "guest")
MODULES = ["i2c-versatile", "at24"]


def is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def add_deb(tree, deb):
    """Every file of an armhf package at its own path; ELF files with what
    they need."""
    with tempfile.TemporaryDirectory() as root:
        subprocess.run(["dpkg", "-x", deb, root], check=True)
        for dirpath, _, files in os.walk(root):
            for name in files:
                host = os.path.join(dirpath, name)
                path = "/" + os.path.relpath(host, root)
                if os.path.islink(host):
                    tree.add_symlink(path, os.readlink(host))
                elif is_elf(host):
                    tree.add_program(path, host)
                else:
                    tree.add_file(path, host)


def assemble(parts, programs, debs):
    tree = Tree()
    for d in ("/proc", "/sys", "/dev", "/run", "/tmp", "/bin", "/sbin", "/usr/bin", "/usr/sbin", "/etc"):
        tree.add_dir(d)
    tree.add_node("/dev/console", 0o600, 5, 1)
    tree.add_file("/bin/busybox", parts.busybox, 0o755)
    tree.add_file("/init", os.path.join(GUEST, "init"), 0o755)
    for script in sorted(glob.glob(os.path.join(GUEST, "*.sh"))):
        tree.add_file("/board/" + os.path.basename(script), script, 0o644)
    for name in MODULES:
        tree.add_file("/board/modules/%s.ko" % name, parts.module(name), 0o644)
    for board_path, host_path in programs:
        tree.add_program(board_path, host_path)
    for deb in debs:
        add_deb(tree, deb)
    return tree


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--board-dir", required=True)
    parser.add_argument("--program", action="append", default=[], metavar="BOARD_PATH=HOST_PATH")
    parser.add_argument("--deb", action="append", default=[], metavar="PACKAGE.deb or a pattern naming one")
    args = parser.parse_args()
    args.board_dir = os.path.abspath(args.board_dir)
    programs = [tuple(p.split("=", 1)) for p in args.program]
    debs = []
    for pattern in args.deb:
        found = glob.glob(pattern)
        if len(found) != 1:
            sys.exit("setup_board: %s names %d packages, not one" % (pattern, len(found)))
        debs += found
    start = time.monotonic()
    os.makedirs(args.board_dir, exist_ok=True)
    parts = Parts(args.board_dir)
    log("kernel %s (%s), fetched and unpacked in %.1f s"
        % (parts.release, parts.kernel_package, time.monotonic() - start))
    vexpress_dtb(parts, os.path.join(args.board_dir, "vexpress.dtb"))
    initrd = os.path.join(args.board_dir, "initrd.gz")
    assemble(parts, programs, debs).write(initrd)
    with open(os.path.join(args.board_dir, "kernel"), "w") as f:
        f.write(parts.vmlinuz + "\n")
    log("initramfs of %d KiB; board ready in %.1f s"
        % (os.path.getsize(initrd) // 1024, time.monotonic() - start))


if __name__ == "__main__":
    main()
