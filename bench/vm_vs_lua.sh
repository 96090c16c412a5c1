#!/bin/sh
# Runs the same two programs (recursive Fibonacci, a byte sieve) once in the
# script interpreter and once in lua5.4, and prints the times side by side
# with their ratio. Builds nothing: pass the build directory whose bench/
# holds bench_vm_dispatch (configured with TALVEN_BENCH=ON).
#
#   bench/vm_vs_lua.sh build [FIB_N] [SIEVE_N] [SIEVE_REPEAT]
set -eu

build=${1:?usage: $0 BUILD_DIR [FIB_N] [SIEVE_N] [SIEVE_REPEAT]}
fib_n=${2:-30}
sieve_n=${3:-1000000}
sieve_rep=${4:-5}
here=$(cd "$(dirname "$0")" && pwd)
vm="$build/bench/bench_vm_dispatch"

[ -x "$vm" ] || { echo "no $vm (configure with -DTALVEN_BENCH=ON and build it)" >&2; exit 1; }
command -v lua5.4 >/dev/null || { echo "lua5.4 is not installed" >&2; exit 1; }

compare() {
  name=$1; shift
  vm_out=$("$vm" run "$name" "$@")
  lua_out=$(lua5.4 "$here/vm/$name.lua" "$@")
  vm_result=${vm_out% *}; vm_time=${vm_out#* }
  lua_result=${lua_out% *}; lua_time=${lua_out#* }
  if [ "$vm_result" != "$lua_result" ]; then
    echo "$name: results differ (talven $vm_result, lua $lua_result)" >&2
    exit 1
  fi
  awk -v n="$name $*" -v r="$vm_result" -v a="$vm_time" -v b="$lua_time" 'BEGIN {
    ratio = (b > 0) ? a / b : 0
    printf "%-22s result %-10s talven %7.3f s   lua5.4 %7.3f s   talven/lua %.2f\n", n, r, a, b, ratio
  }'
}

compare fib "$fib_n"
compare sieve "$sieve_n" "$sieve_rep"
