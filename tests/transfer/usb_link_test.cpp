// The USB link against a scripted fake device: packets byte for byte, and every failure.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <future>

#include "platform/registry/device_registry.h"
#include "protocol/defines.h"
#include "protocol/status.h"
#include "tests/transfer/transfer_test_support.h"
#include "transfer/usb/usb_link.h"

namespace qx::test {
namespace {

using namespace qx::protocol;
using ::testing::ElementsAre;

// Code 79 lies above the command table: its data goes out as given.
constexpr unsigned raw_code = 79;
constexpr std::uint16_t raw_type = 0xCD4F;

struct packet_case {
    std::uint16_t data_size;
    bool announced;
};

class usb_packets : public usb_link_test, public ::testing::WithParamInterface<packet_case> {};

TEST_P(usb_packets, command_goes_big_endian_and_long_ones_are_announced) {
    const auto [n, announced] = GetParam();
    ASSERT_EQ(open(), 0);
    bytes request = pattern(n);
    bytes response(MAX_TRANSFERSTRUCTS_SIZE, 0);
    std::uint16_t returned = 0;
    ASSERT_EQ(KesSendCommand(raw_code, request.data(), n, response.data(),
                             std::uint16_t(response.size()), &returned),
              0);

    const bytes command = concat({be16(raw_type), be16(n), be16(0x0FF8), be16(0), request});
    const auto seen = device->received();
    if (announced) {
        bytes announcement = concat({be16(0xCD07), be16(n)});
        announcement.resize(32, 0);
        EXPECT_THAT(seen, ElementsAre(announcement, command));
    } else {
        EXPECT_THAT(seen, ElementsAre(command));
    }
    EXPECT_EQ(returned, n);
    EXPECT_TRUE(std::equal(request.begin(), request.end(), response.begin()));
    EXPECT_TRUE(messages().empty());
}

INSTANTIATE_TEST_SUITE_P(sizes, usb_packets,
                         ::testing::Values(packet_case{0, false}, packet_case{24, false},
                                           packet_case{25, true}, packet_case{4088, true}));

TEST_F(usb_link_test, refuses_4089_data_bytes_before_writing_anything) {
    ASSERT_EQ(open(), 0);
    bytes request = pattern(4089);
    bytes response(16);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(raw_code, request.data(), 4089, response.data(), 16, &returned),
              int(STATUS_CR_COMMAND_TOO_LARGE));
    EXPECT_THAT(
        messages(),
        ElementsAre("USB_SendCommandReceiveResponse command exceeds maximum transfer size of 1000",
                    "KesSendCommand SendCommandReceiveResponse failed return_status = 20000008"));
    // The next exchange is the first thing the device sees.
    ASSERT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 16, &returned), 0);
    EXPECT_THAT(device->received(),
                ElementsAre(concat({be16(raw_type), be16(0), be16(16), be16(0)})));
}

TEST_F(usb_link_test, zero_data_response_succeeds_without_reading_data) {
    device->serve([](fake_usb_session& s) {
        while (s.receive_command()) s.send(response_header(raw_type, 0, 0));
    });
    ASSERT_EQ(open(), 0);
    bytes response = pattern(16);
    std::uint16_t returned = 0xBEEF;
    EXPECT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 16, &returned), 0);
    EXPECT_EQ(returned, 0xBEEF);  // left as it was
    EXPECT_EQ(response, pattern(16));
    EXPECT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 16, &returned), 0);
}

struct oversize_case {
    std::uint16_t announced;
    std::vector<std::uint16_t> pieces;  // data packets the device sends
    int expected;
};

class usb_oversized : public usb_link_test, public ::testing::WithParamInterface<oversize_case> {};

