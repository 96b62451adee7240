# Steps of the guest (sourced by /init, scripts/vm/guest-init.sh) on a real CAN controller and
# on real serial drivers: two SJA1000 controllers (kvaser_pci) on one emulated CAN bus, can0
# the host's adapter and can1 the ECU's; the ECU on a 16550 UART (ttyS1), the host on an FTDI
# USB-serial adapter (ttyUSB0), the two joined by a line.
#
# QEMU's CAN bus carries every frame at once: it models no bit timing, no acknowledgement and
# no error states. So the bit rate is checked as the kernel set it up on both controllers, a
# silent ECU is met by the answer deadline, and a bus-off report is the error frame a
# controller driver sends, put on vcan0. QEMU's UART and adapter likewise ignore the line
# speed: the settings are read with stty on both ends.

CERT=/work/packages/RootCertificate_tcert.der
IP=/bin/ip   # iproute2's by its path: the shell prefers its own applet, which knows no CAN

# The controllers at their bit rates, up, each with a queue that holds a whole packet's 586
# frames (the default 10 has the sender retry most of them).
can_setup() {
	$IP link set can0 type can bitrate "$CAN_BITRATE" && $IP link set can0 txqueuelen 1000 up ||
		say "cannot start can0"
	$IP link set can1 type can bitrate "$CAN_BITRATE_ECU" && $IP link set can1 txqueuelen 1000 up ||
		say "cannot start can1"
}

counter() { cat "/sys/class/net/$1/statistics/$2"; }
# at_least_counter IFACE COUNTER N
at_least_counter() { [ "$(counter "$1" "$2")" -ge "$3" ]; }
# seconds since T0 (an uptime), whole
since() { awk -v a="$1" -v b="$(up)" 'BEGIN { printf "%d", b - a }'; }

# Both controllers at the bit rate, error-active.
can_controllers_ready() {
	_ok=0
	for _c in can0 can1; do
		$IP -details link show "$_c" > "/tmp/$_c.link"
		grep -E -o "can state [A-Z-]+|bitrate [0-9]+ sample-point [0-9.]+" "/tmp/$_c.link" | tr '\n' ' ' |
			sed "s/^/$_c: /"; echo
		grep -q "can state ERROR-ACTIVE" "/tmp/$_c.link" && grep -q "bitrate $CAN_BITRATE " "/tmp/$_c.link" ||
			{ say "$_c is not error-active at $CAN_BITRATE bit/s"; _ok=1; }
	done
	return $_ok
}

# ecusim on the ECU's controller with the 1 MB log file (and further options); K is its pid.
can_ecu_start() {
	# A line left by the last one would be taken for this one's before it is listening.
	rm -f /tmp/kcan.log
	ecusim can --if can1 --mode app --serial "$S1" --log-file /work/big.bin "$@" > /tmp/kcan.log 2>&1 &
	K=$!
	wait_for 10 grep -q "CAN interface" /tmp/kcan.log || { cat /tmp/kcan.log; return 1; }
}
can_ecu_stop() { kill "$K" 2>/dev/null; wait "$K" 2>/dev/null; }

# flashdesk on the host's controller, at most S seconds: can_flashdesk S ARGS...
can_flashdesk() {
	_limit=$1; shift
	TRELINK_CAN_IF=can0 timeout "$_limit" flashdesk --link usb-can "$@"
}

