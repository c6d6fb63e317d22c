"""The parts of the emulated board that come from Debian: the armhf kernel
(vmlinuz, modules, device trees) and busybox-static, fetched with apt-get
download into a cache and unpacked with dpkg -x. Nothing is installed into the
host. The kernel version is whatever the metapackage linux-image-armmp:armhf
depends on in the host's package lists."""

import contextlib
import fcntl
import glob
import os
import re
import subprocess

KERNEL_META = "linux-image-armmp:armhf"
BUSYBOX = "busybox-static:armhf"
# The device tree of QEMU's vexpress-a15 board, from the kernel package.
VEXPRESS_DTB = "vexpress-v2p-ca15-tc1.dtb"


def log(text):
    print("board: " + text, flush=True)


@contextlib.contextmanager
def locked(board_dir, name):
    """Holds DIR/cache/NAME.lock for the block: runs that share a board folder
    (the image made early by tools/test-all.sh, the tests) take turns."""
    cache = os.path.join(board_dir, "cache")
    os.makedirs(cache, exist_ok=True)
    with open(os.path.join(cache, name + ".lock"), "w") as f:
        try:
            fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            log("waiting for another run that holds %s" % f.name)
            fcntl.flock(f, fcntl.LOCK_EX)
        yield


def kernel_package():
    """linux-image-<version>-armmp:armhf, as the metapackage names it (after
    an apt-get update when the package lists do not know the metapackage)."""
    for attempt in range(2):
        out = subprocess.run(["apt-cache", "depends", KERNEL_META], capture_output=True, text=True).stdout
        names = re.findall(r"Depends: (linux-image-\S+-armmp)(?::armhf)?\s*$", out, re.M)
        if names:
            return names[0] + ":armhf"
        if attempt == 0:
            subprocess.run(["apt-get", "update", "-qq"], check=True)
    raise RuntimeError("apt-cache depends %s names no kernel image:\n%s" % (KERNEL_META, out))


# apt's options that make armhf the native architecture of a query, so that
# the dependencies of architecture-independent packages (adduser, debconf)
# resolve to armhf packages too, not to the host's; the package cache is
# then built in memory, leaving the host's own untouched.
ARMHF_NATIVE = ["-o", "APT::Architecture=armhf", "-o", "Dir::Cache::pkgcache=", "-o", "Dir::Cache::srcpkgcache="]


def candidates(packages, options=()):
    """{package: candidate version} from one apt-cache call."""
    out = subprocess.run(["apt-cache", *options, "policy", *packages], capture_output=True, text=True).stdout
    found = {}
    for block in re.split(r"^(?=\S)", out, flags=re.M):
        m = re.match(r"^(\S+?):?\n", block)
        c = re.search(r"Candidate: (\S+)", block)
        if m and c and c.group(1) != "(none)":
            name = m.group(1)
            found[name if ":" in name else name + ":armhf"] = c.group(1)
    missing = [p for p in packages if (p if ":" in p else p + ":armhf") not in found]
    if missing:
        raise RuntimeError("no candidate version of %s (run apt-get update?):\n%s" % (missing, out))
    return found


def _download(package, version, cache):
    """The .deb of the package's given version in `cache`, downloaded once."""
    name = package.split(":")[0]
    cached = glob.glob(os.path.join(cache, "%s_*%s_armhf.deb" % (name, version.split(":")[-1])))
    if cached:  # (file names quote the epoch as %3a)
        return cached[0]
    log("downloading %s %s" % (package, version))
    command = ["apt-get", "download", "-q", "-o", "APT::Sandbox::User=root", package]
    if subprocess.run(command, cwd=cache).returncode != 0:
        # The package lists may name a version the archive no longer has.
        subprocess.run(["apt-get", "update", "-qq"], check=True)
        subprocess.run(command, cwd=cache, check=True)
    return _found(cache, name)


