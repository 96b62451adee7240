// Every console job against `ecusim usb`, both as processes of their own: once without faults
// (the job completes, with the exchanges of its table), then with the ECU failing at each
// exchange k in turn; and with `--json`, its stream of JSON lines. A faulted job must end
// within its bound and either complete, with its work verifiably done, or exit non-zero with a
// failure text as its last word and no success shown; an update must never call an image
// "Loaded successfully." that did not arrive whole.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ecusim/command_codes.h"
#include "ecusim/package_set.h"
#include "tests/faults/bounded_process.h"

namespace qx::faults {
namespace {

namespace fs = std::filesystem;
namespace cmd = ecusim::cmd;
using namespace std::chrono_literals;

const std::string serial = "0A0B0C0D";
// Seconds the console waits for an answer: short, so that a silent ECU costs little.
const std::string answer_timeout = "0.5";

enum class fault { unplug, status, rstatus, short_header, truncate, garbage, mute, twice, extra };

struct fault_kind {
    fault kind;
    const char* name;
    const char* action;  // of an ecusim fault rule
    // The ECU also refuses the job's last command (and does not carry it out): an answer taken
    // for a later command's would hide that refusal behind the one before it.
    bool last_refused = false;
};

const fault_kind fault_kinds[] = {
    {fault::unplug, "unplug", "unplug"},
    {fault::status, "status", "status=0x0001"},
    {fault::rstatus, "rstatus", "rstatus=0x80000005"},
    {fault::short_header, "short", "short"},
    {fault::truncate, "truncate", "truncate=1"},
    {fault::garbage, "garbage", "garbage"},
    {fault::mute, "mute", "mute"},
    {fault::twice, "twice", "twice", true},
    {fault::extra, "extra", "extra", true},
};

const fault_kind& kind_of(fault f) {
    return *std::find_if(std::begin(fault_kinds), std::end(fault_kinds),
                         [f](const fault_kind& k) { return k.kind == f; });
}

// How a job's output says how it ended.
enum class family { update, imagetool, logs };

// The command codes of the tables below.
constexpr std::uint8_t version = cmd::get_target_version, descriptor = cmd::get_system_descriptor,
                       find = cmd::configuration_find_channel_by_name,
                       channels = cmd::read_channel_list, security = cmd::security_command,
                       erase = cmd::eeprom_erase_blocks, stop = cmd::configuration_mode_stop,
                       peripheral = cmd::sh_to_peripheral_command,
                       begin_logging = cmd::log_begin_logging, stop_logging = cmd::log_stop_logging,
                       directory = cmd::log_get_directory_entry, open = cmd::log_open_file,
                       read = cmd::log_read_file, close = cmd::log_close_file,
                       raw_read = cmd::log_read_raw_lba;

struct run_of {
    std::uint8_t code;
    unsigned count = 1;
};

struct job {
    const char* name;
    std::vector<std::string> ecusim;   // `ecusim usb` options besides serial, state and faults
    std::vector<std::string> command;  // flashdesk's arguments; "@" opens a path in the case folder
    family kind;
    std::chrono::seconds bound;
    std::vector<run_of> exchanges;  // what the ECU receives in a run without faults
};

// Lines that end a job's output in success, and in failure.
struct verdict_texts {
    std::vector<std::string> success, failure;
};

const verdict_texts& verdicts(family f) {
    static const verdict_texts update{{"progress: Update Success!"},
                                      {"progress: Update Failure!", "Waiting for ECU reconnect.",
                                       "No answer from the ECU", "No ECU answered"}};
    static const verdict_texts imagetool{
        {"Success!: "}, {"Error: ", "ERROR!: ", "Error!: ", "No answer from the ECU"}};
    static const verdict_texts logs{
        {"SUCCESS!: "}, {"ERROR!: ", "Error: ", "No answer from the ECU", "Could not connect"}};
    return f == family::update ? update : f == family::imagetool ? imagetool : logs;
}

const std::vector<job>& jobs() {
    static const std::vector<job> all = {
        {"update",
         {"--mode", "boot"},
         {"update", "--folder", "@packages", "--once", "--root-cert",
          "@packages/RootCertificate_tcert.der"},
         family::update,
         45s,
         {{version}, {security, 7}, {erase}, {security, 4}, {erase, 22}, {security, 7}}},
        {"program",
         {"--mode", "boot"},
         {"program", "@packages/" + serial + "_firmware.pak", "--root-cert",
          "@packages/RootCertificate_tcert.der"},
         family::imagetool,
         20s,
         {{version},
          {security, 4},
          {erase, 9},
          {security},
          {erase, 2},
          {security},
          {erase, 22},
          {security}}},
        {"erase_dynamic",
         {"--mode", "boot"},
         {"erase", "dynamic", "--root-cert", "@packages/RootCertificate_tcert.der"},
         family::imagetool,
         20s,
         {{version}, {security, 3}, {erase, 2}}},
        {"erase_fixed",
         {"--mode", "boot"},
         {"erase", "fixed", "--root-cert", "@packages/RootCertificate_tcert.der"},
         family::imagetool,
         20s,
         {{version}, {security}, {erase, 8}}},
        {"powerseq",
         {"--mode", "app", "--replug-ms", "100"},
         {"powerseq", "@packages/" + serial + "_firmware.pak", "--timeout", "10"},
         family::imagetool,
         30s,
         {{version},
          {descriptor},
          {find, 6},
          {security},
          {stop},
          {peripheral, 2},
          {version},
          {security, 3},
          {erase, 9},
          {security},
          {erase, 2},
          {security},
          {erase, 22},
          {security}}},
        {"r8c",
         {"--mode", "app", "--r8c-block-size", "800"},
         {"r8c", "@r8c.bin", "--yes"},
         family::imagetool,
         20s,
         {{version}, {descriptor}, {find, 6}, {stop}, {peripheral, 9}}},
        {"logs_get_files",
         {"--mode", "app", "--log-file", "@REPORT.TXT"},
         {"logs", "get", "0", "@download.bin"},
         family::logs,
         20s,
         {{version},
          {descriptor},
          {find, 6},
          {begin_logging},
          {find},
          {channels},
          {find},
          {channels},
          {directory, 2},
          {find},
          {channels},
          {find},
          {channels},
          {open},
          {read, 3},
          {close},
          {stop_logging}}},
        {"logs_get_raw",
         {"--mode", "app", "--raw-logging", "--raw-file", "@raw.bin"},
         {"logs", "get", "0", "@download.bin"},
         family::logs,
         20s,
         {{version},
          {descriptor},
          {find, 6},
          {begin_logging},
          {find},
          {channels},
          {find},
          {channels},
          {raw_read, 2},
          {find},
          {channels},
          {find},
          {channels},
          {raw_read, 3},
          {stop_logging}}},
    };
    return all;
}

const job& job_named(const std::string& name) {
    for (const job& j : jobs())
        if (name == j.name) return j;
    throw std::invalid_argument("no job " + name);
}

std::vector<std::uint8_t> codes_of(const job& j) {
    std::vector<std::uint8_t> out;
    for (const run_of& r : j.exchanges) out.insert(out.end(), r.count, r.code);
    return out;
}

// The same in the table's notation, to paste into it when a job's exchanges change.
std::string table_notation(const std::vector<std::uint8_t>& codes) {
    std::ostringstream out;
    for (std::size_t i = 0; i < codes.size();) {
        std::size_t n = 1;
        while (i + n < codes.size() && codes[i + n] == codes[i]) ++n;
        out << "{" << unsigned(codes[i]) << (n > 1 ? ", " + std::to_string(n) : "") << "}, ";
        i += n;
    }
    return out.str();
}

bool has(const std::string& line, const std::vector<std::string>& texts) {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::string& t) { return line.find(t) != std::string::npos; });
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& p, const std::string& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << data;
}

