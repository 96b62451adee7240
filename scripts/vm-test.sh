#!/usr/bin/env bash
# The product on real kernel devices, in a virtual machine: Debian's 6.1 kernel under QEMU (no
# KVM needed) gives a software USB host and device pair (dummy_hcd) for `ecusim gadget`
# (configfs + FunctionFS), vcan0 and CAN_ISOTP, two SJA1000 CAN controllers (kvaser_pci) on
# one emulated CAN bus, a 16550 UART (8250) and an FTDI USB-serial adapter (ftdi_sio on a
# guest xHCI controller) joined by a QEMU character device. Every step runs through flashdesk,
# libTrelink.so or the link client with TRELINK_USB_IDS (libusb, libusb hot-plug),
# TRELINK_CAN_IF (SocketCAN) or TRELINK_COM1 (termios); the steps are in
# scripts/vm/guest-init.sh. The guest asks for QEMU monitor commands (the adapter's unplug) by
# printing "VMTEST host: COMMAND" on its console.
#
# The kernel, udev, iproute2 and can-utils packages are fetched with `apt-get download` into
# build/vm-cache and unpacked there, never installed on this machine. A missing package,
# kernel feature or step is a failure. Exit status 0 only when every step passed.
#
#   VM_QEMU_TIMEOUT=s   hard limit for the guest (default 420: room for a loaded machine)
#   VM_KEEP=1           keep build/vm-work (initramfs, console log) after a pass
#   VM_STEPS="a b"      run only these steps (names as in the summary line)
#   VM_RATIO_PAIRS=n    interleaved pairs of the whole-update ratio (default 7)
#   VM_BREAK=WHAT       break a link on purpose, to see its step fail: can-bitrate (the ECU's
#                       CAN controller at 250 kbit/s), serial-bitrate (the ECU's UART at
#                       115200 bit/s)
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
root=$(pwd)
t_start=$SECONDS
log() { echo "vm-test [+$((SECONDS - t_start))s] $*"; }
die() { echo "vm-test: FAIL: $*" >&2; exit 1; }

cache=$root/build/vm-cache
work=$root/build/vm-work
qemu_timeout=${VM_QEMU_TIMEOUT:-420}
apt_timeout=600
serial1=0A0B0C0D serial2=5E6F7081
usb_id=1209:0001
fault_steps="1 2 3 5 8 20 40"
ratio_pairs=${VM_RATIO_PAIRS:-7}
modules="dummy_hcd libcomposite usb_f_fs vcan can-raw can-isotp kvaser_pci xhci-pci ftdi_sio"
can_bitrate=500000
all_steps="usb_update replay device_choice access hotplug powerseq faults usb_break usbcan isotp usb_update_ratio
	can_fault_default can_controller can_isotp can_busoff can_fault serial_wcsc serial_com serial_unplug"
steps=${VM_STEPS:-$all_steps}
case "${VM_BREAK:-}" in "" | can-bitrate | serial-bitrate) ;; *) die "VM_BREAK: can-bitrate or serial-bitrate" ;; esac

# ---------------------------------------------------------------- host packages and build
scripts/install-deps.sh
if [ ! -f build/CMakeCache.txt ]; then cmake --preset default >/dev/null; fi
cmake --build build -j "$(nproc)" --target flashdesk ecusim Trelink isotp_peer trelink_probe link_client usb_replay usb_record
log "built flashdesk, ecusim, libTrelink.so, the probes, the link client and the USB replay"

