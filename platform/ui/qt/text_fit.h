// Texts in the fixed places of a dialog template: dialog units from the dialog font, and
// single-line texts shown whole when they fit, otherwise elided at their end with the whole
// text in the tooltip. Nothing is cut without a sign.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QWidget;

namespace qx::ui::qt {

// Four horizontal units are the average width of the letters A-Z and a-z, eight vertical
// units the height of the font, in pixels.
class dialog_units {
public:
    explicit dialog_units(const QFont& font);
    int base_x() const { return base_x_; }
    int base_y() const { return base_y_; }
    int x(int units) const { return (units * base_x_ + 2) / 4; }
    int y(int units) const { return (units * base_y_ + 4) / 8; }
    QRect rect(int x, int y, int width, int height) const { return {this->x(x), this->y(y), this->x(width), this->y(height)}; }

private:
    int base_x_ = 0;
    int base_y_ = 0;
};

// The width a single line of text has inside `w` (label, line edit, push button, check box,
// radio button), from its style; -1 for other widgets.
int text_room(const QWidget* w);

// Whether `text` fits `w` whole.
bool fits(const QWidget* w, const QString& text);

// Shows `text` in `w`: whole when it fits, else elided at its end with the whole text as the
// tooltip. Line edits show the start of their text.
void set_fitted_text(QWidget* w, const QString& text);

// The whole text last given to set_fitted_text (what `w` shows, or its elided form).
QString fitted_text(const QWidget* w);

}  // namespace qx::ui::qt
