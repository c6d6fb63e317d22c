#!/usr/bin/env python3
"""The thread stacks of a core file as gdb sees them, and their comparison
with corestack's report of the same core.

As a module:

    theirs = gdb_stacks("gdb-multiarch", program, core, ["10000-12fff:/srv/prog", ...])
    problems = compare(report_stacks(corestack_stdout), theirs, arm=True)

From the command line (prints every difference, exit status 1 if any):

    gdbstacks.py [--gdb gdb] [--sysroot dir] [--arm] report.txt program core [start-end:path ...]

gdb reads only the objects' own symbol tables (no separate debug files, no
debuginfod), as corestack does. A thread's stack is compared down to main
(or to gdb's last frame) and at most 64 frames: every pc, and every function
name that gdb knows (gdb prints `??` where a stripped library has no symbol,
corestack the nearest exported one). Names are compared without their
parameter lists, exactly, but for aliases: where gdb knows another symbol
at the address of the one it names (raise and gsignal), corestack may name
that one. On ARM gdb shows a Thumb caller's pc without the Thumb bit.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

FRAME_LIMIT = 64

_FRAME_LINE = re.compile(r"^#\d+ +PC 0x([0-9a-f]+) in \(.*?\) (.*) \+ 0x([0-9a-f]+)$")
_THREAD_LINE = re.compile(r"^Thread -?\d+ \(LWP (-?\d+), .*\)$")

_GDB_SCRIPT = r"""
import re
import gdb

# Every function symbol gdb knows, by address: the names of an address
# besides the one gdb picks are its aliases.
names_at = {}
for line in gdb.execute("maint print msymbols", to_string=True).split("\n"):
    m = re.match(r"^\[ *\d+\] [TtWwi] (0x[0-9a-f]+) (\S+) section \S+(.*)$", line)
    if m:
        # A C++ symbol's demangled name follows its section.
        demangled = m.group(3).strip().split("  ")[0]
        name = demangled if m.group(2).startswith("_Z") and demangled else m.group(2)
        names_at.setdefault(int(m.group(1), 16), set()).add(name)

def start(address):
    # The address of the symbol gdb finds for `address`, 0 for none.
    text = gdb.execute("info symbol %#x" % address, to_string=True)
    m = re.match(r"^.*?(?: \+ (\d+))? in section ", text)
    return address - int(m.group(1) or 0) if m else 0

for inferior in gdb.inferiors():
    for thread in sorted(inferior.threads(), key=lambda t: t.num):
        thread.switch()
        frame, after_call = gdb.newest_frame(), False
        while frame is not None:
            # Inlined calls have frames of their own in gdb, none in corestack.
            if frame.type() != gdb.INLINE_FRAME:
                # gdb names a caller from inside its call, like corestack.
                lookup = frame.pc() - 1 if after_call else frame.pc()
                at = start(lookup)
                print("gdbstacks %d %#x %#x|%s|%s" % (thread.ptid[1], frame.pc(), at, frame.name() or "",
                                                     "\t".join(sorted(names_at.get(at, ())))))
                after_call = frame.type() != gdb.SIGTRAMP_FRAME
            frame = frame.older()
"""


def bare(name):
    """A function name without its parameter list (and what follows it)."""
    if not name.endswith(")") and not name.endswith(") const"):
        return name
    depth = 0
    for i in range(len(name) - 1, -1, -1):
        if name[i] == ")":
            depth += 1
        elif name[i] == "(":
            depth -= 1
            if depth == 0:
                return name[:i]
    return name


def report_stacks(text):
    """{lwp: [(pc, name, start)]} of the "Thread" sections of corestack's
    report; `start` is the address of the symbol named."""
    stacks, current = {}, None
    for line in text.split("\n"):
        m = _THREAD_LINE.match(line)
        if m:
            current = stacks.setdefault(int(m.group(1)), [])
            continue
        m = _FRAME_LINE.match(line)
        if m and current is not None:
            pc = int(m.group(1), 16)
            current.append((pc, m.group(2), pc - int(m.group(3), 16)))
        elif not line:
            current = None
    return stacks


def gdb_stacks(gdb, program, core, modules=(), sysroot=None, timeout=120):
    """{lwp: [(pc, name or None, start, aliases)]}: gdb's frames of every
    thread, down to main and at most FRAME_LIMIT; `start` is the address of
    the symbol gdb finds for the frame (0: none), `aliases` the other names
    gdb knows at that address. `modules` ("start-end:path")
    tell gdb where the libraries are on this machine."""
    with tempfile.TemporaryDirectory(prefix="gdbstacks-") as scratch:
        script = os.path.join(scratch, "frames.py")
        with open(script, "w") as f:
            f.write(_GDB_SCRIPT)
        dirs = sorted({os.path.dirname(m.split(":", 1)[1]) for m in modules})
        settings = ["set debuginfod enabled off", "set debug-file-directory " + scratch]
        if sysroot is not None:
            settings.append("set sysroot " + sysroot)
        if dirs:
            settings.append("set solib-search-path " + ":".join(dirs))
        command = [gdb, "-nx", "-batch"]
        for setting in settings:
            command += ["-iex", setting]
        command += ["-ex", "file " + program, "-ex", "core-file " + core, "-ex", "source " + script]
        r = subprocess.run(command, capture_output=True, text=True, timeout=timeout)
    stacks = {}
    for line in r.stdout.split("\n"):
        if not line.startswith("gdbstacks "):
            continue
        head, rest = line[len("gdbstacks "):].split("|", 1)
        name, names = rest.rsplit("|", 1)
        lwp, pc, start = head.split()
        frames = stacks.setdefault(int(lwp), [])
        if len(frames) < FRAME_LIMIT and not (frames and frames[-1][1] == "main"):
            name = bare(name) if name else None
            aliases = {bare(n) for n in names.split("\t") if n} - {name}
            frames.append((int(pc, 16), name, int(start, 16), aliases))
    if not stacks:
        raise RuntimeError("gdb listed no frames:\n" + r.stdout + r.stderr)
    return stacks


def compare(ours, theirs, arm=False):
    """Every difference between corestack's stacks and gdb's, as text."""
    problems = []
    for lwp, expected in sorted(theirs.items()):
        actual = ours.get(lwp)
        if actual is None:
            problems.append("LWP %d: not in corestack's report" % lwp)
            continue
        for i, (pc, name, start, aliases) in enumerate(expected):
            if i >= len(actual):
                problems.append("LWP %d: corestack stops after %d frames, gdb has #%d %#x %s"
                                % (lwp, len(actual), i, pc, name or "??"))
                break
            our_pc, our_name, our_start = actual[i]
            mask = ~1 if arm else ~0
            alias = bare(our_name) in aliases and start & mask == our_start & mask
            if our_pc & mask != pc & mask or (name is not None and bare(our_name) != name and not alias):
                problems.append("LWP %d #%d: corestack %#x %s, gdb %#x %s"
                                % (lwp, i, actual[i][0], our_name, pc, name or "??"))
                break
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--gdb", default="gdb")
    parser.add_argument("--sysroot")
    parser.add_argument("--arm", action="store_true")
    parser.add_argument("report", help="corestack's text report of the core")
    parser.add_argument("program")
    parser.add_argument("core")
    parser.add_argument("modules", nargs="*", help="start-end:path, as given to corestack -f")
    args = parser.parse_args()
    with open(args.report) as f:
        ours = report_stacks(f.read())
    theirs = gdb_stacks(args.gdb, args.program, args.core, args.modules, args.sysroot)
    problems = compare(ours, theirs, args.arm)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
