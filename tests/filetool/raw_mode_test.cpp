// The USB file tool in raw mode: the walk of the raw log disk, its diagnostics and the raw
// download, against the virtual ECU over both links (the simulator link keeps host order).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/filetool/log_fixture.h"

namespace qx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint8_t READ_RAW = 44;

// Raw disk files written to a scratch folder, as `--raw-file` options.
class raw_files {
protected:
    scratch s;
    std::string raw(const std::string& name, const bytes& data, const std::string& modifiers = "") {
        return " --raw-file " + s.file(name, data) + modifiers;
    }
};

class raw_mode : public ::testing::TestWithParam<link_kind>, protected raw_files {};

TEST_P(raw_mode, listing_names_log_and_cfg_entries_in_turn) {
    log_ecu ecu(GetParam(), "--raw-logging" + raw("a", pattern(1000)) + raw("b", pattern(600)) + raw("c", pattern(3584)));
    running_dialog d(*ecu.manager);
    d.list();
    ASSERT_EQ(d.rows(), 3);
    EXPECT_EQ(d.cell(0, 0), "ECU_0000.log");
    EXPECT_EQ(d.cell(0, 1), "ECU RawFileIndex 0000.qxlog");
    EXPECT_EQ(d.cell(1, 0), "ECU_0000.cfg");
    EXPECT_EQ(d.cell(1, 1), "ECU RawFileIndex 0000.qxcfg");
    EXPECT_EQ(d.cell(2, 0), "ECU_0001.log");
    EXPECT_EQ(d.cell(2, 1), "ECU RawFileIndex 0001.qxlog");
    // Header, one group header and its data blocks, times 512.
    EXPECT_EQ(d.cell(0, 2), "2048");
    EXPECT_EQ(d.cell(1, 2), "2048");
    EXPECT_EQ(d.cell(2, 2), "4608");
    EXPECT_THAT(d.errors(), IsEmpty());
}

TEST_P(raw_mode, saving_a_log_entry_writes_the_prefix_and_a_cfg_entry_none) {
    const bytes log = pattern(5000, 2), cfg = pattern(700, 3);
    log_ecu ecu(GetParam(), "--raw-logging" + raw("a", log, ",cfg-version=7,channels=0x12345") + raw("b", cfg));
    running_dialog d(*ecu.manager);
    d.list();
    d.upload(0, s.path("log.qxlog"));
    d.upload(1, s.path("cfg.qxcfg"));
    EXPECT_THAT(d.errors(), IsEmpty());
    ASSERT_EQ(d.prompts("file").size(), 2u);
    EXPECT_EQ(d.prompts("file")[0].text, "ECU RawFileIndex 0000.qxlog");

    bytes prefix = GetParam() == link_kind::usb
                       ? bytes{'Q', 'X', '-', 'C', 0, 0, 0, 7, 0x23, 0x45}
                       : bytes{'C', '-', 'X', 'Q', 7, 0, 0, 0, 0x45, 0x23};  // host order
    bytes expected = prefix;
    expected.insert(expected.end(), log.begin(), log.end());
    EXPECT_EQ(read_bytes(s.path("log.qxlog")), expected);
    EXPECT_EQ(read_bytes(s.path("cfg.qxcfg")), cfg);
    EXPECT_EQ(d.text(filetool::IDC_PROGRESS_TEXT), "100.000 %");
    EXPECT_EQ(d.dlg.model().position(filetool::IDC_PROGRESS), 100);
}

TEST_P(raw_mode, diagnostics_walk_groups_of_3_3_and_1_blocks_and_write_every_header) {
    log_ecu ecu(GetParam(),
                "--raw-logging --raw-group-blocks 3" + raw("a", pattern(3172), ",cfg-version=0x11223344,channels=0x55"));
    running_dialog d(*ecu.manager);
    d.dlg.model().set_checked(filetool::IDC_DIAGNOSTICS, true);
    d.ui.answer_file(s.path("diagnostics.txt"));
    d.list();

    const auto messages = d.prompts("message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Diagnostics");
    EXPECT_EQ(messages[0].text, "Select a file to save the image");
    EXPECT_EQ(d.rows(), 1);
    EXPECT_EQ(d.cell(0, 2), "5632");  // 11 blocks: header, 3 + 1, 3 + 1, 1 + 1
    EXPECT_EQ(read_text(s.path("diagnostics.txt")),
              "DiskHeader @ lba=00000000 lba_of_last_file_opened==00000001 number_of_files==00000001 "
              "lba_of_disk_end==0000000c \n"
              "-FileHeader @lba=00000001 file_index=00000001 number_of_logical_blocks=0000000b "
              "cfgfile_version=11223344 cfgfile_num_channels=00000055 logfile_version=00000001 this_lba=00000001\n"
              "--BlockHeader @lba=00000002 size=00000600 number_of_logical_blocks=00000003 \n"
              "--BlockHeader @lba=00000006 size=00000600 number_of_logical_blocks=00000003 \n"
              "--BlockHeader @lba=0000000a size=00000064 number_of_logical_blocks=00000001 \n");
    EXPECT_EQ(d.text(filetool::IDC_DIAG_LBA), "lba = 0000000a");
    EXPECT_EQ(d.text(filetool::IDC_DIAG_NUM_FILES), "num_files = 0001");
    EXPECT_EQ(d.text(filetool::IDC_DIAG_FILE_INDEX), "file index = 0001");
    EXPECT_EQ(d.text(filetool::IDC_DIAG_FILE_BLOCKS), "file blocks = 000b");
    EXPECT_EQ(d.text(filetool::IDC_DIAG_SECTORS), "sectors = 0001");
    EXPECT_EQ(d.text(filetool::IDC_DIAG_SECTOR_COUNT), "sector_count = 0008");
}

