// The virtual ECU's other parts: raw log disk image, certificate reader, options, package set.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

#include "ecusim/certificates.h"
#include "ecusim/der_reader.h"
#include "ecusim/ecu_options.h"
#include "ecusim/package_set.h"
#include "ecusim/raw_log_disk.h"
#include "tests/ecusim/wire_bytes.h"

namespace {

using namespace ecusim_test;
namespace fs = std::filesystem;

const char* order_name(const testing::TestParamInfo<byte_order>& p) {
    return p.param == byte_order::big ? "big" : "little";
}

bytes pattern(std::size_t n, std::uint8_t seed) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(seed + i * 13);
    return b;
}

// ---- raw log disk ----

class raw_disk : public testing::TestWithParam<byte_order> {
protected:
    static bytes block(const bytes& disk, std::size_t lba) {
        return bytes(disk.begin() + std::ptrdiff_t(lba * 512), disk.begin() + std::ptrdiff_t(lba * 512 + 512));
    }
    static std::uint16_t mark(const bytes& b) { return std::uint16_t(b.at(208) << 8 | b.at(209)); }
};

// Two groups of at most 2 data blocks: file 1 (1100 bytes) takes LBA 1..6, file 2 (10 bytes)
// LBA 7..9, the open file 3 only its header at LBA 10.
TEST_P(raw_disk, lays_out_disk_file_and_block_headers) {
    const byte_order o = GetParam();
    const bytes data1 = pattern(1100, 1);
    std::vector<ecusim::raw_file> files(3);
    files[0].data = data1;
    files[1].data = pattern(10, 2);
    files[1].cfgfile_version = 3;
    files[1].cfgfile_num_channels = 12;
    files[2].data = pattern(600, 3);
    files[2].open = true;
    const bytes disk = ecusim::build_raw_disk(files, 2, o);
    ASSERT_EQ(disk.size(), 11u * 512);

    const bytes dh = block(disk, 0);
    EXPECT_EQ(mark(dh), 0xDEAD);
    EXPECT_EQ(r32(dh, 128, o), 10u);  // lba_of_last_file_opened
    EXPECT_EQ(r32(dh, 132, o), 3u);   // number_of_files
    EXPECT_EQ(r32(dh, 136, o), 11u);  // lba_of_disk_end

    struct file_row {
        std::size_t lba;
        std::uint32_t blocks, cfg_version, channels;
    };
    const file_row rows[] = {{1, 6, 1, 0}, {7, 3, 3, 12}, {10, 1, 1, 0}};
    for (std::uint32_t i = 0; i < 3; ++i) {
        const bytes fh = block(disk, rows[i].lba);
        EXPECT_EQ(mark(fh), 0xBEEF) << i;
        EXPECT_EQ(r32(fh, 64, o), i + 1) << i;  // file_index
        EXPECT_EQ(r32(fh, 68, o), rows[i].blocks) << i;
        EXPECT_EQ(r32(fh, 72, o), rows[i].cfg_version) << i;
        EXPECT_EQ(r32(fh, 76, o), rows[i].channels) << i;
        EXPECT_EQ(r32(fh, 84, o), rows[i].lba) << i;  // this_lba
    }

    struct group_row {
        std::size_t lba;
        std::uint32_t size, blocks;
    };
    for (const group_row g : {group_row{2, 1024, 2}, group_row{5, 76, 1}, group_row{8, 10, 1}}) {
        const bytes bh = block(disk, g.lba);
        EXPECT_EQ(mark(bh), 0xD065) << g.lba;
        EXPECT_EQ(r32(bh, 0, o), g.size) << g.lba;
        EXPECT_EQ(r32(bh, 4, o), g.blocks) << g.lba;
        EXPECT_EQ(r32(bh, 8, o), g.lba) << g.lba;
    }
    EXPECT_TRUE(std::equal(data1.begin(), data1.begin() + 1024, disk.begin() + 3 * 512));
    EXPECT_TRUE(std::equal(data1.begin() + 1024, data1.end(), disk.begin() + 6 * 512));
    EXPECT_TRUE(std::all_of(disk.begin() + 6 * 512 + 76, disk.begin() + 7 * 512, [](std::uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(ecusim, raw_disk, testing::Values(byte_order::big, byte_order::little), order_name);

// The host walks a file's groups by their block counts; they must fill the file exactly and
// give back its bytes.
class raw_disk_groups : public testing::TestWithParam<std::pair<std::size_t, std::uint32_t>> {};

TEST_P(raw_disk_groups, fill_the_file_and_hold_its_bytes) {
    const auto [size, group_blocks] = GetParam();
    const bytes data = pattern(size, 7);
    std::vector<ecusim::raw_file> files(1);
    files[0].data = data;
    const bytes disk = ecusim::build_raw_disk(files, group_blocks, byte_order::big);
    const std::uint32_t total = r32(disk, 512 + 68, byte_order::big);
    ASSERT_EQ(disk.size(), (1 + total) * 512u);
    bytes read;
    std::uint32_t i = 0;
    while (i < total - 1) {
        const std::size_t at = (2 + i) * 512;
        ASSERT_EQ(disk.at(at + 208) << 8 | disk.at(at + 209), 0xD065);
        const std::uint32_t group_size = r32(disk, at, byte_order::big), blocks = r32(disk, at + 4, byte_order::big);
        ASSERT_LE(blocks, group_blocks);
        ASSERT_LE(group_size, blocks * 512);
        read.insert(read.end(), disk.begin() + std::ptrdiff_t(at + 512), disk.begin() + std::ptrdiff_t(at + 512 + group_size));
        i += blocks + 1;
    }
    EXPECT_EQ(i, total - 1);
    EXPECT_EQ(read, data);
}

INSTANTIATE_TEST_SUITE_P(ecusim, raw_disk_groups,
                         testing::Values(std::pair<std::size_t, std::uint32_t>{0, 7}, std::pair<std::size_t, std::uint32_t>{1, 7},
                                         std::pair<std::size_t, std::uint32_t>{512, 1},
                                         std::pair<std::size_t, std::uint32_t>{3 * 512 * 2 + 100, 3},
                                         std::pair<std::size_t, std::uint32_t>{20000, 7}));

TEST(raw_disk_options, group_of_zero_blocks_is_rejected) {
    EXPECT_THROW(ecusim::build_raw_disk({}, 0, byte_order::big), std::invalid_argument);
}

// ---- certificate reader ----

TEST(der_reader, finds_serial_and_key_of_a_hand_built_certificate) {
    const bytes modulus = sample_modulus(9);
    const bytes cert = make_certificate({0x1A, 0x2B, 0x3C, 0x4D, 0x00, 0x00, 0x00, 0x01}, modulus, {0x01, 0x00, 0x01});
    const auto serial = ecusim::certificate_serial(cert);
    ASSERT_TRUE(serial);
    EXPECT_EQ(bytes(cert.begin() + std::ptrdiff_t(serial->offset), cert.begin() + std::ptrdiff_t(serial->offset + serial->length)),
              (bytes{0x1A, 0x2B, 0x3C, 0x4D, 0x00, 0x00, 0x00, 0x01}));
    const auto key = ecusim::certificate_public_key(cert);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->modulus, modulus) << "the DER sign byte is dropped";
    EXPECT_EQ(key->exponent, (bytes{0x01, 0x00, 0x01}));
}

TEST(der_reader, finds_the_serial_of_the_built_in_device_certificate) {
    const auto cert = ecusim::certificates::device();
    const auto serial = ecusim::certificate_serial(cert);
    ASSERT_TRUE(serial);
    EXPECT_EQ(serial->offset, 15u);  // 30 82 LL LL 30 82 LL LL A0 03 02 01 02 02 08
    ASSERT_EQ(serial->length, 8u);
    EXPECT_EQ(bytes(cert.begin() + 15, cert.begin() + 23), (bytes{0x1A, 0x2B, 0x3C, 0x4D, 0x00, 0x00, 0x00, 0x01}));
}

TEST(der_reader, built_in_certificates_carry_1024_bit_keys) {
    for (const auto cert : {ecusim::certificates::root(), ecusim::certificates::package(), ecusim::certificates::device()}) {
        const auto key = ecusim::certificate_public_key(cert);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->modulus.size(), 128u);
        EXPECT_EQ(key->exponent, (bytes{0x01, 0x00, 0x01}));
    }
    EXPECT_NE(ecusim::certificate_public_key(ecusim::certificates::root()),
              ecusim::certificate_public_key(ecusim::certificates::package()));
}

TEST(der_reader, normalised_key_ignores_the_host_fields_zero_fill) {
    const auto a = ecusim::normalised_key(bytes{0x00, 0x00, 0xAB, 0x00}, bytes{0x00, 0x01, 0x00, 0x01});
    EXPECT_EQ(a.modulus, (bytes{0xAB, 0x00}));
    EXPECT_EQ(a.exponent, (bytes{0x01, 0x00, 0x01}));
}

TEST(der_reader, every_truncation_of_a_certificate_fails_cleanly) {
    const bytes cert = make_certificate({0x05}, sample_modulus(1), {0x03});
    for (std::size_t n = 0; n < cert.size(); ++n) {
        const std::span<const std::uint8_t> part(cert.data(), n);
        ASSERT_FALSE(ecusim::certificate_public_key(part)) << n;
        ASSERT_FALSE(ecusim::certificate_serial(part)) << n;
    }
}

class der_reader_bad : public testing::TestWithParam<bytes> {};

TEST_P(der_reader_bad, yields_nothing) {
    EXPECT_FALSE(ecusim::certificate_public_key(GetParam()));
    EXPECT_FALSE(ecusim::certificate_serial(GetParam()));
}

bytes with_byte(bytes b, std::size_t at, std::uint8_t v) {
    b.at(at) = v;
    return b;
}

// The certificate's outer length written with five length bytes (30 85 00 00 00 HH LL).
bytes with_five_length_bytes(bytes b) {
    b.at(1) = 0x85;
    b.insert(b.begin() + 2, {0x00, 0x00, 0x00});
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    ecusim, der_reader_bad,
    testing::Values(with_five_length_bytes(make_certificate({0x05}, sample_modulus(1), {0x03})),
                    bytes{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x30, 0x00},  // length beyond the bytes
                    bytes{0x31, 0x03, 0x30, 0x01, 0x00},                    // not a SEQUENCE
                    // The version's context tag replaced (30 81 LL 30 81 LL A0 ...).
                    with_byte(make_certificate({0x05}, sample_modulus(1), {0x03}), 6, 0xA1)));

// ---- options ----

TEST(ecu_options, option_text_sets_the_described_ecu) {
    const auto c = ecusim::config_from_text(
        "--mode boot --serial 0a0b0c0d --version 94 --flash-id 2780 --firmware 0A000001 --board-model QX-9 "
        "--max-channels 512 --channel Boost=1.5 --stopped --raw-logging --no-usb-storage --faults n=2:mute");
    EXPECT_EQ(c.mode, ecusim::ecu_mode::boot);
    EXPECT_EQ(c.serial, (std::array<std::uint8_t, 4>{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(c.app_transferstructs_version, 94u);
    EXPECT_EQ(c.flash_device_id, 0x2780);
    EXPECT_EQ(c.firmware_version, 0x0A000001u);
    EXPECT_EQ(c.board_model, "QX-9");
    EXPECT_EQ(c.max_configuration_channels, 512);
    ASSERT_EQ(c.extra_channels.size(), 1u);
    EXPECT_EQ(c.extra_channels[0].name, "Boost");
    EXPECT_EQ(c.extra_channels[0].value, 1.5f);
    EXPECT_FALSE(c.configuration_running);
    EXPECT_TRUE(c.raw_logging);
    EXPECT_FALSE(c.usb_storage_present);
    EXPECT_TRUE(c.faults.match(2, 0, 1).mute);
}

TEST(ecu_options, empty_text_gives_the_default_application_ecu) {
    const auto c = ecusim::config_from_text("");
    EXPECT_EQ(c.mode, ecusim::ecu_mode::app);
    EXPECT_EQ(c.app_transferstructs_version, 95u);
    EXPECT_TRUE(c.configuration_running);
    EXPECT_TRUE(c.faults.empty());
}

TEST(ecu_options, make_config_rejects_an_unknown_mode) {
    ecusim::ecu_options o;
    o.mode = "bootloader";
    EXPECT_THROW(ecusim::make_config(o), std::invalid_argument);
}

class ecu_options_bad : public testing::TestWithParam<const char*> {};

TEST_P(ecu_options_bad, are_rejected_with_invalid_argument) {
    EXPECT_THROW(ecusim::config_from_text(GetParam()), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(ecusim, ecu_options_bad,
                         testing::Values("--serial 1A2B3C4", "--serial 1A2B3C4D5", "--serial 1A2B3C4G", "--serial 0x1A2B3C",
                                         "--flash-id 12345", "--flash-id 27G0", "--flash-id -1", "--firmware 100000000",
                                         "--mode sleep", "--board-model ABCDEFGHI", "--channel =3", "--channel Boost",
                                         "--channel Boost=fast", "--faults n=0:unplug", "--no-such-option"));

TEST(ecu_options, unreadable_log_file_is_a_runtime_error) {
    ecusim::ecu_options o;
    o.log_files = {"/nonexistent/dir/LOG.TXT"};
    EXPECT_THROW(ecusim::make_config(o), std::runtime_error);
}

// ---- package set ----

class package_set : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("ecusim_packages_" + std::to_string(::getpid()) + "_" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    static bytes load(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static bool contains(const bytes& hay, std::span<const std::uint8_t> needle) {
        return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
    }
    fs::path dir;
};

TEST_F(package_set, writes_root_certificate_group_and_four_packages_named_by_serial) {
    const auto written = ecusim::make_packages("0a0b0c0d", dir.string());
    std::vector<std::string> names;
    for (const auto& p : written) {
        EXPECT_TRUE(fs::is_regular_file(p)) << p;
        names.push_back(fs::path(p).filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"0A0B0C0D.pakgrp", "0A0B0C0D_boot_loader.pak", "0A0B0C0D_dynamic_model.pak",
                                               "0A0B0C0D_firmware.pak", "0A0B0C0D_fixed_model.pak",
                                               "RootCertificate_tcert.der"}));
    const bytes root = load(dir / "RootCertificate_tcert.der");
    const auto built_in = ecusim::certificates::root();
    EXPECT_TRUE(std::equal(root.begin(), root.end(), built_in.begin(), built_in.end()));
}

// Layout-2 package: "GALF" PVER chunk (16 bytes), serial (8), author length and author, then
// the image type; each package carries the package certificate and sits whole in the group.
TEST_F(package_set, packages_carry_serial_image_type_and_certificate_and_sit_in_the_group) {
    ecusim::make_packages("0A0B0C0D", dir.string());
    const bytes group = load(dir / "0A0B0C0D.pakgrp");
    EXPECT_EQ(bytes(group.begin(), group.begin() + 16), text_bytes("RPFGLOAIPEUK0000"));
    EXPECT_TRUE(contains(group, cat({text_bytes("#RES"), text_bytes("0A0B0C0D")})));
    const std::pair<const char*, std::uint32_t> types[] = {
        {"firmware", 0}, {"fixed_model", 1}, {"dynamic_model", 2}, {"boot_loader", 3}};
    for (const auto& [stem, type] : types) {
        const bytes pak = load(dir / (std::string("0A0B0C0D_") + stem + ".pak"));
        ASSERT_GT(pak.size(), 2048u) << stem;
        EXPECT_EQ(bytes(pak.begin(), pak.begin() + 4), text_bytes("GALF")) << stem;
        EXPECT_EQ(bytes(pak.begin() + 16, pak.begin() + 24), text_bytes("0A0B0C0D")) << stem;
        const std::uint32_t author_length = r32(pak, 24, byte_order::little);
        ASSERT_LE(author_length, 64u) << stem;
        EXPECT_EQ(r32(pak, 28 + author_length, byte_order::little), type) << stem;
        EXPECT_TRUE(contains(pak, ecusim::certificates::package())) << stem;
        EXPECT_TRUE(contains(group, pak)) << stem;
    }
}

// Sizes of a technician's packages: each image type its own number of blocks; the files of
// the usual sizes are smaller by exactly the blocks they lack.
TEST_F(package_set, each_image_type_may_have_a_size_of_its_own) {
    ecusim::make_packages("0A0B0C0D", (dir / "usual").string());
    ecusim::make_packages("0A0B0C0D", (dir / "own").string(), ecusim::image_blocks{512, 448, 128, 64});
    const std::pair<const char*, std::uint32_t> types[] = {
        {"firmware", 512 - 24}, {"fixed_model", 448 - 12}, {"dynamic_model", 128 - 6}, {"boot_loader", 64 - 4}};
    for (const auto& [stem, more_blocks] : types) {
        const std::string name = std::string("0A0B0C0D_") + stem + ".pak";
        EXPECT_EQ(fs::file_size(dir / "own" / name) - fs::file_size(dir / "usual" / name), more_blocks * 2048u) << stem;
    }
}

TEST_F(package_set, bad_serial_writes_nothing) {
    EXPECT_THROW(ecusim::make_packages("0A0B0C0", dir.string()), std::invalid_argument);
    EXPECT_THROW(ecusim::make_packages("0A0B0C0Z", dir.string()), std::invalid_argument);
    EXPECT_FALSE(fs::exists(dir));
}

}  // namespace
