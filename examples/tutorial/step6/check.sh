#!/bin/sh
# The recorded-input test of Catch: plays demo.txt headless in a scratch
# copy of the game and checks the result (the score), the log and the save
# data the game wrote. Exit status 0 when all agree.
#   usage: check.sh [TALVEN]     (default: talven from the PATH)
talven=${1:-talven}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cp -R "$here/Catch" "$here/Catch.cfg" "$work/"

"$talven" --headless --log --timeout 60 --input "$here/demo.txt" "$work" >"$work/log.txt" 2>&1
status=$?
fail() {
  echo "check.sh: $1"
  cat "$work/log.txt"
  exit 1
}
[ "$status" -eq 7 ] || fail "the result is $status, expected the score 7"
grep -q "game over: score 7, best 7, games 1" "$work/log.txt" || fail "no game-over line"
[ -f "$work/catch.sav" ] || fail "no save data"
echo "check.sh: the recorded game scores 7"
