// The texts of the launcher's mode checks, which the console front-end prints as well.
#pragma once

namespace qx {

// The Firmware and ID tool opens after this warning when the ECU is not in its boot loader.
inline constexpr const char* firmware_tool_mode_warning =
    "The hardware is not in the correct mode for a full firmware upgrade. Features will be disabled.";
// The USB file tool needs the ECU's application running.
inline constexpr const char* usb_file_tool_mode_error =
    "The hardware is not in the correct mode.  The ECU needs to be strapped in full running mode.";

}  // namespace qx
