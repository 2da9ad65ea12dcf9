#!/usr/bin/env bash
# UDP relay benchmark: the relay engine (relay_runner ... udp) side by side with socat (a process forked
# per client) and nginx (stream module, UDP), each relaying to an echoing destination of its own
# (udp_bench echo, identical ones), plus such a destination reached directly as the ceiling. Prints a
# Markdown table of medians.
#
#   bench/run_udp_bench.sh BUILD_DIR   (REPS=3 SECS=1.5 BASE_PORT=17300 IDLE=10000 SOCAT_IDLE=300 to change)
#
# Run by run_relay_bench.sh after the TCP rows, or alone with ONLY=udp make bench.
set -euo pipefail
# shellcheck source=bench/bench_lib.sh
. "$(dirname "$0")/bench_lib.sh"

BUILD=${1:-build}
BIN=$BUILD/bench
REPS=${REPS:-3}
SECS=${SECS:-1.5}
BASE=${BASE_PORT:-17300}
IDLE=${IDLE:-10000}
# socat forks a process per client: ten thousand of them would swamp the machine, so it is measured at
# fewer sessions (its cost per session hardly depends on how many there are).
SOCAT_IDLE=${SOCAT_IDLE:-300}

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
missing=()
for p in socat nginx libnginx-mod-stream; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
cmake --build "$BUILD" --target relay_runner udp_bench >/dev/null

WORK=$(mktemp -d /tmp/udp-bench.XXXXXX)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do pkill -P "$pid" 2>/dev/null || true; kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
ulimit -n "$(ulimit -Hn)"

declare -A PORT=([direct]=$BASE [quorvane]=$((BASE + 1)) [socat]=$((BASE + 2)) [nginx]=$((BASE + 3)) [quorvane.idle]=$((BASE + 4)))
declare -A DEST=([quorvane]=$((BASE + 11)) [socat]=$((BASE + 12)) [nginx]=$((BASE + 13)))
TARGETS=(direct quorvane nginx socat)
declare -A MAINPID CMD

mkdir -p "$WORK/nginx"
cat >"$WORK/nginx/nginx.conf" <<CFG
load_module /usr/lib/nginx/modules/ngx_stream_module.so;
daemon off;
worker_processes auto;
worker_rlimit_nofile $(ulimit -Hn);
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/nginx.err;
events { worker_connections 30000; }
stream {
  server {
    listen 127.0.0.1:${PORT[nginx]} udp reuseport;
    proxy_pass 127.0.0.1:${DEST[nginx]};
    proxy_timeout 60s;
  }
}
CFG

CMD[direct]="$BIN/udp_bench echo ${PORT[direct]}"
CMD[quorvane]="$BIN/relay_runner ${PORT[quorvane]} 127.0.0.1 ${DEST[quorvane]} udp"
# The idle sessions get a relay of their own: the sessions the rate tests left (idle for a minute) would
# count against its ceiling of 10,000.
CMD[quorvane.idle]="$BIN/relay_runner ${PORT[quorvane.idle]} 127.0.0.1 ${DEST[quorvane]} udp"
CMD[socat]="socat UDP-LISTEN:${PORT[socat]},fork,reuseaddr UDP:127.0.0.1:${DEST[socat]}"
CMD[nginx]="nginx -c $WORK/nginx/nginx.conf -p $WORK/nginx"
for t in quorvane socat nginx; do CMD[server.$t]="$BIN/udp_bench echo ${DEST[$t]}"; done
NAMES=(direct server.quorvane server.socat server.nginx quorvane socat nginx quorvane.idle)
for name in "${NAMES[@]}"; do
  ${CMD[$name]} >"$WORK/$name.log" 2>&1 &
  MAINPID[$name]=$!
  PIDS+=($!)
done
sleep 1


declare -A RESULT
# run KEY FIELD udp_bench-args...: REPS rounds of the UDP load generator against every target.
run() { rounds "$BIN/udp_bench" "$@"; }

echo "Running UDP ($REPS rounds of each test, $SECS s each) ..." >&2
run r64x1 value rate 64 1 "$SECS"
run r1400x1 value rate 1400 1 "$SECS"
run r64x16 value rate 64 16 "$SECS"
run r1400x16 value rate 1400 16 "$SECS"
run rtt50 p50 latency 20000
run rtt99 p99 latency 20000

