#!/usr/bin/env python3
"""Mutation testing: the default suite run against small changes of the library's code.

    .ci/mutate.py BUILD_DIR [--only critical|random] [--list] [--sample N]

BUILD_DIR is a configured build of the default suite (its own directory: the sources are
changed and put back one mutant at a time, and only what a change touches is rebuilt). Two sets
of mutants, each built and run against every test of the build (ctest --stop-on-failure):

  critical  .ci/mutants/critical.txt: a file, a pattern that must occur in it exactly once, its
            replacement and what the change would break. Every one must be killed.
  random    a sample drawn with the seed in .ci/mutants/random.conf from every executable line
            of the library's folders (one line, one operator, as below; not in a kernel this
            CPU cannot run): its score must stay at or above the threshold there. Mutants in
            .ci/mutants/equivalent.txt, which no behaviour can tell from the code, are set
            aside.

A mutant that does not build is neither killed nor survived (it is counted apart); a critical
one that does not build fails the run, as does a pattern that does not occur exactly once.
Every suite runs in a mount namespace of its own, with a private /dev (null, zero, full, random,
urandom, loop devices; standard input its /dev/null) and a file system of its own for its scratch files (TMPDIR).
"""

import argparse
import hashlib
import os
import random
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(os.environ.get("KIV_MUTATE_ROOT", Path(__file__).resolve().parent.parent))
MUTANTS = ROOT / ".ci" / "mutants"


def records(path):
    """The blank-line separated `key: value` records of a list file (# starts a comment)."""
    out, cur = [], {}
    for line in path.read_text(encoding="utf-8").splitlines() + [""]:
        if line.startswith("#"):
            continue
        if not line.strip():
            if cur:
                out.append(cur)
            cur = {}
            continue
        key, _, value = line.partition(":")
        cur[key.strip()] = value.strip().replace("\\n", "\n")
    return out


def config():
    conf = {}
    for line in (MUTANTS / "random.conf").read_text(encoding="utf-8").splitlines():
        line = line.split("#")[0].split()
        if line:
            conf[line[0]] = line[1:]
    return conf


# --- Random mutants: one operator applied at one place of one line --------------------------

def mask(code):
    """The line with the insides of string and character literals blanked, and no comment."""
    out, quote, i = [], None, 0
    while i < len(code):
        c = code[i]
        if quote:
            if c == "\\":
                out.append("__")
                i += 2
                continue
            out.append(c if c == quote else "_")
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(c)
        elif code.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)


SWAPS = {"==": "!=", "!=": "==", "<": "<=", "<=": "<", ">": ">=", ">=": ">", "&&": "||",
         "||": "&&", "+": "-", "-": "+"}
CALL = re.compile(r"^\s*[A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*\(.*\);$")
EARLY_RETURN = re.compile(r"^(\s*if \(.*\)) return\b.*;$")


DECLARATION = re.compile(r"^(const )?[\w:<>]+[*&]? \w+ = ")


def sites(line, code, previous):
    """(start, end, replacement, operator) for each mutation of a line (`code`: it masked)."""
    found = []
    for m in re.finditer(r"(?<= )(==|!=|<=|>=|&&|\|\||<|>|\+|-)(?= )", code):
        op = m.group(1)
        found.append((m.start(), m.end(), SWAPS[op], op + " to " + SWAPS[op]))
    for m in re.finditer(r"(?<![\w.])([01])([uU]?[lL]{0,2})(?![\w.'])", code):
        found.append((m.start(1), m.end(1), "1" if m.group(1) == "0" else "0", "constant"))
    for m in re.finditer(r"\b(true|false)\b", code):
        found.append((m.start(), m.end(), "false" if m.group(1) == "true" else "true", "bool"))
    for m in re.finditer(r" \| O_[A-Z]+\b|\bO_[A-Z]+ \| ", code):
        found.append((m.start(), m.end(), "", "flag " + m.group(0).strip(" |")))
    for m in re.finditer(r"\b(if|while) \(", code):
        depth, end = 0, None
        for j in range(m.end() - 1, len(code)):
            depth += {"(": 1, ")": -1}.get(code[j], 0)
            if depth == 0:
                end = j
                break
        if end is not None and not DECLARATION.match(code[m.end():end]):
            inner = line[m.end():end]
            found.append((m.end(), end, "!(" + inner + ")", "negated condition"))
    statement_start = previous.rstrip().endswith((";", "{", "}", ":"))
    if statement_start and CALL.match(code) and not code.lstrip().startswith("return"):
        found.append((0, len(code), "", "call removed"))
    m = EARLY_RETURN.match(code)
    if m:
        found.append((m.end(1), len(code), " {}", "early return removed"))
    return found


