#!/usr/bin/env python3
"""The board's Debian image: a Debian 12 armhf root file system with systemd
as PID 1, on an ext4 disk image that the boots of the systemd board tests use
(each through a snapshot of their own, so the image stays as built).

It is made without anything that needs the host's kernel to run ARM code:
  1. debootstrap --foreign on the host unpacks the base packages into a tree;
  2. the board boots with that tree as its initramfs (guest/imageinit), runs
     debootstrap's second stage on it in RAM and writes the result as a tar
     archive onto a raw disk;
  3. the host unpacks that archive and makes the ext4 disk image of it with
     mke2fs -d (owners, modes and links kept).
The second stage is most of the work: in RAM it runs without the emulated
disk and file system under it, which cost far more emulated time.
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
from initramfs import Tree, write_host_tree  # noqa: E402
from parts import Parts, locked, log  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
GUEST = os.path.join(HERE, "guest")
SUITE = "bookworm"
INCLUDE = ["systemd-sysv"]
DISK_SIZE = "1G"
# What the disk boot's initramfs loads before it mounts the root disk
# (the armmp kernel has them as modules), in this order; autofs4 is for
# systemd.
DISK_MODULES = ["virtio_mmio", "virtio_blk", "crc16", "mbcache", "jbd2", "crc32c_generic", "ext4", "autofs4"]
# What the image's making boot loads: the raw disk it writes the tree to.
RAW_DISK_MODULES = ["virtio_mmio", "virtio_blk"]
# The raw disk that carries the tree's tar archive back (sparse on the host).
RAW_DISK_SIZE = 2 << 30


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
    for name in ("image.py", "initramfs.py", "guest/imageinit"):
        with open(os.path.join(HERE, name), "rb") as f:
            digest.update(f.read())
    return "%s\nkernel %s\nsize %s\nscripts %s\n" % (
        " ".join(debootstrap_command("TREE")), parts.release, DISK_SIZE, digest.hexdigest())


def trim_package_lists(tree, whole):
    """Cuts the archive's package lists in the first-stage tree down to the
    stanzas of the packages debootstrap fetched (its debootstrap/debpaths):
    the second stage reads them through again and again with a perl helper,
    which under emulation takes minutes for the whole archive's 48 MB, and
    looks nothing up beyond those packages. The whole lists are moved to the
    folder `whole`, to be put back afterwards."""
    with open(os.path.join(tree, "debootstrap", "debpaths")) as f:
        fetched = {line.split()[0] for line in f if line.strip()}
    lists = os.path.join(tree, "var", "lib", "apt", "lists")
    os.makedirs(whole)
    for name in sorted(os.listdir(lists)):
        if not name.endswith("_Packages"):
            continue
        os.replace(os.path.join(lists, name), os.path.join(whole, name))
        with open(os.path.join(whole, name), "rb") as f:
            stanzas = f.read().split(b"\n\n")
        kept = [s for s in stanzas if s.startswith(b"Package: ") and s.split(b"\n", 1)[0][9:].decode() in fetched]
        with open(os.path.join(lists, name), "wb") as f:
            f.write(b"".join(s + b"\n\n" for s in kept))
        shutil.copystat(os.path.join(whole, name), os.path.join(lists, name))


def image_initramfs(parts, tree, out):
    """The initramfs of the boot that makes the image: the first-stage tree
    as the root file system, and under /.board busybox, guest/imageinit and
    the raw disk's modules. Uncompressed: the kernel copies it faster than it
    would inflate it."""
    extra = Tree()
    extra.add_dir("/.board", 0o700)
    extra.add_file("/.board/busybox", parts.busybox, 0o755)
    extra.add_file("/.board/init", os.path.join(GUEST, "imageinit"), 0o755)
    extra.add_bytes("/.board/modules/order", ("\n".join(RAW_DISK_MODULES) + "\n").encode())
    for name in RAW_DISK_MODULES:
        extra.add_file("/.board/modules/%s.ko" % name, parts.module(name), 0o644)
    del extra.entries["/"]
    write_host_tree(out, tree, extra)
    return out


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
        whole_lists = os.path.join(self.dir, "lists")
        trim_package_lists(tree, whole_lists)
        initrd = image_initramfs(parts, tree, os.path.join(self.dir, "stage2.cpio"))
        shutil.rmtree(tree)
        first = time.monotonic() - start
        log("first stage done in %.0f s, initramfs of %d MiB" % (first, os.path.getsize(initrd) >> 20))
        raw = os.path.join(self.dir, "tree.tar")
        with open(raw, "wb") as f:
            f.truncate(RAW_DISK_SIZE)
        boot = Boot(os.path.dirname(os.path.dirname(self.dir)), ["second-stage"], smp=2, memory=2048,
                    initrd=initrd, disk=raw, snapshot=False, append=["rdinit=/.board/init"], timeout=3000).run()
        result = boot.results.get("second-stage")
        if result is None or result.status != 0:
            raise RuntimeError("the second stage failed (%s); console:\n%s"
                               % (result and result.status, "\n".join(boot.console[-60:])))
        os.unlink(initrd)
        os.mkdir(tree)
        subprocess.run(["tar", "--extract", "--file", raw, "--directory", tree, "--numeric-owner",
                        "--same-permissions", "--same-owner", "--xattrs", "--xattrs-include=*"], check=True)
        os.unlink(raw)
        lists = os.path.join(tree, "var", "lib", "apt", "lists")
        for name in os.listdir(whole_lists):
            os.replace(os.path.join(whole_lists, name), os.path.join(lists, name))
        os.rmdir(whole_lists)
        with open(os.path.join(tree, "etc", "hostname")) as f:
            if f.read() != "board\n":
                raise RuntimeError("the board's tree came back without its last change (/etc/hostname)")
        building = self.disk + ".new"
        subprocess.run(["mke2fs", "-q", "-F", "-t", "ext4", "-L", "board-root", "-d", tree, building, DISK_SIZE],
                       check=True)
        shutil.rmtree(tree)
        subprocess.run(["e2fsck", "-f", "-p", building], check=True)
        os.replace(building, self.disk)
        with open(self.recipe_file, "w") as f:
            f.write(recipe(parts))
        used = subprocess.run(["du", "-k", self.disk], capture_output=True, text=True).stdout.split()[0]
        log("image made in %.0f s (first stage %.0f s, second stage %.0f s, QEMU's CPU user %.0f s sys %.0f s): "
            "%s, %d MiB used of %s" % (time.monotonic() - start, first, result.seconds, *boot.cpu, self.disk,
                                       int(used) // 1024, DISK_SIZE))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--board-dir", required=True)
    args = parser.parse_args()
    board_dir = os.path.abspath(args.board_dir)
    with locked(board_dir, "downloads"):
        parts = Parts(board_dir)
        with open(os.path.join(board_dir, "kernel"), "w") as f:
            f.write(parts.vmlinuz + "\n")
    image = Image(board_dir)
    with locked(board_dir, "image"):
        if image.current(parts):
            log("image %s is up to date" % image.disk)
            return
        image.build(parts)


if __name__ == "__main__":
    main()
