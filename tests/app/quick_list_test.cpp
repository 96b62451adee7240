// CQuickList and CQuickEdit driven with QTest, offscreen: the record each cell is asked with,
// how a record is drawn, the notifications, and every way an edit begins and ends.
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "platform/ui/qt/quick_list.h"

namespace qx::ui::qt {
namespace {

struct edit_end {
    int item, subitem;
    std::optional<std::string> text;
    bool operator==(const edit_end&) const = default;
};

// Cells "r<item> c<subitem>"; column 0 has a check box; editable unless told otherwise.
class recording_parent : public quick_list_parent {
public:
    bool editable = true;
    bool cancel_begin = false;
    std::optional<std::string> begin_text;  // what the parent puts in the editor
    std::vector<cell_info> asked;           // each record as the list handed it over
    std::vector<cell_click> clicks, read_only;
    std::vector<std::tuple<int, int, std::string>> begins;
    std::vector<edit_end> ends;
    int lost_focus = 0;
    int max_item_asked = -1;

    void get_cell_info(cell_info& r) override {
        asked.push_back(r);
        max_item_asked = std::max(max_item_asked, r.item);
        r.text = "r" + std::to_string(r.item) + " c" + std::to_string(r.subitem);
        r.editable = editable;
        r.check_box = r.subitem == 0;
        // Fields a stale record would carry into the next request.
        r.bold = true;
        r.image = 3;
        r.colours[0] = 0x000000FF;
    }
    void cell_clicked(const cell_click& c) override { clicks.push_back(c); }
    void read_only_double_click(const cell_click& c) override { read_only.push_back(c); }
    void edit_lost_focus() override { ++lost_focus; }
    bool begin_edit(int item, int subitem, std::string& text) override {
        begins.emplace_back(item, subitem, text);
        if (begin_text) text = *begin_text;
        return cancel_begin;
    }
    void end_edit(int item, int subitem, std::optional<std::string> text) override { ends.push_back({item, subitem, text}); }
};

class quick_list_test : public ::testing::Test {
protected:
    recording_parent parent;  // outlives the list
    QDialog host;
    QPushButton* default_button;
    QLineEdit* other;
    CQuickList* list;

    explicit quick_list_test(quick_list_options o = {}) {
        QFont f = host.font();
        f.setPointSize(f.pointSize() + 3);
        host.setFont(f);
        default_button = new QPushButton("OK", &host);
        default_button->setDefault(true);
        default_button->setGeometry(10, 270, 80, 24);
        other = new QLineEdit(&host);
        other->setGeometry(100, 270, 80, 24);
        list = new CQuickList(parent, &host, o);
        list->setFont(QFont(host.font().family(), 8));
        list->setGeometry(0, 0, 400, 260);
        list->set_columns({{"Name", 120}, {"Size", 80, list_column::right}, {"Date", 100}});
        list->set_row_count(50);
        host.resize(400, 300);
        host.show();
        host.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&host));
        list->setFocus();
        EXPECT_TRUE(QTest::qWaitFor([&] { return list->hasFocus(); }, 5000));
    }

    QPoint centre(int item, int subitem) const { return list->cell_rect(item, subitem).center(); }
    QPoint text_point(int item, int subitem) {
        return CQuickList::geometry(list->cell(item, subitem), list->cell_rect(item, subitem)).text.center();
    }
    void double_click(QPoint p) { QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, p); }
    // Starts editing (2, 1) with F2 and returns the editor.
    CQuickEdit* edit_2_1() {
        list->set_focused_cell(2, 1);
        QTest::keyClick(list, Qt::Key_F2);
        EXPECT_TRUE(list->editing());
        return list->editor();
    }
};

