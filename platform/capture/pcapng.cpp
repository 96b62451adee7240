#include "platform/capture/pcapng.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace qx::platform::pcapng {

namespace {

constexpr std::uint32_t section_header_type = 0x0A0D0D0A;
constexpr std::uint32_t interface_type = 1;
constexpr std::uint32_t simple_packet_type = 3;
constexpr std::uint32_t enhanced_packet_type = 6;
constexpr std::uint32_t reserved_space_type = 0x80000001;  // for local use: readers skip it
constexpr std::uint32_t byte_order_magic = 0x1A2B3C4D;
constexpr std::uint32_t swapped_magic = 0x4D3C2B1A;

constexpr std::uint16_t opt_end = 0;
constexpr std::uint16_t opt_comment = 1;
constexpr std::uint16_t shb_userappl = 4;
constexpr std::uint16_t if_name = 2;
constexpr std::uint16_t if_description = 3;
constexpr std::uint16_t if_tsresol = 9;
constexpr std::uint16_t if_tsoffset = 14;
constexpr std::uint16_t epb_flags = 2;

constexpr std::size_t padded(std::size_t n) { return (n + 3) & ~std::size_t(3); }

// Little helpers that build a block in this host's byte order.
struct block_builder {
    std::vector<std::uint8_t> bytes;

