// The virtual ECU's answers, driven through ecu::process with hand-built request bytes.
#include "ecusim/ecu_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "ecusim/certificates.h"
#include "ecusim/command_codes.h"
#include "ecusim/der_reader.h"
#include "tests/ecusim/wire_bytes.h"

namespace {

using namespace ecusim_test;
using ecusim::ecu;
using ecusim::ecu_config;
using ecusim::ecu_mode;
using ecusim::reply;

constexpr std::uint16_t header_malformed = 0x0002;

const char* order_name(const testing::TestParamInfo<byte_order>& p) {
    return p.param == byte_order::big ? "big" : "little";
}

reply run(ecu& e, std::uint8_t code, const bytes& request, byte_order o, std::uint16_t buffer = 4088) {
    return e.process(std::uint16_t(0xCD00 | code), buffer, request, o);
}

// ConfigurationFindChannelByNameRequest_TS with the name and its terminating zero.
bytes find_request(const std::string& name, byte_order o) {
    const auto count = std::uint16_t(name.size() + 1);
    return cat({{0x01, std::uint8_t(count >> 8), std::uint8_t(count & 0xFF), 0x00}, bytes(4, 0), w16(0, o), {0, 0},
                text_bytes(name), {0x00}});
}

// GenericArray_DTS of one 16-bit channel number.
bytes read_request(std::uint16_t channel, byte_order o) { return cat({{0x02, 0x00, 0x01, 0x00}, bytes(4, 0), w16(channel, o)}); }

struct security_fields {
    std::uint8_t command = 0;
    bytes key0{}, key1{}, data{};
    std::uint32_t address = 0, misc0 = 0;
    std::uint16_t format = 0;
};

// Security_BlockRequest_DTS: command @0, size @2, format @4, key0 @8, key1 @16, address @24,
// misc0 @28, misc1 @32, misc2 @36, data @40; fixed 48; byte arrays follow without gaps.
bytes security_request(const security_fields& f, byte_order o) {
    auto descriptor = [](const bytes& b) {
        return bytes{0x01, std::uint8_t(b.size() >> 8), std::uint8_t(b.size() & 0xFF), 0x00, 0, 0, 0, 0};
    };
    return cat({{f.command, 0x00}, w16(0, o), w16(f.format, o), {0, 0}, descriptor(f.key0), descriptor(f.key1),
                w32(f.address, o), w32(f.misc0, o), bytes(8, 0), descriptor(f.data), f.key0, f.key1, f.data});
}

// A GenericStatusStringResponse_DTS as the host reads it.
struct status_string {
    std::uint32_t status = 0;
    std::uint8_t element_size = 0;
    bytes str;
};

status_string read_status_string(const bytes& b, byte_order o) {
    status_string s;
    s.status = r32(b, 0, o);
    s.element_size = b.at(4);
    const std::size_t count = std::size_t(b.at(5)) << 8 | b.at(6);
    EXPECT_EQ(b.at(13) << 8 | b.at(14), 0) << "no trailing data expected";
    EXPECT_EQ(b.size(), 20 + count * s.element_size);
    s.str.assign(b.begin() + 20, b.begin() + std::ptrdiff_t(std::min(b.size(), 20 + count * s.element_size)));
    return s;
}

// Certificate keys as the host sends them: a 128-byte modulus and a 3-byte exponent.
security_fields certificate_key_request(std::span<const std::uint8_t> certificate) {
    const auto key = ecusim::certificate_public_key(certificate);
    EXPECT_TRUE(key);
    security_fields f;
    f.command = 3;
    f.key0 = bytes(128 - key->modulus.size(), 0);
    f.key0.insert(f.key0.end(), key->modulus.begin(), key->modulus.end());
    f.key1 = bytes(3 - key->exponent.size(), 0);
    f.key1.insert(f.key1.end(), key->exponent.begin(), key->exponent.end());
    return f;
}

class ecu_answers : public testing::TestWithParam<byte_order> {
protected:
    byte_order o = GetParam();
};

TEST_P(ecu_answers, target_version_is_zero_in_boot_loader_and_configured_in_application) {
    struct row {
        ecu_mode mode;
        std::uint32_t version;
        std::uint32_t expected;
    };
    for (const row r : {row{ecu_mode::boot, 95, 0}, row{ecu_mode::app, 95, 95}, row{ecu_mode::app, 94, 94}}) {
        ecu_config c;
        c.mode = r.mode;
        c.app_transferstructs_version = r.version;
        c.firmware_version = 0x01020304;
        ecu e(c);
        const reply a = run(e, 0, {}, o, 8);
        EXPECT_EQ(a.status, 0);
        EXPECT_EQ(a.response_type, 0xCD00);
        EXPECT_EQ(a.data, cat({w32(0x01020304, o), w32(r.expected, o)}));
    }
}

TEST_P(ecu_answers, system_descriptor_starts_with_board_model_and_has_channel_count_at_18) {
    ecu_config c;
    c.board_model = "QX-ECU";
    c.max_configuration_channels = 0x0123;
    ecu e(c);
    const reply a = run(e, 75, {}, o);
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(a.data.size(), 40u);
    EXPECT_EQ(bytes(a.data.begin(), a.data.begin() + 8), (bytes{'Q', 'X', '-', 'E', 'C', 'U', 0, 0}));
    EXPECT_EQ(r16(a.data, 18, o), 0x0123);
}

TEST_P(ecu_answers, finds_connect_channels_by_name_and_reads_their_values) {
    ecu_config c;
    c.extra_channels = {{"Boost [kPa]", 101.5f}};
    c.raw_logging = true;
    ecu e(c);
    std::vector<std::uint16_t> seen;
    for (const char* name : {"ModChangeState [bool]", "ConfigurationDirty", "ConfigurationRunning [bool]",
                             "LoggingActive [bool]", "TimeHigh [us/10]", "TimeLow [us/10]", "HostUsbDevicePresent",
                             "LoggingMode", "Boost [kPa]"}) {
        const reply a = run(e, 57, find_request(name, o), o, 2);
        ASSERT_EQ(a.data.size(), 2u) << name;
        const std::uint16_t n = r16(a.data, 0, o);
        EXPECT_NE(n, 0xFFFF) << name;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), n), 0) << name;
        seen.push_back(n);
    }
    auto value = [&](std::uint16_t channel) {
        const reply a = run(e, 23, read_request(channel, o), o);
        EXPECT_EQ(a.data.size(), 12u);
        EXPECT_EQ(a.data.at(0), 4);  // floats
        EXPECT_EQ(a.data.at(2), 1);
        return rfloat(a.data, 8, o);
    };
    EXPECT_EQ(value(seen[8]), 101.5f);
    EXPECT_EQ(value(seen[6]), 1.0f);  // USB storage present
    EXPECT_EQ(value(seen[7]), 1.0f);  // raw logging
    EXPECT_EQ(value(seen[2]), 1.0f);
    run(e, 17, {}, o);
    EXPECT_EQ(value(seen[2]), 0.0f);  // ConfigurationRunning follows the state
}

