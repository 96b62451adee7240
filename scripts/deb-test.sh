#!/usr/bin/env bash
# Builds the .deb of the default preset, unpacks it into a scratch root (never installs it on
# this machine) and runs the unpacked flashdesk: --version, and pak info on a package that the
# unpacked ecusim made; a C program builds against the unpacked trelink.pc. Exits 0 only if
# all of it works.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
(cd build && rm -f ./*.deb && cpack -G DEB >/dev/null)
deb=$(ls build/*.deb)
echo "deb-test: built $deb"
dpkg-deb -f "$deb" Package Version Depends

root=$(mktemp -d /tmp/deb-test.XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
export LD_LIBRARY_PATH="$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
bin="$root/usr/bin"

# The package and the program carry the same version, both from project(VERSION).
version=$(dpkg-deb -f "$deb" Version)
out=$("$bin/flashdesk" --version)
if [ "$out" != "flashdesk $version" ]; then
  echo "deb-test: FAIL flashdesk --version printed '$out', not 'flashdesk $version'" >&2
  exit 1
fi
echo "deb-test: pass flashdesk --version: $out"

# Every library the unpacked programs load is found (libTrelink.so from the scratch root).
for program in "$bin"/*; do
  if ldd "$program" | grep -q 'not found'; then
    echo "deb-test: FAIL $program misses a library:" >&2
    ldd "$program" | grep 'not found' >&2
    exit 1
  fi
done
# (grep reads all of ldd's output: stopping at the match could end ldd by SIGPIPE, which
# pipefail would take for a failure)
ldd "$bin/flashdesk" | grep "libTrelink.so => $root/" >/dev/null ||
  { echo "deb-test: FAIL flashdesk does not load the unpacked libTrelink.so" >&2; exit 1; }

# A C program builds against the unpacked trelink.h and libTrelink.so through trelink.pc.
printf '#include <trelink.h>\nint main(void) { return EnableErrorMessages(0) == EnableErrorMessages(0) ? 0 : 1; }\n' >"$root/use.c"
if ! cc "$root/use.c" -o "$root/use" $(PKG_CONFIG_SYSROOT_DIR="$root" \
      PKG_CONFIG_PATH="$LD_LIBRARY_PATH/pkgconfig" pkg-config --cflags --libs trelink) || ! "$root/use"; then
  echo "deb-test: FAIL a program using trelink.pc" >&2
  exit 1
fi
echo "deb-test: pass a C program builds and runs with trelink.pc"

"$bin/ecusim" make-packages --serial 0A0B0C0D --out "$root/packages" >/dev/null
pak=$(find "$root/packages" -name '*.pak' | sort | head -n 1)
[ -n "$pak" ] || { echo "deb-test: FAIL ecusim make-packages wrote no .pak" >&2; exit 1; }
if ! info=$("$bin/flashdesk" pak info "$pak"); then
  echo "deb-test: FAIL flashdesk pak info $pak" >&2
  exit 1
fi
echo "deb-test: pass flashdesk pak info $(basename "$pak"): $(echo "$info" | wc -l) lines"
echo "deb-test: all passed"
