#include "platform/ui/qt/quick_list.h"

#include <algorithm>

#include <QAbstractTableModel>
#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>

namespace qx::ui::qt {
namespace {

constexpr int check_box_size = 13;
constexpr int image_size = 16;
constexpr int cell_margin = 2;

// A COLORREF (0x00BBGGRR); default_colour means the list's own.
std::optional<QColor> colour(std::uint32_t value) {
    if (value == default_colour) return std::nullopt;
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF), static_cast<int>((value >> 16) & 0xFF));
}

unsigned column_format(list_column::alignment a) {
    switch (a) {
        case list_column::centre: return DT_CENTER;
        case list_column::right: return DT_RIGHT;
        default: return DT_LEFT;
    }
}

Qt::Alignment header_alignment(list_column::alignment a) {
    switch (a) {
        case list_column::centre: return Qt::AlignHCenter | Qt::AlignVCenter;
        case list_column::right: return Qt::AlignRight | Qt::AlignVCenter;
        default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

}  // namespace

// The rows and columns as Qt's view sees them; every cell comes from the parent.
class CQuickList::cell_model : public QAbstractTableModel {
public:
    explicit cell_model(CQuickList& list) : QAbstractTableModel(&list), list_(list) {}

    int rowCount(const QModelIndex& p) const override { return p.isValid() ? 0 : list_.rows_; }
    int columnCount(const QModelIndex& p) const override { return p.isValid() ? 0 : list_.column_count(); }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        if (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::CheckStateRole) return {};
        const cell_info r = list_.cell(index.row(), index.column());
        if (role == Qt::DisplayRole) return QString::fromStdString(r.text);
        if (role == Qt::DecorationRole) return r.image >= 0 ? QVariant(r.image) : QVariant();
        if (!r.check_box) return {};
        return r.checked ? Qt::Checked : Qt::Unchecked;
    }

    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (o != Qt::Horizontal || section < 0 || section >= list_.column_count()) return {};
        const list_column& c = list_.columns_[static_cast<std::size_t>(section)];
        if (role == Qt::DisplayRole) return QString::fromStdString(c.title);
        if (role == Qt::TextAlignmentRole) return QVariant::fromValue(header_alignment(c.align));
        return {};
    }

    void reset() {
        beginResetModel();
        endResetModel();
    }
    void rows_changed(int from, int to) {
        if (from < to) {
            beginInsertRows({}, from, to - 1);
            list_.rows_ = to;
            endInsertRows();
        } else if (from > to) {
            beginRemoveRows({}, to, from - 1);
            list_.rows_ = to;
            endRemoveRows();
        }
    }
    void contents_changed() {
        if (list_.rows_ > 0 && list_.column_count() > 0)
            emit dataChanged(index(0, 0), index(list_.rows_ - 1, list_.column_count() - 1));
    }

private:
    CQuickList& list_;
};

class CQuickList::cell_delegate : public QStyledItemDelegate {
public:
    explicit cell_delegate(CQuickList& list) : QStyledItemDelegate(&list), list_(list) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        list_.paint_cell(*painter, option.rect, index.row(), index.column());
    }

private:
    CQuickList& list_;
};

CQuickEdit::CQuickEdit(CQuickList& list, QWidget* viewport) : QLineEdit(viewport), list_(list) {
    // The font of the list's parent (the dialog), not the list's own.
    if (QWidget* owner = list.parentWidget()) setFont(owner->font());
    setFrame(false);
}

bool CQuickEdit::event(QEvent* e) {
    // Every key is the edit's: no shortcut or dialog default button takes Enter or Escape.
    if (e->type() == QEvent::ShortcutOverride) {
        e->accept();
        return true;
    }
    return QLineEdit::event(e);
}

void CQuickEdit::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: list_.end_edit(true); e->accept(); return;
        case Qt::Key_Escape: list_.end_edit(false); e->accept(); return;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: e->accept(); return;
        default: QLineEdit::keyPressEvent(e); e->accept();
    }
}

void CQuickEdit::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    list_.editor_lost_focus(e->reason());
}

