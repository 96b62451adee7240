// Opening the tool, selecting a package and downloading it with the security sequence.
#include <tuple>

#include "ecusim/ecu_options.h"
#include "imagetool/image_programming.h"
#include "tests/imagetool/tool_fixture.h"

namespace qx::testing {
namespace {

constexpr std::uint8_t security = 6;
const std::string loaded = "Firmware loaded succesfully";

// What every firmware download erases, in the order the ECU receives it.
erase_list firmware_erases(bool sst) {
    const erase_list external = sst ? erase_list{{0x0C000000, 32}} : erase_list{};
    erase_list dynamic = external;
    dynamic.emplace_back(0x80100000, 16);
    erase_list fixed = dynamic;
    for (std::uint32_t k = 0; k < 7; ++k) fixed.emplace_back(0x00100000 + k * 0x20000, 1);
    erase_list firmware = fixed;
    firmware.emplace_back(0x00000000, 8);
    for (std::uint32_t k = 1; k <= 9; ++k) firmware.emplace_back(0x00010000 * k, 1);
    for (std::uint32_t k = 0; k < 3; ++k) firmware.emplace_back(0x000A0000 + k * 0x20000, 1);
    erase_list all = fixed;
    all.insert(all.end(), dynamic.begin(), dynamic.end());
    all.insert(all.end(), firmware.begin(), firmware.end());
    return all;
}

TEST_F(tool_test, opens_with_every_control_of_dialog_158_and_the_boot_loader_buttons) {
    start("--mode boot");
    open();
    EXPECT_EQ(tool->layout().id, 158);
    EXPECT_EQ(tool->model().caption(), "ECU Programming");
    const std::pair<int, const char*> texts[] = {
        {1006, "Select File"}, {1150, "Download File"}, {1326, "Firmware"}, {1327, "Fixed Model"},
        {1328, "Dynamic Model Data"}, {1329, "Bootloader"}, {1324, "Erase Dynamic Model Data"},
        {1325, "Erase Fixed Model"}, {1151, "PowerSeq Download"}, {1007, "Select File"}, {1152, "Download File"},
        {1055, "Save"}, {1, "OK"}, {2, "Cancel"}, {1138, ""}, {1139, ""}, {1140, ""}, {1141, ""}};
    for (const auto& [id, t] : texts) EXPECT_EQ(text(id), t) << id;
    EXPECT_EQ(text(IDC_ECU_SERIAL), ecu_serial);
    for (int id : {1150, 1006, 1324, 1325}) EXPECT_TRUE(tool->model().enabled(id)) << id;
    for (int id : {1151, 1007, 1152}) EXPECT_FALSE(tool->model().enabled(id)) << id;
    for (int id : {1055, 1, 2}) EXPECT_FALSE(tool->model().visible(id)) << id;
}

TEST_F(tool_test, application_mode_offers_only_power_sequence_and_r8c) {
    start("--mode app");
    open();
    for (int id : {1150, 1006, 1324, 1325}) EXPECT_FALSE(tool->model().enabled(id)) << id;
    for (int id : {1151, 1007, 1152}) EXPECT_TRUE(tool->model().enabled(id)) << id;
    EXPECT_EQ(text(IDC_ECU_SERIAL), "");
}

TEST_F(tool_test, without_connection_a_package_is_refused_and_download_stays_disabled) {
    start("--mode boot", {}, false);
    open();
    EXPECT_FALSE(tool->model().enabled(IDC_DOWNLOAD_FILE));
    EXPECT_FALSE(tool->model().enabled(IDC_POWERSEQ_DOWNLOAD));
    EXPECT_TRUE(tool->model().enabled(IDC_SELECT_FILE));
    select(write_package(0, 1));
    EXPECT_TRUE(saw("ERROR!", "OnBnClickedButtonImagedlSelectfile Error: Serial number mismatch!"));
    EXPECT_FALSE(tool->package_loaded());
    click(IDC_DOWNLOAD_FILE);
    EXPECT_EQ(state().commands, 0u);
}

TEST_F(tool_test, serial_number_failure_at_opening_disables_all_seven_buttons) {
    start("--mode boot --faults code=6#1:rstatus=0x71000006");
    open();
    EXPECT_TRUE(saw("Error", "OnBnClickedButtonSecurityParsePak SECURITY_COMMAND ERROR=71000006"));
    for (int id : {1006, 1150, 1151, 1324, 1325, 1007, 1152}) EXPECT_FALSE(tool->model().enabled(id)) << id;
    const auto p = renderer.prompts().back();
    EXPECT_EQ(p.style, ui::MB_OK | ui::MB_ICONSTOP);
    EXPECT_FALSE(p.owned);
}

class select_type : public tool_test, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(select_type, shows_author_date_and_checks_only_the_radio_of_the_type) {
    start("--mode boot");
    open();
    const std::string path = write_package(GetParam(), 1, ecu_serial, [](auto& s) { s.author = "A. Tester"; });
    select(path);
    EXPECT_TRUE(tool->package_loaded());
    EXPECT_EQ(text(IDC_PAK_FILE), path);
    EXPECT_EQ(text(IDC_AUTHOR), "A. Tester");
    EXPECT_EQ(text(IDC_DATE), "2024-03-01 12:00:00 UTC");
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(tool->model().checked(type_radios[i]), i == GetParam()) << i;
        EXPECT_FALSE(tool->model().enabled(type_radios[i]));
    }
}
INSTANTIATE_TEST_SUITE_P(types, select_type, ::testing::Values(0u, 1u, 2u, 3u));

TEST_F(tool_test, selection_reads_layout1_and_reports_bad_files) {
    start("--mode boot");
    open();
    const std::string layout1 = temp_path("layout1.pak");
    test_support::save_file(layout1, test_support::write_pak(test_support::sample_pak_spec(1, ecu_serial, 1, 1)).data);
    select(layout1);
    EXPECT_TRUE(tool->package_loaded());
    EXPECT_TRUE(tool->model().checked(IDC_TYPE_FIXED_MODEL));

    const std::string junk = temp_path("junk.pak");
    test_support::save_file(junk, {1, 2, 3, 4, 5, 6, 7, 8});
    select(junk);
    EXPECT_TRUE(saw("Error", "Input file '" + junk + "' invalid pak file."));
    EXPECT_FALSE(tool->package_loaded());
    EXPECT_FALSE(tool->model().checked(IDC_TYPE_FIXED_MODEL));
    const std::string missing = temp_path("missing.pak");
    select(missing);
    EXPECT_TRUE(saw("Error", "Failed to open input file: " + missing));
}

TEST_F(tool_test, serial_mismatch_keeps_author_and_download_does_nothing) {
    start("--mode boot");
    open();
    select(write_package(0, 1, ecu_serial, [](auto& s) { s.author = "First"; }));
    select(write_package(0, 1, "0A0B0C0D", [](auto& s) { s.author = "Second"; }));
    EXPECT_TRUE(saw("ERROR!", "OnBnClickedButtonImagedlSelectfile Error: Serial number mismatch!"));
    EXPECT_EQ(text(IDC_AUTHOR), "First");
    EXPECT_FALSE(tool->model().checked(IDC_TYPE_FIRMWARE));
    const auto before = state().commands;
    click(IDC_DOWNLOAD_FILE);
    EXPECT_EQ(state().commands, before);
}

class firmware_erase : public tool_test, public ::testing::WithParamInterface<bool> {};

TEST_P(firmware_erase, sends_the_whole_erase_sequence_then_every_block_in_order) {
    const bool sst = GetParam();
    start(std::string("--mode boot --flash-id ") + (sst ? "2781" : "1234"));
    open();
    select(write_package(0, 3));
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Success!", loaded));
    const auto s = state();
    EXPECT_EQ(erases_of(s), firmware_erases(sst));
    EXPECT_EQ(s.accepted_certificate, "package");
    ASSERT_TRUE(s.key_block);
    ASSERT_EQ(s.blocks.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(s.blocks[i].sub_function, 9);
        EXPECT_EQ(s.blocks[i].format, 4);
        EXPECT_EQ(s.blocks[i].buffer_address, 0xFFF9F800u);
        EXPECT_EQ(s.blocks[i].flash_address, 2048 * i);
    }
    const auto bar = tool->model().state(IDC_PROGRESS);
    EXPECT_EQ(bar.range_high, 3 + 18);
    EXPECT_EQ(bar.position, 3);
}
INSTANTIATE_TEST_SUITE_P(sst39, firmware_erase, ::testing::Bool());

struct type_case {
    std::uint32_t type;
    std::uint8_t sub_function;
    std::uint32_t base;  // misc0 of block 0, stride 2048 (dynamic model data: always 0)
    std::size_t erases;
    int range;  // for 2 blocks
};
class block_addresses : public tool_test, public ::testing::WithParamInterface<type_case> {};

TEST_P(block_addresses, go_to_the_base_of_the_type) {
    const type_case c = GetParam();
    start("--mode boot");
    open();
    select(write_package(c.type, 2));
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Success!", loaded));
    const auto s = state();
    ASSERT_EQ(s.blocks.size(), 2u);
    for (std::uint32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(s.blocks[i].sub_function, c.sub_function);
        EXPECT_EQ(s.blocks[i].flash_address, c.type == 2 ? 0 : c.base + 2048 * i);
    }
    EXPECT_EQ(s.erases.size(), c.erases);
    if (c.type == 3) {
        EXPECT_EQ(erases_of(s).back(), std::make_pair(0x001E0000u, 1u));
    }
    EXPECT_EQ(tool->model().state(IDC_PROGRESS).range_high, c.range);
    EXPECT_EQ(tool->model().position(IDC_PROGRESS), 3);  // one after the erases, one per block
}
INSTANTIATE_TEST_SUITE_P(types, block_addresses,
                         ::testing::Values(type_case{1, 9, 0x00100000, 2 + 9, 10}, type_case{2, 8, 0, 2, 3},
                                           type_case{3, 9, 0x001E0000, 9 + 2 + 22 + 1, 3}));

TEST_F(tool_test, empty_image_runs_the_erases_and_succeeds_without_blocks) {
    start("--mode boot");
    open();
    select(write_package(1, 0));
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Success!", loaded));
    EXPECT_EQ(state().erases.size(), 11u);
    EXPECT_TRUE(state().blocks.empty());
}

TEST(image_programmer, sends_whole_blocks_only) {
    ecusim::virtual_ecu ecu(ecusim::config_from_text("--mode boot --any-address"));  // no erase plan here
    connection_manager manager;
    manager.connect();
    std::vector<std::uint8_t> key(128, 7);
    connection_manager::security_request r;
    r.sub_function = SECURITY_TEST_FUNCTION_SEND_SYMMETRIC_KEYS;
    r.key0 = key;
    manager.security_command(r);
    std::vector<std::uint8_t> image(3 * 2048 + 1000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i / 2048 + 1);
    int steps = 0;
    image_programmer programmer(manager, [](const std::string& t) { ADD_FAILURE() << t; }, [&] { ++steps; });
    EXPECT_TRUE(programmer.send_blocks(image_fixed_model, image));
    const auto s = ecu.device().inspect([](ecusim::ecu& e) { return e.state(); });
    ASSERT_EQ(s.blocks.size(), 3u);
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(s.blocks[2].flash_address, 0x00100000u + 2 * 2048);
    EXPECT_EQ(s.blocks[2].data, std::vector<std::uint8_t>(2048, 3));
    EXPECT_EQ(progress_range(image_fixed_model, std::uint32_t(image.size())), 3 + 8);
}

TEST_F(tool_test, certificate_mismatch_is_shown_and_nothing_is_sent) {
    start("--mode boot");
    open();
    select(write_package(2, 1));
    ecu->device().inspect([](ecusim::ecu& e) {  // another ECU behind the same device
        e.set_serial({0x0A, 0x0B, 0x0C, 0x0D});
        return 0;
    });
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Error",
                    "ERROR:(Certificate match) ECU Security problem. Please check that this file is intended for this ECU!"));
    EXPECT_FALSE(state().key_block);
    EXPECT_TRUE(state().erases.empty());
    EXPECT_TRUE(state().blocks.empty());
    EXPECT_FALSE(saw("Success!", loaded));
}

