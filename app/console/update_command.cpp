#include "app/console/update_command.h"

#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>

#include "app/console/command_line.h"
#include "app/console/console_link.h"
#include "app/console/job_output.h"
#include "app/console/ecu_record.h"
#include "app/console/stop_signals.h"
#include "app/console/visible_text.h"
#include "core/connection_manager.h"
#include "platform/registry/device_registry.h"
#include "platform/usb/usb_device.h"
#include "platform/ui/console_renderer.h"
#include "update/update_image_dlg.h"

namespace qx::console {

namespace {

// The dialog as the console drives it: the folder is chosen at once, and an ECU that is
// already plugged in counts as an arrival.
class console_update_dlg : public CUpdateImageDlg {
public:
    using CUpdateImageDlg::CUpdateImageDlg;

protected:
    void on_init() override {
        CUpdateImageDlg::on_init();
        if (model().text(update_ids::main_status) != "Waiting for Path selection.") return;  // it is closing
        // Stopped before the dialog ran: no ECU is served, no arrival waited for.
        if (stop_signal()) {
            click(update_ids::done);
            return;
        }
        on_command(update_ids::browse);
        const std::string cls(platform::ecu_interface_class);
        // Registry devices, and real ones that TRELINK_USB_IDS names: hot-plug reports only
        // what arrives later. The first starts a worker; while it runs, the others are
        // ignored as later arrivals are.
        int error = 0;
        for (const auto& present : platform::usb::present_devices(cls, false, error))
            on_device_change({ui::device_event::arrival, 5, cls, present.path});
    }
    // With `--device`, an ECU plugged in elsewhere is none of this station's business.
    void on_device_change(const ui::device_event& e) override {
        if (e.kind == ui::device_event::arrival && !platform::usb::chosen_device(e.interface_class, e.path)) return;
        CUpdateImageDlg::on_device_change(e);
    }
};

bool showed_success(const std::string& progress_text, const std::string& main_status) {
    return progress_text == "Update Success! (100%)" && main_status == "Safe to disconnect ECU.";
}

// The last failure the dialog showed for its ECU: the main status beside a red lamp, else the
// status of the image whose lamp is red, else the overall progress text.
std::string failure_shown(ui::dialog_model& m) {
    if (m.bitmap(update_ids::main_lamp) == lamp_red) return m.text(update_ids::main_status);
    for (const image_row_ids& row : update_rows)
        if (m.bitmap(row.lamp) == lamp_red) return std::string(row.name) + ": " + m.text(row.status);
    return m.text(update_ids::progress_text);
}

// The images the ECU's package group offered, as the dialog showed them; size and CRC-32C for
// those whose package was read whole and matched the ECU.
std::vector<record_image> offered_images(CUpdateImageDlg& dlg) {
    std::vector<record_image> images;
    for (std::size_t i = 0; i < update_rows.size(); ++i) {
        const image_row_ids& ids = update_rows[i];
        const CUpdateImageDlg::image_row& row = dlg.rows()[i];
        record_image image{ids.name, dlg.model().text(ids.image), dlg.model().text(ids.author),
                           dlg.model().text(ids.date), std::nullopt, std::nullopt, std::nullopt};
        if (image.package.empty()) continue;
        if (!row.source_path.empty()) {
            if (row.package.version) image.version = row.package.version;
            image.measure(row.image.image_data.bytes());
        }
        images.push_back(std::move(image));
    }
    return images;
}

}  // namespace

int run_update(const update_options& o, std::ostream& out, record_file* record) {
    job_output job(out, o.json);
    ui::console_answers answers;
    answers.folder = o.folder;
    ui::console_renderer r(out, answers, nullptr, job.format());
    r.watch_text(update_ids::dialog, update_ids::serial_number, "ECU serial number");
    r.watch_text(update_ids::dialog, update_ids::main_status, "main");
    r.watch_text(update_ids::dialog, update_ids::progress_text, "progress");
    for (const image_row_ids& row : update_rows) {
        r.watch_text(update_ids::dialog, row.status, row.name);
        r.watch_progress(update_ids::dialog, row.progress, row.name);
    }
    auto manager = std::make_unique<connection_manager>(console_link());
    CUpdateImageDlg::options opts;
    opts.root_certificate_path = o.root_certificate;
    opts.connect_pause = o.connect_pause;
    std::atomic<bool> no_answer{false};
    console_update_dlg* self = nullptr;
    opts.no_answer = [&no_answer] { no_answer = true; };
    // One line per worker: every arrival is an ECU plugged in, answered or not.
    ecu_record ecu;
    unsigned long missed_before = 0;
    if (record) {
        opts.worker_started = [&] {
            ecu = {};
            ecu.begin("update");
            ecu.device = self->ecu_device();
            missed_before = connection_manager::missed_answers();
        };
        opts.ecu_done = [&] {
            try {
                ui::dialog_model& m = self->model();
                ecu.found(*manager);
                ecu.serial_number = m.text(update_ids::serial_number);
                ecu.images = offered_images(*self);
                ecu.finish(showed_success(m.text(update_ids::progress_text), m.text(update_ids::main_status)),
                           failure_told(no_answer ? no_ecu_answered_text(opts.connect_attempts) : failure_shown(m),
                                        connection_manager::missed_answers() > missed_before));
                if (const std::string lost = append_record(record, ecu); !lost.empty()) job.record_lost(std::cerr, lost);
            } catch (const std::exception& e) {
                job.record_lost(std::cerr, std::string("flashdesk: no record of this ECU: ") + e.what());
            }
        };
    }
    // A stop ends the run once no worker runs: at once while it waits for an ECU, else when the
    // worker has come to the end of its exchanges.
    opts.after_worker = [&] {
        if (o.once || no_answer || stop_signal()) self->click(update_ids::done);
    };
    console_update_dlg dlg(*manager, opts);
    self = &dlg;
    {
        on_stop stopping([&dlg] {
            dlg.post([&dlg] {
                if (!update_busy) dlg.click(update_ids::done);
            });
        });
        dlg.run_modal(r);
    }
    const std::string main = r.last_text(update_ids::dialog, update_ids::main_status);
    const std::string progress = r.last_text(update_ids::dialog, update_ids::progress_text);
    if (dlg.device_watch_failed()) {
        job.set_verdict(main);
        return job.end(update_cannot_start);
    }
    if (no_answer) {
        job.say(out, failure_told(no_ecu_answered_text(opts.connect_attempts), connection_manager::answer_missed()));
        return job.end(1);
    }
    const bool served = main == "Safe to disconnect ECU.";
    const bool updated = showed_success(progress, main);
    // An ECU that was served ends in the progress text; one that was not, in the main status
    // ("Could not find update file ..."), or in a box when the dialog could not start.
    job.set_verdict(served ? progress : main.empty() || main == "Waiting for Path selection." ? r.last_message() : main);
    return job.end(updated ? 0 : 1);
}

void add_update_command(CLI::App& app) {
    auto o = std::make_shared<update_options>();
    CLI::App* cmd = app.add_subcommand("update", "update every ECU that is plugged in from its package group");
    if (!chosen(*cmd)) return;
    cmd->add_option("--folder", o->folder, "folder of the package groups (SERIAL.pakgrp)")->required();
    cmd->add_option("--root-cert", o->root_certificate, "root certificate (DER)")->capture_default_str();
    cmd->add_flag("--once", o->once, "stop after the first ECU; exit 0 only if its update succeeded");
    add_json_flag(*cmd, o->json);
    add_record_option(cmd, o->record);
    cmd->callback([o] {
        run_job(o->json, [o] {
            job_output job(std::cout, o->json);
            std::error_code ec;
            if (!std::filesystem::is_directory(o->folder, ec)) {
                job.say(std::cerr, "flashdesk update: '" + o->folder + "' is not a folder.");
                return job.end(update_cannot_start);
            }
            std::unique_ptr<record_file> record;
            if (!open_job_record(o->record, job, record)) return job.end(update_cannot_start);
            return run_update(*o, std::cout, record.get());
        }, false);
    });
}

}  // namespace qx::console
