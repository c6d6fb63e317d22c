#!/usr/bin/env python3
"""The board's Debian image: a Debian 12 armhf root file system with systemd
as PID 1, on an ext4 disk image that the boots of the systemd board tests use
(each through a snapshot of their own, so the image stays as built).

It is made without anything that needs the host's kernel to run ARM code:
  1. debootstrap --foreign on the host unpacks the base packages into a tree;
  2. mke2fs -d makes the disk image from that tree (owners and modes kept);
  3. the board boots from the disk (guest/diskinit) and runs debootstrap's
     second stage there, under qemu-system-arm, writing into the disk.
The result is kept in DIR/cache/image with the recipe it was made from
(image.recipe: the debootstrap command, the kernel, the scripts); a
different recipe makes a new image, the same one reuses it.

usage: image.py --board-dir DIR"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from initramfs import Tree  # noqa: E402
from parts import Parts, log  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
GUEST = os.path.join(HERE, "guest")
SUITE = "bookworm"
INCLUDE = ["systemd-sysv"]
DISK_SIZE = "1G"
# What the disk boot's initramfs loads before it mounts the root disk
# (the armmp kernel has them as modules), in this order; autofs4 is for
# systemd.
DISK_MODULES = ["virtio_mmio", "virtio_blk", "crc16", "mbcache", "jbd2", "crc32c_generic", "ext4", "autofs4"]


def mirror():
    """The Debian archive of the host's own apt sources."""
    uris = []
    for folder, _, files in os.walk("/etc/apt"):
        for name in sorted(files):
            if name.endswith((".list", ".sources")):
                with open(os.path.join(folder, name)) as f:
                    for line in f:
                        words = line.split()
                        if words[:1] == ["URIs:"]:
                            uris += words[1:]
                        elif words[:1] == ["deb"]:
                            uris += [w for w in words[1:] if "://" in w][:1]
    for uri in uris:
        if uri.rstrip("/").endswith("/debian"):
            return uri
    raise RuntimeError("no Debian archive (.../debian) among the host's apt sources: %s" % uris)


def debootstrap_command(tree):
    return ["debootstrap", "--foreign", "--arch=armhf", "--variant=minbase",
            "--include=" + ",".join(INCLUDE), SUITE, tree, mirror()]


def disk_initramfs(parts, out, extra=lambda tree: None):
    """The initramfs of a boot from the root disk: busybox, the modules of
    the disk and its file system, guest/diskinit as /init and whatever
    `extra` adds (the payload of a test)."""
    tree = Tree()
    for d in ("/proc", "/sys", "/dev", "/root", "/tmp", "/bin", "/sbin", "/usr/bin", "/usr/sbin"):
        tree.add_dir(d)
    tree.add_node("/dev/console", 0o600, 5, 1)
    tree.add_file("/bin/busybox", parts.busybox, 0o755)
    tree.add_file("/init", os.path.join(GUEST, "diskinit"), 0o755)
    tree.add_bytes("/modules/order", ("\n".join(DISK_MODULES) + "\n").encode())
    for name in DISK_MODULES:
        tree.add_file("/modules/%s.ko" % name, parts.module(name), 0o644)
    tree.add_file("/board/lib.sh", os.path.join(GUEST, "lib.sh"), 0o644)
    extra(tree)
    tree.write(out)
    return out


def recipe(parts):
    """What the image is made from; any change makes a new image."""
    digest = hashlib.sha256()
    for name in ("image.py", "initramfs.py", "guest/diskinit"):
        with open(os.path.join(HERE, name), "rb") as f:
            digest.update(f.read())
    return "%s\nkernel %s\nsize %s\nscripts %s\n" % (
        " ".join(debootstrap_command("TREE")), parts.release, DISK_SIZE, digest.hexdigest())


class Image:
    """The disk image of DIR/cache/image and what it holds."""

    def __init__(self, board_dir):
        self.dir = os.path.join(board_dir, "cache", "image")
        self.disk = os.path.join(self.dir, "root.ext4")
        self.recipe_file = os.path.join(self.dir, "image.recipe")

    def current(self, parts):
        try:
            with open(self.recipe_file) as f:
                return f.read() == recipe(parts) and os.path.exists(self.disk)
        except FileNotFoundError:
            return False

    def build(self, parts):
        from vm import Boot
        start = time.monotonic()
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        tree = os.path.join(self.dir, "tree")
        log("first stage: " + " ".join(debootstrap_command(tree)))
        subprocess.run(debootstrap_command(tree), check=True, stdout=subprocess.DEVNULL)
        # debootstrap leaves /proc as a link to the host's /proc here.
        proc = os.path.join(tree, "proc")
        if os.path.islink(proc):
            os.unlink(proc)
            os.mkdir(proc, 0o555)
        # No syncs while the second stage installs (the board's disk is a
        # file on the host); diskinit removes this afterwards.
        os.makedirs(os.path.join(tree, "etc", "dpkg", "dpkg.cfg.d"), exist_ok=True)
        with open(os.path.join(tree, "etc", "dpkg", "dpkg.cfg.d", "board-unsafe-io"), "w") as f:
            f.write("force-unsafe-io\n")
        first = time.monotonic() - start
        log("first stage done in %.0f s" % first)
        building = self.disk + ".new"
        subprocess.run(["mke2fs", "-q", "-F", "-t", "ext4", "-L", "board-root", "-d", tree, building, DISK_SIZE],
                       check=True)
        shutil.rmtree(tree)
        initrd = disk_initramfs(parts, os.path.join(self.dir, "stage2-initrd.gz"))
        boot = Boot(os.path.dirname(os.path.dirname(self.dir)), ["second-stage"], smp=2, memory=1024,
                    initrd=initrd, disk=building, snapshot=False, timeout=3000).run()
        result = boot.results.get("second-stage")
        if result is None or result.status != 0:
            raise RuntimeError("the second stage failed (%s); console:\n%s"
                               % (result and result.status, "\n".join(boot.console[-60:])))
        os.unlink(initrd)
        subprocess.run(["e2fsck", "-f", "-p", building], check=True)
        os.replace(building, self.disk)
        with open(self.recipe_file, "w") as f:
            f.write(recipe(parts))
        used = subprocess.run(["du", "-k", self.disk], capture_output=True, text=True).stdout.split()[0]
        log("image made in %.0f s (first stage %.0f s, second stage %.0f s): %s, %d MiB used of %s"
            % (time.monotonic() - start, first, result.seconds, self.disk, int(used) // 1024, DISK_SIZE))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--board-dir", required=True)
    args = parser.parse_args()
    board_dir = os.path.abspath(args.board_dir)
    parts = Parts(board_dir)
    with open(os.path.join(board_dir, "kernel"), "w") as f:
        f.write(parts.vmlinuz + "\n")
    image = Image(board_dir)
    if image.current(parts):
        log("image %s is up to date" % image.disk)
        return
    image.build(parts)


if __name__ == "__main__":
    main()