TEST_P(usb_oversized, surplus_is_drained_so_the_next_exchange_starts_clean) {
    const auto& c = GetParam();
    device->serve([&c](fake_usb_session& s) {
        if (!s.receive_command()) return;
        s.send(response_header(raw_type, c.announced, 0));
        for (auto size : c.pieces) s.send(pattern(size, 9));
        fake_usb_device::echo(s);
    });
    ASSERT_EQ(open(), 0);
    bytes response(MAX_TRANSFERSTRUCTS_SIZE, 0xAA);
    std::uint16_t returned = 0xBEEF;
    EXPECT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 16, &returned), c.expected);
    EXPECT_TRUE(std::all_of(response.begin(), response.end(), [](auto b) { return b == 0xAA; }));
    if (c.expected == int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL)) {
        EXPECT_EQ(returned, 0xBEEF);
        EXPECT_THAT(
            messages(),
            ElementsAre(
                "KesSendCommand SendCommandReceiveResponse failed return_status = 20000005"));
        bytes request = pattern(4);
        ASSERT_EQ(KesSendCommand(raw_code, request.data(), 4, response.data(), 16, &returned), 0);
        EXPECT_EQ(returned, 4);
    } else {
        EXPECT_EQ(returned, 0);
        EXPECT_THAT(
            messages(),
            ElementsAre(
                "USB_SendCommandReceiveResponse ReadFile Wasted num_bytes_read != "
                "response_data_returning_size",
                "KesSendCommand SendCommandReceiveResponse failed return_status = 20000007"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    responses, usb_oversized,
    ::testing::Values(oversize_case{100, {100}, int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL)},
                      oversize_case{17, {17}, int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL)},
                      oversize_case{5000, {4096, 904}, int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL)},
                      oversize_case{100, {60}, int(STATUS_CR_READ_FAILED)}));

TEST_F(usb_link_test, response_data_in_several_packets_is_read_whole) {
    device->serve([](fake_usb_session& s) {
        if (!s.receive_command()) return;
        s.send(response_header(raw_type, 5000, 0));
        const bytes data = pattern(5000, 3);
        s.send(bytes(data.begin(), data.begin() + 4096));
        s.send(bytes(data.begin() + 4096, data.end()));
    });
    ASSERT_EQ(open(), 0);
    bytes response(5000);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 5000, &returned), 0);
    EXPECT_EQ(returned, 5000);
    EXPECT_EQ(response, pattern(5000, 3));
}

struct bad_response_case {
    const char* name;
    bytes header;
    std::optional<bytes> data;
    std::string message;
};

class usb_bad_response : public usb_link_test,
                         public ::testing::WithParamInterface<bad_response_case> {};

TEST_P(usb_bad_response, is_a_read_failure) {
    const auto& c = GetParam();
    device->serve([&c](fake_usb_session& s) {
        if (!s.receive_command()) return;
        s.send(c.header);
        if (c.data) s.send(*c.data);
        while (s.receive()) {
        }
    });
    ASSERT_EQ(open(), 0);
    bytes response(64, 0xAA);
    std::uint16_t returned = 0xBEEF;
    EXPECT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 64, &returned),
              int(STATUS_CR_READ_FAILED));
    EXPECT_EQ(returned, 0xBEEF);
    EXPECT_THAT(
        messages(),
        ElementsAre(c.message,
                    "KesSendCommand SendCommandReceiveResponse failed return_status = 20000007"));
}

INSTANTIATE_TEST_SUITE_P(
    packets, usb_bad_response,
    ::testing::Values(
        bad_response_case{
            "short_header", bytes{0xCD, 0x4F, 0, 0, 0}, std::nullopt,
            "USB_SendCommandReceiveResponse ReadFile num_bytes_read != sizeof(ResponseHeader_TS)"},
        bad_response_case{
            "long_header", pattern(12), std::nullopt,
            "USB_SendCommandReceiveResponse ReadFile failed GetLastError = " + hex8(EMSGSIZE)},
        bad_response_case{"short_data", response_header(raw_type, 40, 0), pattern(39),
                          "USB_SendCommandReceiveResponse ReadFile Wasted num_bytes_read != "
                          "response_data_returning_size"},
        bad_response_case{
            "long_data", response_header(raw_type, 40, 0), pattern(41),
            "USB_SendCommandReceiveResponse ReadFile failed GetLastError = " + hex8(EMSGSIZE)}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(usb_link_test, device_leaving_during_the_exchange_ends_the_blocked_read) {
    fake_usb_device* d = &*device;
    device->serve([d](fake_usb_session& s) {
        if (s.receive_command()) d->unplug();
    });
    ASSERT_EQ(open(), 0);
    bytes request = pattern(8);
    bytes response(16);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(raw_code, request.data(), 8, response.data(), 16, &returned),
              int(STATUS_CR_READ_FAILED));
    EXPECT_THAT(
        messages(),
        ElementsAre("USB_SendCommandReceiveResponse ReadFile failed GetLastError = " + hex8(ENODEV),
                    "KesSendCommand SendCommandReceiveResponse failed return_status = 20000007"));
    // The link stays open until closed; reopening finds no device.
    EXPECT_EQ(KesSendCommand(raw_code, request.data(), 8, response.data(), 16, &returned),
              int(STATUS_CR_WRITE_FAILED));
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_USB), 0);
    message_capture::texts().clear();
    EXPECT_EQ(open(), int(STATUS_CR_NOT_CONNECTED));
    EXPECT_THAT(messages(),
                ElementsAre("GetDevicePath Error: SetupDiEnumDeviceInterfaces failed",
                            "  USB_InitializeInterfaces GetDevicePath failed GetLastError = " +
                                hex8(ENODEV)));
}