CQuickList::CQuickList(quick_list_parent& parent, QWidget* parent_widget, quick_list_options options)
    : QTableView(parent_widget), parent_(parent), options_(options), model_(new cell_model(*this)) {
    setModel(model_);
    setItemDelegate(new cell_delegate(*this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setMouseTracking(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setMinimumSectionSize(0);  // columns may be narrowed to nothing
    // Scrolling ends an edit (scrollContentsBy covers the view's own scrolling; the bars may
    // also move without scrolling the contents when their range changes).
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { end_edit(true); });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { end_edit(true); });
}

CQuickList::~CQuickList() {
    // Going away with the window: nothing is reported any more.
    CQuickEdit* e = editor_;
    editor_ = nullptr;
    delete e;
}

void CQuickList::set_columns(const std::vector<list_column>& columns) {
    if (editing()) end_edit(false);
    columns_ = columns;
    model_->reset();
    for (std::size_t i = 0; i < columns_.size(); ++i) setColumnWidth(static_cast<int>(i), columns_[i].width);
    focused_column_ = std::clamp(focused_column_, 0, std::max(0, column_count() - 1));
    fit_columns();
}

void CQuickList::fit_columns() {
    const QFontMetrics header(horizontalHeader()->font());
    const int header_margin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, horizontalHeader()) + 2;
    for (int c = 0; c < column_count(); ++c) {
        const list_column& column = columns_[static_cast<std::size_t>(c)];
        int need = std::max(column.width, header.horizontalAdvance(QString::fromStdString(column.title)) + header_margin);
        for (int row = 0; row < rows_; ++row) {
            const cell_info r = cell(row, c);
            QFont f = font();
            f.setBold(r.bold);
            f.setItalic(r.italic);
            // What geometry() leaves for the text, plus the text itself.
            const int beside = (r.check_box && !r.centred_check_box ? check_box_size + cell_margin : 0) +
                               (r.image >= 0 && !r.centred_image ? image_size + cell_margin : 0);
            need = std::max(need, QFontMetrics(f).horizontalAdvance(QString::fromStdString(r.text)) + beside + 2 * cell_margin + 1);
        }
        if (columnWidth(c) < need) setColumnWidth(c, need);
    }
}

void CQuickList::set_row_count(int rows) {
    rows = std::max(0, rows);
    if (rows == rows_) return;
    if (editing() && edit_item_ >= rows) end_edit(false);
    model_->rows_changed(rows_, rows);
    if (hot_row_ >= rows) hot_row_ = -1;
}

void CQuickList::refresh_rows() {
    model_->contents_changed();
    fit_columns();
    viewport()->update();
}

void CQuickList::set_image_list(std::vector<QPixmap> images) {
    images_ = std::move(images);
    viewport()->update();
}

cell_info CQuickList::cell(int item, int subitem) {
    record_.reset(item, subitem);
    const bool row_selected = selectionModel() != nullptr && item >= 0 && item < rows_ &&
                              selectionModel()->isRowSelected(item, QModelIndex());
    record_.selected = row_selected && (subitem == 0 || options_.full_row_selection) &&
                       (hasFocus() || (editor_ != nullptr && editor_->hasFocus()) || options_.show_selection_always);
    record_.hot = options_.hot_tracking && item == hot_row_;
    parent_.get_cell_info(record_);
    return record_;
}

CQuickList::cell_look CQuickList::look(const cell_info& r, int column) const {
    cell_look l;
    unsigned format = r.text_format;
    if (column >= 0 && column < column_count()) format |= column_format(columns_[static_cast<std::size_t>(column)].align);
    Qt::Alignment a = Qt::AlignLeft;
    if (format & DT_CENTER) a = Qt::AlignHCenter;
    else if (format & DT_RIGHT) a = Qt::AlignRight;
    l.single_line = (format & DT_SINGLELINE) != 0;
    if (format & DT_VCENTER) a |= Qt::AlignVCenter;
    else a |= Qt::AlignTop;
    l.alignment = a;
    l.elide = (format & DT_END_ELLIPSIS) ? Qt::ElideRight : Qt::ElideNone;
    l.bold = r.bold;
    l.italic = r.italic;

    // Colour pairs (text, background): normal, selected, hot, selected without focus.
    const bool focused = hasFocus() || (editor_ != nullptr && editor_->hasFocus());
    const QPalette& p = palette();
    int state = 0;
    QColor text = p.color(QPalette::Active, QPalette::Text);
    QColor background = p.color(QPalette::Active, QPalette::Base);
    if (r.selected && focused) {
        state = 1;
        text = p.color(QPalette::Active, QPalette::HighlightedText);
        background = p.color(QPalette::Active, QPalette::Highlight);
    } else if (r.selected) {
        state = 3;
        text = p.color(QPalette::Inactive, QPalette::HighlightedText);
        background = p.color(QPalette::Inactive, QPalette::Highlight);
    } else if (r.hot) {
        state = 2;
        background = p.color(QPalette::Active, QPalette::AlternateBase);
    }
    l.text = colour(r.colours[static_cast<std::size_t>(2 * state)]).value_or(text);
    l.background = colour(r.colours[static_cast<std::size_t>(2 * state + 1)]).value_or(background);
    return l;
}

