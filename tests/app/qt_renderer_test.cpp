// The Qt renderer offscreen: windows built from templates, model changes from other threads,
// user events posted to the logic thread, prompts that block only their caller, the busy
// cursor, and list controls fed by their dialog.
#include <condition_variable>
#include <mutex>
#include <thread>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QTest>

#include <gtest/gtest.h>

#include "platform/ui/qt/dialog_window.h"
#include "platform/ui/qt/quick_list.h"
#include "platform/ui/qt/qt_renderer.h"

namespace qx::ui::qt {
namespace {

constexpr int wait_ms = 10000;

dialog_template demo_template() {
    return {300, "Demo", 200, 120, 0,
            {{10, control_kind::button, "Press", 5, 5, 50, 14},
             {11, control_kind::label, "idle", 60, 5, 100, 10},
             {12, control_kind::progress, "", 5, 25, 100, 10},
             {13, control_kind::lamp, "", 110, 25, 8, 8},
             {14, control_kind::list, "", 5, 40, 190, 60},
             {15, control_kind::checkbox, "Option", 5, 105, 60, 10},
             {16, control_kind::label, "hidden", 70, 105, 40, 10, false}}};
}

class demo_dialog : public dialog {
public:
    demo_dialog() : dialog(demo_template()) {}
    enum class on_press { mark, prompt, block } press = on_press::mark;
    std::thread::id handler_thread;
    int answer = 0;
    std::mutex mutex;
    std::condition_variable cv;
    bool released = false;

    void release() {
        {
            std::lock_guard lock(mutex);
            released = true;
        }
        cv.notify_all();
    }
    void on_get_cell_info(int list_id, cell_info& r) override {
        if (list_id == 14) r.text = "r" + std::to_string(r.item) + " c" + std::to_string(r.subitem);
    }

protected:
    void on_init() override {
        model().set_columns(14, {{"A", 60}, {"B", 60}});
        model().set_row_count(14, 3);
    }
    void on_command(int id) override {
        if (id == 10) {
            handler_thread = std::this_thread::get_id();
            if (press == on_press::prompt) answer = message_box("Go on?", "Question", MB_YESNO | MB_ICONQUESTION);
            if (press == on_press::block) {
                std::unique_lock lock(mutex);
                cv.wait_for(lock, std::chrono::seconds(10), [&] { return released; });
            }
            model().set_text(11, "clicked");
        } else if (id == 15) {
            model().set_text(11, model().checked(15) ? "on" : "off");
        }
        dialog::on_command(id);
    }
    void on_read_only_double_click(int list_id, const cell_click& c) override {
        model().set_text(11, "double " + std::to_string(list_id) + " " + std::to_string(c.item) + " " + std::to_string(c.subitem));
    }
};

// The dialog runs from a thread of its own; the test's (GUI) thread pumps events meanwhile.
class qt_renderer_test : public ::testing::Test {
protected:
    qt_renderer r;
    demo_dialog d;
    std::thread runner;
    std::atomic<bool> finished{false};
    int result = 0;
    dialog_window* w = nullptr;

    void SetUp() override {
        runner = std::thread([this] {
            result = d.run_modal(r);
            finished = true;
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return (w = r.window(d)) != nullptr; }, wait_ms));
        ASSERT_TRUE(QTest::qWaitFor([&] { return list()->row_count() == 3; }, wait_ms));
    }
    void TearDown() override {
        d.release();
        d.cancel();
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, wait_ms));
        if (finished) runner.join();
        else runner.detach();  // already failed; do not hang
    }
    template <class T>
    T* control(int id) {
        return qobject_cast<T*>(w->control(id));
    }
    CQuickList* list() { return control<CQuickList>(14); }
    QString label() { return control<QLabel>(11)->text(); }
    static QMessageBox* open_box() {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) return box;
        return nullptr;
    }
};

TEST_F(qt_renderer_test, builds_a_window_from_the_template_in_dialog_units) {
    EXPECT_EQ(w->windowTitle(), "Demo");
    // Four horizontal units are one average letter, eight vertical ones the font's height.
    const dialog_units& u = w->units();
    const QFontMetricsF fm(w->font());
    EXPECT_NEAR(u.x(4), fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52, 0.5);
    EXPECT_EQ(u.y(8), QFontMetrics(w->font()).height());
    EXPECT_EQ(w->size(), QSize(u.x(200), u.y(120)));
    EXPECT_EQ(w->control(11)->geometry(), QRect(u.x(60), u.y(5), u.x(100), u.y(10)));
    EXPECT_EQ(label(), "idle");
    EXPECT_EQ(control<QPushButton>(10)->text(), "Press");
    EXPECT_FALSE(w->control(16)->isVisibleTo(w));
    EXPECT_TRUE(w->control(15)->isVisibleTo(w));
    EXPECT_EQ(list()->column_count(), 2);
    EXPECT_EQ(list()->model()->headerData(1, Qt::Horizontal).toString(), "B");
    EXPECT_EQ(list()->model()->data(list()->model()->index(1, 1)).toString(), "r1 c1");
}

