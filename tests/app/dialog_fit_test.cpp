// Every dialog's window as the technician reads it, run at scale 1, 1.5 and 2 and at font DPI
// 144 on a screen of 1280 x 1024 pixels (see CMakeLists.txt): the texts the technician needs
// are shown whole (status texts wrap onto more lines, paths keep their file name), any other
// text is whole or shortened where it is drawn with the whole text in its tooltip, an edit
// always holds its whole text, and the window fits the screen with every button reachable.
// Also the look every window shares: Tab order, lamps at the screen's pixel ratio.
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include "app/app_images.h"
#include "app/launcher/velmar_flashdesk_dlg.h"
#include "filetool/log_test_dlg.h"
#include "filetool/log_test_ids.h"
#include "imagetool/image_downloader_template.h"
#include "platform/ui/qt/bitmap_registry.h"
#include "platform/ui/qt/dialog_window.h"
#include "platform/ui/qt/text_fit.h"
#include "update/update_image_dlg.h"

namespace qx::ui::qt {
namespace {

namespace fs = std::filesystem;
using texts = std::map<int, std::vector<std::string>>;

const std::string folder = "/home/technician/Velmar service/ECU update packages/2024-03 field campaign/depot 7/";
const std::string package_path = folder + "0A0B0C0D.pak";
const std::string r8c_path = "/home/technician/Velmar service/R8C/peripheral firmware 3.2.bin";
const std::string date = "2024-03-01 12:00:00 UTC";  // a package date: 23 characters
const std::vector<std::string> serials = {"DDDDDDDD", "0A0B0C0D"};
const std::vector<std::string> versions = {"none", "7", "4294967295"};

// ---- The texts that must be shown whole ----

texts update_whole() {
    texts t = {
        {update_ids::path, {folder}},
        {update_ids::serial_number, serials},
        {update_ids::version, versions},
        {update_ids::progress_text,
         {"Waiting...", "Updating Boot Loader... (0%)", "Boot Loader Update Complete... (25%)", "Updating Firmware... (25%)",
          "Firmware Update Complete... (50%)", "Updating Fixed Model... (50%)", "Fixed Model Update Complete... (75%)",
          "Updating Dynamic Model... (75%)", "Dynamic Model Update Complete... (100%)", "Update Failure! (67%)",
          "Update Success! (100%)"}},
        {update_ids::main_status,
         {"Waiting for Path selection.", "Waiting for ECU connection.", "Waiting for ECU reconnect.", "Safe to disconnect ECU.",
          "ECU not in firmware upgrade mode.  Waiting for ECU reconnect.",
          "Could not retrieve ECU serial number.  Waiting for ECU reconnect.",
          "Could not find update file for connected ECU.  Waiting for ECU reconnect.",
          "Update file for connected ECU invalid.  Waiting for ECU reconnect.",
          "Bootloader Error.  Waiting for ECU reconnect.", "Firmware Error.  Waiting for ECU reconnect.",
          "Fixed Model Error.  Waiting for ECU reconnect.", "Dynamic Model Error.  Waiting for ECU reconnect.",
          "Updating ECU image(s).  Do not disconnect ECU until complete.", no_ecu_answered_text(12), update_stopped_text}},
    };
    for (const image_row_ids& r : update_rows) {
        t[r.date] = {date};
        t[r.version] = versions;
        t[r.status] = {"Waiting...", "Looking for PAK image.", "Not selected for update.", "PAK image found.  Validating.",
                       "Ready.", "Invalid PAK image.", "No PAK image found.", "PAK image invalid.", "PAK image cannot be read.",
                       "PAK image not for given ECU.  Serial number mismatch.", "File type mismatch.",
                       "File not for given ECU.  Serial number mismatch.", "Command Error.  Check USB connection.",
                       "Communication Error.  Check USB connection.", "Reverifying File...", "Erasing Flash...",
                       "Loading Image...", "Loaded successfully.", "Required image not selected.",
                       "File version not for connected ECU.", "PAK file invalid.", "Unknown image type.",
                       "Command Error:  Check USB connection.", "Communication Error:  Check USB connection.",
                       "Stopped by the technician."};
    }
    return t;
}

texts image_tool_whole() {
    using namespace imagetool;
    return {{IDC_ECU_SERIAL, serials}, {IDC_PAK_FILE, {package_path}}, {IDC_DATE, {date}}, {IDC_R8C_FILE, {r8c_path}}};
}

texts file_tool_whole() {
    using namespace filetool;
    return {{IDC_PROGRESS_TEXT, {"0.000 %", "33.333 %", "100.000 %"}}};
}

// ---- Texts that may be longer than any place: whole, or shortened with a tooltip ----

texts update_longest() {
    texts t;
    for (const image_row_ids& r : update_rows) {
        t[r.image] = {"Dynamic Model Data 2024-03", std::string(64, 'M')};
        t[r.author] = {"Velmar Engineering", std::string(64, 'W')};
        t[r.date] = {std::string(256, '9')};
    }
    return t;
}

texts image_tool_longest() {
    using namespace imagetool;
    return {{IDC_AUTHOR, {"Velmar Engineering", std::string(64, 'W')}}, {IDC_DATE, {std::string(256, '9')}}};
}

texts file_tool_longest() {
    using namespace filetool;
    return {{IDC_DIAG_LBA, {"lba = dddddddd"}},
            {IDC_DIAG_NUM_FILES, {"num_files = dddddddd"}},
            {IDC_DIAG_FILE_INDEX, {"file index = dddddddd"}},
            {IDC_DIAG_FILE_BLOCKS, {"file blocks = dddddddd"}},
            {IDC_DIAG_SECTORS, {"sectors = dddddddd"}},
            {IDC_DIAG_SECTOR_COUNT, {"sector_count = dddddddd"}}};
}

struct fit_case {
    const char* name;
    std::function<dialog_template()> layout;
    std::function<texts()> whole;
    std::function<texts()> longest;
};

std::ostream& operator<<(std::ostream& os, const fit_case& c) { return os << c.name; }

// The setting this run was started with, for the screenshots' names.
std::string setting() {
    if (qEnvironmentVariableIsSet("QT_FONT_DPI")) return "@" + qEnvironmentVariable("QT_FONT_DPI").toStdString() + "dpi";
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR");
    return scale.isEmpty() || scale == QLatin1String("1") ? "" : "@" + scale.toStdString() + "x";
}

bool has_text(control_kind k) {
    return k != control_kind::progress && k != control_kind::lamp && k != control_kind::list &&
           k != control_kind::group_box;
}

// What the technician sees of the control's text.
QString seen(const QWidget* w) {
    if (const auto* e = qobject_cast<const fitted_line_edit*>(w)) return e->drawn_text();
    if (const auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    if (const auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    return {};
}

// A label's text, wrapped or not, lies inside the label.
void expect_label_holds(const QLabel* l) {
    if (l->wordWrap()) {
        EXPECT_LE(l->heightForWidth(l->width()), l->height());
    } else {
        EXPECT_LE(std::ceil(QFontMetricsF(l->font()).horizontalAdvance(l->text())), text_room(l));
    }
}

// Whole, and inside its control. A path keeps its last part whole in what is drawn.
void expect_whole(const QWidget* w, const std::string& text, const control_template& c) {
    SCOPED_TRACE("control " + std::to_string(c.id) + ": " + text);
    const QString whole = QString::fromStdString(text);
    if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
        EXPECT_EQ(e->text(), whole);  // what copying takes
    }
    if (c.path) {
        const QString tail = whole.mid(whole.lastIndexOf(QLatin1Char('/'), whole.size() - 2));
        EXPECT_TRUE(seen(w).endsWith(tail)) << seen(w).toStdString();
        EXPECT_LE(std::ceil(QFontMetricsF(w->font()).horizontalAdvance(seen(w))), text_room(w));
        return;
    }
    EXPECT_EQ(seen(w), whole);
    EXPECT_TRUE(w->toolTip().isEmpty());
    if (const auto* l = qobject_cast<const QLabel*>(w)) {
        expect_label_holds(l);
    } else {
        EXPECT_TRUE(fits(w, whole)) << text_room(w);
    }
}

// Whole, or shortened where drawn with the whole text in the tooltip; an edit holds it whole.
void expect_readable(const QWidget* w, const std::string& text, int id) {
    SCOPED_TRACE("control " + std::to_string(id) + ": " + text);
    const QString whole = QString::fromStdString(text), shown = seen(w);
    if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
        EXPECT_EQ(e->text(), whole);
    }
    if (const auto* l = qobject_cast<const QLabel*>(w); l && l->wordWrap()) {
        EXPECT_EQ(shown, whole);
        expect_label_holds(l);
        return;
    }
    EXPECT_LE(std::ceil(QFontMetricsF(w->font()).horizontalAdvance(shown)), text_room(w));
    if (shown == whole) {
        EXPECT_TRUE(w->toolTip().isEmpty());
    } else {
        ASSERT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
        EXPECT_TRUE(whole.startsWith(shown.chopped(1)));
        EXPECT_EQ(w->toolTip(), whole);
    }
}

// No shown control covers another (group boxes frame them).
void expect_no_overlap(const dialog_window& w, const dialog_template& t) {
    for (const control_template& c : t.controls) {
        const QWidget* a = w.control(c.id);
        if (c.kind == control_kind::group_box || !a->isVisibleTo(w.content())) continue;
        EXPECT_TRUE(w.content()->rect().contains(a->geometry())) << c.id;
        for (const control_template& o : t.controls) {
            const QWidget* b = w.control(o.id);
            if (o.id <= c.id || o.kind == control_kind::group_box || !b->isVisibleTo(w.content())) continue;
            EXPECT_FALSE(a->geometry().intersects(b->geometry())) << c.id << " over " << o.id;
        }
    }
}

class dialog_fit : public ::testing::TestWithParam<fit_case> {};

TEST_P(dialog_fit, the_texts_the_technician_needs_are_whole_the_others_readable) {
    register_app_images();
    dialog d(GetParam().layout());
    dialog_window w(d, nullptr);
    w.show();
    // Its template's caption, and the program's icon on every window.
    EXPECT_EQ(w.windowTitle().toStdString(), d.layout().caption);
    EXPECT_FALSE(w.windowIcon().isNull());
    auto control_of = [&](int id) -> const control_template& {
        for (const control_template& c : d.layout().controls)
            if (c.id == id) return c;
        throw std::out_of_range("no control");
    };

    // The template's own texts (labels, buttons, boxes) are whole.
    for (const control_template& c : d.layout().controls)
        if (has_text(c.kind) && !c.text.empty()) expect_whole(w.control(c.id), c.text, c);
    for (const auto& [id, candidates] : GetParam().whole()) {
        for (const std::string& text : candidates) {
            d.model().set_text(id, text);
            w.apply(id);
            expect_whole(w.control(id), text, control_of(id));
            expect_no_overlap(w, d.layout());
        }
    }
    for (const auto& [id, candidates] : GetParam().longest()) {
        for (const std::string& text : candidates) {
            d.model().set_text(id, text);
            w.apply(id);
            expect_readable(w.control(id), text, id);
        }
    }

    // The longest text of each, the lamps lit, as a screenshot.
    for (const auto& [id, candidates] : GetParam().whole()) {
        std::string widest;
        for (const std::string& text : candidates)
            if (text.size() > widest.size()) widest = text;
        d.model().set_text(id, widest);
        w.apply(id);
    }
    for (const control_template& c : d.layout().controls)
        if (c.kind == control_kind::lamp) {
            d.model().set_bitmap(c.id, IDB_LAMP_RED);
            w.apply(c.id);
        }
    expect_no_overlap(w, d.layout());
    const fs::path shots = FLASHDESK_SCREENSHOT_DIR;
    fs::create_directories(shots);
    const std::string name = std::string(GetParam().name) + "_longest_texts" + setting() + ".png";
    EXPECT_TRUE(w.content()->grab().save(QString::fromStdString((shots / name).string()), "PNG"));
}

// The window fits the screen's free area, its frame included; what it cannot show scrolls, and
// every button can be brought into view.
TEST_P(dialog_fit, the_window_fits_the_screen_and_every_button_can_be_reached) {
    dialog d(GetParam().layout());
    dialog_window w(d, nullptr);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QRect area = w.screen()->availableGeometry();
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("2")) {
        EXPECT_EQ(area.size(), QSize(640, 512));
    }
    EXPECT_TRUE(area.contains(w.frameGeometry())) << w.frameGeometry().width() << "x" << w.frameGeometry().height();
    // Not larger than what it shows needs.
    EXPECT_LE(w.width(), w.content()->width() + w.scroll_area()->verticalScrollBar()->sizeHint().width());
    EXPECT_LE(w.height(), w.content()->height() + w.scroll_area()->horizontalScrollBar()->sizeHint().height());
    for (const control_template& c : d.layout().controls) {
        if (c.kind != control_kind::button && c.kind != control_kind::default_button) continue;
        QWidget* b = w.control(c.id);
        if (!b->isVisibleTo(&w)) continue;
        w.scroll_area()->ensureWidgetVisible(b, 0, 0);
        const QRect in_view(b->mapTo(w.scroll_area()->viewport(), QPoint(0, 0)), b->size());
        EXPECT_TRUE(w.scroll_area()->viewport()->rect().contains(in_view)) << c.text;
    }
}

// Tab goes from control to control in the template's order.
TEST_P(dialog_fit, tab_follows_the_template_order) {
    dialog d(GetParam().layout());
    dialog_window w(d, nullptr);
    std::vector<QWidget*> in_order;
    for (const control_template& c : d.layout().controls) {
        QWidget* widget = w.control(c.id);
        if (widget->focusPolicy() & Qt::TabFocus) in_order.push_back(widget);
    }
    ASSERT_FALSE(in_order.empty());
    std::vector<QWidget*> chain = {in_order.front()};
    for (QWidget* next = in_order.front()->nextInFocusChain(); next != in_order.front() && chain.size() < 200;
         next = next->nextInFocusChain())
        if (std::find(in_order.begin(), in_order.end(), next) != in_order.end()) chain.push_back(next);
    EXPECT_EQ(chain, in_order);
}

INSTANTIATE_TEST_SUITE_P(
    dialogs, dialog_fit,
    ::testing::Values(fit_case{"velmar_flashdesk_launcher", launcher_template, [] { return texts{}; }, [] { return texts{}; }},
                      fit_case{"ecu_update", update_image_template, update_whole, update_longest},
                      fit_case{"firmware_and_id_tool", imagetool::image_downloader_template, image_tool_whole,
                               image_tool_longest},
                      fit_case{"usb_file_tool", qx::log_test_template, file_tool_whole, file_tool_longest}),
    [](const auto& p) { return std::string(p.param.name); });

// Lamps are drawn in device pixels: crisp on a screen scaled by two.
TEST(dialog_window_look, lamps_are_drawn_at_the_windows_pixel_ratio) {
    dialog d(update_image_template());
    dialog_window w(d, nullptr);
    w.show();
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("2")) {
        EXPECT_EQ(w.devicePixelRatioF(), 2.0);
    }
    d.model().set_bitmap(update_ids::main_lamp, IDB_LAMP_GREEN);
    w.apply(update_ids::main_lamp);
    const QPixmap lamp = qobject_cast<QLabel*>(w.control(update_ids::main_lamp))->pixmap();
    EXPECT_EQ(lamp.devicePixelRatio(), w.devicePixelRatioF());
    EXPECT_EQ(lamp.width(), std::lround(12 * w.devicePixelRatioF()));
    EXPECT_EQ(lamp.deviceIndependentSize(), QSizeF(12, 12));
}

}  // namespace
}  // namespace qx::ui::qt
