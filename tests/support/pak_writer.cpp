#include "tests/support/pak_writer.h"

#include <fstream>
#include <stdexcept>

namespace qx::test_support {

namespace {

std::uint32_t crc_bitwise(std::uint32_t reg, std::uint8_t byte) {
    reg ^= byte;
    for (int i = 0; i < 8; ++i) reg = (reg >> 1) ^ (0x82F63B78u & (0u - (reg & 1u)));
    return reg;
}

// The bytes being written and the checksum of those the reader counts.
class sink {
public:
    enum class count { fed, as_zeros, not_fed };

    void put(const std::uint8_t* p, std::size_t n, count c = count::fed) {
        for (std::size_t i = 0; i < n; ++i) {
            data.push_back(p[i]);
            if (c == count::fed) reg_ = crc_bitwise(reg_, p[i]);
            if (c == count::as_zeros) reg_ = crc_bitwise(reg_, 0);
        }
    }
    void put(const bytes& b, count c = count::fed) { put(b.data(), b.size(), c); }
    void put(const std::string& s) { put(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }
    void word(std::uint32_t w, count c = count::fed) {
        const std::uint8_t b[4] = {std::uint8_t(w), std::uint8_t(w >> 8), std::uint8_t(w >> 16), std::uint8_t(w >> 24)};
        put(b, 4, c);
    }
    void patch_word(std::size_t at, std::uint32_t w) {
        for (int i = 0; i < 4; ++i) data[at + std::size_t(i)] = std::uint8_t(w >> (8 * i));
    }
    std::size_t size() const { return data.size(); }
    std::uint32_t checksum() const { return ~reg_; }

    bytes data;

private:
    std::uint32_t reg_ = 0xFFFFFFFF;
};

bytes word_bytes(std::uint32_t w) {
    return {std::uint8_t(w), std::uint8_t(w >> 8), std::uint8_t(w >> 16), std::uint8_t(w >> 24)};
}

std::uint32_t size32(std::size_t n) { return std::uint32_t(n); }

// A serial number in its 8-byte field, zero-padded.
bytes serial_field(const std::string& serial_number) {
    bytes field(8, 0);
    for (std::size_t i = 0; i < field.size() && i < serial_number.size(); ++i) field[i] = std::uint8_t(serial_number[i]);
    return field;
}

void put_serial(sink& out, const pak_spec& spec) {
    std::array<std::uint8_t, 8> serial{};
    if (spec.serial_bytes)
        serial = *spec.serial_bytes;
    else
        for (std::size_t i = 0; i < serial.size() && i < spec.serial_number.size(); ++i)
            serial[i] = std::uint8_t(spec.serial_number[i]);
    out.put(serial.data(), serial.size());
}

// Writes a chunk; returns where a CSUM value lies, if it is one.
std::optional<std::size_t> put_chunk(sink& out, const pak_chunk& c) {
    out.word(c.flag_word.value_or(tag_flag));
    out.word(c.sub_tag);
    out.word(c.length_word.value_or(size32(c.content.size())));
    switch (c.sub_tag) {
    case tag_csum: {
        const std::size_t at = out.size();
        out.word(0, sink::count::as_zeros);
        return at;
    }
    case tag_pver:
    case tag_flsh:
    case tag_desc: out.put(c.content); break;
    default: out.put(c.content, sink::count::not_fed); break;
    }
    return std::nullopt;
}

}  // namespace

pak_chunk pak_chunk::pver(std::uint32_t format_version) { return {tag_pver, word_bytes(format_version), {}, {}}; }

pak_chunk pak_chunk::flsh(std::uint32_t word0, std::uint32_t word1) {
    bytes content = word_bytes(word0);
    const bytes second = word_bytes(word1);
    content.insert(content.end(), second.begin(), second.end());
    return {tag_flsh, content, {}, {}};
}

pak_chunk pak_chunk::desc(const std::string& text, std::optional<std::uint32_t> text_length) {
    bytes content = word_bytes(text_length.value_or(size32(text.size())));
    content.insert(content.end(), text.begin(), text.end());
    return {tag_desc, content, {}, {}};
}

pak_chunk pak_chunk::csum() { return {tag_csum, bytes(4, 0), {}, {}}; }

pak_chunk pak_chunk::unknown(std::uint32_t sub_tag, bytes content) { return {sub_tag, std::move(content), {}, {}}; }

pak_bytes write_pak(const pak_spec& spec) {
    if (spec.layout != 1 && spec.layout != 2) throw std::invalid_argument("layout is 1 or 2");
    sink out;
    pak_bytes result;
    auto note_checksum = [&](std::optional<std::size_t> at) {
        if (at) result.checksum_value_at = at;
    };

    if (spec.layout == 2)
        for (const auto& c : spec.first_scan) note_checksum(put_chunk(out, c));
    result.serial_at = out.size();
    put_serial(out, spec);
    out.word(spec.author_length.value_or(size32(spec.author.size())));
    out.put(spec.author);
    out.word(spec.image_type);
    if (spec.layout == 1 && spec.version) {
        out.word(tag_vers);
        out.word(*spec.version);
    }
    if (spec.layout == 2) out.word(spec.version.value_or(0));
    out.word(spec.date_length.value_or(size32(spec.date.size())));
    out.put(spec.date);

    if (spec.layout == 1) {
        if (spec.description) {
            out.word(tag_desc);
            out.word(spec.description_length.value_or(size32(spec.description->size())));
            out.put(*spec.description);
        }
        if (spec.checksum) {
            out.word(tag_csum);
            result.checksum_value_at = out.size();
            out.word(0, sink::count::as_zeros);
        }
    } else {
        for (const auto& c : spec.second_scan) note_checksum(put_chunk(out, c));
        if (spec.description) note_checksum(put_chunk(out, pak_chunk::desc(*spec.description)));
        if (spec.flash) note_checksum(put_chunk(out, pak_chunk::flsh(spec.flash->first, spec.flash->second)));
        if (spec.checksum) note_checksum(put_chunk(out, pak_chunk::csum()));
    }

    result.body_at = out.size();
    out.word(spec.certificate_size.value_or(size32(spec.certificate.size())));
    out.put(spec.certificate);
    out.word(spec.aux_size.value_or(size32(spec.aux_data.size())));
    out.put(spec.aux_data);
    out.word(spec.reserved);
    for (std::size_t i = 0; i < spec.key_blocks.size(); ++i) {
        out.word(spec.key_block_size[i].value_or(128));
        out.put(spec.key_blocks[i].data(), spec.key_blocks[i].size());
    }
    out.word(spec.image_size.value_or(size32(spec.image_data.size())));
    result.image_at = out.size();
    out.put(spec.image_data);

    result.checksum = out.checksum();
    if (result.checksum_value_at) out.patch_word(*result.checksum_value_at, spec.stored_checksum.value_or(result.checksum));
    result.data = std::move(out.data);
    return result;
}

pak_spec sample_pak_spec(std::uint32_t layout, const std::string& serial_number, std::uint32_t image_type,
                         std::uint32_t image_blocks, std::uint32_t seed) {
    pak_spec s;
    s.layout = layout;
    s.serial_number = serial_number;
    s.image_type = image_type;
    s.version = 100 + image_type;
    s.description = "Image type " + std::to_string(image_type) + " for " + serial_number;
    std::uint32_t x = seed * 2654435761u + image_type + 1;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return std::uint8_t(x);
    };
    s.certificate.resize(300);
    for (auto& b : s.certificate) b = next();
    for (auto& block : s.key_blocks)
        for (auto& b : block) b = next();
    s.image_data.resize(std::size_t(image_blocks) * 2048);
    for (auto& b : s.image_data) b = next();
    return s;
}

pak_group_entry_spec group_entry(const pak_spec& spec, std::string name) {
    static const char* const names[] = {"Firmware", "Fixed Model", "Dynamic Model", "Boot Module"};
    if (name.empty()) name = spec.image_type < 4 ? names[spec.image_type] : "Image";
    return {std::move(name), spec.image_type, 0, write_pak(spec).data, {}};
}

pak_group_bytes write_pak_group(const pak_group_spec& spec) {
    sink out;
    pak_group_bytes result;
    for (std::uint32_t m : spec.magic) out.word(m);
    std::optional<std::size_t> checksum_at;
    auto put_serial_chunk = [&] {
        if (!spec.serial_number) return;
        out.word(tag_serial);
        result.serial_at = out.size();
        out.put(serial_field(*spec.serial_number));
    };
    auto put_checksum_chunk = [&] {
        if (!spec.checksum) return;
        out.word(tag_csum);
        checksum_at = out.size();
        out.word(0, sink::count::as_zeros);
    };
    // The checksum covers everything up to the word that follows its value: the entry count,
    // or the SER# tag when the chunks stand in the wrong order.
    std::optional<std::uint32_t> checksum;
    auto note_checksum = [&] {
        if (checksum_at && !checksum) checksum = out.checksum();
    };
    if (spec.checksum_before_serial) {
        put_checksum_chunk();
        if (spec.serial_number) {
            out.word(tag_serial);
            note_checksum();
            result.serial_at = out.size();
            out.put(serial_field(*spec.serial_number));
        }
    } else {
        put_serial_chunk();
        put_checksum_chunk();
    }
    out.word(spec.declared_count.value_or(size32(spec.entries.size())));
    note_checksum();
    if (checksum_at) out.patch_word(*checksum_at, spec.stored_checksum.value_or(*checksum));

    for (const auto& e : spec.entries) {
        out.word(e.name_length.value_or(size32(e.name.size())), sink::count::not_fed);
        out.put(reinterpret_cast<const std::uint8_t*>(e.name.data()), e.name.size(), sink::count::not_fed);
        out.word(e.entry_type, sink::count::not_fed);
        out.word(e.entry_word, sink::count::not_fed);
        result.package_at.push_back(out.size());
        out.put(e.package, sink::count::not_fed);
    }
    result.data = std::move(out.data);
    return result;
}

std::uint32_t reference_crc32c(const bytes& data) {
    std::uint32_t reg = 0xFFFFFFFF;
    for (std::uint8_t b : data) reg = crc_bitwise(reg, b);
    return ~reg;
}

void save_file(const std::string& path, const bytes& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

}  // namespace qx::test_support