// A folder of its own per case: packages, files for the ECU, its registry and its state.
class fault_run : public ::testing::Test {
protected:
    void SetUp() override {
        dir = make_short_temp_dir("fdf");
        fs::create_directories(dir / "registry");
        ecusim::make_packages(serial, (dir / "packages").string(), 1);
        std::string r8c(0x4800, '\0');
        for (std::size_t i = 0; i < r8c.size(); ++i) r8c[i] = char((i * 7 + 3) % 251);
        write_file(dir / "r8c.bin", r8c);
        log_data.clear();
        for (int i = 0; i < 5000; ++i) log_data.push_back(char('A' + i % 26));
        write_file(dir / "REPORT.TXT", log_data);
        write_file(dir / "raw.bin", log_data.substr(0, 1500));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    std::string at(const std::string& arg) const {
        return arg.starts_with("@") ? (dir / arg.substr(1)).string() : arg;
    }

    struct outcome {
        process_end flashdesk;
        nlohmann::json state;
        std::string check;  // `ecusim check-update` of the packages against the state
        bool all_programmed = false;
    };

    // json: with `--json`, its standard error apart from the output.
    outcome run(const job& j, const std::string& fault_plan, bool json = false) {
        const std::map<std::string, std::string> env{
            {"TRELINK_DEVICE_DIR", (dir / "registry").string()}};
        std::vector<std::string> sim_args{"usb", "--serial", serial, "--state",
                                          (dir / "state.json").string()};
        for (const auto& a : j.ecusim) sim_args.push_back(at(a));
        if (!fault_plan.empty()) sim_args.insert(sim_args.end(), {"--faults", fault_plan});
        outcome o;
        {
            ecusim_server ecu(ECUSIM_PATH, sim_args, env);
            std::vector<std::string> argv{FLASHDESK_PATH};
            for (const auto& a : j.command) argv.push_back(at(a));
            argv.insert(argv.end(), {"--answer-timeout", answer_timeout});
            if (json) argv.push_back("--json");
            o.flashdesk = run_bounded(argv, env, dir / "flashdesk.out", j.bound, json ? dir / "flashdesk.err" : fs::path());
        }
        o.state = nlohmann::json::parse(read_file(dir / "state.json"));
        std::ostringstream check;
        o.all_programmed = ecusim::check_update(serial, (dir / "state.json").string(), check, 1);
        o.check = check.str();
        return o;
    }

    // Whether the check-update summary shows the image of an update row complete.
    static bool image_complete(const std::string& check, std::string row) {
        std::transform(row.begin(), row.end(), row.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        for (const std::string& line : lines_of(check)) {
            if (!line.starts_with(row + ": ")) continue;
            std::istringstream in(line.substr(row.size() + 2));
            unsigned good = 0, total = 0;
            std::string of;
            in >> good >> of >> total;
            return total > 0 && good == total;
        }
        return false;
    }

    // What the job was to do is done, as the ECU's state and the files show.
    void expect_done(const job& j, const outcome& o) {
        const std::string name = j.name;
        const auto& erases = o.state.at("erases");
        auto erased = [&](const char* start, unsigned blocks) {
            return std::any_of(erases.begin(), erases.end(), [&](const nlohmann::json& e) {
                return e.at("start_block") == start && e.at("number_of_blocks") == blocks;
            });
        };
        if (name == "update") {
            EXPECT_TRUE(o.all_programmed) << o.check;
        } else if (name == "program" || name == "powerseq") {
            EXPECT_TRUE(image_complete(o.check, "firmware")) << o.check;
        } else if (name == "erase_dynamic") {
            EXPECT_TRUE(erased("0C000000", 32)) << "the SST39 part " << erases.dump();
            EXPECT_TRUE(erased("80100000", 16)) << erases.dump();
        } else if (name == "erase_fixed") {
            for (const char* block : {"00100000", "00120000", "00140000", "00160000", "00180000",
                                      "001A0000", "001C0000"})
                EXPECT_TRUE(erased(block, 1)) << block << " " << erases.dump();
        } else if (name == "r8c") {
            EXPECT_EQ(o.state.at("r8c").at("programmed_addresses").size(), 2u)
                << o.state.at("r8c").dump();
        } else if (name == "logs_get_files") {
            EXPECT_EQ(read_file(dir / "download.bin"), log_data);
        } else if (name == "logs_get_raw") {
            const std::string got = read_file(dir / "download.bin");
            EXPECT_EQ(got.size(), 10 + 1500u);
            EXPECT_TRUE(got.ends_with(log_data.substr(0, 1500)));
        }
    }

    void expect_completed(const job& j, const outcome& o) {
        const auto& out = o.flashdesk.output;
        ASSERT_FALSE(o.flashdesk.over_bound) << "still running after " << j.bound.count() << " s:\n"
                                             << out;
        EXPECT_EQ(o.flashdesk.exit_code, 0) << out;
        const auto& v = verdicts(j.kind);
        const auto lines = lines_of(out);
        const auto last = std::find_if(lines.rbegin(), lines.rend(), [&](const std::string& l) {
            return has(l, v.success) || has(l, v.failure);
        });
        EXPECT_TRUE(last != lines.rend() && has(*last, v.success)) << out;
        expect_done(j, o);
    }

    void expect_failed(const job& j, const outcome& o) {
        const auto& out = o.flashdesk.output;
        ASSERT_FALSE(o.flashdesk.over_bound) << "still running after " << j.bound.count() << " s:\n"
                                             << out;
        ASSERT_TRUE(o.flashdesk.exit_code.has_value())
            << "killed by a signal after " << o.flashdesk.took.count() << " ms:\n"
            << out;
        EXPECT_NE(*o.flashdesk.exit_code, 0) << out;
        const auto& v = verdicts(j.kind);
        const auto lines = lines_of(out);
        const auto last = std::find_if(lines.rbegin(), lines.rend(), [&](const std::string& l) {
            return has(l, v.success) || has(l, v.failure);
        });
        EXPECT_TRUE(last != lines.rend() && has(*last, v.failure)) << "no failure text last:\n" << out;
        // A success shown before the failure (a download saved, then an error closing the
        // ECU's file) must be true.
        const bool claimed =
            std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return has(l, v.success); });
        if (claimed) expect_done(j, o);
        if (j.kind == family::update) {
            for (const std::string& l : lines) {
                const auto colon = l.find(": Loaded successfully.");
                if (colon != std::string::npos) {
                    EXPECT_TRUE(image_complete(o.check, l.substr(0, colon)))
                        << l << " but the ECU holds:\n"
                        << o.check << "\n"
                        << out;
                }
            }
        }
        if (j.kind == family::logs && !claimed) {
            EXPECT_FALSE(fs::exists(dir / "download.bin")) << "a failed download left a file\n"
                                                           << out;
        }
    }

