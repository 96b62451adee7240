#include "platform/ui/qt/dialog_window.h"

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include "platform/ui/qt/bitmap_registry.h"
#include "platform/ui/qt/quick_list.h"
#include "platform/ui/qt/text_fit.h"

namespace qx::ui::qt {
namespace {

// Edits taller than this many dialog units hold several lines.
constexpr int multi_line_height = 20;

QString qtext(const std::string& s) {
    QString t = QString::fromStdString(s);
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return t;
}

// Units kept free between controls and at the dialog's edges.
constexpr int control_gap = 3;
constexpr int dialog_margin = 7;

// The free width of a control's row (dialog units): from the nearest control on its left to
// the nearest on its right, among those beside it; group boxes only frame.
QRect free_width(const dialog_template& t, const control_template& c) {
    int left = std::min(c.x, dialog_margin), right = std::max(c.x + c.width, t.width - dialog_margin);
    for (const control_template& o : t.controls) {
        if (o.id == c.id || o.kind == control_kind::group_box) continue;
        if (o.y >= c.y + c.height || c.y >= o.y + o.height) continue;  // not beside it
        if (o.x + o.width <= c.x) left = std::max(left, o.x + o.width + control_gap);
        else if (o.x >= c.x + c.width) right = std::min(right, o.x - control_gap);
    }
    left = std::min(left, c.x);
    right = std::max(right, c.x + c.width);
    return {left, c.y, right - left, c.height};
}

// How far down (dialog units) a control's `span` of columns is free below it: to the nearest
// shown control under it, the bottom of a group box around it, or the dialog's margin.
int free_below(const dialog_template& t, const control_template& c, int left, int right) {
    int bottom = t.height - dialog_margin;
    for (const control_template& o : t.controls) {
        if (o.id == c.id || !o.visible) continue;
        if (o.x >= right || left >= o.x + o.width) continue;  // not under it
        if (o.kind == control_kind::group_box) {
            const bool inside = o.y < c.y && c.y + c.height <= o.y + o.height && o.x <= c.x && c.x + c.width <= o.x + o.width;
            if (inside) bottom = std::min(bottom, o.y + o.height - control_gap);
            continue;
        }
        if (o.y >= c.y + c.height) bottom = std::min(bottom, o.y - control_gap);
    }
    return bottom;
}

}  // namespace

// The list's questions and notifications, passed on to the dialog while it runs.
class dialog_window::list_parent : public quick_list_parent {
public:
    list_parent(dialog_window& w, int id) : w_(w), id_(id) {}
    void get_cell_info(cell_info& r) override {
        if (w_.attached()) w_.d_.on_get_cell_info(id_, r);
    }
    void cell_clicked(const cell_click& c) override {
        if (w_.attached()) w_.d_.cell_clicked(id_, c);
    }
    void read_only_double_click(const cell_click& c) override {
        if (w_.attached()) w_.d_.read_only_double_click(id_, c);
    }
    void edit_lost_focus() override {
        if (w_.attached()) w_.d_.edit_lost_focus(id_);
    }
    bool begin_edit(int item, int subitem, std::string& text) override {
        return !w_.attached() || w_.d_.on_begin_edit(id_, item, subitem, text);
    }
    void end_edit(int item, int subitem, std::optional<std::string> text) override {
        if (w_.attached()) w_.d_.end_edit(id_, item, subitem, std::move(text));
    }
    void context_menu(int item) override {
        if (w_.attached()) w_.d_.user_context_menu(id_, item);
    }

private:
    dialog_window& w_;
    int id_;
};

dialog_window::dialog_window(dialog& d, QWidget* parent) : QDialog(parent), d_(d), units_(font()) {
    setObjectName(QStringLiteral("dialog_%1").arg(d.layout().id));
    build();
    apply_all();
}

dialog_window::~dialog_window() {
    attached_ = false;
    // The controls go before the list parents they call.
    for (auto& [id, w] : controls_) delete w;
    controls_.clear();
}

void dialog_window::build() {
    const dialog_template& t = d_.layout();
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("content"));
    template_size_ = QSize(units_.x(t.width), units_.y(t.height));
    content_->setFixedSize(template_size_);
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidget(content_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll_);
    if (t.icon != 0) {
        const QIcon i = icon(t.icon);
        if (!i.isNull()) setWindowIcon(i);
    }
    setModal(true);

    // Radio groups: from a control marked as a group's start up to the next one.
    std::map<int, std::vector<int>> groups;
    std::vector<int> current;
    auto close_group = [&] {
        for (int id : current) groups[id] = current;
        current.clear();
    };
    for (const control_template& c : t.controls) {
        if (c.kind != control_kind::radio || c.group_start) close_group();
        if (c.kind == control_kind::radio) current.push_back(c.id);
    }
    close_group();

