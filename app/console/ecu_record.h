// The record of a station: one JSON line per ECU that `update`, `program`, `powerseq` or `r8c`
// handled (`--record FILE`), and `flashdesk record show FILE [--serial S]`, which prints it as a
// table. Each line goes to the file in one write(2) on an O_APPEND descriptor and is then
// flushed with fsync, so a crash loses at most the line being written and several stations
// can append to one file.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

namespace qx {
class connection_manager;
}

namespace qx::console {

class job_output;

// One image the tool had in hand for the ECU.
struct record_image {
    std::string type;  // "Boot Loader", "Firmware", ..., "R8C"
    std::string package;
    std::string author, date;
    std::optional<std::uint32_t> version;  // none when the package gives none
    // Of the image bytes as read from the package (the encrypted image as sent); none when the
    // package could not be read whole.
    std::optional<std::uint32_t> size, crc32c;

    // Size and CRC-32C of `image`.
    void measure(std::span<const std::uint8_t> image);
};

struct ecu_record {
    using clock = std::chrono::system_clock;
    std::string command;  // update, program, powerseq, r8c
    clock::time_point start, end;
    std::string device;
    std::string serial_number;  // empty when the ECU was never identified
    std::string target_mode = "none";  // boot, app or none (never connected)
    std::optional<std::uint32_t> firmware_version;
    std::vector<record_image> images;
    std::string result;  // record_updated or record_failed
    std::string failure;

    // Start time now, and the device the console's link uses now.
    void begin(std::string command_name);
    // Target mode and firmware version as the manager found them (none when not connected).
    void found(const connection_manager& manager);
    // End time now and the result; the failure text is kept only for a failure.
    void finish(bool updated, std::string failure_text);
};

inline constexpr std::string_view record_updated = "updated";
inline constexpr std::string_view record_failed = "failed";

// The record's line, '\n' included.
std::string record_line(const ecu_record& r);

// A record line read back. Throws std::invalid_argument for a line that is not one.
ecu_record parse_record_line(std::string_view line);

// The record file of a run, opened at start (O_RDWR | O_APPEND | O_CREAT).
class record_file {
public:
    // Throws std::runtime_error naming the file and the reason.
    explicit record_file(const std::string& path);
    ~record_file();
    record_file(const record_file&) = delete;
    record_file& operator=(const record_file&) = delete;

    // Writes the line whole and flushes it to the disk. Throws std::runtime_error.
    void append(const ecu_record& r);

private:
    std::string path_;
    int fd_ = -1;
};

// Opens the record of `path` for a job command (none for an empty path); false, with the
// reason said through `job` (its verdict), when it cannot be opened.
bool open_job_record(const std::string& path, job_output& job, std::unique_ptr<record_file>& file);
// Appends `r` to `file` (if any); when it could not, the text that says why, else empty.
std::string append_record(record_file* file, const ecu_record& r);

// The table of the record lines in `in`, only those of `serial` when it is not empty. Lines cut
// short by a crash are skipped with a note on `err`. Returns the exit status: 1 (and a text on
// `err`) when `in` is not a record or no line has that serial number.
int show_record(std::istream& in, const std::string& name, const std::string& serial, std::ostream& out,
                std::ostream& err);

// `--record FILE` on a command.
void add_record_option(CLI::App* command, std::string& path);
// `flashdesk record show`.
void add_record_command(CLI::App& app);

}  // namespace qx::console
