// What a dialog may ask of the user, whatever renders it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qx::ui {

// Message box buttons, icons and answers, with the values technicians' tools have always used.
inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_OKCANCEL = 0x01;
inline constexpr unsigned MB_YESNO = 0x04;
inline constexpr unsigned MB_ICONSTOP = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;  // the second button answers Enter
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

struct message_box_request {
    std::string caption;
    std::string text;
    unsigned style = MB_OK;  // buttons | icon
    bool owned = true;       // false: a box without owner window
    // Texts of the buttons in their order, where they are not the standard ones ("Stop" and
    // "Continue" for Yes and No).
    std::vector<std::string> labels = {};

    unsigned buttons() const { return style & 0x0F; }
    unsigned icon() const { return style & 0xF0; }
    unsigned default_button() const { return (style & 0xF00) >> 8; }  // 0 the first, 1 the second
};

struct file_request {
    std::string title;
    std::string filter;        // "PAK files (*.pak)|*.pak|All files (*.*)|*.*"
    std::string default_name;  // save: the proposed name
    bool save = false;
};

struct popup_menu_request {
    std::vector<std::string> items;  // an empty item is a separator
};

}  // namespace qx::ui
