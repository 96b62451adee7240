// How a console job ends when it does not end by itself, `flashdesk` and `ecusim usb` as
// processes of their own. SIGTERM while the ECU holds the answer to exchange k: the exchange
// gets its answer, none follows it, the record, the JSON result and the text output say
// "Stopped by SIGTERM.", no file is left in the target's folder and the exit status is 143; a
// second signal ends at once. A missed answer and a record line that could not be written are
// told alike by every output.
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ecusim/package_set.h"
#include "pak/crc32c.h"
#include "tests/faults/bounded_process.h"

namespace qx::faults {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using json = nlohmann::json;

const std::string serial = "0A0B0C0D";
const std::string stopped = "Stopped by SIGTERM.";
// How long the ECU holds the answer to the exchange the signal comes in.
const std::string held = "delay=1500";

std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The ECUs' modes and the jobs' command lines; "@" opens a path in the case folder.
const std::vector<std::string> boot = {"--mode", "boot"};
const std::vector<std::string> app = {"--mode", "app"};
const std::vector<std::string> root = {"--root-cert", "@packages/RootCertificate_tcert.der"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::string> update_once = std::vector<std::string>{"update", "--once", "--folder", "@packages"} + root;
const std::vector<std::string> update_all = std::vector<std::string>{"update", "--folder", "@packages"} + root;
const std::vector<std::string> program = std::vector<std::string>{"program", "@packages/" + serial + "_firmware.pak"} + root;
const std::vector<std::string> powerseq = {"powerseq", "@packages/" + serial + "_firmware.pak", "--timeout", "10"};
const std::vector<std::string> r8c = {"r8c", "@r8c.bin", "--yes"};

// A folder per case: packages, files for the ECU, its registry and state, and `out/`, where
// the jobs that write a file write it.
class job_end : public ::testing::Test {
protected:
    void SetUp() override {
        dir = make_short_temp_dir("fde");
        fs::create_directories(dir / "registry");
        fs::create_directories(dir / "out");
        ecusim::make_packages(serial, (dir / "packages").string(), 1);
        r8c_image.resize(0x4800);
        for (std::size_t i = 0; i < r8c_image.size(); ++i) r8c_image[i] = std::uint8_t((i * 7 + 3) % 251);
        std::ofstream(dir / "r8c.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(r8c_image.data()), std::streamsize(r8c_image.size()));
        std::ofstream(dir / "REPORT.TXT") << std::string(5000, 'L');
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    std::string at(const std::string& arg) const { return arg.starts_with("@") ? (dir / arg.substr(1)).string() : arg; }
    std::map<std::string, std::string> env() const { return {{"TRELINK_DEVICE_DIR", (dir / "registry").string()}}; }
    fs::path record() const { return dir / "record.jsonl"; }

    std::unique_ptr<ecusim_server> plug_in(const std::vector<std::string>& mode, const std::string& faults) {
        std::vector<std::string> args{"usb", "--serial", serial, "--state", (dir / "state.json").string(),
                                      "--log-file", (dir / "REPORT.TXT").string(), "--replug-ms", "100"};
        args = args + mode;
        if (!faults.empty()) args.insert(args.end(), {"--faults", faults});
        return std::make_unique<ecusim_server>(ECUSIM_PATH, args, env());
    }
    // flashdesk with `command` and `options`: standard output to flashdesk.out, standard error
    // to flashdesk.err.
    std::unique_ptr<running_process> start(const std::vector<std::string>& command, const std::vector<std::string>& options) {
        std::vector<std::string> argv{FLASHDESK_PATH};
        for (const std::string& a : command + options) argv.push_back(at(a));
        return std::make_unique<running_process>(argv, env(), dir / "flashdesk.out", dir / "flashdesk.err");
    }
    // The commands the ECU received so far.
    std::size_t exchanges() const {
        const std::string text = read_text(dir / "state.json");
        return json::accept(text) ? json::parse(text).at("command_codes").size() : 0;
    }
    std::vector<json> record_lines() const {
        std::vector<json> out;
        for (const std::string& line : lines_of(read_text(record()))) out.push_back(json::parse(line));
        return out;
    }
    // The JSON form's result, checked to be the stream's only one and its last line.
    json result_of(const std::string& output) const {
        std::vector<json> objects;
        for (const std::string& line : lines_of(output)) {
            EXPECT_TRUE(json::accept(line)) << line;
            if (json::accept(line)) objects.push_back(json::parse(line));
        }
        const auto results = std::count_if(objects.begin(), objects.end(), [](const json& j) { return j.at("type") == "result"; });
        EXPECT_EQ(results, 1) << output;
        return objects.empty() ? json() : objects.back();
    }

    fs::path dir;
    std::vector<std::uint8_t> r8c_image;
};

struct stop_case {
    const char* name;
    std::vector<std::string> mode;  // the ECU's
    std::vector<std::string> command;
    unsigned k;  // the exchange the signal comes in; 0: while waiting for an ECU, none plugged in
    bool record;
    bool json;
};

void PrintTo(const stop_case& c, std::ostream* out) { *out << c.name; }

class stopped_job : public job_end, public ::testing::WithParamInterface<stop_case> {};

TEST_P(stopped_job, ends_after_the_answer_with_a_true_record_and_result) {
    const stop_case& c = GetParam();
    std::unique_ptr<ecusim_server> ecu;
    if (c.k) ecu = plug_in(c.mode, "n=" + std::to_string(c.k) + ":" + held);
    std::vector<std::string> options{"--answer-timeout", "10", "--trace", "@trace.txt"};
    if (c.record) options = options + std::vector<std::string>{"--record", record().string()};
    if (c.json) options.push_back("--json");
    const auto job = start(c.command, options);
    const bool reached = c.k ? wait_for(dir, [&] { return exchanges() >= c.k; }, 30s) : wait_for(dir, [&] {
        return read_text(dir / "flashdesk.out").find("Waiting for ECU connection.") != std::string::npos;
    }, 30s);
    ASSERT_TRUE(reached) << read_text(dir / "flashdesk.out") << read_text(dir / "flashdesk.err");
    job->signal(SIGTERM);
    const process_end end = job->wait(30s);
    const std::string all = end.output + end.errors;
    ASSERT_FALSE(end.over_bound) << all;
    EXPECT_EQ(end.exit_code, 128 + SIGTERM) << all;

    if (c.json) {
        const json result = result_of(end.output);
        EXPECT_EQ(result, json({{"type", "result"}, {"ok", false}, {"exit", 128 + SIGTERM}, {"text", stopped}})) << all;
    } else {
        const auto errors = lines_of(end.errors);
        EXPECT_TRUE(!errors.empty() && errors.back() == stopped) << all;
    }
    if (c.record) {
        const auto lines = record_lines();
        ASSERT_EQ(lines.size(), c.k ? 1u : 0u) << all;
        for (const json& line : lines) {
            EXPECT_EQ(line.at("result"), "failed") << line;
            EXPECT_EQ(line.at("failure"), stopped) << line;
        }
    }
    // Nothing left beside a target: no file, no temporary file.
    EXPECT_TRUE(fs::is_empty(dir / "out")) << fs::directory_iterator(dir / "out")->path();
    if (c.k) {
        // Exchange k got its answer, and no exchange came after it.
        ecu->stop();
        EXPECT_EQ(exchanges(), c.k) << all;
        const auto trace = lines_of(read_text(dir / "trace.txt"));
        ASSERT_EQ(trace.size(), c.k) << all;
        std::istringstream last(trace.back());
        std::string when, name, request, response, status;
        last >> when >> name >> request >> response >> status;
        EXPECT_EQ(status, "00000000") << trace.back();
    }
}

INSTANTIATE_TEST_SUITE_P(
    jobs, stopped_job,
    ::testing::Values(stop_case{"update_once_identifying", boot, update_once, 1, true, true},
                      stop_case{"update_once_erasing", boot, update_once, 20, true, false},
                      stop_case{"update_erasing", boot, update_all, 20, true, true},
                      stop_case{"update_waiting_for_an_ecu", boot, update_all, 0, true, false},
                      stop_case{"program_identifying", boot, program, 3, true, false},
                      stop_case{"program_erasing", boot, program, 30, true, true},
                      stop_case{"erase_dynamic", boot, {"erase", "dynamic", root[0], root[1]}, 5, false, true},
                      stop_case{"erase_fixed", boot, {"erase", "fixed", root[0], root[1]}, 4, false, false},
                      stop_case{"powerseq_restarting_the_ecu", app, powerseq, 12, true, true},
                      stop_case{"powerseq_erasing", app, powerseq, 30, true, false},
                      stop_case{"r8c_programming", app, r8c, 12, true, true},
                      stop_case{"coredump_reading", app, {"coredump", "@out/ecu.qxdump"}, 300, false, false},
                      stop_case{"logs_get_reading", app, {"logs", "get", "0", "@out/download.bin"}, 22, false, true}),
    [](const ::testing::TestParamInfo<stop_case>& p) { return std::string(p.param.name); });

// An ECU that never answers holds the exchange (no time-out): the first signal waits for it,
// the second ends the job at once.
TEST_F(job_end, a_second_signal_ends_at_once) {
    const auto ecu = plug_in(boot, "n=3:mute");
    const auto job = start(program, {"--answer-timeout", "0", "--record", record().string()});
    ASSERT_TRUE(wait_for(dir, [&] { return exchanges() >= 3; }, 30s)) << read_text(dir / "flashdesk.out");
    job->signal(SIGTERM);
    ASSERT_TRUE(wait_for(dir, [&] { return read_text(dir / "flashdesk.err").find("second signal") != std::string::npos; }, 30s));
    job->signal(SIGTERM);
    const process_end end = job->wait(30s);
    ASSERT_FALSE(end.over_bound) << end.output << end.errors;
    EXPECT_EQ(end.exit_code, 128 + SIGTERM) << end.output << end.errors;
}

// After a missed answer the text output's last line, the JSON result and the record's failure
// say the same.
struct timeout_case {
    const char* name;
    std::vector<std::string> command;
    unsigned k;  // the exchange the ECU does not answer
    bool json;
};

void PrintTo(const timeout_case& c, std::ostream* out) { *out << c.name; }

class timed_out_job : public job_end, public ::testing::WithParamInterface<timeout_case> {};

TEST_P(timed_out_job, tells_the_missed_answer_everywhere) {
    const timeout_case& c = GetParam();
    const auto ecu = plug_in(boot, "n=" + std::to_string(c.k) + ":mute");
    std::vector<std::string> options{"--answer-timeout", "0.5", "--record", record().string()};
    if (c.json) options.push_back("--json");
    const process_end end = start(c.command, options)->wait(60s);
    const std::string all = end.output + end.errors;
    ASSERT_EQ(end.exit_code, 1) << all;
    const std::string missed = "No answer from the ECU within 0.5 s.";
    if (c.json) {
        EXPECT_EQ(result_of(end.output).at("text"), missed) << all;
    } else {
        const auto errors = lines_of(end.errors);
        EXPECT_TRUE(!errors.empty() && errors.back() == missed) << all;
    }
    const auto lines = record_lines();
    ASSERT_EQ(lines.size(), 1u) << all;
    EXPECT_EQ(lines[0].at("failure"), missed) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(jobs, timed_out_job,
                         ::testing::Values(timeout_case{"update_json", update_once, 12, true},
                                           timeout_case{"update_text", update_once, 12, false},
                                           timeout_case{"program_json", program, 5, true},
                                           timeout_case{"program_text", program, 5, false}),
                         [](const ::testing::TestParamInfo<timeout_case>& p) { return std::string(p.param.name); });

// A successful R8C upgrade keeps its image's size and CRC-32C in the record; when the record
// cannot take the line (the file size limit reached), the job fails and says why.
TEST_F(job_end, r8c_records_its_image_and_fails_when_the_record_cannot_take_the_line) {
    const auto ecu = plug_in(app, "");
    const process_end done = start(r8c, {"--record", record().string()})->wait(60s);
    ASSERT_EQ(done.exit_code, 0) << done.output << done.errors;
    const auto lines = record_lines();
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].at("images").size(), 1u) << lines[0];
    const json& image = lines[0].at("images")[0];
    EXPECT_EQ(image.at("size"), r8c_image.size()) << image;
    char crc[11];
    std::snprintf(crc, sizeof crc, "0x%08X", crc32c(r8c_image));
    EXPECT_EQ(image.at("crc32c"), std::string(crc)) << image;

    // The record already past the limit the job runs under: its line cannot be written.
    constexpr rlim_t limit = 64 << 10;
    {
        std::ofstream grow(record(), std::ios::app);
        while (fs::file_size(record()) <= limit) grow << read_text(record()) << std::flush;
    }
    const auto size_before = fs::file_size(record());
    ::signal(SIGXFSZ, SIG_IGN);  // inherited: the write fails instead of ending the job
    const auto job = start(r8c, {"--record", record().string(), "--json"});
    const rlimit file_size{limit, limit};
    ASSERT_EQ(::prlimit(job->pid(), RLIMIT_FSIZE, &file_size, nullptr), 0);
    const process_end lost = job->wait(60s);
    ::signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(lost.exit_code, 1) << lost.output << lost.errors;
    const json result = result_of(lost.output);
    EXPECT_EQ(result.at("ok"), false) << result;
    EXPECT_TRUE(result.at("text").get<std::string>().starts_with("flashdesk: cannot write to the record " + record().string()))
        << result;
    EXPECT_EQ(fs::file_size(record()), size_before);
}

}  // namespace
}  // namespace qx::faults
