// The capture (TRELINK_CAPTURE=FILE): every transfer of every link, exactly as it crossed the
// link, with its time and direction, into a pcapng file (platform/capture/pcapng.h): USB bulk
// transfers (announcement, headers, data), serial bytes, CAN frames. Each link records at the
// one place where it writes and reads its transfers; code that moves bytes elsewhere (a discard
// of stale packets) records them with the same call. Off, a record costs one load and one branch.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/can/can_adapter.h"

namespace qx::transfer::capture {

// One interface block each, written when the link first records.
enum class port : std::uint8_t { usb, usb_can, serial, simulator };
inline constexpr std::size_t port_count = 4;

enum class direction : std::uint8_t { to_ecu, from_ecu };

namespace detail {
extern std::atomic<bool> on;
void record(port p, direction d, const void* bytes, std::size_t size);
void record_can(direction d, const platform::can::can_message& m);
}  // namespace detail

// Whether a capture is open: for a link that must gather a transfer's bytes first.
inline bool on() { return detail::on.load(std::memory_order_relaxed); }

inline void record(port p, direction d, const void* bytes, std::size_t size) {
    if (detail::on.load(std::memory_order_relaxed)) [[unlikely]]
        detail::record(p, d, bytes, size);
}

inline void record_can(direction d, const platform::can::can_message& m) {
    if (detail::on.load(std::memory_order_relaxed)) [[unlikely]]
        detail::record_can(d, m);
}

// Opens the file TRELINK_CAPTURE names, once per process and file name; unset, ends a capture
// that is open. A file that cannot be created (it exists, say) is reported once and not used.
void start_from_environment();

// The device a link opened ("/run/user/1000/trelink/{...}/ecusim0", "COM1 (/dev/ttyUSB0)"):
// named in its interface block when that is written.
void name_device(port p, const std::string& device);

}  // namespace qx::transfer::capture