def _found(cache, name):
    debs = sorted(glob.glob(os.path.join(cache, name + "_*_armhf.deb")), key=os.path.getmtime)
    if not debs:
        raise RuntimeError("apt-get download left no %s package in %s" % (name, cache))
    return debs[-1]


def _unpack(deb, dest):
    """dpkg -x into dest, once per package file."""
    stamp = os.path.join(dest, ".unpacked-from")
    if os.path.exists(stamp) and open(stamp).read() == os.path.basename(deb):
        return dest
    subprocess.run(["rm", "-rf", dest], check=True)
    os.makedirs(dest)
    subprocess.run(["dpkg", "-x", deb, dest], check=True)
    with open(stamp, "w") as f:
        f.write(os.path.basename(deb))
    return dest


def _deb_depends(deb):
    """The package names a .deb depends on (first of each alternative)."""
    fields = subprocess.run(["dpkg-deb", "-f", deb, "Pre-Depends", "Depends"], capture_output=True, text=True,
                            check=True).stdout
    names = []
    for line in fields.splitlines():
        for item in line.split(":", 1)[1].split(","):
            name = item.split("|")[0].split("(")[0].strip().split(":")[0]
            if name:
                names.append(name)
    return names


def deb_version(version):
    """A version as apt-get download names its file: an epoch's colon as %3a
    (libcap2_1%3a2.66-4_armhf.deb)."""
    return version.replace(":", "%3a")


def dependencies(debs, cache, packages=()):
    """Every armhf package that the packages `debs` need, directly or not
    (Depends and Pre-Depends), and the Debian packages named in `packages`
    with what they need, downloaded into `cache` (once per version): what a
    device without network needs beside them. Returns their files."""
    ours = {subprocess.run(["dpkg-deb", "-f", deb, "Package"], capture_output=True, text=True,
                           check=True).stdout.strip() for deb in debs}
    # Package names as armhf-native queries name them: without ":armhf".
    wanted = sorted(({n for deb in debs for n in _deb_depends(deb)} | set(packages)) - ours)
    if not wanted:
        return []
    out = subprocess.run(["apt-cache", *ARMHF_NATIVE, "depends", "--recurse", "--no-recommends", "--no-suggests",
                          "--no-conflicts", "--no-breaks", "--no-replaces", "--no-enhances", *wanted],
                         capture_output=True, text=True, check=True).stdout
    closure = sorted({line.strip() for line in out.splitlines()
                      if line and not line[0].isspace() and not line.startswith("<")})
    versions = {name.split(":")[0]: v for name, v in candidates(closure, ARMHF_NATIVE).items()}
    os.makedirs(cache, exist_ok=True)
    files, missing = [], []
    for package in closure:
        name, version = package.split(":")[0], deb_version(versions[package.split(":")[0]])
        found = glob.glob(os.path.join(cache, "%s_%s_*.deb" % (name, version)))
        if found:
            files.append(found[0])
        else:
            missing.append(package)
    if missing:
        log("downloading %s" % " ".join(missing))
        command = ["apt-get", *ARMHF_NATIVE, "download", "-q", "-o", "APT::Sandbox::User=root", *missing]
        if subprocess.run(command, cwd=cache).returncode != 0:
            subprocess.run(["apt-get", "update", "-qq"], check=True)
            subprocess.run(command, cwd=cache, check=True)
        for package in missing:
            name, version = package.split(":")[0], deb_version(versions[package.split(":")[0]])
            found = glob.glob(os.path.join(cache, "%s_%s_*.deb" % (name, version)))
            if not found:
                raise RuntimeError("apt-get download left no %s %s in %s" % (package, version, cache))
            files.append(found[0])
    return files


