// The ECU Update dialog in a real (offscreen) window: an update runs to its end against the
// virtual ECU, and the finished dialog is saved as a screenshot.
#include <filesystem>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "ecusim/certificates.h"
#include "ecusim/usb_device.h"
#include "platform/ui/qt/dialog_window.h"
#include "platform/ui/qt/qt_renderer.h"
#include "tests/support/pak_writer.h"
#include "update/update_image_dlg.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
namespace ts = qx::test_support;

// Chooses the folder and plugs the ECU in as soon as the dialog has opened.
class plugged_update_dlg : public CUpdateImageDlg {
public:
    plugged_update_dlg(connection_manager& c, options o, std::string folder, ecusim::usb_device& ecu)
        : CUpdateImageDlg(c, std::move(o)), folder_(std::move(folder)), ecu_(ecu) {}

protected:
    void on_init() override {
        CUpdateImageDlg::on_init();
        choose_folder(folder_);
        ecu_.plug();
    }

private:
    std::string folder_;
    ecusim::usb_device& ecu_;
};

TEST(update_window, a_finished_update_in_a_real_window) {
    std::string pattern = (fs::temp_directory_path() / "update_window_XXXXXX").string();
    const fs::path dir = ::mkdtemp(pattern.data());
    const std::string serial = "01020AFF";
    const auto root = ecusim::certificates::root(), cert = ecusim::certificates::package();
    ts::save_file((dir / "RootCertificate_tcert.der").string(), ts::bytes(root.begin(), root.end()));
    ts::pak_group_spec g;
    g.serial_number = serial;
    for (std::uint32_t type = 0; type < 4; ++type) {
        ts::pak_spec spec = ts::sample_pak_spec(2, serial, type, 8, type + 1);
        spec.certificate.assign(cert.begin(), cert.end());
        g.entries.push_back(ts::group_entry(spec));
    }
    ts::save_file((dir / (serial + ".pakgrp")).string(), ts::write_pak_group(g).data);

    ecusim::ecu_config cfg;
    cfg.mode = ecusim::ecu_mode::boot;
    cfg.serial = *ecusim::parse_serial(serial);
    ecusim::virtual_ecu ecu(cfg);
    ecu.device().unplug();
    connection_manager manager;
    CUpdateImageDlg::options o;
    o.root_certificate_path = (dir / "RootCertificate_tcert.der").string();
    plugged_update_dlg dlg(manager, o, dir.string(), ecu.device());

    ui::qt::qt_renderer r;
    const fs::path shot = fs::path(FLASHDESK_SCREENSHOT_DIR) / "ecu_update_finished.png";
    fs::create_directories(shot.parent_path());
    fs::remove(shot);
    QString shown_status;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const auto windows = r.windows();
        if (windows.empty() || dlg.model().text(update_ids::main_status) != "Safe to disconnect ECU.") return;
        // The window shows what the model says once the queued changes have been applied.
        auto* status = qobject_cast<QLabel*>(windows.front()->control(update_ids::progress_text));
        if (!status || status->text() != "Update Success! (100%)") return;
        if (!QTest::qWaitForWindowExposed(windows.front(), 5000)) return;
        shown_status = status->text();
        windows.front()->grab().save(QString::fromStdString(shot.string()), "PNG");
        poll.stop();
        dlg.click(update_ids::done);
    });
    QTimer::singleShot(60000, [&] { dlg.cancel(); });  // a run that goes wrong must still end
    poll.start();
    const int result = dlg.run_modal(r);

    EXPECT_EQ(result, ui::IDOK);
    EXPECT_EQ(shown_status, "Update Success! (100%)");
    EXPECT_TRUE(fs::exists(shot));
    EXPECT_GT(fs::file_size(shot), 0u);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qx
