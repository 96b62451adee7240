// Production-line stations: `ecusim usb` and `flashdesk` as processes of their own, several
// ECUs plugged into one machine, each station bound to its ECU by `--device`.
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <future>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ecusim/package_set.h"
#include "tests/faults/bounded_process.h"

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

TEST_F(station, two_stations_update_their_own_ecus_side_by_side) {
    std::array<std::future<process_end>, 2> runs;
    for (std::size_t i = 0; i < 2; ++i)
        runs[i] = std::async(std::launch::async, [this, i] {
            return flashdesk({"update", "--once", "--folder", (dir / serials[i]).string(), "--root-cert",
                              root_certificate(), "--device", paths[i]},
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
}

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
    }
}

}  // namespace
}  // namespace qx::faults
