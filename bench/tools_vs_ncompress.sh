#!/usr/bin/env bash
# `talven compress` and `talven expand` against ncompress's compress and
# uncompress as whole processes on a 50 MB file of script-like text, data
# piped through standard input and output on both sides. Wall time is the
# median of RUNS runs; peak memory (maximum resident set) is read by GNU time.
#
#   bench/tools_vs_ncompress.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [RUNS]}
runs=${2:-3}
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 1; }
command -v compress >/dev/null || { echo "compress not found (Debian package ncompress)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/bench_storage_tool" gen-text 52428800 "$work/in.txt"

# measure CMD: "median-seconds peak-KB"
measure() {
  local out=()
  for ((k = 0; k < runs; k++)); do
    out+=("$( { /usr/bin/time -f '%e %M' sh -c "$1" >/dev/null; } 2>&1 | tail -1)")
  done
  printf '%s\n' "${out[@]}" | sort -n | awk '{ t[NR] = $1; if ($2 > m) m = $2 } END { print t[int((NR + 1) / 2)], m }'
}

read -r tc mc < <(measure "'$build/talven' compress - - < '$work/in.txt' > '$work/t.cmp'")
read -r nc mnc < <(measure "compress -c < '$work/in.txt' > '$work/n.Z'")
read -r tx mx < <(measure "'$build/talven' expand - - < '$work/t.cmp' > '$work/t.out'")
read -r nx mnx < <(measure "uncompress -c < '$work/n.Z' > '$work/n.out'")
cmp -s "$work/in.txt" "$work/t.out" || { echo "talven round trip failed" >&2; exit 1; }
awk -v tc="$tc" -v nc="$nc" -v tx="$tx" -v nx="$nx" -v mc="$mc" -v mx="$mx" -v mnc="$mnc" -v mnx="$mnx" 'BEGIN {
  printf "50 MB      %10s %10s %8s   peak memory talven / ncompress\n", "talven", "ncompress", "ratio"
  printf "compress   %9.2fs %9.2fs %8.2f   %6.1f MB / %.1f MB\n", tc, nc, tc / nc, mc / 1024, mnc / 1024
  printf "expand     %9.2fs %9.2fs %8.2f   %6.1f MB / %.1f MB\n", tx, nx, tx / nx, mx / 1024, mnx / 1024
}'
