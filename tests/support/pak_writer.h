// Writes package (.pak) and package-group (.pakgrp) files byte by byte, both layouts, with
// every optional chunk, unknown chunks and deliberate corruptions. Checksums are computed
// here with a bitwise CRC-32C of its own, not with the reader's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qx::test_support {

using bytes = std::vector<std::uint8_t>;

// Sub-tags of layout-2 chunks and the chunk tags, as 32-bit words.
inline constexpr std::uint32_t tag_flag = 0x464C4147;  // "GALF"
inline constexpr std::uint32_t tag_pver = 0x50564552;
inline constexpr std::uint32_t tag_flsh = 0x464C5348;
inline constexpr std::uint32_t tag_desc = 0x44455343;
inline constexpr std::uint32_t tag_csum = 0x4353554D;
inline constexpr std::uint32_t tag_vers = 0x56455253;
inline constexpr std::uint32_t tag_serial = 0x53455223;  // "#RES"

// One layout-2 chunk: "GALF", sub-tag, length word, content.
struct pak_chunk {
    std::uint32_t sub_tag = 0;
    bytes content;  // CSUM: the value is filled in by the writer
    std::optional<std::uint32_t> length_word;  // default: the content's size
    std::optional<std::uint32_t> flag_word;    // default: "GALF"

    static pak_chunk pver(std::uint32_t format_version = 1);
    static pak_chunk flsh(std::uint32_t word0, std::uint32_t word1);
    // Text length word (default: the text's size), then the text.
    static pak_chunk desc(const std::string& text, std::optional<std::uint32_t> text_length = {});
    static pak_chunk csum();
    static pak_chunk unknown(std::uint32_t sub_tag, bytes content);
};

struct pak_spec {
    std::uint32_t layout = 2;
    // Written into 8 bytes, zero-padded; `serial_bytes` overrides all 8.
    std::string serial_number = "01020AFF";
    std::optional<std::array<std::uint8_t, 8>> serial_bytes;
    std::string author = "Velmar Service";
    std::string date = "2024-03-01 12:00:00 UTC";
    std::uint32_t image_type = 0;
    // Layout 1: a VERS chunk when set. Layout 2: always written, 0 when unset.
    std::optional<std::uint32_t> version = 7;
    // Layout 1: a DESC chunk. Layout 2: a DESC chunk appended to the second scan.
    std::optional<std::string> description;
    // Layout 1: a CSUM chunk. Layout 2: a CSUM chunk ends the second scan.
    bool checksum = true;
    // Layout 2: a FLSH chunk appended to the second scan (before CSUM).
    std::optional<std::pair<std::uint32_t, std::uint32_t>> flash;
    // Layout 2: the chunks before the serial number, and those after the date that come
    // before the DESC / FLSH / CSUM chunks made from the fields above.
    std::vector<pak_chunk> first_scan = {pak_chunk::pver()};
    std::vector<pak_chunk> second_scan;

    bytes certificate = {0x30, 0x03, 0x02, 0x01, 0x05};
    bytes aux_data;
    std::uint32_t reserved = 0;
    std::array<std::array<std::uint8_t, 128>, 5> key_blocks{};
    bytes image_data = bytes(2048, 0x5A);

    // Corruptions: words written instead of the true ones (the checksum covers what is written).
    std::optional<std::uint32_t> author_length;
    std::optional<std::uint32_t> date_length;
    std::optional<std::uint32_t> description_length;  // layout 1 DESC
    std::optional<std::uint32_t> certificate_size;
    std::optional<std::uint32_t> aux_size;
    std::optional<std::uint32_t> image_size;
    std::array<std::optional<std::uint32_t>, 5> key_block_size;
    std::optional<std::uint32_t> stored_checksum;  // instead of the computed value
};

struct pak_bytes {
    bytes data;
    std::uint32_t checksum = 0;  // the CRC-32C the reader must compute
    std::size_t serial_at = 0;
    std::size_t body_at = 0;                           // the certificate size word
    std::size_t image_at = 0;                          // the first image byte
    std::optional<std::size_t> checksum_value_at;      // where the stored value lies
};

pak_bytes write_pak(const pak_spec& spec);

// A package with deterministic certificate, key blocks and `image_blocks` × 2048 image bytes
// derived from `seed`.
pak_spec sample_pak_spec(std::uint32_t layout, const std::string& serial_number, std::uint32_t image_type,
                         std::uint32_t image_blocks = 2, std::uint32_t seed = 1);

struct pak_group_entry_spec {
    std::string name;
    std::uint32_t entry_type = 0;
    std::uint32_t entry_word = 0;
    bytes package;
    std::optional<std::uint32_t> name_length;  // instead of the name's size
};

// An entry for a written package: named after the image type unless given a name.
pak_group_entry_spec group_entry(const pak_spec& spec, std::string name = {});

struct pak_group_spec {
    std::array<std::uint32_t, 4> magic = {0x47465052, 0x49414F4C, 0x4B554550, 0x30303030};
    std::optional<std::string> serial_number;  // a SER# chunk
    bool checksum = true;                      // a CSUM chunk
    // The two chunks in the wrong order; the checksum then covers up to the SER# tag, the
    // word a reader takes as the entry count.
    bool checksum_before_serial = false;
    std::optional<std::uint32_t> declared_count;  // default: the number of entries
    std::optional<std::uint32_t> stored_checksum;
    std::vector<pak_group_entry_spec> entries;
};

struct pak_group_bytes {
    bytes data;
    std::optional<std::size_t> serial_at;
    std::vector<std::size_t> package_at;  // where each embedded package starts
};

pak_group_bytes write_pak_group(const pak_group_spec& spec);

// Plain bitwise CRC-32C of `data` (initial register 0xFFFFFFFF, final inversion).
std::uint32_t reference_crc32c(const bytes& data);

void save_file(const std::string& path, const bytes& data);

}  // namespace qx::test_support
