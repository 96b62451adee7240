#include "app/console/imagetool_command.h"

#include "app/console/command_line.h"
#include "app/console/console_link.h"
#include "app/console/job_output.h"
#include "app/console/ecu_record.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "app/console/coredump_command.h"
#include "app/console/stop_signals.h"
#include "app/launcher/mode_texts.h"
#include "core/certificate_reader.h"
#include "filetool/pc_file.h"
#include "imagetool/image_downloader_dlg.h"
#include "platform/ui/console_renderer.h"

namespace qx::console {

namespace {

using namespace qx::imagetool;

// The console renderer that also remembers the message boxes it printed.
class recording_renderer : public ui::console_renderer {
public:
    using console_renderer::console_renderer;

    int message_box(ui::dialog* owner, const ui::message_box_request& r) override {
        {
            std::lock_guard lock(mutex_);
            shown_.emplace_back(r.caption, r.text);
        }
        return console_renderer::message_box(owner, r);
    }
    bool showed(const std::string& caption, const std::string& text) const {
        std::lock_guard lock(mutex_);
        for (const auto& [c, t] : shown_)
            if (c == caption && t == text) return true;
        return false;
    }
    // The text of the last error box ("Error", "Error!", "ERROR!"); empty when there was none.
    std::string last_error() const {
        std::lock_guard lock(mutex_);
        for (auto at = shown_.rbegin(); at != shown_.rend(); ++at) {
            std::string caption = at->first;
            if (caption.ends_with('!')) caption.pop_back();
            std::transform(caption.begin(), caption.end(), caption.begin(), [](unsigned char c) { return char(std::toupper(c)); });
            if (caption == "ERROR") return at->second;
        }
        return {};
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> shown_;
};

// The dialog with the job's clicks queued behind its initialisation.
class console_tool : public CImageDownloaderDlg {
public:
    console_tool(connection_manager& connection, std::span<const std::uint8_t> root, imagetool_job job, std::string file)
        : CImageDownloaderDlg(connection, root), connection_(connection), job_(job), file_(std::move(file)) {}

protected:
    void on_init() override {
        CImageDownloaderDlg::on_init();
        const int needed = job_ == imagetool_job::program         ? IDC_DOWNLOAD_FILE
                           : job_ == imagetool_job::erase_dynamic ? IDC_ERASE_DYNAMIC_MODEL
                           : job_ == imagetool_job::erase_fixed   ? IDC_ERASE_FIXED_MODEL
                           : job_ == imagetool_job::powerseq      ? IDC_POWERSEQ_DOWNLOAD
                           : job_ == imagetool_job::coredump      ? IDC_COREDUMP_SAVE
                                                                  : IDC_R8C_DOWNLOAD_FILE;
        if (!model().enabled(needed)) {
            ui().message_box(nullptr, {"Error", "\"" + layout_text(needed) + "\" is not available with the ECU in this mode.",
                                       ui::MB_OK | ui::MB_ICONSTOP, false});
            post_close();
            return;
        }
        switch (job_) {
            case imagetool_job::program:
                click(IDC_SELECT_FILE);
                click(IDC_DOWNLOAD_FILE);
                break;
            case imagetool_job::erase_dynamic: click(IDC_ERASE_DYNAMIC_MODEL); break;
            case imagetool_job::erase_fixed: click(IDC_ERASE_FIXED_MODEL); break;
            case imagetool_job::r8c:
                click(IDC_R8C_SELECT_FILE);
                // Measured as loaded: the upgrade lets go of the image when it ends.
                post([this] {
                    if (r8c_image_loaded()) r8c_measured_.measure(r8c_image(0, r8c_image_length()));
                });
                click(IDC_R8C_DOWNLOAD_FILE);
                break;
            case imagetool_job::powerseq:
                post([this] { power_sequence(); });
                return;  // the worker ends the run
            case imagetool_job::coredump:
                // The dump names its ECU: a boot loader told its serial number above (or showed
                // why not), the application is asked here.
                if (model().text(IDC_ECU_SERIAL).empty() &&
                    (connection_.target_mode != connection_manager::mode_application || !show_application_serial()))
                    break;
                // The group is hidden in the desktop program; the console shows it to click Save.
                model().set_visible(IDC_GROUP_COREDUMP, true);
                model().set_visible(IDC_COREDUMP_SAVE, true);
                click(IDC_COREDUMP_SAVE);
                break;
        }
        post_close();
    }