    for (const control_template& c : t.controls) {
        const int id = c.id;
        QWidget* w = nullptr;
        const bool tall = c.height > multi_line_height;
        switch (c.kind) {
            case control_kind::button:
            case control_kind::default_button: {
                auto* b = new QPushButton(content_);
                if (c.kind == control_kind::default_button) b->setDefault(true);
                connect(b, &QPushButton::clicked, this, [this, id] {
                    if (attached_) d_.user_click(id);
                });
                w = b;
                break;
            }
            case control_kind::checkbox: {
                auto* b = new QCheckBox(content_);
                connect(b, &QCheckBox::clicked, this, [this, id](bool on) {
                    if (!attached_) return;
                    // A click the dialog drops changes nothing: the box shows the model again.
                    if (!d_.user_click(id, [this, id, on] { d_.model().set_checked(id, on); })) apply(id);
                });
                w = b;
                break;
            }
            case control_kind::radio: {
                auto* b = new QRadioButton(content_);
                b->setAutoExclusive(false);  // the model decides; groups follow the template
                const std::vector<int> group = groups[id];
                connect(b, &QRadioButton::clicked, this, [this, id, group] {
                    if (!attached_) return;
                    const bool admitted = d_.user_click(id, [this, id, &group] {
                        for (int other : group) d_.model().set_checked(other, other == id);
                    });
                    if (!admitted) apply(id);
                });
                w = b;
                break;
            }
            case control_kind::edit:
            case control_kind::read_only_edit: {
                const bool read_only = c.kind == control_kind::read_only_edit;
                if (tall) {
                    auto* e = new QPlainTextEdit(content_);
                    e->setReadOnly(read_only);
                    if (!read_only)
                        connect(e, &QPlainTextEdit::textChanged, this, [this, id, e] {
                            if (attached_) d_.model().set_text(id, e->toPlainText().toStdString());
                        });
                    w = e;
                } else {
                    QLineEdit* e = read_only ? new fitted_line_edit(c.path ? elision::path : elision::end, content_)
                                             : new QLineEdit(content_);
                    e->setReadOnly(read_only);
                    connect(e, &QLineEdit::textEdited, this, [this, id](const QString& text) {
                        if (attached_) d_.model().set_text(id, text.toStdString());
                    });
                    w = e;
                }
                break;
            }
            case control_kind::label: {
                auto* l = new QLabel(content_);
                l->setTextFormat(Qt::PlainText);
                l->setWordWrap(tall);
                l->setAlignment(Qt::AlignLeft | (tall ? Qt::AlignTop : Qt::AlignVCenter));
                if (!tall) {
                    const QRect wide = free_width(t, c);
                    label_places_[id] = {units_.rect(c.x, c.y, c.width, c.height),
                                         units_.rect(wide.x(), wide.y(), wide.width(), wide.height()),
                                         units_.y(free_below(t, c, wide.x(), wide.x() + wide.width()))};
                }
                w = l;
                break;
            }
            case control_kind::group_box: w = new QGroupBox(content_); break;
            case control_kind::progress: {
                auto* p = new QProgressBar(content_);
                p->setTextVisible(false);
                w = p;
                break;
            }
            case control_kind::lamp: {
                auto* l = new QLabel(content_);
                l->setAlignment(Qt::AlignCenter);
                w = l;
                break;
            }
            case control_kind::list: {
                auto parent = std::make_unique<list_parent>(*this, id);
                w = new CQuickList(*parent, content_);
                list_parents_[id] = std::move(parent);
                break;
            }
        }
        w->setObjectName(QStringLiteral("control_%1").arg(id));
        w->setGeometry(units_.rect(c.x, c.y, c.width, c.height));
        controls_[id] = w;
    }
    // Group boxes frame the controls drawn over them.
    for (const control_template& c : t.controls)
        if (c.kind == control_kind::group_box) controls_[c.id]->lower();
}

QRect dialog_window::available_area() const {
    const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    QRect area = s != nullptr ? s->availableGeometry() : QRect(0, 0, 1 << 15, 1 << 15);
    // Room for the frame and title bar the window manager adds.
    const int frame = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return area.adjusted(frame, title + frame, -frame, -frame);
}

void dialog_window::fit_content() {
    // Shrunk to the controls shown (the template may keep room for hidden ones).
    QRect used;
    for (const auto& [id, w] : controls_)
        if (w->isVisibleTo(content_)) used |= w->geometry();
    const QSize margin(units_.x(dialog_margin), units_.y(dialog_margin));
    const QSize need = used.isEmpty() ? template_size_
                                      : QSize(std::min(template_size_.width(), used.right() + 1 + margin.width()),
                                              std::min(template_size_.height(), used.bottom() + 1 + margin.height()));
    content_->setFixedSize(need);
    // Scrolled where the screen is smaller; a bar takes its room from the other direction.
    const QSize room = available_area().size();
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    QSize size = need;
    if (size.width() > room.width()) size.rheight() += bar;
    if (size.height() > room.height()) size.rwidth() += bar;
    setFixedSize(size.boundedTo(room));
}

void dialog_window::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Wholly on the screen, its title bar included.
    const QRect area = available_area();
    QRect g = geometry();
    g.moveLeft(std::clamp(g.left(), area.left(), std::max(area.left(), area.right() + 1 - g.width())));
    g.moveTop(std::clamp(g.top(), area.top(), std::max(area.top(), area.bottom() + 1 - g.height())));
    if (g.topLeft() != geometry().topLeft()) move(g.topLeft() - (geometry().topLeft() - pos()));
}

