// The "USB file tool": lists the log files the ECU recorded, on a USB storage device behind
// the ECU (file-system mode) or on its raw log disk (raw mode), copies one to the PC, starts
// and stops logging around its own run and formats the raw disk.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/connection_manager.h"
#include "filetool/log_test_ids.h"
#include "filetool/pc_file.h"
#include "filetool/raw_log_disk.h"
#include "platform/ui/dialog.h"

namespace qx {

// The dialog template: resource 130, caption "LogTest".
ui::dialog_template log_test_template();

// An 8.3 name from the 11 name bytes of a FAT directory entry: the name up to its first
// blank, ".", then the extension's non-blank bytes ("README  TXT" gives README.TXT).
std::string short_name_from_record(const std::uint8_t* record);
// A name safe to propose for saving: no path separator, no "..", no control characters.
std::string safe_file_name(const std::string& name);

class LogTestDlg : public ui::dialog {
public:
    static constexpr std::size_t max_entries = 16384;
    static constexpr std::size_t record_size = 32;
    static constexpr std::size_t max_path = 80;

    struct entry {
        std::uint8_t open = 0;    // opened on the ECU (file-system mode)
        std::int32_t handle = -1;  // ECU file handle
        std::string short_name;   // at most 19 characters
        std::string long_name;    // at most 255 characters
        std::uint32_t size = 0;   // bytes
    };

    explicit LogTestDlg(connection_manager& connection);
    ~LogTestDlg() override;

    // Thread-safe views for renderers, the console and tests.
    std::size_t entry_count() const;
    std::optional<entry> entry_at(std::size_t index) const;
    int selected_index() const;
    // Queues the choice of entry `index` as the context menu makes it (console front-end).
    void select(int index);
    // Status of the last LOG_FORMAT_RAW: the library's result, or the ECU's status.
    std::optional<std::uint32_t> last_format_result() const;

    void on_get_cell_info(int list_id, ui::cell_info& record) override;
    // Closing while the tool works with the ECU asks first.
    std::string stop_question() const override { return "Work with the ECU is under way. Stop it now?"; }

protected:
    void on_init() override;
    void on_command(int id) override;
    void on_context_menu(int list_id, int item) override;
    void on_end() override;
    // A wait for the ECU's answer ends at once, as if it had been unplugged.
    void on_stop() override { connection_.break_link(); }

private:
    void start_logging();
    void stop_logging();
    std::uint32_t storage_mode();
    void list_directory();
    void list_file_system();
    void list_raw();
    void upload();
    void download_file_system(int index);
    void download_raw(int index);
    // `text`, with the reason when the target itself was refused.
    void open_failed(const std::string& text, const filetool::pc_file& out);
    void format_raw();
    void clear_tables();
    void set_count(std::size_t count);
    void show_progress(double percent);
    void error(const std::string& text);
    bool host_order() const;
    // One direct library call, serialised with the connection manager's exchanges.
    int kes_send(std::uint32_t code, void* request, std::uint16_t request_size, void* response,
                 std::uint16_t response_size, std::uint16_t& returned);
    raw_log::block_reader direct_reader();
    raw_log::block_reader manager_reader(std::string& failure);

    connection_manager& connection_;
    mutable std::mutex table_mutex_;  // entries_ and count_: the list asks from its own thread
    // The listed entries (at most max_entries), and each one's directory record; they grow as
    // a listing finds entries, so a dialog that lists a few never touches room for 16,384.
    std::vector<entry> entries_;
    std::vector<std::array<std::uint8_t, record_size>> records_;
    std::size_t count_ = 0;
    int selected_ = -1;
    std::string directory_path_;  // no control edits it: the root directory
    bool logging_started_ = false;
    std::optional<std::uint32_t> format_result_;
};

}  // namespace qx
