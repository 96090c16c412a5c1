#!/usr/bin/env bash
# Whole processes, the same programs in the script language and in Lua 5.4:
# talven runs each bench/scripts/NAME.c as a headless game (compiled at
# start, as a player's run does), lua5.4 runs NAME.lua. Both print their
# result; the results must agree. Each time is the process's CPU time (user
# + system), the median of RUNS runs, minus the median of an empty program
# on the same side (start-up). Ratios below 1.0 mean talven is faster.
#
#   bench/scripts_vs_lua.sh BUILD_DIR [RUNS] [NAME...]
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [RUNS] [NAME...]}
runs=${2:-5}
shift $(( $# >= 2 ? 2 : 1 ))
names=("$@")
[ ${#names[@]} -eq 0 ] && names=(fib sieve bytes matmul strings)
here=$(cd "$(dirname "$0")" && pwd)
talven="$build/talven"
[ -x "$talven" ] || { echo "no $talven: build first" >&2; exit 1; }
command -v lua5.4 >/dev/null || { echo "lua5.4 is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# game NAME: a game folder whose main script is NAME.c.
game() {
  local dir="$work/$1"
  mkdir -p "$dir"
  cp "$here/../sdk/talven.h" "$dir/talven.h"
  cp "$here/scripts/$1.c" "$dir/main.c"
  printf '[General]\nFileSystem=3\n[Script]\nLoad=main.c\n' > "$dir/Bench.cfg"
  echo "$dir"
}

# cpu CMD...: prints "CPU-SECONDS OUTPUT" of one run.
cpu() {
  local out t
  TIMEFORMAT='%U %S'
  { t=$( { time "$@" > "$work/out" 2>/dev/null; } 2>&1 ); } || true
  out=$(tr -d '\n' < "$work/out")
  awk -v t="$t" -v o="$out" 'BEGIN { split(t, p, " "); printf "%.3f %s\n", p[1] + p[2], o }'
}

# median RUNS CMD...: "MEDIAN-SECONDS OUTPUT".
median() {
  local n=$1; shift
  local times=() out=""
  for ((i = 0; i < n; i++)); do
    read -r t o < <(cpu "$@")
    times+=("$t"); out=$o
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v o="$out" '{ a[NR] = $1 } END { printf "%.3f %s\n", a[int((NR + 1) / 2)], o }'
}

run_talven() { median "$runs" "$talven" --headless --log "$(game "$1")"; }
run_lua() { median "$runs" lua5.4 "$here/scripts/$1.lua"; }

read -r talven_base _ < <(run_talven empty)
read -r lua_base _ < <(run_lua empty)
printf '%-10s %12s %12s %10s   (CPU seconds, start-up %.3f / %.3f s subtracted, median of %d)\n' \
  program talven lua5.4 talven/lua "$talven_base" "$lua_base" "$runs"
for name in "${names[@]}"; do
  read -r tt to < <(run_talven "$name")
  read -r lt lo < <(run_lua "$name")
  if [ "$to" != "$lo" ]; then
    echo "$name: results differ (talven '$to', lua '$lo')" >&2
    exit 1
  fi
  awk -v n="$name" -v a="$tt" -v b="$lt" -v ab="$talven_base" -v bb="$lua_base" 'BEGIN {
    a -= ab; b -= bb; if (a < 0) a = 0; if (b < 0.001) b = 0.001
    printf "%-10s %12.3f %12.3f %10.2f\n", n, a, b, a / b
  }'
done
