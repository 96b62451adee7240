// The ECU Update dialog headless against the virtual ECU.
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include "pak/crc32c.h"
#include "tests/update/update_fixture.h"

namespace qx::testing {
namespace {

namespace id = update_ids;
using erase_list = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

erase_list erases_of(const ecusim::ecu_state& s) {
    erase_list out;
    for (const auto& e : s.erases) out.emplace_back(e.start_block, e.number_of_blocks);
    return out;
}

const image_row_ids& row(std::uint32_t type) {
    for (const auto& r : update_rows)
        if (r.type_code == type) return r;
    throw std::logic_error("no row");
}

class update_run : public update_fixture {};

TEST_F(update_run, firmware_and_both_models_erase_in_order_then_load_without_more_erases) {
    write_group({package(serial, 0), package(serial, 1), package(serial, 2)});
    ecusim::ecu_config cfg;
    cfg.flash_device_id = 0x2789;
    start(cfg);
    choose_folder();
    arrive();
    EXPECT_EQ(text(id::main_status), "Safe to disconnect ECU.");
    EXPECT_EQ(text(id::progress_text), "Update Success! (100%)");
    erase_list expected = {{0x0C000000, 32}, {0x80100000, 16}};
    for (std::uint32_t at = 0x100000; at <= 0x1C0000; at += 0x20000) expected.emplace_back(at, 1);
    expected.emplace_back(0, 8);
    for (std::uint32_t at = 0x10000; at <= 0x90000; at += 0x10000) expected.emplace_back(at, 1);
    for (std::uint32_t at = 0xA0000; at <= 0xE0000; at += 0x20000) expected.emplace_back(at, 1);
    const auto s = state();
    EXPECT_EQ(erases_of(s), expected);
    // Firmware at 0 and 2048, fixed model from 0x100000, dynamic model with sub-function 8.
    std::vector<std::pair<std::uint8_t, std::uint32_t>> loads;
    for (const auto& b : s.blocks) loads.emplace_back(b.sub_function, b.flash_address);
    const std::vector<std::pair<std::uint8_t, std::uint32_t>> expected_loads = {
        {9, 0}, {9, 2048}, {9, 0x100000}, {9, 0x100800}, {8, 0}, {8, 0}};
    EXPECT_EQ(loads, expected_loads);
    for (const auto& b : s.blocks) {
        EXPECT_EQ(b.format, 4);
        EXPECT_EQ(b.buffer_address, 0xFFF9F800u);
    }
    EXPECT_EQ(texts(), (std::vector<std::string>{"Updating Firmware... (0%)", "Firmware Update Complete... (33%)",
                                                 "Updating Fixed Model... (33%)", "Fixed Model Update Complete... (67%)",
                                                 "Updating Dynamic Model... (67%)",
                                                 "Dynamic Model Update Complete... (100%)", "Update Success! (100%)"}));
    for (const std::uint32_t type : {0u, 1u, 2u}) {
        EXPECT_EQ(text(row(type).status), "Loaded successfully.");
        EXPECT_EQ(dlg->model().bitmap(row(type).lamp), lamp_green);
    }
    EXPECT_EQ(text(row(3).status), "Not selected for update.");
    EXPECT_EQ(dlg->model().bitmap(row(3).lamp), lamp_grey);
    EXPECT_EQ(manager->is_connected(), 0u);
}

TEST_F(update_run, a_flash_device_without_a_second_area_adds_no_erase) {
    write_group({package(serial, 2)});
    ecusim::ecu_config cfg;
    cfg.flash_device_id = 0x2782;
    start(cfg);
    choose_folder();
    arrive();
    EXPECT_EQ(erases_of(state()), (erase_list{{0x80100000, 16}}));
}

TEST_F(update_run, one_ready_row_shows_0_then_100_and_succeeds) {
    write_group({package(serial, 3, 2, 0)});
    start();
    choose_folder();
    arrive();
    EXPECT_EQ(texts(), (std::vector<std::string>{"Updating Boot Loader... (0%)", "Boot Loader Update Complete... (100%)",
                                                 "Update Success! (100%)"}));
    EXPECT_EQ(erases_of(state()), (erase_list{{0x1E0000, 1}}));
    EXPECT_EQ(text(row(3).version), "none");
}

TEST_F(update_run, versions_show_as_numbers_or_none) {
    write_group({package(serial, 0, 1, 7), package(serial, 1, 1, 0)});
    start();
    choose_folder();
    arrive();
    EXPECT_EQ(text(row(0).version), "7");
    EXPECT_EQ(text(row(1).version), "none");
    EXPECT_EQ(text(id::version), "none");
    EXPECT_EQ(text(id::serial_number), serial);
}

TEST_F(update_run, the_second_of_three_rows_failing_stops_at_33_and_the_third_stays_ready) {
    write_group({package(serial, 0), package(serial, 1), package(serial, 2)});
    // Security commands: serial (1), three certificate matches (2-4), firmware keys, first
    // block, flash device, two blocks (5-9); the fixed model's keys are the 10th.
    ecusim::ecu_config cfg;
    cfg.faults = ecusim::fault_plan::parse("code=6#10:rstatus=0x71000006");
    start(cfg);
    choose_folder();
    arrive();
    EXPECT_EQ(text(id::progress_text), "Update Failure! (33%)");
    EXPECT_EQ(text(row(0).status), "Loaded successfully.");
    EXPECT_EQ(text(row(1).status), "Command Error:  Check USB connection.");
    EXPECT_EQ(dlg->model().bitmap(row(1).lamp), lamp_red);
    EXPECT_EQ(text(row(2).status), "Ready.");
    EXPECT_EQ(text(id::main_status), "Safe to disconnect ECU.");
}

TEST_F(update_run, a_group_for_another_ecu_fails_every_row_and_names_the_first) {
    // The file carries this ECU's name, but its packages (and so the group) are another's.
    std::vector<ts::pak_spec> packages;
    for (std::uint32_t type = 0; type < 4; ++type) packages.push_back(package("0A0B0C0D", type));
    write_group(packages, {}, false);
    start();
    choose_folder();
    arrive();
    EXPECT_EQ(text(id::main_status), "Bootloader Error.  Waiting for ECU reconnect.");
    EXPECT_EQ(dlg->model().bitmap(id::main_lamp), lamp_red);
    for (std::uint32_t type = 0; type < 4; ++type) {
        EXPECT_EQ(text(row(type).status), "PAK image not for given ECU.  Serial number mismatch.");
        EXPECT_EQ(dlg->model().bitmap(row(type).lamp), lamp_red);
    }
    EXPECT_TRUE(state().erases.empty());
    EXPECT_TRUE(state().blocks.empty());
}

struct untrusted_case {
    const char* name;
    std::vector<std::uint32_t> untrusted;  // image types whose certificate the ECU refuses
    const char* main_status;
};

class certificate_match : public update_fixture, public ::testing::WithParamInterface<untrusted_case> {};
INSTANTIATE_TEST_SUITE_P(
    rows, certificate_match,
    ::testing::Values(untrusted_case{"firmware", {0}, "Firmware Error.  Waiting for ECU reconnect."},
                      untrusted_case{"dynamic_and_fixed", {2, 1}, "Fixed Model Error.  Waiting for ECU reconnect."}),
    [](const ::testing::TestParamInfo<untrusted_case>& p) { return std::string(p.param.name); });

TEST_P(certificate_match, a_refused_certificate_fails_its_row_and_programs_nothing) {
    std::vector<ts::pak_spec> packages;
    const auto device = ecusim::certificates::device();
    for (std::uint32_t type = 0; type < 3; ++type) {
        packages.push_back(package(serial, type));
        if (std::count(GetParam().untrusted.begin(), GetParam().untrusted.end(), type))
            packages.back().certificate.assign(device.begin(), device.end());
    }
    write_group(packages);
    start();
    choose_folder();
    arrive();
    EXPECT_EQ(text(id::main_status), GetParam().main_status);
    for (std::uint32_t type = 0; type < 3; ++type) {
        const bool refused = std::count(GetParam().untrusted.begin(), GetParam().untrusted.end(), type) > 0;
        EXPECT_EQ(text(row(type).status), refused ? "Command Error.  Check USB connection." : "Ready.") << type;
    }
    EXPECT_TRUE(state().erases.empty());
}

TEST_F(update_run, no_root_certificate_shows_the_error_and_closes) {
    write_group({package(serial, 0)});
    start({}, "missing.der");
    runner.join();
    EXPECT_EQ(result, ui::IDCANCEL);
    const auto p = r.prompts();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].caption, "ERROR!");
    EXPECT_EQ(p[0].text, "No root certificate found.  Cannot continue.");
}