TEST_P(ecu_answers, unknown_channel_name_answers_invalid_channel) {
    ecu e(ecu_config{});
    for (const char* name : {"NoSuchChannel", "LoggingMod", "LoggingModeX", "loggingmode", ""}) {
        const reply a = run(e, 57, find_request(name, o), o, 2);
        EXPECT_EQ(a.status, 0) << name;
        EXPECT_EQ(a.data, (bytes{0xFF, 0xFF})) << name;
    }
}

TEST_P(ecu_answers, mode_stop_answers_bad_state_when_already_stopped) {
    ecu e(ecu_config{});
    EXPECT_EQ(run(e, 56, {}, o, 1).data, bytes{1});
    const auto first = read_status_string(run(e, 17, {}, o).data, o);
    EXPECT_EQ(first.status, 0u);
    EXPECT_EQ(run(e, 56, {}, o, 1).data, bytes{0});
    const auto second = read_status_string(run(e, 17, {}, o).data, o);
    EXPECT_EQ(second.status, 0x50000002u);
    EXPECT_FALSE(second.str.empty());
    EXPECT_EQ(read_status_string(run(e, 16, {}, o).data, o).status, 0u);
    EXPECT_EQ(run(e, 56, {}, o, 1).data, bytes{1});
}

TEST_P(ecu_answers, security_3_accepts_root_and_package_keys_and_answers_its_certificate) {
    for (const auto& [certificate, kind] : {std::pair{ecusim::certificates::root(), "root"},
                                           std::pair{ecusim::certificates::package(), "package"}}) {
        ecu_config c;
        c.mode = ecu_mode::boot;
        c.serial = {0x0A, 0x0B, 0xC0, 0x0D};
        ecu e(c);
        const reply a = run(e, 6, security_request(certificate_key_request(certificate), o), o);
        ASSERT_EQ(a.status, 0) << kind;
        const auto s = read_status_string(a.data, o);
        EXPECT_EQ(s.status, 0u) << kind;
        const auto serial = ecusim::certificate_serial(s.str);
        ASSERT_TRUE(serial) << kind;
        ASSERT_EQ(serial->length, 8u);
        EXPECT_EQ(bytes(s.str.begin() + std::ptrdiff_t(serial->offset), s.str.begin() + std::ptrdiff_t(serial->offset + 8)),
                  (bytes{0x0A, 0x0B, 0xC0, 0x0D, 0x00, 0x00, 0x00, 0x01}));
        EXPECT_EQ(e.state().accepted_certificate, kind);
    }
}

