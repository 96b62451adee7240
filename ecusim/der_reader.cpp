#include "ecusim/der_reader.h"

namespace ecusim {

namespace {

struct tlv {
    std::uint8_t tag = 0;
    std::size_t content = 0;  // offset of the content
    std::size_t length = 0;
    std::size_t end() const { return content + length; }
};

// Reads the item at offset `at`, which must end by `limit`.
std::optional<tlv> item(std::span<const std::uint8_t> b, std::size_t at, std::size_t limit) {
    if (at + 2 > limit) return std::nullopt;
    tlv t;
    t.tag = b[at];
    std::size_t p = at + 1;
    const std::uint8_t first = b[p++];
    if (first < 0x80) {
        t.length = first;
    } else {
        const std::size_t n = first & 0x7F;
        if (n == 0 || n > 4 || p + n > limit) return std::nullopt;
        for (std::size_t i = 0; i < n; ++i) t.length = t.length << 8 | b[p++];
    }
    t.content = p;
    if (t.length > limit - p) return std::nullopt;
    return t;
}

// The children of the to-be-signed part, in order.
std::optional<std::vector<tlv>> tbs_fields(std::span<const std::uint8_t> der) {
    const auto cert = item(der, 0, der.size());
    if (!cert || cert->tag != 0x30) return std::nullopt;
    const auto tbs = item(der, cert->content, cert->end());
    if (!tbs || tbs->tag != 0x30) return std::nullopt;
    std::vector<tlv> fields;
    for (std::size_t p = tbs->content; p < tbs->end();) {
        const auto f = item(der, p, tbs->end());
        if (!f) return std::nullopt;
        fields.push_back(*f);
        p = f->end();
    }
    return fields;
}

std::vector<std::uint8_t> strip_zeros(std::span<const std::uint8_t> v) {
    std::size_t i = 0;
    while (i + 1 < v.size() && v[i] == 0) ++i;
    return {v.begin() + std::ptrdiff_t(i), v.end()};
}

}  // namespace

std::optional<byte_range> certificate_serial(std::span<const std::uint8_t> der) {
    const auto f = tbs_fields(der);
    if (!f || f->size() < 2 || (*f)[0].tag != 0xA0 || (*f)[1].tag != 0x02) return std::nullopt;
    return byte_range{(*f)[1].content, (*f)[1].length};
}

std::optional<rsa_public_key> certificate_public_key(std::span<const std::uint8_t> der) {
    const auto f = tbs_fields(der);
    // version, serial, signature algorithm, issuer, validity, subject, subject public key info
    if (!f || f->size() < 7 || (*f)[0].tag != 0xA0) return std::nullopt;
    const tlv& spki = (*f)[6];
    if (spki.tag != 0x30) return std::nullopt;
    const auto alg = item(der, spki.content, spki.end());
    if (!alg || alg->tag != 0x30) return std::nullopt;
    const auto bits = item(der, alg->end(), spki.end());
    if (!bits || bits->tag != 0x03 || bits->length < 1 || der[bits->content] != 0) return std::nullopt;
    const auto seq = item(der, bits->content + 1, bits->end());
    if (!seq || seq->tag != 0x30) return std::nullopt;
    const auto n = item(der, seq->content, seq->end());
    if (!n || n->tag != 0x02) return std::nullopt;
    const auto e = item(der, n->end(), seq->end());
    if (!e || e->tag != 0x02) return std::nullopt;
    return rsa_public_key{strip_zeros(der.subspan(n->content, n->length)),
                          strip_zeros(der.subspan(e->content, e->length))};
}

rsa_public_key normalised_key(std::span<const std::uint8_t> modulus, std::span<const std::uint8_t> exponent) {
    return {strip_zeros(modulus), strip_zeros(exponent)};
}

}  // namespace ecusim