    void u16(std::uint16_t v) { append(&v, 2); }
    void u32(std::uint32_t v) { append(&v, 4); }
    void u64(std::uint64_t v) { append(&v, 8); }
    void append(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    void pad() { bytes.resize(padded(bytes.size()), 0); }
    void option(std::uint16_t code, std::string_view value) {
        if (value.empty()) return;
        // An option's length is 16 bits; a longer text is cut to what fits.
        const std::size_t n = std::min<std::size_t>(value.size(), 0xFFF0);
        u16(code);
        u16(std::uint16_t(n));
        append(value.data(), n);
        pad();
    }
    // Type, a length to be filled in, ..., end: the length at both ends.
    void begin(std::uint32_t type) {
        u32(type);
        u32(0);
    }
    void end() {
        u16(opt_end);
        u16(0);
        const auto total = std::uint32_t(bytes.size() + 4);
        std::memcpy(bytes.data() + 4, &total, 4);
        u32(total);
    }
};

}  // namespace

std::unique_ptr<writer> writer::create(const std::string& path, std::string_view application, int& error) {
    // O_EXCL makes the file ours: an existing file, or a link planted at the name, is refused.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    ::fchmod(fd, 0600);  // whatever the umask left
    std::unique_ptr<writer> w(new writer(fd));
    block_builder b;
    b.begin(section_header_type);
    b.u32(byte_order_magic);
    b.u16(1);
    b.u16(0);
    b.u64(~std::uint64_t(0));  // section length not given
    b.option(shb_userappl, application);
    b.end();
    if (!w->write_all(b.bytes, nullptr, 0, {})) {
        error = w->error_;
        return nullptr;
    }
    return w;
}

writer::~writer() {
    settle();
    ::close(fd_);
}

void writer::settle() {
    if (!map_) return;
    ::munmap(map_, reserved_);
    map_ = nullptr;
    reserved_ = populated_ = 0;
    if (::ftruncate(fd_, off_t(used_)) != 0 && !error_) error_ = errno;
}

// Reserves and maps at least `more` bytes beyond those in use: as much again as is mapped, at
// least 1 MiB, at most 64 MiB more at a time; the file grows by as much.
bool writer::reserve(std::size_t more) {
    constexpr std::size_t least = 1 << 20, most = 64 << 20;
    if (!map_) base_ = used_ / std::size_t(::sysconf(_SC_PAGESIZE)) * std::size_t(::sysconf(_SC_PAGESIZE));
    const std::size_t step = std::max(std::min(std::max(reserved_, least), most), used_ - base_ + more - reserved_);
    const int reserved = ::fallocate(fd_, 0, off_t(base_ + reserved_), off_t(step));
    if (reserved != 0 && errno == ENOSPC) {
        error_ = ENOSPC;
        return false;
    }
    void* grown = MAP_FAILED;
    if (reserved == 0)
        grown = map_ ? ::mremap(map_, reserved_, reserved_ + step, MREMAP_MAYMOVE)
                     : ::mmap(nullptr, step, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, off_t(base_));
    if (grown == MAP_FAILED) {
        // No reserving here (or no mapping): each block goes out with write(2) from now on.
        if (map_) ::munmap(map_, reserved_);
        map_ = nullptr;
        reserved_ = populated_ = 0;
        mapped_ = false;
        if (::ftruncate(fd_, off_t(used_)) != 0 || ::lseek(fd_, off_t(used_), SEEK_SET) < 0) {
            error_ = errno;
            return false;
        }
        return true;
    }
    map_ = static_cast<std::uint8_t*>(grown);
    reserved_ += step;
    mark_reserved();
    return true;
}

// The space behind the blocks reads as one block of a type for local use, which readers skip:
// the file is whole at every moment it is open.
void writer::mark_reserved() {
    const std::size_t end = base_ + reserved_;
    const auto length = std::uint32_t(end - used_);
    const std::uint32_t head[2] = {reserved_space_type, length};
    std::memcpy(map_ + (used_ - base_), head, sizeof head);
    std::memcpy(map_ + (end - base_) - 4, &length, 4);
}

// The pages for the next `size` bytes, 64 KiB at a time, rather than one fault per page while
// the link waits (older kernels lack MADV_POPULATE_WRITE: the faults then come one by one).
void writer::populate(std::size_t size) {
    constexpr std::size_t chunk = 64 << 10;
    const std::size_t want = std::min(reserved_, (used_ - base_ + size + chunk - 1) / chunk * chunk);
    if (want <= populated_) return;
    ::madvise(map_ + populated_, want - populated_, MADV_POPULATE_WRITE);
    populated_ = want;
}

bool writer::write_all(std::span<const std::uint8_t> head, const void* bytes, std::size_t size,
                       std::span<const std::uint8_t> tail) {
    if (error_) return false;
    const std::size_t total = head.size() + size + tail.size();
    // Room for the block and the reserved space's block behind it.
    if (mapped_ && (!map_ || used_ + total + 12 > base_ + reserved_) && !reserve(total + 12)) return false;
    if (!mapped_) return write_out(head, bytes, size, tail);
    populate(total + 8);
    // In order, the trailing length last: a block a crash cut short never reads as whole.
    std::uint8_t* at = map_ + (used_ - base_);
    std::memcpy(at, head.data(), head.size());
    if (size) std::memcpy(at + head.size(), bytes, size);
    if (!tail.empty()) std::memcpy(at + head.size() + size, tail.data(), tail.size());
    used_ += total;
    mark_reserved();
    return true;
}

bool writer::write_out(std::span<const std::uint8_t> head, const void* bytes, std::size_t size,
                       std::span<const std::uint8_t> tail) {
    iovec parts[3] = {{const_cast<std::uint8_t*>(head.data()), head.size()},
                      {const_cast<void*>(bytes), size},
                      {const_cast<std::uint8_t*>(tail.data()), tail.size()}};
    iovec* at = parts;
    int left = 3;
    while (left > 0) {
        const ssize_t n = ::writev(fd_, at, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return false;
        }
        // A regular file takes it all at once; a short write goes on where it stopped.
        auto done = std::size_t(n);
        while (left > 0 && done >= at->iov_len) {
            done -= at->iov_len;
            ++at;
            --left;
        }
        if (left > 0) {
            at->iov_base = static_cast<std::uint8_t*>(at->iov_base) + done;
            at->iov_len -= done;
        }
    }
    return true;
}

bool writer::add_interface(const interface_description& d, std::uint32_t& number) {
    block_builder b;
    b.begin(interface_type);
    b.u16(d.linktype);
    b.u16(0);
    b.u32(0);  // no snap length
    b.option(opt_comment, d.comment);
    b.option(if_name, d.name);
    b.option(if_description, d.description);
    b.u16(if_tsresol);
    b.u16(1);
    b.u32(9);  // nanoseconds, padded to 4 bytes
    b.end();
    if (!write_all(b.bytes, nullptr, 0, {})) return false;
    number = interfaces_++;
    return true;
}

bool writer::add_packet(std::uint32_t interface, std::uint64_t time_ns, direction d, const void* bytes,
                        std::size_t size) {
    if (size > 0xFFFFFF) size = 0xFFFFFF;  // never reached by a link's transfer
    const std::size_t pad = padded(size) - size;
    const auto total = std::uint32_t(28 + size + pad + 8 + 4 + 4);
    std::uint32_t head[7] = {enhanced_packet_type,     total, interface, std::uint32_t(time_ns >> 32),
                             std::uint32_t(time_ns), std::uint32_t(size), std::uint32_t(size)};
    std::uint8_t tail[3 + 16] = {};
    const std::uint32_t flags = d == direction::inbound ? 1u : d == direction::outbound ? 2u : 0u;
    std::uint8_t* t = tail + pad;
    const std::uint16_t flag_option[2] = {epb_flags, 4};
    std::memcpy(t, flag_option, 4);
    std::memcpy(t + 4, &flags, 4);
    // t + 8: the end of options, zero
    std::memcpy(t + 12, &total, 4);
    return write_all({reinterpret_cast<const std::uint8_t*>(head), sizeof head}, bytes, size,
                     {tail, pad + 16});
}

namespace {

class reader {
public:
    explicit reader(std::span<const std::uint8_t> bytes) : all_(bytes) {}

