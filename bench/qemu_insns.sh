#!/bin/sh
# Instructions per byte of the text decoder and encoder, per language, counted by qemu-user. Debian's
# qemu-user ships no TCG plugins (libinsn.so), so the count comes from its log instead: every
# translation block is one instruction (-singlestep), every block executed is logged
# (-d nochain,exec), but only within the library's text code (-dfilter: the kiv::text functions
# of the statically linked kiv_text_passes), and the log's lines are counted.
#
#   bench/qemu_insns.sh BUILD_DIR QEMU TRIPLE [LIMIT [CORPUS_DIR]]
# e.g. bench/qemu_insns.sh build-arm64-bench qemu-aarch64 aarch64-linux-gnu 65536
# BUILD_DIR holds bench/kiv_text_passes built for the emulated target (-DKIV_BENCH=ON); LIMIT:
# bytes from each file's start (default 65536; 0: whole files). PATHS (environment): the kernel
# sets counted, of "best scalar" (the default). Prints a Markdown table.
set -eu
build=$1 qemu=$2 triple=$3 limit=${4:-65536}
corpus=${5:-$(dirname "$0")/../../shared/corpus/wikipedia-mars}
prog=$build/bench/kiv_text_passes
lo= hi=0
while read -r addr size type name; do
  case $type$name in [tTwW]_ZN3kiv4text*) ;; *) continue ;; esac
  start=$((0x$addr)) end=$((0x$addr + 0x$size))
  if [ -z "$lo" ] || [ "$start" -lt "$lo" ]; then lo=$start; fi
  if [ "$end" -gt "$hi" ]; then hi=$end; fi
done <<EOS
$("$triple-nm" -S --defined-only "$prog")
EOS
range=$(printf '0x%x..0x%x' "$lo" $((hi - 1)))
log=$(mktemp /dev/shm/kiv-insns.XXXXXX)
trap 'rm -f "$log"' EXIT
trap 'exit 1' INT TERM
echo "Instructions per byte, kiv::text code only ($range), first $limit bytes of each text"
echo
paths=${PATHS:-best scalar}
head="| text | bytes |" rule="|---|--:|"
for d in decode encode; do for p in $paths; do head="$head $d $p |" rule="$rule--:|"; done; done
echo "$head"
echo "$rule"
for f in "$corpus"/*.utf8.txt; do
  row="| $(basename "$f" .utf8.txt) |"
  for d in decode encode; do
    for p in $paths; do
      bytes=$("$qemu" -L "/usr/$triple" -singlestep -d nochain,exec -dfilter "$range" -D "$log" \
              "$prog" $d $p "$limit" "$f" | cut -d' ' -f1)
      [ "$row" = "| $(basename "$f" .utf8.txt) |" ] && row="$row $bytes |"
      row="$row $(awk -v n="$(wc -l <"$log")" -v b="$bytes" 'BEGIN { printf "%.2f", n / b }') |"
    done
  done
  echo "$row"
done