    fs::path dir;
    std::string log_data;
};

// Without faults every job completes, with the exchanges of its table.
class fault_free : public fault_run, public ::testing::WithParamInterface<std::string> {};

TEST_P(fault_free, completes_with_the_exchanges_of_its_table) {
    const job& j = job_named(GetParam());
    const outcome o = run(j, "");
    expect_completed(j, o);
    const auto codes = o.state.at("command_codes").get<std::vector<std::uint8_t>>();
    EXPECT_EQ(codes, codes_of(j)) << "the job's exchanges: " << table_notation(codes) << "\n"
                                  << o.flashdesk.output;
}

INSTANTIATE_TEST_SUITE_P(jobs, fault_free,
                         ::testing::Values("update", "program", "erase_dynamic", "erase_fixed",
                                           "powerseq", "r8c", "logs_get_files", "logs_get_raw"));

struct fault_case {
    unsigned k;
    fault kind;
};

// Exchanges whose answer leads with a status word (the log directory, open and read answers
// carry it in their second word); elsewhere a wrong response status only changes data.
bool answers_with_status(std::uint8_t code) {
    return code == security || code == stop || code == begin_logging || code == stop_logging || code == directory ||
           code == open || code == read || code == close;
}

// Every exchange k with every fault that means something there: a response status only where
// the answer has one, a truncated answer only where there is data to cut. A silent ECU costs
// the answer time-out, so it is tried at the first exchange of each run of one command code
// and at the last exchange. An answer delivered twice and a stray packet after the answer are
// tried everywhere, with the job's last command refused.
std::vector<fault_case> cases_of(const char* job_name) {
    const auto codes = codes_of(job_named(job_name));
    std::vector<fault_case> out;
    for (unsigned k = 1; k <= codes.size(); ++k) {
        const std::uint8_t code = codes[k - 1];
        const bool run_start = k == 1 || code != codes[k - 2];
        for (const fault_kind& f : fault_kinds) {
            if (f.kind == fault::rstatus && !answers_with_status(code)) continue;
            if (f.kind == fault::truncate && code == erase) continue;
            if (f.kind == fault::mute && !run_start && k != codes.size()) continue;
            out.push_back({k, f.kind});
        }
    }
    return out;
}

