// A package-group file (.pakgrp): the packages of one ECU, each embedded whole. Opening
// validates the group header and every embedded package; the bodies are not kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ios>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/exception.h"
#include "pak/pak_file.h"

namespace qx {

namespace pak_group_tag {
inline constexpr std::uint32_t MAGIC_1 = 0x47465052;  // "RPFG" in the file
inline constexpr std::uint32_t MAGIC_2 = 0x49414F4C;  // "LOAI"
inline constexpr std::uint32_t MAGIC_3 = 0x4B554550;  // "PEUK"
inline constexpr std::uint32_t MAGIC_4 = 0x30303030;  // "0000"
inline constexpr std::uint32_t SERIAL = 0x53455223;   // "#RES"
inline constexpr std::uint32_t CSUM = 0x4353554D;     // "MUSC"
}  // namespace pak_group_tag

inline constexpr std::uint32_t pak_group_max_entries = 255;
inline constexpr std::uint32_t pak_group_name_max = 64;

struct pak_group_entry {
    pak_file header;  // its layout says which reader reads the package again
    pak_body_sizes body;  // the body is checked but not kept
    std::string name;
    std::uint32_t entry_type = 0;  // equals header.image_type
    std::uint32_t entry_word = 0;
    std::streamoff package_position = 0;  // where the embedded package starts
};

class pak_group_file : public pak_group_file_exceptions {
public:
    explicit pak_group_file(std::string requested_serial_number = {});

    bool loaded = false;
    std::uint32_t declared_count = 0;
    std::vector<pak_group_entry> entries;  // the accepted entries, in file order
    std::string requested_serial;          // kept, not compared by the reader
    std::string path;
    std::string serial_number;  // from SER#, else from the first accepted package

    // Reads and validates the file. After a throw `loaded` is false and nothing is kept.
    void open(const std::string& file_path);
    // The same for a stream that is already open; `path` stays empty.
    void read(std::istream& stream);

    // The accepted entry at `index`.
    const pak_group_entry& entry(std::size_t index) const;

private:
    void forget();
    void load(std::istream& stream);
};

}  // namespace qx