TEST_F(tool_test, key_failure_is_shown_and_nothing_is_erased_or_sent) {
    start("--mode boot");
    open();
    select(write_package(2, 2));
    fault_on_next(security, 2, "rstatus=0x71000006");  // 1: certificate, 2: keys
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Error", "OnBnClickedButtonSecurityParsePak SECURITY_COMMAND SECURITY_TEST_FUNCTION_SEND_SYMMETRIC_KEYS "
                             "ERROR=71000006"));
    EXPECT_TRUE(state().erases.empty());
    EXPECT_TRUE(state().blocks.empty());
    EXPECT_FALSE(saw("Success!", loaded));
}

TEST_F(tool_test, failed_block_ends_the_download_and_the_package_stays_loaded) {
    start("--mode boot");
    open();
    select(write_package(0, 3));
    // Certificate, keys, the flash device three times (firmware includes the other erases),
    // then the blocks: the 7th is block 1.
    fault_on_next(security, 7, "rstatus=0x71000009");
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Error", "OnBnClickedButtonSecurityParsePak SECURITY_COMMAND "
                             "SECURITY_TEST_FUNCTION_AES_DECRYPT_BLOCK_TO_MEMORY ERROR=71000009"));
    EXPECT_EQ(state().blocks.size(), 2u);  // block 2 is never sent
    EXPECT_FALSE(saw("Success!", loaded));
    EXPECT_TRUE(tool->package_loaded());
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Success!", loaded));
}