TEST_P(ecu_answers, security_3_with_configured_certificates_answers_the_device_certificate_with_its_serial) {
    const bytes trusted = make_certificate({0x01}, sample_modulus(3), {0x01, 0x00, 0x01});
    const bytes device = make_certificate({0x11, 0x22, 0x33, 0x44, 0x00, 0x00, 0x00, 0x09}, sample_modulus(5), {0x03});
    ecu_config c;
    c.serial = {0xDE, 0xAD, 0x00, 0x01};
    c.trusted_certificates = {trusted};
    c.device_certificate = device;
    ecu e(c);
    security_fields f;
    f.command = 3;
    f.key0 = sample_modulus(3);
    f.key1 = {0x01, 0x00, 0x01};
    const auto s = read_status_string(run(e, 6, security_request(f, o), o).data, o);
    ASSERT_EQ(s.status, 0u);
    bytes expected = device;
    const auto at = std::search(expected.begin(), expected.end(), c.serial.begin(), c.serial.end()) - expected.begin();
    EXPECT_EQ(at, expected.end() - expected.begin()) << "the serial must come from the ECU, not the template";
    const bytes template_serial{0x11, 0x22, 0x33, 0x44};
    const auto pos = std::search(expected.begin(), expected.end(), template_serial.begin(), template_serial.end());
    std::copy(c.serial.begin(), c.serial.end(), pos);
    EXPECT_EQ(s.str, expected);
}

TEST_P(ecu_answers, security_3_with_another_key_answers_a_security_status) {
    ecu_config c;
    c.mode = ecu_mode::boot;
    ecu e(c);
    auto f = certificate_key_request(ecusim::certificates::root());
    f.key0[100] ^= 0x01;
    const auto s = read_status_string(run(e, 6, security_request(f, o), o).data, o);
    EXPECT_GE(s.status, 0x71000001u);
    EXPECT_LE(s.status, 0x7100001Au);
    EXPECT_TRUE(e.state().accepted_certificate.empty());
    EXPECT_EQ(e.state().rejected_keys, 1u);
}

TEST_P(ecu_answers, security_10_answers_the_serial_in_application_mode_only) {
    ecu_config c;
    c.serial = {0x01, 0x02, 0x0A, 0xFF};
    ecu app(c);
    const auto s = read_status_string(run(app, 6, security_request({.command = 10}, o), o).data, o);
    EXPECT_EQ(s.status, 0u);
    EXPECT_EQ(s.element_size, 1);
    EXPECT_EQ(s.str, (bytes{0x01, 0x02, 0x0A, 0xFF}));

    c.mode = ecu_mode::boot;
    ecu boot(c);
    EXPECT_NE(read_status_string(run(boot, 6, security_request({.command = 10}, o), o).data, o).status, 0u);
}

