// Every dialog's windows with the longest texts each static and edit can be given: each text
// shows whole when the widget's own font metrics say it fits, otherwise elided at its end with
// the whole text in its tooltip; never cut. Also the look every window shares: Tab order,
// lamps at the screen's pixel ratio.
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

const std::string long_path =
    "/home/technician/Velmar service/ECU update packages/2024-03 field campaign/depot 7/0A0B0C0D.pak";
const std::string longest_author(64, 'W');
const std::string longest_date(256, '9');
const std::vector<std::string> serials = {"DDDDDDDD", "0A0B0C0D"};
const std::vector<std::string> versions = {"none", "4294967295"};
const std::vector<std::string> dates = {"2024-03-01 12:00:00 UTC", longest_date};

texts update_texts() {
    const std::vector<std::string> row_status = {
        "Waiting...", "Looking for PAK image.", "Not selected for update.", "PAK image found.  Validating.",
        "Invalid PAK image.", "PAK image not for given ECU.  Serial number mismatch.", "File type mismatch.",
        "File not for given ECU.  Serial number mismatch.", "Command Error.  Check USB connection.",
        "Communication Error.  Check USB connection.", "Ready.", "No PAK image found.", "PAK image cannot be read.",
        "Required image not selected.", "Reverifying File...", "Erasing Flash...", "Unknown image type.",
        "Command Error:  Check USB connection.", "Communication Error:  Check USB connection.", "Loading Image...",
        "Loaded successfully.", "File version not for connected ECU.", "Requested pak file location invalid."};
    texts t = {
        {update_ids::path, {long_path}},
        {update_ids::serial_number, serials},
        {update_ids::version, versions},
        {update_ids::progress_text,
         {"Waiting...", "Updating Dynamic Model... (67%)", "Dynamic Model Update Complete... (100%)",
          "Update Failure! (67%)", "Update Success! (100%)"}},
        {update_ids::main_status,
         {"Waiting for Path selection.", "Safe to disconnect ECU.",
          "ECU not in firmware upgrade mode.  Waiting for ECU reconnect.",
          "Could not retrieve ECU serial number.  Waiting for ECU reconnect.",
          "Dynamic Model Error.  Waiting for ECU reconnect.",
          "Could not find update file for connected ECU.  Waiting for ECU reconnect.",
          "Update file for connected ECU invalid.  Waiting for ECU reconnect.",
          "Updating ECU image(s).  Do not disconnect ECU until complete."}},
    };
    for (const image_row_ids& r : update_rows) {
        t[r.image] = {"Dynamic Model Data 2024-03", std::string(64, 'M')};
        t[r.author] = {"Velmar Engineering", longest_author};
        t[r.date] = dates;
        t[r.version] = versions;
        t[r.status] = row_status;
    }
    return t;
}

texts image_tool_texts() {
    using namespace imagetool;
    return {{IDC_ECU_SERIAL, serials},
            {IDC_PAK_FILE, {long_path}},
            {IDC_AUTHOR, {"Velmar Engineering", longest_author}},
            {IDC_DATE, dates},
            {IDC_R8C_FILE, {"/home/technician/Velmar service/R8C/peripheral firmware 3.2.bin"}}};
}

texts file_tool_texts() {
    using namespace filetool;
    return {{IDC_PROGRESS_TEXT, {"0.000 %", "100.000 %"}},
            {IDC_DIAG_LBA, {"lba = dddddddd"}},
            {IDC_DIAG_NUM_FILES, {"num_files = dddddddd"}},
            {IDC_DIAG_FILE_INDEX, {"file index = dddddddd"}},
            {IDC_DIAG_FILE_BLOCKS, {"file blocks = dddddddd"}},
            {IDC_DIAG_SECTORS, {"sectors = dddddddd"}},
            {IDC_DIAG_SECTOR_COUNT, {"sector_count = dddddddd"}}};
}

struct fit_case {
    const char* name;
    std::function<dialog_template()> layout;
    std::function<texts()> longest;
};

std::ostream& operator<<(std::ostream& os, const fit_case& c) { return os << c.name; }

