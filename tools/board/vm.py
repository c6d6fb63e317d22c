"""One boot of the emulated board: qemu-system-arm runs Debian's armhf kernel
with the board's initramfs, whose /init runs the board scripts named on the
kernel command line and powers off. Everything comes back over the serial
console, as lines of the board's protocol (guest/lib.sh):

  @@ready <uptime>            the board is up (uptime in seconds)
  @@run <script>              a board script starts
  @@step <text>               a script's progress note
  @@status <script> <rc> <ms> a script ended
  @@file <name>               base64 lines of a gzip'd file, up to
  @@endfile <name>
  @@done                      every script ran; the board powers off

Other lines (the programs' own console output, kernel messages) are kept in
`console`. QEMU runs with -no-reboot, so a restart of the board ends it too."""

import base64
import ctypes
import gzip
import os
import select
import signal
import subprocess
import threading
import time

from parts import log

MACHINES = {
    # No I2C controller; QEMU makes the device tree.
    "virt": (["-M", "virt", "-cpu", "cortex-a15", "-m", "1024"], []),
    # One emulated I2C bus (the EEPROM's); the kernel keeps to the lower 1 GiB
    # so that the GPIO controller's registers above it are free for its driver.
    # Its sound device gets a silent back end.
    "vexpress-a15": (["-M", "vexpress-a15", "-m", "2048", "-audiodev", "none,id=silent",
                      "-global", "pl041.audiodev=silent"], ["mem=1024M"]),
}