# ---------------------------------------------------------------- kernel and udev, cached
mkdir -p "$cache/debs"
# candidate PACKAGE: the version apt would take (after one apt-get update when it knows none)
candidate() {
	local v
	v=$(apt-cache policy "$1" 2>/dev/null | awk '/Candidate:/{print $2}')
	if [ -z "$v" ] || [ "$v" = "(none)" ]; then
		timeout $apt_timeout apt-get update -qq >&2 || true
		v=$(apt-cache policy "$1" 2>/dev/null | awk '/Candidate:/{print $2}')
	fi
	[ -n "$v" ] && [ "$v" != "(none)" ] || return 1
	echo "$v"
}
# fetch PACKAGE: its .deb in the cache, downloaded when missing; prints the path
fetch() {
	local v f
	v=$(candidate "$1") || die "no package $1 in the archive"
	f=$cache/debs/$1_${v//:/%3a}_amd64.deb
	if [ ! -s "$f" ]; then
		(cd "$cache/debs" && timeout $apt_timeout apt-get download -qq -o APT::Sandbox::User=root "$1=$v" >&2) ||
			die "apt-get download $1=$v failed"
	fi
	[ -s "$f" ] || die "download of $1 left no $f"
	echo "$f"
}

candidate linux-image-amd64 >/dev/null || die "no linux-image-amd64 in the archive"
kpkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/{print $2; exit}')
[ -n "$kpkg" ] || die "cannot tell which kernel linux-image-amd64 stands for"
kdir=$cache/$kpkg
if [ ! -s "$kdir/vmlinux" ] || [ ! -s "$kdir/modules.list" ] || [ "$(cat "$kdir/modules.wanted" 2>/dev/null)" != "$modules" ]; then
	kdeb=$(fetch "$kpkg")
	log "unpacking $(basename "$kdeb")"
	rm -rf "$kdir" "$cache/kroot"
	mkdir -p "$kdir/modules" "$cache/kroot"
	dpkg-deb -x "$kdeb" "$cache/kroot"
	kver=$(ls "$cache/kroot/lib/modules")
	case "$kver" in 6.1.*) ;; *) die "expected a 6.1 kernel, $kpkg has $kver" ;; esac
	depmod -b "$cache/kroot" "$kver"   # the package ships no modules.dep
	# the modules and what they need, in load order
	for m in $modules; do
		modprobe -d "$cache/kroot" -S "$kver" --show-depends "$m" > "$cache/kroot/deps" 2>/dev/null ||
			die "kernel $kver has no module $m"
		awk '$1 == "insmod" {print $2}' "$cache/kroot/deps"
	done | awk '!seen[$0]++' > "$cache/kroot/order"
	while read -r ko; do
		n=$(basename "$ko" .ko)
		cp "$ko" "$kdir/modules/$n.ko"
		echo "$n" >> "$kdir/modules.list.tmp"
	done < "$cache/kroot/order"
	# Decompressing the bzImage inside the guest takes seconds under TCG: boot the vmlinux ELF
	# through its PVH entry instead.
	bz=$cache/kroot/boot/vmlinuz-$kver
	off=$(grep -obUaP '\xfd7zXZ\x00' "$bz" | head -n 1 | cut -d: -f1)
	[ -n "$off" ] || die "no xz payload in $bz"
	tail -c +$((off + 1)) "$bz" | xz -dc --single-stream > "$kdir/vmlinux" 2>/dev/null || true
	readelf -n "$kdir/vmlinux" | grep -q 'Xen.*0x00000012' || die "the unpacked vmlinux has no PVH entry"
	echo "$kver" > "$kdir/version"
	echo "$modules" > "$kdir/modules.wanted"
	mv "$kdir/modules.list.tmp" "$kdir/modules.list"
	rm -rf "$cache/kroot"
fi
kver=$(cat "$kdir/version")

# unpacked PACKAGE PROGRAM: the package unpacked in the cache (once); prints the folder, which
# must hold PROGRAM
unpacked() {
	local deb dir
	deb=$(fetch "$1")
	dir=$cache/$(basename "$deb" .deb)
	if [ ! -x "$dir/$2" ]; then
		rm -rf "$dir" && mkdir -p "$dir"
		dpkg-deb -x "$deb" "$dir"
	fi
	[ -x "$dir/$2" ] || die "no $2 in $(basename "$deb")"
	echo "$dir"
}
udir=$(unpacked udev bin/udevadm)
ipdir=$(unpacked iproute2 bin/ip)
cudir=$(unpacked can-utils usr/bin/cansend)
log "kernel $kpkg ($kver), $(basename "$udir"), $(basename "$ipdir"), $(basename "$cudir")"

