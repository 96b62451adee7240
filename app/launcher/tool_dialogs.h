// How the launcher makes its tool dialogs. A tool whose factory is empty is not built into
// this program: its button shows nothing beyond the launcher's own checks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "core/connection_manager.h"
#include "platform/ui/dialog.h"

namespace qx {

struct tool_dialogs {
    // CUpdateImageDlg: "ECU Update"
    std::function<std::unique_ptr<ui::dialog>(connection_manager&)> update;
    // CImageDownloaderDlg: "Firmware and ID tool", with the launcher's root certificate
    std::function<std::unique_ptr<ui::dialog>(connection_manager&, std::span<const std::uint8_t>)> image_downloader;
    // LogTestDlg: "USB file tool"
    std::function<std::unique_ptr<ui::dialog>(connection_manager&)> log_test;
};

// The tools this program was built with.
tool_dialogs available_tool_dialogs();

}  // namespace qx
