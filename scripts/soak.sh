#!/usr/bin/env bash
# A production line in miniature: one `flashdesk update` (without --once) programs N virtual
# ECUs one after another, each with a serial number of its own; every fifth ECU gets a random
# fault plan. Checks that
#   - every ECU the output calls updated is complete in its state file (ecusim check-update),
#   - every other ECU ended with a failure text, and flashdesk never stopped or hung,
#   - flashdesk's open descriptors and threads do not grow between ECU 10 and ECU N, and its
#     resident memory by no more than SOAK_RSS_SLACK_KB (default 2048).
# Usage: scripts/soak.sh [N]     (default 1000; SOAK_SEED chooses the faults, default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
count=${1:-1000}
[[ "$count" =~ ^[0-9]+$ ]] && [ "$count" -ge 11 ] || { echo "soak: N must be a number of at least 11" >&2; exit 2; }
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target flashdesk ecusim >/dev/null
ecusim=$root/build/ecusim/ecusim
flashdesk=$root/build/app/flashdesk
RANDOM=${SOAK_SEED:-1}
slack_kb=${SOAK_RSS_SLACK_KB:-2048}

work=$(mktemp -d "${TMPDIR:-/tmp}/flashdesk-soak-XXXXXX")
export TRELINK_DEVICE_DIR="$work/registry"
mkdir -p "$work/packages" "$work/state"
fd_pid= sim_pid=
cleanup() {
  local rc=$?
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  if [ -n "$fd_pid" ]; then kill "$fd_pid" 2>/dev/null || true; wait "$fd_pid" 2>/dev/null || true; fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
fail() {
  echo "soak: $*" >&2
  echo "-- last lines of flashdesk:" >&2
  tail -n 20 "$work/flashdesk.log" >&2
  exit 1
}

serial_of() { printf '5A%06X' "$1"; }
# The faults a line meets: the ECU answers wrongly, late, not at all, or goes away and comes
# back. The n-th command is chosen among the ~40 of an update.
fault_plan() {
  local actions=("unplug:replug=300" "status=1" "rstatus=0x71000006" "short" "truncate=2" "garbage"
                 "mute" "delay=100" "unplug_after:replug=300")
  echo "n=$((RANDOM % 40 + 1)):${actions[RANDOM % ${#actions[@]}]}"
}

# What the process holds: descriptors, threads, resident kB.
usage_of() {
  local fds threads rss
  fds=$(ls "/proc/$fd_pid/fd" | wc -l)
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$fd_pid/status")
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$fd_pid/status")
  echo "$fds $threads $rss"
}
threads_of() { awk '/^Threads:/ {print $2}' "/proc/$fd_pid/status"; }
# Waits (up to 30 s) until no update worker runs: flashdesk is back to the threads it had
# before the first ECU. A new ECU that arrives while a worker runs is not served.
wait_idle() {
  for _ in $(seq 1 300); do
    kill -0 "$fd_pid" 2>/dev/null || fail "flashdesk ended at ECU $i ($serial) ${plan[*]}"
    [ "$(threads_of)" -le "$idle_threads" ] && return
    sleep 0.1
  done
  fail "the update worker did not end for ECU $i ($serial) ${plan[*]}"
}

for i in $(seq 1 "$count"); do
  "$ecusim" make-packages --serial "$(serial_of "$i")" --out "$work/packages" --blocks 1 >/dev/null
done

"$flashdesk" --answer-timeout 2 update --folder "$work/packages" --root-cert "$work/packages/RootCertificate_tcert.der" \
  > "$work/flashdesk.log" 2>&1 &
fd_pid=$!
sleep 1
kill -0 "$fd_pid" 2>/dev/null || fail "flashdesk did not start"
idle_threads=$(threads_of)

updated=0 failed=0 faulted=0
start=$SECONDS
for i in $(seq 1 "$count"); do
  serial=$(serial_of "$i")
  plan=()
  if [ $((i % 5)) -eq 0 ]; then plan=(--faults "$(fault_plan)"); faulted=$((faulted + 1)); fi
  from=$(($(wc -l < "$work/flashdesk.log") + 1))
  "$ecusim" usb --mode boot --serial "$serial" --name ecu --state "$work/state/$serial.json" "${plan[@]}" \
    > "$work/ecusim.log" 2>&1 &
  sim_pid=$!

  # The first verdict: success, or a failure text once the worker has given up on the ECU.
  verdict=
  for _ in $(seq 1 300); do
    kill -0 "$fd_pid" 2>/dev/null || fail "flashdesk ended at ECU $i ($serial) ${plan[*]}"
    if tail -n "+$from" "$work/flashdesk.log" |
      grep -Eq '^main: (Safe to disconnect ECU\.|.*Waiting for ECU reconnect\.|Update stopped: .*)$'; then
      verdict=seen
      break
    fi
    sleep 0.1
  done
  [ -n "$verdict" ] || fail "no verdict for ECU $i ($serial) ${plan[*]} within 30 s"
  wait_idle
  # A faulted ECU that unplugged comes back after 300 ms and is served once more.
  if [ ${#plan[@]} -gt 0 ]; then sleep 0.6; wait_idle; fi
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
  wait_idle

  lines=$(tail -n "+$from" "$work/flashdesk.log")
  if grep -q '^progress: Update Success! (100%)$' <<< "$lines"; then
    "$ecusim" check-update --serial "$serial" --state "$work/state/$serial.json" --blocks 1 >/dev/null ||
      fail "ECU $i ($serial) shown as updated but incomplete ${plan[*]}"
    updated=$((updated + 1))
  else
    [ ${#plan[@]} -gt 0 ] || fail "ECU $i ($serial) without faults was not updated"
    grep -Eq '^progress: Update Failure!|^main: (.*Waiting for ECU reconnect\.|Update stopped: .*)$' <<< "$lines" ||
      fail "ECU $i ($serial) ended without a failure text ${plan[*]}"
    failed=$((failed + 1))
  fi

  if [ "$i" -eq 10 ]; then read -r fds10 threads10 rss10 <<< "$(usage_of)"; fi
  if [ $((i % 100)) -eq 0 ]; then echo "soak: $i ECUs, $updated updated, $failed failed, $((SECONDS - start)) s"; fi
done
read -r fdsN threadsN rssN <<< "$(usage_of)"

echo "soak: $count ECUs in $((SECONDS - start)) s: $updated updated (each complete), $failed failed with a failure text, $faulted with a fault plan"
echo "soak: flashdesk at ECU 10: $fds10 descriptors, $threads10 threads, $rss10 kB; at ECU $count: $fdsN, $threadsN, $rssN kB"
[ "$fdsN" -le "$fds10" ] || fail "open descriptors grew from $fds10 to $fdsN"
[ "$threadsN" -le "$threads10" ] || fail "threads grew from $threads10 to $threadsN"
[ "$rssN" -le $((rss10 + slack_kb)) ] || fail "resident memory grew from $rss10 kB to $rssN kB"
echo "soak: pass"
