#!/bin/sh
# Counts the system calls of one 100-byte save, one 100-byte read and one query, made by the
# native library and by the pure-Java store (bench/java), under strace.
#
#   bench/syscalls.sh [BUILD_DIR [FILE_DIR]]
#
# BUILD_DIR (default build-rel) must hold libkiv-native-lib.so, kiv.jar and
# bench/java/kiv-entry-point-bench.jar (cmake --build BUILD_DIR --target kiv-entry-point-bench);
# FILE_DIR (default a new directory under /dev/shm, removed afterwards) is where the files go.
# Needs strace and python3.
#
# SyscallDriver runs every operation a few times, each between two marker writes to /dev/null.
# strace -ff writes one trace per thread; only the calls of the thread that wrote the markers,
# between a begin and its end marker, are counted, so the VM's own threads (compiler, GC) do not
# show. Printed per operation: its calls with their arguments (the most frequent sequence among
# the repetitions; a repetition that differs, typically by a futex of the VM's, is listed by its
# difference), the count, and at the end a table of both sides.
set -eu

build=${1:-build-rel}
files=${2:-}
for f in "$build/libkiv-native-lib.so" "$build/kiv.jar" "$build/bench/java/kiv-entry-point-bench.jar"; do
  if [ ! -f "$f" ]; then
    echo "$f missing: build the kiv-entry-point-bench and kiv-native-lib targets in $build first" >&2
    exit 2
  fi
done
command -v strace >/dev/null || { echo "strace not found (apt-get install strace)" >&2; exit 2; }

trace=$(mktemp -d)
cleanup_files=
if [ -z "$files" ]; then
  files=$(mktemp -d /dev/shm/kiv-syscalls.XXXXXX)
  cleanup_files=$files
fi
trap 'rm -rf "$trace" $cleanup_files' EXIT

build=$(cd "$build" && pwd)
echo "files in $files ($(stat -f -c %T "$files"))"
strace -ff -qq -s 96 -o "$trace/t" \
  java -Xms64m -Xmx64m -Djava.library.path="$build" \
       -cp "$build/kiv.jar:$build/bench/java/kiv-entry-point-bench.jar" \
       com.zelk.kiv.bench.SyscallDriver --dir "$files"

python3 - "$trace" "$files" <<'EOF'
import collections, glob, re, sys

trace_dir, files = sys.argv[1], sys.argv[2]
mark = re.compile(r'^write\(\d+, "KIV-MARK (begin|end) ([^"]*)"')
call = re.compile(r'^([a-z0-9_]+)\(')
ops = collections.OrderedDict()  # name -> list of runs, each a list of strace lines
for path in sorted(glob.glob(trace_dir + "/t.*")):
    current = None
    with open(path, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            m = mark.match(line)
            if m:
                if m.group(1) == "begin":
                    current = []
                else:
                    ops.setdefault(m.group(2), []).append(current)
                    current = None
                continue
            if current is not None and call.match(line):
                current.append(line.replace(files, "<dir>"))

def names(run):
    return tuple(call.match(l).group(1) for l in run)

summary = {}
for op, runs in ops.items():
    seqs = collections.Counter(names(r) for r in runs)
    typical, times = seqs.most_common(1)[0]
    run = next(r for r in runs if names(r) == typical)
    counts = sorted(len(r) for r in runs)
    print(f"\n## {op}: {len(typical)} calls"
          + (f" ({times} of {len(runs)} repetitions; others {counts})" if times != len(runs) else
             f" (all {len(runs)} repetitions alike)"))
    for l in run:
        print("  " + (l if len(l) <= 150 else l[:147] + "..."))
    for r in runs:
        extra = collections.Counter(names(r)) - collections.Counter(typical)
        missing = collections.Counter(typical) - collections.Counter(names(r))
        if extra or missing:
            print(f"  another repetition: {len(r)} calls, more {dict(extra)}, fewer {dict(missing)}")
    summary[op] = typical

print("\n| operation | native | Java |")
print("|---|---|---|")
for what in ("writeFile 100 B", "readFile 100 B", "queryFile"):
    cells = []
    for side in ("native", "java"):
        seq = summary.get(f"{side} {what}", ())
        cells.append(f"{len(seq)}: {', '.join(seq)}")
    print(f"| {what} | {cells[0]} | {cells[1]} |")
EOF
