// contact_sheet DIR NAME...: lays the screenshots DIR/NAME.png side by side, each under its
// name, into DIR/contact_sheet.png. Fails when a named screenshot is missing or unreadable.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

namespace {

constexpr int columns = 3;
constexpr int margin = 16;

struct shot {
    QString name;
    QImage image;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: contact_sheet DIR NAME...\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    std::vector<shot> shots;
    for (int i = 2; i < argc; ++i) {
        const QString name = QString::fromLocal8Bit(argv[i]);
        QImage image(dir.filePath(name + QStringLiteral(".png")));
        if (image.isNull()) {
            std::fprintf(stderr, "missing screenshot: %s.png\n", argv[i]);
            return 1;
        }
        // Screenshots of scaled windows are shown at their logical size.
        image.setDevicePixelRatio(1);
        shots.push_back({name, image});
    }

    QFont font;
    font.setPointSize(11);
    const QFontMetrics fm(font);
    int cell_w = 0, cell_h = 0;
    for (const shot& s : shots) {
        cell_w = std::max({cell_w, s.image.width(), fm.horizontalAdvance(s.name)});
        cell_h = std::max(cell_h, s.image.height());
    }
    cell_h += fm.height() + margin / 2;
    const int count = static_cast<int>(shots.size());
    const int cols = std::min(columns, count), rows = (count + columns - 1) / columns;
    QImage sheet(margin + cols * (cell_w + margin), margin + rows * (cell_h + margin), QImage::Format_RGB32);
    sheet.fill(QColor(96, 96, 96));
    QPainter p(&sheet);
    p.setFont(font);
    p.setPen(Qt::white);
    for (int i = 0; i < count; ++i) {
        const int x = margin + (i % columns) * (cell_w + margin), y = margin + (i / columns) * (cell_h + margin);
        p.drawText(x, y + fm.ascent(), shots[i].name);
        p.drawImage(x, y + fm.height() + margin / 2, shots[i].image);
    }
    p.end();
    const QString out = dir.filePath(QStringLiteral("contact_sheet.png"));
    if (!sheet.save(out, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("%s: %d screenshots\n", qPrintable(out), count);
    return 0;
}