TEST_F(quick_list_test, asks_every_cell_with_a_freshly_reset_record) {
    parent.asked.clear();
    (void)list->cell(4, 1);
    (void)list->cell(5, 2);
    ASSERT_EQ(parent.asked.size(), 2u);
    for (const cell_info& r : parent.asked) {
        EXPECT_EQ(r.text, "");
        EXPECT_FALSE(r.editable);
        EXPECT_FALSE(r.bold);
        EXPECT_FALSE(r.italic);
        EXPECT_EQ(r.text_format, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
        EXPECT_EQ(r.image, -1);
        EXPECT_FALSE(r.centred_image);
        EXPECT_FALSE(r.centred_check_box);
        EXPECT_FALSE(r.check_box);
        for (std::uint32_t c : r.colours) EXPECT_EQ(c, default_colour);
        EXPECT_FALSE(r.selected);
        EXPECT_FALSE(r.hot);
    }
    EXPECT_EQ(parent.asked[0].item, 4);
    EXPECT_EQ(parent.asked[0].subitem, 1);
    EXPECT_EQ(parent.asked[1].item, 5);
    EXPECT_EQ(parent.asked[1].subitem, 2);
}

TEST_F(quick_list_test, asks_only_for_the_rows_it_shows) {
    list->set_row_count(1'000'000);
    parent.max_item_asked = -1;
    list->viewport()->repaint();
    EXPECT_GE(parent.max_item_asked, 0);
    EXPECT_LT(parent.max_item_asked, 100);
    EXPECT_EQ(list->model()->data(list->model()->index(999'999, 2)).toString(), "r999999 c2");
}

TEST_F(quick_list_test, default_record_draws_left_single_line_with_ellipsis_in_the_lists_colours) {
    cell_info r;
    r.reset(0, 0);
    const auto look = list->look(r, 0);
    EXPECT_EQ(look.alignment, Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_TRUE(look.single_line);
    EXPECT_EQ(look.elide, Qt::ElideRight);
    EXPECT_EQ(look.text, list->palette().color(QPalette::Active, QPalette::Text));
    EXPECT_EQ(look.background, list->palette().color(QPalette::Active, QPalette::Base));
    EXPECT_FALSE(look.bold);

    // The column's alignment from the header, and a colour of the record's own (0x00BBGGRR).
    EXPECT_EQ(list->look(r, 1).alignment, Qt::AlignRight | Qt::AlignVCenter);
    r.colours[1] = 0x00FF0000;
    r.text_format = DT_CENTER;
    const auto own = list->look(r, 0);
    EXPECT_EQ(own.background, QColor(0, 0, 255));
    EXPECT_EQ(own.alignment, Qt::AlignHCenter | Qt::AlignTop);
    EXPECT_EQ(own.elide, Qt::ElideNone);
    EXPECT_FALSE(own.single_line);
}

TEST_F(quick_list_test, marks_cells_selected_by_row_column_and_focus) {
    list->set_focused_cell(2, 0);
    EXPECT_TRUE(list->cell(2, 0).selected);
    EXPECT_TRUE(list->cell(2, 2).selected);  // full-row selection
    EXPECT_FALSE(list->cell(1, 0).selected);

    quick_list_options o = list->options();
    o.full_row_selection = false;
    list->set_options(o);
    EXPECT_TRUE(list->cell(2, 0).selected);
    EXPECT_FALSE(list->cell(2, 2).selected);

    other->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return other->hasFocus(); }, 5000));
    EXPECT_FALSE(list->cell(2, 0).selected);
    o.show_selection_always = true;
    list->set_options(o);
    EXPECT_TRUE(list->cell(2, 0).selected);
}

TEST_F(quick_list_test, click_reports_the_cell_focuses_its_column_and_tells_a_check_box_hit) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, text_point(3, 1));
    ASSERT_EQ(parent.clicks.size(), 1u);
    EXPECT_EQ(parent.clicks[0].item, 3);
    EXPECT_EQ(parent.clicks[0].subitem, 1);
    EXPECT_FALSE(parent.clicks[0].on_check_box);
    EXPECT_EQ(list->focused_column(), 1);

    const QPoint box = CQuickList::geometry(list->cell(4, 0), list->cell_rect(4, 0)).check_box.center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
    ASSERT_EQ(parent.clicks.size(), 2u);
    EXPECT_EQ(parent.clicks[1].item, 4);
    EXPECT_TRUE(parent.clicks[1].on_check_box);
    EXPECT_EQ(list->focused_column(), 0);
}