CQuickList::cell_geometry CQuickList::geometry(const cell_info& r, const QRect& cell) {
    cell_geometry g;
    QRect rest = cell.adjusted(cell_margin, 0, -cell_margin, 0);
    auto place = [&](int size, bool centred) {
        const int top = cell.top() + (cell.height() - size) / 2;
        if (centred) return QRect(cell.left() + (cell.width() - size) / 2, top, size, size);
        QRect box(rest.left(), top, size, size);
        rest.setLeft(box.right() + 1 + cell_margin);
        return box;
    };
    if (r.check_box) g.check_box = place(check_box_size, r.centred_check_box);
    if (r.image >= 0) g.image = place(image_size, r.centred_image);
    g.text = rest;
    return g;
}

QRect CQuickList::cell_rect(int item, int subitem) const { return visualRect(model_->index(item, subitem)); }

void CQuickList::paint_cell(QPainter& painter, const QRect& rect, int item, int subitem) {
    const cell_info r = cell(item, subitem);
    const cell_look l = look(r, subitem);
    const cell_geometry g = geometry(r, rect);
    painter.save();
    painter.fillRect(rect, l.background);
    if (r.check_box) {
        QStyleOptionButton box;
        box.rect = g.check_box;
        box.state = QStyle::State_Enabled | (r.checked ? QStyle::State_On : QStyle::State_Off);
        style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, &painter, this);
    }
    if (r.image >= 0 && static_cast<std::size_t>(r.image) < images_.size())
        painter.drawPixmap(g.image, images_[static_cast<std::size_t>(r.image)]);
    QFont f = font();
    f.setBold(r.bold);
    f.setItalic(r.italic);
    painter.setFont(f);
    painter.setPen(l.text);
    QString text = QString::fromStdString(r.text);
    if (l.single_line) {
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (l.elide != Qt::ElideNone) text = QFontMetrics(f).elidedText(text, l.elide, g.text.width());
        painter.drawText(g.text, static_cast<int>(l.alignment) | Qt::TextSingleLine, text);
    } else {
        painter.drawText(g.text, static_cast<int>(l.alignment) | Qt::TextWordWrap, text);
    }
    // The focus frame of the focused cell.
    if (options_.column_navigation && hasFocus() && currentIndex().isValid() && item == currentIndex().row() &&
        subitem == focused_column_) {
        painter.setPen(QPen(l.text, 1, Qt::DotLine));
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
    }
    painter.restore();
}

void CQuickList::set_focused_cell(int item, int subitem) {
    if (item < 0 || item >= rows_ || subitem < 0 || subitem >= column_count()) return;
    focused_column_ = subitem;
    setCurrentIndex(model_->index(item, subitem));
    viewport()->update();
}

int CQuickList::edit_capacity(const QString& text) {
    return std::max<int>(2048, 4 * static_cast<int>(text.size()));
}

bool CQuickList::edit_cell(int item, int subitem) {
    if (editing()) end_edit(true);
    if (item < 0 || item >= rows_ || subitem < 0 || subitem >= column_count()) return false;
    scrollTo(model_->index(item, subitem));
    if (columnWidth(subitem) <= 4) return false;
    const cell_info r = cell(item, subitem);
    if (!r.editable) return false;
    std::string text = r.text;
    const int capacity = edit_capacity(QString::fromStdString(text));
    if (parent_.begin_edit(item, subitem, text)) return false;

    edit_item_ = item;
    edit_subitem_ = subitem;
    editor_ = new CQuickEdit(*this, viewport());
    // The editor holds no more than the edit was promised: a parent's longer answer is cut.
    editor_->setMaxLength(capacity);
    editor_->setText(QString::fromStdString(text));
    QRect place = geometry(r, cell_rect(item, subitem)).text;
    if (place.width() < 8) place = cell_rect(item, subitem);
    editor_->setGeometry(place);
    editor_->show();
    editor_->selectAll();
    editor_->setFocus(Qt::OtherFocusReason);
    return true;
}

void CQuickList::end_edit(bool keep) {
    if (editor_ == nullptr || ending_) return;
    ending_ = true;
    CQuickEdit* e = editor_;
    std::optional<std::string> text;
    if (keep) text = e->text().toStdString();
    const int item = edit_item_, subitem = edit_subitem_;
    editor_ = nullptr;
    edit_item_ = edit_subitem_ = -1;
    if (e->hasFocus()) setFocus(Qt::OtherFocusReason);
    e->hide();
    e->deleteLater();
    ending_ = false;
    parent_.end_edit(item, subitem, std::move(text));
    viewport()->update();
}

