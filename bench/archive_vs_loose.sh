#!/usr/bin/env bash
# Opening data files as whole processes: a script opens, reads and closes
# 10,000 small entries of a directory archive, and the same 10,000 files
# lying loose, each run the median of RUNS; start-up (an empty script) is
# subtracted. Prints both times and the ratio archive / loose.
#
#   bench/archive_vs_loose.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [RUNS]}
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/src"
for i in $(seq 0 9999); do printf 'entry %05d\n' "$i" > "$work/src/$(printf 'f%05d.dat' "$i")"; done

# game DIR FILESYSTEM SCRIPT: the script is scr\main.c, loose or (for
# archives only) packed into scr.bin like the data.
game() {
  mkdir -p "$1/scr"
  cp "$here/../sdk/talven.h" "$1/scr/"
  printf '[General]\nFileSystem=%s\n[Script]\nLoad=scr\\main.c\n' "$2" > "$1/Bench.cfg"
  printf '%s\n' "$3" > "$1/scr/main.c"
  if [ "$2" = 1 ]; then
    "$build/talven" pack "$1/scr" "$1/scr.bin" >/dev/null 2>&1
    rm -r "$1/scr"
  fi
}
opener='#include "talven.h"
int main() {
  char name[64]; char buf[16]; int i, h, total;
  total = 0;
  for (i = 0; i < 10000; i++) {
    sprintf(name, "data\\f%05d.dat", i);
    h = pack_open(name);
    if (h) { total += pack_read(h, buf, 16); pack_close(h); }
  }
  log_out("%d", total);
  return 0;
}'
game "$work/loose" 2 "$opener"
cp -r "$work/src" "$work/loose/data"
game "$work/archive" 1 "$opener"
"$build/talven" pack "$work/src" "$work/archive/data.bin" >/dev/null 2>&1
game "$work/empty" 2 '#include "talven.h"
int main() { return 0; }'

cpu() {  # median CPU seconds of RUNS runs of a game
  local t times=()
  TIMEFORMAT='%U %S'
  for ((k = 0; k < runs; k++)); do
    t=$( { time "$build/talven" --headless --log "$1" > "$work/out" 2>&1; } 2>&1 )
    times+=("$(awk -v t="$t" 'BEGIN { split(t, p, " "); print p[1] + p[2] }')")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}
base=$(cpu "$work/empty")
loose=$(cpu "$work/loose"); grep -q '^120000$' "$work/out" || { echo "loose run read the wrong data" >&2; exit 1; }
archive=$(cpu "$work/archive"); grep -q '^120000$' "$work/out" || { echo "archive run read the wrong data" >&2; exit 1; }
awk -v b="$base" -v l="$loose" -v a="$archive" 'BEGIN {
  l -= b; a -= b
  printf "10,000 opens: loose %.3f s, archive %.3f s (CPU, start-up %.3f s subtracted), archive/loose %.2f\n", l, a, b, a / l
}'
