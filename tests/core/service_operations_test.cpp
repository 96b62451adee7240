// The service operations against the virtual ECU.
#include <cstring>

#include <gtest/gtest.h>

#include "core/certificate_reader.h"
#include "ecusim/certificates.h"
#include "protocol/commands.h"
#include "tests/core/ecu_fixture.h"

namespace qx::testing {
namespace {

using cm = connection_manager;
using bytes = std::vector<std::uint8_t>;

class service : public on_both_links {};
INSTANTIATE_TEST_SUITE_P(links, service, ::testing::Values(link_kind::usb, link_kind::simulator), link_name);

// Runs f, expecting an exception of class E; check sees it by reference, whole.
template <class E, class F, class Check>
void expect_throw(F f, Check check) {
    try {
        f();
    } catch (const E& e) {
        check(e);
        return;
    }
    ADD_FAILURE() << "expected exception not thrown";
}
template <class E, class F>
E expect_throw(F f) {
    E caught;
    expect_throw<E>(f, [&](const E& e) { caught = e; });
    return caught;
}

TEST_P(service, stopping_a_stopped_configuration_is_bad_state_with_the_ecu_text) {
    cm& m = connected();
    m.execute_command(protocol::CONFIGURATION_MODE_STOP);
    const auto e = expect_throw<cm::exception_bad_state>([&] { m.execute_command(protocol::CONFIGURATION_MODE_STOP); });
    EXPECT_EQ(e.code, 0x50000002u);
    EXPECT_EQ(e.message, "Configuration already stopped");
}

struct status_case {
    std::uint32_t status;
    const char* kind;
};

class plain_status : public ::testing::TestWithParam<status_case> {};
INSTANTIATE_TEST_SUITE_P(statuses, plain_status,
                         ::testing::Values(status_case{0x50000002, "bad_state"}, status_case{0x80000005, "not_found"},
                                           status_case{0x80000006, "found"}, status_case{0x80000007, "mismatch"},
                                           status_case{0x12345678, "command_error"}));

const char* kind_of(const cm::exception_command_error& e) {
    if (dynamic_cast<const cm::exception_bad_state*>(&e)) return "bad_state";
    if (dynamic_cast<const cm::exception_not_found*>(&e)) return "not_found";
    if (dynamic_cast<const cm::exception_found*>(&e)) return "found";
    if (dynamic_cast<const cm::exception_mismatch*>(&e)) return "mismatch";
    if (dynamic_cast<const cm::exception_security_key*>(&e)) return "security_key";
    if (dynamic_cast<const cm::exception_security_error*>(&e)) return "security_error";
    return "command_error";
}

TEST_P(plain_status, maps_to_its_class_with_the_code_and_a_composed_message) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", GetParam().status);
    ecu_link ecu(link_kind::simulator, "--faults code=17:rstatus=" + std::to_string(GetParam().status));
    cm& m = *ecu.manager;
    m.connect();
    expect_throw<cm::exception_command_error>([&] { m.execute_command(protocol::CONFIGURATION_MODE_STOP); },
                                              [&](const cm::exception_command_error& e) {
                                                  EXPECT_STREQ(kind_of(e), GetParam().kind);
                                                  EXPECT_EQ(e.code, GetParam().status);
                                                  EXPECT_EQ(e.message, std::string("Target returned error code (0x") + digits + ")");
                                              });
}

TEST(security_status, just_past_the_security_range_is_a_plain_command_error) {
    for (const auto& [status_value, kind_name] : {std::pair{0x7100001Bu, "command_error"}, std::pair{0x71000006u, "security_key"},
                                                   std::pair{0x7100001Au, "security_error"}}) {
        const std::uint32_t status = status_value;
        const char* const kind = kind_name;
        ecu_link ecu(link_kind::simulator, "--faults code=6:rstatus=" + std::to_string(status));
        cm& m = *ecu.manager;
        m.connect();
        cm::security_request r;
        r.sub_function = SECURITY_TEST_FUNCTION_GET_FLASH_DEVICE;
        expect_throw<cm::exception_command_error>([&] { m.security_command(r); },
                                                  [&](const cm::exception_command_error& e) {
                                                      EXPECT_STREQ(kind_of(e), kind) << std::hex << status;
                                                      EXPECT_EQ(e.code, status);
                                                  });
    }
}

TEST_P(service, configuration_running_is_asked_only_of_a_connected_application) {
    cm& m = start();
    EXPECT_FALSE(m.is_configuration_running());
    m.connect();
    EXPECT_TRUE(m.is_configuration_running());
    m.execute_command(protocol::CONFIGURATION_MODE_STOP);
    EXPECT_FALSE(m.is_configuration_running());
    cm& boot = connected("--mode boot");
    EXPECT_FALSE(boot.is_configuration_running());
}

TEST(configuration_running, a_failed_query_reads_as_not_running) {
    ecu_link ecu(link_kind::usb, "--faults code=56:status=0x0007");
    ecu.manager->connect();
    EXPECT_FALSE(ecu.manager->is_configuration_running());
    EXPECT_EQ(ecu.commands_of(protocol::CONFIGURATION_QUERY_STATE), 1u);
}

TEST_P(service, an_unknown_channel_name_is_invalid_channel_holding_the_name) {
    cm& m = connected();
    const auto e = expect_throw<cm::exception_invalid_channel>([&] { m.find_channel("NoSuchChannel"); });
    EXPECT_EQ(e.channel_name, "NoSuchChannel");
    EXPECT_EQ(e.detail, "");
    EXPECT_EQ(e.message, "");
}

TEST_P(service, channels_are_found_by_name_and_read_with_and_without_the_cache) {
    cm& m = connected("--channel \"Coolant Temp [C]=87.5\"");
    const std::uint16_t n = m.find_channel("Coolant Temp [C]");
    EXPECT_FLOAT_EQ(m.read_channel(n), 87.5f);
    EXPECT_FLOAT_EQ(m.channel_values[n], 87.5f);
    m.channel_values[n] = -1.0f;
    m.cache_channel_values = false;
    EXPECT_FLOAT_EQ(m.read_channel(n), 87.5f);
    EXPECT_FLOAT_EQ(m.channel_values[n], -1.0f);
    // The ECU insists on the name's terminating zero and nothing behind it.
    if (ecu->inspectable()) {
        EXPECT_EQ(ecu->state().channel_lookups.back(), "Coolant Temp [C]");
        EXPECT_EQ(ecu->state().framing_errors, 0u);
    }
}

struct logging_case {
    const char* options;
    std::uint32_t mode;
};

class logging : public ::testing::TestWithParam<logging_case> {};
INSTANTIATE_TEST_SUITE_P(
    modes, logging,
    ::testing::Values(logging_case{"--no-usb-storage", 3}, logging_case{"--without-channel HostUsbDevicePresent", 3},
                      logging_case{"--channel LoggingMode=0.4", 0}, logging_case{"--channel LoggingMode=1.0", 1},
                      logging_case{"--channel LoggingMode=1.5", 2}, logging_case{"--without-channel LoggingMode", 2},
                      logging_case{"--raw-logging", 1}, logging_case{"", 0}));

TEST_P(logging, mode_follows_the_storage_and_logging_channels) {
    ecu_link ecu(link_kind::simulator, GetParam().options);
    ecu.manager->connect();
    EXPECT_EQ(ecu.manager->logging_mode(), GetParam().mode) << GetParam().options;
}

TEST(security_command, format_selector_and_sub_function_reach_the_ecu_as_given) {
    ecu_link ecu(link_kind::usb, "--any-address");  // blocks without an erase plan
    cm& m = *ecu.manager;
    m.connect();
    const bytes key(128, 0x11);
    cm::security_request keys;
    keys.sub_function = SECURITY_TEST_FUNCTION_SEND_SYMMETRIC_KEYS;
    keys.key0 = key;
    m.security_command(keys);
    EXPECT_EQ(ecu.state().key_block, key);
    const bytes block(2048, 0x3C);
    for (unsigned selector = 0; selector <= 5; ++selector) {
        cm::security_request r;
        r.sub_function = SECURITY_TEST_FUNCTION_AES_DECRYPT_BLOCK_TO_MEMORY;
        r.format_selector = selector;
        r.address = 0xFFF9F800;
        r.misc0 = 0x10000 + selector * 2048;
        r.data = block;
        m.security_command(r);
    }
    const auto blocks = ecu.state().blocks;
    ASSERT_EQ(blocks.size(), 6u);
    const std::uint16_t formats[] = {0, 2, 4, 6, 8, 0};
    for (unsigned i = 0; i < 6; ++i) {
        EXPECT_EQ(blocks[i].format, formats[i]) << "selector " << i;
        EXPECT_EQ(blocks[i].buffer_address, 0xFFF9F800u);
        EXPECT_EQ(blocks[i].flash_address, 0x10000u + i * 2048);
        EXPECT_EQ(blocks[i].data, block);
    }
    // A sub-function out of range goes out as 0, which this ECU does not know.
    cm::security_request bad;
    bad.sub_function = 14;
    const auto e = expect_throw<cm::exception_security_error>([&] { m.security_command(bad); });
    EXPECT_EQ(e.message, "Unknown security sub-function");
}

TEST_P(service, security_output_receives_the_returned_bytes) {
    cm& m = connected("--flash-id 2780");
    cm::security_request r;
    r.sub_function = SECURITY_TEST_FUNCTION_GET_FLASH_DEVICE;
    std::array<std::uint8_t, 2> id{};
    EXPECT_EQ(m.security_command(r, id), 2u);
    std::uint16_t v;
    std::memcpy(&v, id.data(), 2);
    EXPECT_EQ(v, 0x2780);
    // A short output takes what fits; the count tells what there was.
    std::array<std::uint8_t, 1> one{};
    EXPECT_EQ(m.security_command(r, one), 2u);
}

std::span<const std::uint8_t> root() { return ecusim::certificates::root(); }

TEST_P(service, serial_number_in_application_and_boot_mode) {
    EXPECT_EQ(connected("--serial 01020aff").read_ecu_serial_number({}), "01020AFF");
    EXPECT_EQ(connected("--mode boot --serial 01020AFF").read_ecu_serial_number(root()), "01020AFF");
    EXPECT_EQ(connected("--mode boot --serial 0000BEEF").read_ecu_serial_number(ecusim::certificates::package()),
              "0000BEEF");
}

TEST_P(service, boot_serial_number_refuses_a_missing_or_untrusted_certificate) {
    cm& m = connected("--mode boot");
    const auto e = expect_throw<cm::exception_invalid_buffer>([&] { m.read_ecu_serial_number({}); });
    EXPECT_EQ(e.message, "Empty certificate");
    if (ecu->inspectable()) {
        EXPECT_EQ(ecu->commands_of(protocol::SECURITY_COMMAND), 0u);
    }
    // The device's own certificate is not one it trusts.
    expect_throw<cm::exception_security_key>([&] { m.read_ecu_serial_number(ecusim::certificates::device()); });
    const bytes garbage(300, 0x30);
    expect_throw<cm::exception_invalid_buffer>([&] { m.read_ecu_serial_number(garbage); });
}

TEST(peripheral_io, pins_become_io_control_packets_and_an_unknown_pin_sends_nothing) {
    ecu_link ecu(link_kind::usb, "");
    cm& m = *ecu.manager;
    m.connect();
    const auto e = expect_throw<cm::exception_invalid_pin>([&] { m.peripheral_io_control(2, 1); });
    EXPECT_EQ(e.message, "Given pin is invalid.");
    EXPECT_EQ(ecu.commands_of(protocol::SH_TO_PERIPHERAL_COMMAND), 0u);
    m.peripheral_io_control(1, 7);
    m.peripheral_io_control(5, 9);
    const auto io = ecu.state().io_controls;
    ASSERT_EQ(io.size(), 2u);
    EXPECT_EQ(io[0].function, 1);
    EXPECT_EQ(io[0].io_target, 1);
    EXPECT_EQ(io[0].io_data_w, 1);
    EXPECT_EQ(io[0].io_data_d, 7u);
    EXPECT_EQ(io[1].io_target, 5);
    EXPECT_EQ(io[1].io_data_w, 0);
    EXPECT_EQ(io[1].io_data_d, 0u);
}

TEST_P(service, peripheral_packet_returns_the_r8c_answer) {
    cm& m = connected();
    // An I/O control packet the R8C refuses (function 2) comes back with a non-zero status.
    const std::uint8_t packet[8] = {2, 1, 0, 0, 0, 0, 0, 0};
    std::array<std::uint8_t, 12> out{};
    EXPECT_EQ(m.send_peripheral_packet(packet, out), 12u);
    std::uint32_t status;
    std::memcpy(&status, out.data(), 4);
    EXPECT_NE(status, 0u);
}

// Responses whose arrays reach past the bytes that arrived are communication errors.
TEST(bounded_responses, truncated_arrays_are_send_command_failed) {
    for (const std::string fault : {"code=6:truncate=21", "code=23:truncate=9", "code=11:truncate=10"}) {
        ecu_link ecu(link_kind::simulator, "--faults " + fault);
        cm& m = *ecu.manager;
        m.connect();
        expect_throw<cm::exception_communication_error>([&] {
            cm::security_request r;
            r.sub_function = SECURITY_TEST_FUNCTION_GET_FLASH_DEVICE;
            m.security_command(r);
            m.read_channel(m.time_low_channel);
            m.send_peripheral_packet(std::array<std::uint8_t, 8>{1, 5, 0, 0, 0, 0, 0, 0});
        }, [&](const cm::exception_communication_error& e) {
            EXPECT_EQ(e.message, "SendCommand failed") << fault;
            EXPECT_TRUE(dynamic_cast<const cm::exception_command_error*>(&e) == nullptr) << fault;
        });
    }
}

}  // namespace
}  // namespace qx::testing
