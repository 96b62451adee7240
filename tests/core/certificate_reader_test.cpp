// The certificate reader against certificates made by openssl, and against what it refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/certificate_reader.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

bytes read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(f), {});
}

std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    if (p) pclose(p);
    return out;
}

// Self-signed certificates made with the openssl command line in a temporary folder.
class openssl_certificates : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("certreader-" + std::to_string(::getpid()));

    void SetUp() override {
        fs::create_directories(dir);
        for (auto [file, mask] : {std::pair{"printable.cnf", "default"}, {"utf8.cnf", "utf8only"}})
            std::ofstream(dir / file) << "[req]\ndistinguished_name = dn\nstring_mask = " << mask
                                      << "\nprompt = no\nx509_extensions = v3\n[dn]\n[v3]\nbasicConstraints = CA:TRUE\n";
    }
    void TearDown() override { fs::remove_all(dir); }

    bytes make(const std::string& name, const std::string& key_options, const std::string& serial,
               const std::string& config = "printable.cnf") {
        const std::string key = (dir / (name + ".key")).string();
        const std::string der = (dir / (name + ".der")).string();
        const std::string cmd = "openssl req -x509 -new " + key_options + " -nodes -keyout " + key +
                                " -days 3650 -set_serial " + serial + " -subj '/C=DE/O=Velmar/CN=Test " +
                                name + "' -config " + (dir / config).string() + " -outform DER -out " + der;
        if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0) ADD_FAILURE() << cmd;
        return read_file(der);
    }

    bytes modulus_of(const std::string& name) {
        std::string text = run("openssl x509 -inform DER -noout -modulus -in " + (dir / (name + ".der")).string());
        text = text.substr(text.find('=') + 1);
        bytes m;
        for (std::size_t i = 0; i + 1 < text.size() && std::isxdigit(text[i]); i += 2)
            m.push_back(std::uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
        return m;
    }
};

const std::string rsa1024 = "-newkey rsa:1024 -sha256";

TEST_F(openssl_certificates, reads_serial_modulus_and_exponent_of_an_rsa_1024_certificate) {
    bytes der = make("plain", rsa1024, "0x01020AFF00000001");
    certificate_fields f;
    ASSERT_EQ(read_certificate(der, f), 0);
    EXPECT_EQ(bytes(f.serial.begin(), f.serial.end()), (bytes{0x01, 0x02, 0x0A, 0xFF, 0, 0, 0, 1}));
    EXPECT_EQ(bytes(f.modulus.begin(), f.modulus.end()), modulus_of("plain"));
    EXPECT_EQ(bytes(f.exponent.begin(), f.exponent.end()), (bytes{0x01, 0x00, 0x01}));
}

TEST_F(openssl_certificates, serial_values_are_right_aligned_and_a_sign_byte_is_dropped) {
    certificate_fields f;
    ASSERT_EQ(read_certificate(make("short", rsa1024, "0x0A0B"), f), 0);
    EXPECT_EQ(bytes(f.serial.begin(), f.serial.end()), (bytes{0, 0, 0, 0, 0, 0, 0x0A, 0x0B}));
    ASSERT_EQ(read_certificate(make("high", rsa1024, "0xF1E2D3C400000001"), f), 0);  // DER adds 00 in front
    EXPECT_EQ(bytes(f.serial.begin(), f.serial.begin() + 4), (bytes{0xF1, 0xE2, 0xD3, 0xC4}));
    EXPECT_EQ(read_certificate(make("long", rsa1024, "0x0102030405060708090A"), f), -1);
}

TEST_F(openssl_certificates, an_ecu_certificate_with_a_serial_of_fewer_than_four_bytes_is_refused) {
    certificate_fields f;
    // 0x800000 goes out as 00 80 00 00: four bytes with the sign byte, three of value.
    for (const char* serial : {"0x0A0B", "0x0A0B0C", "0x800000", "7"}) {
        const bytes der = make("tiny", rsa1024, serial);
        EXPECT_EQ(read_ecu_certificate(der, f), -1) << serial;
        EXPECT_EQ(read_certificate(der, f), 0) << serial << ": a root certificate may carry it";
    }
    ASSERT_EQ(read_ecu_certificate(make("four", rsa1024, "0x0A0B0C0D"), f), 0);
    EXPECT_EQ(bytes(f.serial.begin() + 4, f.serial.end()), (bytes{0x0A, 0x0B, 0x0C, 0x0D}));
}

