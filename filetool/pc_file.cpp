#include "filetool/pc_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace qx::filetool {

std::string unusable_target(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};  // absent (or unreachable: the create says so)
    if (S_ISREG(st.st_mode)) return {};
    return path + " is not a regular file";
}

pc_file::pc_file(std::string target) : target_(std::move(target)) {
    refusal_ = unusable_target(target_);
    if (!refusal_.empty()) return;
    static std::atomic<unsigned> serial{0};
    const std::filesystem::path t(target_);
    const std::filesystem::path folder = t.has_parent_path() ? t.parent_path() : std::filesystem::path(".");
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temp_ = (folder / ("." + t.filename().string() + ".part-" + std::to_string(::getpid()) + "-" +
                           std::to_string(serial++)))
                    .string();
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) temp_.clear();
    else pending_.reserve(gather_size);
}

pc_file::~pc_file() { discard(); }

bool pc_file::write_out(std::span<const std::uint8_t> bytes) {
    while (fd_ >= 0 && !failed_ && !bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
        } else {
            bytes = bytes.subspan(std::size_t(n));
            written_ += std::uint64_t(n);
        }
    }
    return fd_ >= 0 && !failed_;
}

bool pc_file::flush() {
    const bool ok = write_out(pending_);
    pending_.clear();
    return ok;
}

bool pc_file::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0 || failed_) return false;
    if (pending_.size() + bytes.size() > gather_size && !flush()) return false;
    if (bytes.size() >= gather_size) return write_out(bytes);
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    return true;
}

void pc_file::reserve(std::uint64_t size) {
    if (fd_ < 0 || failed_ || size <= reserved_ || size > std::uint64_t(std::numeric_limits<off_t>::max())) return;
    // A size listed wrongly must not take the disk's last free space from other programs for
    // the length of a download: only a quarter of what is free is ever asked for.
    struct statvfs fs {};
    if (::fstatvfs(fd_, &fs) != 0 || size > std::uint64_t(fs.f_bavail) * fs.f_frsize / 4) return;
    // fallocate(2) itself, not posix_fallocate: where the file system has no such call, glibc
    // would write zeros into every block instead.
    if (::fallocate(fd_, 0, 0, off_t(size)) == 0) reserved_ = size;
}

bool pc_file::keep() {
    if (fd_ < 0) return false;
    flush();
    // Room reserved beyond what arrived must not stay on as zeros at the end of the file.
    if (!failed_ && reserved_ > written_ && ::ftruncate(fd_, off_t(written_)) != 0) failed_ = true;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    // Renaming replaces the name itself, never what a link points at; a target that turned
    // into something else meanwhile is left alone all the same.
    if (!closed || failed_ || !unusable_target(target_).empty() || std::rename(temp_.c_str(), target_.c_str()) != 0) {
        discard();
        return false;
    }
    temp_.clear();
    return true;
}

void pc_file::discard() {
    pending_ = {};
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

}  // namespace qx::filetool