// Empty, longer than any certificate (64 KiB), or a device without end: none is read whole.
class unreadable_root_certificate : public update_fixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(unreadable_root_certificate, is_refused_before_anything_else) {
    ts::save_file((folder / "empty.der").string(), {});
    ts::save_file((folder / "long.der").string(), ts::bytes(64 * 1024 + 1, 0x30));
    start({}, GetParam());
    runner.join();
    ASSERT_EQ(r.prompts().size(), 1u);
    EXPECT_EQ(r.prompts()[0].text, "Cannot read root certificate.  Cannot continue.");
}

INSTANTIATE_TEST_SUITE_P(files, unreadable_root_certificate, ::testing::Values("empty.der", "long.der", "/dev/zero"));

TEST_F(update_run, an_application_mode_ecu_is_not_updated) {
    write_group({package(serial, 0)});
    boot_mode = false;
    start();
    choose_folder();
    arrive();
    EXPECT_EQ(text(id::main_status), "ECU not in firmware upgrade mode.  Waiting for ECU reconnect.");
    EXPECT_EQ(dlg->model().bitmap(id::main_lamp), lamp_red);
    EXPECT_EQ(manager->is_connected(), 0u);
}

TEST_F(update_run, an_ecu_before_a_folder_finds_no_update_file) {
    write_group({package(serial, 0)});
    start();
    ASSERT_TRUE(wait_text(id::main_status, "Waiting for Path selection."));
    settle();
    arrive();
    EXPECT_EQ(text(id::main_status), "Could not find update file for connected ECU.  Waiting for ECU reconnect.");
    EXPECT_TRUE(dlg->model().enabled(id::done));
}

