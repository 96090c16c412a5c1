#!/usr/bin/env bash
# Script speed of this build against another build of talven (an earlier
# commit, say), as whole processes on the same bench/scripts programs: each
# NAME.c runs as a headless game on both sides, in turn (A B A B ...), so a
# drift in the machine's speed touches both. Each figure is the process's
# CPU time (user + system), the median of RUNS runs, minus the median of an
# empty program on the same side. Both sides must print the same result.
# Ratios above 1.0 mean this build is slower.
#
#   bench/scripts_vs_build.sh BUILD_DIR OTHER_BUILD_DIR [RUNS] [NAME...]
#
# e.g. git worktree add /tmp/old HEAD~5 && cmake -S /tmp/old -B /tmp/old/build
# -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build /tmp/old/build
# --target talven, then bench/scripts_vs_build.sh build /tmp/old/build.
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR OTHER_BUILD_DIR [RUNS] [NAME...]}
other=${2:?usage: $0 BUILD_DIR OTHER_BUILD_DIR [RUNS] [NAME...]}
runs=${3:-7}
shift $(($# >= 3 ? 3 : 2))
names=("$@")
[ ${#names[@]} -eq 0 ] && names=(fib sieve bytes matmul strings)
here=$(cd "$(dirname "$0")" && pwd)
for b in "$build" "$other"; do
  [ -x "$b/talven" ] || { echo "no $b/talven: build first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# game NAME: a game folder whose main script is NAME.c.
game() {
  local dir="$work/$1"
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir"
    cp "$here/../sdk/talven.h" "$dir/talven.h"
    cp "$here/scripts/$1.c" "$dir/main.c"
    printf '[General]\nFileSystem=3\n[Script]\nLoad=main.c\n' > "$dir/Bench.cfg"
  fi
  echo "$dir"
}

# cpu TALVEN NAME: prints "CPU-SECONDS OUTPUT" of one run.
cpu() {
  local t out
  TIMEFORMAT='%U %S'
  { t=$( { time "$1" --headless --log "$(game "$2")" > "$work/out" 2>/dev/null; } 2>&1 ); } || true
  out=$(tr -d '\n' < "$work/out")
  awk -v t="$t" -v o="$out" 'BEGIN { split(t, p, " "); printf "%.3f %s\n", p[1] + p[2], o }'
}

median() { sort -n | awk '{ a[NR] = $1 } END { printf "%.3f\n", a[int((NR + 1) / 2)] }'; }

# pair NAME: "MEDIAN-A MEDIAN-B OUTPUT-A OUTPUT-B", the sides run in turn.
pair() {
  local ta=() tb=() oa="" ob="" t o
  for ((i = 0; i < runs; i++)); do
    read -r t o < <(cpu "$build/talven" "$1"); ta+=("$t"); oa=$o
    read -r t o < <(cpu "$other/talven" "$1"); tb+=("$t"); ob=$o
  done
  printf '%s %s %s %s\n' "$(printf '%s\n' "${ta[@]}" | median)" \
    "$(printf '%s\n' "${tb[@]}" | median)" "${oa:--}" "${ob:--}"
}

read -r base_a base_b _ _ < <(pair empty)
printf '%-10s %10s %10s %8s   (CPU seconds, start-up %.3f / %.3f s subtracted, median of %d)\n' \
  program this other ratio "$base_a" "$base_b" "$runs"
status=0
for name in "${names[@]}"; do
  read -r a b out_a out_b < <(pair "$name")
  if [ "$out_a" != "$out_b" ]; then
    echo "$name: results differ: '$out_a' vs '$out_b'" >&2
    status=1
  fi
  awk -v n="$name" -v a="$a" -v b="$b" -v ba="$base_a" -v bb="$base_b" 'BEGIN {
    x = a - ba; y = b - bb; if (x < 0.001) x = 0.001; if (y < 0.001) y = 0.001
    printf "%-10s %10.3f %10.3f %8.2f\n", n, x, y, x / y }'
done
exit $status
