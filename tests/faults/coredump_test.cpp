// `flashdesk coredump` against `ecusim usb`, both as processes of their own: the file keeps the
// ECU's memory section by section (as `coredump show` lists it), and a failure while reading
// leaves the target as it was and no temporary file beside it.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ecusim/command_codes.h"
#include "pak/crc32c.h"
#include "tests/faults/bounded_process.h"

namespace qx::faults {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using bytes = std::vector<std::uint8_t>;

const std::string serial = "0A0B0C0D";

// The ECU's dump section table.
const std::pair<std::uint32_t, std::uint32_t> sections[] = {
    {0x80100000, 0x20000}, {0x0C000000, 0x40000}, {0x001E0000, 0x20000}, {0x00000000, 0xE0000}, {0x00100000, 0x100000}};

struct region {
    std::uint32_t address;
    bytes data;
};

// Written bytes: never 0xFF.
bytes pattern(std::size_t n) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t((i * 37 + 11) % 251);
    return b;
}

// The ECU's memory at start: a written and an erased 4 KB in the first flash unit and three
// written bytes in the second; the external flash's last bytes, the region running past the
// section's end; an odd-sized region of the firmware area. The rest reads 0xFF.
std::vector<region> memory() {
    bytes first = pattern(0x2400);
    std::fill(first.begin() + 0x1000, first.begin() + 0x2000, 0xFF);
    std::fill(first.begin() + 0x2003, first.end(), 0xFF);
    return {{0x80100000, first}, {0x0C03FFF0, pattern(0x20)}, {0x00000800, pattern(0x1801)}};
}

bytes expected_section(std::uint32_t address, std::uint32_t size) {
    bytes out(size, 0xFF);
    for (const region& r : memory())
        for (std::size_t i = 0; i < r.data.size(); ++i) {
            const std::uint64_t at = std::uint64_t(r.address) + i;
            if (at >= address && at < std::uint64_t(address) + size) out[std::size_t(at - address)] = r.data[i];
        }
    return out;
}

std::string hex8(std::uint32_t v) {
    char t[9];
    std::snprintf(t, sizeof t, "%08X", v);
    return t;
}

std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class coredump_run : public ::testing::Test {
protected:
    void SetUp() override {
        dir = make_short_temp_dir("fdc");
        fs::create_directories(dir / "registry");
        fs::create_directories(dir / "out");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    process_end coredump(const std::string& fault_plan) {
        std::vector<std::string> sim{"usb", "--mode", "app", "--serial", serial};
        int n = 0;
        for (const region& r : memory()) {
            const fs::path file = dir / ("memory" + std::to_string(n++) + ".bin");
            std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(r.data.data()), std::streamsize(r.data.size()));
            sim.insert(sim.end(), {"--memory", hex8(r.address) + "=" + file.string()});
        }
        if (!fault_plan.empty()) sim.insert(sim.end(), {"--faults", fault_plan});
        ecusim_server ecu(ECUSIM_PATH, sim, env());
        return run_bounded({FLASHDESK_PATH, "coredump", target().string(), "--answer-timeout", "2"}, env(),
                           dir / "flashdesk.out", 60s);
    }
    process_end show() {
        return run_bounded({FLASHDESK_PATH, "coredump", "show", target().string()}, env(), dir / "show.out", 20s);
    }
    std::map<std::string, std::string> env() const { return {{"TRELINK_DEVICE_DIR", (dir / "registry").string()}}; }
    fs::path target() const { return dir / "out" / "ecu.qxdump"; }

    fs::path dir;
};

TEST_F(coredump_run, keeps_every_section_as_the_ecu_holds_it) {
    const process_end run = coredump("");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("Core dump saved: " + target().string() + " (5 sections, "), std::string::npos) << run.output;

    const process_end listed = show();
    ASSERT_EQ(listed.exit_code, 0) << listed.output;
    EXPECT_NE(listed.output.find("serial_number: " + serial + "\n"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("prepare_answer: 256 bytes\n"), std::string::npos) << listed.output;  // all ecusim sent
    std::istringstream table(listed.output.substr(listed.output.find("crc32c\n") + 7));
    std::vector<std::string> rows;
    for (std::string address, size, blank, crc; table >> address >> size >> blank >> crc;)
        rows.push_back(address + " " + size + " " + blank + " " + crc);
    ASSERT_EQ(rows.size(), std::size(sections)) << listed.output;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bytes data = expected_section(sections[i].first, sections[i].second);
        // The two flash sections are blank checked by 8-byte pieces.
        std::string share = "-";
        if (i < 2) {
            std::size_t blank_pieces = 0;
            for (auto at = data.begin(); at != data.end(); at += 8)
                blank_pieces += std::all_of(at, at + 8, [](std::uint8_t b) { return b == 0xFF; });
            char text[16];
            std::snprintf(text, sizeof text, "%.1f%%", 100.0 * double(blank_pieces * 8) / double(data.size()));
            share = text;
        }
        EXPECT_EQ(rows[i], hex8(sections[i].first) + " " + std::to_string(data.size()) + " " + share + " " + hex8(crc32c(data)));
    }
}

struct failure_case {
    const char* name;
    std::string fault_plan;
    bool target_exists;
    const char* text;
};

class coredump_failure : public coredump_run, public ::testing::WithParamInterface<failure_case> {};

TEST_P(coredump_failure, leaves_the_target_as_it_was) {
    const failure_case& c = GetParam();
    if (c.target_exists) std::ofstream(target()) << "an older dump";
    const process_end run = coredump(c.fault_plan);
    ASSERT_TRUE(run.exit_code.has_value()) << run.output;
    EXPECT_NE(*run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find(c.text), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Core dump saved"), std::string::npos) << run.output;
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir / "out")) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, c.target_exists ? std::vector<std::string>{"ecu.qxdump"} : std::vector<std::string>{});
    if (c.target_exists) {
        EXPECT_EQ(read_text(target()), "an older dump");
    }
}

const std::string security = std::to_string(ecusim::cmd::security_command);
const std::string blank_check = std::to_string(ecusim::cmd::eeprom_blank_check_block);

// Security commands: 1 the serial number, 2 the prepare request, then the section pieces.
INSTANTIATE_TEST_SUITE_P(
    faults, coredump_failure,
    ::testing::Values(
        failure_case{"piece_refused", "code=" + security + "#40:rstatus=0x71000008", false,
                     "Error: OnBnClickedButtonCoredumpSave SECURITY_COMMAND SECURITY_TEST_FUNCTION_PREPARE_DUMP ERROR=71000008"},
        failure_case{"unplugged_in_the_last_section", "code=" + security + "#1000:unplug", true,
                     "Error: OnBnClickedButtonCoredumpSave KesSendCommand SECURITY_COMMAND SECURITY_TEST_FUNCTION_PREPARE_DUMP"},
        failure_case{"piece_cut_short", "code=" + security + "#300:truncate=100", false,
                     "Error: OnBnClickedButtonCoredumpSave KesSendCommand SECURITY_COMMAND SECURITY_TEST_FUNCTION_PREPARE_DUMP"},
        failure_case{"blank_check_unanswered", "code=" + blank_check + "#20:mute", true,
                     "Error: OnBnClickedButtonCoredumpSave KesSendCommand SECURITY_COMMAND SECURITY_TEST_FUNCTION_PREPARE_DUMP"}),
    [](const ::testing::TestParamInfo<failure_case>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace qx::faults