    void on_power_sequence_finished(bool) override { post_close(); }

    bool begin_power_sequence_download() override {
        std::lock_guard lock(deadline_mutex_);
        if (timed_out_) return false;
        downloading_ = true;
        return true;
    }

public:
    // Size and CRC-32C of the R8C image as it was loaded (none when it was not).
    const record_image& r8c_measured() const { return r8c_measured_; }

    // The wait for the ECU's return is given up (its time-out, a stop): true when that ends the
    // run now, false when a download has begun (it runs to its end, or to its next exchange
    // after a stop). Any other job ends now too.
    bool give_up_waiting() {
        std::lock_guard lock(deadline_mutex_);
        if (downloading_) return false;
        timed_out_ = true;
        return true;
    }

private:
    std::string layout_text(int id) const {
        for (const auto& c : layout().controls)
            if (c.id == id) return c.text;
        return {};
    }

    // The package goes in before the reset, matched to the serial number of the application.
    void power_sequence() {
        if (!show_application_serial() || !load_package(file_) || !start_power_sequence()) post_close();
    }

    connection_manager& connection_;
    imagetool_job job_;
    std::string file_;
    std::mutex deadline_mutex_;
    bool downloading_ = false, timed_out_ = false;
    record_image r8c_measured_;
};

const char* job_name(imagetool_job job) {
    switch (job) {
        case imagetool_job::program: return "program";
        case imagetool_job::erase_dynamic: return "erase dynamic";
        case imagetool_job::erase_fixed: return "erase fixed";
        case imagetool_job::powerseq: return "powerseq";
        case imagetool_job::r8c: return "r8c";
        case imagetool_job::coredump: return "coredump";
    }
    return "";
}

// The image the job was given (the package or the R8C file), measured when the dialog holds it.
std::vector<record_image> images_in_hand(console_tool& tool, imagetool_job job, const std::string& file) {
    if (file.empty() || job == imagetool_job::coredump) return {};
    record_image image;
    image.package = file;
    if (job == imagetool_job::r8c) {
        image.type = "R8C";
        image.size = tool.r8c_measured().size;
        image.crc32c = tool.r8c_measured().crc32c;
    } else if (tool.package_loaded()) {
        const pak_file& p = tool.package();
        image.type = image_type_display_name(p.image_type);
        image.author = p.author;
        image.date = p.date;
        if (p.version) image.version = p.version;
        image.measure(tool.package_image_data());
    }
    return {std::move(image)};
}

std::pair<std::string, std::string> success_message(imagetool_job job) {
    switch (job) {
        case imagetool_job::program: return {"Success!", "Firmware loaded succesfully"};
        case imagetool_job::erase_dynamic: return {"Success!", "Dynamic model data erased succesfully"};
        case imagetool_job::erase_fixed: return {"Success!", "Fixed model erased succesfully"};
        case imagetool_job::powerseq:
            return {"Success!",
                    "OnBnClickedButtonImagedlPowerseqdlfile Firmware download successful ... please turn the ignition switch off"};
        case imagetool_job::r8c: return {"Success!", "Firmware Updated Successfully! Please reset system."};
        case imagetool_job::coredump: break;  // no message: the file written is the verdict
    }
    return {};
}

}  // namespace

int run_imagetool(connection_manager& manager, imagetool_job job, const imagetool_options& options, std::ostream& out,
                  record_file* record) {
    job_output report(out, options.json);
    const bool boot_job =
        job == imagetool_job::program || job == imagetool_job::erase_dynamic || job == imagetool_job::erase_fixed;
    // Made before anything is sent: a dump that could not be kept is not read (the target is a
    // link, a device or a folder, or its folder takes no file).
    std::optional<filetool::pc_file> dump_file;
    if (job == imagetool_job::coredump) {
        dump_file.emplace(options.file);
        if (!dump_file->is_open()) {
            report.fail(out, dump_file->refusal());
            return report.end(1);
        }
    }
    ecu_record ecu;
    ecu.begin(job_name(job));
    try {
        manager.connect();
    } catch (const qx::exception& e) {
        // Nothing answered: no ECU to keep a record of.
        report.fail(out, e.message);
        return report.end(1);
    }
    ecu.found(manager);
    // The job's end: the ECU's line in the record, then the verdict.
    auto end = [&](bool done, const std::string& failure) {
        ecu.finish(done, failure_told(failure, connection_manager::answer_missed()));
        if (const std::string lost = append_record(record, ecu); !lost.empty()) report.record_lost(std::cerr, lost);
        return report.end(done ? 0 : 1);
    };
    std::vector<std::uint8_t> root;
    if (boot_job && manager.target_mode != connection_manager::mode_boot_loader) {
        report.fail(out, firmware_tool_mode_warning);
        return end(false, firmware_tool_mode_warning);
    }
    // A boot loader tells its serial number only against the root certificate.
    if (manager.target_mode == connection_manager::mode_boot_loader &&
        (boot_job || job == imagetool_job::coredump)) {
        if (read_certificate_file(options.root_certificate, root) != certificate_file::read) {
            const std::string text = "Failed to open Root certificate: " + options.root_certificate;
            report.fail(out, text);
            return end(false, text);
        }
    }

    ui::console_answers answers;
    answers.yes = options.yes;
    if (!options.file.empty()) answers.file = options.file;
    recording_renderer renderer(out, answers, nullptr, report.format());
    renderer.watch_text(IDD_IMAGE_DOWNLOADER, IDC_ECU_SERIAL, "ECU serial number");
    renderer.watch_text(IDD_IMAGE_DOWNLOADER, IDC_PAK_FILE, "package");
    renderer.watch_text(IDD_IMAGE_DOWNLOADER, IDC_AUTHOR, "author");
    renderer.watch_text(IDD_IMAGE_DOWNLOADER, IDC_DATE, "date");
    renderer.watch_text(IDD_IMAGE_DOWNLOADER, IDC_R8C_FILE, "R8C file");
    renderer.watch_progress(IDD_IMAGE_DOWNLOADER, IDC_PROGRESS);

    console_tool tool(manager, root, job, options.file);
    bool dump_kept = false;
    if (job == imagetool_job::coredump)
        tool.keep_core_dumps([&](imagetool::core_dump&& dump) { dump_kept = save_core_dump(*dump_file, options.file, dump, out); });
    // The power sequence waits for the ECU to come back; the wait is given up after the
    // timeout, a download that has begun is not.
    std::mutex m;
    std::condition_variable_any cv;
    std::jthread timer;
    if (job == imagetool_job::powerseq) {
        timer = std::jthread([&](std::stop_token stop) {
            std::unique_lock lock(m);
            if (!cv.wait_for(lock, stop, std::chrono::seconds(options.timeout), [] { return false; }) &&
                !stop.stop_requested() && tool.give_up_waiting()) {
                tool.post([&renderer, &options] {
                    renderer.message_box(nullptr, {"Error", "The ECU did not come back within " +
                                                                std::to_string(options.timeout) + " s.",
                                                   ui::MB_OK | ui::MB_ICONSTOP, false});
                });
                tool.post_close();
            }
        });
    }
    {
        on_stop stopping([&tool] {
            if (tool.give_up_waiting()) tool.post_close();
        });
        tool.run_modal(renderer);
    }
    timer.request_stop();
    if (timer.joinable()) timer.join();
    ecu.serial_number = tool.model().text(IDC_ECU_SERIAL);
    ecu.images = images_in_hand(tool, job, options.file);
    const auto [caption, text] = success_message(job);
    if (job == imagetool_job::coredump ? dump_kept : renderer.showed(caption, text)) {
        report.set_verdict(job == imagetool_job::coredump ? "Core dump saved: " + options.file : text);
        return end(true, {});
    }
    // The verdict is the failure the last error box showed; some failures end the dialog's
    // work without a box of their own.
    const std::string shown = renderer.last_error();
    const std::string failure = shown.empty() ? "the job did not complete." : shown;
    report.fail(out, failure);
    return end(false, failure);
}

void add_imagetool_commands(CLI::App& app) {
    auto options = std::make_shared<imagetool_options>();
    auto run = [options](imagetool_job job) {
        run_job(options->json, [&] {
            job_output report(std::cout, options->json);
            std::unique_ptr<record_file> record;
            if (!open_job_record(options->record, report, record)) return report.end(1);
            auto manager = std::make_unique<connection_manager>(console_link());
            return run_imagetool(*manager, job, *options, std::cout, record.get());
        });
    };
    auto add_root = [options](CLI::App* c) {
        c->add_option("--root-cert", options->root_certificate, "root certificate (DER) of the boot loader")
            ->capture_default_str();
    };

    CLI::App* program = app.add_subcommand("program", "program one package (.pak) into the ECU's boot loader");
    if (chosen(*program)) {
        program->add_option("file", options->file, "the package")->required()->check(CLI::ExistingFile);
        add_root(program);
        add_json_flag(*program, options->json);
        add_record_option(program, options->record);
        program->callback([run] { run(imagetool_job::program); });
    }

    CLI::App* erase = app.add_subcommand("erase", "erase the dynamic model data or the fixed model");
    if (chosen(*erase)) {
        auto area = std::make_shared<std::string>();
        erase->add_option("area", *area, "dynamic or fixed")->required()->check(CLI::IsMember({"dynamic", "fixed"}));
        add_root(erase);
        add_json_flag(*erase, options->json);
        erase->callback(
            [run, area] { run(*area == "dynamic" ? imagetool_job::erase_dynamic : imagetool_job::erase_fixed); });
    }

    CLI::App* powerseq =
        app.add_subcommand("powerseq", "load a package, restart the running ECU into its boot loader and program it");
    if (chosen(*powerseq)) {
        powerseq->add_option("file", options->file, "the package")->required()->check(CLI::ExistingFile);
        powerseq->add_option("--timeout", options->timeout, "seconds to wait for the ECU to come back; a download that has begun runs to its end")->capture_default_str();
        add_json_flag(*powerseq, options->json);
        add_record_option(powerseq, options->record);
        powerseq->callback([run] { run(imagetool_job::powerseq); });
    }

    CLI::App* r8c = app.add_subcommand("r8c", "upgrade the peripheral R8C from a firmware image (.bin)");
    if (chosen(*r8c)) {
        r8c->add_option("file", options->file, "the firmware image")->required()->check(CLI::ExistingFile);
        r8c->add_flag("--yes", options->yes, "confirm the upgrade without asking");
        add_json_flag(*r8c, options->json);
        add_record_option(r8c, options->record);
        r8c->callback([run] { run(imagetool_job::r8c); });
    }

    CLI::App* coredump = app.add_subcommand(
        "coredump", "read the ECU's core dump sections into a file of our own format; `coredump show FILE` lists one");
    if (!chosen(*coredump)) return;
    coredump->add_option("out", options->file, "the file to write (.qxdump)");
    add_root(coredump);
    auto shown = std::make_shared<std::string>();
    CLI::App* show = coredump->add_subcommand("show", "list the sections of a core dump file with their sizes, blank shares and CRC-32C");
    show->add_option("file", *shown, "the core dump file")->required();
    show->callback([shown] {
        if (const int rc = run_coredump_show(*shown, std::cout, std::cerr); rc != 0) throw CLI::RuntimeError(rc);
    });
    coredump->require_subcommand(0, 1);
    coredump->callback([run, options, show] {
        if (show->parsed()) return;
        if (options->file.empty()) throw CLI::RequiredError("out");
        run(imagetool_job::coredump);
    });
}

}  // namespace qx::console
