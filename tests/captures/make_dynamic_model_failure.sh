#!/usr/bin/env bash
# Captures the field failure that tests/captures/dynamic_model_failure.pcapng holds: an update
# of ECU 0A0B0C0D (packages of ecusim make-packages --blocks 1) whose ECU refuses the dynamic
# model's first block with security status 0x71000003. Run it again only when the update's
# exchanges change on purpose; the replay test then holds the product to the new capture.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD:-build}
cmake --build "$build" -j 2 --target flashdesk ecusim >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/capture-XXXXXX")
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export TRELINK_DEVICE_DIR="$work/registry"
out=$(pwd)/tests/captures/dynamic_model_failure.pcapng
"$build/ecusim/ecusim" make-packages --serial 0A0B0C0D --out "$work/packages" --blocks 1 >/dev/null
"$build/ecusim/ecusim" usb --mode boot --serial 0A0B0C0D --faults "code=6#18:rstatus=0x71000003" >"$work/ecusim.log" 2>&1 &
sim_pid=$!
until grep -q "plugged in" "$work/ecusim.log"; do sleep 0.1; done
rm -f "$out"
(cd "$work/packages" && "$OLDPWD/$build/app/flashdesk" update --once --folder . --capture "$out") >"$work/update.out" || true
tail -n 3 "$work/update.out"
"$build/app/flashdesk" capture show "$out" | tail -n 3