# ecu info, GET_TARGET_VERSION and a 1 MB log file through the controllers; the rate against
# what a 500 kbit/s bus can carry.
can_controller() {
	can_controllers_ready || return 1
	can_ecu_start || return 1
	_ok=0
	if can_flashdesk 60 ecu info > /tmp/kinfo.log 2>&1 &&
		grep -q "transferstructs_version: 95" /tmp/kinfo.log && grep -q "serial_number: $S1" /tmp/kinfo.log; then
		_f0=$(( $(counter can0 tx_packets) + $(counter can1 tx_packets) ))
		_t0=$(up)
		can_flashdesk 150 logs get 0 /tmp/kbig.out > /tmp/klogs.log 2>&1 &&
			cmp /work/big.bin /tmp/kbig.out && _ok=1
		_t1=$(up)
		_f1=$(( $(counter can0 tx_packets) + $(counter can1 tx_packets) ))
	fi
	cat /tmp/kinfo.log; tail -n 2 /tmp/klogs.log
	can_ecu_stop
	[ $_ok = 1 ] || return 1
	# An extended frame with 8 data bytes is at least 131 bits on the bus (no stuffing bits,
	# 3 bits of interframe space): 500 kbit/s carries at most 3817 of them a second.
	awk -v b="$(stat -c %s /work/big.bin)" -v t="$(awk -v a="$_t0" -v z="$_t1" 'BEGIN{print z - a}')" \
		-v f="$((_f1 - _f0))" -v r="$CAN_BITRATE" 'BEGIN {
		need = f * 131 / r
		printf "can-rate: %d bytes of log file in %.1f s through kvaser_pci (%.1f kB/s, %d frames); "\
			"a %d bit/s bus needs at least %.1f s for those frames (%.1f kB/s): the emulated bus ran at %.2f times that limit\n",
			b, t, b / t / 1000, f, r, need, b / need / 1000, need / t }' | tee /tmp/krate.log
	sed 's/^/VMTEST /' /tmp/krate.log
}

# The link's segmentation against the kernel's ISO-TP on the controllers.
can_isotp() {
	isotp_peer can1 60 > /tmp/kisotp.log 2>&1 &
	_p=$!
	wait_for 10 grep -q listening /tmp/kisotp.log || return 1
	TRELINK_CAN_IF=can0 timeout 60 trelink_probe usbcan-largest; _rc=$?
	wait $_p; _prc=$?
	cat /tmp/kisotp.log
	[ $_rc = 0 ] && [ $_prc = 0 ]
}

# A bus-off report while the host waits for an answer nobody gives, with no answer deadline:
# the exchange ends at once and the library's message names the state.
can_busoff() {
	_tx=$(counter vcan0 tx_packets)
	TRELINK_CAN_IF=vcan0 timeout 30 link_client usb-can version > /tmp/busoff.log 2>&1 &
	_p=$!
	wait_for 10 at_least_counter vcan0 tx_packets $((_tx + 1)) || { kill $_p; return 1; }
	_t0=$(up)
	cansend vcan0 20000040#0000000000000000   # CAN_ERR_FLAG | CAN_ERR_BUSOFF
	wait $_p; _rc=$?
	cat /tmp/busoff.log
	say "can-busoff: exit $_rc after $(since "$_t0") s"
	[ $_rc = 1 ] && [ "$(since "$_t0")" -le 5 ] &&
		grep -q "ERROR!: UsbCanSystecSendCommandReceiveResponse: the CAN controller is bus-off" /tmp/busoff.log
}

# cut_log_download LOG ARGS...: a 1 MB log download whose ECU controller goes down once 3000
# frames (20 KB) have crossed; the download's end is awaited by the caller (pid D, start T0).
cut_log_download() {
	_log=$1; shift
	_tx=$(counter can1 tx_packets)
	can_flashdesk 100 "$@" logs get 0 /tmp/cut.out > "$_log" 2>&1 &
	D=$!
	wait_for 60 at_least_counter can1 tx_packets $((_tx + 3000)) || return 1
	$IP link set can1 down
	T0=$(up)
}

# cut_ended LOG SECONDS: the download failed with the answer deadline's text within the bound
cut_ended() {
	wait $D; _rc=$?
	_took=$(since "$T0")
	tail -n 3 "$1"
	say "can-fault: --answer-timeout $2: exit $_rc, $_took s after the ECU's controller went down"
	[ $_rc != 0 ] && [ $_rc != 124 ] && [ "$_took" -le $(($2 + 10)) ] &&
		grep -q "No answer from the ECU within $2 s." "$1" && ! grep -q "File Saved\|serial_number" "$1"
}

