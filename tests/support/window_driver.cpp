#include "tests/support/window_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
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

bool choose_in_file_chooser(const QString& path) {
    for (QWidget* top : QApplication::topLevelWidgets())
        for (QFileDialog* chooser : top->findChildren<QFileDialog*>())
            if (chooser->isVisible()) {
                chooser->selectFile(path);
                static_cast<QDialog*>(chooser)->accept();
                return true;
            }
    return false;
}

void click_control(ui::qt::dialog_window& w, int id) {
    QWidget* c = w.control(id);
    ASSERT_NE(c, nullptr) << id;
    w.scroll_area()->ensureWidgetVisible(c);
    QTest::mouseClick(c, Qt::LeftButton, {}, c->rect().center());
}

void save_shot(ui::qt::dialog_window& w, const std::filesystem::path& dir, const std::string& name) {
    QCoreApplication::sendPostedEvents();
    std::filesystem::create_directories(dir);
    // Whole or not at all: the contact sheet may be reading the folder.
    const std::filesystem::path shot = dir / (name + ".png"), part = dir / (name + ".part.png");
    const QPixmap image = w.content()->size() == w.scroll_area()->viewport()->size() ? w.grab() : w.content()->grab();
    ASSERT_TRUE(image.save(QString::fromStdString(part.string()), "PNG")) << name;
    std::filesystem::rename(part, shot);
}

int play(ui::dialog& d, ui::qt::qt_renderer& r, std::vector<window_step> steps, std::chrono::seconds limit) {
    std::size_t next = 0;
    bool exposed = false, given_up = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (given_up) {
            // Until the dialog has ended: every box closed, the dialog cancelled.
            if (QMessageBox* box = shown_box()) box->done(0);
            d.cancel();
            return;
        }
        ui::qt::dialog_window* w = r.window(d);
        if (w == nullptr) return;
        if (!exposed) {
            if (!QTest::qWaitForWindowExposed(w, 5000)) return;
            exposed = true;
        }
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
