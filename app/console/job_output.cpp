#include "app/console/job_output.h"

#include <atomic>
#include <exception>
#include <iostream>
#include <ostream>

#include "app/console/answer_timeout.h"
#include "app/console/console_link.h"
#include "app/console/json_output.h"
#include "app/console/stop_signals.h"
#include "app/console/visible_text.h"
#include "core/connection_manager.h"

namespace qx::console {

namespace {

const json_line_format json_lines;

std::atomic<bool> a_job_ended{false};

// The text form: the renderer's lines, their texts made visible.
class visible_line_format : public ui::console_format {
public:
    std::string text_line(const std::string& label, const std::string& text) const override {
        return label + ": " + visible_lines(text);
    }
    std::string message_line(const ui::message_box_request& r, int) const override {
        return r.caption + ": " + visible_lines(r.text);
    }
};

const visible_line_format text_lines;

std::string line_of(const nlohmann::ordered_json& j) { return json_text(j, -1); }

const char* answer_name(int answer) {
    switch (answer) {
        case ui::IDYES: return "yes";
        case ui::IDNO: return "no";
        case ui::IDCANCEL: return "cancel";
        default: return "ok";
    }
}

}  // namespace

std::string json_line_format::text_line(const std::string& label, const std::string& text) const {
    return line_of({{"type", "text"}, {"control", label}, {"text", text}});
}

std::string json_line_format::message_line(const ui::message_box_request& r, int answer) const {
    return line_of({{"type", "message"}, {"caption", r.caption}, {"text", r.text}, {"answer", answer_name(answer)}});
}

std::string json_line_format::progress_line(const std::string& label, const ui::control_state& s) const {
    return line_of({{"type", "progress"},
                    {"control", label},
                    {"position", s.position},
                    {"range", {s.range_low, s.range_high}}});
}

job_output::job_output(std::ostream& out, bool json) : out_(out), json_(json) {}

const ui::console_format* job_output::format() const { 
    if (json_) return &json_lines;
    return &text_lines;
}

void job_output::say(std::ostream& text_stream, const std::string& text) {
    verdict_ = said_ = text;
    if (!json_) text_stream << visible_lines(text) << '\n';
}

void job_output::fail(std::ostream& text_stream, const std::string& text) {
    verdict_ = said_ = text;
    if (!json_) text_stream << "Error: " << visible_lines(text) << '\n';
}

void job_output::record_lost(std::ostream& text_stream, const std::string& text) {
    record_lost_ = said_ = text;
    if (!json_) text_stream << visible_lines(text) << std::endl;
}

void job_output::object(const nlohmann::ordered_json& j) const {
    if (json_) out_ << line_of(j) << '\n';
}

int job_output::end(int exit) {
    a_job_ended = true;
    exit = stopped_exit(exit);
    if (!record_lost_.empty() && exit == 0) exit = 1;
    std::string text = verdict_;
    if (!record_lost_.empty()) {
        text = record_lost_;
    } else if (exit != 0) {
        text = failure_told(verdict_, connection_manager::answer_missed());
        if (text == verdict_)
            if (std::string absent = absent_device_text(); !absent.empty()) text = std::move(absent);
    }
    if (json_) out_ << line_of({{"type", "result"}, {"ok", exit == 0}, {"exit", exit}, {"text", text}}) << std::endl;
    else if (text != verdict_ && text != said_ && text != record_lost_) std::cerr << text << std::endl;
    return exit;
}

std::string failure_told(const std::string& shown, bool missed) {
    if (std::string stopped = stop_text(); !stopped.empty()) return stopped;
    if (missed) return answer_timeout_text();
    return shown;
}

bool job_ended() { return a_job_ended; }

void add_json_flag(CLI::App& command, bool& json) {
    command.add_flag("--json", json, "print one JSON object per line (status texts, progress, messages) ending in a result object");
}

int refuse_several_ecus(bool json) {
    const std::string text = several_ecus_text();
    if (text.empty()) return 0;
    job_output o(std::cout, json);
    o.say(std::cerr, text);
    return o.end(several_ecus_exit);
}

void run_job(bool json, const std::function<int()>& job, bool one_ecu) {
    if (const int refused = one_ecu ? refuse_several_ecus(json) : 0) throw CLI::RuntimeError(refused);
    // The command line says the same on standard error and exits 1.
    const auto unexpected = [json](const std::string& text) {
        if (!json) return;
        job_output o(std::cout, true);
        o.set_verdict("stopped by an unexpected failure" + text);
        o.end(1);
    };
    int rc = 0;
    job_scope running;
    try {
        rc = job();
    } catch (const std::exception& e) {
        unexpected(std::string(": ") + e.what());
        throw;
    } catch (...) {
        unexpected(".");
        throw;
    }
    if (rc != 0) throw CLI::RuntimeError(rc);
}

}  // namespace qx::console