class usb_gone_before_write : public usb_link_test,
                              public ::testing::WithParamInterface<std::uint16_t> {};

TEST_P(usb_gone_before_write, is_a_write_failure) {
    const std::uint16_t n = GetParam();
    device->serve([](fake_usb_session& s) { s.close(); });
    ASSERT_EQ(open(), 0);
    device->wait_for_ended_connections(1);
    bytes request = pattern(n);
    bytes response(16);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(raw_code, request.data(), n, response.data(), 16, &returned),
              int(STATUS_CR_WRITE_FAILED));
    const std::string first =
        n > 24
            ? "USB_SendCommandReceiveResponse WriteFile COMMAND_REQUEST_TYPE_LARGER_THAN_DEFAULT "
              "failed0 GetLastError = " +
                  hex8(ENODEV)
            : "USB_SendCommandReceiveResponse WriteFile failed0 GetLastError = " + hex8(ENODEV);
    EXPECT_THAT(
        messages(),
        ElementsAre(first,
                    "KesSendCommand SendCommandReceiveResponse failed return_status = 20000006"));
}

INSTANTIATE_TEST_SUITE_P(sizes, usb_gone_before_write,
                         ::testing::Values(std::uint16_t(24), std::uint16_t(25)));

// Packets that are waiting before a command is written (an answer delivered twice, a late
// answer, a packet from before the connection's first command) are read off, never taken for
// the command's answer: here the ECU refuses the command, and the refusal is what it returns.
struct stray_case {
    const char* name;
    bool before_first_command;  // else after the answer to the first
    std::vector<bytes> strays;
};

void PrintTo(const stray_case& c, std::ostream* os) { *os << c.name; }

class usb_strays : public usb_link_test, public ::testing::WithParamInterface<stray_case> {};

TEST_P(usb_strays, are_read_off_before_the_command_and_never_taken_for_its_answer) {
    const stray_case& c = GetParam();
    std::promise<void> strays_sent;
    std::future<void> sent = strays_sent.get_future();
    device->serve([&](fake_usb_session& s) {
        if (!c.before_first_command) {
            if (!s.receive_command()) return;
            s.send(response_header(raw_type, 4, 0));
            s.send(pattern(4));
        }
        for (const bytes& p : c.strays) s.send(p);
        strays_sent.set_value();
        if (!s.receive_command()) return;
        s.send(response_header(raw_type, 0, 0x0001));  // refused
    });
    ASSERT_EQ(open(), 0);
    bytes response(16, 0xAA);
    std::uint16_t returned = 0;
    if (!c.before_first_command) {
        ASSERT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 16, &returned), 0);
        EXPECT_EQ(returned, 4);
    }
    sent.wait();
    returned = 0;
    EXPECT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 16, &returned), 1);
    EXPECT_EQ(returned, 0);
    EXPECT_THAT(messages(), ::testing::Contains("USB_SendCommandReceiveResponse read off " +
                                                std::to_string(c.strays.size()) +
                                                " packet(s) that came before the command"));
}

