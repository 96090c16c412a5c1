#!/usr/bin/env bash
# Firefly Night flat out: the release played headless from its recorded demo
# with FrameWait=0 (no frame pacing) and MultiThreading=0, pinned to one
# core, for 1280x720 frames through the title, the lantern scene and the
# round (sprites, text, the water mesh, filters, sound and MIDI mixing).
# Prints the frames per second reached beside the 60 the game needs, and
# their ratio (above 1: the game holds 60 fps on one core).
#
#   bench/firefly_fps.sh BUILD_DIR [FRAMES]
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [FRAMES]}
frames=${2:-1200}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 "$here/../examples/firefly/make_release.py" "$build/talven" "$work/game" 2>/dev/null
sed -i 's/^FrameWait=1/FrameWait=0/; s/^RoundFrames=7200/RoundFrames=36000/' "$work/game/Firefly.cfg"
pin=()
command -v taskset >/dev/null && pin=(taskset -c 0)
TIMEFORMAT='%R %U %S'
times=$( { time "${pin[@]}" "$build/talven" --headless --frames "$frames" --config MultiThreading=0 \
  --input "$here/../examples/firefly/demo.txt" "$work/game" >/dev/null 2>&1 || true; } 2>&1 )
awk -v t="$times" -v n="$frames" 'BEGIN {
  split(t, p, " "); fps = n / p[1]; cpu = p[2] + p[3]
  printf "firefly 1280x720, %d frames on one core: wall %.2f s, CPU %.2f s, %.1f ms a frame\n", n, p[1], cpu, 1000 * cpu / n
  printf "fps %.0f vs 60 needed: ratio %.2f\n", fps, fps / 60
}'