    capture run() {
        capture c;
        std::size_t at = 0;
        std::size_t section_first_interface = 0;
        bool in_section = false;
        while (at < all_.size()) {
            if (all_.size() - at < 12) {
                c.damage = cut(at);
                break;
            }
            std::uint32_t type = raw32(at);
            // A section header tells the byte order of everything up to the next one.
            if (type == section_header_type) {
                const std::uint32_t magic = raw32(at + 8);
                if (magic != byte_order_magic && magic != swapped_magic) {
                    if (!in_section) throw std::runtime_error("not a pcapng capture (no byte-order magic)");
                    c.damage = "damaged section header at byte " + std::to_string(at);
                    break;
                }
                swapped_ = magic == swapped_magic;
            } else if (!in_section) {
                throw std::runtime_error("not a pcapng capture (it does not start with a section header block)");
            }
            const std::uint32_t length = u32(at + 4);
            if (length < 12 || length % 4 != 0) {
                c.damage = "damaged block at byte " + std::to_string(at) + " (length " + std::to_string(length) + ")";
                break;
            }
            if (length > all_.size() - at) {
                c.damage = cut(at);
                break;
            }
            if (u32(at + length - 4) != length) {
                c.damage = "damaged block at byte " + std::to_string(at) + " (its two lengths differ)";
                break;
            }
            const std::span<const std::uint8_t> body = all_.subspan(at + 8, length - 12);
            std::string trouble;
            if (type == section_header_type) {
                if (body.size() < 16) trouble = "section header too short";
                in_section = true;
                section_first_interface = c.interfaces.size();
            } else if (type == interface_type) {
                trouble = read_interface(body, c);
            } else if (type == enhanced_packet_type || type == simple_packet_type) {
                trouble = read_packet(type, body, c, section_first_interface);
            }
            if (!trouble.empty()) {
                c.damage = "damaged block at byte " + std::to_string(at) + " (" + trouble + ")";
                break;
            }
            at += length;
        }
        return c;
    }

private:
    std::string cut(std::size_t at) const {
        return "cut short: the block at byte " + std::to_string(at) + " ends beyond the file's " +
               std::to_string(all_.size()) + " bytes";
    }
    std::uint32_t raw32(std::size_t at) const {
        std::uint32_t v;
        std::memcpy(&v, all_.data() + at, 4);
        return v;
    }
    std::uint32_t u32(std::size_t at) const { return get32(all_.subspan(at, 4)); }
    std::uint16_t get16(std::span<const std::uint8_t> b) const {
        std::uint16_t v;
        std::memcpy(&v, b.data(), 2);
        return swapped_ ? std::uint16_t(v >> 8 | v << 8) : v;
    }
    std::uint32_t get32(std::span<const std::uint8_t> b) const {
        std::uint32_t v;
        std::memcpy(&v, b.data(), 4);
        return swapped_ ? __builtin_bswap32(v) : v;
    }
    std::uint64_t get64(std::span<const std::uint8_t> b) const {
        std::uint64_t v;
        std::memcpy(&v, b.data(), 8);
        return swapped_ ? __builtin_bswap64(v) : v;
    }

    // Calls f(code, value) for each option; stops at the end option or at an option that
    // does not fit.
    template <class F>
    void options(std::span<const std::uint8_t> b, F f) const {
        std::size_t at = 0;
        while (b.size() - at >= 4) {
            const std::uint16_t code = get16(b.subspan(at, 2));
            const std::uint16_t n = get16(b.subspan(at + 2, 2));
            if (code == opt_end || n > b.size() - at - 4) return;
            f(code, b.subspan(at + 4, n));
            at += 4 + padded(n);
            if (at > b.size()) return;
        }
    }

