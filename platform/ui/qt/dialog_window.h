// The real window of one shown dialog: built from its template, kept in step with its model
// on the GUI thread, and posting the user's clicks and closes to the dialog's logic thread.
#pragma once

#include <map>
#include <memory>

#include <QDialog>

class QScrollArea;

#include "platform/ui/dialog.h"
#include "platform/ui/qt/text_fit.h"

namespace qx::ui::qt {

class CQuickList;

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
    // What holds the controls, at the size they need; the window shows it whole, or scrolls it
    // where the screen is too small.
    QWidget* content() const { return content_; }
    QScrollArea* scroll_area() const { return scroll_; }
    // Dialog units of the window's font.
    const dialog_units& units() const { return units_; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    class list_parent;
    void build();
    void apply_control(int id, QWidget* w, const control_state& s);
    void place_label(int id, QWidget* w, const QString& text);
    // The content as large as its visible controls need, and the window as large as the
    // content or the screen allows.
    void fit_content();
    QRect available_area() const;

    dialog& d_;
    dialog_units units_;
    bool attached_ = true;
    QScrollArea* scroll_ = nullptr;
    QWidget* content_ = nullptr;
    QSize template_size_;
    std::map<int, QWidget*> controls_;
    std::map<int, std::unique_ptr<list_parent>> list_parents_;
    // Single-line labels: their place, the free width of their row for a text that needs
    // more, and how far down the free space below them reaches for a text that needs lines.
    struct label_place {
        QRect own, wide;
        int bottom = 0;
    };
    std::map<int, label_place> label_places_;
};

}  // namespace qx::ui::qt
