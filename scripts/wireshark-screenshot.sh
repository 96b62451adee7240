#!/usr/bin/env bash
# Makes docs/wireshark_capture.png: Wireshark under Xvfb with the demo update's capture, the
# dissector of `flashdesk describe --wireshark` and the 5th frame's request expanded, its key0
# array selected. Needs wireshark-qt, xvfb, x11-apps (xwd), xdotool and netpbm, which it
# installs when missing (they are for this picture only, not for the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
need=()
for p in wireshark-qt xvfb x11-apps xdotool netpbm; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/wireshark-shot-XXXXXX")
xvfb= shark=
cleanup() {
  [ -n "$shark" ] && kill "$shark" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
CAPTURE="$work/demo.pcapng" scripts/demo.sh >/dev/null
mkdir -p "$work/home/.local/lib/wireshark/plugins"
build/app/flashdesk describe --wireshark --out "$work/home/.local/lib/wireshark/plugins/trelink.lua"

export DISPLAY=:77
Xvfb "$DISPLAY" -screen 0 1400x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" wireshark -r "$work/demo.pcapng" -g 5 >/dev/null 2>&1 &
shark=$!
for _ in $(seq 50); do window=$(xdotool search --name demo.pcapng 2>/dev/null | head -n 1) && [ -n "$window" ] && break; sleep 0.2; done
sleep 2
xdotool windowmove "$window" 0 0 windowsize "$window" 1400 900
sleep 1
xdotool mousemove 110 512 click 1   # "Trelink ECU protocol"
xdotool key shift+Right             # expanded with its subtrees
sleep 0.5
xdotool mousemove 90 716 click 1    # key0
sleep 1
xwd -root -silent | xwdtopnm 2>/dev/null | pnmquant 96 2>/dev/null | pnmtopng -compression 9 >"$root/docs/wireshark_capture.png"
echo "docs/wireshark_capture.png"
