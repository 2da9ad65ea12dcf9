#!/usr/bin/env bash
# Relay benchmark: the relay engine (relay_runner) side by side with socat, haproxy (tcp mode) and nginx
# (stream module), each relaying to a local destination server of its own (identical ones), plus such a
# server reached directly as the ceiling. Prints a Markdown table of medians and ratios.
#
#   bench/run_relay_bench.sh BUILD_DIR        (REPS=5 SECS=1.5 BASE_PORT=17200 SOAK=100000 to change the run)
#
# Then the engine alone: the same mapping without and with rules that admit every client (what checking
# them costs), and with a bandwidth limit of 10 MiB/s (how close it holds, how evenly links share it).
# JUST_RULES=1 runs only these, without the peers, the UDP rows and the soak.
#
# Then the UDP rows (run_udp_bench.sh), and the soak: SOAK short connections (default 100,000) through
# mapping #1 of the real main window, offscreen, with the figures of its user-interface thread.
# ONLY=udp runs the UDP rows alone.
set -euo pipefail
# shellcheck source=bench/bench_lib.sh
. "$(dirname "$0")/bench_lib.sh"

BUILD=${1:-build}
if [ "${ONLY:-}" = udp ]; then
  exec "$(dirname "$0")/run_udp_bench.sh" "$BUILD"
fi
BIN=$BUILD/bench
REPS=${REPS:-5}
SECS=${SECS:-1.5}
BASE=${BASE_PORT:-17200}
IDLE_COUNTS=${IDLE_COUNTS:-"1000 5000"}
SOAK=${SOAK:-100000}
JUST_RULES=${JUST_RULES:-0}
BW_SECS=${BW_SECS:-3}
LIMIT=10485760 # 10 MiB/s

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
missing=()
for p in socat haproxy nginx libnginx-mod-stream; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] && [ "$JUST_RULES" != 1 ]; then
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
BENCH_TARGETS=(relay_runner relay_bench_server relay_loadgen)
[ "$JUST_RULES" = 1 ] || BENCH_TARGETS+=(relay_soak)
cmake --build "$BUILD" --target "${BENCH_TARGETS[@]}" >/dev/null

workspace relay-bench

# Each target relays to a destination server of its own (identical ones): every connection leaves a
# port in TIME_WAIT for a minute, and a relay connecting where another relay or the direct run has just
# used up the ports would pay for the search that follows.
declare -A PORT=([direct]=$BASE [quorvane]=$((BASE + 1)) [socat]=$((BASE + 2)) [haproxy]=$((BASE + 3)) [nginx]=$((BASE + 4)) [nginxhc]=$((BASE + 5)) [rules]=$((BASE + 6)) [limited]=$((BASE + 7)))
declare -A DEST=([quorvane]=$((BASE + 11)) [socat]=$((BASE + 12)) [haproxy]=$((BASE + 13)) [nginx]=$((BASE + 14)) [nginxhc]=$((BASE + 15)) [rules]=$((BASE + 16)) [limited]=$((BASE + 17)))
SERVER=$((BASE + 20)) # the soak's
TARGETS=(direct quorvane haproxy nginx nginxhc socat)
declare -A MAINPID CMD

cat >"$WORK/haproxy.cfg" <<CFG
global
  maxconn 9000
defaults
  mode tcp
  timeout connect 5s
  timeout client 1h
  timeout server 1h
listen relay
  bind 127.0.0.1:${PORT[haproxy]}
  server destination 127.0.0.1:${DEST[haproxy]}