# The dispatch tests that name the kernels built in that this CPU cannot run, per folder.
DISPATCH_TESTS = (("text", "kiv_text_tests", "UtfDispatch.EveryKernelBuiltInRunsHere"),
                  ("codec", "kiv_codec_tests", "CodecDispatch.EveryKernelBuiltInRunsHere"))


def unrunnable_kernels(build):
    """The kernel files this build compiles for instruction sets this CPU lacks (AVX-512 on most
    machines): no test runs them here, so their mutants would survive whatever the tests are.
    The dispatch tests name them ("built in, but this CPU cannot run: avx512");
    KIV_MUTATE_UNRUNNABLE (folder/kernel_set.cpp, space-separated) adds files, to see the sample
    of a machine without them."""
    files = set(os.environ.get("KIV_MUTATE_UNRUNNABLE", "").split())
    for folder, binary, test in DISPATCH_TESTS:
        exe = next((f for f in Path(build).rglob(binary) if f.is_file()), None)
        if exe is None:
            continue
        out = subprocess.run([str(exe), f"--gtest_filter={test}"], capture_output=True,
                             text=True).stdout
        m = re.search(r"cannot run: (.*)", out)
        if m:
            files |= {f"{folder}/kernel_{name.strip()}.cpp" for name in m.group(1).split(",")}
    return files


def random_mutants(folders, build):
    """Every executable line of the library (a line with a place to mutate) and its mutants: in
    its headers and in the sources this build compiles and this CPU runs (not another machine's
    kernels)."""
    files = subprocess.run(["git", "ls-files", "--", *folders], cwd=ROOT, check=True,
                           capture_output=True, text=True).stdout.split()
    built = set()
    for o in Path(build).rglob("*.o"):  # build/DIR/CMakeFiles/TARGET.dir/FILE.o: DIR/FILE
        m = re.match(r"(.*?)CMakeFiles/[^/]+\.dir/(.*)\.o$", str(o.relative_to(build)))
        if m:
            built.add(m.group(1) + m.group(2))
    unrunnable = unrunnable_kernels(build)
    if unrunnable:
        print("-- left out of the sample, not run by this CPU: " + ", ".join(sorted(unrunnable)))
    built -= unrunnable
    lines = []
    for f in sorted(files):
        if f.endswith("NativeLoader.h") or not (f.endswith(".h") or f in built):
            continue
        text = (ROOT / f).read_text(encoding="utf-8").splitlines()
        in_comment, previous = False, ";"
        for n, line in enumerate(text, 1):
            code = mask(line)
            if in_comment:
                if "*/" in code:
                    in_comment = False
                continue
            stripped = code.strip()
            if stripped.startswith("/*"):
                in_comment = "*/" not in stripped
                continue
            # A line with a fault() call fails calls on purpose in the fault-injection build only:
            # in the shipped library fault() is constantly false.
            if not stripped or stripped.startswith("#") or "static_assert" in stripped or \
                    re.search(r"\bfault\(", stripped):
                continue
            found = sites(line, code, previous)
            previous = code
            if found:
                lines.append((f, n, line, found))
    return lines


def draw(lines, seed, size):
    rng = random.Random(seed)
    picked = []
    for index in sorted(rng.sample(range(len(lines)), min(size, len(lines)))):
        f, n, line, found = lines[index]
        start, end, new, op = found[rng.randrange(len(found))]
        mutated = line[:start] + new + line[end:]
        picked.append({"file": f, "line": n, "old": line, "new": mutated, "what": op})
    return picked


def apply_line(m):
    text = (ROOT / m["file"]).read_text(encoding="utf-8").split("\n")
    assert text[m["line"] - 1] == m["old"]
    text[m["line"] - 1] = m["new"]
    return "\n".join(text)


def apply_pattern(m):
    text = (ROOT / m["file"]).read_text(encoding="utf-8")
    return text.replace(m["find"], m["replace"], 1)


# --- Building and running --------------------------------------------------------------------

