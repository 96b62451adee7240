// The USB file tool in file-system mode: directory listing, downloads and their failures,
// logging start and stop, against the virtual ECU.
#include <sys/stat.h>

#include <clocale>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "filetool/pc_file.h"
#include "tests/filetool/log_fixture.h"

namespace qx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr std::uint8_t LOG_OPEN = 37, LOG_CLOSE = 38, LOG_READ = 39, LOG_BEGIN = 40, LOG_STOP = 41, FORMAT_RAW = 46;

class file_system_mode : public ::testing::TestWithParam<link_kind> {};

TEST_P(file_system_mode, listing_builds_8_3_names_directory_names_and_sizes) {
    scratch s;
    const std::string options = "--log-file " + s.file("readme.txt", pattern(100)) + " --log-file " +
                                s.file("README", pattern(5)) + " --log-dir LOGS";
    log_ecu ecu(GetParam(), options);
    running_dialog d(*ecu.manager);
    d.list();
    ASSERT_EQ(d.rows(), 3);
    EXPECT_EQ(d.cell(0, 0), "README.TXT");
    EXPECT_EQ(d.cell(0, 1), "readme.txt");
    EXPECT_EQ(d.cell(0, 2), "100");
    EXPECT_EQ(d.cell(1, 0), "README.");
    EXPECT_EQ(d.cell(1, 1), "README");
    EXPECT_EQ(d.cell(1, 2), "5");
    EXPECT_EQ(d.cell(2, 0), "LOGS.");
    EXPECT_EQ(d.cell(2, 1), "DirectoryLOGS");
    EXPECT_EQ(d.cell(3, 0), "");  // past the listing
    EXPECT_THAT(d.errors(), IsEmpty());

    // A second listing replaces the first.
    d.list();
    EXPECT_EQ(d.rows(), 3);
    EXPECT_EQ(d.dlg.entry_at(0)->short_name, "README.TXT");
}

