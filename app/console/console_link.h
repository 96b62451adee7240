// The link the console's tools connect through: USB, unless `flashdesk --link` names another;
// and the one USB device they may use when `--device` names it.
#pragma once

#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>

#include "core/connection_manager.h"

namespace qx::console {

// `--link usb|usb-can` and `--device DEVICE` on the top-level command. `--device` hands DEVICE to
// the library as TRELINK_DEVICE before the command runs.
void add_link_option(CLI::App& app);
const link_choice& console_link();
// The device that link uses now: the USB device path it picks (what --device names, else the
// first present), or "usb-can:" and the CAN bus.
std::string console_link_device();

// After a failed command that found no device to connect to: when `--device` named one that is
// not present, says so on err, and so does every refusal of the device registry's folders and
// sockets (platform/registry) on a line of its own.
void report_absent_device(std::ostream& err);
// The first of those texts, or empty.
std::string absent_device_text();
// "No such device: SELECTOR (flashdesk devices lists the ECUs plugged in)."
std::string no_such_device_text(const std::string& selector);

// Exit status of a command that would have to guess which ECU is meant.
inline constexpr int several_ecus_exit = 2;
// When the USB link is chosen, `--device` names none and more than one ECU device is plugged
// in: the text that refuses to guess. Empty otherwise.
std::string several_ecus_text();

}  // namespace qx::console
