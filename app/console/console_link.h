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

}  // namespace qx::console
