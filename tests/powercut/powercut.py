#!/usr/bin/env python3
"""Power cuts: saves, deletes and identities made by the library inside a virtual machine, cut
off at random moments and at every crash point of a recorded run, then checked after the file
system recovers.

Random cuts. For each file system (ext4, f2fs) a fresh disk image is made; boot k checks the
files left by run k (what the file system recovered at mount), compares them with what run k
answered on the console before the cut, and starts run k + 1, which the host cuts after a random
delay with SIGKILL of qemu. The last boot only checks. So N cuts cost N + 1 boots per file
system.

Crash points. One boot per file system records a fixed number of iterations of the same
workload on a dm-log-writes target, which logs every write the file system sends to the disk,
every flush and every FUA write, in the order the disk completed them, to a second disk; the
guest adds a mark to the log after each answer. The same boot then replays the log onto a copy
of the starting image and, at every flush, FUA write and mark, mounts a snapshot of the disk as
it stood there (the file system recovers its journal or checkpoint as after a power cut; the
snapshot keeps the replay unchanged) and checks the files. A power cut just before the next
flush or FUA write can leave the disk as it stood at such a point, after every answer whose
mark precedes that flush or FUA write, so each state is checked against those answers. Points
with no write between them are one state, mounted once and checked against each point's
answers. A third such boot records with a guest whose directory syncs fail (the library still
answers 200): its states must fail, or the checks are blind. A replay that stalls is taken up by
another machine from the point after the last one checked.

What is checked, after every cut and at every crash point, from the answers given:
  - every file holds one complete text the workload saved (its first line names file, version
    and size, the rest is determined by them, it ends with a checksum): never torn, mixed, empty
    or of another file;
  - it is the last text whose save was answered, or the one after it (in flight at the cut);
  - a file whose delete was answered is absent, unless the save after it was in flight;
  - the identity is the last one handed out, or the one being made at the cut; an identity
    handed out is handed out again by the next call with its tag;
  - any other file in the directory is a temporary file of the library's own name form.

The random cuts write to a raw image that qemu writes with plain writes, so everything the
guest kernel sent to its disk survives the kill: a cut loses what the guest kernel held in
memory (page cache, unwritten metadata, an uncommitted journal or checkpoint). The crash points
model a disk with a volatile cache that honours flushes and FUA writes: the disk at a point
holds what the log holds up to it, and dm-log-writes logs a write that completed but was not yet
flushed only at the next flush, so such writes are lost too. What neither models: a disk that
acknowledges flushes it has not made, a sector torn by the cut, and the states where a cache
kept some unflushed writes but not others (only prefixes of the log are checked).

The machines run two at a time (one per host core): the random cuts of each file system, then
the crash points.
"""

import argparse
import bisect
import glob
import os
import queue
import random
import re
import shutil
import subprocess
import sys
import threading
import time

# Modules the disk, the entropy source and each file system need; their dependencies are found in their .modinfo
# and loaded first. The crc32 modules are not symbol dependencies: ext4 and f2fs ask the crypto
# API for them at mount time.
# virtio_rng feeds the guest's entropy pool from the host: without it, getrandom() blocks for
# seconds after boot, and a cut would find the first identity call waiting almost every time.
# dm_log_writes and dm_snapshot are the crash points' recording and per-state snapshots.
DISK_MODULES = ["virtio_pci", "virtio_blk", "virtio_rng", "dm_log_writes", "dm_snapshot"]
FS_MODULES = {"ext4": ["crc32c_generic", "ext4"], "f2fs": ["crc32_generic", "f2fs"]}

RUN_STRIDE = 100000  # version = run * RUN_STRIDE + iteration, as the guest makes them
SIZES = [100, 4096, 1 << 20]
BOOT_TIMEOUT = 300  # seconds from start to the check's last line, on a busy 2-core machine
CRASH_TIMEOUT = 1200  # seconds for a crash-point machine to record, replay and check
CRASH_IDLE = 150  # seconds without a line from its guest after which such a machine has stalled
CRASH_STALLS = 3  # stalled crash-point machines that are started again, per recording
CRASH_RUN = 1  # the run number of the crash points' recording
GUESTS = {"guest": "the library", "guest-no-dir-sync": "the library without the directory sync"}


