#!/bin/sh
# Compile speed of the script compiler against tcc on the same generated
# source (about 30,000 lines of plain C that both accept), as whole
# processes: `talven check FILE` beside `tcc -c FILE`, each run REPEAT
# times in turn, the median wall time of each side reported.
#
#   bench/compile_vs_tcc.sh BUILD_DIR [REPEAT]
#
# BUILD_DIR is a build configured with TALVEN_BENCH=ON (it holds talven and
# bench/bench_compile_speed, which writes the source); tcc must be on PATH.
# The ratio is talven's median over tcc's; both include process start-up,
# which is also shown on its own (`talven --version`, `tcc -v`).
set -eu

build=${1:?usage: compile_vs_tcc.sh BUILD_DIR [REPEAT]}
repeat=${2:-11}
bench="$build/bench/bench_compile_speed"
talven="$build/talven"
[ -x "$bench" ] || { echo "missing $bench (configure with -DTALVEN_BENCH=ON)" >&2; exit 2; }
[ -x "$talven" ] || { echo "missing $talven" >&2; exit 2; }
command -v tcc >/dev/null 2>&1 || { echo "tcc is not on PATH" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src="$work/generated.c"
"$bench" --write-source "$src"
lines=$(wc -l < "$src")

# Both must accept the same text.
tcc -c "$src" -o "$work/generated.o"
"$talven" check "$src" >/dev/null

# Milliseconds of one run of the command, appended to the file $1.
time_one() {
  out=$1
  shift
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e6 }' >> "$out"
}

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

i=0
while [ "$i" -lt "$repeat" ]; do
  time_one "$work/ours" "$talven" check "$src"
  time_one "$work/theirs" tcc -c "$src" -o "$work/generated.o"
  time_one "$work/ours_start" "$talven" --version
  time_one "$work/theirs_start" tcc -v
  i=$((i + 1))
done

ours=$(median "$work/ours")
theirs=$(median "$work/theirs")
echo "source:          $lines lines"
echo "talven check:    $ours ms (median of $repeat whole processes)"
echo "tcc -c:          $theirs ms"
echo "start-up:        talven --version $(median "$work/ours_start") ms, tcc -v $(median "$work/theirs_start") ms"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio:           %.2f (talven / tcc)\n", a / b }'