TEST_P(file_system_mode, downloads_7168_bytes_in_3584_byte_reads_and_shows_100_percent) {
    scratch s;
    const bytes data = pattern(7168);
    log_ecu ecu(GetParam(), "--log-file " + s.file("data.bin", data));
    running_dialog d(*ecu.manager);
    d.list();
    std::vector<std::string> progress;
    d.dlg.model().add_listener([&](int id) {
        if (id == filetool::IDC_PROGRESS_TEXT) {
            const std::string t = d.dlg.model().text(id);
            if (progress.empty() || progress.back() != t) progress.push_back(t);
        }
    });
    d.upload(0, s.path("out.cfg"));

    EXPECT_EQ(read_bytes(s.path("out.cfg")), data);
    EXPECT_THAT(progress, ElementsAre("0", "50.000 %", "100.000 %"));
    EXPECT_EQ(d.dlg.model().position(filetool::IDC_PROGRESS), 100);
    EXPECT_TRUE(d.saved_successfully());
    EXPECT_THAT(d.errors(), IsEmpty());
    ASSERT_EQ(d.prompts("file").size(), 1u);
    EXPECT_EQ(d.prompts("file")[0].text, "DATA.BIN");  // the proposed name: the short name
    EXPECT_EQ(d.dlg.entry_at(0)->open, 1);
    EXPECT_GE(d.dlg.entry_at(0)->handle, 0);
    if (ecu.inspectable()) {
        EXPECT_EQ(ecu.commands_of(LOG_OPEN), 1u);
        EXPECT_EQ(ecu.commands_of(LOG_READ), 3u);  // 3584, 3584, then an empty array
        EXPECT_EQ(ecu.commands_of(LOG_CLOSE), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(links, file_system_mode, ::testing::Values(link_kind::usb, link_kind::simulator), link_name);

TEST(file_system_dialog, opening_sets_up_the_list_and_starts_logging_and_closing_stops_it) {
    log_ecu ecu(link_kind::usb, "");
    {
        running_dialog d(*ecu.manager);
        const ui::control_state list = d.dlg.model().state(filetool::IDC_FILE_LIST);
        ASSERT_EQ(list.columns.size(), 3u);
        EXPECT_EQ(list.columns[0].title, "Filename (8.3)");
        EXPECT_EQ(list.columns[0].width, 100);
        EXPECT_EQ(list.columns[1].title, "Filename");
        EXPECT_EQ(list.columns[1].width, 180);
        EXPECT_EQ(list.columns[2].title, "File size");
        EXPECT_EQ(list.columns[2].width, 80);
        EXPECT_EQ(list.row_count, 0);
        EXPECT_EQ(d.dlg.model().state(filetool::IDC_PROGRESS).step, 10);
        EXPECT_TRUE(ecu.state().logging_active);
        d.close();
        EXPECT_THAT(d.ui.prompts(), IsEmpty());
    }
    EXPECT_FALSE(ecu.state().logging_active);
    EXPECT_EQ(ecu.commands_of(LOG_BEGIN), 1u);
    EXPECT_EQ(ecu.commands_of(LOG_STOP), 1u);
}

TEST(file_system_dialog, failing_logging_start_and_stop_are_reported) {
    {
        log_ecu ecu(link_kind::usb, "--faults code=40:rstatus=0x80000001;code=41:status=0x8001");
        running_dialog d(*ecu.manager);
        d.close();
        EXPECT_THAT(d.errors(),
                    ElementsAre("LogTestDlg::LoggingStart LOG_BEGIN_LOGGING KesSendCommand pGSSR_DTS->status=80000001",
                                "LogTestDlg::OnBnClickedButtonLogtestLoggingStop KesSendCommand LOG_STOP_LOGGING "
                                "KesSendCommand Failed"));
    }
    log_ecu ecu(link_kind::usb, "--faults code=41:rstatus=0x80000002");
    running_dialog d(*ecu.manager);
    d.close();
    EXPECT_THAT(d.errors(), ElementsAre("LogTestDlg::OnBnClickedButtonLogtestLoggingStop LOG_STOP_LOGGING "
                                        "KesSendCommand pGSSR_DTS->status=80000002"));
}

TEST(file_system_dialog, a_directory_entry_cannot_be_downloaded_and_leaves_no_file) {
    scratch s;
    log_ecu ecu(link_kind::usb, "--log-dir LOGS");
    running_dialog d(*ecu.manager);
    d.list();
    d.upload(0, s.path("dir.cfg"));
    EXPECT_THAT(d.errors(), ElementsAre("LogTestDlg::OnBnClickedButtonLogtestOpenfile Cannot open a directory entry"));
    EXPECT_FALSE(std::filesystem::exists(s.path("dir.cfg")));
    EXPECT_EQ(ecu.commands_of(LOG_OPEN), 0u);
}

TEST(file_system_dialog, a_failed_read_is_reported_and_read_again) {
    scratch s;
    const bytes data = pattern(5000);
    log_ecu ecu(link_kind::usb, "--log-file " + s.file("a.log", data) + " --faults code=39#1:rstatus=0x80000001");
    running_dialog d(*ecu.manager);
    d.list();
    d.upload(0, s.path("a.cfg"));
    EXPECT_THAT(d.errors(), ElementsAre("LogTestDlg::OnBnClickedButtonLogtestReadandsave KesSendCommand failed "
                                        "pLRFR_DTS->status=80000001"));
    EXPECT_EQ(read_bytes(s.path("a.cfg")), data);
    EXPECT_TRUE(d.saved_successfully());
}

TEST(file_system_dialog, ten_failed_reads_end_the_download_and_remove_the_file) {
    scratch s;
    log_ecu ecu(link_kind::usb, "--log-file " + s.file("a.log", pattern(5000)) + " --faults code=39:rstatus=0x80000001");
    running_dialog d(*ecu.manager);
    d.list();
    d.upload(0, s.path("a.cfg"));
    const auto errors = d.errors();
    ASSERT_EQ(errors.size(), 11u);
    EXPECT_EQ(errors[9], "LogTestDlg::OnBnClickedButtonLogtestReadandsave KesSendCommand failed pLRFR_DTS->status=80000001");
    EXPECT_EQ(errors[10], "LogTestDlg::OnBnClickedButtonLogtestReadandsave Download stopped after 10 failed reads");
    EXPECT_FALSE(std::filesystem::exists(s.path("a.cfg")));
    EXPECT_FALSE(d.saved_successfully());
    EXPECT_EQ(ecu.commands_of(LOG_READ), 10u);
    EXPECT_EQ(ecu.commands_of(LOG_CLOSE), 1u);  // the ECU's file is closed all the same
}

struct exchange_failure {
    std::string faults;
    std::string message_start;
};

class failing_download : public ::testing::TestWithParam<exchange_failure> {};

TEST_P(failing_download, reports_the_failure_and_removes_the_partial_file) {
    scratch s;
    log_ecu ecu(link_kind::usb, "--log-file " + s.file("a.log", pattern(9000)) + " --faults " + GetParam().faults);
    running_dialog d(*ecu.manager);
    d.list();
    d.upload(0, s.path("a.cfg"));
    ASSERT_EQ(d.errors().size(), 1u);
    EXPECT_THAT(d.errors()[0], StartsWith(GetParam().message_start));
    EXPECT_FALSE(std::filesystem::exists(s.path("a.cfg")));
    EXPECT_FALSE(d.saved_successfully());
    // The dialog goes on: a second try succeeds once the ECU answers again.
    d.upload(0, s.path("b.cfg"));
    EXPECT_EQ(read_bytes(s.path("b.cfg")).size(), 9000u);
}

INSTANTIATE_TEST_SUITE_P(
    exchanges, failing_download,
    ::testing::Values(
        exchange_failure{"code=37#1:status=0x8001", "LogTestDlg::OnBnClickedButtonLogtestOpenfile LOG_OPEN_FILE "},
        exchange_failure{"code=39#2:status=0x8001", "LogTestDlg::OnBnClickedButtonLogtestReadandsave LOG_READ_FILE "},
        exchange_failure{"code=37#1:rstatus=0x80000005",
                         "LogTestDlg::OnBnClickedButtonLogtestOpenfile LOG_OPEN_FILE KesSendCommand "
                         "LOFR_TS.status=80000005"}));

// A target that exists and is not a regular file is refused before anything is sent.
class unusable_target : public ::testing::TestWithParam<std::string> {};

TEST_P(unusable_target, is_refused_and_left_as_it_was) {
    scratch s;
    log_ecu ecu(link_kind::usb, "--log-file " + s.file("a.log", pattern(100)));
    const std::string linked = s.file("linked", pattern(10, 3)), target = s.path("target");
    if (GetParam() == "symlink") std::filesystem::create_symlink(linked, target);
    if (GetParam() == "directory") std::filesystem::create_directory(target);
    if (GetParam() == "fifo") {
        ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
    }
    running_dialog d(*ecu.manager);
    d.list();
    d.upload(0, target);
    EXPECT_THAT(d.errors(), ElementsAre("LogTestDlg::OnBnClickedButtonLogtestReadandsave Open failed: " + target +
                                        " is not a regular file"));
    EXPECT_EQ(ecu.commands_of(LOG_OPEN), 0u);
    EXPECT_EQ(read_bytes(linked), pattern(10, 3));
    EXPECT_FALSE(std::filesystem::is_regular_file(std::filesystem::symlink_status(target)));
}

INSTANTIATE_TEST_SUITE_P(kinds, unusable_target, ::testing::Values("symlink", "directory", "fifo"));

TEST(file_system_dialog, a_failed_download_leaves_an_existing_file_as_it_was) {
    scratch s;
    log_ecu ecu(link_kind::usb, "--log-file " + s.file("a.log", pattern(9000)) + " --faults code=39#2:status=0x8001");
    const std::string kept = s.file("kept.cfg", pattern(10, 5));
    running_dialog d(*ecu.manager);
    d.list();
    d.upload(0, kept);
    EXPECT_EQ(d.errors().size(), 1u);
    EXPECT_EQ(read_bytes(kept), pattern(10, 5));
    d.upload(0, kept);  // complete: it replaces the file
    EXPECT_EQ(read_bytes(kept), pattern(9000));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(s.path("")), {}), 2);  // no temporary file left
}

TEST(file_system_dialog, a_listing_status_is_reported_and_ends_the_listing) {
    scratch s;
    log_ecu ecu(link_kind::usb, "--log-file " + s.file("a.log", pattern(10)) + " --log-file " +
                                    s.file("b.log", pattern(10)) + " --faults code=36#2:rstatus=0x80000001");
    running_dialog d(*ecu.manager);
    d.list();
    EXPECT_THAT(d.errors(), ElementsAre("LogTestDlg::OnBnClickedButtonLogtestGetdirlisting LOG_GET_DIRECTORY_ENTRY "
                                        "KesSendCommand pLGDER_DTS->status=80000001"));
    EXPECT_EQ(d.rows(), 1);
}

TEST(file_system_dialog, a_malformed_directory_answer_is_reported) {
    scratch s;
    log_ecu ecu(link_kind::usb, "--log-file " + s.file("a.log", pattern(10)) + " --faults code=36#1:truncate=20");
    running_dialog d(*ecu.manager);
    d.list();
    EXPECT_THAT(d.errors(), ElementsAre("LogTestDlg::OnBnClickedButtonLogtestGetdirlisting Error: "
                                        "set_pointers_GenericStatusResponse_DTS failed"));
    EXPECT_EQ(d.rows(), 0);
}

TEST(file_system_dialog, right_click_offers_upload_only_on_a_listed_row) {
    scratch s;
    log_ecu ecu(link_kind::usb, "--log-file " + s.file("a.log", pattern(10)));
    running_dialog d(*ecu.manager);
    d.list();
    d.dlg.context_menu(filetool::IDC_FILE_LIST, -1);
    d.dlg.context_menu(filetool::IDC_FILE_LIST, 5);
    d.settle();
    EXPECT_THAT(d.prompts("menu"), IsEmpty());
    EXPECT_EQ(d.dlg.selected_index(), -1);

    d.ui.answer_menu(-1);  // the menu is dismissed
    d.dlg.context_menu(filetool::IDC_FILE_LIST, 0);
    d.settle();
    ASSERT_EQ(d.prompts("menu").size(), 1u);
    EXPECT_EQ(d.prompts("menu")[0].text, "UploadToHost");
    EXPECT_THAT(d.prompts("file"), IsEmpty());
    EXPECT_EQ(d.dlg.selected_index(), 0);
}

TEST(file_system_dialog, names_from_the_ecu_are_converted_cut_and_proposed_safely) {
    scratch s;
    log_ecu ecu(link_kind::usb, "", [](ecusim::ecu_config& c) {
        c.log_files.push_back({"A/B.TXT", u"Gr\u00FC\u00DFe", 0x20, {1, 2, 3}});
        c.log_files.push_back({"LONG.TXT", std::u16string(300, u'x'), 0x20, {}});
    });
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    running_dialog d(*ecu.manager);
    d.list();
    std::setlocale(LC_CTYPE, previous.c_str());
    ASSERT_EQ(d.rows(), 2);
    EXPECT_EQ(d.cell(0, 1), "Gr\xC3\xBC\xC3\x9F" "e");
    EXPECT_EQ(d.cell(1, 1), std::string(255, 'x'));
    d.upload(0, std::nullopt);
    ASSERT_EQ(d.prompts("file").size(), 1u);
    EXPECT_EQ(d.prompts("file")[0].text, "A_B.TXT");
}

TEST(file_system_dialog, format_raw_filesystem_shows_nothing_whether_it_succeeds_or_fails) {
    {
        log_ecu ecu(link_kind::usb, "--raw-logging");
        running_dialog d(*ecu.manager);
        d.click(filetool::IDC_FORMAT_RAW);
        EXPECT_THAT(d.ui.prompts(), IsEmpty());
        EXPECT_EQ(ecu.state().raw_formats, 1u);
        EXPECT_EQ(d.dlg.last_format_result(), 0u);
    }
    log_ecu ecu(link_kind::usb, "--raw-logging --faults code=46:status=0x8001");
    running_dialog d(*ecu.manager);
    d.click(filetool::IDC_FORMAT_RAW);
    EXPECT_THAT(d.ui.prompts(), IsEmpty());
    EXPECT_EQ(ecu.commands_of(FORMAT_RAW), 1u);
    EXPECT_NE(d.dlg.last_format_result(), 0u);
}

TEST(file_system_names, short_names_come_from_the_name_and_extension_bytes) {
    auto name = [](const char (&record)[12]) { return short_name_from_record(reinterpret_cast<const std::uint8_t*>(record)); };
    EXPECT_EQ(name("README  TXT"), "README.TXT");
    EXPECT_EQ(name("README     "), "README.");
    EXPECT_EQ(name("ABCDEFGHIJK"), "ABCDEFGH.IJK");
    EXPECT_EQ(name("A B C  D E "), "A.E");  // the name ends at its first blank
}

TEST(file_system_names, proposed_names_never_leave_the_chosen_folder) {
    EXPECT_EQ(safe_file_name("../../etc/passwd"), "_.__._etc_passwd");
    EXPECT_EQ(safe_file_name("..\\..\\x"), "_.__._x");
    EXPECT_EQ(safe_file_name("a\x01" "b"), "a_b");
    EXPECT_EQ(safe_file_name(".."), "_.");
    EXPECT_EQ(safe_file_name(""), "_");
    EXPECT_EQ(safe_file_name("ECU RawFileIndex 0000.qxlog"), "ECU RawFileIndex 0000.qxlog");
}

// Pieces smaller than, equal to and larger than the 64 KiB the file gathers, across its flushes.
TEST(pc_file, gathered_pieces_arrive_whole_and_in_order_and_a_discard_keeps_nothing) {
    scratch s;
    const bytes data = pattern(3 * 65536 + 1000, 7);
    filetool::pc_file out(s.path("kept.bin"));
    std::size_t at = 0;
    for (std::size_t piece : {std::size_t(3584), std::size_t(65536), std::size_t(1), std::size_t(70000)})
        for (int i = 0; i < 2 && at < data.size(); ++i) {
            const std::size_t n = std::min(piece, data.size() - at);
            ASSERT_TRUE(out.write(std::span(data).subspan(at, n)));
            at += n;
        }
    ASSERT_TRUE(out.write(std::span(data).subspan(at)));
    ASSERT_TRUE(out.keep());
    EXPECT_EQ(read_bytes(s.path("kept.bin")), data);

    filetool::pc_file dropped(s.path("kept.bin"));
    ASSERT_TRUE(dropped.write(pattern(100)));
    dropped.discard();
    EXPECT_EQ(read_bytes(s.path("kept.bin")), data);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(s.path("")), {}), 1);
}

// Room asked for ahead of the writes never shows in the kept file: more than arrived (a size
// the ECU got wrong), less, or none at all.
TEST(pc_file, a_reserved_size_leaves_exactly_the_written_bytes) {
    scratch s;
    const bytes data = pattern(200000, 3);
    for (std::uint64_t reserve : {std::uint64_t(1) << 24, std::uint64_t(100), std::uint64_t(0)}) {
        filetool::pc_file out(s.path("kept.bin"));
        out.reserve(reserve);
        ASSERT_TRUE(out.write(data));
        ASSERT_TRUE(out.keep());
        EXPECT_EQ(read_bytes(s.path("kept.bin")), data) << reserve;
    }
    filetool::pc_file empty(s.path("empty.bin"));
    empty.reserve(4096);
    ASSERT_TRUE(empty.keep());
    EXPECT_EQ(std::filesystem::file_size(s.path("empty.bin")), 0u);
}

}  // namespace
}  // namespace qx::testing