def fnv1a(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


LONG_NAME = ("long-" + "\u9577" * 78 + "x").encode()
assert len(LONG_NAME) == 240


def temp_stem(name):
    """The stem of the library's temporary names for a target called name (bytes)."""
    if len(name) <= 100:
        return name
    cut = 83
    while cut > 0 and (name[cut] & 0xC0) == 0x80:
        cut -= 1
    return name[:cut] + b"~" + b"%016x" % fnv1a(name)


TEMP_NAME = re.compile(
    rb"\.(?:"
    + b"|".join(re.escape(temp_stem(n)) for n in (b"s", b"d", b"id", LONG_NAME))
    + rb")\.kivtmp-[0-9a-f]{12}"
)


# --- what the workload does, as the guest does it -------------------------------------------


def text_state(key, run, i):
    """The state file `key` has after iteration i of run `run`."""
    version = run * RUN_STRIDE + i
    if key == "s":
        return ("text", version, SIZES[i % 3])
    if key == "L":
        return ("text", version, SIZES[(i + 1) % 3])
    if i % 2 == 1:
        return ("absent",)
    return ("text", version, 4096)


def identity_tag(call):
    return "pc-even" if call % 2 == 0 else "pc-odd"


def parse_check(lines):
    """States found by the guest's check: {key: state}, and the other directory entries."""
    states, entries = {}, []
    for line in lines:
        m = re.fullmatch(r"STATE (\w+) (.*)", line)
        if m:
            key, rest = m.groups()
            if rest == "absent":
                states[key] = ("absent",)
            elif key == "id" and rest.startswith("plain="):
                states[key] = ("identity", bytes.fromhex(rest[6:]).decode("latin-1"))
            else:
                v = re.fullmatch(r"version=(\d+) size=(\d+)", rest)
                states[key] = ("text", int(v[1]), int(v[2])) if v else ("bad", rest)
            continue
        m = re.fullmatch(r"ENTRY ([0-9a-f]*) size=(-?\d+)", line)
        if m:
            entries.append(bytes.fromhex(m[1]))
    return states, entries


def verify(before, run, log, after, entries):
    """Violations of the invariants by the states `after` a cut of run `run`, which started from
    the states `before` and printed `log`."""
    problems = []
    answered = {"s": [], "L": [], "d": []}
    identities = []
    for line in log:
        m = re.fullmatch(r"OK (s|L|d) (\d+) (saved|deleted)", line)
        if m:
            answered[m[1]].append(int(m[2]) - run * RUN_STRIDE)
            continue
        m = re.fullmatch(r"OK id (\d+) tag=([\w-]+) plain=([0-9a-f]*)", line)
        if m:
            identities.append((m[2], bytes.fromhex(m[3]).decode("latin-1")))

    for key in ("s", "L", "d"):
        done = answered[key]
        if done != list(range(len(done))):
            problems.append(f"{key}: answers out of order: {done[:5]}...")
            continue
        last = text_state(key, run, done[-1]) if done else before.get(key, ("absent",))
        in_flight = text_state(key, run, len(done))
        found = after.get(key)
        if found not in (last, in_flight):
            what = "deleted" if last == ("absent",) else f"saved as {last}"
            problems.append(
                f"{key}: holds {found}; last answer: {what}"
                + (f" ({len(done)} answers this run)" if done else " (none this run)")
                + f"; in flight: {in_flight}"
            )

    # The identity: every call alternates the tag, so each one replaces the stored identity.
    start = before.get("id", ("absent",))
    for call, (tag, plain) in enumerate(identities):
        if tag != identity_tag(call) or not re.fullmatch(r"\d*" + re.escape(tag), plain):
            problems.append(f"id: call {call} answered {plain!r} for tag {tag}")
    if identities and start[0] == "identity" and identities[0][0] in start[1]:
        if identities[0][1] != start[1]:
            problems.append(
                f"id: the stored identity {start[1]!r} was not handed out again "
                f"(got {identities[0][1]!r})"
            )
    last = ("identity", identities[-1][1]) if identities else start
    next_tag = identity_tag(len(identities))
    found = after.get("id")
    if found != last:
        fresh = (
            found is not None
            and found[0] == "identity"
            and re.fullmatch(r"\d*" + re.escape(next_tag), found[1])
            and not (last[0] == "identity" and next_tag in last[1])
        )
        if not fresh:
            problems.append(f"id: holds {found}; last handed out: {last}; in flight: {next_tag}")

    for name in entries:
        if not TEMP_NAME.fullmatch(name):
            problems.append(f"unexpected file in the directory: {name!r}")
    return problems


# --- the machine ----------------------------------------------------------------------------


def module_depends(path):
    with open(path, "rb") as f:
        data = f.read()
    m = re.search(rb"\x00depends=([\w,-]*)\x00", data)
    return [d.replace("-", "_") for d in m[1].decode().split(",") if d] if m else []


def build_initramfs(kernel_dir, guests, init, work, fs):
    """The machine's initramfs: busybox, init, the modules and the guest programs ({name: path})."""
    modules = {}
    for path in glob.glob(os.path.join(kernel_dir, "lib/modules/*/kernel/**/*.ko"), recursive=True):
        modules[os.path.basename(path)[:-3].replace("-", "_")] = path
    order = []

    def add(name):
        if name in order:
            return
        if name not in modules:
            sys.exit(f"powercut: module {name} is not in {kernel_dir}")
        for dep in module_depends(modules[name]):
            add(dep)
        order.append(name)

    for name in DISK_MODULES + FS_MODULES[fs]:
        add(name)
    root = os.path.join(work, f"initramfs-{fs}")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "bin"))
    os.makedirs(os.path.join(root, "modules"))
    busybox = shutil.which("busybox") or "/bin/busybox"
    shutil.copy(busybox, os.path.join(root, "bin/busybox"))
    for name, path in guests.items():
        shutil.copy(path, os.path.join(root, name))
    shutil.copy(init, os.path.join(root, "init"))
    for name in order:
        shutil.copy(modules[name], os.path.join(root, "modules", name + ".ko"))
    with open(os.path.join(root, "modules/order"), "w") as f:
        f.write("\n".join(order) + "\n")
    image = root + ".cpio"
    files = subprocess.run(
        ["find", "."], cwd=root, check=True, capture_output=True
    ).stdout
    with open(image, "wb") as out:
        subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=root, input=files,
                       stdout=out, check=True)
    print(f"powercut: {fs} initramfs with modules {' '.join(order)}")
    return image


