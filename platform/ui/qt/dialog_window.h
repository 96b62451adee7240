// The real window of one shown dialog: built from its template, kept in step with its model
// on the GUI thread, and posting the user's clicks and closes to the dialog's logic thread.
#pragma once

#include <map>
#include <memory>

#include <QDialog>

#include "platform/ui/dialog.h"

namespace qx::ui::qt {

class CQuickList;

// Dialog units to pixels: a fixed mapping for the dialog font (base units 6 x 13 pixels).
inline int dialog_x(int units) { return (units * 6 + 2) / 4; }
inline int dialog_y(int units) { return (units * 13 + 4) / 8; }

class dialog_window : public QDialog {
    Q_OBJECT
public:
    dialog_window(dialog& d, QWidget* parent);
    ~dialog_window() override;

    dialog& logic() { return d_; }
    // The dialog has ended: nothing is reported to it any more.
    void detach() { attached_ = false; }
    bool attached() const { return attached_; }

    // Takes the current state of control `id` (0: the caption) from the model.
    void apply(int id);
    void apply_all();
    void set_busy(bool on);

    // The widget of control `id`, or nullptr.
    QWidget* control(int id) const;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* e) override;

private:
    class list_parent;
    void build();
    void apply_control(int id, QWidget* w, const control_state& s);

    dialog& d_;
    bool attached_ = true;
    std::map<int, QWidget*> controls_;
    std::map<int, std::unique_ptr<list_parent>> list_parents_;
};

}  // namespace qx::ui::qt
