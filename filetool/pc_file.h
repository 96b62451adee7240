// A PC file written by a log download. The bytes go to a temporary file beside the target,
// which replaces the target only once the download is complete; a failure removes only the
// temporary file, so the target stays as it was. A target that exists and is not a regular
// file (a symbolic link, a device node, a directory) is refused.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qx::filetool {

// Empty when a download may write `path`: it does not exist or is a regular file. Otherwise
// the reason it may not.
std::string unusable_target(const std::string& path);

class pc_file {
public:
    explicit pc_file(std::string target);
    ~pc_file();  // discards the temporary file unless kept
    pc_file(const pc_file&) = delete;
    pc_file& operator=(const pc_file&) = delete;

    bool is_open() const { return fd_ >= 0; }
    // Why it did not open: the target is unusable (non-empty), or the temporary file could not
    // be created (empty).
    const std::string& refusal() const { return refusal_; }
    // Bytes are gathered into writes of up to 64 KiB (a log download comes in 3584-byte
    // reads); a write that failed shows in a later write() or in keep().
    bool write(std::span<const std::uint8_t> bytes);
    // Asks the file system for `size` bytes of room ahead of the writes (a log's size as the ECU
    // lists it): the writes then fill blocks already allocated. Only a hint: where it cannot be
    // had, or would take more than a quarter of the free space, nothing changes. keep() cuts the file to the bytes written, so a size that was wrong
    // leaves no trace.
    void reserve(std::uint64_t size);
    // Closes the temporary file and renames it onto the target; false (and nothing kept) when
    // a byte could not be written or the target can no longer be replaced.
    bool keep();
    void discard();

private:
    static constexpr std::size_t gather_size = 64 * 1024;
    bool write_out(std::span<const std::uint8_t> bytes);
    bool flush();

    std::string target_, temp_, refusal_;
    std::vector<std::uint8_t> pending_;
    std::uint64_t written_ = 0;   // bytes handed to write(2)
    std::uint64_t reserved_ = 0;  // the file's length after reserve()
    int fd_ = -1;
    bool failed_ = false;
};

}  // namespace qx::filetool
