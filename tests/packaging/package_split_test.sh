#!/usr/bin/env bash
# Usage: package_split_test.sh BUILD_DIR LIBDIR GUI(0|1)
# Installs each install component on its own and checks that it holds exactly the files of its
# Debian package (packaging/CMakeLists.txt): the test tool ecusim only in its own, the library
# with its versioned SONAME apart from its development files, man pages compressed as Debian
# keeps them, and the udev rule with its postinst.
set -uo pipefail
build=$1 libdir=$2 gui=$3
root=$(mktemp -d /tmp/package-split.XXXXXX)
trap 'rm -rf "$root"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

# component|path under the root (a link is shown as path -> target); GUI rows need Qt.
expected=$(sed "s|@LIBDIR@|$libdir|" <<'FILES' | awk -F'|' -v gui="$gui" '$3 != "gui" || gui == 1 {print $1 "|" $2}' | sort
programs|usr/bin/flashdesk
programs|usr/bin/Velmar_Flashdesk|gui
programs|usr/share/applications/velmar-flashdesk.desktop|gui
programs|usr/share/icons/hicolor/64x64/apps/velmar-flashdesk.png|gui
programs|usr/share/man/man1/flashdesk.1.gz
programs|usr/share/man/man1/Velmar_Flashdesk.1.gz|gui
programs|usr/share/bash-completion/completions/flashdesk
programs|usr/@LIBDIR@/wireshark/plugins/trelink.lua
programs|usr/share/doc/flashdesk/copyright
programs|usr/share/doc/flashdesk/changelog.gz
udev|usr/lib/udev/rules.d/70-flashdesk-ecu.rules
runtime|usr/@LIBDIR@/libTrelink.so.1
runtime|usr/share/doc/libtrelink1/copyright
runtime|usr/share/doc/libtrelink1/changelog.gz
development|usr/include/trelink.h
development|usr/@LIBDIR@/libTrelink.so -> libTrelink.so.1
development|usr/@LIBDIR@/pkgconfig/trelink.pc
development|usr/share/doc/libtrelink-dev/copyright
development|usr/share/doc/libtrelink-dev/changelog.gz
ecusim|usr/bin/ecusim
ecusim|usr/@LIBDIR@/ecusim/libecusim.so
ecusim|usr/share/man/man1/ecusim.1.gz
ecusim|usr/share/doc/ecusim/copyright
ecusim|usr/share/doc/ecusim/changelog.gz
FILES
)

actual=$(for component in programs udev runtime development ecusim; do
  cmake --install "$build" --component "$component" --prefix "$root/$component/usr" >/dev/null ||
    echo "$component|(cmake --install failed)"
  (cd "$root/$component" 2>/dev/null && find . ! -type d | sed 's|^\./||' | while read -r f; do
    if [ -L "$f" ]; then echo "$component|$f -> $(readlink "$f")"; else echo "$component|$f"; fi
  done)
done | sort)
if [ "$actual" != "$expected" ]; then
  bad "component files differ (< expected, > installed):"
  diff <(echo "$expected") <(echo "$actual") | grep '^[<>]'
fi

# Nothing installed outside the components (an install() rule without COMPONENT).
if cmake --install "$build" --component Unspecified --prefix "$root/unspecified" >/dev/null &&
   [ -n "$(find "$root/unspecified" ! -type d 2>/dev/null)" ]; then
  bad "files in no component: $(cd "$root/unspecified" && find . ! -type d | tr '\n' ' ')"
fi

lib=$root/runtime/usr/$libdir/libTrelink.so.1
soname=$(readelf -d "$lib" 2>/dev/null | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = libTrelink.so.1 ] || bad "libTrelink's SONAME is '$soname', not libTrelink.so.1"

# gzip -9n: no name, no time stamp (bytes 3 to 7 zero), maximum compression (byte 8 is 2).
for gz in $(cd "$root" && find . -name '*.gz'); do
  header=$(od -An -tx1 -N9 "$root/$gz" | tr -d ' \n')
  [ "$header" = 1f8b08000000000002 ] || bad "$gz is not compressed with gzip -9n (header $header)"
done

# The udev rule names the pair and the ECU's interface; its postinst applies it to plugged ECUs.
rule=$root/udev/usr/lib/udev/rules.d/70-flashdesk-ecu.rules
grep -q '^SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}=="1209", ATTR{idProduct}=="0001", ENV{ID_USB_INTERFACES}=="\*:ff0000:\*", MODE="0660", GROUP="plugdev"' "$rule" ||
  bad "the udev rule does not match 1209:0001 with interface ff0000: $(grep -v '^#' "$rule")"
postinst=$build/udev/postinst
[ -x "$postinst" ] && sh -n "$postinst" || bad "$postinst is not an executable shell script"
grep -q 'udevadm control --reload-rules' "$postinst" &&
  grep -q 'udevadm trigger --action=change --subsystem-match=usb --attr-match=idVendor=1209 --attr-match=idProduct=0001' "$postinst" ||
  bad "$postinst does not reload the rules and trigger 1209:0001"
exit $fail
