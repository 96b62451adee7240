// Dialog templates as data: the controls of a dialog, addressed by resource id, with their
// kind, first text, place (dialog units) and initial state.
#pragma once

#include <string>
#include <vector>

namespace qx::ui {

enum class control_kind { button, default_button, checkbox, radio, edit, read_only_edit, label, group_box, progress, lamp, list };

struct control_template {
    int id = 0;
    control_kind kind = control_kind::label;
    std::string text;
    int x = 0, y = 0, width = 0, height = 0;
    bool visible = true;
    bool enabled = true;
    bool group_start = false;  // radio buttons: the first of a group
    bool path = false;         // edits: the text is a file or folder path (shortened in its middle)
};

struct dialog_template {
    int id = 0;  // resource id
    std::string caption;
    int width = 0, height = 0;
    int icon = 0;  // icon resource, 0 for none
    std::vector<control_template> controls;
};

// Resource ids every dialog understands.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

}  // namespace qx::ui
