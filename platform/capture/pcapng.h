// pcapng capture files: the writer the library's capture uses, and a reader that takes a file
// as far as it is whole.
//
// A file is a section header, an interface description per link and one enhanced packet block
// per transfer: its interface, its time (nanoseconds since 1970, if_tsresol 9) and its
// direction in the packet flags (outbound: host to ECU, inbound: ECU to host), in this host's
// byte order.
//
// The writer copies each block into a shared mapping of the file, ahead of which it reserves
// the disk space (fallocate) and the pages: a block costs a copy, no system call, and a crash
// of the program loses at most the block being copied, as the pages belong to the file. The
// space reserved behind the blocks is itself a block of a type for local use, which readers
// (Wireshark included) skip, so the file reads whole while it is open and after a crash; closed,
// it is cut to its blocks. Where the file system cannot reserve space the writer writes each
// block with one write(2) instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx::platform::pcapng {

// Link types of the interfaces. The user link types carry this system's own framing.
inline constexpr std::uint16_t linktype_usb_packets = 147;   // LINKTYPE_USER0: one bulk transfer each
inline constexpr std::uint16_t linktype_serial_bytes = 148;  // LINKTYPE_USER1: bytes as they crossed the line
inline constexpr std::uint16_t linktype_simulator = 149;     // LINKTYPE_USER2: a header and its data, host order
inline constexpr std::uint16_t linktype_can_socketcan = 227;  // LINKTYPE_CAN_SOCKETCAN

// LINKTYPE_CAN_SOCKETCAN: identifier and flags (big-endian), data length, three bytes of
// padding, eight data bytes.
inline constexpr std::size_t socketcan_frame_size = 16;
inline constexpr std::uint32_t socketcan_extended_flag = 0x80000000u;
inline constexpr std::uint32_t socketcan_remote_flag = 0x40000000u;

enum class direction : std::uint8_t { unknown, inbound, outbound };

struct interface_description {
    std::uint16_t linktype = 0;
    std::string name;         // if_name
    std::string description;  // if_description
    std::string comment;      // opt_comment
    std::uint64_t units_per_second = 1000000;  // if_tsresol; 10^6 when the block has none
};

// Appends whole blocks to a file of its own. Not thread-safe: callers serialise.
class writer {
public:
    // Creates `path` anew (never an existing file, never through a symbolic link), mode 0600,
    // and writes the section header naming `application`. Null with `error` (errno) set.
    static std::unique_ptr<writer> create(const std::string& path, std::string_view application, int& error);
    ~writer();
    writer(const writer&) = delete;
    writer& operator=(const writer&) = delete;

    // The interface's number, in the order added. False when the file could not take it.
    bool add_interface(const interface_description& d, std::uint32_t& number);
    bool add_packet(std::uint32_t interface, std::uint64_t time_ns, direction d, const void* bytes, std::size_t size);
    int error() const { return error_; }

private:
    explicit writer(int fd) : fd_(fd) {}
    bool write_all(std::span<const std::uint8_t> head, const void* bytes, std::size_t size,
                   std::span<const std::uint8_t> tail);
    bool reserve(std::size_t more);
    void mark_reserved();
    void populate(std::size_t size);
    void settle();
    bool write_out(std::span<const std::uint8_t> head, const void* bytes, std::size_t size,
                   std::span<const std::uint8_t> tail);

    int fd_;
    bool mapped_ = true;          // false: write(2) per block
    std::uint8_t* map_ = nullptr;
    std::size_t base_ = 0;        // where the mapping starts in the file (a page boundary)
    std::size_t reserved_ = 0;    // bytes mapped and reserved from there
    std::size_t populated_ = 0;   // bytes of those whose pages are there
    std::size_t used_ = 0;        // bytes of blocks in the file
    std::uint32_t interfaces_ = 0;
    int error_ = 0;
};

struct packet {
    std::uint32_t interface = 0;  // index into capture::interfaces
    std::uint64_t time_ns = 0;
    direction dir = direction::unknown;
    std::vector<std::uint8_t> data;
    std::uint32_t original_length = 0;  // larger than data.size() when the writer cut the packet
};

struct capture {
    std::vector<interface_description> interfaces;  // of every section, in file order
    std::vector<packet> packets;
    // Why the file could not be read to its end ("cut short in a block at byte N", ...), or
    // that zeros follow its blocks; empty when it was read whole.
    std::string damage;
};

// What a file holds up to its first damaged or missing byte. Throws std::runtime_error when
// the file cannot be read or does not start with a section header block.
capture read_file(const std::string& path);
capture read_bytes(std::span<const std::uint8_t> bytes);

}  // namespace qx::platform::pcapng
