#!/usr/bin/env bash
# The main job on the virtual ECU: a full ECU update.
#   1. installs what is missing and builds flashdesk and ecusim,
#   2. makes the root certificate and a package group for a virtual ECU (ecusim make-packages),
#   3. plugs in `ecusim usb --mode boot` in a registry of its own,
#   4. runs `flashdesk update --once` against it,
#   5. checks from ecusim's state file that every block of every image arrived at its address.
# With --gui (and a display) the update runs in the desktop program instead: open "ECU Update",
# Browse to the packages folder, and the ECU is unplugged and plugged in again for you.
# CAPTURE=FILE captures the update's every transfer into FILE (a new pcapng file);
# REPLAY=FILE plugs in `ecusim replay FILE` instead of the virtual ECU and checks that the
# update followed the capture exchange for exchange.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
cmake --preset default >/dev/null
gui=false
[ "${1:-}" = --gui ] && gui=true
if $gui && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: --gui needs a display (DISPLAY or WAYLAND_DISPLAY)" >&2
  exit 2
fi
targets=(flashdesk ecusim)
$gui && targets+=(Velmar_Flashdesk)
cmake --build --preset default -j "$(nproc)" --target "${targets[@]}"

serial=${SERIAL:-01020AFF}
work=$(mktemp -d "${TMPDIR:-/tmp}/flashdesk-demo-XXXXXX")
export TRELINK_DEVICE_DIR="$work/registry"
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "== packages for ECU $serial"
build/ecusim/ecusim make-packages --serial "$serial" --out "$work/packages"

capture=${CAPTURE:+$(realpath -m "$CAPTURE")}
replay=${REPLAY:+$(realpath -m "$REPLAY")}
if [ -n "$replay" ]; then
  echo "== ecusim replay of $replay"
  build/ecusim/ecusim replay "$replay" > "$work/ecusim.log" 2>&1 &
else
  echo "== virtual ECU in boot loader mode"
  build/ecusim/ecusim usb --mode boot --serial "$serial" --state "$work/state.json" > "$work/ecusim.log" 2>&1 &
fi
sim_pid=$!
for _ in $(seq 100); do
  grep -q "plugged in" "$work/ecusim.log" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/ecusim.log"; exit 1; }
  sleep 0.1
done

status=0
cd "$work/packages"
if $gui; then
  echo "== Velmar_Flashdesk: open \"ECU Update\", Browse to $work/packages; the ECU comes back in 15 s"
  ( sleep 15; "$root/build/ecusim/ecusim" unplug; sleep 1; "$root/build/ecusim/ecusim" plug ) &
  TRELINK_CAPTURE=$capture "$root/build/app/Velmar_Flashdesk" || status=$?
else
  echo "== flashdesk update${capture:+, captured into $capture}"
  "$root/build/app/flashdesk" update --folder "$work/packages" --once ${capture:+--capture "$capture"} || status=$?
fi
cd "$root"

kill "$sim_pid"; replayed=0; wait "$sim_pid" 2>/dev/null || replayed=$?; sim_pid=
if [ -n "$replay" ]; then
  echo "== how the update followed the capture"
  grep "^ecusim replay: " "$work/ecusim.log" || true
  [ "$replayed" -eq 0 ] || status=1
else
  echo "== what arrived in the ECU"
  build/ecusim/ecusim check-update --serial "$serial" --state "$work/state.json" || status=1
fi
if [ "$status" -ne 0 ]; then echo "== update FAILED"
elif [ -n "$replay" ]; then echo "== update complete: every exchange as captured"
else echo "== update complete: every image programmed"; fi
exit "$status"
