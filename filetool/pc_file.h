// A file the tools keep on the PC (a log download, a core dump, the disk diagnostics). The bytes
// go to a temporary file beside the target, created 0600, which replaces the target only once
// it is complete and on the disk; a failure removes only the temporary file, so the target
// stays as it was. A target that exists and is not a regular file (a symbolic link, a device
// node, a directory) is refused.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx::filetool {

// Empty when a download may write `path`: it does not exist or is a regular file. Otherwise
// the reason it may not.
std::string unusable_target(const std::string& path);

class pc_file {
public:
    explicit pc_file(std::string target);
    // Discards the temporary file unless kept: also when a signal unwinds the job.
    ~pc_file();
    pc_file(const pc_file&) = delete;
    pc_file& operator=(const pc_file&) = delete;

    bool is_open() const { return fd_ >= 0; }
    // Why it did not open: the target is unusable (target_refused()), or the temporary file
    // could not be created.
    const std::string& refusal() const { return refusal_; }
    bool target_refused() const { return target_refused_; }
    // Bytes are gathered into writes of up to 64 KiB (a log download comes in 3584-byte
    // reads); a write that failed shows in a later write() or in keep().
    bool write(std::span<const std::uint8_t> bytes);
    bool write(std::string_view text) {
        return write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    // Asks the file system for `size` bytes of room ahead of the writes (a log's size as the ECU
    // lists it): the writes then fill blocks already allocated. Only a hint: where it cannot be
    // had, or would take more than a quarter of the free space, nothing changes. keep() cuts the
    // file to the bytes written, so a size that was wrong leaves no trace.
    void reserve(std::uint64_t size);
    // Gives the file the mode and owner of the target it replaces (an existing 0600 file stays
    // 0600), flushes it to the disk, renames it onto the target and flushes the folder, so a
    // power cut leaves the old file or the new one under the target's name, never an empty one.
    // false (and nothing kept) when a byte could not be written or flushed, or the target can
    // no longer be replaced.
    bool keep();
    void discard();

private:
    static constexpr std::size_t gather_size = 64 * 1024;
    bool write_out(std::span<const std::uint8_t> bytes);
    bool flush();
    bool take_over_target();

    std::string target_, temp_, refusal_;
    std::vector<std::uint8_t> pending_;
    std::uint64_t written_ = 0;   // bytes handed to write(2)
    std::uint64_t reserved_ = 0;  // the file's length after reserve()
    int fd_ = -1;
    bool failed_ = false;
    bool target_refused_ = false;
};

}  // namespace qx::filetool