class Parts:
    """Kernel and busybox of the board, unpacked under `root`/cache."""

    def __init__(self, root):
        cache = os.path.join(root, "cache")
        os.makedirs(cache, exist_ok=True)
        self.kernel_package = kernel_package()
        versions = candidates([self.kernel_package, BUSYBOX])
        kernel_tree = _unpack(_download(self.kernel_package, versions[self.kernel_package], cache),
                              os.path.join(cache, "kernel"))
        busybox_tree = _unpack(_download(BUSYBOX, versions[BUSYBOX], cache), os.path.join(cache, "busybox"))
        vmlinuz = glob.glob(os.path.join(kernel_tree, "boot", "vmlinuz-*"))
        if len(vmlinuz) != 1:
            raise RuntimeError("expected one vmlinuz in %s, found %s" % (kernel_tree, vmlinuz))
        self.vmlinuz = vmlinuz[0]
        self.release = os.path.basename(self.vmlinuz)[len("vmlinuz-"):]
        self.modules = os.path.join(kernel_tree, "lib", "modules", self.release)
        self.dtbs = os.path.join(kernel_tree, "usr", "lib", "linux-image-" + self.release)
        self.busybox = os.path.join(busybox_tree, "bin", "busybox")

    def module(self, name):
        """Host path of a kernel module file, by module name (at24, i2c-versatile)."""
        found = glob.glob(os.path.join(self.modules, "kernel", "**", name + ".ko"), recursive=True)
        if len(found) != 1:
            raise RuntimeError("module %s: found %s" % (name, found))
        return found[0]


def _node_paths(dts):
    """Full path of every node of a dtc-decompiled device tree source."""
    paths, stack = [], []
    for line in dts.splitlines():
        m = re.match(r"^\s*(?:[\w-]+:\s*)?([\w,@.+-]+|/)\s*\{\s*$", line)
        if m:
            stack.append(m.group(1))
            paths.append("/" + "/".join(stack[1:]))
        elif re.match(r"^\s*\};\s*$", line):
            stack.pop()
    return paths


def vexpress_dtb(parts, out):
    """The vexpress-a15 device tree, changed into the device's I2C and GPIO
    layout:
    - the bus that QEMU emulates (i2c@160000) is i2c-1, as the EEPROM
      table's paths need, the other one i2c-0;
    - the crypto EEPROM on it at 0x50, a 24c512 (two-byte word addresses,
      as QEMU's at24c model takes them) with its 128-byte write pages
      (without a page size the at24 driver writes byte by byte);
    - a gpio-mmio controller at 0xffc02a00 that Linux labels "ffc02a00.gpio"
      (platform devices are named <address>.<node name>), with two 4-byte
      registers in guest RAM above the 1 GiB the kernel is given (mem=1024M)."""
    src = os.path.join(parts.dtbs, VEXPRESS_DTB)
    dts = subprocess.run(["dtc", "-q", "-I", "dtb", "-O", "dts", src], capture_output=True, text=True,
                         check=True).stdout
    buses = {}
    for path in _node_paths(dts):
        leaf = path.rsplit("/", 1)[-1]
        if leaf in ("i2c@30000", "i2c@160000"):
            buses[leaf] = path
    if len(buses) != 2:
        raise RuntimeError("%s: I2C nodes not found (%s)" % (src, buses))
    dts += """
/ {
	aliases {
		i2c0 = "%s";
		i2c1 = "%s";
	};

	gpio@ffc02a00 {
		compatible = "brcm,bcm6345-gpio";
		reg = <0x0 0xffc02a00 0x0 0x4>, <0x0 0xffc02a04 0x0 0x4>;
		reg-names = "dirout", "dat";
		gpio-controller;
		#gpio-cells = <2>;
	};
};

&{%s} {
	eeprom@50 {
		compatible = "atmel,24c512";
		reg = <0x50>;
		pagesize = <128>;
	};
};
""" % (buses["i2c@30000"], buses["i2c@160000"], buses["i2c@160000"])
    subprocess.run(["dtc", "-q", "-I", "dts", "-O", "dtb", "-o", out, "-"], input=dts, text=True, check=True)
    return out