TEST_F(tool_test, failing_flash_device_query_ends_the_download_with_an_error) {
    start("--mode boot");
    open();
    select(write_package(2, 1));
    fault_on_next(security, 3, "status=0x0104");
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Error", "OnBnClickedButtonImagedlDownloadfile Error: the erase before the download failed"));
    EXPECT_TRUE(state().erases.empty());
    EXPECT_TRUE(state().blocks.empty());
}

TEST_F(tool_test, failing_certificate_validation_ends_the_download) {
    start("--mode boot");
    open();
    select(write_package(0, 1));
    fault_on_next(security, 1, "rstatus=0x71000006");
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Error", "OnBnClickedButtonImagedlDownloadfile SECURITY_COMMAND "
                             "SECURITY_TEST_FUNCTION_VALIDATE_CRYPTO_CERT ERROR=71000006"));
    EXPECT_TRUE(state().erases.empty());
    EXPECT_FALSE(state().key_block);
}

TEST_F(tool_test, package_of_unknown_type_is_not_downloaded) {
    start("--mode boot");
    open();
    select(write_package(5, 1));
    for (int radio : type_radios) EXPECT_FALSE(tool->model().checked(radio));
    const auto before = commands_of(security);
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Error", "Unknown image type."));
    EXPECT_EQ(commands_of(security), before);
}

}  // namespace
}  // namespace qx::testing
