// CQuickList: a virtual report list. It keeps no texts: every cell is asked from its parent
// through the cell information record when it is drawn, shown or edited. Cells may be edited
// in place with CQuickEdit; clicks, double clicks on read-only cells and the edit's focus
// loss are reported to the parent.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QLineEdit>
#include <QPixmap>
#include <QTableView>

#include "platform/ui/cell_info.h"
#include "platform/ui/dialog_model.h"

namespace qx::ui::qt {

// What a list asks of its parent and tells it. All calls come on the GUI thread.
class quick_list_parent {
public:
    virtual ~quick_list_parent() = default;
    // Fills the record for (record.item, record.subitem); must be thread-safe.
    virtual void get_cell_info(cell_info& record) = 0;
    virtual void cell_clicked(const cell_click&) {}
    virtual void read_only_double_click(const cell_click&) {}
    virtual void edit_lost_focus() {}
    // true cancels the edit; `text` may be changed to what the editor starts with.
    virtual bool begin_edit(int item, int subitem, std::string& text) {
        (void)item, (void)subitem, (void)text;
        return false;
    }
    // No text: the edit was cancelled.
    virtual void end_edit(int item, int subitem, std::optional<std::string> text) { (void)item, (void)subitem, (void)text; }
    // A right click, with the row under the mouse or -1.
    virtual void context_menu(int item) { (void)item; }
};

struct quick_list_options {
    bool column_navigation = true;   // Left/Right move the focused column
    bool edit_on_enter = true;
    bool edit_on_f2 = true;
    bool edit_on_double_click = true;
    bool end_edit_on_focus_loss = true;  // otherwise the parent hears of the focus loss
    bool full_row_selection = true;
    bool show_selection_always = false;
    bool hot_tracking = true;
};

class CQuickList;

// The in-place editor of a cell.
class CQuickEdit : public QLineEdit {
    Q_OBJECT
public:
    CQuickEdit(CQuickList& list, QWidget* viewport);

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool focusNextPrevChild(bool) override { return false; }  // wants Tab too

private:
    CQuickList& list_;
};

class CQuickList : public QTableView {
    Q_OBJECT
public:
    CQuickList(quick_list_parent& parent, QWidget* parent_widget, quick_list_options options = {});
    ~CQuickList() override;

    void set_columns(const std::vector<list_column>& columns);
    void set_row_count(int rows);
    int row_count() const { return rows_; }
    int column_count() const { return static_cast<int>(columns_.size()); }
    const std::vector<list_column>& columns() const { return columns_; }
    // The rows' contents changed: redraw what is shown. A column narrower than its title or a
    // cell's text grows to hold it whole.
    void refresh_rows();
    void set_image_list(std::vector<QPixmap> images);
    const quick_list_options& options() const { return options_; }
    void set_options(const quick_list_options& o) { options_ = o; }

    // The record as the list asks it for a cell: reset, selected and hot set, then filled by
    // the parent.
    cell_info cell(int item, int subitem);

    int focused_column() const { return focused_column_; }
    void set_focused_cell(int item, int subitem);

    // Starts editing (item, subitem); false when refused (no such cell, a column of 4 pixels
    // or less, a read-only cell) or cancelled by the parent.
    bool edit_cell(int item, int subitem);
    bool editing() const { return editor_ != nullptr; }
    CQuickEdit* editor() const { return editor_; }
    // Ends a running edit, reporting the editor's text (keep) or a cancel.
    void end_edit(bool keep);
    // The characters an edit of `text` may hold: at least 2048, four times the text if more.
    static int edit_capacity(const QString& text);

    // How a cell is drawn from its record.
    struct cell_look {
        Qt::Alignment alignment;
        Qt::TextElideMode elide = Qt::ElideNone;
        bool single_line = true;
        QColor text, background;
        bool bold = false, italic = false;
    };
    cell_look look(const cell_info& record, int column) const;
    // Where a cell's check box, image and text are drawn within its rectangle (empty when
    // the record has none).
    struct cell_geometry {
        QRect check_box, image, text;
    };
    static cell_geometry geometry(const cell_info& record, const QRect& cell);
    // The cell's rectangle in viewport coordinates.
    QRect cell_rect(int item, int subitem) const;

    void paint_cell(QPainter& painter, const QRect& rect, int item, int subitem);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    friend class CQuickEdit;
    class cell_model;
    class cell_delegate;
    cell_click hit(const QPoint& pos, cell_info* record_out);
    void fit_columns();
    void editor_lost_focus(Qt::FocusReason reason);

    quick_list_parent& parent_;
    quick_list_options options_;
    cell_model* model_;
    std::vector<list_column> columns_;
    std::vector<QPixmap> images_;
    int rows_ = 0;
    cell_info record_;  // one per list, reset before each request
    int focused_column_ = 0;
    int hot_row_ = -1;
    CQuickEdit* editor_ = nullptr;
    int edit_item_ = -1, edit_subitem_ = -1;
    bool ending_ = false;
};

}  // namespace qx::ui::qt