TEST_F(update_run, a_group_that_dropped_an_entry_is_invalid_and_programs_nothing) {
    // The second package is cut short: dropped by the reader, while the group declares two.
    ts::pak_spec broken = package(serial, 1);
    broken.layout = 1;
    broken.image_size = 0x7FFFFFFF;
    write_group({package(serial, 0), broken});
    start();
    choose_folder();
    arrive();
    EXPECT_EQ(text(id::main_status), "Update file for connected ECU invalid.  Waiting for ECU reconnect.");
    EXPECT_EQ(dlg->model().bitmap(id::main_lamp), lamp_red);
    EXPECT_TRUE(texts().empty());
    EXPECT_TRUE(state().erases.empty());
    EXPECT_TRUE(state().blocks.empty());
}

TEST_F(update_run, a_second_ecu_failing_identification_shows_nothing_of_the_first) {
    write_group({package(serial, 0), package(serial, 1)});
    start();
    choose_folder();
    arrive();
    ASSERT_EQ(text(id::progress_text), "Update Success! (100%)");
    ecu->device().unplug();
    ecu->device().set_faults(ecusim::fault_plan::parse("code=6:status=1"));  // no serial number
    arrive();
    EXPECT_EQ(text(id::main_status), "Could not retrieve ECU serial number.  Waiting for ECU reconnect.");
    EXPECT_EQ(text(id::progress_text), "Waiting...");
    EXPECT_EQ(dlg->model().state(id::main_progress).position, 0);
    EXPECT_EQ(text(id::serial_number), "");
    EXPECT_EQ(text(id::version), "");
    for (const auto& each : update_rows) {
        EXPECT_EQ(text(each.status), "Waiting...") << each.name;
        EXPECT_EQ(dlg->model().bitmap(each.lamp), lamp_yellow) << each.name;
        EXPECT_EQ(dlg->model().state(each.progress).position, 0) << each.name;
        for (const int edit : {each.image, each.author, each.date, each.version}) EXPECT_EQ(text(edit), "") << each.name;
    }
}

// Keeps this process's address space below its present size plus `headroom`.
void limit_address_space(std::size_t headroom) {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    const rlim_t limit = pages * std::size_t(::sysconf(_SC_PAGESIZE)) + headroom;
    const rlimit r{limit, limit};
    ::setrlimit(RLIMIT_AS, &r);
}

