#!/bin/sh
# /init of the virtual machine that scripts/vm-test.sh boots: loads the modules, starts udevd,
# and runs every step through flashdesk, ecusim and libTrelink.so on real kernel devices
# (a dummy_hcd USB gadget, vcan0, CAN_ISOTP, two SJA1000 CAN controllers on one bus, a 16550
# UART and an FTDI USB-serial adapter joined by a line). Prints "VMTEST step NAME PASS|FAIL"
# per step and one "VMTEST RESULT" line, then powers off; "VMTEST host: COMMAND" asks the host
# for a QEMU monitor command.
export PATH=/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp /run
say() { echo "VMTEST $*"; }
up() { cut -d' ' -f1 /proc/uptime; }
. /etc/vm-test.conf   # S1 S2 USB_ID WATCHDOG_S FAULT_STEPS STEPS CAN_BITRATE CAN_BITRATE_ECU UART_BREAK RATIO_PAIRS
say "init guest_uptime=$(up)"

# Last resort: the host wraps QEMU in a time-out as well.
( sleep "$WATCHDOG_S"; say "watchdog fired after $WATCHDOG_S s"; dmesg | tail -n 30; poweroff -f ) &

for m in $(cat /etc/vm-modules); do
	insmod "/lib/modules/$m.ko" || say "insmod failed: $m"
done

# udevd re-broadcasts the kernel's events; libusb's hot-plug listens to those.
echo > /sys/kernel/uevent_helper 2>/dev/null
SYSTEMD_LOG_TARGET=kmsg /lib/systemd/systemd-udevd --daemon --resolve-names=early
timeout 30 udevadm control --ping -t 20 || say "udevd did not answer"
mount -t configfs none /sys/kernel/config 2>/dev/null
ip link add dev vcan0 type vcan && ip link set vcan0 up
. /etc/vm-link-steps.sh
can_setup

export TRELINK_DEVICE_DIR=/tmp/registry   # no virtual devices: only the real one is found
export TRELINK_USB_IDS=$USB_ID
export TRELINK_CAN_IF=vcan0
PK=/work/packages
RESULTS=""
G=""   # pid of the running ecusim gadget

