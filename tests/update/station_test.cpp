// Production-line stations: `ecusim usb` and `flashdesk` as processes of their own, several
// ECUs plugged into one machine, each station bound to its ECU by `--device`.
#include <stdlib.h>

#include <signal.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ecusim/certificates.h"
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

// A second ECU plugged in while the first is still there is the one the update serves next;
// the first is not programmed again.
TEST_F(station, update_serves_the_ecu_that_arrived_not_the_first_one_present) {
    ecus[1]->stop();
    const fs::path folder = dir / "groups";
    fs::create_directories(folder);
    for (const std::string& serial : serials) fs::copy_file(dir / serial / (serial + ".pakgrp"), folder / (serial + ".pakgrp"));
    const fs::path out = dir / "update.out";
    running_process update({FLASHDESK_PATH, "update", "--folder", folder.string(), "--root-cert", root_certificate()}, env, out);
    const auto served = [&out](std::size_t times) {
        std::ifstream in(out);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::size_t seen = 0;
        for (auto at = text.find("main: Safe to disconnect ECU."); at != std::string::npos; at = text.find("main: Safe", at + 1)) ++seen;
        return seen >= times;
    };
    ASSERT_TRUE(wait_for(dir, [&] { return served(1); }, 60s));
    ecus[1] = std::make_unique<ecusim_server>(
        ECUSIM_PATH,
        std::vector<std::string>{"usb", "--mode", "boot", "--serial", serials[1], "--name", "ecu" + serials[1], "--state", state(1)},
        env);
    const bool second = wait_for(dir, [&] { return served(2); }, 60s);
    update.signal(SIGTERM);
    const process_end end = update.wait(20s);
    ASSERT_TRUE(second) << end.output;
    const auto first_serial = end.output.find("ECU serial number: " + serials[0] + "\n");
    EXPECT_NE(end.output.find("ECU serial number: " + serials[1] + "\n", first_serial), std::string::npos) << end.output;
    for (auto& e : ecus) e->stop();
    for (std::size_t i = 0; i < serials.size(); ++i) {
        std::ostringstream check;
        EXPECT_TRUE(ecusim::check_update(serials[i], state(i), check, 1)) << serials[i] << "\n" << check.str();
    }
    // The first ECU was updated once: one key block per image, not two.
    std::ifstream first(state(0));
    const nlohmann::json state0 = nlohmann::json::parse(first);
    EXPECT_EQ(std::count(state0["command_codes"].begin(), state0["command_codes"].end(), 0), 1) << "GET_TARGET_VERSION once";
}

// A firmware image larger than the firmware area runs into the fixed model: the ECU refuses the
// first block past the area, and the tool says the download failed.
TEST_F(station, a_firmware_image_larger_than_its_area_is_refused_at_the_area_end) {
    test_support::pak_spec spec = test_support::sample_pak_spec(2, serials[0], 0, 513, 3);
    const auto package_certificate = ecusim::certificates::package();
    spec.certificate.assign(package_certificate.begin(), package_certificate.end());
    const fs::path package = dir / "large_firmware.pak";
    const test_support::pak_bytes bytes = test_support::write_pak(spec);
    std::ofstream(package, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data.data()), std::streamsize(bytes.data.size()));
    const process_end end = flashdesk({"program", package.string(), "--root-cert", root_certificate(), "--device", paths[0]}, "program.out");
    EXPECT_EQ(end.exit_code, 1) << end.output;
    EXPECT_EQ(end.output.find("Firmware loaded succesfully"), std::string::npos) << end.output;
    ecus[0]->stop();
    std::ifstream in(state(0));
    const nlohmann::json state0 = nlohmann::json::parse(in);
    std::size_t blocks = 0;
    for (const auto& block : state0["flash"]) {
        EXPECT_LT(block["address"].get<std::string>(), "00100000") << "nothing beyond the firmware area";
        ++blocks;
    }
    EXPECT_EQ(blocks, 512u);
}

// With two ECUs plugged in and none chosen, a job never guesses: it says so, exits 2 and sends
// nothing to either.
struct guessing_job {
    const char* name;
    std::vector<std::string> args;  // {root}: the root certificate, {dir}: the test's folder
};

void PrintTo(const guessing_job& job, std::ostream* os) { *os << job.name; }

class station_choice : public station, public ::testing::WithParamInterface<guessing_job> {};

TEST_P(station_choice, refuses_to_guess_which_of_two_ecus_is_meant) {
    std::vector<std::string> args;
    for (std::string a : GetParam().args) {
        for (const auto& [name, value] : {std::pair<std::string, std::string>{"{root}", root_certificate()}, {"{dir}", dir.string()}})
            if (const auto at = a.find(name); at != std::string::npos) a.replace(at, name.size(), value);
        args.push_back(a);
    }
    const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
    const process_end end = flashdesk(args, "job.out");
    const std::string text = "More than one ECU is plugged in (2): choose one with --device (flashdesk devices lists them).";
    EXPECT_EQ(end.exit_code, 2) << end.output;
    if (json)
        EXPECT_NE(end.output.find(R"({"type":"result","ok":false,"exit":2,"text":")" + text + "\"}"), std::string::npos) << end.output;
    else
        EXPECT_NE(end.output.find(text + "\n"), std::string::npos) << end.output;
    for (std::size_t i = 0; i < serials.size(); ++i) {
        ecus[i]->stop();
        std::ifstream in(state(i));
        EXPECT_EQ(nlohmann::json::parse(in)["commands"], 0) << serials[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    jobs, station_choice,
    ::testing::Values(guessing_job{"ecu_info", {"ecu", "info", "--root-cert", "{root}"}},
                      guessing_job{"program", {"program", "{dir}/" + serials[0] + "/" + serials[0] + "_firmware.pak", "--root-cert", "{root}"}},
                      guessing_job{"erase_json", {"erase", "fixed", "--root-cert", "{root}", "--json"}},
                      guessing_job{"logs_list", {"logs", "list"}},
                      guessing_job{"coredump", {"coredump", "{dir}/dump.qxdump", "--root-cert", "{root}"}}),
    [](const ::testing::TestParamInfo<guessing_job>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace qx::faults
