// Plays a technician's part against a dialog in a real (offscreen) Qt window: the dialog runs
// modally on the GUI thread as in the program, and a script of steps runs from that thread's
// event loop, each once its condition holds.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QString>

#include "platform/ui/dialog.h"
#include "platform/ui/qt/dialog_window.h"
#include "platform/ui/qt/qt_renderer.h"

class QMessageBox;
class QWidget;

namespace qx::test_support {

struct window_step {
    std::string what;             // named when the step is never reached
    std::function<bool()> ready;  // checked every 10 ms on the GUI thread
    std::function<void()> act;    // runs once on the GUI thread when ready
};

// Runs `d` modally in `r` from the calling (GUI) thread while the steps are played in order,
// the first once the window is exposed and the dialog initialised; the dialog's result. A step not reached within
// `limit` fails the test, and the run is ended: boxes are closed and the dialog is cancelled.
int play(ui::dialog& d, ui::qt::qt_renderer& r, std::vector<window_step> steps,
         std::chrono::seconds limit = std::chrono::seconds(60));

// The window of `d` while it is shown, else nullptr.
ui::qt::dialog_window* window_of(ui::qt::qt_renderer& r, const ui::dialog& d);
// A shown message box whose text is `text` (any, when empty), or nullptr.
QMessageBox* shown_box(const QString& text = {});
// Clicks the button of `box` that reads `label`; false when it has none.
bool press(QMessageBox* box, const QString& label);
// Answers the shown file chooser with `path`; false when none is shown.
bool choose_in_file_chooser(const QString& path);
// Clicks the control `id` of the window with the mouse, scrolling it into view first.
void click_control(ui::qt::dialog_window& w, int id);
// Saves the whole of `w` (its controls, also those scrolled out of view) as dir/name.png, with
// `over` (a box shown over it) drawn in its middle.
void save_shot(ui::qt::dialog_window& w, const std::filesystem::path& dir, const std::string& name, QWidget* over = nullptr);

}  // namespace qx::test_support