# Run inside `unshare --mount`: a private /dev and scratch directory, then the suite with standard input from
# that /dev/null. A mutant that writes, chmods or closes what it should not reaches only these.
SANDBOX = r"""
set -e
dev=$1; tmp=$2; shift 2
mount --make-rprivate /
mount -t tmpfs -o mode=755 kiv-mutation-dev "$dev"
for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9; do
  IFS=: read -r name major minor <<EOF
$node
EOF
  mknod -m 666 "$dev/$name" c "$major" "$minor"
done
mknod -m 660 "$dev/loop-control" c 10 237
i=0; while [ $i -lt 64 ]; do mknod -m 660 "$dev/loop$i" b 7 "$i"; i=$((i + 1)); done
ln -s /proc/self/fd "$dev/fd"
ln -s /proc/self/fd/0 "$dev/stdin"; ln -s /proc/self/fd/1 "$dev/stdout"; ln -s /proc/self/fd/2 "$dev/stderr"
mkdir "$dev/shm"
mount --move "$dev" /dev
mount -t tmpfs -o mode=1777 kiv-mutation-tmp "$tmp"
export TMPDIR=$tmp
exec "$@" </dev/null
"""


def run(cmd, timeout, log):
    """Runs cmd in a session of its own, killed whole at the timeout or when this script is
    stopped (the source is put back then too); its exit status, or None at the timeout."""
    with open(log, "w") as out:
        p = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            return p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        finally:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()


def stopped(signum, frame):
    raise SystemExit(f"mutation: stopped by signal {signum}")


# The minified apps run ProGuard (13 s each) to check the keep rules and the archive's packaging,
# which no change of the library's code can break without the JVM suites seeing it first.
SKIPPED = "^minified_app"


class Runner:
    def __init__(self, build, test_timeout):
        self.build = Path(build).resolve()
        self.work = self.build / "mutation"
        self.work.mkdir(exist_ok=True)
        (self.work / "dev").mkdir(exist_ok=True)
        (self.work / "tmp").mkdir(exist_ok=True)
        self.test_timeout = test_timeout
        self.suite_seconds = None

    def make(self):
        return run(["cmake", "--build", str(self.build), "-j2"], 1800, self.work / "build.log") == 0

    def objects(self):
        """A digest of every object file of the build."""
        h = hashlib.sha256()
        for o in sorted(self.build.rglob("*.o")):
            h.update(o.read_bytes())
        return h.digest()

    def suite(self):
        """True if every test passed."""
        cmd = ["unshare", "--mount", "sh", "-c", SANDBOX, "sandbox", str(self.work / "dev"),
               str(self.work / "tmp"),
               "ctest", "--test-dir", str(self.build), "-j2", "--stop-on-failure",
               "--timeout", str(self.test_timeout), "--output-on-failure", "-E", SKIPPED]
        limit = 3 * self.suite_seconds + 60 if self.suite_seconds else 1800
        return run(cmd, limit, self.work / "test.log") == 0

    def baseline(self):
        start = time.time()
        if not self.make():
            sys.exit(f"mutation: the unchanged tree does not build ({self.work / 'build.log'})")
        if not self.suite():
            print((self.work / "test.log").read_text(errors="replace")[-4000:])
            sys.exit(f"mutation: the suite fails on the unchanged tree ({self.work / 'test.log'})")
        self.suite_seconds = time.time() - start
        self.unchanged = self.objects()
        print(f"-- unchanged tree: built and passed in {self.suite_seconds:.0f} s")

    def try_mutant(self, path, text):
        """'killed', 'survived', 'no build' or 'same code' (the compiler made the same object
        code: a line this build leaves out, or a change it folds away); the source is put back
        afterwards."""
        original = path.read_text(encoding="utf-8")
        try:
            path.write_text(text, encoding="utf-8")
            if not self.make():
                return "no build"
            if self.objects() == self.unchanged:
                return "same code"
            return "survived" if self.suite() else "killed"
        finally:
            path.write_text(original, encoding="utf-8")