INSTANTIATE_TEST_SUITE_P(
    packets, usb_strays,
    ::testing::Values(stray_case{"answer_delivered_twice", false, {response_header(raw_type, 4, 0), pattern(4)}},
                      stray_case{"late_header_alone", false, {response_header(raw_type, 8, 0)}},
                      stray_case{"packets_up_to_longer_than_any_answer", false, {pattern(4096), pattern(5000)}},
                      stray_case{"waiting_before_the_first_command", true, {response_header(raw_type, 0, 0)}}),
    [](const ::testing::TestParamInfo<stray_case>& p) { return std::string(p.param.name); });

TEST_F(usb_link_test, second_initialise_returns_0_without_reopening) {
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(open(), 0);
    bytes response(16);
    std::uint16_t returned = 0;
    ASSERT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 16, &returned), 0);
    EXPECT_EQ(device->connections(), 1u);
}

TEST_F(usb_link_test, no_device_attached_is_not_connected) {
    device.reset();
    EXPECT_EQ(open(), int(STATUS_CR_NOT_CONNECTED));
    EXPECT_THAT(messages(),
                ElementsAre("GetDevicePath Error: SetupDiEnumDeviceInterfaces failed",
                            "  USB_InitializeInterfaces GetDevicePath failed GetLastError = " +
                                hex8(ENODEV)));
}

TEST_F(usb_link_test, unusable_device_list_is_not_connected) {
    device.reset();
    ::setenv("TRELINK_USB_IDS", "not-an-id", 1);
    EXPECT_EQ(open(), int(STATUS_CR_NOT_CONNECTED));
    ::unsetenv("TRELINK_USB_IDS");
    EXPECT_THAT(messages(),
                ElementsAre("GetDevicePath Error: SetupDiGetClassDevs failed",
                            "  USB_InitializeInterfaces GetDevicePath failed GetLastError = " +
                                hex8(EINVAL)));
}

TEST_F(usb_link_test, device_that_refuses_the_connection_is_not_connected) {
    device.reset();
    // A socket nobody listens on any more.
    const std::string path = platform::registry_class_dir(platform::ecu_interface_class) + "/stale";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    EXPECT_EQ(open(), int(STATUS_CR_NOT_CONNECTED));
    EXPECT_THAT(messages(), ElementsAre("  USB_Initialize CreateFile failed GetLastError = " +
                                        hex8(ECONNREFUSED)));
}

TEST_F(usb_link_test, closed_link_answers_not_connected) {
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_USB), 0);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_USB), 0);
    bytes response(16);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 16, &returned),
              int(STATUS_CR_NOT_CONNECTED));
    EXPECT_THAT(
        messages(),
        ElementsAre("USB_SendCommandReceiveResponse USB_interface_connected=FALSE",
                    "KesSendCommand SendCommandReceiveResponse failed return_status = 20000003"));
}

TEST_F(usb_link_test, suppressed_messages_change_nothing_else) {
    device.reset();
    EnableErrorMessages(0);
    EXPECT_EQ(open(), int(STATUS_CR_NOT_CONNECTED));
    bytes response(16);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 16, &returned),
              int(STATUS_CR_NOT_CONNECTED));
    EXPECT_TRUE(messages().empty());
    EnableErrorMessages(5);
    EXPECT_EQ(KesSendCommand(raw_code, nullptr, 0, response.data(), 16, &returned),
              int(STATUS_CR_NOT_CONNECTED));
    EXPECT_EQ(messages().size(), 2u);
}

TEST_F(usb_link_test, device_path_must_fit_the_buffer_with_its_terminator) {
    const std::string& path = device->path();
    std::vector<char> buffer(path.size() + 1, 'x');
    EXPECT_EQ(
        transfer::usb::GetDevicePath(platform::ecu_interface_class, buffer.data(), buffer.size()),
        1);
    EXPECT_EQ(std::string(buffer.data()), path);
    EXPECT_EQ(
        transfer::usb::GetDevicePath(platform::ecu_interface_class, buffer.data(), path.size()), 0);
    EXPECT_EQ(transfer::usb::GetDevicePath(platform::ecu_interface_class, buffer.data(), 0), 0);
    EXPECT_TRUE(messages().empty());
}

}  // namespace
}  // namespace qx::test