family() { echo "$1" $(pgrep -P "$1" || true); }
status() { awk -v k="$2:" '$1 == k {print $2}' /proc/$1/status 2>/dev/null || true; }
sum_status() { local s=0 p v; for p in $(family "$1"); do v=$(status "$p" "$2"); s=$((s + ${v:-0})); done; echo $s; }

for t in quorvane nginx socat; do
  n=$IDLE
  [ "$t" = socat ] && n=$SOCAT_IDLE
  target=$t
  [ "$t" = quorvane ] && target=quorvane.idle
  pid=${MAINPID[$target]}
  sleep 1
  before=$(sum_status "$pid" VmRSS)
  "$BIN/udp_bench" idle "${PORT[$target]}" "$n" 3 >"$WORK/idle.$t.out" 2>&1 &
  gen=$!
  for _ in $(seq 1200); do grep -q ready "$WORK/idle.$t.out" && break; kill -0 $gen 2>/dev/null || break; sleep 0.1; done
  sleep 0.5
  after=$(sum_status "$pid" VmRSS)
  RESULT[idlen.$t]=$n
  RESULT[rss.$t]=$(awk -v a="$after" -v b="$before" -v n="$n" 'BEGIN {printf "%.2f", (a - b) / n}')
  RESULT[echo.$t]=$(field echoing <"$WORK/idle.$t.out" | tail -1)
  [ -n "${RESULT[echo.$t]}" ] || { echo "idle sessions through $t:" >&2; tail -3 "$WORK/idle.$t.out" >&2; }
  wait $gen || true
  # Each session holds a port towards the destination: the next relay's sessions and clients need them.
  [ "$t" = quorvane ] && kill "$pid"
done

best() { awk -v a="$1" -v b="$2" -v m="$3" 'BEGIN {if (m == "min") print (a < b ? a : b); else print (a > b ? a : b)}'; }
row() { # label key better(max|min)
  local ref
  ref=$(best "${RESULT[$2.nginx]}" "${RESULT[$2.socat]}" "$3")
  printf '| %s | %s | %s | %s | %s | %s |\n' "$1" "${RESULT[$2.direct]}" "${RESULT[$2.quorvane]}" \
    "${RESULT[$2.nginx]}" "${RESULT[$2.socat]}" "$(ratio "${RESULT[$2.quorvane]}" "$ref")"
}

echo
echo "UDP relay benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, medians of $REPS runs of $SECS s"
echo "(nginx $(nginx -v 2>&1 | sed 's|.*/||'), socat $(socat -V 2>/dev/null | awk '/socat version/ {print $3}'))"
echo
echo "| Test | direct | quorvane | nginx | socat | quorvane ÷ better peer |"
echo "|---|---|---|---|---|---|"
row "64-byte datagrams, 1 client (echoed/s)" r64x1 max
row "1,400-byte datagrams, 1 client (echoed/s)" r1400x1 max
row "64-byte datagrams, 16 clients (echoed/s)" r64x16 max
row "1,400-byte datagrams, 16 clients (echoed/s)" r1400x16 max
row "64-byte round trip p50 (µs)" rtt50 min
row "64-byte round trip p99 (µs)" rtt99 min
echo
echo "| Idle sessions | quorvane | nginx | socat |"
echo "|---|---|---|---|"
printf '| Sessions held | %s | %s | %s |\n' "${RESULT[idlen.quorvane]}" "${RESULT[idlen.nginx]}" "${RESULT[idlen.socat]}"
printf '| RSS per session (KiB, all processes) | %s | %s | %s |\n' "${RESULT[rss.quorvane]}" "${RESULT[rss.nginx]}" "${RESULT[rss.socat]}"
printf '| Sessions echoing | %s | %s | %s |\n' "${RESULT[echo.quorvane]:--}" "${RESULT[echo.nginx]:--}" "${RESULT[echo.socat]:--}"
echo
echo "Echoed/s: datagrams that came back to the clients per second, each window of $((32)) datagrams in flight"
echo "per client; every one crossed the relay twice. Destination: udp_bench echo (two sockets on the port)."
echo "Command lines:"
for name in "${NAMES[@]}"; do echo "    ${CMD[$name]}"; done
echo "    udp_bench rate PORT 64|1400 1|16 $SECS; latency PORT 20000; idle PORT N 3"