TEST_F(openssl_certificates, refuses_what_the_ecu_certificates_never_hold) {
    certificate_fields f;
    EXPECT_EQ(read_certificate(make("utf8", rsa1024, "1", "utf8.cnf"), f), -1)
        << "UTF8String names";
    EXPECT_EQ(read_certificate(make("rsa2048", "-newkey rsa:2048 -sha256", "1"), f), -1) << "2048-bit modulus";
    EXPECT_EQ(read_certificate(make("ed25519", "-newkey ed25519", "1"), f), -1) << "signature algorithm id not 9 bytes";
}

TEST_F(openssl_certificates, truncation_at_every_byte_fails) {
    bytes der = make("cut", rsa1024, "7");
    certificate_fields f;
    ASSERT_EQ(read_certificate(der, f), 0);
    for (std::size_t n = 0; n < der.size(); ++n) {
        // The reader stops after the public key: only cuts inside what it reads must fail.
        bytes cut(der.begin(), der.begin() + std::ptrdiff_t(n));
        certificate_fields g;
        const int r = read_certificate(cut, g);
        if (r == 0) {
            EXPECT_GT(n, 300u) << "accepted a certificate cut at " << n;
        }
    }
    EXPECT_EQ(read_certificate(bytes(der.begin(), der.begin() + 200), f), -1);
}

TEST(certificate_reader, refuses_more_than_four_length_bytes_and_lengths_past_the_end) {
    // SEQUENCE with five length bytes.
    certificate_fields f;
    EXPECT_EQ(read_certificate(bytes{0x30, 0x85, 0, 0, 0, 0, 3, 0x30, 0x01, 0x00}, f), -1);
    EXPECT_EQ(read_certificate(bytes{0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF}, f), -1);
    EXPECT_EQ(read_certificate(bytes{0x30, 0x80}, f), -1);
    EXPECT_EQ(read_certificate(bytes{}, f), -1);
    EXPECT_EQ(read_certificate(bytes{0x31, 0x00}, f), -1);
}

TEST(certificate_reader, reads_the_virtual_ecu_device_certificate) {
    bytes der = read_file(fs::path(FLASHDESK_SOURCE_DIR) / "ecusim/certs/device_certificate.der");
    ASSERT_FALSE(der.empty());
    certificate_fields f;
    ASSERT_EQ(read_certificate(der, f), 0);
    EXPECT_EQ(bytes(f.serial.begin(), f.serial.begin() + 4), (bytes{0x1A, 0x2B, 0x3C, 0x4D}));
}

// A certificate file is read whole, up to 64 KiB; anything longer, a device without end among
// them, is refused without being read to its end.
TEST(certificate_file, is_read_whole_up_to_64_kib_and_refused_beyond) {
    const fs::path dir = fs::temp_directory_path() / ("certificate-file-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "full.der", std::ios::binary) << std::string(certificate_file_limit, '\x30');
    std::ofstream(dir / "long.der", std::ios::binary) << std::string(certificate_file_limit + 1, '\x30');
    const struct {
        fs::path path;
        certificate_file expected;
        std::size_t size;
    } cases[] = {{dir / "full.der", certificate_file::read, certificate_file_limit},
                 {dir / "long.der", certificate_file::unreadable, 0},
                 {"/dev/zero", certificate_file::unreadable, 0},
                 {dir / "missing.der", certificate_file::cannot_open, 0}};
    for (const auto& c : cases) {
        bytes got(3, 1);
        EXPECT_EQ(read_certificate_file(c.path, got), c.expected) << c.path;
        EXPECT_EQ(got.size(), c.size) << c.path;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qx