# After the ECU's controller is up again the next command succeeds.
can_back() {
	$IP link set can1 up
	can_flashdesk 60 ecu info > /tmp/kback.log 2>&1; _rc=$?
	grep serial_number /tmp/kback.log
	[ $_rc = 0 ] && grep -q "serial_number: $S1" /tmp/kback.log
}

# The ECU's controller goes down mid-transfer, with --answer-timeout 3.
can_fault() {
	can_ecu_start || return 1
	_ok=0
	cut_log_download /tmp/cut3.log --answer-timeout 3 && cut_ended /tmp/cut3.log 3 && can_back && _ok=1
	can_ecu_stop
	[ $_ok = 1 ]
}

# The same without --answer-timeout: flashdesk's own 60 s bound for each answer. A download's
# failure is followed by two more commands that each wait that long, so the cut comes in
# `ecu info`, whose first failure ends it: while the ECU holds back its answer to
# GET_SYSTEM_DESCRIPTOR for 3 s. It waits for a minute, so it runs in the background while the
# USB steps run (start_async) and is joined before the other CAN steps.
can_fault_default() {
	can_ecu_start --faults "code=75:delay=3000" || return 1
	_ok=0
	_tx=$(counter can0 tx_packets)
	can_flashdesk 100 ecu info > /tmp/cut60.log 2>&1 &
	D=$!
	# GET_TARGET_VERSION's 2 frames and flow control, GET_SYSTEM_DESCRIPTOR's 2 frames
	if wait_for 30 at_least_counter can0 tx_packets $((_tx + 5)); then
		$IP link set can1 down
		T0=$(up)
		cut_ended /tmp/cut60.log 60 && can_back && _ok=1
	fi
	can_ecu_stop
	[ $_ok = 1 ]
}

# start_async NAME: the step's function from now on in the background, if the step is chosen
start_async() {
	case " $STEPS " in *" $1 "*) ;; *) return 0 ;; esac
	( if "$1" > "/tmp/async-$1.log" 2>&1; then exit 0; else exit 1; fi ) &
	eval "ASYNC_$1=$!"
}
# join_async NAME: its output and its result
join_async() {
	eval "_pid=\$ASYNC_$1"
	[ -n "$_pid" ] || { say "$1 was not started"; return 1; }
	wait "$_pid"; _rc=$?
	cat "/tmp/async-$1.log"
	return $_rc
}

# stty_ok DEVICE: 57600 bit/s, 8 data bits, no parity, one stop bit, no handshake
stty_ok() {
	_s=$(stty -F "$1" -a 2>/dev/null) || return 1
	echo "$1: $(echo "$_s" | grep -o -E 'speed [0-9]+ baud|-?(parenb|cstopb|crtscts|ixon|ixoff)|cs[5-8]' | tr '\n' ' ')"
	for _want in "speed 57600 baud" cs8 -parenb -cstopb -crtscts -ixon -ixoff; do
		echo "$_s" | grep -q -- "$_want" || return 1
	done
}

# serial_ecu_start LOGFILE [--host-order]: ecusim on the UART; E is its pid
serial_ecu_start() {
	_file=$1; shift
	rm -f /tmp/secu.log
	ecusim serial --device /dev/ttyS1 --mode app --serial "$S1" --log-file "$_file" "$@" > /tmp/secu.log 2>&1 &
	E=$!
	wait_for 10 grep -q "serial line on" /tmp/secu.log || { cat /tmp/secu.log; return 1; }
	[ -z "$UART_BREAK" ] || stty -F /dev/ttyS1 "$UART_BREAK"
}
serial_ecu_stop() { kill "$E" 2>/dev/null; wait "$E" 2>/dev/null; }

