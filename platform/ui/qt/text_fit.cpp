#include "platform/ui/qt/text_fit.h"

#include <cmath>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>

namespace qx::ui::qt {
namespace {

constexpr const char* whole_text_property = "fitted_text";

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

void set_fitted_text(QWidget* w, const QString& text) {
    w->setProperty(whole_text_property, text);
    const bool whole = fits(w, text);
    const QString shown = whole ? text : QFontMetrics(w->font()).elidedText(text, Qt::ElideRight, text_room(w));
    w->setToolTip(whole ? QString() : text);
    if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(shown);
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        // Read-only edits show the elided text; an edit the user types in keeps its text.
        e->setText(e->isReadOnly() ? shown : text);
        e->setCursorPosition(0);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(shown);
    }
}

QString fitted_text(const QWidget* w) { return w->property(whole_text_property).toString(); }

}  // namespace qx::ui::qt
