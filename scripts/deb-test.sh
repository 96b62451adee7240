#!/usr/bin/env bash
# Builds the Debian packages of the default preset (flashdesk, libtrelink1, libtrelink-dev,
# ecusim), runs lintian on each (any error fails; packaging/README.md lists the warnings that
# stay and why), checks how they are split, and unpacks each program's package together with
# the packages it depends on into a scratch root (never installs them on this machine) to run
# the unpacked programs: every program's --version, flashdesk pak info on a package that the
# unpacked ecusim made, and a C program built through the unpacked trelink.pc that talks to the
# unpacked libecusim.so over the simulator link. Exits 0 only if all of it works.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
(cd build && rm -f ./*.deb && cpack -G DEB >/dev/null)
fail() { echo "deb-test: FAIL $*" >&2; exit 1; }
pass() { echo "deb-test: pass $*"; }

declare -A deb
for f in build/*.deb; do deb[$(dpkg-deb -f "$f" Package)]=$f; done
packages="ecusim flashdesk libtrelink-dev libtrelink1"
[ "$(printf '%s\n' "${!deb[@]}" | sort | xargs)" = "$packages" ] ||
  fail "cpack made the packages '${!deb[*]}', not '$packages'"
version=$(dpkg-deb -f "${deb[flashdesk]}" Version)
for p in $packages; do
  echo "deb-test: built ${deb[$p]}"
  dpkg-deb -f "${deb[$p]}" Depends | sed 's/^/  Depends: /'
done

# lintian on every package: errors fail, warnings are shown.
for p in $packages; do
  status=0
  out=$(lintian --fail-on error --display-level '>=warning' "${deb[$p]}" 2>&1) || status=$?
  out=$(grep -v 'running with root privileges' <<<"$out" || true)
  [ $status = 0 ] || { echo "$out" >&2; fail "lintian finds errors in ${deb[$p]}"; }
  [ -z "$out" ] || echo "$out" | sed 's/^/  /'
done
pass "lintian: no error in the $(wc -w <<<"$packages") packages"

# The split: the test tool stays out of the production package; the packages that use the
# library depend on exactly this build of it; the library package registers its shared library
# through its shlibs file and dpkg's ldconfig trigger, not through maintainer scripts; the
# flashdesk package applies the udev rule to an ECU that is already plugged in.
control() { dpkg-deb --ctrl-tarfile "${deb[$1]}" | tar -xO "./$2" 2>/dev/null; }
! dpkg-deb -c "${deb[flashdesk]}" | grep -q 'ecusim' || fail "the flashdesk package holds ecusim"
for p in flashdesk libtrelink-dev; do
  dpkg-deb -f "${deb[$p]}" Depends | grep -q "libtrelink1 (= $version)" ||
    fail "$p does not depend on libtrelink1 (= $version)"
done
[ "$(control libtrelink1 shlibs)" = "libTrelink 1 libtrelink1 (>= $version)" ] ||
  fail "libtrelink1's shlibs is '$(control libtrelink1 shlibs)'"
[ "$(control libtrelink1 triggers)" = "activate-noawait ldconfig" ] ||
  fail "libtrelink1 does not activate the ldconfig trigger"
for script in preinst postinst prerm postrm; do
  [ -z "$(control libtrelink1 $script)" ] || fail "libtrelink1 has a $script"
done
control flashdesk postinst | grep -q 'udevadm trigger' || fail "flashdesk's postinst triggers no udev event"
pass "the split: ecusim apart, the library with shlibs and the ldconfig trigger, the udev postinst"

scratch=$(mktemp -d /tmp/deb-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
# unpack ROOT PACKAGE: the package and those of ours it depends on
unpack() {
  dpkg-deb -x "${deb[$2]}" "$1"
  local dep
  for dep in $(dpkg-deb -f "${deb[$2]}" Depends | tr ',' '\n' | awk '{print $1}'); do
    [ -z "${deb[$dep]:-}" ] || unpack "$1" "$dep"
  done
}
for p in flashdesk ecusim libtrelink-dev; do unpack "$scratch/$p" "$p"; done

# Every unpacked program finds every library it loads, libTrelink.so.1 from its own root, and
# prints the package's version (all from project(VERSION)).
for p in flashdesk ecusim; do
  for program in "$scratch/$p/usr/bin"/*; do
    name=$(basename "$program")
    libs=$(LD_LIBRARY_PATH="$scratch/$p/usr/lib/$multiarch" ldd "$program")
    ! grep -q 'not found' <<<"$libs" || fail "$name misses a library: $(grep 'not found' <<<"$libs")"
    out=$(LD_LIBRARY_PATH="$scratch/$p/usr/lib/$multiarch" "$program" --version)
    [ "$out" = "$name $version" ] || fail "$name --version printed '$out', not '$name $version'"
  done
done
libs=$(LD_LIBRARY_PATH="$scratch/flashdesk/usr/lib/$multiarch" ldd "$scratch/flashdesk/usr/bin/flashdesk")
grep -q "libTrelink.so.1 => $scratch/flashdesk/" <<<"$libs" || fail "flashdesk does not load the unpacked libTrelink.so.1"
pass "every unpacked program's libraries and --version ($version)"

"$scratch/ecusim/usr/bin/ecusim" make-packages --serial 0A0B0C0D --out "$scratch/packages" >/dev/null
pak=$(find "$scratch/packages" -name '*.pak' | sort | head -n 1)
[ -n "$pak" ] || fail "ecusim make-packages wrote no .pak"
info=$(LD_LIBRARY_PATH="$scratch/flashdesk/usr/lib/$multiarch" "$scratch/flashdesk/usr/bin/flashdesk" pak info "$pak") ||
  fail "flashdesk pak info $pak"
pass "flashdesk pak info $(basename "$pak"): $(echo "$info" | wc -l) lines"

# A C program builds against the unpacked trelink.h and libTrelink.so through trelink.pc and
# reads the version of the unpacked libecusim.so over the simulator link (a library that is
# not there fails to open).
dev=$scratch/libtrelink-dev
cat >"$scratch/use.c" <<'EOF'
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <trelink.h>
int main(int argc, char** argv) {
    unsigned char data[4096] = {0};
    const char* options = "--mode app --version 96 --firmware 11223344";
    if (argc != 2 || strlen(argv[1]) + strlen(options) + 3 > sizeof data) return 2;
    strcpy((char*)data + 1, argv[1]);
    strcpy((char*)data + 2 + strlen(argv[1]), options);
    if (KesInitializeInterfaces(TRELINK_LINK_SIMULATOR, data) != 0) return 1;
    uint32_t version[2] = {0, 0};
    uint16_t returned = 0;
    const int status = KesSendCommand(0, NULL, 0, version, sizeof version, &returned);
    printf("status %d, %u bytes, firmware %08X, structures %u\n", status, returned, version[0], version[1]);
    KesCloseInterfaces(TRELINK_LINK_SIMULATOR);
    return status == 0 && returned == 8 && version[0] == 0x11223344u && version[1] == 96 ? 0 : 1;
}
EOF
# shellcheck disable=SC2046
cc "$scratch/use.c" -o "$scratch/use" $(PKG_CONFIG_SYSROOT_DIR="$dev" \
  PKG_CONFIG_PATH="$dev/usr/lib/$multiarch/pkgconfig" pkg-config --cflags --libs trelink) ||
  fail "a C program does not build with the unpacked trelink.pc"
simulator=$scratch/ecusim/usr/lib/$multiarch/ecusim/libecusim.so
out=$(LD_LIBRARY_PATH="$dev/usr/lib/$multiarch" "$scratch/use" "$simulator") ||
  fail "the C program over the simulator link to $simulator: $out"
! LD_LIBRARY_PATH="$dev/usr/lib/$multiarch" "$scratch/use" "$scratch/no-such-libecusim.so" >/dev/null ||
  fail "the simulator link opened a library that is not there"
pass "a C program built with trelink.pc reads the unpacked libecusim.so: $out"

# Wireshark's global Lua plugin folder holds the dissector the unpacked flashdesk makes, and
# tshark loads it.
flashdesk_libs="$scratch/flashdesk/usr/lib/$multiarch"
plugin="$flashdesk_libs/wireshark/plugins/trelink.lua"
[ -f "$plugin" ] && LD_LIBRARY_PATH="$flashdesk_libs" "$scratch/flashdesk/usr/bin/flashdesk" describe --wireshark | cmp -s - "$plugin" ||
  fail "$plugin is missing or not what flashdesk describe --wireshark writes"
# tshark reads no other folder's plugins for -G: the unpacked folder stands in as a personal one.
mkdir -p "$scratch/home/.local/lib/wireshark"
ln -s "$(dirname "$plugin")" "$scratch/home/.local/lib/wireshark/plugins"
fields=$(HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" tshark -G fields 2>/dev/null) || true
grep -q $'\ttrelink.command\t' <<<"$fields" || fail "tshark does not load $plugin"
pass "the Wireshark dissector is installed and loads"
echo "deb-test: all passed"