CFG
# nginx twice: as it comes, and passing an end of stream on and waiting for the other side's as
# quorvane and haproxy do (by default it closes both sides at the first end of stream it sees).
nginx_conf() { # PREFIX PORT DEST HALF_CLOSE
  mkdir -p "$1"
  cat >"$1/nginx.conf" <<CFG
load_module /usr/lib/nginx/modules/ngx_stream_module.so;
daemon off;
worker_processes auto;
worker_rlimit_nofile 20000;
pid $1/nginx.pid;
error_log $1/nginx.err;
events { worker_connections 15000; }
stream {
  server {
    listen 127.0.0.1:$2;
    proxy_pass 127.0.0.1:$3;
    proxy_half_close $4;
  }
}
CFG
}
nginx_conf "$WORK/nginx" "${PORT[nginx]}" "${DEST[nginx]}" off
nginx_conf "$WORK/nginxhc" "${PORT[nginxhc]}" "${DEST[nginxhc]}" on

CMD[direct]="$BIN/relay_bench_server ${PORT[direct]} 2"
CMD[quorvane]="$BIN/relay_runner ${PORT[quorvane]} 127.0.0.1 ${DEST[quorvane]}"
CMD[socat]="socat TCP-LISTEN:${PORT[socat]},reuseaddr,fork TCP:127.0.0.1:${DEST[socat]}"
CMD[haproxy]="haproxy -db -f $WORK/haproxy.cfg"
CMD[nginx]="nginx -c $WORK/nginx/nginx.conf -p $WORK/nginx"
CMD[nginxhc]="nginx -c $WORK/nginxhc/nginx.conf -p $WORK/nginxhc"
CMD[soak]="$BIN/relay_bench_server $SERVER 2"
CMD[rules]="$BIN/relay_runner ${PORT[rules]} 127.0.0.1 ${DEST[rules]} --rules"
CMD[limited]="$BIN/relay_runner ${PORT[limited]} 127.0.0.1 ${DEST[limited]} --bandwidth $LIMIT $LIMIT"
for t in quorvane socat haproxy nginx nginxhc rules limited; do CMD[server.$t]="$BIN/relay_bench_server ${DEST[$t]} 2"; done
NAMES=(direct soak server.quorvane server.socat server.haproxy server.nginx server.nginxhc quorvane socat haproxy nginx nginxhc)
ENGINE_NAMES=(server.rules server.limited rules limited)
if [ "$JUST_RULES" = 1 ]; then
  NAMES=(server.quorvane quorvane)
  TARGETS=(quorvane)
fi
for name in "${NAMES[@]}" "${ENGINE_NAMES[@]}"; do
  ${CMD[$name]} >"$WORK/$name.log" 2>&1 &
  MAINPID[$name]=$!
  PIDS+=($!)
done
for t in "${TARGETS[@]}" rules limited; do
  for _ in $(seq 100); do
    (exec 3<>/dev/tcp/127.0.0.1/${PORT[$t]}) 2>/dev/null && break
    sleep 0.1
  done
done
sleep 0.5


declare -A RESULT
# run KEY FIELD loadgen-args...: REPS rounds of the load generator against every target.
run() { rounds "$BIN/relay_loadgen" "$@"; }
# run_among "TARGET..." KEY FIELD loadgen-args...: a run of those targets alone.
run_among() {
  local saved=("${TARGETS[@]}")
  read -ra TARGETS <<<"$1"
  shift
  run "$@"
  TARGETS=("${saved[@]}")
}

