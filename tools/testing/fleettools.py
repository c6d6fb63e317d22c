"""Debian's fleet tools for tests: prometheus (promtool, the server),
prometheus-node-exporter and systemd-journal-remote, never installed on the
machine (their packages start services or change the kernel's settings):
fetched once with apt-get download into a cache folder of the build and
unpacked there, run as plain processes on 127.0.0.1."""
import glob
import os
import subprocess

PACKAGES = ["prometheus", "prometheus-node-exporter", "systemd-journal-remote", "libmicrohttpd12"]


def unpacked(cache, packages=PACKAGES):
    """The folder the packages are unpacked into (cache/root), or None with
    the reason printed when they cannot be fetched."""
    os.makedirs(cache, exist_ok=True)
    root = os.path.join(cache, "root")
    stamp = os.path.join(root, ".unpacked")
    if os.path.exists(stamp):
        return root
    missing = [p for p in packages if not glob.glob(os.path.join(cache, p + "_*.deb"))]
    if missing:
        command = ["apt-get", "download", "-q", "-o", "APT::Sandbox::User=root", *missing]
        if subprocess.run(command, cwd=cache).returncode != 0:
            print("cannot download %s" % missing, flush=True)
            return None
    for deb in sorted(glob.glob(os.path.join(cache, "*.deb"))):
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    open(stamp, "w").close()
    return root
