#!/usr/bin/env bash
# Video playback as a whole process: a 10-second 1280x720 30 fps H.264 clip
# (made here by the ffmpeg program) played headless by a script into a
# 1280x720 screen. Prints the process's CPU time as a share of the clip's
# real time, and the pictures shown and dropped. Goal: under 50% of one
# core, nothing dropped.
#
#   bench/media_playback.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -v error -y -f lavfi -i testsrc2=s=1280x720:r=30:d=10 -f lavfi -i sine=frequency=440:duration=10 \
  -c:v libx264 -preset fast -pix_fmt yuv420p -c:a aac "$work/clip.mp4" 2>/dev/null ||
ffmpeg -v error -y -f lavfi -i testsrc2=s=1280x720:r=30:d=10 -f lavfi -i sine=frequency=440:duration=10 \
  -c:v mpeg4 -q:v 3 -c:a pcm_s16le "$work/clip.mp4"
cp "$here/../sdk/talven.h" "$work/"
printf '[General]\nFileSystem=2\n[Script]\nLoad=main.c\n' > "$work/Clip.cfg"
cat > "$work/main.c" <<'SCRIPT'
#include "talven.h"
int main() {
  if (!media_open("clip.mp4")) return 1;
  media_play();
  while (media_isplay()) sleep(100);
  media_close();
  return 0;
}
SCRIPT
TIMEFORMAT='%R %U %S'
{ times=$( { time TALVEN_MEDIA_STATS=1 "$build/talven" --headless "$work" 2> "$work/err" >/dev/null; } 2>&1 ); } || true
stats=$(grep -o 'shown [0-9]* dropped [0-9]*' "$work/err" || echo "shown ? dropped ?")
awk -v t="$times" -v s="$stats" 'BEGIN {
  split(t, p, " "); cpu = p[2] + p[3]
  printf "1280x720 30 fps, 10 s clip: wall %.2f s, CPU %.2f s = %.0f%% of one core; pictures %s\n", p[1], cpu, 100 * cpu / 10, s
}'