if [ "$JUST_RULES" != 1 ]; then
  echo "Running ($REPS rounds of each test, $SECS s each) ..." >&2
  run up1 value bulk-up 1 "$SECS"
  run down1 value bulk-down 1 "$SECS"
  run up8 value bulk-up 8 "$SECS"
  run down8 value bulk-down 8 "$SECS"
  run dup1 value duplex E "$SECS"
  run dup2 value duplex D "$SECS"
  run conn1 value connrate 1 "$SECS"
  run conn16 value connrate 16 "$SECS"
  run rtt50 p50 latency 20000
  run rtt99 p99 latency 20000

  # Memory and threads of a relay: its main process and its children (socat forks, nginx workers).
  family() { echo "$1" $(pgrep -P "$1" || true); }
  status() { awk -v k="$2:" '$1 == k {print $2}' /proc/$1/status 2>/dev/null || true; }
  sum_status() { local s=0 p v; for p in $(family "$1"); do v=$(status "$p" "$2"); s=$((s + ${v:-0})); done; echo $s; }
  rss_kib() { sum_status "$1" VmRSS; }
  threads() { sum_status "$1" Threads; }

  for n in $IDLE_COUNTS; do
    for t in quorvane haproxy nginx socat; do
      pid=${MAINPID[$t]}
      sleep 1
      before=$(rss_kib "$pid")
      "$BIN/relay_loadgen" idle "${PORT[$t]}" "$n" 3 >"$WORK/idle.out" 2>&1 &
      gen=$!
      for _ in $(seq 600); do grep -q ready "$WORK/idle.out" && break; kill -0 $gen 2>/dev/null || break; sleep 0.1; done
      sleep 0.5
      after=$(rss_kib "$pid")
      RESULT[thr$n.$t]=$(threads "$pid")
      wait $gen || true
      RESULT[rss$n.$t]=$(awk -v a="$after" -v b="$before" -v n="$n" 'BEGIN {printf "%.1f", (a - b) / n}')
      RESULT[echo$n.$t]=$(field echoing <"$WORK/idle.out" | tail -1)
    done
  done

  best() { awk -v a="$1" -v b="$2" -v m="$3" 'BEGIN {if (m == "min") print (a < b ? a : b); else print (a > b ? a : b)}'; }

  row() { # label key better(max|min) against(peers|haproxy)
    local label=$1 key=$2 mode=$3 against=$4 ref
    if [ "$against" = haproxy ]; then ref=${RESULT[$key.haproxy]}; else ref=$(best "${RESULT[$key.haproxy]}" "${RESULT[$key.nginx]}" "$mode"); fi
    printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$label" "${RESULT[$key.direct]}" "${RESULT[$key.quorvane]}" \
      "${RESULT[$key.haproxy]}" "${RESULT[$key.nginx]}" "${RESULT[$key.nginxhc]}" "${RESULT[$key.socat]}" \
      "$(ratio "${RESULT[$key.quorvane]}" "$ref")"
  }

  echo
  echo "Relay benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, medians of $REPS runs of $SECS s"
  echo "(haproxy $(haproxy -v 2>/dev/null | head -1 | awk '{print $3}'), nginx $(nginx -v 2>&1 | sed 's|.*/||'), socat $(socat -V 2>/dev/null | awk '/socat version/ {print $3}'))"
  echo
  echo "| Test | direct | quorvane | haproxy | nginx | nginx, half-close on | socat | quorvane ÷ reference |"
  echo "|---|---|---|---|---|---|---|---|"
  row "Bulk client→server, 1 conn (MB/s)" up1 max peers
  row "Bulk server→client, 1 conn (MB/s)" down1 max peers
  row "Bulk client→server, 8 conns (MB/s)" up8 max peers
  row "Bulk server→client, 8 conns (MB/s)" down8 max peers
  row "Full duplex, echo (MB/s both ways)" dup1 max peers
  row "Full duplex, echo twice (MB/s both ways)" dup2 max peers
  row "Short connections, sequential (conn/s)" conn1 max peers
  row "Short connections, 16 at a time (conn/s)" conn16 max peers
  row "1-byte round trip p50 (µs)" rtt50 min peers
  row "1-byte round trip p99 (µs)" rtt99 min peers
  echo
  echo "| Idle echoing connections | quorvane | haproxy | nginx | socat |"
  echo "|---|---|---|---|---|"
  for n in $IDLE_COUNTS; do
    printf '| %s: RSS per connection (KiB) | %s | %s | %s | %s |\n' "$n" "${RESULT[rss$n.quorvane]}" "${RESULT[rss$n.haproxy]}" "${RESULT[rss$n.nginx]}" "${RESULT[rss$n.socat]}"
    printf '| %s: threads (all processes) | %s | %s | %s | %s |\n' "$n" "${RESULT[thr$n.quorvane]}" "${RESULT[thr$n.haproxy]}" "${RESULT[thr$n.nginx]}" "${RESULT[thr$n.socat]}"
    printf '| %s: still echoing | %s | %s | %s | %s |\n' "$n" "${RESULT[echo$n.quorvane]:--}" "${RESULT[echo$n.haproxy]:--}" "${RESULT[echo$n.nginx]:--}" "${RESULT[echo$n.socat]:--}"
  done
  echo
  echo "Reference: the better of haproxy and nginx as it comes (higher throughput and rates, lower latency)."
  echo "Destination: relay_bench_server (sink, source, echo, echo twice; chosen by the first byte)."
  echo "Command lines:"
  for name in "${NAMES[@]}"; do echo "    ${CMD[$name]}"; done
  echo "    relay_loadgen bulk-up|bulk-down PORT 1|8 $SECS; duplex PORT E|D $SECS; connrate PORT 1|16 $SECS; latency PORT 20000; idle PORT N 3"
