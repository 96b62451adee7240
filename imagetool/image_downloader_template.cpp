#include "imagetool/image_downloader_template.h"

namespace qx::imagetool {

ui::dialog_template image_downloader_template() {
    using ui::control_kind;
    ui::dialog_template t;
    t.id = IDD_IMAGE_DOWNLOADER;
    t.caption = "ECU Programming";
    t.width = 330;
    t.height = 250;
    t.controls = {
        {IDC_LABEL_SERIAL, control_kind::label, "ECU Serial number:", 10, 12, 78, 10},
        {IDC_ECU_SERIAL, control_kind::read_only_edit, "", 92, 10, 90, 14},
        {IDC_PAK_FILE, control_kind::read_only_edit, "", 10, 32, 240, 14, true, true, false, true},
        {IDC_SELECT_FILE, control_kind::button, "Select File", 255, 32, 65, 14},
        {IDC_DOWNLOAD_FILE, control_kind::button, "Download File", 255, 50, 65, 14},
        {IDC_GROUP_FILE_TYPE, control_kind::group_box, "File type", 10, 50, 120, 68},
        {IDC_TYPE_FIRMWARE, control_kind::radio, "Firmware", 18, 62, 100, 10, true, true, true},
        {IDC_TYPE_FIXED_MODEL, control_kind::radio, "Fixed Model", 18, 75, 100, 10},
        {IDC_TYPE_DYNAMIC_MODEL, control_kind::radio, "Dynamic Model Data", 18, 88, 100, 10},
        {IDC_TYPE_BOOT_LOADER, control_kind::radio, "Bootloader", 18, 101, 100, 10},
        {IDC_LABEL_AUTHOR, control_kind::label, "Author:", 140, 72, 30, 10},
        {IDC_AUTHOR, control_kind::read_only_edit, "", 172, 70, 148, 14},
        {IDC_LABEL_DATE, control_kind::label, "Date:", 140, 90, 30, 10},
        {IDC_DATE, control_kind::read_only_edit, "", 172, 88, 148, 14},
        {IDC_ERASE_DYNAMIC_MODEL, control_kind::button, "Erase Dynamic Model Data", 10, 124, 110, 14},
        {IDC_ERASE_FIXED_MODEL, control_kind::button, "Erase Fixed Model", 125, 124, 90, 14},
        {IDC_POWERSEQ_DOWNLOAD, control_kind::button, "PowerSeq Download", 220, 124, 100, 14},
        {IDC_PROGRESS, control_kind::progress, "", 10, 144, 310, 12},
        {IDC_GROUP_R8C, control_kind::group_box, "Upgrade R8C", 10, 162, 310, 40},
        {IDC_R8C_FILE, control_kind::read_only_edit, "", 18, 176, 160, 14, true, true, false, true},
        {IDC_R8C_SELECT_FILE, control_kind::button, "Select File", 182, 176, 65, 14},
        {IDC_R8C_DOWNLOAD_FILE, control_kind::button, "Download File", 250, 176, 65, 14},
        {IDC_GROUP_COREDUMP, control_kind::group_box, "Core dump", 10, 206, 120, 34, false},
        {IDC_COREDUMP_SAVE, control_kind::button, "Save", 18, 220, 50, 14, false},
        {ui::IDOK, control_kind::default_button, "OK", 200, 226, 55, 14, false},
        {ui::IDCANCEL, control_kind::button, "Cancel", 265, 226, 55, 14, false},
    };
    return t;
}

}  // namespace qx::imagetool
