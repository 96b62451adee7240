// The output of the job commands (update, program, erase, powerseq, r8c, logs): the console
// renderer's text lines, or with `--json` one JSON object per line on standard output,
//   {"type":"text","control":"main","text":"..."}
//   {"type":"progress","control":"Firmware","position":N,"range":[LOW,HIGH]}
//   {"type":"message","caption":"...","text":"...","answer":"ok|cancel|yes|no"}
//   {"type":"file","index":N,"short_name":"...","name":"...","size":N}   (logs list, diagnose)
// and at the end always exactly one {"type":"result","ok":BOOL,"exit":N,"text":"..."}.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "platform/ui/console_renderer.h"

namespace qx::console {

// The console renderer's lines as JSON objects.
class json_line_format : public ui::console_format {
public:
    std::string text_line(const std::string& label, const std::string& text) const override;
    std::string message_line(const ui::message_box_request& r, int answer) const override;
    bool progress_lines() const override { return true; }
    std::string progress_line(const std::string& label, const ui::control_state& s) const override;
};

// A job's own lines and verdict, in the form chosen.
class job_output {
public:
    // out: standard output, where the JSON form writes everything.
    job_output(std::ostream& out, bool json);

    bool json() const { return json_; }
    // The renderer's line format (texts made visible in the text form) and its stream
    // (`text_stream` in the text form).
    const ui::console_format* format() const;
    std::ostream& lines(std::ostream& text_stream) const { return json_ ? out_ : text_stream; }
    // A line of the job's own that also says how it ended: `text` on `text_stream` in the text
    // form; the result's text in both.
    void say(std::ostream& text_stream, const std::string& text);
    // The same as `Error: TEXT`.
    void fail(std::ostream& text_stream, const std::string& text);
    // How the job ended, when the renderer has already printed it.
    void set_verdict(std::string text) { verdict_ = std::move(text); }
    const std::string& verdict() const { return verdict_; }
    // The ECU's line could not be written to the record: `text` says why, on `text_stream` at
    // once in the text form; the result says so above everything else, and the job fails.
    void record_lost(std::ostream& text_stream, const std::string& text);
    // One JSON object as a line (the JSON form only).
    void object(const nlohmann::ordered_json& j) const;
    // Ends the job with `exit`, or 128 + N once signal N stopped it, and returns that status.
    // The text it ends with is the lost record line, the stop, for a failure the missed answer
    // or the absent `--device`, else the verdict: the JSON form's result object, and in the
    // text form the last line (on standard error, unless the job has said it already).
    int end(int exit);

private:
    std::ostream& out_;
    bool json_;
    std::string verdict_, said_, record_lost_;
};

// The text of a failure of one ECU, as its record line, the result and the text form tell it:
// the stop by a signal, else the missed answer (`missed`: an exchange with this ECU ran out of
// time), else `shown`, the failure the tool showed.
std::string failure_told(const std::string& shown, bool missed);

// Whether a job ended through job_output::end, which told how it ended: the command line adds
// nothing of its own then.
bool job_ended();

// `--json` on a job command.
void add_json_flag(CLI::App& command, bool& json);

// Runs a job command's body: a non-zero status is thrown on as CLI11 expects it, and in the
// JSON form a failure the job did not expect still ends its stream in a result object. A job
// that connects to one ECU (`one_ecu`) is refused, before anything is sent, when it would have
// to guess which of several is meant.
void run_job(bool json, const std::function<int()>& job, bool one_ecu = true);
// The refusal alone: exit status several_ecus_exit after saying why, else 0.
int refuse_several_ecus(bool json);

}  // namespace qx::console