fi

# The engine alone, the same mapping: without and with rules, and under a bandwidth limit.
echo "Running the engine's own rows ($REPS rounds) ..." >&2
run_among "quorvane rules" rconn1 value connrate 1 "$SECS"
run_among "quorvane rules" rconn16 value connrate 16 "$SECS"
run_among "quorvane rules" rup1 value bulk-up 1 "$SECS"
run_among "quorvane rules" rdown1 value bulk-down 1 "$SECS"
run_among "limited" lim1 value bulk-down 1 "$BW_SECS"
run_among "limited" lim8 value bulk-down 8 "$BW_SECS"

ruled_row() { # label key
  printf '| %s | %s | %s | %s |\n' "$1" "${RESULT[$2.quorvane]}" "${RESULT[$2.rules]}" \
    "$(ratio "${RESULT[$2.rules]}" "${RESULT[$2.quorvane]}")"
}
mib() { awk -v v="$1" 'BEGIN {if (v == "nan") print "nan"; else printf "%.2f", v * 1e6 / 1048576}'; }
limited_row() { # label key
  local rate
  rate=$(mib "${RESULT[$2.limited]}")
  printf '| %s | %s | %s | %s | %s |\n' "$1" "$rate" \
    "$(awk -v r="$rate" -v l="$LIMIT" 'BEGIN {if (r == "nan") print "-"; else printf "%+.1f %%", (r * 1048576 / l - 1) * 100}')" \
    "$(mib "$(figure "$2" limited slowest)")" "$(mib "$(figure "$2" limited fastest)")"
}
echo
echo "| The engine, one mapping (medians of $REPS runs) | without rules | with rules (10,000-network allow list, fallback, limit) | with ÷ without |"
echo "|---|---|---|---|"
ruled_row "Short connections, sequential (conn/s)" rconn1
ruled_row "Short connections, 16 at a time (conn/s)" rconn16
ruled_row "Bulk client→server, 1 conn (MB/s)" rup1
ruled_row "Bulk server→client, 1 conn (MB/s)" rdown1
echo
echo "| Bandwidth limit of 10 MiB/s, server→client, $BW_SECS s | rate (MiB/s) | deviation from 10 MiB/s | slowest link (MiB/s) | fastest link (MiB/s) |"
echo "|---|---|---|---|---|"
limited_row "1 conn" lim1
limited_row "8 conns" lim8
echo
echo "Rates counted by the receiving client from its connect on, the limit's first burst (50 ms) included."
echo "Command lines:"
for name in "${ENGINE_NAMES[@]}"; do echo "    ${CMD[$name]}"; done
echo "    relay_loadgen connrate PORT 1|16 $SECS; bulk-up|bulk-down PORT 1 $SECS; bulk-down PORT 1|8 $BW_SECS"
echo
if [ "$JUST_RULES" != 1 ]; then
  "$(dirname "$0")/run_udp_bench.sh" "$BUILD"
  echo
fi
if [ "$SOAK" -gt 0 ] && [ "$JUST_RULES" != 1 ]; then
  "$BIN/relay_soak" "$SERVER" "$SOAK" 16 2>/dev/null
fi