INSTANTIATE_TEST_SUITE_P(links, raw_mode, ::testing::Values(link_kind::usb, link_kind::simulator), link_name);

class raw_disk : public ::testing::Test, protected raw_files {};

TEST_F(raw_disk, an_empty_disk_shows_no_files_found_and_lists_nothing) {
    log_ecu ecu(link_kind::usb, "--raw-logging");
    running_dialog d(*ecu.manager);
    d.list();
    EXPECT_THAT(d.errors(), ElementsAre("No files found on this disk"));
    EXPECT_EQ(d.rows(), 0);
}

TEST_F(raw_disk, indexes_1_2_4_report_a_missing_cfg_for_the_third_file_only) {
    log_ecu ecu(link_kind::usb,
                "--raw-logging" + raw("a", pattern(10)) + raw("b", pattern(10)) + raw("c", pattern(10), ",index=4"));
    running_dialog d(*ecu.manager);
    d.list();
    EXPECT_THAT(d.errors(), ElementsAre("LogTestDlg::LogtestGetdirlisting_RawFile file_index=00000004 "
                                        "file_count=00000002. Appears to be missing a .cfg file."));
    EXPECT_EQ(d.rows(), 3);
}

TEST_F(raw_disk, an_index_further_off_is_an_unknown_error) {
    log_ecu ecu(link_kind::usb,
                "--raw-logging" + raw("a", pattern(10)) + raw("b", pattern(10)) + raw("c", pattern(10), ",index=9"));
    running_dialog d(*ecu.manager);
    d.list();
    EXPECT_THAT(d.errors(), ElementsAre("LogTestDlg::LogtestGetdirlisting_RawFile file_index=00000009 "
                                        "file_count=00000002. Unknown error."));
}

TEST_F(raw_disk, an_open_file_is_reported_once_and_ends_the_listing) {
    log_ecu ecu(link_kind::usb,
                "--raw-logging" + raw("a", pattern(10)) + raw("b", pattern(10), ",open") + raw("c", pattern(10)));
    running_dialog d(*ecu.manager);
    d.list();
    EXPECT_THAT(d.errors(), ElementsAre("LogTestDlg::LogtestGetdirlisting_RawFile FileHeader indicates an open file handle."));
    EXPECT_EQ(d.rows(), 1);
}

TEST_F(raw_disk, a_wrong_block_mark_stops_the_data_check_with_both_messages) {
    log_ecu ecu(link_kind::usb, "--raw-logging --raw-group-blocks 3" + raw("a", pattern(3172), ",bad-mark=1"));
    running_dialog d(*ecu.manager);
    d.dlg.model().set_checked(filetool::IDC_DIAGNOSTICS, true);
    d.ui.answer_file(s.path("diagnostics.txt"));
    d.list();
    EXPECT_THAT(d.errors(), ElementsAre("LogtestDiskDiagnostics Error in block header @ lba = 00000006",
                                        "LogtestDiskDiagnostics Error in file header @ lba = 00000002"));
    const std::string text = read_text(s.path("diagnostics.txt"));
    EXPECT_NE(text.find("--BlockHeader @lba=00000002 "), std::string::npos);
    EXPECT_EQ(text.find("--BlockHeader @lba=00000006 "), std::string::npos);
    EXPECT_EQ(d.rows(), 1);  // the listing goes on
}

