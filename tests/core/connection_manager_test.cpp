// Connection lifecycle and the command exchange against the virtual ECU.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "ecusim/serial_peer.h"
#include "protocol/commands.h"
#include "tests/core/ecu_fixture.h"
#include "transfer/trelink.h"

namespace qx::testing {
namespace {

using cm = connection_manager;
using protocol::CONFIGURATION_FIND_CHANNEL_BY_NAME;
using protocol::CONFIGURATION_QUERY_STATE;
using protocol::GET_SYSTEM_DESCRIPTOR;

class connection : public on_both_links {};
INSTANTIATE_TEST_SUITE_P(links, connection, ::testing::Values(link_kind::usb, link_kind::simulator), link_name);

// The description is built by its first reader, whole, and never by a manager that only
// exchanges commands.
TEST_P(connection, starts_not_connected_with_the_description_built_by_its_first_reader) {
    cm& m = start();
    EXPECT_EQ(m.is_connected(), 0u);
    EXPECT_EQ(m.target_mode, 2u);
    EXPECT_EQ(m.time_high_channel, 0xFFFF);
    EXPECT_TRUE(m.cache_channel_values);
    m.connect();
    m.read_target_version();
    m.disconnect();
    EXPECT_FALSE(m.description.built());
    ASSERT_NE(m.description->find("item_structs_by_number"), nullptr);
    ASSERT_NE(m.description->find("item_structs_by_number")->find(39u), nullptr);
    EXPECT_TRUE(m.description.built());
    dynamic_map whole;
    protocol::build_description(whole);
    EXPECT_TRUE(*m.description == whole);
}

TEST_P(connection, send_command_before_connect_is_not_connected_and_sends_nothing) {
    cm& m = start();
    protocol::TargetVersionResponse_TS v{};
    try {
        m.send_command(0, nullptr, 0, &v, sizeof v);
        FAIL() << "no exception";
    } catch (const cm::exception_not_connected& e) {
        EXPECT_EQ(e.message, "Not connected");
        EXPECT_EQ(e.code, 0u);
    }
    if (ecu->inspectable()) {
        EXPECT_EQ(ecu->state().commands, 0u);
    }
}

TEST_P(connection, application_connect_learns_the_ecu_and_resolves_its_channels) {
    cm& m = connected("--firmware 0A0B0C0D --board-model QX-TEST --max-channels 777");
    EXPECT_EQ(m.is_connected(), GetParam() == link_kind::usb ? 0x20u : 0x200u);
    EXPECT_EQ(m.target_mode, 0u);
    EXPECT_EQ(m.transferstructs_version, 95u);
    EXPECT_EQ(m.firmware_version, 0x0A0B0C0Du);
    EXPECT_EQ(m.board_model, "QX-TEST");
    EXPECT_EQ(m.max_configuration_channels, 777);
    ASSERT_EQ(m.status_channels.size(), 4u);
    EXPECT_EQ(m.status_values, std::vector<float>(4, 0.0f));
    // Distinct channel numbers, none of them invalid.
    std::vector<std::uint16_t> all = m.status_channels;
    all.push_back(m.time_high_channel);
    all.push_back(m.time_low_channel);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_NE(all.back(), 0xFFFF);
    if (ecu->inspectable()) {
        EXPECT_EQ(ecu->state().channel_lookups,
                  (std::vector<std::string>{"ModChangeState [bool]", "ConfigurationDirty", "ConfigurationRunning [bool]",
                                            "LoggingActive [bool]", "TimeHigh [us/10]", "TimeLow [us/10]"}));
    }
}

TEST_P(connection, boot_loader_connect_asks_nothing_more) {
    cm& m = connected("--mode boot");
    EXPECT_NE(m.is_connected(), 0u);
    EXPECT_EQ(m.target_mode, 1u);
    EXPECT_EQ(m.transferstructs_version, 0u);
    EXPECT_TRUE(m.status_channels.empty());
    if (ecu->inspectable()) {
        EXPECT_EQ(ecu->state().commands, 1u);
        EXPECT_EQ(ecu->commands_of(GET_SYSTEM_DESCRIPTOR), 0u);
        EXPECT_EQ(ecu->commands_of(CONFIGURATION_FIND_CHANNEL_BY_NAME), 0u);
    }
}

TEST_P(connection, version_mismatch_is_older_or_newer_and_leaves_the_link_open) {
    for (const auto& [version, older] : {std::pair{94, true}, std::pair{96, false}, std::pair{1, true}}) {
        cm& m = start("--version " + std::to_string(version));
        try {
            m.connect();
            FAIL() << "no exception for version " << version;
        } catch (const cm::exception_target_version_mismatch& e) {
            EXPECT_EQ(e.message, "Target version not supported by this software version");
            EXPECT_EQ(older, dynamic_cast<const cm::exception_target_version_older*>(&e) != nullptr) << version;
            EXPECT_EQ(!older, dynamic_cast<const cm::exception_target_version_newer*>(&e) != nullptr) << version;
        }
        EXPECT_NE(m.is_connected(), 0u);
        EXPECT_EQ(m.target_mode, 0u);
        EXPECT_EQ(m.transferstructs_version, std::uint32_t(version));
        // The link still carries commands.
        EXPECT_EQ(m.read_target_version().first, std::uint32_t(version));
    }
}

TEST_P(connection, an_unknown_status_channel_fails_connect_and_disconnects) {
    cm& m = start("--without-channel \"LoggingActive [bool]\"");
    try {
        m.connect();
        FAIL() << "no exception";
    } catch (const cm::exception_connection_failed& e) {
        EXPECT_TRUE(e.message.starts_with("Could not connect:\n")) << e.message;
        EXPECT_EQ(e.code, 0u);
    }
    EXPECT_EQ(m.is_connected(), 0u);
    EXPECT_EQ(m.target_mode, 2u);
    EXPECT_EQ(m.board_model, "");
}

TEST_P(connection, second_connect_is_already_connected_and_keeps_the_link) {
    cm& m = connected();
    try {
        m.connect();
        FAIL() << "no exception";
    } catch (const cm::exception_already_connected& e) {
        EXPECT_EQ(e.message, "Already connected");
    }
    EXPECT_NE(m.is_connected(), 0u);
    EXPECT_EQ(m.read_target_version().first, 95u);
}

TEST_P(connection, disconnect_forgets_the_target_and_a_fresh_connect_works) {
    cm& m = connected();
    m.cache_channel_values = false;
    m.disconnect();
    EXPECT_EQ(m.is_connected(), 0u);
    EXPECT_EQ(m.target_mode, 2u);
    EXPECT_EQ(m.transferstructs_version, 0u);
    EXPECT_EQ(m.firmware_version, 0u);
    EXPECT_EQ(m.board_model, "");
    EXPECT_EQ(m.max_configuration_channels, 0);
    EXPECT_TRUE(m.cache_channel_values);
    m.disconnect();  // a closed link is no failure
    m.connect();
    EXPECT_EQ(m.target_mode, 0u);
}

TEST_P(connection, an_expected_response_that_carries_nothing_is_a_communication_error) {
    cm& m = connected("--faults code=56:truncate=0");
    protocol::ConfigurationQueryStateResponse_TS state{};
    try {
        m.send_command(CONFIGURATION_QUERY_STATE, nullptr, 0, &state, 1);
        FAIL() << "no exception";
    } catch (const cm::exception_communication_error& e) {
        EXPECT_EQ(e.message, "SendCommand failed");
        EXPECT_EQ(e.code, 0u);
    }
}

TEST_P(connection, a_response_whose_array_reaches_past_its_bytes_is_a_communication_error) {
    // Channel values answer with a counted array of floats: 8 bytes of header, then 4 per value.
    cm& m = connected("--channel \"Coolant Temp [C]=87.5\" --faults code=23:truncate=10");
    const std::uint16_t n = m.find_channel("Coolant Temp [C]");
    std::uint8_t request[10] = {2, 0, 1, 0, 8, 0, 0, 0};
    std::memcpy(request + 8, &n, 2);
    std::uint8_t response[64] = {};
    EXPECT_THROW(m.exchange(protocol::READ_CHANNEL_LIST, request, sizeof request, response, sizeof response),
                 cm::exception_communication_error);
}

// The simulator link reports no header status, so these take the USB link.
TEST(connection_usb, an_ecu_header_status_is_the_code_of_the_communication_error) {
    ecu_link ecu(link_kind::usb, "--faults code=56:status=0x0123");
    cm& m = *ecu.manager;
    m.connect();
    protocol::ConfigurationQueryStateResponse_TS state{};
    try {
        m.send_command(CONFIGURATION_QUERY_STATE, nullptr, 0, &state, 1);
        FAIL() << "no exception";
    } catch (const cm::exception_communication_error& e) {
        EXPECT_EQ(e.message, "SendCommand failed");
        EXPECT_EQ(e.code, 0x0123u);
    }
}

TEST(connection_usb, no_device_is_could_not_connect) {
    ecu_link ecu(link_kind::usb, "");
    ecu.unplug();
    cm& m = *ecu.manager;
    try {
        m.connect();
        FAIL() << "no exception";
    } catch (const cm::exception_connection_failed& e) {
        EXPECT_EQ(e.message, "Could not connect:\nThe specified interface is not connected");
    }
    EXPECT_EQ(m.is_connected(), 0u);
}

TEST(connection_usb, an_ecu_lost_during_connect_is_could_not_connect_and_disconnected) {
    ecu_link ecu(link_kind::usb, "--faults code=75:unplug");
    cm& m = *ecu.manager;
    try {
        m.connect();
        FAIL() << "no exception";
    } catch (const cm::exception_connection_failed& e) {
        EXPECT_EQ(e.message, "Could not connect:\nSendCommand failed");
    }
    EXPECT_EQ(m.is_connected(), 0u);
    EXPECT_EQ(m.target_mode, 2u);
}

// A break from another thread ends an exchange the ECU never answers and fails the rest of that
// connection; it leaves nothing behind for the next one.
TEST(connection_usb, a_break_ends_a_waiting_exchange_and_only_its_own_connection) {
    ecu_link ecu(link_kind::usb, "--faults code=56#1:mute");
    cm& m = *ecu.manager;
    m.break_link();  // before any connection: nothing to end
    m.connect();
    std::thread stopper([&] {
        // Once the ECU has swallowed the question, the exchange waits for good.
        EXPECT_TRUE(ecu.wait_for([](const ecusim::ecu_state& s) { return s.commands_by_code.count(CONFIGURATION_QUERY_STATE) != 0; }));
        m.break_link();
    });
    protocol::ConfigurationQueryStateResponse_TS state{};
    EXPECT_THROW(m.send_command(CONFIGURATION_QUERY_STATE, nullptr, 0, &state, sizeof state), cm::exception_communication_error);
    stopper.join();
    EXPECT_THROW(m.send_command(CONFIGURATION_QUERY_STATE, nullptr, 0, &state, sizeof state), cm::exception_communication_error);
    m.disconnect();
    m.connect();
    EXPECT_NO_THROW(m.send_command(CONFIGURATION_QUERY_STATE, nullptr, 0, &state, sizeof state));
}

struct serial_case {
    const char* name;
    unsigned link;
    bool host_order;  // the ECU answers the connection request with 0xCC
};

class serial_connection : public ::testing::TestWithParam<serial_case> {};

// A serial link carries nothing right until the ECU has answered the connection request: an
// ECU in host byte order says so only there.
TEST_P(serial_connection, connect_makes_the_connection_request_first) {
    const auto line = std::filesystem::temp_directory_path() / ("cm-serial-" + std::to_string(::getpid()));
    ecusim::ecu_config cfg;
    cfg.mode = ecusim::ecu_mode::app;
    ecusim::serial_peer ecu(cfg, line.string(), GetParam().host_order);
    ecu.start();
    ::setenv("TRELINK_COM1", line.c_str(), 1);
    link_choice serial;
    serial.flags = GetParam().link | TRELINK_SERIAL_COMMAND_PORT | TRELINK_WCSC_ALTERNATE | 1u << TRELINK_SERIAL_PORT_SHIFT;
    cm m(serial);
    m.connect();
    EXPECT_EQ(m.transferstructs_version, 95u);
    EXPECT_EQ(m.board_model, "QX-ECU");
    EXPECT_EQ(ecu.counters().connection_requests, 1u);
    m.disconnect();
    ::unsetenv("TRELINK_COM1");
}

INSTANTIATE_TEST_SUITE_P(links, serial_connection,
                         ::testing::Values(serial_case{"wcsc_big_endian", TRELINK_LINK_SERIAL_WCSC, false},
                                           serial_case{"wcsc_host_order", TRELINK_LINK_SERIAL_WCSC, true},
                                           serial_case{"communication_functions", TRELINK_LINK_SERIAL_WINCOMM, true}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace qx::testing
