#include "filetool/log_test_dlg.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <new>

#include "core/request_block.h"
#include "core/response_view.h"
#include "filetool/pc_file.h"
#include "filetool/printf_text.h"
#include "platform/text/charset.h"
#include "protocol/commands.h"
#include "protocol/defines.h"
#include "transfer/trelink.h"

namespace qx {

using namespace filetool;
using namespace protocol;

namespace {

constexpr const char* error_caption = "ERROR!";
constexpr std::uint16_t response_limit = 4096;      // what the tool offers for each response
constexpr std::uint16_t raw_response_size = 8 + 4080;  // GenericArray_DTS with 4080 data bytes
constexpr std::uint16_t read_chunk = 3584;           // 7 logical blocks per LOG_READ_FILE
constexpr unsigned max_read_failures = 10;
constexpr std::uint8_t attribute_directory = 0x10;
constexpr std::size_t long_name_limit = 255;

// The long name's bytes cut to `limit`, never inside a UTF-8 sequence.
std::string cut_text(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

std::uint32_t little32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

// The elements of a GenericArray_DTS response, bounded by the bytes received.
response_array generic_array(std::span<const std::uint8_t> received) {
    return view_array(received, offsetof(GenericArray_DTS, element_size), offsetof(GenericArray_DTS, data),
                      sizeof(GenericArray_DTS));
}

class dialog_view : public raw_log::walk_view {
public:
    explicit dialog_view(std::function<void(const std::string&, const std::string&)> message, ui::dialog_model& model)
        : message_(std::move(message)), model_(model) {}
    void message(const std::string& text, const std::string& caption) override { message_(text, caption); }
    void show(int control_id, const std::string& text) override { model_.set_text(control_id, text); }

private:
    std::function<void(const std::string&, const std::string&)> message_;
    ui::dialog_model& model_;
};

}  // namespace

ui::dialog_template log_test_template() {
    using ui::control_kind;
    return {IDD_LOGTEST,
            "LogTest",
            384,
            262,
            0,
            {
                {IDC_GETDIRLISTING, control_kind::button, "GetDirectoryListing", 7, 7, 90, 14},
                {IDC_FORMAT_RAW, control_kind::button, "Format Raw Filesystem", 102, 7, 90, 14},
                {IDC_DIAGNOSTICS, control_kind::checkbox, "Diagnostics", 200, 9, 60, 10},
                {IDC_FILE_LIST, control_kind::list, "", 7, 26, 370, 150},
                {IDC_PROGRESS, control_kind::progress, "", 7, 182, 300, 12},
                {IDC_PROGRESS_TEXT, control_kind::label, "", 312, 184, 65, 10},
                {IDC_DIAG_LBA, control_kind::label, "", 7, 200, 110, 10},
                {IDC_DIAG_NUM_FILES, control_kind::label, "", 7, 212, 110, 10},
                {IDC_DIAG_FILE_INDEX, control_kind::label, "", 122, 200, 110, 10},
                {IDC_DIAG_FILE_BLOCKS, control_kind::label, "", 122, 212, 110, 10},
                {IDC_DIAG_SECTORS, control_kind::label, "", 237, 200, 110, 10},
                {IDC_DIAG_SECTOR_COUNT, control_kind::label, "", 237, 212, 110, 10},
                {ui::IDOK, control_kind::default_button, "OK", 270, 240, 50, 14},
                {ui::IDCANCEL, control_kind::button, "Cancel", 327, 240, 50, 14},
            }};
}

std::string short_name_from_record(const std::uint8_t* record) {
    std::string name;
    for (std::size_t i = 0; i < 8 && record[i] != ' ' && record[i] != 0; ++i) name.push_back(char(record[i]));
    name.push_back('.');
    for (std::size_t i = 8; i < 11; ++i)
        if (record[i] != ' ' && record[i] != 0) name.push_back(char(record[i]));
    return name;
}

std::string safe_file_name(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out.push_back(c == '/' || c == '\\' || u < 0x20 || u == 0x7F ? '_' : c);
    }
    for (std::size_t at = out.find(".."); at != std::string::npos; at = out.find("..", at)) out[at] = '_';
    if (out.empty()) out = "_";
    return out;
}

LogTestDlg::LogTestDlg(connection_manager& connection)
    : ui::dialog(log_test_template()), connection_(connection) {}

LogTestDlg::~LogTestDlg() = default;

std::size_t LogTestDlg::entry_count() const {
    std::lock_guard lock(table_mutex_);
    return count_;
}

std::optional<LogTestDlg::entry> LogTestDlg::entry_at(std::size_t index) const {
    std::lock_guard lock(table_mutex_);
    if (index >= count_) return std::nullopt;
    return entries_[index];
}

int LogTestDlg::selected_index() const {
    std::lock_guard lock(table_mutex_);
    return selected_;
}

void LogTestDlg::select(int index) {
    post([this, index] {
        std::lock_guard lock(table_mutex_);
        selected_ = index >= 0 && std::size_t(index) < count_ ? index : -1;
    });
}

std::optional<std::uint32_t> LogTestDlg::last_format_result() const {
    std::lock_guard lock(table_mutex_);
    return format_result_;
}

void LogTestDlg::on_get_cell_info(int list_id, ui::cell_info& record) {
    if (list_id != IDC_FILE_LIST || record.item < 0) return;
    std::lock_guard lock(table_mutex_);
    if (std::size_t(record.item) >= count_) return;
    const entry& e = entries_[std::size_t(record.item)];
    switch (record.subitem) {
    case 0: record.text = e.short_name; break;
    case 1: record.text = e.long_name; break;
    case 2: record.text = printf_text("%u", e.size); break;
    default: break;
    }
}

void LogTestDlg::error(const std::string& text) { message_box(text, error_caption, ui::MB_OK); }

bool LogTestDlg::host_order() const { return (connection_.interface_flags & TRELINK_LINK_SIMULATOR) != 0; }

int LogTestDlg::kes_send(std::uint32_t code, void* request, std::uint16_t request_size, void* response,
                         std::uint16_t response_size, std::uint16_t& returned) {
    returned = 0;
    if (!connection_.is_connected()) return -1;
    return connection_.library_exchange(code, request, request_size, response, response_size, returned);
}

void LogTestDlg::on_init() {
    model().set_step(IDC_PROGRESS, 10);
    model().set_columns(IDC_FILE_LIST, {{"Filename (8.3)", 100}, {"Filename", 180}, {"File size", 80}});
    set_count(0);
    clear_tables();
    start_logging();
}

void LogTestDlg::on_end() {
    if (logging_started_) stop_logging();
}

void LogTestDlg::start_logging() {
    logging_started_ = true;  // stopped at the end whatever the start gave
    std::vector<std::uint8_t> response(response_limit, 0);
    try {
        const std::uint16_t got = connection_.exchange(LOG_BEGIN_LOGGING, nullptr, 0, response.data(), response_limit);
        const auto status = load<std::uint32_t>({response.data(), got}, 0);
        if (status != 0)
            error(printf_text("LogTestDlg::LoggingStart LOG_BEGIN_LOGGING KesSendCommand pGSSR_DTS->status=%08x", status));
    } catch (const qx::exception& e) {
        error(e.message);
    }
}

void LogTestDlg::stop_logging() {
    logging_started_ = false;
    std::vector<std::uint8_t> response(response_limit, 0);
    std::uint16_t returned = 0;
    if (kes_send(LOG_STOP_LOGGING, nullptr, 0, response.data(), response_limit, returned) != 0) {
        error("LogTestDlg::OnBnClickedButtonLogtestLoggingStop KesSendCommand LOG_STOP_LOGGING KesSendCommand Failed");
        return;
    }
    std::uint32_t status = 0;
    std::memcpy(&status, response.data(), sizeof status);
    if (status != 0)
        error(printf_text("LogTestDlg::OnBnClickedButtonLogtestLoggingStop LOG_STOP_LOGGING KesSendCommand "
                          "pGSSR_DTS->status=%08x",
                          status));
}

void LogTestDlg::on_command(int id) {
    switch (id) {
    case IDC_GETDIRLISTING: list_directory(); break;
    case ID_UPLOADTOHOST: upload(); break;
    case IDC_FORMAT_RAW: format_raw(); break;
    default: ui::dialog::on_command(id); break;
    }
}

std::uint32_t LogTestDlg::storage_mode() {
    try {
        return connection_.logging_mode();
    } catch (const qx::exception&) {
        return 3;
    }
}

void LogTestDlg::clear_tables() {
    std::lock_guard lock(table_mutex_);
    entries_.clear();
    records_.clear();
}

void LogTestDlg::set_count(std::size_t count) {
    {
        std::lock_guard lock(table_mutex_);
        count_ = count;
    }
    model().set_row_count(IDC_FILE_LIST, int(count));
    model().invalidate_rows(IDC_FILE_LIST);
}

// Shown after every read of a download: the text is what "%.3f %%" prints, made without printf.
void LogTestDlg::show_progress(double percent) {
    char text[48];
    auto made = std::to_chars(text, text + sizeof text - 2, percent, std::chars_format::fixed, 3);
    if (made.ec != std::errc{}) made.ptr = text;
    *made.ptr++ = ' ';
    *made.ptr++ = '%';
    model().set_text(IDC_PROGRESS_TEXT, std::string(text, made.ptr));
    model().set_position(IDC_PROGRESS, std::clamp(int(percent), 0, 100));
}

void LogTestDlg::list_directory() {
    if (storage_mode() == 0) list_file_system();
    else list_raw();
}

void LogTestDlg::list_file_system() {
    constexpr const char* where = "LogTestDlg::OnBnClickedButtonLogtestGetdirlisting";
    set_count(0);
    clear_tables();
    std::size_t count = 0;

    std::unique_ptr<request_block> request;
    std::vector<std::uint8_t> response;
    try {
        request = std::make_unique<request_block>("LogGetDirectoryEntryRequest_DTS");
    } catch (const std::bad_alloc&) {
        error(printf_text("%s Error: pLGDE_DTS allocation failed", where));
        return;
    }
    try {
        response.resize(4112);
    } catch (const std::bad_alloc&) {
        error(printf_text("%s Error: pGSR_DTS allocation failed", where));
        return;
    }
    const std::string path = directory_path_.substr(0, max_path);
    const auto* path_bytes = reinterpret_cast<const std::uint8_t*>(path.c_str());
    std::uint16_t request_size = 0;
    try {
        request->set_array(offsetof(LogGetDirectoryEntryRequest_DTS, data_element_size), 1,
                           {path_bytes, path.size() + 1});
        request_size = request->lay_out();
    } catch (const qx::exception&) {
        error(printf_text("%s Error: set_pointers_LogGetDirectoryEntry_DTS failed", where));
        return;
    }
    auto* q = request->as<LogGetDirectoryEntryRequest_DTS>();
    q->entry_index = 0;

    while (count < max_entries) {
        std::fill(response.begin(), response.end(), 0);
        std::uint16_t returned = 0;
        if (kes_send(LOG_GET_DIRECTORY_ENTRY, request->data(), request_size, response.data(), response_limit,
                     returned) != 0) {
            error(printf_text("%s LOG_GET_DIRECTORY_ENTRY KesSendCommand Failed", where));
            break;
        }
        const std::span<const std::uint8_t> received(response.data(), std::min<std::size_t>(returned, response_limit));
        response_array record;
        std::uint32_t core_index = 0;
        try {
            const auto status = load<std::uint32_t>(received, offsetof(LogGetDirectoryEntryResponse_DTS, status));
            if (status != 0) {
                error(printf_text("%s LOG_GET_DIRECTORY_ENTRY KesSendCommand pLGDER_DTS->status=%08x", where, status));
                break;
            }
            core_index = load<std::uint32_t>(received, offsetof(LogGetDirectoryEntryResponse_DTS, core_index));
            record = view_array(received, offsetof(LogGetDirectoryEntryResponse_DTS, data_element_size),
                                offsetof(LogGetDirectoryEntryResponse_DTS, data),
                                sizeof(LogGetDirectoryEntryResponse_DTS));
            if (!record.bytes.empty() && record.bytes.size() < record_size) malformed_response();
        } catch (const qx::exception&) {
            error(printf_text("%s Error: set_pointers_GenericStatusResponse_DTS failed", where));
            break;
        }
        const std::span<const std::uint8_t> r = record.bytes;
        if (r.empty() || r[0] == 0) break;  // the end of the directory

        entry e;
        e.short_name = short_name_from_record(r.data());
        const std::string long_name =
            text::utf16_to_locale(text::utf16le_of(r.data() + record_size, r.size() - record_size));
        std::string shown;
        if (r[11] & attribute_directory) shown = "Directory";
        shown += long_name;
        e.long_name = cut_text(std::move(shown), long_name_limit);
        e.size = little32(r.data() + 28);
        {
            std::lock_guard lock(table_mutex_);
            entries_.push_back(std::move(e));
            std::copy_n(r.begin(), record_size, records_.emplace_back().begin());
        }
        ++count;
        q->entry_index = core_index + 1;
    }
    set_count(count);
}

raw_log::block_reader LogTestDlg::direct_reader() {
    return [this](std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> out) {
        RawFileReadRequestLBA_TS request{lba, count};
        std::vector<std::uint8_t> response(raw_response_size, 0);
        std::uint16_t returned = 0;
        if (kes_send(LOG_READ_RAW_LBA, &request, sizeof request, response.data(), raw_response_size, returned) != 0)
            return false;
        try {
            const response_array blocks =
                generic_array({response.data(), std::min<std::size_t>(returned, response.size())});
            if (blocks.bytes.size() < out.size()) return false;
            std::copy_n(blocks.bytes.begin(), out.size(), out.begin());
            return true;
        } catch (const qx::exception&) {
            return false;
        }
    };
}

raw_log::block_reader LogTestDlg::manager_reader(std::string& failure) {
    return [this, &failure](std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> out) {
        RawFileReadRequestLBA_TS request{lba, count};
        std::vector<std::uint8_t> response(raw_response_size, 0);
        try {
            const std::uint16_t got =
                connection_.exchange(LOG_READ_RAW_LBA, &request, sizeof request, response.data(), raw_response_size);
            const response_array blocks = generic_array({response.data(), got});
            if (blocks.bytes.size() < out.size()) malformed_response();
            std::copy_n(blocks.bytes.begin(), out.size(), out.begin());
            return true;
        } catch (const qx::exception& e) {
            failure = e.message;
            return false;
        }
    };
}

void LogTestDlg::list_raw() {
    set_count(0);
    clear_tables();
    dialog_view view([this](const std::string& text, const std::string& caption) { message_box(text, caption); },
                     model());
    raw_log::disk_walk walk(direct_reader(), host_order(), view);
    // Written like a download: kept under its name only when the walk reached the disk's end.
    std::optional<pc_file> diagnostics_file;
    if (model().checked(IDC_DIAGNOSTICS)) {
        walk.diagnostics = true;
        message_box("Select a file to save the image", "Diagnostics");
        if (const auto path = ui().choose_file(*this, {"", "Files (*.*)|*.*||", "", true})) {
            diagnostics_file.emplace(*path);
            if (!diagnostics_file->is_open())
                open_failed("diagnostics_outfile.Open", *diagnostics_file);
            else
                walk.output = [&diagnostics_file](std::string_view line) { diagnostics_file->write(line); };
        }
    }
    const std::vector<raw_log::file_entry> files = walk.walk(max_entries);
    {
        std::lock_guard lock(table_mutex_);
        entries_.resize(files.size());
        records_.resize(files.size());
        for (std::size_t n = 0; n < files.size(); ++n) {
            entry& e = entries_[n];
            e.short_name = raw_log::short_name_of(n);
            e.long_name = raw_log::long_name_of(n);
            const std::uint64_t bytes =
                std::uint64_t(files[n].file.fields.RFFH.number_of_logical_blocks) * raw_log::SIZE_OF_DISK_LOGICAL_BLOCK;
            e.size = std::uint32_t(std::min<std::uint64_t>(bytes, 0xFFFFFFFFu));
        }
    }
    set_count(files.size());
    if (!walk.output) return;
    if (walk.read_failed()) {
        diagnostics_file->discard();
        error("diagnostics_outfile not saved: the walk ended at a failed read");
    } else if (!diagnostics_file->keep()) {
        error("diagnostics_outfile.Write failed");
    }
}

void LogTestDlg::on_context_menu(int list_id, int item) {
    if (list_id != IDC_FILE_LIST) return;
    {
        std::lock_guard lock(table_mutex_);
        selected_ = item >= 0 && std::size_t(item) < count_ ? item : -1;
        if (selected_ < 0) return;
    }
    if (ui().popup_menu(*this, {{"UploadToHost"}}) == 0) upload();
}

void LogTestDlg::upload() {
    const int index = selected_index();
    if (index < 0 || std::size_t(index) >= entry_count()) return;
    if (storage_mode() == 0) download_file_system(index);
    else download_raw(index);
}

void LogTestDlg::open_failed(const std::string& text, const filetool::pc_file& out) {
    error(out.target_refused() ? text + ": " + out.refusal() : text);
}

void LogTestDlg::download_file_system(int index) {
    constexpr const char* where = "LogTestDlg::OnBnClickedButtonLogtestReadandsave";
    entry e;
    std::array<std::uint8_t, record_size> record{};
    {
        std::lock_guard lock(table_mutex_);
        e = entries_[std::size_t(index)];
        record = records_[std::size_t(index)];
    }
    const auto path = ui().choose_file(*this, {"", "Cfg Files (*.*)|*.*||", safe_file_name(e.short_name), true});
    if (!path) return;
    pc_file out(*path);
    if (!out.is_open()) {
        open_failed("LogTestDlg::OnBnClickedButtonLogtestReadandsave Open failed", out);
        return;
    }
    if (record[11] & attribute_directory) {
        out.discard();
        error("LogTestDlg::OnBnClickedButtonLogtestOpenfile Cannot open a directory entry");
        return;
    }

    LogOpenFileResponse_TS opened{};
    try {
        request_block request("LogOpenFileRequest_DTS");
        request.as<LogOpenFileRequest_DTS>()->mode = 1;
        std::array<std::uint8_t, 20> name{};
        std::copy_n(e.short_name.begin(), std::min<std::size_t>(e.short_name.size(), name.size() - 1), name.begin());
        request.set_array(offsetof(LogOpenFileRequest_DTS, data_element_size), 1, name);
        request.lay_out();
        connection_.open_log_file(request.as<LogOpenFileRequest_DTS>(), &opened);
    } catch (const qx::exception& ex) {
        out.discard();
        error("LogTestDlg::OnBnClickedButtonLogtestOpenfile LOG_OPEN_FILE " + ex.message);
        return;
    }
    if (std::int32_t(opened.status) < 0) {
        out.discard();
        error(printf_text("LogTestDlg::OnBnClickedButtonLogtestOpenfile LOG_OPEN_FILE KesSendCommand LOFR_TS.status=%08x",
                          opened.status));
        return;
    }
    {
        std::lock_guard lock(table_mutex_);
        entries_[std::size_t(index)].handle = std::int32_t(opened.handle);
        entries_[std::size_t(index)].open = 1;
    }
    out.reserve(e.size);
    model().set_range(IDC_PROGRESS, 0, 100);
    model().set_position(IDC_PROGRESS, 0);
    model().set_text(IDC_PROGRESS_TEXT, "0");

    LogReadFileRequest_TS read{};
    read.handle = opened.handle;
    read.read_count = read_chunk;
    std::vector<std::uint8_t> response(response_limit);
    std::uint64_t written = 0;
    unsigned failures = 0;
    std::string failure;
    for (;;) {
        response_array data;  // every read below is bounded by what arrived
        try {
            const std::uint16_t got = connection_.exchange(LOG_READ_FILE, &read, sizeof read, response.data(), response_limit);
            const std::span<const std::uint8_t> received(response.data(), got);
            const auto status = load<std::uint32_t>(received, offsetof(LogReadFileResponse_DTS, status));
            if (status != 0) {
                error(printf_text("%s KesSendCommand failed pLRFR_DTS->status=%08x", where, status));
                if (++failures == max_read_failures) {
                    failure = printf_text("%s Download stopped after %u failed reads", where, max_read_failures);
                    break;
                }
                continue;
            }
            data = view_array(received, offsetof(LogReadFileResponse_DTS, data_element_size),
                              offsetof(LogReadFileResponse_DTS, data), sizeof(LogReadFileResponse_DTS));
        } catch (const qx::exception& ex) {
            failure = printf_text("%s LOG_READ_FILE ", where) + ex.message;
            break;
        }
        // The listed size is the file's: an ECU that ends early or sends a read twice gave a
        // file that is not the one listed.
        if (data.bytes.empty()) {
            if (written != e.size)
                failure = printf_text("%s File ended after %llu of its %u bytes", where,
                                      static_cast<unsigned long long>(written), e.size);
            break;
        }
        if (data.bytes.size() > e.size - written) {
            failure = printf_text("%s File sent more than its %u bytes", where, e.size);
            break;
        }
        if (!out.write(data.bytes)) {
            failure = printf_text("%s Write failed", where);
            break;
        }
        written += data.bytes.size();
        show_progress(e.size ? double(written) / double(e.size) * 100.0 : 100.0);
    }

    LogCloseFileRequest_TS close{};
    close.handle = opened.handle;
    std::array<std::uint8_t, 4> closed{};
    if (!failure.empty()) {
        out.discard();
        error(failure);
        try {
            connection_.send_command(LOG_CLOSE_FILE, &close, sizeof close, closed.data(), sizeof closed);
        } catch (const qx::exception&) {
            // Reported above: the link that failed the read fails the close too.
        }
        return;
    }
    show_progress(100.0);
    if (!out.keep()) {
        out.discard();
        error(printf_text("%s Write failed", where));
    } else {
        message_box("File Saved Successfully !!!", "SUCCESS!");
    }
    try {
        connection_.send_command(LOG_CLOSE_FILE, &close, sizeof close, closed.data(), sizeof closed);
    } catch (const qx::exception& ex) {
        error("LogTestDlg::OnBnClickedButtonLogtestReadandsave LOG_CLOSE_FILE " + ex.message);
    }
}

void LogTestDlg::download_raw(int index) {
    constexpr const char* where = "LogTestDlg::OnBnClickedButtonLogtestReadandsave";
    const std::optional<entry> e = entry_at(std::size_t(index));
    if (!e) return;
    const auto path = ui().choose_file(*this, {"", "Cfg Files (*.*)|*.*||", safe_file_name(e->long_name), true});
    if (!path) return;
    pc_file out(*path);
    if (!out.is_open()) {
        open_failed("LogTestDlg::OnBnClickedButtonLogtestReadandsave Open failed", out);
        return;
    }
    std::string failure;
    const raw_log::block_reader read = manager_reader(failure);
    const bool host = host_order();
    dialog_view view([this](const std::string& text, const std::string& caption) { message_box(text, caption); },
                     model());
    raw_log::disk_walk finder(read, host, view);
    raw_log::file_entry found;
    std::string problem;
    if (!finder.find(std::size_t(index), found, problem)) {
        out.discard();
        error(failure.empty() ? problem : problem + ": " + failure);
        return;
    }
    if (index % 2 == 0 && !out.write(raw_log::log_prefix(found.file, host))) {
        out.discard();
        error(printf_text("%s Write failed", where));
        return;
    }
    model().set_range(IDC_PROGRESS, 0, 100);
    model().set_position(IDC_PROGRESS, 0);
    model().set_text(IDC_PROGRESS_TEXT, "0");
    problem = raw_log::copy_file(
        read, host, found.lba, found.file.fields.RFFH.number_of_logical_blocks,
        [&](std::span<const std::uint8_t> bytes) { return out.write(bytes); },
        [&](std::uint64_t done, std::uint64_t total) { show_progress(double(done) / double(total) * 100.0); });
    if (!problem.empty()) {
        out.discard();
        error(failure.empty() ? problem : problem + ": " + failure);
        return;
    }
    show_progress(100.0);
    if (!out.keep()) {
        out.discard();
        error(printf_text("%s Write failed", where));
        return;
    }
    message_box("File Saved Successfully !!!", "SUCCESS!");
}

void LogTestDlg::format_raw() {
    std::vector<std::uint8_t> response(response_limit, 0);
    std::uint16_t returned = 0;
    const int result = kes_send(LOG_FORMAT_RAW, nullptr, 0, response.data(), response_limit, returned);
    std::uint32_t status = std::uint32_t(result);
    if (result == 0) std::memcpy(&status, response.data(), sizeof status);
    std::lock_guard lock(table_mutex_);
    format_result_ = status;
}

}  // namespace qx