TEST_P(ecu_answers, security_11_answers_the_flash_device_identifier_as_a_word) {
    ecu_config c;
    c.flash_device_id = 0x2780;
    ecu e(c);
    const auto s = read_status_string(run(e, 6, security_request({.command = 11}, o), o).data, o);
    EXPECT_EQ(s.status, 0u);
    EXPECT_EQ(s.element_size, 2);
    EXPECT_EQ(s.str, w16(0x2780, o));
}

TEST_P(ecu_answers, security_9_and_8_record_2048_byte_blocks_by_flash_address) {
    ecu_config c;
    c.mode = ecu_mode::boot;
    ecu e(c);
    auto send = [&](std::uint8_t command, std::uint32_t misc0, std::uint8_t fill, std::size_t size = 2048) {
        security_fields f{.command = command, .data = bytes(size, fill), .address = 0xFFF9F800, .misc0 = misc0, .format = 4};
        return read_status_string(run(e, 6, security_request(f, o), o).data, o).status;
    };
    auto key_block = [&](std::uint8_t fill) {
        return read_status_string(run(e, 6, security_request({.command = 6, .key0 = bytes(128, fill)}, o), o).data, o).status;
    };
    auto erase = [&](std::uint32_t start, std::uint32_t count) { run(e, 4, cat({w32(start, o), w32(count, o)}), o, 0); };
    erase(0x00100000, 1);
    erase(0x80100000, 16);
    EXPECT_NE(send(9, 0x00100000, 0x11), 0u) << "blocks need the key block first";
    EXPECT_EQ(key_block(0x6B), 0u);
    EXPECT_EQ(send(9, 0x00100000, 0x11), 0u);
    EXPECT_EQ(send(9, 0x00100800, 0x22), 0u);
    EXPECT_NE(send(9, 0x00101000, 0x55, 2047), 0u);
    EXPECT_EQ(key_block(0x6C), 0u);
    EXPECT_EQ(send(8, 0, 0x33), 0u);
    EXPECT_EQ(send(8, 0, 0x44), 0u);

    const auto& flash = e.state().flash;
    ASSERT_EQ(flash.size(), 4u);
    EXPECT_EQ(flash.at(0x00100000), bytes(2048, 0x11));
    EXPECT_EQ(flash.at(0x00100800), bytes(2048, 0x22));
    EXPECT_EQ(flash.at(0x80100000), bytes(2048, 0x33));
    EXPECT_EQ(flash.at(0x80100800), bytes(2048, 0x44));
    ASSERT_EQ(e.state().blocks.size(), 4u);
    EXPECT_EQ(e.state().blocks[0].format, 4);
    EXPECT_EQ(e.state().blocks[0].buffer_address, 0xFFF9F800u);

    // A second dynamic model image, after its own key block and erase, starts at the area's
    // base again; the erase blanked what the first one left.
    erase(0x80100000, 16);
    EXPECT_EQ(key_block(0x6D), 0u);
    EXPECT_EQ(send(8, 0, 0x66), 0u);
    EXPECT_EQ(e.state().flash.at(0x80100000), bytes(2048, 0x66));
    EXPECT_EQ(e.state().flash.count(0x80100800), 0u);
}

// The flash map: a block is programmed only inside one image type's area, on erased flash, in
// the same area as the image's first block.
struct flash_case {
    const char* name;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> erases;
    std::vector<std::uint32_t> blocks;  // misc0 of sub-function 9 blocks of one image, in order
    std::size_t accepted;               // how many of them the ECU takes before the first refusal
};

void PrintTo(const flash_case& c, std::ostream* os) { *os << c.name; }

class ecu_flash_map : public testing::TestWithParam<flash_case> {};