# wait_for SECONDS COMMAND...: until the command succeeds
wait_for() {
	_n=$(( $1 * 10 )); shift
	while [ $_n -gt 0 ]; do
		"$@" && return 0
		usleep 100000; _n=$((_n - 1))
	done
	return 1
}
# Whether a USB device of ours with this serial number is enumerated ("" = any of ours)
usb_present() {
	for d in /sys/bus/usb/devices/*; do
		[ "$(cat "$d/idVendor" 2>/dev/null):$(cat "$d/idProduct" 2>/dev/null)" = "$USB_ID" ] || continue
		[ -z "$1" ] || [ "$(cat "$d/serial" 2>/dev/null)" = "$1" ] || continue
		return 0
	done
	return 1
}
usb_absent() { ! usb_present ""; }
count() { grep -c "$2" "$1" 2>/dev/null || true; }
at_least() { [ "$(count "$1" "$2")" -ge "$3" ]; }

# gadget_start NAME SERIAL ARGS...: ecusim gadget, bound and enumerated
gadget_start() {
	_name=$1 _serial=$2; shift 2
	rm -f "/tmp/$_name.log"
	ecusim gadget --name "$_name" --serial "$_serial" "$@" > "/tmp/$_name.log" 2>&1 &
	G=$!
	wait_for 20 grep -q "plugged in" "/tmp/$_name.log" && wait_for 20 usb_present "$_serial" && return 0
	say "gadget $_name did not come up:"; cat "/tmp/$_name.log"
	return 1
}
gadget_stop() {
	[ -n "$G" ] || return 0
	kill "$G" 2>/dev/null; wait "$G" 2>/dev/null; G=""
	wait_for 10 usb_absent
}

step() {
	_step=$1; shift
	case " $STEPS " in *" $_step "*) ;; *) return 0 ;; esac
	_t0=$(up)
	if "$@"; then _r=PASS; else _r=FAIL; fi
	gadget_stop
	say "step $_step $_r ($(up) - $_t0 s)"
	RESULTS="$RESULTS $_step=$_r"
}

# flashdesk ecu info and update --once against the gadget; every block arrived.
usb_update() {
	gadget_start ecu1 "$S1" --mode boot --state /tmp/s1.json || return 1
	cd "$PK"
	timeout 60 flashdesk ecu info > /tmp/info.log 2>&1; _rc=$?
	cat /tmp/info.log
	[ $_rc = 0 ] && grep -q "serial_number: $S1" /tmp/info.log || return 1
	timeout 120 flashdesk update --folder . --once --capture /tmp/update.pcapng > /tmp/update.log 2>&1; _rc=$?
	grep -E '^(main|progress):' /tmp/update.log | tail -n 3
	cd /
	gadget_stop
	[ $_rc = 0 ] && ecusim check-update --serial "$S1" --state /tmp/s1.json
}

# usb_update's capture (taken over libusb) replayed by `ecusim replay --gadget`: the same update
# follows it exchange for exchange over the real USB link.
replay() {
	[ -f /tmp/update.pcapng ] || return 1
	ecusim replay /tmp/update.pcapng --gadget --name ecur --serial "$S1" > /tmp/ecur.log 2>&1 &
	G=$!
	wait_for 20 grep -q "plugged in" /tmp/ecur.log && wait_for 20 usb_present "$S1" || { cat /tmp/ecur.log; return 1; }
	cd "$PK"
	timeout 120 flashdesk update --folder . --once > /tmp/replayed.log 2>&1; _rc=$?
	cd /
	grep -E '^(main|progress):' /tmp/replayed.log | tail -n 2
	kill "$G"; wait "$G"; _src=$?; G=""
	wait_for 10 usb_absent
	tail -n 2 /tmp/ecur.log
	[ $_rc = 0 ] && [ $_src = 0 ] && grep -q " captured exchanges answered as captured" /tmp/ecur.log
}

# --device: the gadget by its USB serial number and by its bus-port path; another serial
# number names no device and is never answered by this one.
device_choice() {
	gadget_start ecu1 "$S1" --mode app || return 1
	timeout 60 flashdesk devices --probe > /tmp/devices.log 2>&1; _rc=$?
	cat /tmp/devices.log
	_port=$(sed -n 's/.*bus-port: \([0-9.-]*\).*/\1/p' /tmp/devices.log | head -n 1)
	[ $_rc = 0 ] && [ -n "$_port" ] && grep -q "serial: $S1  mode: app .*serial_number: $S1" /tmp/devices.log || return 1
	timeout 60 flashdesk ecu info --device "serial:$S1" | grep -q "serial_number: $S1" || return 1
	timeout 60 flashdesk ecu info --device "$_port" | grep -q "serial_number: $S1" || return 1
	timeout 60 flashdesk ecu info --device "serial:$S2" > /tmp/absent.log 2>&1; _rc=$?
	cat /tmp/absent.log
	[ $_rc = 1 ] && grep -q "No such device: serial:$S2 " /tmp/absent.log && ! grep -q serial_number /tmp/absent.log
}

