#include "app/console/logs_command.h"

#include "app/console/command_line.h"
#include "app/console/console_link.h"
#include "app/console/job_output.h"
#include "app/console/visible_text.h"

#include <condition_variable>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "app/launcher/mode_texts.h"
#include "filetool/log_test_dlg.h"
#include "filetool/pc_file.h"
#include "filetool/printf_text.h"
#include "platform/ui/console_renderer.h"

namespace qx::console {

namespace {

// The console renderer, telling when the dialog is up and which boxes it showed.
class session_renderer : public ui::console_renderer {
public:
    using ui::console_renderer::console_renderer;

    void show(ui::dialog& d) override {
        ui::console_renderer::show(d);
        {
            std::lock_guard lock(mutex_);
            shown_ = true;
        }
        cv_.notify_all();
    }
    int message_box(ui::dialog* owner, const ui::message_box_request& r) override {
        {
            std::lock_guard lock(mutex_);
            if (r.caption == "ERROR!") ++errors_, ++unresolved_;
            if (r.caption == "SUCCESS!") ++successes_, unresolved_ = 0;
        }
        return ui::console_renderer::message_box(owner, r);
    }
    void wait_shown() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return shown_; });
    }
    unsigned errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    unsigned successes() const {
        std::lock_guard lock(mutex_);
        return successes_;
    }
    // Errors shown after the last success (all of them when there was none).
    unsigned unresolved_errors() const {
        std::lock_guard lock(mutex_);
        return unresolved_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool shown_ = false;
    unsigned errors_ = 0, successes_ = 0, unresolved_ = 0;
};

// Connects, runs the dialog, hands it to `script` and closes it again. err: where the text form
// prints the boxes and errors; progress: where the download's progress bar goes on a terminal.
// A failure leaves its text as the report's verdict.
int with_dialog(connection_manager& manager, ui::console_answers answers, job_output& report, std::ostream& err,
                const std::function<int(LogTestDlg&, session_renderer&)>& script, std::ostream* progress = nullptr) {
    try {
        if (!manager.is_connected()) manager.connect();
    } catch (const qx::exception& e) {
        report.fail(err, e.message);
        return 1;
    }
    // The log commands are the application's: a boot loader answers none of them.
    if (manager.target_mode != connection_manager::mode_application) {
        report.fail(err, usb_file_tool_mode_error);
        manager.disconnect();
        return 1;
    }
    session_renderer r(report.lines(err), std::move(answers), progress, report.format());
    if (progress) r.watch_progress(filetool::IDD_LOGTEST, filetool::IDC_PROGRESS);
    int rc = 0;
    {
        LogTestDlg d(manager);
        std::thread runner([&] { d.run_modal(r); });
        r.wait_shown();
        rc = script(d, r);
        d.cancel();
        runner.join();
    }
    // Closing the dialog stops the logging it started: an error there fails the command too.
    if (rc == 0 && r.unresolved_errors() != 0) rc = 1;
    // A failure the script did not word itself is the last box's.
    if (rc != 0 && r.errors() != 0 && (report.verdict().empty() || r.unresolved_errors() != 0))
        report.set_verdict(r.last_message());
    manager.disconnect();
    return rc;
}

// Waits until the dialog has handled everything queued so far.
void settle(LogTestDlg& d) {
    auto done = std::make_shared<std::promise<void>>();
    auto handled = done->get_future();
    d.post([done] { done->set_value(); });
    handled.wait();
}

void print_entries(const LogTestDlg& d, const job_output& report, std::ostream& out) {
    for (std::size_t i = 0; i < d.entry_count(); ++i) {
        const auto e = d.entry_at(i);
        if (!e) continue;
        if (report.json())
            report.object({{"type", "file"}, {"index", i}, {"short_name", e->short_name}, {"name", e->long_name}, {"size", e->size}});
        else
            out << i << '\t' << visible(e->short_name) << '\t' << visible(e->long_name) << '\t' << e->size << '\n';
    }
}

}  // namespace

int run_logs_list(connection_manager& manager, std::ostream& out, std::ostream& err, bool json) {
    job_output report(out, json);
    const int rc = with_dialog(manager, {}, report, err, [&](LogTestDlg& d, session_renderer& r) {
        d.click(filetool::IDC_GETDIRLISTING);
        settle(d);
        print_entries(d, report, out);
        report.set_verdict(std::to_string(d.entry_count()) + " entries listed");
        return r.errors() == 0 ? 0 : 1;
    });
    return report.end(rc);
}