TEST_P(ecu_flash_map, programs_only_erased_flash_of_the_image_area) {
    const flash_case& fc = GetParam();
    constexpr auto o = byte_order::big;
    ecu_config c;
    c.mode = ecu_mode::boot;
    ecu e(c);
    for (const auto& [start, count] : fc.erases) run(e, 4, cat({w32(start, o), w32(count, o)}), o, 0);
    run(e, 6, security_request({.command = 6, .key0 = bytes(128, 0x6B)}, o), o);
    std::size_t accepted = 0;
    for (const std::uint32_t at : fc.blocks) {
        const security_fields f{.command = 9, .data = bytes(2048, 0x5A), .address = 0xFFF9F800, .misc0 = at, .format = 4};
        const status_string answer = read_status_string(run(e, 6, security_request(f, o), o).data, o);
        if (answer.status != 0) {
            EXPECT_EQ(answer.status, 0x71000001u);
            break;
        }
        ++accepted;
    }
    EXPECT_EQ(accepted, fc.accepted);
    EXPECT_EQ(e.state().blocks.size(), fc.accepted) << "a refused block is not programmed";
}

INSTANTIATE_TEST_SUITE_P(
    ecu, ecu_flash_map,
    testing::Values(
        flash_case{"firmware_in_its_erased_sectors", {{0, 8}, {0x10000, 1}}, {0, 0x800, 0xF800, 0x10000, 0x1F800}, 5},
        flash_case{"firmware_past_its_erased_sectors", {{0, 8}}, {0xF800, 0x10000}, 1},
        flash_case{"not_erased_at_all", {}, {0x1E0000}, 0},
        flash_case{"a_page_programmed_twice", {{0x1E0000, 1}}, {0x1E0000, 0x1E0000}, 1},
        flash_case{"firmware_running_into_the_fixed_model", {{0xE0000, 1}, {0x100000, 1}}, {0xFF800, 0x100000}, 1},
        flash_case{"fixed_model_running_into_the_boot_loader", {{0x1C0000, 1}, {0x1E0000, 1}}, {0x1DF800, 0x1E0000}, 1},
        flash_case{"outside_every_area", {{0x1E0000, 1}}, {0x200000}, 0},
        flash_case{"erases_that_start_inside_a_sector_erase_nothing", {{0x1000, 1}, {0x100800, 1}}, {0x1000, 0x100800}, 0},
        flash_case{"an_erase_running_past_its_area_erases_nothing", {{0x1E0000, 2}}, {0x1E0000}, 0},
        flash_case{"a_multi_sector_erase_spans_sector_sizes", {{0xE000, 2}}, {0xE000, 0x10000, 0x1F800}, 3}),
    [](const testing::TestParamInfo<flash_case>& p) { return std::string(p.param.name); });

TEST_P(ecu_answers, erase_blocks_are_recorded_in_order) {
    ecu_config c;
    c.mode = ecu_mode::boot;
    ecu e(c);
    const std::pair<std::uint32_t, std::uint32_t> plan[] = {{0x0C000000, 32}, {0x80100000, 16}, {0x00100000, 1}};
    for (const auto& [start, count] : plan) {
        const reply a = run(e, 4, cat({w32(start, o), w32(count, o)}), o, 0);
        EXPECT_EQ(a.status, 0);
        EXPECT_TRUE(a.data.empty());
    }
    ASSERT_EQ(e.state().erases.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(e.state().erases[i].start_block, plan[i].first);
        EXPECT_EQ(e.state().erases[i].number_of_blocks, plan[i].second);
    }
}

// The power-sequence reset: pin kind 4, then pin kind 1 with a value, as packets of
// SH_TO_PERIPHERAL_COMMAND; the packet is a byte array and so in host order on every link.
TEST_P(ecu_answers, peripheral_reset_sequence_asks_for_a_restart) {
    ecu e(ecu_config{});
    auto packet = [&](const bytes& io) {
        return cat({{10, 0, 0, 0}, {0x01, 0x00, std::uint8_t(io.size()), 0x00}, bytes(4, 0), io});
    };
    const reply arm = run(e, 11, packet({1, 4, 0x01, 0x00, 0, 0, 0, 0}), o);
    ASSERT_EQ(arm.status, 0);
    EXPECT_EQ(arm.data, (bytes{0x01, 0x00, 0x0C, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0, 0}));
    EXPECT_FALSE(arm.reset);
    const reply go = run(e, 11, packet({1, 1, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00}), o);
    EXPECT_TRUE(go.reset);
    EXPECT_EQ(r32(go.data, 8, byte_order::little), 0u);
    EXPECT_EQ(r32(go.data, 12, byte_order::little), 0x1000u);
}