def _die_with_parent():
    """QEMU ends when the test that started it does (a CTest timeout, say)."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Script:
    def __init__(self, name):
        self.name = name
        self.status = None
        self.seconds = None
        self.steps = []  # (host seconds since boot start, text)


class Boot:
    """Boots the board once and runs `scripts` on it (see run())."""

    def __init__(self, board_dir, scripts, machine="virt", smp=1, qemu_args=(), append=(),
                 timeout=300, memory=None, initrd=None, disk=None, snapshot=True):
        """`initrd` defaults to the board's busybox initramfs; `disk`, a raw
        disk image, is the board's /dev/vda, written through a snapshot
        that QEMU drops at its end unless `snapshot` is false."""
        self.board_dir = board_dir
        self.scripts = list(scripts)
        self.machine = machine
        self.smp = smp
        self.memory = memory
        self.initrd = initrd or os.path.join(board_dir, "initrd.gz")
        self.disk = disk
        self.snapshot = snapshot
        self.qemu_args = list(qemu_args)
        self.append = list(append)
        self.timeout = timeout
        self.console = []       # lines outside the protocol
        self.files = {}         # name -> bytes
        self.results = {}       # script name -> Script
        self.ready_after = None  # host seconds from start to @@ready
        self.guest_uptime = None
        self.done = False
        self._started = 0.0     # host seconds at which the running script started
        self.exit_status = None
        self.seconds = None
        self.cpu = None         # QEMU's (user, system) CPU seconds
        self.first_seen = {}   # console line -> host seconds since the start
        self.started_at = None  # time.monotonic() of QEMU's start
        self._proc = None
        self._stopping = threading.Event()

    def command(self):
        machine_args, machine_append = MACHINES[self.machine]
        append = ["console=ttyAMA0", "loglevel=1", "panic=-1", "board.run=" + ",".join(self.scripts)]
        append += machine_append + self.append
        with open(os.path.join(self.board_dir, "kernel")) as f:
            kernel = f.read().strip()
        if self.memory:
            machine_args = machine_args + ["-m", str(self.memory)]
        command = ["qemu-system-arm", *machine_args, "-smp", str(self.smp), "-display", "none",
                   "-monitor", "none", "-serial", "stdio", "-nic", "none", "-no-reboot",
                   "-kernel", kernel, "-initrd", self.initrd, "-append", " ".join(append)]
        if self.disk:
            # The host's page cache keeps what the board writes: dpkg's
            # many syncs need not reach the host's disk.
            command += ["-drive", "if=none,id=root,format=raw,cache=unsafe,file=%s,snapshot=%s"
                        % (self.disk, "on" if self.snapshot else "off"),
                        "-device", "virtio-blk-device,drive=root"]
        if self.machine == "vexpress-a15":
            command += ["-dtb", os.path.join(self.board_dir, "vexpress.dtb")]
        return command + self.qemu_args

    def run(self):
        """Boots, reads the console until QEMU ends (or the time is up, when
        QEMU is killed) and returns self."""
        start = self.started_at = time.monotonic()
        proc = self._proc = subprocess.Popen(self.command(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                             stderr=subprocess.STDOUT, preexec_fn=_die_with_parent)
        log("booting %s (%d CPU%s) to run %s" % (self.machine, self.smp, "s" if self.smp > 1 else "",
                                                 ", ".join(self.scripts)))
        pending = b""
        current_file, file_lines = None, []
        deadline = start + self.timeout
        try:
            while True:
                left = deadline - time.monotonic()
                if left <= 0:
                    log("no end after %d s: stopping QEMU" % self.timeout)
                    proc.kill()
                    break
                if self._stopping.is_set():
                    log("stopping QEMU as asked")
                    proc.kill()
                    break
                ready, _, _ = select.select([proc.stdout], [], [], min(left, 0.2))
                if not ready:
                    continue
                chunk = os.read(proc.stdout.fileno(), 65536)
                if not chunk:
                    break
                pending += chunk
                *lines, pending = pending.split(b"\n")
                for raw in lines:
                    line = raw.decode(errors="replace").rstrip("\r")
                    now = time.monotonic() - start
                    if current_file is not None:
                        if line == "@@endfile " + current_file:
                            self._keep_file(current_file, file_lines)
                            current_file = None
                        else:
                            file_lines.append(line)
                        continue
                    if line.startswith("@@file "):
                        current_file, file_lines = line.split(" ", 1)[1], []
                        continue
                    self._line(line, now)
        except BaseException:
            proc.kill()
            raise
        finally:
            proc.stdout.close()
            _, status, usage = os.wait4(proc.pid, 0)
            proc.returncode = self.exit_status = os.waitstatus_to_exitcode(status)
            self.cpu = (usage.ru_utime, usage.ru_stime)
        self.seconds = time.monotonic() - start
        if pending:
            self._line(pending.decode(errors="replace").rstrip("\r"), self.seconds)
        log("QEMU ended after %.1f s with status %d (CPU user %.1f s, sys %.1f s)"
            % (self.seconds, self.exit_status, *self.cpu))
        return self

    def stop(self):
        """Ends a run() going on in another thread: QEMU is killed (the
        board's own state is of no further use)."""
        self._stopping.set()

    def _keep_file(self, name, lines):
        try:
            self.files[name] = gzip.decompress(base64.b64decode("".join(lines)))
        except (ValueError, OSError, EOFError) as e:
            raise RuntimeError("file %s came back damaged over the console: %s" % (name, e))

    def _line(self, line, now):
        self.first_seen.setdefault(line, now)
        words = line.split()
        if not line.startswith("@@") or not words:
            self.console.append(line)
            print("  | " + line, flush=True)
            return
        tag = words[0][2:]
        if tag == "ready":
            self.ready_after = now
            self.guest_uptime = float(words[1])
            log("booted in %.1f s (guest uptime %.2f s)" % (now, self.guest_uptime))
        elif tag == "run":
            self.results[words[1]] = Script(words[1])
            self._started = now
        elif tag == "step":
            script = list(self.results.values())[-1]
            script.steps.append((now, " ".join(words[1:])))
            log("  %6.1f s  %s" % (now - self._started, " ".join(words[1:])))
        elif tag == "status":
            script = self.results[words[1]]
            script.status = int(words[2])
            script.seconds = int(words[3]) / 1000.0
            log("%s ran %.1f s on the board (%.1f s host), status %d"
                % (words[1], script.seconds, now - self._started, script.status))
        elif tag == "done":
            self.done = True
        else:
            self.console.append(line)

    def saw(self, text):
        """Host seconds since the start at which a console line holding `text`
        was first seen, or None."""
        for line, at in self.first_seen.items():
            if text in line:
                return at
        return None
