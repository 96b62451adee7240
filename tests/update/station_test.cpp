// Production-line stations: `ecusim usb` and `flashdesk` as processes of their own, several
// ECUs plugged into one machine, each station bound to its ECU by `--device`.
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ecusim/package_set.h"
#include "tests/faults/bounded_process.h"
#include "tests/support/pak_writer.h"

namespace qx::faults {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::array<std::string, 2> serials = {"0A0B0C0D", "1A2B3C4D"};

// Two boot loaders in a registry of their own, each with its package group in a folder named
// by its serial number.
class station : public ::testing::Test {
protected:
    void SetUp() override {
        dir = make_short_temp_dir("fds");
        env = {{"TRELINK_DEVICE_DIR", (dir / "registry").string()}};
        for (std::size_t i = 0; i < serials.size(); ++i) {
            ecusim::make_packages(serials[i], (dir / serials[i]).string(), 1);
            ecus[i] = std::make_unique<ecusim_server>(
                ECUSIM_PATH,
                std::vector<std::string>{"usb", "--mode", "boot", "--serial", serials[i], "--name", "ecu" + serials[i],
                                         "--state", state(i)},
                env);
            const std::string& banner = ecus[i]->banner();
            const auto at = banner.find("plugged in at ") + 14;
            paths[i] = banner.substr(at, banner.find('\n', at) - at);
        }
    }
    void TearDown() override {
        for (auto& e : ecus) e.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    std::string state(std::size_t i) const { return (dir / (serials[i] + ".json")).string(); }
    std::string record() const { return (dir / "record.jsonl").string(); }
    // The record's lines, each parsed on its own.
    std::vector<nlohmann::json> record_lines() const {
        std::ifstream in(record());
        std::vector<nlohmann::json> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
        return lines;
    }
    std::string root_certificate() const { return (dir / serials[0] / "RootCertificate_tcert.der").string(); }

    process_end flashdesk(std::vector<std::string> args, const std::string& out_name) {
        args.insert(args.begin(), FLASHDESK_PATH);
        return run_bounded(args, env, dir / out_name, 60s);
    }

    fs::path dir;
    std::map<std::string, std::string> env;
    std::array<std::unique_ptr<ecusim_server>, 2> ecus;
    std::array<std::string, 2> paths;
};

// The CRC-32C of the image that ends a package file of make_packages (one block per image),
// after its size word.
std::string image_crc(const fs::path& package) {
    std::ifstream in(package, std::ios::binary);
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    constexpr std::size_t size = 2048;
    EXPECT_GT(file.size(), size + 4) << package;
    const std::size_t at = file.size() - size;
    EXPECT_EQ(file[at - 4] | file[at - 3] << 8 | file[at - 2] << 16 | file[at - 1] << 24, int(size)) << package;
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", test_support::reference_crc32c({file.begin() + std::ptrdiff_t(at), file.end()}));
    return text;
}

TEST_F(station, two_stations_update_their_own_ecus_side_by_side) {
    std::array<std::future<process_end>, 2> runs;
    for (std::size_t i = 0; i < 2; ++i)
        runs[i] = std::async(std::launch::async, [this, i] {
            return flashdesk({"update", "--once", "--folder", (dir / serials[i]).string(), "--root-cert",
                              root_certificate(), "--device", paths[i], "--record", record()},
                             "update" + std::to_string(i) + ".out");
        });
    for (std::size_t i = 0; i < 2; ++i) {
        const process_end end = runs[i].get();
        EXPECT_EQ(end.exit_code, 0) << end.output;
        EXPECT_NE(end.output.find("ECU serial number: " + serials[i] + "\n"), std::string::npos) << end.output;
    }
    for (std::size_t i = 0; i < 2; ++i) {
        ecus[i]->stop();  // writes the state file
        std::ostringstream check;
        EXPECT_TRUE(ecusim::check_update(serials[i], state(i), check, 1)) << check.str();
    }

    // Both stations appended to one record: a whole line each, every image with the size and
    // CRC-32C of its package's image.
    const std::vector<nlohmann::json> lines = record_lines();
    ASSERT_EQ(lines.size(), 2u);
    for (const nlohmann::json& line : lines) {
        const std::size_t i = line["serial_number"] == serials[0] ? 0 : 1;
        EXPECT_EQ(line["serial_number"], serials[i]) << line;
        EXPECT_EQ(line["command"], "update");
        EXPECT_EQ(line["device"], paths[i]);
        EXPECT_EQ(line["target_mode"], "boot");
        EXPECT_EQ(line["result"], "updated");
        EXPECT_EQ(line["failure"], "");
        EXPECT_LE(line["start"].get<std::string>(), line["end"].get<std::string>());
        const std::vector<std::pair<std::string, std::string>> images = {
            {"Boot Loader", "boot_loader"}, {"Firmware", "firmware"}, {"Fixed Model", "fixed_model"}, {"Dynamic Model", "dynamic_model"}};
        ASSERT_EQ(line["images"].size(), images.size()) << line;
        for (std::size_t k = 0; k < images.size(); ++k) {
            const nlohmann::json& image = line["images"][k];
            EXPECT_EQ(image["type"], images[k].first);
            EXPECT_EQ(image["size"], 2048);
            EXPECT_EQ(image["crc32c"], image_crc(dir / serials[i] / (serials[i] + "_" + images[k].second + ".pak"))) << image;
            EXPECT_EQ(image["author"], "Velmar Service");
        }
    }

    // Shown as a table, of one ECU only; a line cut short at the end is skipped with a note.
    std::ofstream(record(), std::ios::app) << R"({"flashdesk_record":1,"command":"upd)";
    const process_end one = flashdesk({"record", "show", record(), "--serial", serials[1]}, "show.out");
    EXPECT_EQ(one.exit_code, 0) << one.output;
    EXPECT_NE(one.output.find(" update   " + serials[1] + "  " + paths[1] + "  boot  "), std::string::npos) << one.output;
    EXPECT_EQ(one.output.find(serials[0]), std::string::npos) << one.output;
    EXPECT_NE(one.output.find("line 3 was cut short"), std::string::npos) << one.output;
    EXPECT_NE(one.output.find("  Dynamic Model  "), std::string::npos) << one.output;
    const process_end none = flashdesk({"record", "show", record(), "--serial", "FFFFFFFF"}, "none.out");
    EXPECT_EQ(none.exit_code, 1) << none.output;
    const process_end foreign = flashdesk({"record", "show", state(0)}, "foreign.out");
    EXPECT_EQ(foreign.exit_code, 1) << foreign.output;
    EXPECT_NE(foreign.output.find("is not an ECU record (line 1 "), std::string::npos) << foreign.output;
}

// A station whose ECU was not updated still records it, with the failure the tool showed.
struct failed_job {
    const char* name;
    std::vector<std::string> args;  // {other}: the other ECU's folder, {root}: the root certificate
    const char* failure;
    std::size_t images;
};

void PrintTo(const failed_job& job, std::ostream* os) { *os << job.name; }

class station_failure : public station, public ::testing::WithParamInterface<failed_job> {};

TEST_P(station_failure, records_the_ecu_as_failed_with_the_failure_text) {
    const failed_job& job = GetParam();
    std::vector<std::string> args;
    for (std::string a : job.args) {
        for (const auto& [name, value] : {std::pair<std::string, std::string>{"{other}", (dir / serials[1]).string()},
                                          {"{root}", root_certificate()}})
            if (const auto at = a.find(name); at != std::string::npos) a.replace(at, name.size(), value);
        args.push_back(a);
    }
    args.insert(args.end(), {"--device", paths[0], "--record", record()});
    const process_end end = flashdesk(args, "job.out");
    EXPECT_EQ(end.exit_code, 1) << end.output;
    const std::vector<nlohmann::json> lines = record_lines();
    ASSERT_EQ(lines.size(), 1u) << end.output;
    EXPECT_EQ(lines[0]["result"], "failed") << lines[0];
    EXPECT_EQ(lines[0]["failure"], job.failure) << lines[0];
    EXPECT_EQ(lines[0]["images"].size(), job.images) << lines[0];
    EXPECT_EQ(lines[0]["device"], paths[0]);
}

INSTANTIATE_TEST_SUITE_P(
    jobs, station_failure,
    ::testing::Values(
        failed_job{"update_without_its_group", {"update", "--once", "--folder", "{other}", "--root-cert", "{root}"},
                   "Could not find update file for connected ECU.  Waiting for ECU reconnect.", 0},
        failed_job{"program_of_another_ecus_package", {"program", "{other}/" + serials[1] + "_firmware.pak", "--root-cert", "{root}"},
                   "OnBnClickedButtonImagedlSelectfile Error: Serial number mismatch!", 1},
        failed_job{"r8c_on_a_boot_loader", {"r8c", "{root}", "--yes"},
                   "\"Download File\" is not available with the ECU in this mode.", 1}),
    [](const ::testing::TestParamInfo<failed_job>& p) { return std::string(p.param.name); });

TEST_F(station, devices_lists_and_probes_every_ecu) {
    const process_end listed = flashdesk({"devices", "--probe", "--root-cert", root_certificate()}, "devices.out");
    EXPECT_EQ(listed.exit_code, 0) << listed.output;
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_NE(listed.output.find(paths[i] + "  mode: boot  firmware_version: "), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("serial_number: " + serials[0] + "\n" + paths[1]), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("serial_number: " + serials[1] + "\n"), std::string::npos) << listed.output;

    const process_end json = flashdesk({"devices", "--probe", "--json", "--root-cert", root_certificate()}, "devices.json");
    ASSERT_EQ(json.exit_code, 0) << json.output;
    const nlohmann::json all = nlohmann::json::parse(json.output);
    ASSERT_EQ(all.size(), 2u) << json.output;
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(all[i]["path"], paths[i]);
        EXPECT_EQ(all[i]["mode"], "boot");
        EXPECT_EQ(all[i]["serial_number"], serials[i]);
    }
}

TEST_F(station, a_device_that_is_not_present_is_never_replaced_by_another) {
    for (const std::string& selector : std::vector<std::string>{"serial:FFFFFFFF", "3-1.4", (dir / "registry" / "gone").string()}) {
        const process_end end = flashdesk({"--device", selector, "ecu", "info", "--root-cert", root_certificate()}, "info.out");
        EXPECT_EQ(end.exit_code, 1) << selector << end.output;
        EXPECT_NE(end.output.find("No such device: " + selector + " "), std::string::npos) << end.output;
        EXPECT_EQ(end.output.find("serial_number:"), std::string::npos) << end.output;
        const process_end probed = flashdesk({"devices", "--probe", "--device", selector}, "probe.out");
        EXPECT_EQ(probed.exit_code, 1) << selector << probed.output;
        EXPECT_EQ(probed.output, "No such device: " + selector + " (flashdesk devices lists the ECUs plugged in).\n");
    }
}

}  // namespace
}  // namespace qx::faults