TEST_P(ecu_answers, boot_loader_does_not_answer_application_commands) {
    ecu_config c;
    c.mode = ecu_mode::boot;
    ecu e(c);
    EXPECT_NE(run(e, 75, {}, o).status, 0);
    EXPECT_NE(run(e, 57, find_request("LoggingMode", o), o, 2).status, 0);
}

INSTANTIATE_TEST_SUITE_P(ecu, ecu_answers, testing::Values(byte_order::big, byte_order::little), order_name);

// Every failure text is one zero-terminated run of printable bytes with element size 1.
struct failing_request {
    const char* name;
    ecu_mode mode;
    std::uint8_t code;
    security_fields security{};  // used when code is SECURITY_COMMAND
    unsigned repeat = 1;       // the last answer is checked
};

class ecu_status_text : public testing::TestWithParam<failing_request> {};

TEST_P(ecu_status_text, is_well_formed) {
    const auto& p = GetParam();
    for (const byte_order o : {byte_order::big, byte_order::little}) {
        ecu_config c;
        c.mode = p.mode;
        ecu e(c);
        const bytes request = p.code == 6 ? security_request(p.security, o) : bytes{};
        reply a;
        for (unsigned i = 0; i < p.repeat; ++i) a = run(e, p.code, request, o);
        ASSERT_EQ(a.status, 0);
        const auto s = read_status_string(a.data, o);
        EXPECT_NE(s.status, 0u);
        EXPECT_EQ(s.element_size, 1);
        ASSERT_GE(s.str.size(), 2u);
        EXPECT_EQ(s.str.back(), 0);
        EXPECT_TRUE(std::all_of(s.str.begin(), s.str.end() - 1, [](std::uint8_t ch) { return std::isprint(ch) != 0; }));
    }
}

INSTANTIATE_TEST_SUITE_P(
    ecu, ecu_status_text,
    testing::Values(failing_request{"mode_stop_twice", ecu_mode::app, 17, {}, 2},
                    failing_request{"mode_run_while_running", ecu_mode::app, 16, {}},
                    failing_request{"unknown_sub_function", ecu_mode::boot, 6, {.command = 99}},
                    failing_request{"certificate_without_key", ecu_mode::boot, 6, {.command = 3}},
                    failing_request{"certificate_short_modulus", ecu_mode::boot, 6,
                                    {.command = 3, .key0 = bytes(64, 1), .key1 = {1, 0, 1}}},
                    failing_request{"untrusted_key", ecu_mode::boot, 6,
                                    {.command = 3, .key0 = bytes(128, 0x42), .key1 = {1, 0, 1}}},
                    failing_request{"key_block_of_127_bytes", ecu_mode::boot, 6, {.command = 6, .key0 = bytes(127, 1)}},
                    failing_request{"block_without_key", ecu_mode::boot, 6, {.command = 9, .data = bytes(2048, 1)}},
                    failing_request{"serial_in_boot_loader", ecu_mode::boot, 6, {.command = 10}},
                    failing_request{"dump_piece_of_size_0", ecu_mode::boot, 6, {.command = 13}}),
    [](const testing::TestParamInfo<failing_request>& p) { return std::string(p.param.name); });

// A request that does not hold what it promises gets header status malformed, never a crash.
struct truncated_request {
    const char* name;
    std::uint8_t code;
    bytes request;
};

class ecu_malformed : public testing::TestWithParam<truncated_request> {};

TEST_P(ecu_malformed, answers_header_status_malformed) {
    ecu e(ecu_config{});
    const reply a = run(e, GetParam().code, GetParam().request, byte_order::big);
    EXPECT_EQ(a.status, header_malformed);
    EXPECT_TRUE(a.data.empty());
}

