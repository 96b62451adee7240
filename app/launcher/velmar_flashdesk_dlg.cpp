#include "app/launcher/velmar_flashdesk_dlg.h"

#include "app/launcher/error_box.h"
#include "app/launcher/mode_texts.h"

namespace qx {

ui::dialog_template launcher_template() {
    using ui::control_kind;
    ui::dialog_template t;
    t.id = IDD_VELMAR_FLASHDESK_DIALOG;
    t.caption = "Velmar_Flashdesk";
    t.width = 180;
    t.height = 122;
    t.icon = IDR_MAINFRAME;
    t.controls = {
        {IDC_FIRMWARE_TOOL, control_kind::button, "Firmware and ID tool", 20, 12, 140, 28},
        {IDC_ECU_UPDATE, control_kind::button, "ECU Update", 20, 48, 140, 28},
        {IDC_USB_FILE_TOOL, control_kind::button, "USB file tool", 20, 84, 140, 28, false},
        {ui::IDOK, control_kind::default_button, "OK", 4, 104, 50, 14, false},
        {ui::IDCANCEL, control_kind::button, "Cancel", 126, 104, 50, 14, false},
    };
    return t;
}

CVelmar_FlashdeskDlg::CVelmar_FlashdeskDlg(connection_manager& connection, tool_dialogs tools)
    : dialog(launcher_template()), connection_(&connection), tools_(std::move(tools)) {}

void CVelmar_FlashdeskDlg::on_init() {
    // The icon (128) comes with the template, as large and small icon.
    model().set_enabled(IDC_FIRMWARE_TOOL, true);
}

void CVelmar_FlashdeskDlg::on_command(int id) {
    switch (id) {
        case IDC_FIRMWARE_TOOL: open_firmware_tool(); break;
        case IDC_USB_FILE_TOOL: open_usb_file_tool(); break;
        case IDC_ECU_UPDATE: open_ecu_update(); break;
        default: dialog::on_command(id);
    }
}

void CVelmar_FlashdeskDlg::open_firmware_tool() {
    // A warning only: the tool opens after it.
    if (connection_->target_mode != connection_manager::mode_boot_loader)
        error_box(ui(), "%s", firmware_tool_mode_warning);
    if (!load_root_certificate(ui(), certificate_file)) return;
    if (!tools_.image_downloader) return;
    const std::unique_ptr<ui::dialog> tool = tools_.image_downloader(*connection_, root_certificate().bytes());
    tool->run_modal(ui());
}

void CVelmar_FlashdeskDlg::open_usb_file_tool() {
    if (connection_->target_mode != connection_manager::mode_application) {
        error_box(ui(), "%s", usb_file_tool_mode_error);
        return;
    }
    if (!tools_.log_test) return;
    const std::unique_ptr<ui::dialog> tool = tools_.log_test(*connection_);
    tool->run_modal(ui());
}

void CVelmar_FlashdeskDlg::open_ecu_update() {
    // No mode check: the tool looks after the connection itself.
    if (!tools_.update) return;
    const std::unique_ptr<ui::dialog> tool = tools_.update(*connection_);
    tool->run_modal(ui());
}

}  // namespace qx
