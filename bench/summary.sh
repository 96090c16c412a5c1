#!/usr/bin/env bash
# Runs every comparison once, briefly, and prints one table of ratios
# (talven / reference: below 1.0 talven is faster or smaller; for the
# "x faster" rows above 1.0 is better). Used by `make bench`; each script
# can also be run alone for more detail and more repetitions.
#
#   bench/summary.sh BUILD_DIR
set -uo pipefail
build=${1:?usage: $0 BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
rows=()
row() { rows+=("$(printf '%-44s %s' "$1" "$2")"); }

# Scripts against Lua, whole processes.
while read -r name tt lt ratio; do
  [[ "$name" =~ ^(fib|sieve|bytes|matmul|strings)$ ]] && row "script $name: talven / lua5.4" "$ratio"
done < <("$here/scripts_vs_lua.sh" "$build" 3 2>/dev/null)

out=$("$here/archive_vs_loose.sh" "$build" 3 2>/dev/null) && row "10,000 opens: archive / loose" "${out##* }"

while read -r what t n ratio rest; do
  case "$what" in compress|expand) row "$what 50 MB: talven / ncompress" "$ratio";; esac
done < <("$here/tools_vs_ncompress.sh" "$build" 1 2>/dev/null)

if out=$("$here/compile_vs_tcc.sh" "$build" 2>/dev/null); then
  r=$(printf '%s\n' "$out" | awk '/ratio/ { print $2; exit }')
  [ -n "$r" ] && row "compile 30,000 lines: talven / tcc" "$r"
fi

# Sprites against SDL2, the same whole-frame work (1000 sprites, one thread).
sprites=$("$build/bench/bench_graphics_sprites" --benchmark_min_time=0.2 --benchmark_format=csv \
  --benchmark_filter='BM_SpriteDraw/1000/[0-2]/0/1/|BM_SdlDraw/1000/' 2>/dev/null)
for kind in 0 1 2; do
  a=$(printf '%s\n' "$sprites" | awk -F, -v k="$kind" '$1 ~ "BM_SpriteDraw/1000/" k "/0/1/" { print $3 }')
  b=$(printf '%s\n' "$sprites" | awk -F, -v k="$kind" '$1 ~ "BM_SdlDraw/1000/" k "/" { print $3 }')
  names=("plain" "alpha" "turned, smoothed")
  [ -n "$a" ] && [ -n "$b" ] && row "sprites ${names[$kind]}: talven / SDL2" "$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", a / b }')"
done

# Parallel loops under load: MultiThreading 1 / 0.
while read -r name t0 u0 t1 u1 word ratio; do
  [[ "$name" == BM_* ]] && row "under load, $name: MT 1 / MT 0" "$ratio"
done < <("$here/threads_under_load.sh" "$build" 2>/dev/null | grep BM_)

printf '%-44s %s\n' "comparison" "ratio"
printf '%s\n' "${rows[@]}"
