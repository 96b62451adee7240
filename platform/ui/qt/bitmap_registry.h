// Bitmaps and icons by resource id. The lamps (133 green, 134 yellow, 135 red, 136 grey,
// 12x12) are drawn here; the program registers its own images (its icon, 128) at start.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace qx::ui::qt {

inline constexpr int IDB_LAMP_GREEN = 133;
inline constexpr int IDB_LAMP_YELLOW = 134;
inline constexpr int IDB_LAMP_RED = 135;
inline constexpr int IDB_LAMP_GREY = 136;

// Null pixmap / icon for an unknown id. GUI thread only. The lamps are drawn for the given
// device pixel ratio, so they stay sharp on a scaled screen.
QPixmap bitmap(int id, qreal device_pixel_ratio = 1.0);
QIcon icon(int id);

// Registers an image (e.g. from a compiled-in Qt resource ":/...") under a resource id.
void register_bitmap(int id, const QPixmap& pixmap);
void register_icon(int id, const QIcon& icon);
// The same from a file or resource path; false when it holds no image.
bool register_icon(int id, const QString& path);

}  // namespace qx::ui::qt
