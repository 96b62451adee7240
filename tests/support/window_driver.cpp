#include "tests/support/window_driver.h"

#include <atomic>
#include <memory>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QScrollArea>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace qx::test_support {

ui::qt::dialog_window* window_of(ui::qt::qt_renderer& r, const ui::dialog& d) { return r.window(d); }

QMessageBox* shown_box(const QString& text) {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible() && (text.isEmpty() || box->text() == text))
            return box;
    // Boxes owned by a window are its children, not top-level widgets of their own.
    for (QWidget* top : QApplication::topLevelWidgets())
        for (QMessageBox* box : top->findChildren<QMessageBox*>())
            if (box->isVisible() && (text.isEmpty() || box->text() == text)) return box;
    return nullptr;
}

bool press(QMessageBox* box, const QString& label) {
    if (box == nullptr) return false;
    for (QAbstractButton* b : box->buttons())
        if (b->text() == label) {
            b->click();
            return true;
        }
    return false;
}

namespace {

QFileDialog* shown_chooser() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* chooser = qobject_cast<QFileDialog*>(top); chooser && chooser->isVisible()) return chooser;
        for (QFileDialog* chooser : top->findChildren<QFileDialog*>())
            if (chooser->isVisible()) return chooser;
    }
    return nullptr;
}

}  // namespace

bool choose_in_file_chooser(const QString& path) {
    QFileDialog* chooser = shown_chooser();
    if (chooser == nullptr) return false;
    // Typed into its file name field, as the technician would.
    auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name == nullptr) return false;
    name->setText(path);
    static_cast<QDialog*>(chooser)->accept();
    return true;
}

void click_control(ui::qt::dialog_window& w, int id) {
    QWidget* c = w.control(id);
    ASSERT_NE(c, nullptr) << id;
    w.scroll_area()->ensureWidgetVisible(c);
    QTest::mouseClick(c, Qt::LeftButton, {}, c->rect().center());
}

void save_shot(ui::qt::dialog_window& w, const std::filesystem::path& dir, const std::string& name, QWidget* over) {
    QCoreApplication::sendPostedEvents();
    std::filesystem::create_directories(dir);
    // Whole or not at all: the contact sheet may be reading the folder.
    const std::filesystem::path shot = dir / (name + ".png"), part = dir / (name + ".part.png");
    QPixmap image = w.content()->size() == w.scroll_area()->viewport()->size() ? w.grab() : w.content()->grab();
    if (over != nullptr) {
        // A box in the middle of the window, as the technician sees it.
        const QPixmap top = over->grab();
        const QSize room = image.deviceIndependentSize().toSize(), size = top.deviceIndependentSize().toSize();
        const QRect place(std::max(0, (room.width() - size.width()) / 2), std::max(0, (room.height() - size.height()) / 2),
                          size.width(), size.height());
        QPainter p(&image);
        p.drawPixmap(place.topLeft(), top);
        p.setPen(Qt::black);
        p.drawRect(place.adjusted(0, 0, -1, -1));
    }
    ASSERT_TRUE(image.save(QString::fromStdString(part.string()), "PNG")) << name;
    std::filesystem::rename(part, shot);
}

int play(ui::dialog& d, ui::qt::qt_renderer& r, std::vector<window_step> steps, std::chrono::seconds limit) {
    std::size_t next = 0;
    bool exposed = false, given_up = false;
    // Set by an event queued behind the dialog's initialisation: the steps begin after it.
    auto initialised = std::make_shared<std::atomic<bool>>(false);
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (given_up) {
            // Until the dialog has ended: every box closed, the dialog cancelled.
            if (QMessageBox* box = shown_box()) box->done(0);
            if (QFileDialog* chooser = shown_chooser()) static_cast<QDialog*>(chooser)->reject();
            d.cancel();
            return;
        }
        ui::qt::dialog_window* w = r.window(d);
        if (w == nullptr) return;
        if (!exposed) {
            if (!QTest::qWaitForWindowExposed(w, 5000)) return;
            exposed = true;
            d.post([initialised] { *initialised = true; });
        }
        if (!*initialised) return;
        // Each step once its condition holds, in order; one step per tick.
        if (next < steps.size() && steps[next].ready()) {
            const std::size_t now = next++;
            if (steps[now].act) steps[now].act();
        }
    });
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(limit), &poll, [&] {
        if (next < steps.size()) ADD_FAILURE() << "never reached: " << steps[next].what;
        given_up = true;
    });
    poll.start();
    const int result = d.run_modal(r);
    poll.stop();
    EXPECT_EQ(next, steps.size()) << "steps played";
    return result;
}

}  // namespace qx::test_support