int run_logs_get(connection_manager& manager, int index, const std::string& outfile, std::ostream& out,
                 std::ostream& err, bool json) {
    job_output report(out, json);
    // Refused before anything is sent: the download would replace a link, a device or a folder.
    if (const std::string reason = filetool::unusable_target(outfile); !reason.empty()) {
        report.fail(err, reason);
        return report.end(1);
    }
    ui::console_answers answers;
    answers.file = outfile;
    std::string copied;
    const int rc = with_dialog(
        manager, answers, report, err,
        [&](LogTestDlg& d, session_renderer& r) {
            d.click(filetool::IDC_GETDIRLISTING);
            settle(d);
            if (index < 0 || std::size_t(index) >= d.entry_count()) {
                report.fail(err, "No log file " + std::to_string(index) + " (" + std::to_string(d.entry_count()) +
                                     " listed)");
                return 1;
            }
            d.select(index);
            d.click(filetool::ID_UPLOADTOHOST);
            settle(d);
            if (r.successes() == 0) return 1;
            copied = d.entry_at(std::size_t(index))->long_name + " -> " + outfile;
            report.set_verdict(copied);
            // The file is whole; an error after it (closing the file, stopping the logging)
            // still fails the command.
            return 0;
        },
        &out);
    // After the dialog: its progress bar has made room for the line.
    if (!copied.empty() && !report.json()) out << visible(copied) << '\n';
    return report.end(rc);
}

int run_logs_format(connection_manager& manager, std::ostream& out, std::ostream& err, bool json) {
    job_output report(out, json);
    const int rc = with_dialog(manager, {}, report, err, [&](LogTestDlg& d, session_renderer&) {
        d.click(filetool::IDC_FORMAT_RAW);
        settle(d);
        const auto result = d.last_format_result();
        if (!result || *result != 0) {
            report.say(err, filetool::printf_text("LOG_FORMAT_RAW failed: %08x", result.value_or(0xFFFFFFFFu)));
            return 1;
        }
        report.say(out, "Raw log disk formatted");
        return 0;
    });
    return report.end(rc);
}

int run_logs_diagnose(connection_manager& manager, const std::string& outfile, std::ostream& out, std::ostream& err,
                      bool json) {
    job_output report(out, json);
    // Refused before anything is sent, as for a download.
    if (const std::string reason = filetool::unusable_target(outfile); !reason.empty()) {
        report.fail(err, reason);
        return report.end(1);
    }
    ui::console_answers answers;
    answers.file = outfile;
    const int rc = with_dialog(manager, answers, report, err, [&](LogTestDlg& d, session_renderer& r) {
        if (manager.logging_mode() == 0) {
            report.say(err, "The ECU logs to its USB storage device, not to its raw log disk");
            return 1;
        }
        d.model().set_checked(filetool::IDC_DIAGNOSTICS, true);
        d.click(filetool::IDC_GETDIRLISTING);
        settle(d);
        print_entries(d, report, out);
        report.set_verdict("diagnostics written to " + outfile);
        return r.errors() == 0 ? 0 : 1;
    });
    return report.end(rc);
}

void add_logs_command(CLI::App& app) {
    CLI::App* logs = app.add_subcommand("logs", "the ECU's log files (USB file tool)");
    if (!chosen(*logs)) return;
    logs->require_subcommand(1);
    auto json = std::make_shared<bool>(false);
    auto run = [json](const std::function<int(connection_manager&, bool)>& step) {
        run_job(*json, [&] {
            auto manager = std::make_unique<connection_manager>(console_link());
            return step(*manager, *json);
        });
    };

    CLI::App* list = logs->add_subcommand("list", "list the log files");
    list->callback([run] {
        run([](connection_manager& m, bool j) { return run_logs_list(m, std::cout, std::cerr, j); });
    });

    auto index = std::make_shared<int>(0);
    auto get_file = std::make_shared<std::string>();
    CLI::App* get = logs->add_subcommand("get", "copy a listed log file to the PC");
    get->add_option("INDEX", *index, "index of the file in `logs list`")->required();
    get->add_option("OUTFILE", *get_file, "file to write")->required();
    get->callback([run, index, get_file] {
        run([&](connection_manager& m, bool j) { return run_logs_get(m, *index, *get_file, std::cout, std::cerr, j); });
    });

    CLI::App* format = logs->add_subcommand("format", "erase the raw log disk");
    format->callback([run] {
        run([](connection_manager& m, bool j) { return run_logs_format(m, std::cout, std::cerr, j); });
    });

    auto diagnose_file = std::make_shared<std::string>();
    CLI::App* diagnose = logs->add_subcommand("diagnose", "check every header of the raw log disk");
    diagnose->add_option("OUTFILE", *diagnose_file, "file for the diagnostics text")->required();
    diagnose->callback([run, diagnose_file] {
        run([&](connection_manager& m, bool j) { return run_logs_diagnose(m, *diagnose_file, std::cout, std::cerr, j); });
    });
    for (CLI::App* step : {list, get, format, diagnose}) add_json_flag(*step, *json);
}

}  // namespace qx::console