TEST_F(update_run, a_package_too_large_to_hold_ends_the_ecu_with_a_failure_text) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "an address-space limit cannot be combined with a sanitizer's shadow memory";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    GTEST_SKIP() << "an address-space limit cannot be combined with a sanitizer's shadow memory";
#endif
#endif
    // A whole firmware package of 1 GiB, its image a hole in the file (zeros) and its checksum
    // right: the group's check passes it through its read buffer, but the image cannot be held
    // when its row is looked up.
    ts::pak_spec huge = package(serial, 0);
    huge.image_data.clear();
    huge.image_size = 1u << 30;
    std::uint32_t crc = ts::write_pak(huge).checksum;
    const std::vector<std::uint8_t> zeros(1 << 20, 0);
    for (int i = 0; i < 1024; ++i) crc = qx::crc32c(zeros, crc);
    huge.stored_checksum = crc;
    write_group({huge});
    const auto group = folder / (serial + ".pakgrp");
    std::filesystem::resize_file(group, std::filesystem::file_size(group) + (1u << 30));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            limit_address_space(std::size_t(256) << 20);
            start();
            choose_folder();
            arrive();
            const bool told = text(row(0).status) == "PAK image cannot be read." &&
                              text(id::main_status) == "Firmware Error.  Waiting for ECU reconnect." &&
                              dlg->model().bitmap(id::main_lamp) == lamp_red && dlg->model().enabled(id::done);
            std::_Exit(told && state().erases.empty() ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(update_run, a_package_without_a_whole_block_is_invalid_and_sends_nothing) {
    ts::pak_spec empty = package(serial, 0, 0);
    write_group({empty});
    start();
    choose_folder();
    arrive();
    EXPECT_EQ(text(row(0).status), "PAK file invalid.");
    EXPECT_EQ(text(id::progress_text), "Update Failure! (0%)");
    EXPECT_TRUE(state().erases.empty());
    EXPECT_TRUE(state().blocks.empty());
}

TEST_F(update_run, unplugging_mid_update_fails_and_the_next_arrival_updates_cleanly) {
    write_group({package(serial, 0, 4)});
    ecusim::ecu_config cfg;
    cfg.faults = ecusim::fault_plan::parse("code=6#7:unplug");  // the second image block
    start(cfg);
    choose_folder();
    arrive();
    EXPECT_EQ(text(row(0).status), "Communication Error:  Check USB connection.");
    EXPECT_EQ(text(id::progress_text), "Update Failure! (0%)");
    for (const auto& t : texts()) EXPECT_EQ(t.find("Update Success!"), std::string::npos) << t;

    ecu->device().set_faults({});
    arrive();
    EXPECT_EQ(text(id::progress_text), "Update Success! (100%)");
    EXPECT_EQ(text(row(0).status), "Loaded successfully.");
}

TEST_F(update_run, no_ready_row_succeeds_without_programming) {
    write_group({package(serial, 4)});  // a type no row takes
    start();
    choose_folder();
    arrive();
    EXPECT_EQ(text(id::progress_text), "Update Success! (100%)");
    EXPECT_TRUE(state().erases.empty());
}

TEST_F(update_run, escape_stops_a_worker_that_is_still_retrying) {
    write_group({package(serial, 0)});
    ecusim::ecu_config cfg;
    cfg.faults = ecusim::fault_plan::parse("code=0:status=1");  // every connect fails
    attempts = 1000;
    pause = std::chrono::seconds(1);
    start(cfg);
    choose_folder();
    ecu->device().plug();
    ASSERT_TRUE(ecu->device().wait_for([](const ecusim::ecu& e) { return e.state().commands >= 2; },
                                       std::chrono::seconds(10)));
    dlg->cancel();
    runner.join();  // returns without waiting out the retries
    EXPECT_EQ(result, ui::IDCANCEL);
    EXPECT_FALSE(update_busy.load());
    EXPECT_LT(state().commands, 10u);
}

TEST_F(update_run, connect_failures_are_retried_then_named_in_red) {
    write_group({package(serial, 0)});
    ecusim::ecu_config cfg;
    cfg.faults = ecusim::fault_plan::parse("code=0:status=1");
    start(cfg);
    choose_folder();
    arrive();
    EXPECT_EQ(state().commands, 3u);  // one GET_TARGET_VERSION per attempt
    EXPECT_EQ(text(id::main_status), "No ECU answered after 3 connection attempts.");
    EXPECT_EQ(dlg->model().bitmap(id::main_lamp), lamp_red);
    EXPECT_TRUE(r.prompts().size() == 1u);  // only the folder prompt
}

}  // namespace
}  // namespace qx::testing