# ---------------------------------------------------------------- initramfs
rm -rf "$work"
r=$work/root
mkdir -p "$r"/{bin,sbin,etc,proc,sys,dev,tmp,run,lib/modules,lib/systemd,work}
[ -x /bin/busybox ] || die "no /bin/busybox (busybox-static)"
cp /bin/busybox "$r/bin/"
for a in $(/bin/busybox --list); do [ -e "$r/bin/$a" ] || ln -s busybox "$r/bin/$a"; done
# with the shared libraries ldd names, at the same paths
copy_with_libs() {
	rm -f "$r/bin/$(basename "$1")"   # busybox's applet link of the same name
	cp "$1" "$r/bin/"
	strip --strip-debug "$r/bin/$(basename "$1")"   # a smaller initramfs boots sooner
	if ldd "$1" | grep -q 'not found'; then die "$1 has unresolved libraries"; fi
	for lib in $(ldd "$1" | grep -o '/[^ ]*'); do
		mkdir -p "$r$(dirname "$lib")"
		cp -L "$lib" "$r$lib"
	done
}
for b in build/app/flashdesk build/ecusim/ecusim build/tests/vm/isotp_peer build/tests/vm/trelink_probe \
	build/tests/vm/link_client build/tests/vm/usb_replay "$udir/bin/udevadm" "$ipdir/bin/ip" "$cudir/usr/bin/cansend" "$cudir/usr/bin/candump"; do
	copy_with_libs "$b"
done
cp build/tests/vm/libusb_record.so "$r/lib/usb_record.so"
ln -sf /bin/udevadm "$r/lib/systemd/systemd-udevd"
cp "$kdir"/modules/*.ko "$r/lib/modules/"
cp "$kdir/modules.list" "$r/etc/vm-modules"
mkdir -p "$r/etc/udev/rules.d" "$r/lib/udev/rules.d"
cp "$udir/etc/udev/udev.conf" "$r/etc/udev/"
cp "$udir/lib/udev/rules.d/50-udev-default.rules" "$r/lib/udev/rules.d/"
# the product's rule, as `cmake --install` puts it, and the flashdesk package's postinst: the
# guest installs them while an ECU is plugged in (step access)
cmake --install build --prefix "$work/install" --component udev >/dev/null
mkdir -p "$r/work/udev"
cp "$work/install/lib/udev/rules.d/70-flashdesk-ecu.rules" build/udev/postinst "$r/work/udev/"
grep -qi "ATTR{idVendor}==\"${usb_id%:*}\"" "$r/work/udev/70-flashdesk-ecu.rules" ||
	die "the installed udev rule does not name $usb_id (FLASHDESK_USB_IDS)"
printf 'root:x:0:0:root:/:/bin/sh\ntechnician:x:1000:1000:technician:/tmp:/bin/sh\n' > "$r/etc/passwd"
printf 'root:x:0:\nplugdev:x:46:technician\ntechnician:x:1000:\n' > "$r/etc/group"
cat > "$r/etc/vm-test.conf" <<EOF
S1=$serial1
S2=$serial2
USB_ID=$usb_id
WATCHDOG_S=$((qemu_timeout - 20))
FAULT_STEPS="$fault_steps"
RATIO_PAIRS=$ratio_pairs
STEPS="$(echo $steps)"
CAN_BITRATE=$can_bitrate
CAN_BITRATE_ECU=$([ "${VM_BREAK:-}" = can-bitrate ] && echo 250000 || echo $can_bitrate)
UART_BREAK=$([ "${VM_BREAK:-}" = serial-bitrate ] && echo 115200)
EOF
build/ecusim/ecusim make-packages --serial "$serial1" --out "$r/work/packages" >/dev/null
build/ecusim/ecusim make-packages --serial "$serial2" --out "$r/work/packages" >/dev/null
# 1 MB of images for the whole-update ratio
build/ecusim/ecusim make-packages --serial "$serial1" --out "$r/work/packages-1m" --image-kib 512,256,128,128 >/dev/null
head -c 1048576 /dev/urandom > "$r/work/big.bin"
head -c 65536 /dev/urandom > "$r/work/log64k.bin"
cp scripts/vm/guest-init.sh "$r/init"
cp scripts/vm/link-steps.sh "$r/etc/vm-link-steps.sh"
chmod 755 "$r/init"
# pack STEPS: the initramfs, its guest running these steps
pack() {
	sed -i "s/^STEPS=.*/STEPS=\"$1\"/" "$r/etc/vm-test.conf"
	(cd "$r" && find . -print0 | sort -z | cpio --null -o -H newc --owner=0:0 --quiet) > "$work/initramfs.cpio"
}
pack "$(echo $steps)"
log "initramfs $(($(stat -c %s "$work/initramfs.cpio") / 1024)) KiB"