INSTANTIATE_TEST_SUITE_P(
    ecu, ecu_malformed,
    testing::Values(truncated_request{"erase_of_7_bytes", 4, bytes(7, 0)},
                    truncated_request{"find_channel_shorter_than_fixed_part", 57, bytes{0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0}},
                    truncated_request{"find_channel_name_beyond_request", 57,
                                      cat({{0x01, 0x00, 0x10, 0x00}, bytes(8, 0), text_bytes("Log")})},
                    truncated_request{"read_channels_count_beyond_request", 23,
                                      cat({{0x02, 0x00, 0x02, 0x00}, bytes(4, 0), {0x01, 0x00}})},
                    truncated_request{"read_channels_of_bytes", 23, cat({{0x01, 0x00, 0x01, 0x00}, bytes(4, 0), {0x01}})},
                    truncated_request{"blank_check_without_size", 5, bytes(4, 0)},
                    truncated_request{"security_fixed_part_cut", 6, bytes(47, 0)},
                    truncated_request{"peripheral_io_control_cut", 10, bytes(7, 0)}),
    [](const testing::TestParamInfo<truncated_request>& p) { return std::string(p.param.name); });

TEST(ecu_malformed_prefixes, every_prefix_of_a_security_request_is_malformed) {
    const bytes full = security_request({.command = 9, .key0 = bytes(5, 1), .data = bytes(2048, 2)}, byte_order::big);
    ecu_config c;
    c.mode = ecu_mode::boot;
    ecu e(c);
    for (std::size_t n = 0; n < full.size(); ++n) {
        const reply a = e.process(0xCD06, 4088, std::span(full).first(n), byte_order::big);
        ASSERT_EQ(a.status, header_malformed) << n;
    }
}

TEST(ecu_malformed_prefixes, command_type_outside_the_command_range_is_malformed) {
    ecu e(ecu_config{});
    EXPECT_EQ(e.process(0xAB00, 8, {}, byte_order::big).status, header_malformed);
}

// Faults injected through process.
class ecu_faults : public testing::Test {
protected:
    reply run_with(const char* plan, std::uint8_t code, const bytes& request = {}, std::uint16_t buffer = 4088) {
        ecu_config c;
        c.faults = ecusim::fault_plan::parse(plan);
        e = std::make_unique<ecu>(c);
        return run(*e, code, request, byte_order::big, buffer);
    }
    std::unique_ptr<ecu> e;
};

TEST_F(ecu_faults, status_answers_header_status_without_data) {
    const reply a = run_with("code=0:status=0x1234", 0, {}, 8);
    EXPECT_EQ(a.status, 0x1234);
    EXPECT_TRUE(a.data.empty());
}

TEST_F(ecu_faults, rstatus_replaces_the_leading_status_of_a_normal_answer) {
    const reply a = run_with("code=17:rstatus=0x80000005", 17);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(read_status_string(a.data, byte_order::big).status, 0x80000005u);
    EXPECT_FALSE(e->state().configuration_running) << "the command itself still runs";
}

TEST_F(ecu_faults, oversize_sends_64_bytes_more_than_the_host_buffer) {
    EXPECT_EQ(run_with("code=75:oversize", 75, {}, 40).data.size(), 104u);
}

TEST_F(ecu_faults, garbage_replaces_the_data_and_keeps_its_size) {
    const bytes normal = run_with("", 75).data;
    const bytes garbled = run_with("code=75:garbage", 75).data;
    EXPECT_EQ(garbled.size(), normal.size());
    EXPECT_NE(garbled, normal);
}

TEST_F(ecu_faults, code_ordinal_picks_the_kth_command_of_that_code_only) {
    run_with("code=56#2:status=9", 56, {}, 1);
    EXPECT_EQ(run(*e, 0, {}, byte_order::big, 8).status, 0);
    EXPECT_EQ(run(*e, 56, {}, byte_order::big, 1).status, 9);
    EXPECT_EQ(run(*e, 56, {}, byte_order::big, 1).status, 0);
}

TEST_F(ecu_faults, unplug_and_mute_give_no_answer_and_are_passed_to_the_front_end) {
    const reply a = run_with("n=1:unplug:replug=50", 0, {}, 8);
    EXPECT_TRUE(a.faults.unplug);
    EXPECT_EQ(a.faults.replug_ms, 50u);
    EXPECT_TRUE(a.data.empty());
    EXPECT_TRUE(run_with("n=1:mute", 4, bytes(8, 0), 0).faults.mute);
    EXPECT_TRUE(e->state().erases.empty()) << "a swallowed command is not executed";
}

}  // namespace
