// The flashdesk program's text output never hands a terminal a control character that came
// from outside: from the ECU (board model, log file names), from a package (author, entry
// name), from a record or trace file. Each is written as a visible escape.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/console/ecu_record.h"
#include "app/console/visible_text.h"
#include "ecusim/usb_device.h"
#include "tests/support/pak_writer.h"

namespace qx::testing {
namespace {

namespace fs = std::filesystem;
namespace ts = qx::test_support;

// The flashdesk program with `args`, bounded in time: exit status and everything it printed.
std::pair<int, std::string> flashdesk(const std::string& args) {
    const std::string command = std::string("timeout 60 ") + FLASHDESK_BIN + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[512];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    return {WEXITSTATUS(::pclose(pipe)), output};
}

class console_text : public ::testing::Test {
public:
    void SetUp() override {
        std::string t = (fs::temp_directory_path() / "console-text-XXXXXX").string();
        folder = ::mkdtemp(t.data());
    }
    void TearDown() override {
        ecu.reset();
        fs::remove_all(folder);
    }
    void plug_in(ecusim::ecu_config cfg) { ecu = std::make_unique<ecusim::virtual_ecu>(std::move(cfg)); }

    fs::path folder;
    std::unique_ptr<ecusim::virtual_ecu> ecu;
};

struct hostile_text {
    const char* name;
    // Puts the hostile text where it comes from; the command line that prints it.
    std::function<std::string(console_text&)> prepare;
    const char* expected;
};

// Test names print the case's name, not its bytes.
void PrintTo(const hostile_text& c, std::ostream* os) { *os << c.name; }

ecusim::ecu_config application() {
    ecusim::ecu_config cfg;
    cfg.mode = ecusim::ecu_mode::app;
    return cfg;
}

const hostile_text hostile_texts[] = {
    {"board_model",
     [](console_text& t) {
         ecusim::ecu_config cfg = application();
         cfg.board_model = "\x1b]0;X\x07";  // retitles the window
         t.plug_in(cfg);
         return std::string("ecu info");
     },
     "board_model: \\x1b]0;X\\x07\n"},
    {"log_file_name",
     [](console_text& t) {
         ecusim::ecu_config cfg = application();
         cfg.log_files.push_back({"RED.TXT", u"\x1b[31mred\r", 0x20, {1, 2, 3}});
         t.plug_in(cfg);
         return std::string("logs list");
     },
     "\tRED.TXT\t\\x1b[31mred\\x0d\t3\n"},
    {"package_author_and_c1",
     [](console_text& t) {
         ts::pak_spec spec = ts::sample_pak_spec(2, "01020AFF", 1);
         spec.author = "\x1b[2J\x9b" "1m";  // a raw C1 byte: CSI on an 8-bit terminal
         ts::save_file((t.folder / "a.pak").string(), ts::write_pak(spec).data);
         return "pak info " + (t.folder / "a.pak").string();
     },
     "author: \\x1b[2J\\x9b1m\n"},
    {"record_failure",
     [](console_text& t) {
         console::ecu_record r;
         r.begin("program");
         r.finish(false, "\x1b]0;X\x07");
         std::ofstream(t.folder / "record.jsonl") << console::record_line(r) << '\n';
         return "record show " + (t.folder / "record.jsonl").string();
     },
     "failed  \\x1b]0;X\\x07\n"},
    {"trace_command_name",
     [](console_text& t) {
         std::ofstream(t.folder / "trace.txt") << "2024-01-01T00:00:00.000Z\t\x1b[2JGET\t0\t8\t00000000\t5\n";
         return "trace show " + (t.folder / "trace.txt").string();
     },
     "\\x1b[2JGET "},
};

class console_hostile_text : public console_text, public ::testing::WithParamInterface<hostile_text> {};

TEST_P(console_hostile_text, reaches_the_terminal_as_visible_escapes) {
    const auto [status, output] = flashdesk(GetParam().prepare(*this));
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find(GetParam().expected), std::string::npos) << output;
    EXPECT_EQ(output.find_first_of("\x1b\x07\r\x9b"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(sources, console_hostile_text, ::testing::ValuesIn(hostile_texts),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(visible_text, writes_c0_del_and_c1_as_escapes_and_keeps_the_rest) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain text, Ä and ü", "plain text, Ä and ü"},
        {"\x1b]0;X\x07", "\\x1b]0;X\\x07"},
        {"a\tb\nc\x7f", "a\\x09b\\x0ac\\x7f"},
        {"\xc2\x9b" "1m", "\\x9b1m"},        // C1 written in UTF-8
        {"M\xfcller\x9b", "Müller\\x9b"},    // bytes that are no UTF-8, read as Latin-1
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(console::visible(text), shown);
    // A status text's own line breaks stay, the next line indented.
    EXPECT_EQ(console::visible_lines("Could not connect:\nNo \x1b[2J"), "Could not connect:\n  No \\x1b[2J");
}

TEST_F(console_text, a_root_certificate_without_end_is_refused_unread) {
    ecusim::ecu_config cfg;
    cfg.mode = ecusim::ecu_mode::boot;
    plug_in(cfg);
    const auto [status, output] = flashdesk("ecu info --root-cert /dev/zero");
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("Cannot read root certificate /dev/zero"), std::string::npos) << output;
}

}  // namespace
}  // namespace qx::testing
