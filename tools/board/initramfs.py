"""The board's initramfs: a gzip'd cpio archive (the kernel's "newc" format)
written from a tree held in memory, so that no root rights, staging directory
or device node on the host are needed.

Programs are added with every shared library they need, found as the armhf
loader finds them (the multiarch directories) and stored at the host's own
paths, symbolic links included: gdb-multiarch on the host then reads the very
files the board ran."""

import gzip
import os
import re
import stat
import subprocess

# Where Debian's armhf loader looks for libraries by default.
LIBRARY_DIRS = ["/lib/arm-linux-gnueabihf", "/usr/lib/arm-linux-gnueabihf"]


def elf_needs(path):
    """The program interpreter and the DT_NEEDED names of an ELF file."""
    out = subprocess.run(["readelf", "-W", "-l", "-d", path], capture_output=True, text=True,
                         check=True).stdout
    interp = re.findall(r"\[Requesting program interpreter: (\S+)\]", out)
    return interp, re.findall(r"\(NEEDED\)\s+Shared library: \[(\S+)\]", out)


class Tree:
    """Files, directories, links and device nodes of the archive, by path."""

    def __init__(self):
        self.entries = {"/": ("dir", 0o755, None)}

    def _parent(self, path):
        parent = os.path.dirname(path)
        if parent not in self.entries:
            self.add_dir(parent)

    def add_dir(self, path, mode=0o755):
        self._parent(path)
        kind = self.entries.get(path, ("dir",))[0]
        if kind != "dir":
            raise ValueError("%s is already a %s" % (path, kind))
        self.entries[path] = ("dir", mode, None)

    def add_symlink(self, path, target):
        self._parent(path)
        self.entries[path] = ("symlink", 0o777, target)

    def add_node(self, path, mode, major, minor):
        self._parent(path)
        self.entries[path] = ("node", mode, (major, minor))

    def add_bytes(self, path, data, mode=0o644):
        self._parent(path)
        self.entries[path] = ("file", mode, data)

    def add_file(self, path, host_path, mode=None):
        with open(host_path, "rb") as f:
            data = f.read()
        if mode is None:
            mode = stat.S_IMODE(os.stat(host_path).st_mode)
        self.add_bytes(path, data, mode)

    def add_host_path(self, path):
        """A host file at its host path, with every symbolic link met on the
        way (/lib -> usr/lib, libfoo.so.1 -> libfoo.so.1.2.3). Returns the
        path of the file itself."""
        parts = [p for p in path.split("/") if p]
        done = "/"
        while parts:
            part = parts.pop(0)
            if part == "..":
                done = os.path.dirname(done)
                continue
            current = os.path.join(done, part)
            if os.path.islink(current):
                target = os.readlink(current)
                self.add_symlink(current, target)
                parts = [p for p in target.split("/") if p] + parts
                if target.startswith("/"):
                    done = "/"
                continue
            done = current
        if done not in self.entries:
            self.add_file(done, done)
        return done

    def add_program(self, path, host_path, mode=0o755):
        """An ELF program (or library) and, recursively, what it needs."""
        self.add_file(path, host_path, mode)
        self._add_needs(host_path, set())

    def _add_needs(self, host_path, seen):
        interp, needed = elf_needs(host_path)
        for p in interp:
            self.add_host_path(p)
        for name in needed:
            if name in seen:
                continue
            seen.add(name)
            for d in LIBRARY_DIRS:
                candidate = os.path.join(d, name)
                if os.path.exists(candidate):
                    self._add_needs(self.add_host_path(candidate), seen)
                    break
            else:
                raise RuntimeError("%s needs %s: not in %s" % (host_path, name, LIBRARY_DIRS))

    def write(self, out_path, compress=True):
        """Writes the archive (gzip'd unless `compress` is false);
        directories come before what they hold."""
        blob = bytearray()
        self.append_to(blob)
        _entry(blob, "TRAILER!!!", 0, 0, 1, b"", (0, 0))
        with open(out_path + ".tmp", "wb") as f:
            f.write(gzip.compress(bytes(blob), compresslevel=6, mtime=0) if compress else blob)
        os.replace(out_path + ".tmp", out_path)

    def append_to(self, blob, first_ino=1):
        """The tree's entries, without the trailer, at the end of `blob`."""
        for ino, path in enumerate(sorted(self.entries), start=first_ino):
            kind, mode, payload = self.entries[path]
            rdev, data, nlink = (0, 0), b"", 1
            if kind == "dir":
                mode |= stat.S_IFDIR
                nlink = 2
            elif kind == "symlink":
                mode |= stat.S_IFLNK
                data = payload.encode()
            elif kind == "node":
                mode |= stat.S_IFCHR
                rdev = payload
            else:
                mode |= stat.S_IFREG
                data = payload
            name = "." if path == "/" else path.lstrip("/")
            _entry(blob, name, ino, mode, nlink, data, rdev)


def write_host_tree(out_path, root, extra):
    """An uncompressed archive of the host folder `root` as the whole file
    system, with the entries of the Tree `extra` after it. Owners, modes,
    times, device nodes and hard links are kept: a hard-linked file's data
    goes with its first name, and the kernel links the later names to it.
    Written file by file, never held whole in memory."""
    inodes = {}
    with open(out_path + ".tmp", "wb") as f:
        for dirpath, dirs, files in os.walk(root):
            dirs.sort()
            for name in [""] + sorted(files) + [d for d in dirs if os.path.islink(os.path.join(dirpath, d))]:
                host = os.path.join(dirpath, name) if name else dirpath
                st = os.lstat(host)
                path = os.path.relpath(host, root)
                first = (st.st_dev, st.st_ino) not in inodes
                ino = inodes.setdefault((st.st_dev, st.st_ino), len(inodes) + 1)
                data, rdev = b"", (0, 0)
                if stat.S_ISLNK(st.st_mode):
                    data = os.readlink(host).encode()
                elif stat.S_ISREG(st.st_mode) and first:
                    with open(host, "rb") as src:
                        data = src.read()
                elif stat.S_ISCHR(st.st_mode) or stat.S_ISBLK(st.st_mode):
                    rdev = (os.major(st.st_rdev), os.minor(st.st_rdev))
                blob = bytearray()
                _entry(blob, path, ino, st.st_mode, st.st_nlink, data, rdev, st.st_uid, st.st_gid,
                       int(st.st_mtime))
                f.write(blob)
        blob = bytearray()
        extra.append_to(blob, first_ino=len(inodes) + 1)
        _entry(blob, "TRAILER!!!", 0, 0, 1, b"", (0, 0))
        f.write(blob)
    os.replace(out_path + ".tmp", out_path)


def _entry(blob, name, ino, mode, nlink, data, rdev, uid=0, gid=0, mtime=0):
    """One newc entry; `blob` holds whole entries only, so its length is the
    entry's offset modulo 4."""
    fields = [ino, mode, uid, gid, nlink, mtime, len(data), 0, 0, rdev[0], rdev[1], len(name) + 1, 0]
    blob += b"070701" + b"".join(b"%08x" % v for v in fields)
    blob += name.encode() + b"\0"
    blob += b"\0" * (-len(blob) % 4)
    blob += data
    blob += b"\0" * (-len(blob) % 4)
