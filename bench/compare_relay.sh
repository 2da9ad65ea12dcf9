#!/usr/bin/env bash
# The relay engine of two build trees side by side (say the commit before a change and the change):
# each relay_runner relays to a destination server of its own, and every round runs the two in turn,
# the order alternating, so a drift of the machine's speed reaches both alike. Prints a Markdown table
# of medians and the ratio new ÷ old, with the machine's model and kernel.
#
#   bench/compare_relay.sh OLD_BUILD NEW_BUILD     (REPS=7 SECS=1.5 BASE_PORT=17400 to change the run)
set -euo pipefail
# shellcheck source=bench/bench_lib.sh
. "$(dirname "$0")/bench_lib.sh"

[ $# -eq 2 ] || { echo "usage: $0 OLD_BUILD NEW_BUILD" >&2; exit 2; }
declare -A BIN=([old]=$1/bench [new]=$2/bench)
REPS=${REPS:-7}
SECS=${SECS:-1.5}
BASE=${BASE_PORT:-17400}
for t in old new; do
  cmake --build "${BIN[$t]%/bench}" --target relay_runner relay_bench_server relay_loadgen udp_bench >/dev/null
done

workspace relay-compare

# Each relay has destinations of its own (the same programs, from the new tree).
declare -A PORT=([old]=$BASE [new]=$((BASE + 1)) [old.udp]=$((BASE + 2)) [new.udp]=$((BASE + 3)))
declare -A DEST=([old]=$((BASE + 10)) [new]=$((BASE + 11)) [old.udp]=$((BASE + 12)) [new.udp]=$((BASE + 13)))
declare -A RESULT
start() { "$@" >/dev/null 2>&1 & PIDS+=($!); }
for t in old new; do
  start "${BIN[new]}/relay_bench_server" "${DEST[$t]}" 2
  start "${BIN[new]}/udp_bench" echo "${DEST[$t.udp]}"
  start "${BIN[$t]}/relay_runner" "${PORT[$t]}" 127.0.0.1 "${DEST[$t]}"
  start "${BIN[$t]}/relay_runner" "${PORT[$t.udp]}" 127.0.0.1 "${DEST[$t.udp]}" udp
done
for t in old new; do
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/${PORT[$t]}) 2>/dev/null && break; sleep 0.1; done
done
sleep 0.5

TARGETS=(old new)
tcp() { rounds "${BIN[new]}/relay_loadgen" "$@"; }
udp() {
  local saved=("${PORT[old]}" "${PORT[new]}")
  PORT[old]=${PORT[old.udp]} PORT[new]=${PORT[new.udp]}
  rounds "${BIN[new]}/udp_bench" "$@"
  PORT[old]=${saved[0]} PORT[new]=${saved[1]}
}
echo "Running ($REPS rounds of each test, $SECS s each) ..." >&2
tcp up1 value bulk-up 1 "$SECS"
tcp down1 value bulk-down 1 "$SECS"
tcp up8 value bulk-up 8 "$SECS"
tcp down8 value bulk-down 8 "$SECS"
tcp dup1 value duplex E "$SECS"
tcp conn1 value connrate 1 "$SECS"
tcp conn16 value connrate 16 "$SECS"
tcp rtt50 p50 latency 20000
udp u64 value rate 64 1 "$SECS"
udp u1400x16 value rate 1400 16 "$SECS"

row() { printf '| %s | %s | %s | %s |\n' "$1" "${RESULT[$2.old]}" "${RESULT[$2.new]}" "$(ratio "${RESULT[$2.new]}" "${RESULT[$2.old]}")"; }
echo
echo "Relay, old ($1) against new ($2), $(date -u '+%Y-%m-%d %H:%M UTC'), medians of $REPS alternating rounds"
echo "$(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), $(nproc) cores, kernel $(uname -r)"
echo
echo "| Test | old | new | new ÷ old |"
echo "|---|---|---|---|"
row "Bulk client→server, 1 conn (MB/s)" up1
row "Bulk server→client, 1 conn (MB/s)" down1
row "Bulk client→server, 8 conns (MB/s)" up8
row "Bulk server→client, 8 conns (MB/s)" down8
row "Full duplex, echo (MB/s both ways)" dup1
row "Short connections, sequential (conn/s)" conn1
row "Short connections, 16 at a time (conn/s)" conn16
row "1-byte round trip p50 (µs, lower is better)" rtt50
row "UDP 64-byte datagrams, 1 client (echoed/s)" u64
row "UDP 1,400-byte datagrams, 16 clients (echoed/s)" u1400x16
