#!/bin/sh
# Writes the sample's clip (clip.mp4 beside this file, or at $1): three
# seconds of a test picture with a tone, made by the ffmpeg program.
set -e
out=${1:-$(dirname "$0")/clip.mp4}
ffmpeg -v error -y -f lavfi -i testsrc2=s=320x180:r=25:d=3 -f lavfi -i sine=frequency=660:duration=3 \
  -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest "$out" 2>/dev/null ||
ffmpeg -v error -y -f lavfi -i testsrc2=s=320x180:r=25:d=3 -f lavfi -i sine=frequency=660:duration=3 \
  -c:v mpeg4 -q:v 4 -c:a pcm_s16le -shortest "$out"