# The flashdesk package arrives while the ECU is plugged in: before it, the technician (in
# plugdev) cannot open the ECU; its udev rule and postinst give the node to plugdev without a
# replug (the rule names the ECU's pair and its interface class), and the technician reads it.
access() {
	gadget_start ecu1 "$S1" --mode app || return 1
	_node=$(for d in /sys/bus/usb/devices/*; do
		[ "$(cat "$d/idVendor" 2>/dev/null):$(cat "$d/idProduct" 2>/dev/null)" = "$USB_ID" ] &&
			printf '/dev/bus/usb/%03d/%03d\n' "$(cat "$d/busnum")" "$(cat "$d/devnum")"
	done | head -n 1)
	ls -l "$_node"
	su -s /bin/sh technician -c "flashdesk ecu info" > /tmp/denied.log 2>&1 && {
		cat /tmp/denied.log; say "the technician opened the ECU before the udev rule was installed"; return 1; }
	cp /work/udev/70-flashdesk-ecu.rules /lib/udev/rules.d/
	/work/udev/postinst configure || { say "postinst configure failed"; return 1; }
	wait_for 10 test "$(stat -c %a:%G "$_node" 2>/dev/null)" = 660:plugdev
	ls -l "$_node"
	su -s /bin/sh technician -c "id; flashdesk ecu info" > /tmp/access.log 2>&1; _rc=$?
	cat /tmp/access.log
	[ "$(stat -c %a:%G "$_node")" = 660:plugdev ] && [ $_rc = 0 ] && grep -q "serial_number: $S1" /tmp/access.log
}

# flashdesk update without --once: an arrival, an update, a removal, and a second ECU.
hotplug() {
	cd "$PK"
	flashdesk update --folder . > /tmp/hotplug.log 2>&1 &
	_fd=$!
	cd /
	_ok=1
	wait_for 20 grep -q "Waiting for ECU connection" /tmp/hotplug.log || _ok=0
	[ $_ok = 1 ] && gadget_start ecu1 "$S1" --mode boot --state /tmp/h1.json || _ok=0
	[ $_ok = 1 ] && wait_for 90 at_least /tmp/hotplug.log "Update Success! (100%)" 1 || _ok=0
	# the ECU leaves: libusb hot-plug reports the removal, the dialog waits for the next one
	[ $_ok = 1 ] && ecusim unplug --name ecu1 && wait_for 10 usb_absent || _ok=0
	gadget_stop
	[ $_ok = 1 ] && gadget_start ecu2 "$S2" --mode boot --state /tmp/h2.json || _ok=0
	[ $_ok = 1 ] && wait_for 90 at_least /tmp/hotplug.log "Update Success! (100%)" 2 || _ok=0
	gadget_stop
	kill $_fd 2>/dev/null; wait $_fd 2>/dev/null
	grep -E '^(main|progress):' /tmp/hotplug.log | uniq | tail -n 12
	[ $_ok = 1 ] && ecusim check-update --serial "$S1" --state /tmp/h1.json &&
		ecusim check-update --serial "$S2" --state /tmp/h2.json
}

# The power sequence: the running ECU resets, the gadget leaves and comes back as a boot loader.
powerseq() {
	gadget_start ecu1 "$S1" --mode app --state /tmp/p.json || return 1
	cd "$PK"
	timeout 120 flashdesk powerseq "${S1}_firmware.pak" > /tmp/powerseq.log 2>&1; _rc=$?
	cd /
	tail -n 4 /tmp/powerseq.log
	[ $_rc = 0 ] && grep -q "successful" /tmp/powerseq.log
}

# The ECU swallows the second command; another thread breaks the link after a second, as the
# desktop program's Stop does: the waiting read ends with a failure status, within the bound.
usb_break() {
	gadget_start ecub "$S1" --mode app --faults "n=2:mute" || return 1
	timeout 30 link_client usb break > /tmp/break.log 2>&1; _rc=$?
	cat /tmp/break.log
	_ms=$(sed -n 's/.*unanswered GET_TARGET_VERSION: status [0-9a-f]* after \([0-9]*\) ms/\1/p' /tmp/break.log)
	[ $_rc = 0 ] && [ -n "$_ms" ] && [ "$_ms" -lt 10000 ]
}

# The device leaves before answering command k: a failure text, no success, no hang.
faults() {
	_all=1
	for k in $FAULT_STEPS; do
		gadget_start ecuf "$S1" --mode boot --faults "n=$k:unplug" || { _all=0; continue; }
		cd "$PK"
		timeout 60 flashdesk update --folder . --once > /tmp/fault.log 2>&1; _rc=$?
		cd /
		gadget_stop
		_last=$(grep '^main:' /tmp/fault.log | tail -n 1)
		if [ $_rc != 0 ] && [ $_rc != 124 ] && ! grep -q "Update Success" /tmp/fault.log &&
			grep -q "Update Failure\|Error\|Could not\|No ECU answered" /tmp/fault.log; then
			say "fault n=$k:unplug: exit $_rc, $_last"
		else
			say "fault n=$k:unplug: WRONG (exit $_rc): $_last"; _all=0
		fi
	done
	[ $_all = 1 ]
}

# The USB-CAN link over SocketCAN: GET_TARGET_VERSION and a 1 MB log file.
usbcan() {
	ecusim can --if vcan0 --mode app --serial "$S1" --log-file /work/big.bin > /tmp/can.log 2>&1 &
	_c=$!
	_ok=0
	if wait_for 10 grep -q "CAN interface" /tmp/can.log &&
		timeout 60 flashdesk --link usb-can ecu info > /tmp/caninfo.log 2>&1 &&
		grep -q "transferstructs_version: 95" /tmp/caninfo.log &&
		timeout 150 flashdesk --link usb-can logs get 0 /tmp/big.out > /tmp/canlogs.log 2>&1 &&
		cmp /work/big.bin /tmp/big.out; then
		_ok=1
	fi
	cat /tmp/caninfo.log; tail -n 2 /tmp/canlogs.log
	kill $_c; wait $_c 2>/dev/null
	[ $_ok = 1 ]
}

# The link's segmentation against the kernel's own ISO-TP.
isotp() {
	isotp_peer vcan0 60 > /tmp/isotp.log 2>&1 &
	_p=$!
	wait_for 10 grep -q listening /tmp/isotp.log || return 1
	timeout 60 trelink_probe usbcan-largest; _rc=$?
	wait $_p; _prc=$?
	cat /tmp/isotp.log
	[ $_rc = 0 ] && [ $_prc = 0 ]
}

# A whole update of 1 MB against raw libusb making the same transfers: usb_record.so records
# flashdesk's bulk transfers once, then usb_replay runs both as fresh processes in interleaved
# pairs and prints the ratio (reported with its target, not judged here).
usb_update_ratio() {
	gadget_start ecur "$S1" --mode boot || return 1
	say "usb_update_ratio: recording at $(up) s"
	cd /work/packages-1m
	LD_PRELOAD=/lib/usb_record.so USB_RECORD=/tmp/update.usbr timeout -s KILL 120 flashdesk update --folder . \
		--once > /tmp/ratio-record.log 2>&1; _rc=$?
	if [ $_rc != 0 ]; then tail -n 5 /tmp/ratio-record.log; cd /; return 1; fi
	say "usb_update_ratio: recorded at $(up) s"
	# Each pair's line shows on the console as it is measured.
	timeout $((RATIO_PAIRS * 120)) usb_replay --pairs "$RATIO_PAIRS" /tmp/update.usbr -- /bin/flashdesk update \
		--folder . --once 2>&1 | tee /tmp/ratio.log
	cd /
	grep -q '^usb-update-ratio: .* replaying its [1-9][0-9]* OUT and [1-9][0-9]* IN transfers' /tmp/ratio.log
}

start_async can_fault_default   # a minute's wait, beside the USB steps
step usb_update usb_update
step replay replay
step device_choice device_choice
step access access
step hotplug hotplug
step powerseq powerseq
step faults faults
step usb_break usb_break
step usbcan usbcan
step isotp isotp
step usb_update_ratio usb_update_ratio
step can_fault_default join_async can_fault_default
step can_controller can_controller
step can_isotp can_isotp
step can_busoff can_busoff
step can_fault can_fault
step serial_wcsc serial_wcsc
step serial_com serial_com
step serial_unplug serial_unplug

case "$RESULTS" in *FAIL*) dmesg | tail -n 25 ;; esac
say "RESULT$RESULTS guest_uptime=$(up)"
sync
poweroff -f
