#!/usr/bin/env bash
# Parallel drawing while another process keeps one core busy: the kernel
# benchmarks and the example scene (300 headless frames, wall-clock time)
# with MultiThreading 0 and 1 side by side. A ratio (1 / 0) above 1.05 means
# the parallel loops cost more than they give on a loaded machine.
#
#   bench/threads_under_load.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)

# The competing load: one process spinning on one core for the whole run.
( while :; do :; done ) &
hog=$!
trap 'kill $hog 2>/dev/null' EXIT

echo "kernels (real time per call, MultiThreading 0 and 1):"
"$build/bench/bench_graphics_kernels" --benchmark_min_time=0.5 \
  --benchmark_filter='GcopyMode0|GcopyMode5|GblitaRotated' --benchmark_format=csv 2>/dev/null |
  awk -F, 'NR > 1 { gsub(/"/, "", $1); split($1, p, "/"); t[p[1] "/" p[2]] = $3; names[p[1]] = 1 }
           END { for (n in names) printf "  %-16s %10.3f ms %10.3f ms   ratio %.2f\n", n, t[n "/0"] / 1e6, t[n "/1"] / 1e6, t[n "/1"] / t[n "/0"] }'

scene() {
  local start end
  start=$(date +%s.%N)
  "$build/talven" --headless --frames 300 --config "MultiThreading=$1" "$here/../examples/orbit" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
s0=$(scene 0); s1=$(scene 1)
awk -v a="$s0" -v b="$s1" 'BEGIN { printf "example scene, 300 frames: %8.3f s %8.3f s   ratio %.2f\n", a, b, b / a }'