TEST_F(quick_list_test, double_click_on_a_read_only_cell_reports_it_and_does_not_edit) {
    parent.editable = false;
    double_click(text_point(5, 2));
    ASSERT_EQ(parent.read_only.size(), 1u);
    EXPECT_EQ(parent.read_only[0].item, 5);
    EXPECT_EQ(parent.read_only[0].subitem, 2);
    EXPECT_TRUE(parent.begins.empty());
    EXPECT_FALSE(list->editing());
}

TEST_F(quick_list_test, double_click_edits_an_editable_cell_with_its_text_selected_in_the_parents_font) {
    double_click(text_point(6, 1));
    ASSERT_EQ(parent.begins.size(), 1u);
    EXPECT_EQ(parent.begins[0], std::make_tuple(6, 1, std::string("r6 c1")));
    ASSERT_TRUE(list->editing());
    CQuickEdit* e = list->editor();
    EXPECT_EQ(e->text(), "r6 c1");
    EXPECT_EQ(e->selectedText(), "r6 c1");
    EXPECT_TRUE(QTest::qWaitFor([&] { return e->hasFocus(); }, 5000));
    EXPECT_EQ(e->font(), host.font());
    EXPECT_TRUE(parent.read_only.empty());
}

TEST_F(quick_list_test, double_click_on_the_check_box_of_an_editable_cell_does_not_edit) {
    const QPoint box = CQuickList::geometry(list->cell(4, 0), list->cell_rect(4, 0)).check_box.center();
    double_click(box);
    EXPECT_TRUE(parent.begins.empty());
    EXPECT_TRUE(parent.read_only.empty());
    EXPECT_FALSE(list->editing());
}

TEST_F(quick_list_test, parent_cancels_an_edit_from_the_begin_notification) {
    parent.cancel_begin = true;
    list->set_focused_cell(2, 1);
    QTest::keyClick(list, Qt::Key_F2);
    EXPECT_EQ(parent.begins.size(), 1u);
    EXPECT_FALSE(list->editing());
    EXPECT_TRUE(parent.ends.empty());
}

TEST_F(quick_list_test, editor_starts_with_the_parents_text_and_holds_at_least_2048_characters) {
    parent.begin_text = "changed";
    CQuickEdit* e = edit_2_1();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->text(), "changed");
    EXPECT_EQ(e->maxLength(), 2048);
    EXPECT_EQ(CQuickList::edit_capacity(QString(1000, QLatin1Char('x'))), 4000);
    EXPECT_EQ(CQuickList::edit_capacity(QString(100, QLatin1Char('x'))), 2048);
}

TEST_F(quick_list_test, enter_ends_an_edit_keeping_the_typed_text_without_pressing_the_default_button) {
    QSignalSpy pressed(default_button, &QPushButton::clicked);
    CQuickEdit* e = edit_2_1();
    QTest::keyClicks(e, "new name");
    QTest::keyClick(e, Qt::Key_Return);
    EXPECT_FALSE(list->editing());
    EXPECT_EQ(parent.ends, (std::vector<edit_end>{{2, 1, "new name"}}));
    EXPECT_EQ(pressed.count(), 0);
}

TEST_F(quick_list_test, escape_ends_an_edit_discarding_the_text_without_closing_the_dialog) {
    QSignalSpy rejected(&host, &QDialog::rejected);
    CQuickEdit* e = edit_2_1();
    QTest::keyClicks(e, "thrown away");
    QTest::keyClick(e, Qt::Key_Escape);
    EXPECT_FALSE(list->editing());
    EXPECT_EQ(parent.ends, (std::vector<edit_end>{{2, 1, std::nullopt}}));
    EXPECT_EQ(rejected.count(), 0);
    EXPECT_TRUE(host.isVisible());
}

TEST_F(quick_list_test, losing_the_focus_ends_the_edit_keeping_its_text) {
    CQuickEdit* e = edit_2_1();
    ASSERT_TRUE(QTest::qWaitFor([&] { return e->hasFocus(); }, 5000));
    QTest::keyClicks(e, "kept");
    other->setFocus(Qt::MouseFocusReason);
    EXPECT_FALSE(list->editing());
    EXPECT_EQ(parent.ends, (std::vector<edit_end>{{2, 1, "kept"}}));
    EXPECT_EQ(parent.lost_focus, 0);
}

