// "Erase Dynamic Model Data", "Erase Fixed Model" and the hidden core dump.
#include <cstring>

#include "tests/imagetool/tool_fixture.h"

namespace qx::testing {
namespace {

constexpr std::uint8_t security = 6, erase_code = 4;

TEST_F(tool_test, dynamic_model_erase_clears_external_flash_then_the_model_area) {
    start("--mode boot --flash-id 2780");
    open();
    click(IDC_ERASE_DYNAMIC_MODEL);
    EXPECT_EQ(erases_of(state()), (erase_list{{0x0C000000, 32}, {0x80100000, 16}}));
    EXPECT_EQ(tool->model().state(IDC_PROGRESS).range_high, 2);
    EXPECT_EQ(tool->model().position(IDC_PROGRESS), 2);
    EXPECT_TRUE(saw("Success!", "Dynamic model data erased succesfully"));
}

TEST_F(tool_test, dynamic_model_erase_without_flash_device_answer_erases_the_model_area_but_claims_no_success) {
    start("--mode boot");
    open();
    fault_on_next(security, 2, "rstatus=0x71000001");  // 1: serial number, 2: flash device
    click(IDC_ERASE_DYNAMIC_MODEL);
    EXPECT_TRUE(saw("Error", "OnBnClickedButtonSecurityParsePak SECURITY_COMMAND SECURITY_TEST_FUNCTION_GET_FLASH_DEVICE "
                             "ERROR=71000001"));
    EXPECT_EQ(erases_of(state()), (erase_list{{0x80100000, 16}}));
    EXPECT_EQ(tool->model().position(IDC_PROGRESS), 2);
    EXPECT_FALSE(saw("Success!", "Dynamic model data erased succesfully"));
}

// Status 0 with an empty or one-byte text: identifier 0, for the erase and for the download.
class short_flash_device_answer : public tool_test, public ::testing::WithParamInterface<int> {};

TEST_P(short_flash_device_answer, names_no_sst39_part_and_the_work_goes_on) {
    start("--mode boot --flash-id 2780 --flash-id-bytes " + std::to_string(GetParam()));
    open();
    click(IDC_ERASE_DYNAMIC_MODEL);
    EXPECT_EQ(erases_of(state()), (erase_list{{0x80100000, 16}}));
    EXPECT_TRUE(saw("Success!", "Dynamic model data erased succesfully"));
    select(write_package(2, 1));
    click(IDC_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("Success!", "Firmware loaded succesfully"));
    EXPECT_EQ(state().blocks.size(), 1u);
    EXPECT_EQ(messages(), 2u);  // no error box beside the two successes
}
INSTANTIATE_TEST_SUITE_P(bytes, short_flash_device_answer, ::testing::Values(0, 1));

TEST_F(tool_test, dynamic_model_erase_reports_a_failed_external_erase_and_claims_no_success) {
    start("--mode boot");
    open();
    fault_on_next(erase_code, 1, "status=0x0104");
    click(IDC_ERASE_DYNAMIC_MODEL);
    EXPECT_TRUE(saw("ERROR!", "OnBnClickedButtonImagedlEraseDynamicModelData Error: KesSendCommand SST39XX "
                              "EEPROM_ERASE_BLOCKS failed"));
    EXPECT_EQ(tool->model().position(IDC_PROGRESS), 1);  // the model area itself is erased
    EXPECT_FALSE(saw("Success!", "Dynamic model data erased succesfully"));
}

TEST_F(tool_test, fixed_model_erase_steps_eight_times_and_erases_in_order) {
    start("--mode boot");
    open();
    click(IDC_ERASE_FIXED_MODEL);
    erase_list expected{{0x80100000, 16}};
    for (std::uint32_t k = 0; k < 7; ++k) expected.emplace_back(0x00100000 + k * 0x20000, 1);
    EXPECT_EQ(erases_of(state()), expected);
    EXPECT_EQ(tool->model().position(IDC_PROGRESS), 8);
    EXPECT_EQ(tool->model().state(IDC_PROGRESS).range_high, 8);
    EXPECT_TRUE(saw("Success!", "Fixed model erased succesfully"));
}

TEST_F(tool_test, fixed_model_erase_stops_at_the_first_failure) {
    start("--mode boot");
    open();
    fault_on_next(erase_code, 1, "status=0x0104");
    click(IDC_ERASE_FIXED_MODEL);
    EXPECT_TRUE(saw("ERROR!", "OnBnClickedButtonImagedlEraseFixedModel Error: KesSendCommand EEPROM_ERASE_BLOCKS 0 failed"));
    fault_on_next(erase_code, 3, "status=0x0104");  // the second fixed-model block
    click(IDC_ERASE_FIXED_MODEL);
    EXPECT_TRUE(saw("ERROR!", "OnBnClickedButtonImagedlEraseFixedModel Error: KesSendCommand EEPROM_ERASE_BLOCKS 1 failed"));
    EXPECT_EQ(state().erases.size(), 2u);  // the failed ones never reached the model
    EXPECT_FALSE(saw("Success!", "Fixed model erased succesfully"));
}

TEST_F(tool_test, core_dump_reads_every_section_in_2048_byte_pieces_and_blank_maps_two) {
    start("--mode boot");
    open();
    click(IDC_COREDUMP_SAVE);  // hidden: nothing happens
    const auto before = commands_of(security);
    EXPECT_EQ(before, 1u);
    tool->model().set_visible(IDC_COREDUMP_SAVE, true);
    click(IDC_COREDUMP_SAVE);
    const auto s = state();
    ASSERT_EQ(s.dump_sections.size(), 112u);
    std::uint32_t first[2];
    std::memcpy(first, s.dump_sections.data(), 8);
    EXPECT_EQ(first[0], 0x80100000u);
    EXPECT_EQ(first[1], 0x20000u);
    const std::pair<std::uint32_t, std::uint32_t> sections[] = {
        {0x80100000, 64}, {0x0C000000, 128}, {0x001E0000, 64}, {0x00000000, 448}, {0x00100000, 512}};
    std::size_t at = 0;
    for (const auto& [base, pieces] : sections) {
        for (std::uint32_t i = 0; i < pieces; ++i, ++at) {
            ASSERT_LT(at, s.dump_reads.size());
            ASSERT_EQ(s.dump_reads[at], base + 2048 * i);
        }
    }
    EXPECT_EQ(s.dump_reads.size(), at);
    EXPECT_EQ(s.blank_checks, 16u + 32u);  // 8 KB units of the two flash sections only
    EXPECT_EQ(messages(), 0u);
}

TEST_F(tool_test, core_dump_checks_8_byte_pieces_of_a_written_unit_and_reports_failures) {
    start("--mode boot");
    open();
    select(write_package(2, 1));  // one dynamic model block at 0x80100000
    click(IDC_DOWNLOAD_FILE);
    const auto checks = state().blank_checks;
    tool->model().set_visible(IDC_COREDUMP_SAVE, true);
    click(IDC_COREDUMP_SAVE);
    EXPECT_EQ(state().blank_checks - checks, 48u + 1024u);
    fault_on_next(security, 3, "rstatus=0x71000008");
    click(IDC_COREDUMP_SAVE);
    EXPECT_TRUE(saw("Error", "OnBnClickedButtonCoredumpSave SECURITY_COMMAND SECURITY_TEST_FUNCTION_PREPARE_DUMP "
                             "ERROR=71000008"));
}

}  // namespace
}  // namespace qx::testing