QString shown_text(const QWidget* w) {
    if (const auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (const auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    return {};
}

// Whole and fitting, or elided at its end, fitting, and whole in the tooltip.
void expect_readable(const QWidget* w, const std::string& text, int id) {
    SCOPED_TRACE("control " + std::to_string(id) + ": " + text);
    const QString whole = QString::fromStdString(text), shown = shown_text(w);
    const QFontMetricsF fm(w->font());
    const int room = text_room(w);
    ASSERT_GE(room, 0);
    EXPECT_LE(std::ceil(fm.horizontalAdvance(shown)), room);
    if (shown == whole) {
        EXPECT_TRUE(w->toolTip().isEmpty());
    } else {
        ASSERT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
        EXPECT_TRUE(whole.startsWith(shown.chopped(1)));
        EXPECT_EQ(w->toolTip(), whole);
    }
    if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
        EXPECT_EQ(e->cursorPosition(), 0);  // the start of the text is shown
    }
}

bool has_text(control_kind k) {
    return k != control_kind::progress && k != control_kind::lamp && k != control_kind::list &&
           k != control_kind::group_box;
}

class dialog_fit : public ::testing::TestWithParam<fit_case> {};

TEST_P(dialog_fit, every_text_is_whole_or_elided_with_its_tooltip) {
    register_app_images();
    dialog d(GetParam().layout());
    dialog_window w(d, nullptr);
    w.show();
    const texts longest = GetParam().longest();
    // Its template's caption, and the program's icon on every window.
    EXPECT_EQ(w.windowTitle().toStdString(), d.layout().caption);
    EXPECT_FALSE(w.windowIcon().isNull());

    // The template's own texts (labels, buttons, boxes), then every text a control is given.
    for (const control_template& c : d.layout().controls)
        if (has_text(c.kind)) expect_readable(w.control(c.id), c.text, c.id);
    std::map<int, std::string> widest;
    for (const auto& [id, candidates] : longest) {
        for (const std::string& text : candidates) {
            d.model().set_text(id, text);
            w.apply(id);
            expect_readable(w.control(id), text, id);
            const QFontMetricsF fm(w.control(id)->font());
            if (fm.horizontalAdvance(QString::fromStdString(text)) >
                fm.horizontalAdvance(QString::fromStdString(widest[id])))
                widest[id] = text;
        }
    }

    // A label that took the free width of its row covers no other control.
    for (const control_template& c : d.layout().controls) {
        if (c.kind != control_kind::label) continue;
        for (const control_template& o : d.layout().controls) {
            if (o.id == c.id || o.kind == control_kind::group_box || !o.visible) continue;
            EXPECT_FALSE(w.control(c.id)->geometry().intersects(w.control(o.id)->geometry()))
                << c.id << " over " << o.id;
        }
        EXPECT_TRUE(w.rect().contains(w.control(c.id)->geometry())) << c.id;
    }

    // Each control with its widest text, the lamps lit, as a screenshot.
    for (const auto& [id, text] : widest) {
        d.model().set_text(id, text);
        w.apply(id);
    }
    for (const control_template& c : d.layout().controls)
        if (c.kind == control_kind::lamp) {
            d.model().set_bitmap(c.id, IDB_LAMP_RED);
            w.apply(c.id);
        }
    const qreal ratio = w.devicePixelRatioF();
    const fs::path shots = FLASHDESK_SCREENSHOT_DIR;
    fs::create_directories(shots);
    const std::string name = std::string(GetParam().name) + "_longest_texts" + (ratio > 1 ? "@2x" : "") + ".png";
    EXPECT_TRUE(w.grab().save(QString::fromStdString((shots / name).string()), "PNG"));
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

INSTANTIATE_TEST_SUITE_P(dialogs, dialog_fit,
                         ::testing::Values(fit_case{"velmar_flashdesk_launcher", launcher_template, [] { return texts{}; }},
                                           fit_case{"ecu_update", update_image_template, update_texts},
                                           fit_case{"firmware_and_id_tool", imagetool::image_downloader_template,
                                                    image_tool_texts},
                                           fit_case{"usb_file_tool", qx::log_test_template, file_tool_texts}),
                         [](const auto& p) { return std::string(p.param.name); });

// Lamps are drawn in device pixels: crisp on a screen scaled by two (run with QT_SCALE_FACTOR=2).
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
