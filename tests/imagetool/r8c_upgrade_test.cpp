// The "Upgrade R8C" group against the virtual ECU's peripheral model.
#include <mutex>

#include "tests/imagetool/tool_fixture.h"

namespace qx::testing {
namespace {

const std::string updated = "Firmware Updated Successfully! Please reset system.";
const std::string failed = "Firmware Updated Failed!";

class r8c_upgrade : public tool_test {
protected:
    void open_app(const std::function<void(ecusim::ecu_config&)>& edit = {}, const std::string& options = "--mode app") {
        start(options, edit);
        open();
    }
    // An image file of `size` bytes that differ from the erased 0xFF.
    std::string image_file(std::size_t size, std::uint8_t seed = 1) {
        image.resize(size);
        for (std::size_t i = 0; i < size; ++i) image[i] = std::uint8_t((i * 7 + seed) % 251);
        const std::string path = temp_path("r8c" + std::to_string(seed) + ".bin");
        test_support::save_file(path, image);
        return path;
    }
    void load(const std::string& path) {
        renderer.answer_file(path);
        click(IDC_R8C_SELECT_FILE);
    }
    void upgrade(int confirm = ui::IDOK) {
        renderer.answer_message(confirm);
        click(IDC_R8C_DOWNLOAD_FILE);
    }
    std::vector<std::uint8_t> flash(std::uint32_t from, std::uint32_t n) {
        const auto s = state();
        return {s.r8c.flash.begin() + from, s.r8c.flash.begin() + from + n};
    }
    std::vector<std::uint8_t> image;
};

TEST_F(r8c_upgrade, programs_8_blocks_of_1024_from_0x4000) {
    open_app();
    load(image_file(0x8000));
    EXPECT_EQ(text(IDC_R8C_FILE), temp_path("r8c1.bin"));
    upgrade();
    EXPECT_TRUE(saw("Success!", updated));
    const auto s = state();
    EXPECT_EQ(s.r8c.programmed_addresses,
              (std::vector<std::uint32_t>{0x4000, 0x4400, 0x4800, 0x4C00, 0x5000, 0x5400, 0x5800, 0x5C00}));
    EXPECT_EQ(flash(0x4000, 0x2000), std::vector<std::uint8_t>(image.begin() + 0x4000, image.begin() + 0x6000));
    EXPECT_EQ(s.r8c.erases, 1u);
    EXPECT_EQ(s.r8c.current_block, 0u);  // ExecuteInBlock(0) ran: it was in block 1
    EXPECT_EQ(tool->model().position(IDC_PROGRESS), 8);
    EXPECT_EQ(text(IDC_R8C_FILE), "No file selected");
    EXPECT_FALSE(tool->r8c_image_loaded());
}

TEST_F(r8c_upgrade, block_smaller_than_the_buffer_writes_nothing_and_succeeds) {
    open_app([](auto& c) {
        c.r8c.block_size = 0x200;
        c.r8c.current_block = 2;
    });
    load(image_file(0x8000));
    upgrade();
    EXPECT_TRUE(saw("Success!", updated));
    EXPECT_EQ(state().r8c.programs, 0u);
    EXPECT_EQ(state().r8c.current_block, 2u);  // not in block 1: no ExecuteInBlock
    EXPECT_FALSE(tool->r8c_image_loaded());
}

TEST_F(r8c_upgrade, mismatch_in_block_5_erases_again_and_restarts_at_block_0) {
    open_app([](auto& c) {
        c.r8c.weak_cell = 0x5400 + 17;  // in the sixth block, index 5
        c.r8c.weak_cell_misses = 1;
    });
    load(image_file(0x8000));
    std::mutex m;
    std::vector<int> positions;
    tool->model().add_listener([&](int id) {
        if (id != IDC_PROGRESS) return;
        std::lock_guard lock(m);
        positions.push_back(tool->model().position(IDC_PROGRESS));
    });
    upgrade();
    EXPECT_TRUE(saw("ERROR!", "R8C_CommandsDlg::OnBnClickedR8ccommandsExecuteupgrade memcmp Error"));
    EXPECT_TRUE(saw("Success!", updated));
    const auto s = state();
    EXPECT_EQ(s.r8c.erases, 2u);
    std::vector<std::uint32_t> expected{0x4000, 0x4400, 0x4800, 0x4C00, 0x5000, 0x5400};
    for (std::uint32_t a = 0x4000; a < 0x6000; a += 0x400) expected.push_back(a);
    EXPECT_EQ(s.r8c.programmed_addresses, expected);
    EXPECT_EQ(flash(0x4000, 0x2000), std::vector<std::uint8_t>(image.begin() + 0x4000, image.begin() + 0x6000));
    std::lock_guard lock(m);
    const auto five = std::find(positions.begin(), positions.end(), 5);
    ASSERT_NE(five, positions.end());
    EXPECT_NE(std::find(five, positions.end(), 0), positions.end());  // back to 0 for the second pass
    EXPECT_EQ(positions.back(), 8);
}

TEST_F(r8c_upgrade, flash_that_never_reads_back_right_fails_after_three_restarts) {
    open_app([](auto& c) {
        c.r8c.weak_cell = 0x4000;
        c.r8c.weak_cell_misses = 1000;
    });
    load(image_file(0x8000));
    upgrade();
    std::size_t mismatches = 0;
    for (const auto& p : renderer.prompts())
        mismatches += p.text == "R8C_CommandsDlg::OnBnClickedR8ccommandsExecuteupgrade memcmp Error";
    EXPECT_EQ(mismatches, 4u);
    EXPECT_EQ(state().r8c.erases, 4u);
    EXPECT_TRUE(saw("Error!", failed));
    EXPECT_FALSE(tool->r8c_image_loaded());
}

TEST_F(r8c_upgrade, file_over_64_kb_loads_its_first_65536_bytes_and_keeps_its_length) {
    open_app();
    load(image_file(65 * 1024 + 512, 3));
    EXPECT_EQ(tool->r8c_image_length(), 65u * 1024 + 512);
    EXPECT_EQ(tool->r8c_image(0, 65536), std::vector<std::uint8_t>(image.begin(), image.begin() + 65536));
    // A shorter file after it: the bytes past its end are zero, not the earlier file's.
    load(image_file(100, 4));
    EXPECT_EQ(tool->r8c_image_length(), 100u);
    EXPECT_EQ(tool->r8c_image(100, 16), std::vector<std::uint8_t>(16, 0));
}

struct bad_geometry {
    std::uint32_t buffer_size, block_size, block_start_addr;
};
class r8c_refused : public r8c_upgrade, public ::testing::WithParamInterface<bad_geometry> {};

TEST_P(r8c_refused, before_anything_is_written) {
    const bad_geometry g = GetParam();
    open_app([g](auto& c) {
        c.r8c.buffer_size = g.buffer_size;
        c.r8c.block_size = g.block_size;
        c.r8c.block_start_addr = g.block_start_addr;
    });
    load(image_file(0x10000));
    upgrade();
    EXPECT_TRUE(saw("Error!", failed));
    EXPECT_EQ(state().r8c.erases, 0u);
    EXPECT_EQ(state().r8c.programs, 0u);
    EXPECT_EQ(state().r8c.current_block, 1u);
    EXPECT_TRUE(tool->r8c_image_loaded());
}
INSTANTIATE_TEST_SUITE_P(geometries, r8c_refused,
                         ::testing::Values(bad_geometry{0x400, 0x2000, 0xF000},  // past 64 KB
                                           bad_geometry{4096, 0x2000, 0x4000},   // request over 4088 bytes
                                           bad_geometry{0, 0x2000, 0x4000}));    // no buffer at all

TEST_F(r8c_upgrade, stops_early_without_image_on_cancel_and_at_a_failed_erase) {
    open_app({}, "--mode app --stopped");
    click(IDC_R8C_DOWNLOAD_FILE);
    EXPECT_TRUE(saw("ERROR!", "OnBnClickedR8CCommandsExecuteupgrade Error: No R8C Firmware File loaded!"));
    load(image_file(0x8000));
    renderer.answer_message(ui::IDOK);  // "Already Stopped"
    upgrade(ui::IDCANCEL);
    EXPECT_TRUE(saw("ERROR!", "CConfigDlg::OnBnClickedConfigStop Error: Already Stopped"));
    EXPECT_TRUE(saw("Error!", failed));
    EXPECT_TRUE(tool->r8c_image_loaded());
    fault_on_next(11, 3, "status=0x0104");  // GetInfo, ExecuteInBlock, EraseBlock
    renderer.answer_message(ui::IDOK);
    const std::size_t before = messages();
    upgrade();
    EXPECT_TRUE(saw("ERROR!", "R8C_CommandsDlg::R8ccommandsEraseBlock set_pointers_SH_Peripheral_Request_TS Error"));
    EXPECT_EQ(messages(), before + 3);  // already stopped, confirmation, erase: nothing after it
    EXPECT_TRUE(tool->r8c_image_loaded());
    EXPECT_EQ(state().r8c.programs, 0u);
}

}  // namespace
}  // namespace qx::testing
