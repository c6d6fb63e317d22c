#!/usr/bin/env python3
"""Makes the emulated board ready in a directory of the build tree:

  kernel       path of the kernel image (vmlinuz of linux-image-<version>-armmp)
  vexpress.dtb the vexpress-a15 device tree with the device's I2C and GPIO layout
  initrd.gz    busybox, the device programs with their libraries, the kernel
               modules of the EEPROM bus, and the board scripts
  disk-initrd.gz  for boots of the Debian image (image.py): busybox, the
               modules of the root disk, and what the image's boot copies
               to its /board: the board scripts, the packages to install
               (debs/) and a package folder of everything they need
               (repo/, an apt source: the board has no network to an
               archive), and the modules of its network card

usage: setup_board.py --board-dir DIR [--program BOARD_PATH=HOST_PATH ...]
                      [--deb PACKAGE.deb ...] [--install PACKAGE.deb ...]
                      [--fetch PACKAGE ...]

The device programs of initrd.gz come either one by one (--program, from the
ARM build tree) or as armhf packages (--deb: every file of the package, at
its own path); either way the libraries they need are added from the host's
armhf multiarch directories. --install names the packages that the image's
boots install; --fetch names Debian packages that the repository holds
too (with what they need), for a boot to install. Downloads stay in
DIR/cache for the next run."""

import argparse
import glob
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from image import disk_initramfs  # noqa: E402
from initramfs import Tree  # noqa: E402
from parts import Parts, dependencies, locked, log, vexpress_dtb  # noqa: E402

GUEST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "guest")
MODULES = ["i2c-versatile", "at24"]
# The network card of the Debian image's boots that have one (QEMU's
# virtio-net on -M virt), in the order the disk boot's initramfs loads them
# after its disk modules.
NET_MODULES = ["failover", "net_failover", "virtio_net"]


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


def add_payload(parts, tree, debs, packages, board_dir):
    """The Debian image's /board: the board scripts, the packages to install
    and the apt source of what they need and of the Debian `packages`
    (dpkg-scanpackages' index); and the network card's modules."""
    tree.add_bytes("/modules/net.order", ("\n".join(NET_MODULES) + "\n").encode())
    for name in NET_MODULES:
        tree.add_file("/modules/%s.ko" % name, parts.module(name), 0o644)
    for name in sorted(os.listdir(GUEST)):
        if name.endswith((".sh", ".service")):
            tree.add_file("/board/" + name, os.path.join(GUEST, name), 0o644)
    for deb in debs:
        tree.add_file("/board/debs/" + os.path.basename(deb), deb, 0o644)
    repo = os.path.join(board_dir, "repo")
    subprocess.run(["rm", "-rf", repo], check=True)
    os.makedirs(repo)
    for deb in dependencies(debs, os.path.join(board_dir, "cache", "debs"), packages):
        os.link(deb, os.path.join(repo, os.path.basename(deb)))
    index = subprocess.run(["dpkg-scanpackages", "--multiversion", "."], cwd=repo, capture_output=True,
                           check=True).stdout
    tree.add_bytes("/board/repo/Packages", index)
    for name in os.listdir(repo):
        tree.add_file("/board/repo/" + name, os.path.join(repo, name), 0o644)


def found(patterns):
    debs = []
    for pattern in patterns:
        matches = glob.glob(pattern)
        if len(matches) != 1:
            sys.exit("setup_board: %s names %d packages, not one" % (pattern, len(matches)))
        debs += matches
    return debs


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--board-dir", required=True)
    parser.add_argument("--program", action="append", default=[], metavar="BOARD_PATH=HOST_PATH")
    parser.add_argument("--deb", action="append", default=[], metavar="PACKAGE.deb or a pattern naming one")
    parser.add_argument("--install", action="append", default=[], metavar="PACKAGE.deb or a pattern naming one")
    parser.add_argument("--fetch", action="append", default=[], metavar="PACKAGE",
                        help="a Debian package (armhf) for the image's repository, with what it needs")
    args = parser.parse_args()
    args.board_dir = os.path.abspath(args.board_dir)
    programs = [tuple(p.split("=", 1)) for p in args.program]
    debs, install = found(args.deb), found(args.install)
    start = time.monotonic()
    os.makedirs(args.board_dir, exist_ok=True)
    # The download cache is shared with image.py.
    with locked(args.board_dir, "downloads"):
        parts = Parts(args.board_dir)
        log("kernel %s (%s), fetched and unpacked in %.1f s"
            % (parts.release, parts.kernel_package, time.monotonic() - start))
        vexpress_dtb(parts, os.path.join(args.board_dir, "vexpress.dtb"))
        initrd = os.path.join(args.board_dir, "initrd.gz")
        assemble(parts, programs, debs).write(initrd)
        with open(os.path.join(args.board_dir, "kernel"), "w") as f:
            f.write(parts.vmlinuz + "\n")
        disk_initrd = os.path.join(args.board_dir, "disk-initrd.gz")
        disk_initramfs(parts, disk_initrd, lambda tree: add_payload(parts, tree, install, args.fetch, args.board_dir))
        log("initramfs of %d KiB, the Debian image's of %d KiB; board ready in %.1f s"
            % (os.path.getsize(initrd) // 1024, os.path.getsize(disk_initrd) // 1024, time.monotonic() - start))


if __name__ == "__main__":
    main()