# ---------------------------------------------------------------- boot
console=$work/console.log
# The devices beside the console: two CAN controllers on one bus (can0 the host's, can1 the
# ECU's); a UART (ttyS1, the ECU's) and an FTDI adapter (ttyUSB0, the host's) joined through a
# socket that QEMU both listens on and connects to; the monitor on two FIFOs.
devices=(
	-object can-bus,id=canbus0 -device kvaser_pci,canbus=canbus0 -device kvaser_pci,canbus=canbus0
	-chardev socket,id=uart,path="$work/line.sock",server=on,wait=off -device isa-serial,chardev=uart,index=1
	-chardev socket,id=adapter,path="$work/line.sock" -device qemu-xhci,id=xhci
	-device usb-serial,id=ftdi,bus=xhci.0,chardev=adapter
	-chardev pipe,id=monitor,path="$work/monitor" -mon chardev=monitor,mode=readline
)
# Hands the guest's "VMTEST host: COMMAND" lines to the monitor.
to_monitor() {
	local line
	while IFS= read -r line; do
		case "$line" in "VMTEST host: device_del "*) echo "${line#VMTEST host: }" > "$work/monitor.in" ;; esac
	done
}
# boot CONSOLE: the guest as packed, its console into CONSOLE; its exit status in qemu_rc
boot() {
	rm -f "$work/monitor.in" "$work/monitor.out"
	mkfifo "$work/monitor.in" "$work/monitor.out"
	cat "$work/monitor.out" >> "$work/monitor.log" &
	local monitor_reader=$!
	log "booting the guest (TCG, one CPU, time-out ${qemu_timeout}s)"
	set +e
	timeout --kill-after=10 "$qemu_timeout" \
		qemu-system-x86_64 -accel tcg -M pc -cpu max -smp 1 -m 768M \
		-nodefaults -no-user-config -display none -serial stdio -no-reboot "${devices[@]}" \
		-kernel "$kdir/vmlinux" -initrd "$work/initramfs.cpio" \
		-append "console=ttyS0 quiet panic=-1" </dev/null 2>&1 | sed -u 's/\r$//' | tee "$1" >(to_monitor)
	qemu_rc=${PIPESTATUS[0]}
	set -e
	kill "$monitor_reader" 2>/dev/null || true
}
# step_result STEP: PASS or FAIL as the guests' consoles last said, nothing when none did
step_result() {
	cat "$work"/console*.log 2>/dev/null | sed -n "s/^VMTEST step $1 \(PASS\|FAIL\) .*/\1/p" | tail -n 1
}
boot "$console"
# QEMU 7.2 itself now and then dies of a signal (seen once: a segmentation fault on the monitor's
# device_del of the FTDI adapter). The steps that got no result then run again in a new guest,
# once; a time-out (124, 137) or a guest that failed a step is never run again.
if [ "$qemu_rc" -gt 128 ] && [ "$qemu_rc" != 137 ]; then
	missing=""
	for s in $steps; do [ -n "$(step_result "$s")" ] || missing="$missing $s"; done
	if [ -n "$missing" ]; then
		log "QEMU died of signal $((qemu_rc - 128)); the steps without a result run again in a new guest:$missing"
		pack "${missing# }"
		boot "$work/console-again.log"
	fi
fi

# ---------------------------------------------------------------- summary
status=PASS
[ "$qemu_rc" = 0 ] || status=FAIL
result=""
for s in $steps; do
	r=$(step_result "$s")
	result="$result $s=${r:-NONE}"
	[ "$r" = PASS ] || status=FAIL
done
ratio=$(cat "$work"/console*.log | grep -m 1 '^usb-update-ratio:' | sed 's/^usb-update-ratio: //' || true)
echo "vm-test: $status$result qemu_rc=$qemu_rc wall=$((SECONDS - t_start))s${ratio:+ ($ratio)}"
cat "$work"/console*.log | grep -m 1 'can-rate:' | sed 's/^/vm-test: /' || true
if [ "$status" = PASS ] && [ "${VM_KEEP:-0}" != 1 ]; then rm -rf "$work"; fi
[ "$status" = PASS ]