QWidget* dialog_window::control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void dialog_window::apply_all() {
    apply(0);
    for (const auto& [id, w] : controls_) apply(id);
    fit_content();
}

void dialog_window::apply(int id) {
    if (!attached_) return;
    if (id == 0) {
        setWindowTitle(QString::fromStdString(d_.model().caption()));
        return;
    }
    if (id == dialog_model::working_id) {
        for (const auto& [control_id, w] : controls_)
            if (d_.starts_work(control_id)) apply(control_id);
        return;
    }
    QWidget* w = control(id);
    if (w == nullptr) return;
    apply_control(id, w, d_.model().state(id));
}

void dialog_window::place_label(int id, QWidget* w, const QString& text) {
    auto* l = static_cast<QLabel*>(w);
    const auto place = label_places_.find(id);
    if (place == label_places_.end()) {
        l->setText(text);
        return;
    }
    // A text too long for the label's own place takes the free width of its row, then lines
    // in the free space below; shortened only when even that is too small.
    const label_place& p = place->second;
    l->setWordWrap(false);
    l->setGeometry(p.own);
    if (!fits(l, text)) l->setGeometry(p.wide);
    if (!fits(l, text)) {
        l->setWordWrap(true);
        l->setText(text);
        const int height = l->heightForWidth(p.wide.width());
        if (height > 0 && p.wide.top() + height <= p.bottom) {
            l->setToolTip(QString());
            l->setGeometry(p.wide.x(), p.wide.y(), p.wide.width(), std::max(p.wide.height(), height));
            fit_content();
            return;
        }
        l->setWordWrap(false);
    }
    set_fitted_text(l, text);
}

void dialog_window::apply_control(int id, QWidget* w, const control_state& s) {
    const QString text = qtext(s.text);
    switch (s.kind) {
        case control_kind::button:
        case control_kind::default_button: set_fitted_text(w, text); break;
        case control_kind::checkbox:
        case control_kind::radio: {
            auto* b = static_cast<QAbstractButton*>(w);
            set_fitted_text(b, text);
            const QSignalBlocker block(b);
            b->setChecked(s.checked);
            break;
        }
        case control_kind::edit:
        case control_kind::read_only_edit:
            if (auto* e = qobject_cast<QLineEdit*>(w)) {
                // What the user typed is already in the edit: the caret stays where it is.
                if (e->text() != text) set_fitted_text(e, text);
            } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
                if (m->toPlainText() != text) {
                    // A log that was followed to its end stays at its end.
                    QScrollBar* bar = m->verticalScrollBar();
                    const bool at_end = bar->value() == bar->maximum();
                    const QSignalBlocker block(m);
                    m->setPlainText(text);
                    if (at_end) bar->setValue(bar->maximum());
                }
            }
            break;
        case control_kind::label: place_label(id, w, text); break;
        case control_kind::group_box: static_cast<QGroupBox*>(w)->setTitle(text); break;
        case control_kind::progress: {
            auto* p = static_cast<QProgressBar*>(w);
            // An empty range would turn the bar into a busy indicator.
            p->setRange(s.range_low, std::max(s.range_high, s.range_low + 1));
            p->setValue(std::clamp(s.position, p->minimum(), p->maximum()));
            break;
        }
        case control_kind::lamp: {
            auto* l = static_cast<QLabel*>(w);
            const QPixmap p = s.bitmap != 0 ? bitmap(s.bitmap, devicePixelRatioF()) : QPixmap();
            if (p.isNull()) l->clear();
            else l->setPixmap(p);
            break;
        }
        case control_kind::list: {
            auto* list = static_cast<CQuickList*>(w);
            // Columns are set again only when they differ (setting them ends an edit).
            const std::vector<list_column>& shown = list->columns();
            bool same = shown.size() == s.columns.size();
            for (std::size_t i = 0; same && i < shown.size(); ++i)
                same = shown[i].title == s.columns[i].title && shown[i].width == s.columns[i].width &&
                       shown[i].align == s.columns[i].align;
            if (!same) list->set_columns(s.columns);
            list->set_row_count(s.row_count);
            list->refresh_rows();
            break;
        }
    }
    // While the dialog works, what would start more work is shown disabled; its own state
    // comes back when the work ends.
    const bool enabled = s.enabled && !(d_.starts_work(id) && d_.model().working());
    if (w->isEnabled() != enabled) w->setEnabled(enabled);
    if (w->isVisibleTo(content_) != s.visible) {
        w->setVisible(s.visible);
        fit_content();
    }
}

void dialog_window::set_busy(bool on) {
    if (on) setCursor(Qt::WaitCursor);
    else unsetCursor();
}

void dialog_window::reject() {
    // Escape: the dialog decides whether it ends (while it works, it asks).
    if (attached_) d_.user_close();
}

void dialog_window::closeEvent(QCloseEvent* e) {
    e->ignore();
    if (attached_) d_.user_close();
}

}  // namespace qx::ui::qt
