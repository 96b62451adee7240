#include "platform/ui/qt/bitmap_registry.h"

#include <cmath>
#include <map>
#include <utility>

#include <QPainter>
#include <QRadialGradient>

namespace qx::ui::qt {
namespace {

struct registry {
    std::map<int, QPixmap> bitmaps;
    std::map<std::pair<int, qreal>, QPixmap> lamps;
    std::map<int, QIcon> icons;
};

registry& images() {
    static registry r;
    return r;
}

// A 12x12 lamp: a shaded disc in `colour` with a dark rim, drawn in device pixels.
QPixmap lamp(QColor colour, qreal ratio) {
    const int side = static_cast<int>(std::ceil(12 * ratio));
    QPixmap p(side, side);
    p.setDevicePixelRatio(ratio);
    p.fill(Qt::transparent);
    QPainter painter(&p);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient shade(QPointF(4.5, 4.0), 7.0);
    shade.setColorAt(0.0, colour.lighter(170));
    shade.setColorAt(1.0, colour.darker(115));
    painter.setBrush(shade);
    painter.setPen(QPen(colour.darker(200), 1.0));
    painter.drawEllipse(QRectF(0.5, 0.5, 11.0, 11.0));
    return p;
}

}  // namespace

QPixmap bitmap(int id, qreal device_pixel_ratio) {
    registry& r = images();
    if (const auto it = r.bitmaps.find(id); it != r.bitmaps.end()) return it->second;
    const qreal ratio = device_pixel_ratio > 0 ? device_pixel_ratio : 1.0;
    if (const auto it = r.lamps.find({id, ratio}); it != r.lamps.end()) return it->second;
    QPixmap p;
    switch (id) {
        case IDB_LAMP_GREEN: p = lamp(QColor(0, 176, 0), ratio); break;
        case IDB_LAMP_YELLOW: p = lamp(QColor(230, 200, 0), ratio); break;
        case IDB_LAMP_RED: p = lamp(QColor(210, 0, 0), ratio); break;
        case IDB_LAMP_GREY: p = lamp(QColor(150, 150, 150), ratio); break;
        default: return {};
    }
    r.lamps[{id, ratio}] = p;
    return p;
}

QIcon icon(int id) {
    registry& r = images();
    if (const auto it = r.icons.find(id); it != r.icons.end()) return it->second;
    return {};
}

void register_bitmap(int id, const QPixmap& pixmap) { images().bitmaps[id] = pixmap; }

void register_icon(int id, const QIcon& i) { images().icons[id] = i; }

bool register_icon(int id, const QString& path) {
    const QPixmap p(path);
    if (p.isNull()) return false;
    register_icon(id, QIcon(p));
    return true;
}

}  // namespace qx::ui::qt