TEST_F(qt_renderer_test, model_changes_from_a_worker_thread_reach_the_window) {
    std::thread worker([&] {
        d.model().set_range(12, 0, 200);
        d.model().set_position(12, 150);
        d.model().set_bitmap(13, 133);
        d.model().set_visible(16, true);
        d.model().set_enabled(10, false);
        d.model().set_caption("Working");
        d.model().set_text(11, "from worker");
    });
    worker.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return label() == "from worker"; }, wait_ms));
    EXPECT_EQ(control<QProgressBar>(12)->maximum(), 200);
    EXPECT_EQ(control<QProgressBar>(12)->value(), 150);
    const QPixmap lamp = control<QLabel>(13)->pixmap();
    ASSERT_FALSE(lamp.isNull());
    EXPECT_EQ(lamp.size(), QSize(12, 12));
    EXPECT_EQ(lamp.toImage().pixelColor(6, 6).green() > lamp.toImage().pixelColor(6, 6).red(), true);
    EXPECT_TRUE(w->control(16)->isVisibleTo(w));
    EXPECT_FALSE(w->control(10)->isEnabled());
    EXPECT_EQ(w->windowTitle(), "Working");
}

TEST_F(qt_renderer_test, clicks_run_on_the_logic_thread_and_escape_ends_the_dialog_as_cancel) {
    QTest::mouseClick(control<QPushButton>(10), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label() == "clicked"; }, wait_ms));
    EXPECT_NE(d.handler_thread, std::this_thread::get_id());

    QTest::mouseClick(control<QCheckBox>(15), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label() == "on"; }, wait_ms));
    EXPECT_TRUE(d.model().checked(15));

    QTest::keyClick(w, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, wait_ms));
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(r.window(d), nullptr);
}

TEST_F(qt_renderer_test, the_close_box_asks_the_dialog_to_cancel) {
    w->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, wait_ms));
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(qt_renderer_test, a_prompt_blocks_only_its_caller_while_the_window_stays_live) {
    d.press = demo_dialog::on_press::prompt;
    QTest::mouseClick(control<QPushButton>(10), Qt::LeftButton);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (box = open_box()) != nullptr; }, wait_ms));
    EXPECT_EQ(box->text(), "Go on?");
    EXPECT_EQ(box->windowTitle(), "Question");
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->parentWidget(), w);

    // While the logic thread waits for the answer, changes from elsewhere still show.
    std::thread worker([&] { d.model().set_text(11, "meanwhile"); });
    worker.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return label() == "meanwhile"; }, wait_ms));
    EXPECT_EQ(d.answer, 0);

    QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label() == "clicked"; }, wait_ms));
    EXPECT_EQ(d.answer, IDYES);
}

TEST_F(qt_renderer_test, shows_the_busy_cursor_while_a_handler_runs) {
    auto busy = [&] { return w->cursor().shape() == Qt::WaitCursor; };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !busy(); }, wait_ms));  // on_init has finished
    d.press = demo_dialog::on_press::block;
    QTest::mouseClick(control<QPushButton>(10), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(busy, wait_ms));
    EXPECT_NE(label(), "clicked");
    d.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return label() == "clicked" && !busy(); }, wait_ms));
}

TEST_F(qt_renderer_test, list_reports_a_read_only_double_click_to_its_dialog) {
    CQuickList* l = list();
    QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, l->cell_rect(2, 1).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return label() == "double 14 2 1"; }, wait_ms));
    EXPECT_FALSE(l->editing());
}

TEST(qt_file_filter, turns_pipe_separated_pairs_into_qt_filters) {
    EXPECT_EQ(qt_file_filter("PAK files (*.pak)|*.pak|All files (*.*)|*.*"), "PAK files (*.pak);;All files (*.*)");
    EXPECT_EQ(qt_file_filter("Logs|*.qxlog;*.qxcfg"), "Logs (*.qxlog *.qxcfg)");
}

}  // namespace
}  // namespace qx::ui::qt
