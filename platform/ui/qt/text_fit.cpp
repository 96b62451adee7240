#include "platform/ui/qt/text_fit.h"

#include <cmath>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>

namespace qx::ui::qt {
namespace {

// QLineEdit keeps two pixels each side of its line and a cursor's width plus one.
constexpr int line_edit_margin = 2;

int button_room(const QAbstractButton* b, QStyle::SubElement contents) {
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    return b->style()->subElementRect(contents, &opt, b).width();
}

}  // namespace

dialog_units::dialog_units(const QFont& font) {
    const QFontMetricsF fm(font);
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");  // 52
    base_x_ = static_cast<int>(std::lround(fm.horizontalAdvance(letters) / 52.0));
    base_y_ = QFontMetrics(font).height();
}

int text_room(const QWidget* w) {
    if (const auto* l = qobject_cast<const QLabel*>(w)) return l->contentsRect().width() - 2 * l->margin();
    if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
        QStyleOptionFrame opt;
        opt.initFrom(e);
        opt.rect = e->contentsRect();
        opt.lineWidth = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, e) : 0;
        opt.state |= QStyle::State_Sunken;
        if (e->isReadOnly()) opt.state |= QStyle::State_ReadOnly;
        const QRect r = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e).marginsRemoved(e->textMargins());
        const int cursor = e->style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, e);
        return r.width() - 2 * line_edit_margin - cursor - 1;
    }
    if (const auto* b = qobject_cast<const QCheckBox*>(w)) return button_room(b, QStyle::SE_CheckBoxContents);
    if (const auto* b = qobject_cast<const QRadioButton*>(w)) return button_room(b, QStyle::SE_RadioButtonContents);
    if (const auto* b = qobject_cast<const QPushButton*>(w)) return button_room(b, QStyle::SE_PushButtonContents);
    return -1;
}

bool fits(const QWidget* w, const QString& text) {
    const int room = text_room(w);
    return room < 0 || std::ceil(QFontMetricsF(w->font()).horizontalAdvance(text)) <= room;
}

QString elided(const QString& text, const QFontMetrics& fm, int width, elision how) {
    if (fm.horizontalAdvance(text) <= width) return text;
    if (how == elision::path) {
        // The last part starts at the separator before the last name (a folder's own name when
        // the path ends in a separator).
        qsizetype end = text.size();
        while (end > 0 && (text[end - 1] == QLatin1Char('/') || text[end - 1] == QLatin1Char('\\'))) --end;
        const qsizetype slash =
            end == 0 ? -1 : std::max(text.lastIndexOf(QLatin1Char('/'), end - 1), text.lastIndexOf(QLatin1Char('\\'), end - 1));
        if (slash > 0) {
            const QString tail = text.mid(slash);
            const int head_room = width - fm.horizontalAdvance(tail);
            if (head_room >= fm.horizontalAdvance(QChar(0x2026))) {
                QString head = fm.elidedText(text.left(slash), Qt::ElideRight, head_room);
                if (head.isEmpty()) head = QChar(0x2026);
                return head + tail;
            }
        }
        return fm.elidedText(text, Qt::ElideMiddle, width);
    }
    return fm.elidedText(text, Qt::ElideRight, width);
}

void set_fitted_text(QWidget* w, const QString& text) {
    const bool whole = fits(w, text);
    w->setToolTip(whole ? QString() : text);
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        // The edit holds the whole text; only what is drawn is shortened.
        e->setText(text);
        e->setCursorPosition(0);
        return;
    }
    const QString shown = whole ? text : elided(text, QFontMetrics(w->font()), text_room(w), elision::end);
    if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(shown);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(shown);
    }
}

QString fitted_line_edit::drawn_text() const {
    if (hasFocus() || fits(this, text())) return text();
    return elided(text(), fontMetrics(), text_room(this), how_);
}

void fitted_line_edit::paintEvent(QPaintEvent* e) {
    const QString drawn = drawn_text();
    if (drawn == text()) {
        QLineEdit::paintEvent(e);
        return;
    }
    // The frame as the edit draws it, and the shortened text where its text would be.
    QPainter p(this);
    QStyleOptionFrame opt;
    initStyleOption(&opt);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &opt, &p, this);
    QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &opt, this).marginsRemoved(textMargins());
    r.adjust(line_edit_margin, 0, -line_edit_margin, 0);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    p.drawText(r, int(Qt::AlignLeft | Qt::AlignVCenter) | Qt::TextSingleLine, drawn);
}

}  // namespace qx::ui::qt
