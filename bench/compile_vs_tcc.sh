#!/bin/sh
# Compile speed of the script compiler against tcc on the same generated
# source (about 30,000 lines of plain C that both accept).
#
#   bench/compile_vs_tcc.sh BUILD_DIR [REPEAT]
#
# BUILD_DIR is a build configured with TALVEN_BENCH=ON (it holds
# bench/bench_compile_speed); tcc must be on PATH. Our side is timed in
# process, as the loader compiles (measure, then compile into the area);
# tcc is timed as `tcc -c` runs, process start included. Both sides report
# milliseconds per compilation; the ratio is ours / tcc's.
set -eu

build=${1:?usage: compile_vs_tcc.sh BUILD_DIR [REPEAT]}
repeat=${2:-20}
bench="$build/bench/bench_compile_speed"
[ -x "$bench" ] || { echo "missing $bench (configure with -DTALVEN_BENCH=ON)" >&2; exit 2; }
command -v tcc >/dev/null 2>&1 || { echo "tcc is not on PATH" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src="$work/generated.c"
"$bench" --write-source "$src"
lines=$(wc -l < "$src")

# tcc must accept the same text.
tcc -c "$src" -o "$work/generated.o"

ours=$("$bench" --time-file "$src" "$repeat")

start=$(date +%s%N)
i=0
while [ "$i" -lt "$repeat" ]; do
  tcc -c "$src" -o "$work/generated.o"
  i=$((i + 1))
done
end=$(date +%s%N)
theirs=$(awk -v ns=$((end - start)) -v n="$repeat" 'BEGIN { printf "%.3f", ns / 1e6 / n }')

echo "source:        $lines lines"
echo "talven:        $ours ms per compilation (measure + compile into the area)"
echo "tcc -c:        $theirs ms per compilation (process included)"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio:         %.2f (talven / tcc)\n", a / b }'
