"""Helpers for end-to-end tests that run product programs inside a private
PID + mount namespace (as root). Nothing here mounts anything outside one:
enter_namespace() re-executes the calling script under unshare, and every
mount helper refuses to work unless the process is PID 1 of its namespace."""

import os
import shlex
import shutil
import subprocess
import sys
import tempfile

from scripttest import Failures  # noqa: F401  (offered beside the namespace helpers too)

INSIDE_FLAG = "--inside-namespace"


def enter_namespace(scratch_parent=None):
    """Outside: re-runs this script as PID 1 of a new PID + mount namespace
    and exits with its status. Inside: returns the scratch directory."""
    if INSIDE_FLAG in sys.argv:
        at = sys.argv.index(INSIDE_FLAG)
        scratch = sys.argv[at + 1]
        del sys.argv[at:at + 2]
        if os.getpid() != 1:
            sys.exit("not PID 1 of a private PID namespace: refusing to go on")
        return scratch
    if os.geteuid() != 0:
        sys.exit("these tests need root (unshare, mount)")
    scratch = tempfile.mkdtemp(prefix="e2e.", dir=scratch_parent or os.getcwd())
    os.chmod(scratch, 0o755)
    command = ["unshare", "--pid", "--fork", "--mount", "--mount-proc",
               "--propagation", "private", sys.executable, os.path.abspath(sys.argv[0])]
    command += sys.argv[1:] + [INSIDE_FLAG, scratch]
    result = subprocess.run(command)
    shutil.rmtree(scratch, ignore_errors=True)
    sys.exit(result.returncode)


def _require_namespace():
    if os.getpid() != 1:
        raise RuntimeError("mounts are only made as PID 1 of a private namespace")


def mount(*args):
    _require_namespace()
    subprocess.run(["mount", *args], check=True)


def umount(target):
    _require_namespace()
    subprocess.run(["umount", target], check=True)


def tmpfs(target, keep=()):
    """Mounts an empty tmpfs on `target`. Paths in `keep` that lie under
    `target` (the build tree or the scratch directory when the checkout sits
    under /tmp, say) stay reachable: they are bound back onto the new tmpfs
    from the directory it hides."""
    target = os.path.realpath(target)
    kept = []
    for path in sorted(os.path.realpath(p) for p in keep):
        inside = path.startswith(target + os.sep)
        if inside and not any(path.startswith(k + os.sep) or path == k for k in kept):
            kept.append(path)
    hidden = os.open(target, os.O_PATH | os.O_DIRECTORY) if kept else None
    mount("-t", "tmpfs", "tmpfs", target)
    for path in kept:
        os.makedirs(path, exist_ok=True)
        # -c: the source must stay the magic link into the hidden directory,
        # not be canonicalised into the same path on the new tmpfs.
        mount("-c", "--rbind", f"/proc/{os.getpid()}/fd/{hidden}/{os.path.relpath(path, target)}", path)
    if hidden is not None:
        os.close(hidden)


def overlay(target, scratch, name):
    """Makes `target` writable inside the namespace: its changes go to a tmpfs."""
    base = os.path.join(scratch, "overlay-" + name)
    os.makedirs(base, exist_ok=True)
    tmpfs(base)
    upper = os.path.join(base, "upper")
    work = os.path.join(base, "work")
    os.mkdir(upper)
    os.mkdir(work)
    mount("-t", "overlay", "overlay", "-o",
          f"lowerdir={target},upperdir={upper},workdir={work}", target)


def bind(source, target):
    mount("--bind", source, target)


def read_text(path):
    """The file's text, or None when it does not exist."""
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return None


def write_script(path, text, mode=0o755):
    if os.path.lexists(path):
        os.remove(path)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def emulator_prefix(text):
    """The --emulator text as a command prefix (scripttest.arguments)."""
    return shlex.split(text) if text else []
