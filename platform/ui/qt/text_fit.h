// Texts in the fixed places of a dialog template: dialog units from the dialog font, and
// single-line texts shown whole when they fit. What cannot be shown whole is shortened only
// where it is drawn, with the whole text in the tooltip: a path keeps its file name and loses
// the middle, any other text its end. An edit always holds the whole text.
#pragma once

#include <QFont>
#include <QLineEdit>
#include <QRect>
#include <QString>

class QFontMetrics;
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

// How a text that does not fit is shortened.
enum class elision { end, path };

// `text` shortened to `width` pixels: a path loses the middle of its folders and keeps its
// last part (the file name, or the last folder) whole while that fits, else its own middle.
QString elided(const QString& text, const QFontMetrics& fm, int width, elision how);

// The width a single line of text has inside `w` (label, line edit, push button, check box,
// radio button), from its style; -1 for other widgets.
int text_room(const QWidget* w);

// Whether `text` fits `w` whole.
bool fits(const QWidget* w, const QString& text);

// Shows `text` in `w`: whole when it fits, else shortened with the whole text as the
// tooltip. A line edit holds the whole text and shows its start.
void set_fitted_text(QWidget* w, const QString& text);

// A read-only line whose text is drawn shortened when it does not fit while the edit does not
// have the focus; selecting and copying always take the whole text.
class fitted_line_edit : public QLineEdit {
    Q_OBJECT
public:
    fitted_line_edit(elision how, QWidget* parent) : QLineEdit(parent), how_(how) {}
    // What is drawn: the whole text, or its shortened form.
    QString drawn_text() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    elision how_;
};

}  // namespace qx::ui::qt
