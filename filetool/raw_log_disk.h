// The ECU's raw log disk: 512-byte logical blocks holding a disk header (LBA 0), then the files
// one after the other, each a file header followed by groups of a block header and its data
// blocks. Every value read from the disk is untrusted: counts and sizes are checked before
// they steer a read or a copy.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/structs.h"

namespace qx::raw_log {

inline constexpr std::uint32_t SIZE_OF_DISK_LOGICAL_BLOCK = 0x200;
inline constexpr std::uint16_t DISK_HEADER = 0xDEAD;
inline constexpr std::uint16_t FILE_HEADER = 0xBEEF;
inline constexpr std::uint16_t BLOCK_HEADER = 0xD065;
inline constexpr std::size_t kind_mark_at = 208;
// Data blocks one LOG_READ_RAW_LBA response holds (a GenericArray_DTS within 4088 bytes).
inline constexpr std::uint32_t max_group_blocks = 7;

enum class header_kind { disk = 0, file = 1, block = 2 };

struct header {
    protocol::RawFileFullHeader_TS fields{};  // 32-bit fields in host order
    std::uint16_t mark = 0;                   // kind mark, read high byte first
};

// A header from the first 512 bytes of `block` (shorter input reads as zero-filled). The
// 32-bit fields are converted from the ECU's byte order unless `host_order` (the simulator
// link, whose values are already in host order).
header parse_header(std::span<const std::uint8_t> block, bool host_order);

// Reads `count` blocks from `lba` into `out` (count * 512 bytes); false when the read failed.
using block_reader = std::function<bool(std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> out)>;

// What a walk shows: message boxes and the texts of the diagnostics statics (by control id).
class walk_view {
public:
    virtual ~walk_view() = default;
    virtual void message(const std::string& text, const std::string& caption) = 0;
    virtual void show(int control_id, const std::string& text) = 0;
};

struct file_entry {
    std::uint32_t lba = 0;  // of the file header
    header file;
};

// Names and size of listed file n: even n the log, odd n its configuration.
std::string short_name_of(std::size_t n);
std::string long_name_of(std::size_t n);

class disk_walk {
public:
    disk_walk(block_reader read, bool host_order, walk_view& view) : read_(std::move(read)), host_order_(host_order), view_(view) {}

    bool diagnostics = false;  // check marks, show values, write the text below
    // Takes the diagnostics text, line by line, when a file for it is open.
    std::function<void(std::string_view)> output;

    // The files of the disk, at most max_files. Stops at the disk header's file count, at an
    // open file (its length is not known yet, so nothing behind it can be found), at a file
    // header whose block count cannot be right, and at a failed read.
    std::vector<file_entry> walk(std::size_t max_files);
    // True when diagnostics are off or the mark matches `kind`.
    bool header_check(std::uint32_t lba, header_kind kind, const header& h);
    // The groups of one file: `count` blocks from `first`.
    void data_check(std::uint32_t first, std::uint32_t count);

    // Finds listed file `index` the way walk() counts files, without diagnostics.
    // false with `error` set when it is not there.
    bool find(std::size_t index, file_entry& found, std::string& error);

    // A block read failed: the walk ended, or a file's check stopped, before the disk's end.
    bool read_failed() const { return read_failed_; }

private:
    bool read_header(std::uint32_t lba, header& h);
    void line(const std::string& text);

    block_reader read_;
    bool host_order_;
    walk_view& view_;
    std::array<std::uint8_t, SIZE_OF_DISK_LOGICAL_BLOCK> block_{};
    bool read_failed_ = false;
};

// The 10 bytes that open a downloaded log: QXCFG_TAG, cfgfile_version and the low 16 bits
// of cfgfile_num_channels, in the ECU's byte order (host order over the simulator link).
std::array<std::uint8_t, 10> log_prefix(const header& file, bool host_order);

// Copies the data of the file whose header is at `start` and which counts `total` blocks:
// each group is a block header and its data blocks, of which the header's `size` bytes
// belong to the file. `write` takes the bytes (false: the PC file failed); `progress` gets
// (blocks done, total) after each group. Returns the empty string on success, else the
// message to show.
std::string copy_file(const block_reader& read, bool host_order, std::uint32_t start, std::uint32_t total,
                      const std::function<bool(std::span<const std::uint8_t>)>& write,
                      const std::function<void(std::uint64_t, std::uint64_t)>& progress);

}  // namespace qx::raw_log