std::string case_name(const ::testing::TestParamInfo<fault_case>& info) {
    char k[8];
    std::snprintf(k, sizeof k, "k%02u_", info.param.k);
    return k + std::string(kind_of(info.param.kind).name);
}

class faulted : public fault_run, public ::testing::WithParamInterface<fault_case> {
protected:
    void check(const char* job_name) {
        const job& j = job_named(job_name);
        const fault_case c = GetParam();
        const auto codes = codes_of(j);
        std::string plan = "n=" + std::to_string(c.k) + ":" + kind_of(c.kind).action;
        if (kind_of(c.kind).last_refused && c.k < codes.size())
            plan += ";n=" + std::to_string(codes.size()) + ":status=0x0001";
        const outcome o = run(j, plan);
        SCOPED_TRACE("fault " + plan + " on command code " + std::to_string(codes.at(c.k - 1)));
        // A job may recover from a fault (a retried connection, an answer it only shows); then
        // its success must be true, which the ECU's state and the files tell.
        if (o.flashdesk.exit_code == 0)
            expect_completed(j, o);
        else
            expect_failed(j, o);
    }
};

#define FAULT_MATRIX(job_name)                \
    class job_name : public faulted {};       \
    TEST_P(job_name, ends_in_a_true_result) { \
        check(#job_name);                     \
    }                                         \
    INSTANTIATE_TEST_SUITE_P(faults, job_name, ::testing::ValuesIn(cases_of(#job_name)), case_name)

FAULT_MATRIX(update);
FAULT_MATRIX(program);
FAULT_MATRIX(erase_dynamic);
FAULT_MATRIX(erase_fixed);
FAULT_MATRIX(powerseq);
FAULT_MATRIX(r8c);
FAULT_MATRIX(logs_get_files);
FAULT_MATRIX(logs_get_raw);

// With --json a job prints nothing but JSON objects, one per line, the last of them its only
// result object, which tells how it ended.
struct json_case {
    const char* job;
    const char* plan;    // the ECU's fault plan
    bool without_group;  // the ECU's package group removed
    bool ok;
    std::string result;  // how the result's text begins
};

void PrintTo(const json_case& c, std::ostream* out) { *out << c.job << " \"" << c.plan << "\" " << c.result; }

class json_stream : public fault_run, public ::testing::WithParamInterface<json_case> {};

TEST_P(json_stream, holds_only_json_lines_and_ends_in_the_result) {
    const json_case& c = GetParam();
    if (c.without_group) fs::remove(dir / "packages" / (serial + ".pakgrp"));
    const outcome o = run(job_named(c.job), c.plan, true);
    const std::string& out = o.flashdesk.output;
    ASSERT_TRUE(o.flashdesk.exit_code.has_value()) << out << o.flashdesk.errors;
    std::vector<nlohmann::json> objects;
    for (const std::string& line : lines_of(out)) {
        ASSERT_TRUE(nlohmann::json::accept(line)) << line;
        objects.push_back(nlohmann::json::parse(line));
    }
    ASSERT_FALSE(objects.empty());
    std::map<std::string, unsigned> kinds;
    std::map<std::string, nlohmann::json> last_progress;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const nlohmann::json& j = objects[i];
        const std::string type = j.at("type");
        ++kinds[type];
        EXPECT_EQ(type == "result", i + 1 == objects.size()) << j.dump();
        if (type == "text") {
            EXPECT_FALSE(j.at("control").get<std::string>().empty()) << j.dump();
            EXPECT_FALSE(j.at("text").get<std::string>().empty()) << j.dump();
        } else if (type == "progress") {
            const int position = j.at("position"), low = j.at("range")[0], high = j.at("range")[1];
            EXPECT_TRUE(position >= low && position <= high) << j.dump();
            // No flood: a line only when the control moved to another percent or range.
            const auto percent = [](const nlohmann::json& p) {
                const int lo = p["range"][0], span = int(p["range"][1]) - lo;
                return std::pair{p["range"], span > 0 ? (int(p["position"]) - lo) * 100 / span : 0};
            };
            auto& last = last_progress[j.at("control")];
            EXPECT_TRUE(last.is_null() || percent(last) != percent(j)) << last.dump() << " then " << j.dump();
            last = j;
        } else if (type == "message") {
            EXPECT_TRUE(j.at("caption").is_string() && j.at("text").is_string()) << j.dump();
            EXPECT_TRUE(j.at("answer") == "ok" || j.at("answer") == "yes" || j.at("answer") == "no" ||
                        j.at("answer") == "cancel") << j.dump();
        } else {
            EXPECT_EQ(type, "result") << j.dump();
        }
    }
    const nlohmann::json& result = objects.back();
    EXPECT_EQ(result.at("ok"), c.ok) << out;
    EXPECT_EQ(result.at("exit"), *o.flashdesk.exit_code) << out;
    EXPECT_EQ(c.ok, o.flashdesk.exit_code == 0) << out;
    EXPECT_TRUE(result.at("text").get<std::string>().starts_with(c.result)) << result.dump();
    if (c.ok) {
        EXPECT_GT(kinds["text"] + kinds["message"], 0u) << out;
        if (std::string(c.job) != "erase_dynamic") {
            EXPECT_GT(kinds["progress"], 0u) << out;
        }
        expect_done(job_named(c.job), o);
    }
}

INSTANTIATE_TEST_SUITE_P(
    jobs, json_stream,
    ::testing::Values(json_case{"update", "", false, true, "Update Success! (100%)"},
                      json_case{"update", "", true, false, "Could not find update file for connected ECU."},
                      json_case{"update", "n=12:mute", false, false, "No answer from the ECU within 0.5 s."},
                      json_case{"program", "", false, true, "Firmware loaded succesfully"},
                      json_case{"erase_dynamic", "", false, true, "Dynamic model data erased succesfully"},
                      json_case{"powerseq", "", false, true, "OnBnClickedButtonImagedlPowerseqdlfile Firmware download"},
                      json_case{"r8c", "", false, true, "Firmware Updated Successfully!"},
                      json_case{"logs_get_files", "", false, true, "REPORT.TXT -> "}),
    [](const ::testing::TestParamInfo<json_case>& p) { return p.param.job + std::to_string(p.index); });

}  // namespace
}  // namespace qx::faults