def score(results):
    k = sum(r == "killed" for r in results)
    s = sum(r == "survived" for r in results)
    return k, s, (100.0 * k / (k + s) if k + s else 100.0)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("build")
    ap.add_argument("--only", choices=["critical", "random"])
    ap.add_argument("--list", action="store_true", help="print the mutants, run nothing")
    ap.add_argument("--sample", type=int, help="the random sample's size (random.conf's)")
    ap.add_argument("--timeout", type=int, default=300, help="seconds per test")
    args = ap.parse_args()

    signal.signal(signal.SIGTERM, stopped)
    signal.signal(signal.SIGINT, stopped)
    conf = config()
    seed, threshold = int(conf["seed"][0]), float(conf["threshold"][0])
    size = args.sample if args.sample is not None else int(conf["sample"][0])
    equivalent = {(e["file"], e["line"], e["mutant"]): e["why"]
                  for e in records(MUTANTS / "equivalent.txt")}

    critical = [] if args.only == "random" else records(MUTANTS / "critical.txt")
    bad = []
    for m in critical:
        count = (ROOT / m["file"]).read_text(encoding="utf-8").count(m["find"])
        if count != 1:
            bad.append(f"{m['file']}: the pattern occurs {count} times, not once: {m['find']!r}")
    if bad:
        print("\n".join(bad))
        sys.exit("mutation: critical patterns to be rewritten for the code as it is now")

    # The sample is drawn from the sources this build compiles: built first.
    runner = Runner(args.build, args.timeout)
    if args.only != "critical" and not runner.make():
        sys.exit(f"mutation: the unchanged tree does not build ({runner.work / 'build.log'})")
    sample = []
    if args.only != "critical":
        sample = draw(random_mutants(conf["folders"], args.build), seed, size)
    aside = [m for m in sample if (m["file"], m["old"].strip(), m["new"].strip()) in equivalent]
    sample = [m for m in sample if m not in aside]
    if args.list:
        for m in critical:
            print(f"critical {m['file']}: {m['breaks']}")
        for m in sample:
            print(f"random   {m['file']}:{m['line']}: {m['what']}: {m['new'].strip()}")
        return 0

    runner.baseline()
    started = time.time()
    # Mutants of one file in a row: each build recompiles that file and relinks only.
    todo = [("critical", m, apply_pattern) for m in critical] + \
           [("random", m, apply_line) for m in sorted(sample, key=lambda m: m["file"])]
    results = {"critical": [], "random": []}
    for i, (kind, m, apply) in enumerate(todo, 1):
        t = time.time()
        result = runner.try_mutant(ROOT / m["file"], apply(m))
        m["result"] = result
        results[kind].append(result)
        where = m["file"] if kind == "critical" else f"{m['file']}:{m['line']}"
        what = m["breaks"] if kind == "critical" else f"{m['what']}: {m['new'].strip()}"
        print(f"[{i}/{len(todo)}] {kind} {result:8} {time.time() - t:5.0f} s  {where}: {what}",
              flush=True)
    runner.make()  # the tree as it was
    spent = time.time() - started

    failed = False
    lines = []
    for kind in ("critical", "random"):
        done = [m for m in (critical if kind == "critical" else sample)]
        if not done:
            continue
        k, s, p = score(results[kind])
        nobuild = results[kind].count("no build")
        same = results[kind].count("same code")
        extra = f", {nobuild} did not build" if nobuild else ""
        extra += f", {same} compiled to the same code" if same else ""
        if kind == "random":
            extra += f", {len(aside)} equivalent set aside; seed {seed}, threshold {threshold:g}%"
        lines.append(f"mutation ({kind}): {k} killed, {s} survived, score {p:.1f}%{extra}")
        if kind == "critical":
            for m in done:
                if m["result"] == "survived":
                    print(f"   critical survivor: {m['file']}: {m['breaks']}")
                    failed = True
                elif m["result"] in ("no build", "same code"):
                    print(f"   critical mutant ({m['result']}): {m['file']}: {m['find']!r}")
                    failed = True
        else:
            folders = {}
            for m in done:
                folders.setdefault(m["file"].split("/")[0], []).append(m["result"])
            for folder, res in sorted(folders.items()):
                k2, s2, p2 = score(res)
                print(f"   {folder + '/':10} {k2:3} killed {s2:3} survived  {p2:5.1f}%")
            for m in done:
                if m["result"] == "survived":
                    print(f"   survivor {m['file']}:{m['line']}: {m['what']}: {m['new'].strip()}")
            if p < threshold:
                print(f"   the random score {p:.1f}% is below the threshold {threshold:g}%")
                failed = True
    per = spent / max(1, len(todo))
    print(f"-- {len(todo)} mutants in {spent:.0f} s, {per:.1f} s per mutant")
    print("\n".join(lines))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