class Stalled(RuntimeError):
    pass


KERNEL_LINE = re.compile(r"\[ *\d+\.\d+\] ")  # a kernel message, "[  242.637896] ..."


class Boot:
    """One boot of the machine, its console read line by line with the time each arrived."""

    def __init__(self, kernel, initramfs, disks, fs, mode, run, extra="", timeout=BOOT_TIMEOUT):
        # Without the CPU bug mitigations the emulated kernel boots and runs faster; they change
        # nothing the file systems do. no_timer_check: on a busy host the emulated timer can
        # miss the kernel's boot-time test of it, which then sets it up another way.
        append = (f"console=ttyS0 quiet panic=-1 mitigations=off no_timer_check kivfs={fs} "
                  f"kivmode={mode} kivrun={run} {extra}")
        # cache=unsafe: the guest's flushes reach no host disk, which changes nothing here, as
        # the host itself never loses power. The disks are vda, vdb, ... in this order.
        drives = []
        for disk in disks:
            drives += ["-drive", f"file={disk},if=virtio,format=raw,cache=unsafe"]
        self.timeout = timeout
        self.proc = subprocess.Popen(
            ["qemu-system-x86_64", "-accel", "tcg", "-m", "256", "-nodefaults",
             "-no-user-config", "-display", "none", "-serial", "stdio", "-no-reboot",
             "-kernel", kernel, "-initrd", initramfs, "-append", append, *drives,
             "-device", "virtio-rng-pci"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.lines = queue.Queue()
        self.console = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            if raw.endswith(b"\n"):  # a line cut off by the kill is no answer
                self.lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self.lines.put(None)

    def until(self, marker, deadline, idle=None):
        """Console lines up to and including the first that is `marker`; Stalled if the machine
        prints nothing but kernel messages for `idle` seconds before the deadline."""
        got = []
        progress = time.monotonic()
        while True:
            now = time.monotonic()
            wait = max(0.0, deadline - now)
            if idle is not None:
                wait = min(wait, max(0.0, progress + idle - now))
            try:
                line = self.lines.get(timeout=wait)
            except queue.Empty:
                self.kill()
                if time.monotonic() < deadline:
                    raise Stalled(f"no line from the guest for {idle} s before '{marker}'")
                raise RuntimeError(f"no '{marker}' within {self.timeout} s")
            if line is None:
                raise RuntimeError(f"the machine stopped before '{marker}'")
            self.console.append(line)
            got.append(line)
            if not KERNEL_LINE.match(line):
                progress = time.monotonic()
            if line.startswith("FAIL"):
                self.kill()
                raise RuntimeError(line)
            if line == marker or line.startswith(marker + " "):
                return got

    def kill(self):
        """The power cut: the console lines that left the machine before it are kept."""
        self.proc.kill()
        self.proc.wait()
        self.reader.join()
        got = []
        while (line := self.lines.get()) is not None:
            got.append(line)
        self.console.extend(got)
        return got


def sparse_file(path, size):
    with open(path, "wb") as f:
        f.truncate(size)


def make_image(path, fs):
    """A fresh 256 MiB file system image."""
    sparse_file(path, 256 << 20)
    mkfs = ["mkfs.ext4", "-q", "-F", "-b", "4096", path] if fs == "ext4" else \
        ["mkfs.f2fs", "-q", "-f", path]
    subprocess.run(mkfs, check=True, stdout=subprocess.DEVNULL)


def random_cuts(fs, args, initramfs, report):
    rng = random.Random(f"{args.seed}/{fs}")
    disk = os.path.join(args.work, f"{fs}.img")
    make_image(disk, fs)

    before = {}
    log = []
    failures = 0
    leftovers = 0
    answers = 0
    for boot in range(args.cuts + 1):
        mode = "run" if boot < args.cuts else "check"
        started = time.monotonic()
        b = Boot(args.kernel, initramfs, [disk], fs, mode, boot + 1)
        deadline = started + BOOT_TIMEOUT
        check_lines = b.until("CHECKED", deadline)
        booted = time.monotonic() - started
        after, entries = parse_check(check_lines)
        leftovers = max(leftovers, len(entries))
        if boot > 0:
            problems = verify(before, boot, log, after, entries)
            n = sum(1 for line in log if line.startswith("OK "))
            answers += n
            status = "ok" if not problems else f"{len(problems)} VIOLATIONS"
            print(f"{fs} cut {boot}/{args.cuts}: {n} answers in {delay:.2f} s; booted and "
                  f"checked in {booted:.0f} s, {len(entries)} temporary files: {status}",
                  flush=True)
            if problems:
                failures += 1
                if failures == 1:
                    report.append(
                        f"=== {fs}: first failing cut, {boot} of {args.cuts} (seed {args.seed}), "
                        f"cut {delay:.2f} s after the run started\n"
                        + "".join(f"  violation: {p}\n" for p in problems)
                        + "--- console of the run that was cut:\n"
                        + "".join(f"  {line}\n" for line in cut_console)
                        + "--- console of the boot after it (the files as recovered):\n"
                        + "".join(f"  {line}\n" for line in b.console)
                    )
        before = after
        if mode == "check":
            b.until("POWEROFF", deadline)
            b.proc.wait()
            break
        run_lines = b.until("RUN", deadline)
        delay = rng.uniform(0.2, 4.0)
        cut_at = time.monotonic() + delay
        while (left := cut_at - time.monotonic()) > 0:
            try:
                line = b.lines.get(timeout=left)
            except queue.Empty:
                break
            if line is None:
                break
            b.console.append(line)
            run_lines.append(line)
            if line.startswith("FAIL"):
                b.kill()
                raise RuntimeError(f"{fs}: {line}")
        run_lines += b.kill()
        log = run_lines
        cut_console = b.console
    return failures, answers, leftovers


# --- crash points ---------------------------------------------------------------------------


def parse_replay(lines):
    """The replay's points, each (log entry, whether it is a flush or FUA write, its mark or
    None, the index of its disk state or -1 for the starting image, its kinds), and the console
    lines of each disk state's check, from the replay's console lines."""
    points, states = [], []
    for line in lines:
        m = re.fullmatch(r"POINT (\d+)((?: flush| fua)*)(?: mark (\S+))?( unchanged)?", line)
        if m:
            if not m[4]:
                states.append([])
            points.append((int(m[1]), bool(m[2]), m[3], len(states) - 1, m[2].split()))
        elif states and line.startswith(("STATE ", "ENTRY ", "UNMOUNTABLE ")):
            states[-1].append(line)
    return points, states


def checked_until(lines):
    """How many of a replay's console lines end with its last point whose check is complete,
    and the log entry after that point."""
    good, resume, entry = 0, 0, 0
    for i, line in enumerate(lines):
        m = re.match(r"POINT (\d+)", line)
        if m:
            entry = int(m[1])
            if line.endswith(" unchanged"):
                good, resume = i + 1, entry + 1
        elif line == "CHECKED" or line.startswith("UNMOUNTABLE "):
            good, resume = i + 1, entry + 1
    return good, resume


def answers_by_point(points, answers):
    """For each point, how many answers had been given before the next flush or FUA write in
    the log: a power cut just before that one can leave the disk as it stood at the point. An
    answer counts from its mark on (the mark follows the answer, so this never counts one too
    early)."""
    barriers = [entry for entry, barrier, *_ in points if barrier]
    marks = [(entry, int(mark[1:])) for entry, _, mark, *_ in points if mark and mark != "end"]
    counts = []
    for entry, *_ in points:
        after = bisect.bisect_right(barriers, entry)
        limit = barriers[after] if after < len(barriers) else float("inf")
        given = [n for e, n in marks if e < limit]
        counts.append(min(max(given, default=0), len(answers)))
    return counts


def record_and_replay(fs, args, initramfs, guest):
    """Boots a machine that records the workload on `fs` with `guest` and replays it; returns
    the console lines of the recording and those of the replay."""
    work = os.path.join(args.work, f"crashpoints-{fs}-{guest}")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    start, record, log, replay, cow = (os.path.join(work, f"{name}.img") for name in
                                      ("start", "record", "log", "replay", "cow"))
    make_image(start, fs)
    deadline = time.monotonic() + CRASH_TIMEOUT
    # A machine may stall: about one ext4 replay in fifteen here, in the emulated kernel (ext4's
    # journal recovery waits forever for a read through the snapshot). Another machine then
    # replays the same log again and checks from the point after the last one checked.
    recorded, replayed, first = None, [], 0
    for _ in range(CRASH_STALLS + 1):
        for copy in (replay,) if recorded else (record, replay):
            subprocess.run(["cp", "--sparse=always", start, copy], check=True)
        if not recorded:
            sparse_file(log, 2 << 30)
        sparse_file(cow, 256 << 20)
        extra = f"kivguest={guest} kiviterations={args.iterations}"
        b = Boot(args.kernel, initramfs, [record, log, replay, cow], fs, "crashpoints",
                 CRASH_RUN, extra + (f" kivfrom={first}" if recorded else ""), CRASH_TIMEOUT)
        stalled = None
        try:
            lines = b.until("POWEROFF", deadline, CRASH_IDLE)
            b.proc.wait()
        except Stalled as e:
            lines, stalled = b.console, e
        except RuntimeError as e:
            tail = "".join(f"  {line}\n" for line in b.console[-60:])
            raise RuntimeError(f"{e}; the console's last lines:\n{tail}") from None
        if recorded is None and "RECORDED" in lines:
            recorded = lines[:lines.index("RECORDED")]
        header = next((i for i, line in enumerate(lines) if line.startswith("REPLAY ")), None)
        after = lines[header + 1:] if header is not None else []
        if stalled is None:
            shutil.rmtree(work)
            return recorded, replayed + after
        good, resume = checked_until(after)
        replayed += after[:good]
        first = max(first, resume)
        kernel = [line for line in lines if KERNEL_LINE.match(line)]
        print(f"{fs} crash points, {GUESTS[guest]}: the machine stalled ({stalled}); another "
              + (f"replays the log and checks from its entry {first}" if recorded else
                 "records again")
              + ("; what the kernel said:\n" if kernel else "\n")
              + "".join(f"  {line}\n" for line in kernel[-80:]), end="", flush=True)
    raise RuntimeError(f"{fs}: {CRASH_STALLS + 1} crash-point machines stalled")


def crash_points(fs, args, initramfs, guest, report):
    """Records the workload on `fs` through dm-log-writes with `guest`, then checks the disk at
    every flush, FUA write and mark against the answers given before the next flush or FUA
    write. Returns (states checked, states failed)."""
    started = time.monotonic()
    recorded, lines = record_and_replay(fs, args, initramfs, guest)
    secs = time.monotonic() - started
    answers = [line for line in recorded if line.startswith("OK ")]
    points, states = parse_replay(lines)
    replayed = next(line for line in lines if line.startswith("REPLAYED "))
    marked = [int(m[1:]) for _, _, m, *_ in points if m and m != "end"]
    if not answers or marked != list(range(1, len(answers) + 1)) or not states:
        raise RuntimeError(f"{fs}: {len(answers)} answers on the console, marks "
                           f"{marked[:3]}...{marked[-3:]} in the log, {len(states)} states")
    counts = answers_by_point(points, answers)
    failed = 0
    for state, check in enumerate(states):
        given = sorted({n for p, n in zip(points, counts) if p[3] == state})
        at = [p for p in points if p[3] == state]
        if check and check[0].startswith("UNMOUNTABLE "):
            problems = [f"the file system does not mount: {check[0].split(' ', 1)[1]}"]
        else:
            after, entries = parse_check(check)
            problems = [f"with {n} answers given: {p}" for n in given
                        for p in verify({}, CRASH_RUN, answers[:n], after, entries)]
        if not problems:
            continue
        failed += 1
        if failed == 1:
            n = given[-1] if given else 0
            report.append(
                f"=== {fs}, {GUESTS[guest]}: first failing state, {state + 1} of {len(states)}, "
                f"the disk at log entr{'y' if len(at) == 1 else 'ies'} "
                + ", ".join(f"{e} ({' '.join(kinds + ([f'mark {m}'] if m else []))})"
                            for e, _, m, _, kinds in at) + "\n"
                + "".join(f"  violation: {p}\n" for p in problems)
                + f"--- the last answers given before the next flush or FUA write ({n} in all):\n"
                + "".join(f"  {line}\n" for line in answers[max(0, n - 6):n])
                + "--- what the state holds:\n"
                + "".join(f"  {line}\n" for line in check)
            )
    kinds = [k for *_, ks in points for k in ks]
    marks = sum(1 for p in points if p[2])
    print(f"{fs} crash points, {GUESTS[guest]}: {len(answers)} answers, {len(points)} points in "
          f"the log ({kinds.count('flush')} flushes, {kinds.count('fua')} FUA writes, {marks} "
          f"marks; {replayed.split(', ', 1)[1]}), {len(states)} distinct states, {failed} "
          f"failed; recorded and checked in {secs:.0f} s", flush=True)
    return len(states), failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--kernel-dir", required=True, help="the kernel package, unpacked")
    parser.add_argument("--guest", required=True, help="the static guest program")
    parser.add_argument("--guest-no-dir-sync", required=True,
                        help="the guest program on a core whose directory syncs fail")
    parser.add_argument("--work", required=True, help="a folder for the images")
    parser.add_argument("--cuts", type=int, default=25, help="power cuts per file system")
    parser.add_argument("--seed", type=int, default=None, help="replays the cuts of a run")
    parser.add_argument("--iterations", type=int, default=40,
                        help="iterations of the workload recorded for the crash points")
    parser.add_argument("--self-check-fs", default="ext4",
                        help="the file system of the crash points' self-check")
    parser.add_argument("--fs", nargs="+", default=["ext4", "f2fs"])
    args = parser.parse_args()
    if args.seed is None:
        args.seed = random.SystemRandom().randrange(1 << 32)
    print(f"powercut: seed {args.seed} (replay with --seed {args.seed}), "
          f"{args.cuts} cuts per file system: {' '.join(args.fs)}; crash points of "
          f"{args.iterations} iterations", flush=True)
    kernels = glob.glob(os.path.join(args.kernel_dir, "boot/vmlinuz-*"))
    if len(kernels) != 1:
        sys.exit(f"powercut: no single kernel in {args.kernel_dir}/boot")
    args.kernel = kernels[0]
    os.makedirs(args.work, exist_ok=True)
    here = os.path.dirname(os.path.abspath(__file__))
    guests = {"guest": args.guest, "guest-no-dir-sync": args.guest_no_dir_sync}
    initramfs = {fs: build_initramfs(args.kernel_dir, guests, os.path.join(here, "init"),
                                     args.work, fs)
                 for fs in set(args.fs) | {args.self_check_fs}}

    # Every machine is one job; two run at once (each emulated CPU takes a host core), the
    # longest first.
    jobs = queue.Queue()
    for fs in args.fs if args.cuts > 0 else []:
        jobs.put(("cuts", fs, None))
    for fs in args.fs:
        jobs.put(("crash", fs, "guest"))
    jobs.put(("crash", args.self_check_fs, "guest-no-dir-sync"))
    results, reports, errors = {}, [], []

    def worker():
        while True:
            try:
                kind, fs, guest = jobs.get_nowait()
            except queue.Empty:
                return
            report = []
            try:
                if kind == "cuts":
                    results[kind, fs, guest] = random_cuts(fs, args, initramfs[fs], report)
                else:
                    results[kind, fs, guest] = crash_points(fs, args, initramfs[fs], guest,
                                                            report)
            except Exception as e:  # a machine that did not boot or a workload that failed
                what = "random cuts" if kind == "cuts" else f"crash points, {GUESTS[guest]}"
                errors.append(f"{fs} {what}: {e}")
            reports.extend(report)

    threads = [threading.Thread(target=worker) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()

    for text in reports:
        print(text, end="")
    for error in errors:
        print(f"powercut: FAILED: {error}")
    passed = 0
    for fs in args.fs:
        cuts, crash = results.get(("cuts", fs, None)), results.get(("crash", fs, "guest"))
        if cuts:
            failures, answers, leftovers = cuts
            print(f"powercut: {fs}: {args.cuts} cuts, {answers} answers checked, "
                  f"{failures} cuts with violations, at most {leftovers} temporary files left")
        cuts_passed = args.cuts == 0 or (cuts and cuts[0] == 0)
        passed += bool(cuts_passed and crash and crash[1] == 0)
    self_check = results.get(("crash", args.self_check_fs, "guest-no-dir-sync"))
    if self_check and self_check[1] == 0:
        print("powercut: FAILED: the crash points passed a save without the directory sync: "
              "they are blind to what they exist to catch")
    print(f"powercut: seed {args.seed}; file systems (power cuts and crash points):")
    print(f"powercut: {passed} passed, {len(args.fs) - passed} failed")
    for fs in args.fs:
        crash = results.get(("crash", fs, "guest"))
        if crash:
            print(f"crashpoints {fs}: {crash[0]} states checked, {crash[1]} failed")
    if self_check:
        print(f"crashpoints self-check: a save without the directory sync fails "
              f"{self_check[1]} of {self_check[0]} states")
    ok = not errors and passed == len(args.fs) and self_check and self_check[1] > 0
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