TEST_F(quick_list_test, losing_the_focus_tells_the_parent_when_the_edit_does_not_end_on_it) {
    quick_list_options o = list->options();
    o.end_edit_on_focus_loss = false;
    list->set_options(o);
    CQuickEdit* e = edit_2_1();
    ASSERT_TRUE(QTest::qWaitFor([&] { return e->hasFocus(); }, 5000));
    other->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(parent.lost_focus, 1);
    EXPECT_TRUE(list->editing());
    EXPECT_TRUE(parent.ends.empty());
}

TEST_F(quick_list_test, mouse_wheel_and_scrolling_end_a_running_edit) {
    CQuickEdit* e = edit_2_1();
    QTest::keyClicks(e, "wheel");
    const QPoint at = centre(4, 0);
    QWheelEvent wheel(at, list->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(list->viewport(), &wheel);
    EXPECT_FALSE(list->editing());
    ASSERT_EQ(parent.ends.size(), 1u);
    EXPECT_EQ(parent.ends[0].text, std::optional<std::string>("wheel"));

    list->verticalScrollBar()->setValue(0);
    e = edit_2_1();
    ASSERT_NE(e, nullptr);
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->value() + 3);
    EXPECT_FALSE(list->editing());
    EXPECT_EQ(parent.ends.size(), 2u);
}

TEST_F(quick_list_test, left_and_right_move_the_focused_column_and_enter_and_f2_edit_it) {
    list->set_focused_cell(2, 0);
    QTest::keyClick(list, Qt::Key_Right);
    EXPECT_EQ(list->focused_column(), 1);
    QTest::keyClick(list, Qt::Key_Right);
    QTest::keyClick(list, Qt::Key_Right);
    EXPECT_EQ(list->focused_column(), 2);  // stops at the last column
    QTest::keyClick(list, Qt::Key_Left);
    EXPECT_EQ(list->focused_column(), 1);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->focused_column(), 1);

    QTest::keyClick(list, Qt::Key_F2);
    ASSERT_TRUE(list->editing());
    QTest::keyClick(list->editor(), Qt::Key_Escape);
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_TRUE(list->editing());
    using begin = std::tuple<int, int, std::string>;
    EXPECT_EQ(parent.begins, (std::vector<begin>{{3, 1, "r3 c1"}, {3, 1, "r3 c1"}}));
}

TEST_F(quick_list_test, keys_do_not_edit_or_move_the_column_when_their_options_are_off) {
    quick_list_options o = list->options();
    o.column_navigation = false;
    o.edit_on_f2 = false;
    o.edit_on_enter = false;
    list->set_options(o);
    list->set_focused_cell(2, 0);
    QTest::keyClick(list, Qt::Key_Right);
    QTest::keyClick(list, Qt::Key_F2);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(list->focused_column(), 0);
    EXPECT_TRUE(parent.begins.empty());
}

TEST_F(quick_list_test, refuses_to_edit_a_missing_cell_or_a_column_of_4_pixels_or_less) {
    list->setColumnWidth(1, 4);
    EXPECT_FALSE(list->edit_cell(0, 1));
    EXPECT_FALSE(list->edit_cell(0, 3));
    EXPECT_FALSE(list->edit_cell(50, 0));
    EXPECT_FALSE(list->edit_cell(-1, 0));
    EXPECT_TRUE(parent.begins.empty());
    list->setColumnWidth(1, 5);
    EXPECT_TRUE(list->edit_cell(0, 1));
}

TEST_F(quick_list_test, fewer_rows_cancel_an_edit_of_a_row_that_is_gone) {
    ASSERT_TRUE(list->edit_cell(10, 0));
    list->set_row_count(20);
    EXPECT_TRUE(list->editing());
    list->set_row_count(5);
    EXPECT_FALSE(list->editing());
    EXPECT_EQ(parent.ends, (std::vector<edit_end>{{10, 0, std::nullopt}}));
}

}  // namespace
}  // namespace qx::ui::qt