# serial_session wcsc|com: GET_TARGET_VERSION, the certificate check and a 64 KiB log file
# over the FTDI adapter and the UART, the line settings read on both ends while the port is open.
serial_session() {
	[ -c /dev/ttyUSB0 ] && [ -c /dev/ttyS1 ] || { say "no /dev/ttyUSB0 or /dev/ttyS1"; return 1; }
	# The WCSC link reads the answer to its connection request 20 ms after it, once: the
	# adapter hands bytes on after 1 ms instead of its default 16.
	echo 1 > /sys/bus/usb-serial/devices/ttyUSB0/latency_timer
	_order=""
	[ "$1" = com ] && _order=--host-order   # that link accepts only an ECU in host byte order
	serial_ecu_start /work/log64k.bin $_order || return 1
	rm -f /tmp/hold /tmp/ser.out /tmp/ser.log && mkfifo /tmp/hold
	TRELINK_COM1=/dev/ttyUSB0 timeout 120 link_client "$1" session "$CERT" /tmp/ser.out < /tmp/hold > /tmp/ser.log 2>&1 &
	_p=$!
	exec 3> /tmp/hold
	_lines=1
	if wait_for 60 sh -c "grep -q 'link open' /tmp/ser.log || ! kill -0 $_p 2>/dev/null"; then
		stty_ok /dev/ttyUSB0 && stty_ok /dev/ttyS1 && _lines=0
	fi
	echo >&3 2>/dev/null; exec 3>&-
	wait $_p; _rc=$?
	cat /tmp/ser.log
	serial_ecu_stop
	[ $_lines = 0 ] || say "serial-$1: the line settings are not 57600 bit/s 8N1 without handshake on both ends"
	[ $_rc = 0 ] && [ $_lines = 0 ] && grep -q "transferstructs_version 95" /tmp/ser.log &&
		grep -q "serial number $S1" /tmp/ser.log && cmp /work/log64k.bin /tmp/ser.out
}
serial_wcsc() { serial_session wcsc; }
serial_com() { serial_session com; }

# client_read PID N: the process has read N bytes (its own reads, the line's included)
client_read() {
	while read -r _k _v; do
		[ "$_k" = rchar: ] && { [ "$_v" -ge "$2" ]; return; }
	done < "/proc/$1/io"
	return 1
}

# The adapter unplugged (QEMU's device_del) in the middle of a 1 MB log download over the WCSC
# link, which waits without limit for the ECU's bytes: the download ends with a failure text,
# and a later open of COM1 fails with the link's message.
serial_unplug() {
	serial_ecu_start /work/big.bin || return 1
	TRELINK_COM1=/dev/ttyUSB0 timeout 120 link_client wcsc session "$CERT" /tmp/unplug.out < /dev/null > /tmp/unplug.log 2>&1 &
	_p=$!
	# once 64 KiB have come through the adapter
	wait_for 60 client_read $_p 65536 || { say "the download did not start"; kill $_p; return 1; }
	say "host: device_del ftdi"
	_t0=$(up)
	wait_for 20 test ! -e /dev/ttyUSB0 || say "/dev/ttyUSB0 is still there"
	wait $_p; _rc=$?
	_took=$(since "$_t0")
	tail -n 4 /tmp/unplug.log
	serial_ecu_stop
	say "serial-unplug: exit $_rc, $_took s after the unplug"
	[ $_rc != 0 ] && [ $_rc != 124 ] && [ "$_took" -le 10 ] && grep -q "^ERROR!: " /tmp/unplug.log &&
		! grep -q "File Saved" /tmp/unplug.log || return 1
	TRELINK_COM1=/dev/ttyUSB0 timeout 30 link_client wcsc session "$CERT" /tmp/unplug2.out < /dev/null > /tmp/reopen.log 2>&1; _rc=$?
	cat /tmp/reopen.log
	[ $_rc = 1 ] && grep -q "ERROR!:   SerialInitializeInterfaces SerialInitializeComport CR failed WCSC_status = " /tmp/reopen.log
}