    std::string read_interface(std::span<const std::uint8_t> body, capture& c) {
        if (body.size() < 8) return "interface description too short";
        interface_description d;
        d.linktype = get16(body.first(2));
        std::uint64_t offset_seconds = 0;
        options(body.subspan(8), [&](std::uint16_t code, std::span<const std::uint8_t> v) {
            const std::string text(v.begin(), v.end());
            if (code == if_name) d.name = text;
            else if (code == if_description) d.description = text;
            else if (code == opt_comment) d.comment = text;
            else if (code == if_tsresol && v.size() == 1) {
                const unsigned power = v[0] & 0x7F;
                std::uint64_t units = 1;
                const unsigned limit = (v[0] & 0x80) ? 63 : 19;
                for (unsigned i = 0; i < power && i < limit; ++i) units *= (v[0] & 0x80) ? 2 : 10;
                d.units_per_second = units;
            } else if (code == if_tsoffset && v.size() == 8) {
                offset_seconds = get64(v);
            }
        });
        offsets_.resize(c.interfaces.size() + 1);
        offsets_.back() = offset_seconds;
        c.interfaces.push_back(std::move(d));
        return {};
    }

    std::string read_packet(std::uint32_t type, std::span<const std::uint8_t> body, capture& c,
                            std::size_t first_interface) {
        packet p;
        std::size_t data_at = 0, captured = 0;
        std::uint64_t stamp = 0;
        if (type == simple_packet_type) {
            if (body.size() < 4) return "packet block too short";
            p.original_length = get32(body.first(4));
            data_at = 4;
            captured = std::min<std::size_t>(p.original_length, body.size() - 4);
            p.interface = 0;
        } else {
            if (body.size() < 20) return "packet block too short";
            p.interface = get32(body.first(4));
            stamp = std::uint64_t(get32(body.subspan(4, 4))) << 32 | get32(body.subspan(8, 4));
            captured = get32(body.subspan(12, 4));
            p.original_length = get32(body.subspan(16, 4));
            data_at = 20;
            if (captured > body.size() - 20) return "packet longer than its block";
        }
        const std::size_t index = first_interface + p.interface;
        if (index >= c.interfaces.size())
            return "packet of interface " + std::to_string(p.interface) + ", which the section has not described";
        p.interface = std::uint32_t(index);
        p.data.assign(body.begin() + std::ptrdiff_t(data_at), body.begin() + std::ptrdiff_t(data_at + captured));
        if (type == enhanced_packet_type) {
            options(body.subspan(std::min(data_at + padded(captured), body.size())), [&](std::uint16_t code, std::span<const std::uint8_t> v) {
                        if (code != epb_flags || v.size() != 4) return;
                        const std::uint32_t flags = get32(v);
                        p.dir = (flags & 3) == 1 ? direction::inbound
                                : (flags & 3) == 2 ? direction::outbound
                                                   : direction::unknown;
                    });
            const interface_description& d = c.interfaces[index];
            const std::uint64_t units = d.units_per_second ? d.units_per_second : 1;
            const std::uint64_t rest = stamp % units;
            p.time_ns = (stamp / units + offsets_[index]) * 1000000000u +
                        std::uint64_t(static_cast<long double>(rest) * 1e9L / static_cast<long double>(units));
        }
        c.packets.push_back(std::move(p));
        return {};
    }

    std::span<const std::uint8_t> all_;
    bool swapped_ = false;
    std::vector<std::uint64_t> offsets_;  // if_tsoffset by interface
};

}  // namespace

capture read_bytes(std::span<const std::uint8_t> bytes) {
    // A writer that died while growing the file can leave zeros behind its last block. A whole
    // block ends in its length, never 0, at a multiple of 4 bytes.
    std::size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == 0) --end;
    end = std::min(bytes.size(), (end + 3) & ~std::size_t(3));
    if (end < 12) throw std::runtime_error("not a pcapng capture (" + std::to_string(bytes.size()) + " bytes)");
    capture c = reader(bytes.first(end)).run();
    if (end < bytes.size() && c.damage.empty())
        c.damage = "followed by " + std::to_string(bytes.size() - end) + " zero bytes behind its last block";
    return c;
}

capture read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return read_bytes(bytes);
}

}  // namespace qx::platform::pcapng
