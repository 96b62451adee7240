// An update package (.pak): the header record and its reader. The body goes into a
// separate pak_image record.
#pragma once

#include <cstdint>
#include <ios>
#include <iosfwd>
#include <string>
#include <string_view>

#include "core/exception.h"
#include "pak/pak_image.h"

namespace qx {

// Chunk tags: 32-bit words read little-endian, so the file holds their names byte-reversed.
namespace pak_tag {
inline constexpr std::uint32_t VERS = 0x56455253;  // "SREV" in the file
inline constexpr std::uint32_t DESC = 0x44455343;  // "CSED"
inline constexpr std::uint32_t CSUM = 0x4353554D;  // "MUSC"
inline constexpr std::uint32_t FLAG = 0x464C4147;  // "GALF": starts every layout-2 chunk
inline constexpr std::uint32_t PVER = 0x50564552;  // "REVP"
inline constexpr std::uint32_t FLSH = 0x464C5348;  // "HSLF"
}  // namespace pak_tag

// Length limits of the texts, inclusive.
inline constexpr std::uint32_t pak_author_max = 64;
inline constexpr std::uint32_t pak_date_min = 20;
inline constexpr std::uint32_t pak_date_max = 256;
inline constexpr std::uint32_t pak_description_max = 256;
inline constexpr std::size_t pak_serial_size = 8;

// "Firmware", "Fixed Model", "Dynamic Model", "Boot Module", "Power Control Module",
// "Play Back Module" for 0 to 5; empty for any other code.
std::string_view image_type_name(std::uint32_t code);
// The name the update dialog shows: as above, but "Boot Loader" for 3; empty above 3.
std::string_view image_type_display_name(std::uint32_t code);

// The sizes of a package's body, for a read that checks the whole package but keeps no body.
struct pak_body_sizes {
    std::uint32_t certificate = 0;
    std::uint32_t aux_data = 0;
    std::uint32_t image_data = 0;
};

class pak_file : public pak_file_exceptions {
public:
    std::uint32_t layout = 0;  // 1 or 2 once a header of that layout was read completely
    std::uint32_t flash_word_0 = 0;
    std::uint32_t flash_word_1 = 0;
    std::uint32_t image_type = 0;
    std::uint32_t version = 0;  // 0: the package gives none
    std::uint32_t stored_checksum = 0;
    std::uint32_t running_checksum = 0xFFFFFFFF;  // CRC-32C of the bytes fed so far
    bool has_checksum = false;
    std::string serial_number;
    std::string author;
    std::string date;
    std::string description;
    std::streamoff body_position = 0;  // layout 1 only: where the body starts

    void reset();

    // Read a whole package of that layout at `position` of an open binary stream into this
    // record and `image`. On success the stream stands right after the image data.
    void read_layout1(std::istream& stream, std::streamoff position, pak_image& image);
    void read_layout2(std::istream& stream, std::streamoff position, pak_image& image);
    // The same read and checks, but the body is not kept: it passes through one buffer of
    // 1 MB and only its sizes are stored.
    void check_layout1(std::istream& stream, std::streamoff position, pak_body_sizes& sizes);
    void check_layout2(std::istream& stream, std::streamoff position, pak_body_sizes& sizes);

    // Open the file, read or check it at position 0 in that layout, close it.
    void load_layout1(const std::string& path, pak_image& image);
    void load_layout2(const std::string& path, pak_image& image);
    void check_file_layout1(const std::string& path, pak_body_sizes& sizes);
    void check_file_layout2(const std::string& path, pak_body_sizes& sizes);
};

}  // namespace qx
