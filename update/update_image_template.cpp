#include "update/update_image_dlg.h"

namespace qx {

ui::dialog_template update_image_template() {
    using ui::control_kind;
    namespace id = update_ids;
    ui::dialog_template t{id::dialog, "ECU Programming", 430, 290, 0, {}};
    auto add = [&t](int cid, control_kind kind, std::string text, int x, int y, int w, int h, bool visible = true) {
        t.controls.push_back({cid, kind, std::move(text), x, y, w, h, visible, true, false});
    };
    add(id::path, control_kind::read_only_edit, "", 7, 7, 330, 12);
    t.controls.back().path = true;
    add(id::browse, control_kind::button, "Browse", 343, 6, 50, 14);
    add(0x7000, control_kind::label, "Serial Number:", 7, 25, 55, 10);
    add(id::serial_number, control_kind::read_only_edit, "", 64, 23, 70, 12);
    add(0x7001, control_kind::label, "Version:", 142, 25, 32, 10);
    add(id::version, control_kind::read_only_edit, "", 176, 23, 50, 12);
    int y = 44;
    for (const image_row_ids& r : update_rows) {
        add(r.checkbox, control_kind::checkbox, r.name, 7, y, 70, 12);
        // The date column holds a whole package date ("2024-03-01 12:00:00 UTC"), the version
        // column a whole 32-bit version.
        add(r.image, control_kind::read_only_edit, "", 80, y, 92, 12);
        add(r.author, control_kind::read_only_edit, "", 175, y, 74, 12);
        add(r.date, control_kind::read_only_edit, "", 252, y, 112, 12);
        add(r.version, control_kind::read_only_edit, "", 367, y, 56, 12);
        add(r.progress, control_kind::progress, "", 80, y + 16, 150, 9);
        add(r.status, control_kind::label, "", 236, y + 16, 160, 10);
        add(r.lamp, control_kind::lamp, "", 402, y + 15, 12, 12);
        add(r.continue_button, control_kind::button, "Continue", 300, y, 40, 12, false);
        add(r.cancel_button, control_kind::button, "Cancel", 344, y, 40, 12, false);
        y += 40;
    }
    add(id::main_progress, control_kind::progress, "", 7, y + 4, 400, 10);
    add(id::progress_text, control_kind::label, "", 7, y + 18, 400, 10);
    add(id::main_status, control_kind::label, "", 22, y + 32, 385, 10);
    add(id::main_lamp, control_kind::lamp, "", 7, y + 31, 12, 12);
    add(id::done, control_kind::default_button, "Done", 373, y + 48, 50, 14);
    t.height = y + 70;
    return t;
}

}  // namespace qx
