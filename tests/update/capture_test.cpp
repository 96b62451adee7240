// A field session captured (flashdesk --capture), read (flashdesk capture show), replayed
// (ecusim replay) and opened in Wireshark (tshark with the dissector of flashdesk describe
// --wireshark): `flashdesk`, `ecusim` and `tshark` as processes of their own.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/console/wireshark_dissector.h"
#include "ecusim/package_set.h"
#include "platform/capture/pcapng.h"
#include "tests/faults/bounded_process.h"

namespace qx::faults {
namespace {

namespace fs = std::filesystem;
namespace pc = platform::pcapng;
using json = nlohmann::json;
using namespace std::chrono_literals;

const std::string demo_serial = "01020AFF";  // scripts/demo.sh's

std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<json> json_lines(const std::string& text) {
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(json::parse(line));
    return lines;
}

class capture_session : public ::testing::Test {
protected:
    void SetUp() override {
        dir = make_short_temp_dir("fdcap");
        env = {{"TRELINK_DEVICE_DIR", (dir / "registry").string()}};
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    process_end flashdesk(std::vector<std::string> args, const std::string& out_name) {
        args.insert(args.begin(), FLASHDESK_PATH);
        return run_bounded(args, env, dir / out_name, 60s, dir / (out_name + ".err"));
    }
    std::unique_ptr<ecusim_server> ecusim(const std::vector<std::string>& args) {
        return std::make_unique<ecusim_server>(ECUSIM_PATH, args, env);
    }
    // `flashdesk update --once` of the packages in `folder`, captured into `capture`.
    process_end update(const fs::path& folder, const fs::path& capture, const std::string& out_name) {
        return flashdesk({"update", "--once", "--folder", folder.string(), "--root-cert",
                          (folder / "RootCertificate_tcert.der").string(), "--capture", capture.string()},
                         out_name);
    }
    // The exchanges `capture show --json` prints, with their fields when asked.
    std::vector<json> exchanges(const fs::path& capture, bool fields) {
        std::vector<std::string> args = {"capture", "show", capture.string(), "--json"};
        if (fields) args.push_back("--fields");
        const process_end shown = flashdesk(args, "show.json");
        EXPECT_EQ(shown.exit_code, 0) << shown.errors;
        std::vector<json> out;
        for (json& j : json_lines(shown.output))
            if (j["type"] == "exchange") out.push_back(std::move(j));
        return out;
    }
    // The demo's update (scripts/demo.sh: packages of make-packages, a boot loader) against
    // `ecusim usb`, captured.
    fs::path capture_demo_update() {
        ecusim::make_packages(demo_serial, (dir / "packages").string());
        auto ecu = ecusim({"usb", "--mode", "boot", "--serial", demo_serial, "--state", (dir / "state.json").string()});
        const fs::path capture = dir / "demo.pcapng";
        const process_end end = update(dir / "packages", capture, "demo.out");
        EXPECT_EQ(end.exit_code, 0) << end.output << end.errors;
        ecu->stop();
        std::ostringstream check;
        EXPECT_TRUE(ecusim::check_update(demo_serial, (dir / "state.json").string(), check)) << check.str();
        demo_output = end.output;
        return capture;
    }

    fs::path dir;
    std::map<std::string, std::string> env;
    std::string demo_output;
};

// Command, sizes and status of each exchange, and with fields every field of both sides.
std::vector<json> comparable(std::vector<json> exchanges) {
    for (json& e : exchanges)
        for (const char* k : {"time", "latency_ms", "link"}) e.erase(k);
    return exchanges;
}

TEST_F(capture_session, the_demo_update_replayed_is_updated_with_the_same_result_and_the_same_exchanges) {
    const fs::path captured = capture_demo_update();
    const std::vector<json> original = exchanges(captured, true);
    ASSERT_GT(original.size(), 80u);

    auto replay = ecusim({"replay", captured.string()});
    EXPECT_NE(replay->banner().find("replaying " + std::to_string(original.size()) + " captured exchanges"),
              std::string::npos)
        << replay->banner();
    const process_end again = update(dir / "packages", dir / "again.pcapng", "again.out");
    EXPECT_EQ(again.exit_code, 0) << again.output << again.errors;
    EXPECT_EQ(again.output, demo_output);
    replay->stop();
    EXPECT_EQ(replay->exit_code(), 0) << replay->output();
    EXPECT_EQ(replay->output(), "ecusim replay: " + std::to_string(original.size()) + " of " +
                                    std::to_string(original.size()) + " captured exchanges answered as captured\n");

    const std::vector<json> replayed = exchanges(dir / "again.pcapng", true);
    EXPECT_EQ(comparable(replayed), comparable(original));
}

// The capture of an update with one byte of its 5th request changed: the replay names that
// exchange and byte, refuses it and everything after, and the update fails.
TEST_F(capture_session, a_request_that_differs_from_the_capture_is_reported_and_refused) {
    const fs::path captured = capture_demo_update();
    pc::capture c = pc::read_file(captured.string());
    std::size_t commands = 0;
    std::uint8_t was = 0;
    constexpr std::size_t changed_at = 8 + 40;  // the request's data array descriptor
    for (pc::packet& p : c.packets) {
        const bool announcement = p.data.size() == 32 && p.data[0] == 0xCD && p.data[1] == 0x07;
        if (p.dir != pc::direction::outbound || announcement || ++commands != 5) continue;
        ASSERT_GT(p.data.size(), changed_at);
        was = p.data[changed_at];
        p.data[changed_at] ^= 0x10;
    }
    int error = 0;
    const fs::path tampered = dir / "tampered.pcapng";
    auto w = pc::writer::create(tampered.string(), "test", error);
    ASSERT_TRUE(w) << error;
    std::uint32_t id = 0;
    ASSERT_TRUE(w->add_interface(c.interfaces[0], id));
    for (const pc::packet& p : c.packets) ASSERT_TRUE(w->add_packet(id, p.time_ns, p.dir, p.data.data(), p.data.size()));
    w.reset();

    auto replay = ecusim({"replay", tampered.string()});
    const process_end end = update(dir / "packages", dir / "refused.pcapng", "refused.out");
    EXPECT_EQ(end.exit_code, 1) << end.output;
    EXPECT_NE(end.output.find("Fixed Model: Communication Error.  Check USB connection.\n"), std::string::npos) << end.output;
    replay->stop();
    EXPECT_EQ(replay->exit_code(), 1);
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "ecusim replay: exchange 5 (command 0xCD06): the request first differs at byte %zu of the command "
                  "packet: 0x%02X, captured 0x%02X\n",
                  changed_at, unsigned(was), unsigned(was ^ 0x10));
    EXPECT_EQ(replay->output().substr(0, replay->output().find('\n') + 1), expected) << replay->output();
    EXPECT_NE(replay->output().find("ecusim replay: 4 of "), std::string::npos) << replay->output();

