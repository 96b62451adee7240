// CVelmar_FlashdeskDlg: the launcher. Opens each tool as a modal dialog that borrows the
// application's connection manager.
#pragma once

#include <filesystem>

#include "app/launcher/root_certificate.h"
#include "app/launcher/tool_dialogs.h"
#include "core/connection_manager.h"
#include "platform/ui/dialog.h"

namespace qx {

inline constexpr int IDD_VELMAR_FLASHDESK_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;  // the program's icon
inline constexpr int IDC_FIRMWARE_TOOL = 1000;
inline constexpr int IDC_USB_FILE_TOOL = 1001;
inline constexpr int IDC_ECU_UPDATE = 1039;

ui::dialog_template launcher_template();

class CVelmar_FlashdeskDlg : public ui::dialog {
public:
    CVelmar_FlashdeskDlg(connection_manager& connection, tool_dialogs tools);

    // Where the Firmware and ID tool's root certificate is read from (the current directory).
    std::filesystem::path certificate_file = root_certificate_file;

protected:
    void on_init() override;
    void on_command(int id) override;

private:
    void open_firmware_tool();
    void open_usb_file_tool();
    void open_ecu_update();

    connection_manager* connection_;
    tool_dialogs tools_;
};

}  // namespace qx
