#!/bin/sh
# Compressed data format against compress/uncompress from ncompress (the same
# family of dictionary coder), on the same inputs in one run: a few MB of
# script-like text and a 1280x720 24-bit BMP.
#
#   bench/compress_vs_ncompress.sh BUILD_DIR [ROUNDS]
#
# BUILD_DIR must have been configured with -DTALVEN_BENCH=ON and have
# bench/bench_storage_tool built. Each timing is the best of ROUNDS (5) runs,
# whole process included on both sides, data piped through stdin/stdout.
set -eu

build=${1:?usage: $0 BUILD_DIR [ROUNDS]}
rounds=${2:-5}
tool=$build/bench/bench_storage_tool
[ -x "$tool" ] || { echo "missing $tool (configure with -DTALVEN_BENCH=ON, build bench_storage_tool)" >&2; exit 1; }
command -v compress >/dev/null || { echo "compress not found (Debian package ncompress)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" gen-text 4194304 "$work/text.txt"
"$tool" gen-bmp 1280 720 "$work/image.bmp"

now_ns() { date +%s%N; }

# best_ns CMD...: the shortest wall time of $rounds runs of CMD, in ns.
best_ns() {
  best=
  i=0
  while [ $i -lt "$rounds" ]; do
    t0=$(now_ns)
    "$@"
    t1=$(now_ns)
    t=$((t1 - t0))
    if [ -z "$best" ] || [ $t -lt "$best" ]; then best=$t; fi
    i=$((i + 1))
  done
  echo "$best"
}

ours_c() { "$tool" compress - - <"$1" >"$2"; }
ours_x() { "$tool" expand - - <"$1" >"$2"; }
nc_c() { compress -c <"$1" >"$2"; }
nc_x() { uncompress -c <"$1" >"$2"; }

mbps() { awk -v b="$1" -v ns="$2" 'BEGIN { printf "%.1f", b / 1048576 / (ns / 1e9) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

printf '%-10s %-9s %10s %8s %12s %12s\n' input coder size ratio "enc MB/s" "dec MB/s"
for name in text.txt image.bmp; do
  in=$work/$name
  bytes=$(wc -c <"$in")
  enc_ours=$(best_ns ours_c "$in" "$work/ours.cmp")
  dec_ours=$(best_ns ours_x "$work/ours.cmp" "$work/ours.out")
  enc_nc=$(best_ns nc_c "$in" "$work/nc.Z")
  dec_nc=$(best_ns nc_x "$work/nc.Z" "$work/nc.out")
  cmp -s "$in" "$work/ours.out" || { echo "round trip failed for $name (talven)" >&2; exit 1; }
  cmp -s "$in" "$work/nc.out" || { echo "round trip failed for $name (ncompress)" >&2; exit 1; }
  size_ours=$(wc -c <"$work/ours.cmp")
  size_nc=$(wc -c <"$work/nc.Z")
  printf '%-10s %-9s %10d %8s %12s %12s\n' "$name" talven "$size_ours" "$(ratio "$size_ours" "$bytes")" \
    "$(mbps "$bytes" "$enc_ours")" "$(mbps "$bytes" "$dec_ours")"
  printf '%-10s %-9s %10d %8s %12s %12s\n' "$name" ncompress "$size_nc" "$(ratio "$size_nc" "$bytes")" \
    "$(mbps "$bytes" "$enc_nc")" "$(mbps "$bytes" "$dec_nc")"
  printf '%-10s talven/ncompress time: encode %sx, decode %sx; size %sx\n' "$name" \
    "$(ratio "$enc_ours" "$enc_nc")" "$(ratio "$dec_ours" "$dec_nc")" "$(ratio "$size_ours" "$size_nc")"
done