    // The refusals are in the new capture: from exchange 5 on, the replay's status and no data.
    const std::vector<json> refused = exchanges(dir / "refused.pcapng", false);
    ASSERT_GT(refused.size(), 5u);
    for (std::size_t i = 0; i < refused.size(); ++i) {
        EXPECT_EQ(refused[i]["status"], i < 4 ? 0 : 3) << refused[i];
        EXPECT_EQ(refused[i]["response_size"] == 0, i >= 4) << refused[i];
    }
}

// The field failure kept under tests/captures: an update whose ECU refused the dynamic model's
// block. Replayed, the same packages fail the same way at the same exchange.
TEST_F(capture_session, the_field_failure_at_the_dynamic_model_replays_to_the_same_failure) {
    const fs::path captured = fs::path(SOURCE_DIR) / "tests/captures/dynamic_model_failure.pcapng";
    const std::vector<json> shown = exchanges(captured, true);
    ASSERT_EQ(shown.size(), 42u);
    EXPECT_EQ(shown.back()["command"], "SECURITY_COMMAND");
    EXPECT_EQ(shown.back()["request"]["fields"]["command"], "8");  // a dynamic model block
    EXPECT_EQ(shown.back()["response"]["fields"]["status"], std::to_string(0x71000003));

    ecusim::make_packages("0A0B0C0D", (dir / "field").string(), 1);
    auto replay = ecusim({"replay", captured.string()});
    const process_end end = update(dir / "field", dir / "lab.pcapng", "lab.out");
    EXPECT_EQ(end.exit_code, 1);
    EXPECT_NE(end.output.find("Fixed Model: Loaded successfully.\n"), std::string::npos) << end.output;
    EXPECT_NE(end.output.find("Dynamic Model: Command Error:  Check USB connection.\nprogress: Update Failure! (75%)\n"),
              std::string::npos)
        << end.output;
    replay->stop();
    EXPECT_EQ(replay->exit_code(), 0) << replay->output();
    EXPECT_EQ(replay->output(), "ecusim replay: 42 of 42 captured exchanges answered as captured\n");
    EXPECT_EQ(comparable(exchanges(dir / "lab.pcapng", true)), comparable(shown));
}

TEST_F(capture_session, a_cut_capture_is_shown_up_to_the_cut_and_a_taken_name_is_refused) {
    const fs::path captured = capture_demo_update();
    const std::string whole = read_text(captured);
    const std::size_t all = exchanges(captured, false).size();
    const fs::path cut = dir / "cut.pcapng";
    std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() / 2);
    const process_end shown = flashdesk({"capture", "show", cut.string()}, "cut.out");
    EXPECT_EQ(shown.exit_code, 0);
    EXPECT_NE(shown.errors.find("flashdesk capture show: " + cut.string() + " is cut short: the block at byte "),
              std::string::npos)
        << shown.errors;
    const std::size_t lines = std::size_t(std::count(shown.output.begin(), shown.output.end(), '\n'));
    EXPECT_GT(lines, 2u + all / 4);
    EXPECT_LT(lines, 2u + all);

