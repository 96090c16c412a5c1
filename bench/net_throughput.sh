#!/bin/sh
# Streams MiB mebibytes each way at once between two headless talven
# processes on the loopback address (the script test
# tests/scripts/net/stream.c: 16 KiB blocks through the 8 KiB rings, every
# block checked), and beside it the same amount each way through plain
# loopback TCP sockets (python3, 8 KiB writes) as the reference. Prints
# MB/s each way for both and the ratio talven / plain.
#
#   bench/net_throughput.sh BUILD_DIR [MiB]     (default 1024)
set -eu

build=${1:?usage: $0 BUILD_DIR [MiB]}
mib=${2:-1024}
here=$(cd "$(dirname "$0")" && pwd)
src="$here/.."
talven="$build/talven"
[ -x "$talven" ] || { echo "no $talven (build the talven target)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
blocks=$((mib * 64))

for role in 0 1; do
  d="$work/side$role"
  mkdir -p "$d"
  cp "$src/sdk/talven.h" "$src/tests/scripts/net/net_check.h" "$d/"
  cp "$src/tests/scripts/net/stream.c" "$d/main.c"
  printf '#define PORT %s\n#define BLOCK 16384\n#define BLOCKS %s\n#define IDLE 0\n#define ROLE %s\n' \
    "$port" "$blocks" "$role" > "$d/params.h"
  printf '[General]\nFileSystem=3\nMultiInstance=1\n[System]\nNet=1\n[Script]\nLoad=main.c\n' > "$d/Net.cfg"
done

start=$(date +%s.%N)
"$talven" --headless --log --timeout 3600 "$work/side0" > "$work/side0.log" 2>&1 &
server=$!
status=0
"$talven" --headless --log --timeout 3600 "$work/side1" > "$work/side1.log" 2>&1 || status=$?
wait $server || status=$?
end=$(date +%s.%N)
if [ $status -ne 0 ] || grep -q FAIL "$work/side0.log" "$work/side1.log"; then
  echo "the stream failed:" >&2
  cat "$work/side0.log" "$work/side1.log" >&2
  exit 1
fi
sum0=$(grep -o 'checksum [0-9a-f]*' "$work/side0.log")
sum1=$(grep -o 'checksum [0-9a-f]*' "$work/side1.log")
[ "$sum0" = "$sum1" ] || { echo "checksums differ: $sum0 / $sum1" >&2; exit 1; }

plain=$(python3 - "$mib" <<'PY'
import socket, sys, threading, time
total = int(sys.argv[1]) << 20
chunk = b"\x5a" * 8192
def pump(sock):
    def tx():
        left = total
        while left > 0:
            left -= sock.send(chunk[:min(8192, left)])
    t = threading.Thread(target=tx)
    t.start()
    got = 0
    while got < total:
        b = sock.recv(65536)
        if not b:
            break
        got += len(b)
    t.join()
    return got
l = socket.socket()
l.bind(("127.0.0.1", 0))
l.listen(1)
c = socket.create_connection(l.getsockname())
s, _ = l.accept()
t0 = time.time()
res = {}
th = threading.Thread(target=lambda: res.setdefault("s", pump(s)))
th.start()
res["c"] = pump(c)
th.join()
dt = time.time() - t0
assert res["s"] == total and res["c"] == total
print("%.3f" % dt)
PY
)

awk -v m="$mib" -v a="$start" -v b="$end" -v p="$plain" 'BEGIN {
  t = b - a; mb = m * 1.048576
  printf "stream %d MiB each way at once, checked\n", m
  printf "  talven link : %8.2f s  %8.1f MB/s each way\n", t, mb / t
  printf "  plain TCP   : %8.2f s  %8.1f MB/s each way\n", p, mb / p
  printf "  ratio talven/plain: %.3f\n", (mb / t) / (mb / p)
}'
