"""Debian's fleet tools for tests: prometheus (promtool, the server),
prometheus-node-exporter and systemd-journal-remote, never installed on the
machine (their packages start services or change the kernel's settings):
fetched once with apt-get download into a cache folder of the build and
unpacked there, run as plain processes on 127.0.0.1."""
import contextlib
import fcntl
import glob
import os
import socket
import subprocess

PACKAGES = ["prometheus", "prometheus-node-exporter", "systemd-journal-remote", "libmicrohttpd12"]
# systemd-journal-remote's own library, beside the host's libsystemd-shared.
LIBRARY_PATH = "usr/lib/x86_64-linux-gnu"


def unpacked(cache, packages=PACKAGES):
    """The folder the packages are unpacked into (cache/root), or None with
    the reason printed when they cannot be fetched. Tests that share the
    cache (fleet_e2e, the board's fleet test) take turns, and each package
    is unpacked once, whichever test asked for it first."""
    os.makedirs(cache, exist_ok=True)
    root = os.path.join(cache, "root")
    with open(os.path.join(cache, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        wanted = [p for p in packages if not os.path.exists(os.path.join(root, ".unpacked-" + p))]
        missing = [p for p in wanted if not glob.glob(os.path.join(cache, p + "_*.deb"))]
        if missing:
            command = ["apt-get", "download", "-q", "-o", "APT::Sandbox::User=root", *missing]
            if subprocess.run(command, cwd=cache).returncode != 0:
                print("cannot download %s" % missing, flush=True)
                return None
        for package in wanted:
            for deb in sorted(glob.glob(os.path.join(cache, package + "_*.deb"))):
                subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
            open(os.path.join(root, ".unpacked-" + package), "w").close()
    return root


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on now."""
    with contextlib.closing(socket.socket()) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
