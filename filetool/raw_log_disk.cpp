#include "filetool/raw_log_disk.h"

#include <algorithm>
#include <cstring>

#include "filetool/log_test_ids.h"
#include "filetool/printf_text.h"
#include "protocol/defines.h"
#include "protocol/layout.h"

namespace qx::raw_log {

using filetool::printf_text;

namespace {

constexpr const char* error_caption = "ERROR!";
constexpr std::uint64_t last_lba = 0xFFFFFFFFu;

void put32(std::uint8_t* at, std::uint32_t v, bool big_endian) {
    for (int i = 0; i < 4; ++i) at[i] = std::uint8_t(v >> (big_endian ? 24 - 8 * i : 8 * i));
}

bool host_is_big_endian() {
    const std::uint16_t probe = 1;
    std::uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 0;
}

}  // namespace

header parse_header(std::span<const std::uint8_t> block, bool host_order) {
    std::array<std::uint8_t, SIZE_OF_DISK_LOGICAL_BLOCK> bytes{};
    std::copy_n(block.begin(), std::min<std::size_t>(block.size(), bytes.size()), bytes.begin());
    header h;
    h.mark = std::uint16_t((bytes[kind_mark_at] << 8) | bytes[kind_mark_at + 1]);
    if (!host_order) protocol::convert_raw_file_full_header(bytes.data());
    static_assert(sizeof h.fields <= SIZE_OF_DISK_LOGICAL_BLOCK);
    std::memcpy(&h.fields, bytes.data(), sizeof h.fields);
    return h;
}

std::string short_name_of(std::size_t n) {
    return printf_text(n % 2 == 0 ? "ECU_%04x.log" : "ECU_%04x.cfg", unsigned(n / 2));
}

std::string long_name_of(std::size_t n) {
    return printf_text(n % 2 == 0 ? "ECU RawFileIndex %04x.qxlog" : "ECU RawFileIndex %04x.qxcfg", unsigned(n / 2));
}

bool disk_walk::read_header(std::uint32_t lba, header& h) {
    if (!read_(lba, 1, block_)) {
        read_failed_ = true;
        view_.message(printf_text("LogTestDlg::LogtestGetdirlisting_RawFile LOG_READ_RAW_LBA failed @ lba = %08x", lba),
                      error_caption);
        return false;
    }
    h = parse_header(block_, host_order_);
    return true;
}

void disk_walk::line(const std::string& text) {
    if (output) output(text);
}

std::vector<file_entry> disk_walk::walk(std::size_t max_files) {
    std::vector<file_entry> files;
    header disk;
    if (!read_header(0, disk)) return files;
    std::uint32_t remaining = disk.fields.RFDH.number_of_files;
    if (remaining == 0) view_.message("No files found on this disk", error_caption);
    header_check(0, header_kind::disk, disk);

    std::uint32_t b = 1;
    while (remaining > 0 && files.size() < max_files) {
        --remaining;
        header file;
        if (!read_header(b, file)) break;
        header_check(b, header_kind::file, file);
        const std::uint32_t blocks = file.fields.RFFH.number_of_logical_blocks;
        if (blocks == 1) {
            view_.message("LogTestDlg::LogtestGetdirlisting_RawFile FileHeader indicates an open file handle.",
                          error_caption);
            if (diagnostics) data_check(b + 1, 0);
            break;  // an open file is the last one written
        }
        if (blocks == 0 || std::uint64_t(b) + blocks > last_lba) {
            view_.message(printf_text("LogTestDlg::LogtestGetdirlisting_RawFile FileHeader @ lba=%08x "
                                      "number_of_logical_blocks=%08x is not valid.",
                                      b, blocks),
                          error_caption);
            break;
        }
        const std::size_t n = files.size();
        const std::uint32_t index = file.fields.RFFH.file_index;
        if (index != n + 1) {
            const char* format = index == n + 2
                                     ? "LogTestDlg::LogtestGetdirlisting_RawFile file_index=%08x file_count=%08x. "
                                       "Appears to be missing a .cfg file."
                                     : "LogTestDlg::LogtestGetdirlisting_RawFile file_index=%08x file_count=%08x. "
                                       "Unknown error.";
            view_.message(printf_text(format, index, unsigned(n)), error_caption);
        }
        files.push_back({b, file});
        if (diagnostics) data_check(b + 1, blocks - 1);
        b += blocks;
    }
    return files;
}

bool disk_walk::header_check(std::uint32_t lba, header_kind kind, const header& h) {
    if (!diagnostics) return true;
    view_.show(filetool::IDC_DIAG_LBA, printf_text("lba = %08x", lba));
    const auto& f = h.fields;
    switch (kind) {
    case header_kind::disk:
        if (h.mark != DISK_HEADER) {
            view_.message(printf_text("LogtestDiskDiagnostics Error in disk header @ lba = %08x", lba), error_caption);
            return false;
        }
        view_.show(filetool::IDC_DIAG_NUM_FILES, printf_text("num_files = %04x", f.RFDH.number_of_files));
        line(printf_text("DiskHeader @ lba=%08x lba_of_last_file_opened==%08x number_of_files==%08x "
                         "lba_of_disk_end==%08x \n",
                         lba, f.RFDH.lba_of_last_file_opened, f.RFDH.number_of_files, f.RFDH.lba_of_disk_end));
        break;
    case header_kind::file:
        if (h.mark != FILE_HEADER) {
            view_.message(printf_text("LogtestDiskDiagnostics Error in file header @ lba = %08x", lba), error_caption);
            return false;
        }
        view_.show(filetool::IDC_DIAG_FILE_INDEX, printf_text("file index = %04x", f.RFFH.file_index));
        view_.show(filetool::IDC_DIAG_FILE_BLOCKS, printf_text("file blocks = %04x", f.RFFH.number_of_logical_blocks));
        line(printf_text("-FileHeader @lba=%08x file_index=%08x number_of_logical_blocks=%08x cfgfile_version=%08x "
                         "cfgfile_num_channels=%08x logfile_version=%08x this_lba=%08x\n",
                         lba, f.RFFH.file_index, f.RFFH.number_of_logical_blocks, f.RFFH.cfgfile_version,
                         f.RFFH.cfgfile_num_channels, f.RFFH.logfile_version, f.RFFH.this_lba));
        break;
    case header_kind::block:
        if (h.mark != BLOCK_HEADER) {
            view_.message(printf_text("LogtestDiskDiagnostics Error in block header @ lba = %08x", lba), error_caption);
            return false;
        }
        line(printf_text("--BlockHeader @lba=%08x size=%08x number_of_logical_blocks=%08x \n", lba, f.RFBH.size,
                         f.RFBH.number_of_logical_blocks));
        break;
    }
    return true;
}

void disk_walk::data_check(std::uint32_t first, std::uint32_t count) {
    std::uint64_t i = 0, b = first;
    while (i < count) {
        header group;
        if (b > last_lba || !read_header(std::uint32_t(b), group)) break;
        const std::uint32_t blocks = group.fields.RFBH.number_of_logical_blocks;
        view_.show(filetool::IDC_DIAG_SECTORS, printf_text("sectors = %04x", blocks));
        view_.show(filetool::IDC_DIAG_SECTOR_COUNT, printf_text("sector_count = %04x", unsigned(i)));
        if (!header_check(std::uint32_t(b), header_kind::block, group)) break;
        b += std::uint64_t(blocks) + 1;
        i += std::uint64_t(blocks) + 1;
    }
    if (i != count)
        view_.message(printf_text("LogtestDiskDiagnostics Error in file header @ lba = %08x", first), error_caption);
}

bool disk_walk::find(std::size_t index, file_entry& found, std::string& error) {
    std::uint32_t b = 1;
    for (std::size_t n = 0;; ++n) {
        if (!read_(b, 1, block_)) {
            error = printf_text("LogTestDlg::OnBnClickedButtonLogtestReadandsave LOG_READ_RAW_LBA failed @ lba = %08x", b);
            return false;
        }
        const header file = parse_header(block_, host_order_);
        const std::uint32_t blocks = file.fields.RFFH.number_of_logical_blocks;
        if (blocks <= 1 || std::uint64_t(b) + blocks > last_lba) {
            error = printf_text("LogTestDlg::OnBnClickedButtonLogtestReadandsave File %zu is not on the disk", index);
            return false;
        }
        if (n == index) {
            found = {b, file};
            return true;
        }
        b += blocks;
    }
}

std::array<std::uint8_t, 10> log_prefix(const header& file, bool host_order) {
    const bool big = host_order ? host_is_big_endian() : true;
    std::array<std::uint8_t, 10> p{};
    put32(p.data(), protocol::QXCFG_TAG, big);
    put32(p.data() + 4, file.fields.RFFH.cfgfile_version, big);
    std::array<std::uint8_t, 4> channels{};
    put32(channels.data(), file.fields.RFFH.cfgfile_num_channels & 0xFFFFu, big);
    // The low 16 bits, in the same order.
    p[8] = big ? channels[2] : channels[0];
    p[9] = big ? channels[3] : channels[1];
    return p;
}

std::string copy_file(const block_reader& read, bool host_order, std::uint32_t start, std::uint32_t total,
                      const std::function<bool(std::span<const std::uint8_t>)>& write,
                      const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
    constexpr const char* where = "LogTestDlg::OnBnClickedButtonLogtestReadandsave";
    std::vector<std::uint8_t> data(max_group_blocks * SIZE_OF_DISK_LOGICAL_BLOCK);
    std::array<std::uint8_t, SIZE_OF_DISK_LOGICAL_BLOCK> block{};
    std::uint64_t done = 1;  // the file header
    std::uint64_t b = std::uint64_t(start) + 1;
    while (done < total) {
        if (b + max_group_blocks > last_lba) return printf_text("%s File runs past the end of the disk", where);
        if (!read(std::uint32_t(b), 1, block))
            return printf_text("%s LOG_READ_RAW_LBA failed @ lba = %08x", where, unsigned(b));
        const header group = parse_header(block, host_order);
        const std::uint32_t blocks = group.fields.RFBH.number_of_logical_blocks;
        const std::uint32_t size = group.fields.RFBH.size;
        // The next file's header or unwritten disk: the file ended before the blocks it lists.
        if (group.mark == FILE_HEADER || group.mark == 0)
            return printf_text("%s File @ lba=%08x: its groups end after %08x of its %08x blocks.", where, start,
                               unsigned(done), total);
        if (group.mark != BLOCK_HEADER)
            return printf_text("LogtestDiskDiagnostics Error in block header @ lba = %08x", unsigned(b));
        if (blocks > max_group_blocks || size > blocks * SIZE_OF_DISK_LOGICAL_BLOCK)
            return printf_text("%s BlockHeader @lba=%08x size=%08x number_of_logical_blocks=%08x is not valid.", where,
                               unsigned(b), size, blocks);
        done += 1 + blocks;
        if (done > total)
            return printf_text("%s File @ lba=%08x: its groups hold more than its %08x blocks.", where, start, total);
        const std::span<std::uint8_t> group_data(data.data(), std::size_t(blocks) * SIZE_OF_DISK_LOGICAL_BLOCK);
        if (blocks != 0 && !read(std::uint32_t(b + 1), blocks, group_data))
            return printf_text("%s LOG_READ_RAW_LBA failed @ lba = %08x", where, unsigned(b + 1));
        if (!write(group_data.first(size))) return printf_text("%s Write failed", where);
        progress(done, total);
        b += 1 + std::uint64_t(blocks);
    }
    return {};
}

}  // namespace qx::raw_log