void CQuickList::editor_lost_focus(Qt::FocusReason reason) {
    if (editor_ == nullptr || ending_ || reason == Qt::PopupFocusReason) return;
    if (options_.end_edit_on_focus_loss) end_edit(true);
    else parent_.edit_lost_focus();
}

cell_click CQuickList::hit(const QPoint& pos, cell_info* record_out) {
    const QModelIndex index = indexAt(pos);
    cell_click c{index.row(), index.column(), false, false};
    if (!index.isValid()) return c;
    const cell_info r = cell(c.item, c.subitem);
    const cell_geometry g = geometry(r, visualRect(index));
    c.on_check_box = r.check_box && g.check_box.contains(pos);
    c.on_image = r.image >= 0 && g.image.contains(pos);
    if (record_out) *record_out = r;
    return c;
}

void CQuickList::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    const int row = currentIndex().isValid() ? currentIndex().row() : (rows_ > 0 ? 0 : -1);
    if ((key == Qt::Key_Left || key == Qt::Key_Right) && e->modifiers() == Qt::NoModifier) {
        if (options_.column_navigation) {
            const int step = key == Qt::Key_Left ? -1 : 1;
            const int col = std::clamp(focused_column_ + step, 0, std::max(0, column_count() - 1));
            if (row >= 0) {
                set_focused_cell(row, col);
                scrollTo(model_->index(row, col));
            } else {
                focused_column_ = col;
            }
        } else {
            QScrollBar* bar = horizontalScrollBar();
            bar->setValue(bar->value() + (key == Qt::Key_Left ? -bar->singleStep() : bar->singleStep()));
        }
        e->accept();
        return;
    }
    if (((key == Qt::Key_Return || key == Qt::Key_Enter) && options_.edit_on_enter) ||
        (key == Qt::Key_F2 && options_.edit_on_f2)) {
        if (row >= 0) edit_cell(row, focused_column_);
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
    // Up/Down and the page keys keep the focused column.
    if (currentIndex().isValid() && currentIndex().column() != focused_column_ && column_count() > 0)
        setCurrentIndex(model_->index(currentIndex().row(), focused_column_));
}

void CQuickList::mousePressEvent(QMouseEvent* e) {
    QTableView::mousePressEvent(e);
    if (e->button() != Qt::LeftButton) return;
    const cell_click c = hit(e->position().toPoint(), nullptr);
    if (c.item < 0 || c.subitem < 0) return;
    focused_column_ = c.subitem;
    viewport()->update();
    parent_.cell_clicked(c);
}

void CQuickList::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        QTableView::mouseDoubleClickEvent(e);
        return;
    }
    cell_info r;
    const cell_click c = hit(e->position().toPoint(), &r);
    if (c.item < 0 || c.subitem < 0) return;
    if (!r.editable) {
        parent_.read_only_double_click(c);
        return;
    }
    if (options_.edit_on_double_click && !c.on_check_box && !c.on_image) edit_cell(c.item, c.subitem);
}

void CQuickList::mouseMoveEvent(QMouseEvent* e) {
    QTableView::mouseMoveEvent(e);
    if (!options_.hot_tracking) return;
    const int row = indexAt(e->position().toPoint()).row();
    if (row != hot_row_) {
        hot_row_ = row;
        viewport()->update();
    }
}

void CQuickList::leaveEvent(QEvent* e) {
    QTableView::leaveEvent(e);
    if (hot_row_ != -1) {
        hot_row_ = -1;
        viewport()->update();
    }
}

void CQuickList::wheelEvent(QWheelEvent* e) {
    end_edit(true);
    QTableView::wheelEvent(e);
}

void CQuickList::scrollContentsBy(int dx, int dy) {
    end_edit(true);
    QTableView::scrollContentsBy(dx, dy);
}

void CQuickList::focusInEvent(QFocusEvent* e) {
    QTableView::focusInEvent(e);
    viewport()->update();  // the selection's look depends on the focus
}

void CQuickList::focusOutEvent(QFocusEvent* e) {
    QTableView::focusOutEvent(e);
    viewport()->update();
}

void CQuickList::contextMenuEvent(QContextMenuEvent* e) {
    // Delivered through the viewport: the position is the viewport's.
    parent_.context_menu(indexAt(e->pos()).row());
    e->accept();
}

}  // namespace qx::ui::qt
