#include "filetool/pc_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

namespace qx::filetool {

std::string unusable_target(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};  // absent (or unreachable: the create says so)
    if (S_ISREG(st.st_mode)) return {};
    return path + " is not a regular file";
}

namespace {

std::string folder_of(const std::string& path) {
    const std::filesystem::path p(path);
    return p.has_parent_path() ? p.parent_path().string() : std::string(".");
}

}  // namespace

pc_file::pc_file(std::string target) : target_(std::move(target)) {
    refusal_ = unusable_target(target_);
    target_refused_ = !refusal_.empty();
    if (target_refused_) return;
    static std::atomic<unsigned> serial{0};
    const std::filesystem::path t(target_);
    const std::filesystem::path folder = folder_of(target_);
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temp_ = (folder / ("." + t.filename().string() + ".part-" + std::to_string(::getpid()) + "-" +
                           std::to_string(serial++)))
                    .string();
        // ECU memory and logs are for the one who fetched them: 0600 whatever the umask.
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        refusal_ = "cannot create a file beside " + target_ + ": " + std::strerror(errno);
        temp_.clear();
    } else {
        pending_.reserve(gather_size);
    }
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

// A target replaced keeps its mode (without set-id bits: the bytes came from the ECU) and,
// where this user may give it, its owner; a new file stays 0600.
bool pc_file::take_over_target() {
    struct stat st {};
    if (::lstat(target_.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISREG(st.st_mode)) return false;  // turned into something else meanwhile
    if (::fchmod(fd_, st.st_mode & 0777) != 0) return false;
    // Another user's file: root gives it back to that user; others keep at least its group where
    // they belong to it, else the file is theirs, with a mode no wider than the target's.
    if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(fd_, st.st_uid, st.st_gid) != 0) {
        const int group_kept = ::fchown(fd_, uid_t(-1), st.st_gid);
        static_cast<void>(group_kept);
    }
    return true;
}

bool pc_file::keep() {
    if (fd_ < 0) return false;
    flush();
    // Room reserved beyond what arrived must not stay on as zeros at the end of the file.
    if (!failed_ && reserved_ > written_ && ::ftruncate(fd_, off_t(written_)) != 0) failed_ = true;
    // The bytes reach the disk before the name does.
    if (!failed_ && (!take_over_target() || ::fsync(fd_) != 0)) failed_ = true;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    // Renaming replaces the name itself, never what a link points at.
    if (!closed || failed_ || std::rename(temp_.c_str(), target_.c_str()) != 0) {
        discard();
        return false;
    }
    temp_.clear();
    // The rename itself reaches the disk with its folder. Should this flush fail, the file is
    // whole under its name all the same; only a power cut now could bring the old one back.
    const int folder = ::open(folder_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
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
