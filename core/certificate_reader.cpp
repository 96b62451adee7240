#include "core/certificate_reader.h"

#include <algorithm>
#include <cstddef>
#include <fstream>

namespace qx {

namespace {

constexpr std::uint8_t tag_integer = 0x02, tag_bit_string = 0x03, tag_null = 0x05, tag_oid = 0x06,
                       tag_printable = 0x13, tag_ia5 = 0x16, tag_utc_time = 0x17,
                       tag_sequence = 0x30, tag_set = 0x31, tag_version = 0xA0;

struct failure {};

// Reads items one after another within [pos, end).
class der_walker {
public:
    der_walker(const std::uint8_t* p, std::size_t begin, std::size_t end)
        : p_(p), begin_(begin), pos_(begin), end_(end) {}

    struct item {
        std::size_t content;  // offset of the content
        std::size_t length;
        std::size_t end() const { return content + length; }
    };

    bool at_end() const { return pos_ >= end_; }

    // The next item, which must carry `tag`; the walker moves past its header only.
    item open(std::uint8_t tag) {
        if (pos_ + 2 > end_ || p_[pos_] != tag) throw failure{};
        std::size_t at = pos_ + 1;
        std::size_t length = p_[at++];
        if (length & 0x80) {
            const std::size_t n = length & 0x7F;
            if (n == 0 || n > 4 || at + n > end_) throw failure{};
            length = 0;
            for (std::size_t i = 0; i < n; ++i) length = (length << 8) | p_[at++];
        }
        if (length > end_ - at) throw failure{};
        pos_ = at;
        last_end_ = at + length;
        return {at, length};
    }

    // The next item with `tag`, skipped whole.
    item skip(std::uint8_t tag) {
        item i = open(tag);
        pos_ = i.end();
        return i;
    }

    // A walker over the content of the next item with `tag`; this walker moves past it.
    der_walker enter(std::uint8_t tag) {
        item i = skip(tag);
        return der_walker(p_, i.content, i.end());
    }

    // Moves past the content of the item just opened, or past n bytes.
    void skip_content() { pos_ = last_end_; }
    void skip_bytes(std::size_t n) {
        if (n > end_ - pos_) throw failure{};
        pos_ += n;
    }
    std::size_t size() const { return end_ - begin_; }
    const std::uint8_t* base() const { return p_; }

    std::uint8_t peek() const {
        if (pos_ >= end_) throw failure{};
        return p_[pos_];
    }

    const std::uint8_t* bytes(const item& i) const { return p_ + i.content; }

private:
    const std::uint8_t* p_;
    std::size_t begin_;
    std::size_t pos_;
    std::size_t end_;
    std::size_t last_end_ = 0;
};

// Right-aligns an INTEGER's value in its field; a leading zero (the sign byte of a positive
// number) is dropped. Returns the value's length.
template <std::size_t N>
std::size_t copy_integer(der_walker& w, std::array<std::uint8_t, N>& field) {
    der_walker::item i = w.skip(tag_integer);
    const std::uint8_t* v = w.bytes(i);
    std::size_t n = i.length;
    if (n > 1 && v[0] == 0) {
        ++v;
        --n;
    }
    if (n > N) throw failure{};
    field.fill(0);
    std::copy(v, v + n, field.end() - std::ptrdiff_t(n));
    return n;
}

void read_name(der_walker& w) {
    der_walker name = w.enter(tag_sequence);
    while (!name.at_end()) {
        der_walker set = name.enter(tag_set);
        der_walker attribute = set.enter(tag_sequence);
        attribute.skip(tag_oid);
        const std::uint8_t t = attribute.peek();
        if (t != tag_printable && t != tag_ia5) throw failure{};
        attribute.skip(t);
    }
}

// The algorithm identifier: an OBJECT IDENTIFIER of 9 bytes and a NULL, which may be missing
// where the identifier allows it (a SEQUENCE of 11 bytes holds the identifier alone).
void read_algorithm(der_walker& w, bool null_optional) {
    der_walker alg = w.enter(tag_sequence);
    if (alg.open(tag_oid).length != 9) throw failure{};
    alg.skip_content();
    if (null_optional && alg.size() == 11) return;
    alg.skip(tag_null);
}

void read(der_walker& top, certificate_fields& out) {
    der_walker cert = top.enter(tag_sequence);
    der_walker tbs = cert.enter(tag_sequence);
    der_walker version = tbs.enter(tag_version);
    if (version.skip(tag_integer).length != 1) throw failure{};
    out.serial_length = copy_integer(tbs, out.serial);
    read_algorithm(tbs, false);
    read_name(tbs);  // issuer
    der_walker validity = tbs.enter(tag_sequence);
    validity.skip(tag_utc_time);
    validity.skip(tag_utc_time);
    read_name(tbs);  // subject
    der_walker key_info = tbs.enter(tag_sequence);
    read_algorithm(key_info, true);
    der_walker::item bits = key_info.open(tag_bit_string);
    if (bits.length < 1) throw failure{};
    key_info.skip_bytes(1);  // unused bits
    der_walker::item key = key_info.open(tag_sequence);
    if (bits.length != key.length + 4) throw failure{};
    der_walker numbers(key_info.base(), key.content, key.end());
    copy_integer(numbers, out.modulus);
    copy_integer(numbers, out.exponent);
}

}  // namespace

int read_certificate(std::span<const std::uint8_t> der, certificate_fields& out) {
    certificate_fields fields;
    try {
        der_walker top(der.data(), 0, der.size());
        read(top, fields);
    } catch (const failure&) {
        return -1;
    }
    out = fields;
    return 0;
}

int read_ecu_certificate(std::span<const std::uint8_t> der, certificate_fields& out) {
    certificate_fields fields;
    if (read_certificate(der, fields) != 0 || fields.serial_length < ecu_serial_size) return -1;
    out = fields;
    return 0;
}

certificate_file read_certificate_file(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return certificate_file::cannot_open;
    bytes.resize(certificate_file_limit + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(std::size_t(in.gcount()));
    if (in.bad() || bytes.size() > certificate_file_limit) {
        bytes.clear();
        return certificate_file::unreadable;
    }
    return certificate_file::read;
}

}  // namespace qx
