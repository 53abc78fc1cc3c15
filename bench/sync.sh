#!/usr/bin/env bash
# How long the calls that sync take on a disk: a 4 KiB save and a new identity, each made N
# times by the kiv tool (the library's own store and identity code, one process per call).
#
#   bench/sync.sh KIV DIR [N]
#
# KIV is the tool (build/tools/kiv/kiv), DIR a scratch folder on the disk to measure (created;
# the files it leaves are note.txt, device.id and text4k), N the calls of each kind (500).
# Printed per kind, median and worst: the whole call's wall time, process start included (a
# read, which syncs nothing, is that baseline), and the time spent in fsync alone, from a second
# run under strace -T (needs strace).
set -eu
kiv=$1 dir=$2 n=${3:-500}
mkdir -p "$dir"
head -c 4096 /dev/zero | tr '\0' a >"$dir/text4k"

# One call: save, identity (the k-th tag, so that every call makes a new identity) or read.
one() {
  case $1 in
    save) "$kiv" write "$dir/note.txt" - <"$dir/text4k" ;;
    identity) "$kiv" identity "$dir/device.id" --tag "app-$2" ;;
    read) "$kiv" read "$dir/note.txt" ;;
  esac
}
# Median and worst of a column of microseconds.
stats() {
  sort -n | awk -v what="$1" '{a[NR] = $1} END {
    printf "%-37s median %6.2f ms, worst %7.2f ms (n=%d)\n", what, a[int((NR + 1) / 2)] / 1000, a[NR] / 1000, NR }'
}

for kind in save identity read; do
  for ((k = 0; k < n; k++)); do
    t0=$(date +%s%N)
    one $kind $k >/dev/null
    t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000))
  done | stats "$kind, whole call"
done
if command -v strace >/dev/null; then
  for kind in save identity; do
    for ((k = 0; k < n; k++)); do
      strace -f -T -e trace=fsync,fdatasync -o "$dir/trace" "$kiv" \
        $([ $kind = save ] && echo write "$dir/note.txt" - || echo identity "$dir/device.id" --tag "again-$k") \
        <"$dir/text4k" >/dev/null
      awk -F'<' '/sync\(/ {sub(/>.*/, "", $NF); s += $NF} END {printf "%d\n", s * 1e6}' "$dir/trace"
    done | stats "$kind, in fsync (file and folder)"
  done
fi