TEST_F(raw_disk, diagnostics_without_a_file_still_show_values_and_a_file_that_cannot_be_made_is_reported) {
    log_ecu ecu(link_kind::usb, "--raw-logging" + raw("a", pattern(10)));
    running_dialog d(*ecu.manager);
    d.dlg.model().set_checked(filetool::IDC_DIAGNOSTICS, true);
    d.list();  // the save prompt is cancelled
    EXPECT_THAT(d.errors(), IsEmpty());
    EXPECT_EQ(d.text(filetool::IDC_DIAG_FILE_BLOCKS), "file blocks = 0003");

    d.ui.answer_file(s.path("no/such/folder/diagnostics.txt"));
    d.list();
    EXPECT_THAT(d.errors(), ElementsAre("diagnostics_outfile.Open"));
    EXPECT_EQ(d.rows(), 1);
}

struct miscount {
    std::string modifiers;
    std::string message;
};

class raw_miscount : public ::testing::TestWithParam<miscount>, protected raw_files {};

TEST_P(raw_miscount, a_file_whose_groups_do_not_add_up_stops_with_an_error_and_leaves_no_file) {
    // 5000 bytes: groups of 7 and 3 data blocks, 13 blocks with the file header.
    log_ecu ecu(link_kind::usb, "--raw-logging" + raw("a", pattern(5000), GetParam().modifiers));
    running_dialog d(*ecu.manager);
    d.list();
    ASSERT_EQ(d.rows(), 1);
    d.upload(0, s.path("a.qxlog"));
    EXPECT_THAT(d.errors(), ElementsAre(GetParam().message));
    EXPECT_FALSE(std::filesystem::exists(s.path("a.qxlog")));
    EXPECT_FALSE(d.saved_successfully());
}

INSTANTIATE_TEST_SUITE_P(
    counts, raw_miscount,
    ::testing::Values(miscount{",blocks=10", "LogTestDlg::OnBnClickedButtonLogtestReadandsave File @ lba=00000001: "
                                             "its groups hold more than its 0000000a blocks."},
                      // Past the file's last group lies unwritten disk: the file is cut.
                      miscount{",blocks=20", "LogTestDlg::OnBnClickedButtonLogtestReadandsave File @ lba=00000001: "
                                             "its groups end after 0000000d of its 00000014 blocks."},
                      miscount{",blocks=20,bad-mark=1", "LogtestDiskDiagnostics Error in block header @ lba = 0000000a"}));

TEST_F(raw_disk, a_failed_block_read_ends_the_listing_with_a_message) {
    log_ecu ecu(link_kind::usb,
                "--raw-logging" + raw("a", pattern(10)) + raw("b", pattern(10)) + " --faults code=44#2:status=0x8001");
    running_dialog d(*ecu.manager);
    d.list();
    EXPECT_THAT(d.errors(), ElementsAre("LogTestDlg::LogtestGetdirlisting_RawFile LOG_READ_RAW_LBA failed @ lba = 00000001"));
    EXPECT_EQ(d.rows(), 0);
    EXPECT_EQ(ecu.commands_of(READ_RAW), 2u);
}

TEST_F(raw_disk, a_failed_read_during_the_download_removes_the_partial_file) {
    // Reads: disk header, file header (listing); file header, group header, group data (download).
    log_ecu ecu(link_kind::usb, "--raw-logging" + raw("a", pattern(5000)) +
                                    " --faults code=44#5:status=0x8001;code=44#8:status=0x8001");
    running_dialog d(*ecu.manager);
    d.list();
    d.upload(0, s.path("a.qxlog"));
    ASSERT_EQ(d.errors().size(), 1u);
    EXPECT_THAT(d.errors()[0], ::testing::StartsWith("LogTestDlg::OnBnClickedButtonLogtestReadandsave "
                                                     "LOG_READ_RAW_LBA failed @ lba = 00000003"));
    EXPECT_FALSE(std::filesystem::exists(s.path("a.qxlog")));

    // A file that was there keeps its bytes; no temporary file is left beside it.
    const std::string kept = s.file("kept.qxlog", pattern(10, 7));
    d.upload(0, kept);
    EXPECT_EQ(d.errors().size(), 2u);
    EXPECT_EQ(read_bytes(kept), pattern(10, 7));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(s.path("")), {}), 2);  // a, kept.qxlog
}

TEST_F(raw_disk, without_usb_storage_the_listing_reads_the_raw_disk) {
    log_ecu ecu(link_kind::usb, "--no-usb-storage" + raw("a", pattern(10)));
    running_dialog d(*ecu.manager);
    d.list();
    ASSERT_EQ(d.rows(), 1);
    EXPECT_EQ(d.cell(0, 0), "ECU_0000.log");
}

}  // namespace
}  // namespace qx::testing