    const process_end refused = flashdesk({"ecu", "info", "--capture", captured.string()}, "taken.out");
    EXPECT_NE(refused.exit_code, 0);
    EXPECT_NE(refused.errors.find("--capture: Path already exists: " + captured.string()), std::string::npos)
        << refused.errors;
    EXPECT_EQ(read_text(captured), whole);
}

// tshark's view of a capture through the generated dissector: per command frame the command
// and its request's fields, per answer's last frame its response's fields.
struct side {
    std::string command, structure;
    std::map<std::string, std::string> fields;
    bool operator==(const side&) const = default;
};

void PrintTo(const side& s, std::ostream* os) { *os << s.command << " " << s.structure << " (" << s.fields.size() << " fields)"; }

void flatten(const json& tree, std::map<std::string, std::string>& out) {
    for (const auto& [key, value] : tree.items()) {
        if (value.is_object()) flatten(value, out);
        else if (value.is_string()) out[key] = value.get<std::string>();
        else ADD_FAILURE() << key << " appears more than once";
    }
}

std::pair<std::vector<side>, std::vector<side>> tshark_sides(const json& packets) {
    std::vector<side> requests, responses;
    for (const json& p : packets) {
        const json& layers = p["_source"]["layers"];
        if (!layers.contains("trelink")) continue;
        const json& t = layers["trelink"];
        for (const auto& [which, list] : {std::pair{"request", &requests}, std::pair{"response", &responses}}) {
            const std::string key = std::string("trelink.") + which;
            if (!t.contains(key)) continue;
            side s{t.value("trelink.command", ""), t[key].get<std::string>(), {}};
            if (t.contains(key + "_tree")) flatten(t[key + "_tree"], s.fields);
            list->push_back(std::move(s));
        }
    }
    return {requests, responses};
}

std::pair<std::vector<side>, std::vector<side>> shown_sides(const std::vector<json>& exchanges) {
    std::vector<side> requests, responses;
    for (const json& e : exchanges)
        for (const auto& [which, list] : {std::pair{"request", &requests}, std::pair{"response", &responses}}) {
            if (!e.contains(which)) continue;
            const std::string structure = e[which]["structure"];
            side s{e["command"], structure, {}};
            for (const auto& [name, value] : e[which]["fields"].items())
                s.fields[console::wireshark_field(structure, name)] = value.get<std::string>();
            list->push_back(std::move(s));
        }
    return {requests, responses};
}

struct wireshark_case {
    const char* name;
    fs::path (*make)(capture_session&);
};

class wireshark : public capture_session, public ::testing::WithParamInterface<wireshark_case> {
public:
    fs::path demo() { return capture_demo_update(); }
    // `flashdesk logs get` of a 10000-byte log file: reads of several packets each.
    fs::path logs_get() {
        const fs::path log = dir / "trip.log";
        std::string data(10000, '\0');
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = char(i * 13 + 5);
        std::ofstream(log, std::ios::binary) << data;
        auto ecu = ecusim({"usb", "--mode", "app", "--log-file", log.string(), "--log-dir", "LOGS"});
        const fs::path capture = dir / "logs.pcapng";
        const process_end end =
            flashdesk({"logs", "get", "0", (dir / "copy.log").string(), "--capture", capture.string()}, "logs.out");
        EXPECT_EQ(end.exit_code, 0) << end.output << end.errors;
        EXPECT_EQ(read_text(dir / "copy.log"), data);
        return capture;
    }
};

void PrintTo(const wireshark_case& c, std::ostream* os) { *os << c.name; }

TEST_P(wireshark, shows_every_command_and_field_as_capture_show_prints_them) {
    ASSERT_TRUE(fs::exists(TSHARK_PATH)) << "tshark is missing: scripts/install-deps.sh installs it";
    const fs::path capture = GetParam().make(*this);
    const fs::path dissector = dir / "trelink.lua";
    const process_end written = flashdesk({"describe", "--wireshark", "--out", dissector.string()}, "lua.out");
    ASSERT_EQ(written.exit_code, 0) << written.errors;

    const process_end shark = run_bounded({TSHARK_PATH, "-X", "lua_script:" + dissector.string(), "-r", capture.string(),
                                           "-T", "json", "--no-duplicate-keys"},
                                          {{"HOME", dir.string()}}, dir / "tshark.json", 120s, dir / "tshark.err");
    ASSERT_EQ(shark.exit_code, 0) << shark.errors;
    EXPECT_EQ(shark.errors.find("Lua"), std::string::npos) << shark.errors;
    const auto [requests, responses] = tshark_sides(json::parse(shark.output));

    const std::vector<json> shown = exchanges(capture, true);
    const auto [want_requests, want_responses] = shown_sides(shown);
    ASSERT_EQ(requests.size(), shown.size());
    ASSERT_EQ(requests.size(), want_requests.size());
    ASSERT_EQ(responses.size(), want_responses.size());
    for (std::size_t i = 0; i < requests.size(); ++i) EXPECT_EQ(requests[i], want_requests[i]) << "exchange " << i + 1;
    for (std::size_t i = 0; i < responses.size(); ++i) EXPECT_EQ(responses[i], want_responses[i]) << "response " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(captures, wireshark,
                         ::testing::Values(wireshark_case{"demo_update", [](capture_session& s) {
                                               return static_cast<wireshark&>(s).demo();
                                           }},
                                           wireshark_case{"logs_get", [](capture_session& s) {
                                               return static_cast<wireshark&>(s).logs_get();
                                           }},
                                           // The other links' framing: the seeds of fuzz_capture_reader.
                                           wireshark_case{"usb_can", [](capture_session&) {
                                               return fs::path(SOURCE_DIR) / "tests/corpus/fuzz_capture_reader/usb_can";
                                           }},
                                           wireshark_case{"simulator", [](capture_session&) {
                                               return fs::path(SOURCE_DIR) / "tests/corpus/fuzz_capture_reader/simulator";
                                           }},
                                           wireshark_case{"serial_big_endian", [](capture_session&) {
                                               return fs::path(SOURCE_DIR) / "tests/corpus/fuzz_capture_reader/serial_big_endian";
                                           }},
                                           wireshark_case{"serial_host_order", [](capture_session&) {
                                               return fs::path(SOURCE_DIR) / "tests/corpus/fuzz_capture_reader/serial_host_order";
                                           }}),
                         [](const ::testing::TestParamInfo<wireshark_case>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace qx::faults
