// The USB-CAN link through the library and the real adapter on a virtual bus, against a
// scripted ECU: frames byte for byte, and every way the ECU's side can go wrong.
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "protocol/status.h"
#include "tests/transfer/transfer_test_support.h"
#include "tests/transfer/usbcan_test_bus.h"
#include "transfer/usbcan/usbcan_link.h"

namespace qx::test {
namespace {

using namespace qx::protocol;
using ::testing::ElementsAre;
namespace usbcan = qx::transfer::usbcan;

// Code 79 lies above the command table: its data goes out as given.
constexpr unsigned raw_code = 79;
constexpr std::uint16_t raw_type = 0xCD4F;
constexpr std::uint16_t buffer_size = 4088;

class usbcan_bus : public ::testing::Test {
protected:
    void SetUp() override { ::unsetenv("TRELINK_CAN_IF"); }
    void TearDown() override { KesCloseInterfaces(TRELINK_LINK_USBCAN); }
    static int open() { return KesInitializeInterfaces(TRELINK_LINK_USBCAN, nullptr); }
    const std::vector<std::string>& messages() const { return message_capture::texts(); }

    struct outcome {
        int status;
        bytes response;
        std::uint16_t returned;
    };
    static outcome exchange(bytes request, std::uint16_t room = buffer_size) {
        outcome o{0, bytes(std::size_t(room) + 16, 0xEE), 0xBEEF};
        o.status = KesSendCommand(raw_code, request.data(), std::uint16_t(request.size()), o.response.data(), room,
                                  &o.returned);
        return o;
    }
    // The frames the host put on the bus, once its connection has ended.
    std::vector<bus_frame> host_frames() {
        KesCloseInterfaces(TRELINK_LINK_USBCAN);
        EXPECT_TRUE(bus.wait_for_ended_connections(1));
        return bus.received();
    }

    fake_can_bus bus;
    message_capture capture;
};

bytes command_packet(const bytes& data, std::uint16_t room = buffer_size) {
    return concat({be16(raw_type), be16(std::uint16_t(data.size())), be16(room), be16(0), data});
}

struct frame_case {
    std::uint16_t data_size;
    std::size_t frames;
};

class usbcan_frames : public usbcan_bus, public ::testing::WithParamInterface<frame_case> {};

TEST_P(usbcan_frames, command_is_cut_into_first_and_consecutive_frames_and_echo_comes_back) {
    const auto [n, frames] = GetParam();
    ASSERT_EQ(open(), 0);
    const bytes request = pattern(n);
    const outcome o = exchange(request);
    ASSERT_EQ(o.status, 0);
    EXPECT_EQ(o.returned, n);
    EXPECT_TRUE(std::equal(request.begin(), request.end(), o.response.begin()));

    const auto seen = host_frames();
    ASSERT_EQ(seen.size(), frames + 1);  // the command, then the flow control for the answer
    const auto expected = segment(command_packet(request), usbcan::host_to_ecu_id);
    ASSERT_EQ(expected.size(), frames);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].id, usbcan::host_to_ecu_id) << i;
        EXPECT_TRUE(seen[i].extended) << i;
        EXPECT_EQ(seen[i].length, 8) << i;
        // Bytes behind the packet's end go out as zeros.
        const auto want = i < frames ? expected[i].data : std::array<std::uint8_t, 8>{0x30};
        EXPECT_EQ(seen[i].data, want) << "frame " << i;
    }
    EXPECT_TRUE(messages().empty());
}

// 0 data bytes: 6 header bytes in the first frame, 2 in one consecutive frame. 13 bytes fill
// two frames exactly, 14 need three; 4087 is the largest packet (0xFFF) with 586 frames.
INSTANTIATE_TEST_SUITE_P(sizes, usbcan_frames,
                         ::testing::Values(frame_case{0, 2}, frame_case{5, 2}, frame_case{6, 3},
                                           frame_case{150, 23}, frame_case{4087, 586}));

TEST_F(usbcan_bus, sequence_number_after_15_is_0) {
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(exchange(pattern(150)).status, 0);
    const auto seen = host_frames();
    ASSERT_GE(seen.size(), 18u);
    EXPECT_EQ(seen[15].data[0], 0x2F);
    EXPECT_EQ(seen[16].data[0], 0x20);
    EXPECT_EQ(seen[17].data[0], 0x21);
}

TEST_F(usbcan_bus, packet_over_0xfff_bytes_is_refused_before_anything_is_sent) {
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(exchange(pattern(4088)).status, int(STATUS_CR_COMMAND_TOO_LARGE));
    EXPECT_THAT(messages(), ElementsAre("UsbCanSystecSendCommandReceiveResponse: 0fff",
                                        "KesSendCommand SendCommandReceiveResponse failed return_status = 20000008"));
    ASSERT_EQ(exchange({}).status, 0);
    const auto seen = host_frames();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].data, segment(command_packet({}), usbcan::host_to_ecu_id)[0].data);
}

TEST_F(usbcan_bus, flow_control_with_block_size_4_needs_no_further_flow_control) {
    bytes got;
    bus.serve([&](bus_end& ecu) {
        const auto command = ecu.receive_packet(4);
        if (!command) return;
        got = *command;
        ecu.send_packet(concat({be16(raw_type), be16(0), be16(0), be16(0)}));
        ecu.receive(1000);  // until the host leaves
    });
    ASSERT_EQ(open(), 0);
    const bytes request = pattern(100);
    EXPECT_EQ(exchange(request).status, 0);
    KesCloseInterfaces(TRELINK_LINK_USBCAN);
    ASSERT_TRUE(bus.wait_for_ended_connections(1));
    EXPECT_EQ(got, command_packet(request));
}

TEST_F(usbcan_bus, ecu_status_is_the_result_and_frames_of_other_identifiers_are_not_received) {
    bus.serve([](bus_end& ecu) {
        if (!ecu.receive_packet()) return;
        bus_frame stranger = ecu_frame({0x10, 0x08, 0xCD});
        stranger.id = 0x16666668;
        ecu.send(stranger);
        bus_frame standard = ecu_frame({0x10, 0x08});
        standard.id = 0x667;
        standard.extended = false;
        ecu.send(standard);
        ecu.send_packet(concat({be16(raw_type), be16(0), be16(5), be16(0)}));
        ecu.receive(1000);
    });
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(exchange(pattern(3)).status, 5);
}

struct misbehaviour {
    const char* name;
    std::function<void(bus_end&)> ecu;
    int status;
    std::uint16_t room = buffer_size;
};

class usbcan_faults : public usbcan_bus, public ::testing::WithParamInterface<misbehaviour> {};

TEST_P(usbcan_faults, exchange_fails_with_the_status_of_the_fault) {
    bus.serve(GetParam().ecu);
    ASSERT_EQ(open(), 0);
    const outcome o = exchange(pattern(20), GetParam().room);
    EXPECT_EQ(o.status, GetParam().status);
    EXPECT_THAT(messages(),
                ElementsAre("KesSendCommand SendCommandReceiveResponse failed return_status = " +
                            hex8(unsigned(GetParam().status))));
    // Never more than the room the caller gave.
    for (std::size_t i = GetParam().room; i < o.response.size(); ++i) ASSERT_EQ(o.response[i], 0xEE) << i;
}

bytes answer_of(std::size_t data_size, std::uint16_t announced) {
    return concat({be16(raw_type), be16(announced), be16(0), be16(0), pattern(data_size, 9)});
}

// The ECU's answer frames, after the command, as `edit` changes them.
std::function<void(bus_end&)> answer_with(bytes packet, std::function<void(std::vector<bus_frame>&)> edit) {
    return [packet, edit](bus_end& ecu) {
        if (!ecu.receive_packet()) return;
        auto frames = segment(packet);
        edit(frames);
        ecu.send(frames[0]);
        if (!ecu.receive()) return;
        for (std::size_t i = 1; i < frames.size(); ++i) ecu.send(frames[i]);
        ecu.receive(1000);
    };
}

const int protocol_error = int(STATUS_CR_NO_INTERFACE);

INSTANTIATE_TEST_SUITE_P(
    ecu_side, usbcan_faults,
    ::testing::Values(
        misbehaviour{"consecutive_frame_instead_of_flow_control",
                     [](bus_end& ecu) {
                         if (!ecu.receive()) return;
                         ecu.send(ecu_frame({0x21}));
                         ecu.receive(1000);
                     },
                     protocol_error},
        misbehaviour{"first_reply_is_no_first_frame",
                     [](bus_end& ecu) {
                         if (!ecu.receive_packet()) return;
                         ecu.send(ecu_frame({0x21, 0xCD, 0x4F}));
                         ecu.receive(1000);
                     },
                     protocol_error},
        misbehaviour{"consecutive_frame_out_of_sequence",
                     answer_with(answer_of(30, 30), [](auto& f) { f.erase(f.begin() + 2); }), protocol_error},
        misbehaviour{"sequence_1_after_15",
                     answer_with(answer_of(6 + 7 * 17, 6 + 7 * 17), [](auto& f) { f[16].data[0] = 0x21; }),
                     protocol_error},
        misbehaviour{"header_announces_less_than_the_frames_carry",
                     answer_with(answer_of(20, 4), [](auto&) {}), protocol_error},
        misbehaviour{"header_announces_more_than_the_frames_carry",
                     answer_with(answer_of(20, 27), [](auto&) {}), protocol_error},
        misbehaviour{"response_shorter_than_a_header",
                     [](bus_end& ecu) {
                         if (!ecu.receive_packet()) return;
                         ecu.send(ecu_frame({0x10, 0x06, 0xCD, 0x4F, 0, 0, 0, 0}));
                         ecu.receive(1000);
                     },
                     protocol_error},
        misbehaviour{"response_larger_than_the_buffer", answer_with(answer_of(100, 100), [](auto&) {}),
                     int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL), 64},
        misbehaviour{"ecu_leaves_before_flow_control", [](bus_end& ecu) { ecu.receive(); }, usbcan::link_error},
        misbehaviour{"ecu_leaves_in_the_middle_of_the_response",
                     [](bus_end& ecu) {
                         if (!ecu.receive_packet()) return;
                         auto frames = segment(answer_of(40, 40));
                         ecu.send(frames[0]);
                         if (!ecu.receive()) return;
                         ecu.send(frames[1]);
                     },
                     usbcan::link_error}),
    [](const auto& test) { return std::string(test.param.name); });

// The host controller's own reports of its state, as SocketCAN error frames (on the virtual
// bus in the same image): error class in the identifier, controller status in byte 1.
bus_frame controller_report(std::uint32_t error_class, std::uint8_t status = 0) {
    bus_frame f;
    f.id = 0x20000000 | error_class;  // CAN_ERR_FLAG
    f.extended = false;
    f.data = {0, status};
    return f;
}

struct controller_case {
    const char* name;
    bus_frame report;
    const char* state;  // in the message; null: the exchange goes on and succeeds
};

class usbcan_controller : public usbcan_bus, public ::testing::WithParamInterface<controller_case> {};

// The report comes while the host waits for the ECU's flow control, with no answer deadline:
// a bus-off or error-passive controller ends the wait at once and says so; any other report
// leaves the exchange to finish.
TEST_P(usbcan_controller, report_while_the_host_waits) {
    ::unsetenv("TRELINK_ANSWER_TIMEOUT_MS");
    const controller_case c = GetParam();
    bus.serve([c](bus_end& ecu) {
        if (!ecu.receive()) return;
        ecu.send(c.report);
        if (c.state) {
            ecu.receive(5000);  // silent until the host leaves
            return;
        }
        ecu.send(ecu_frame({0x30}));
        ecu.receive();  // the command's one consecutive frame
        ecu.send_packet(concat({be16(raw_type), be16(0), be16(0), be16(0)}));
        ecu.receive(1000);
    });
    ASSERT_EQ(open(), 0);
    const auto started = std::chrono::steady_clock::now();
    const outcome o = exchange({});
    if (!c.state) {
        EXPECT_EQ(o.status, 0);
        EXPECT_TRUE(messages().empty());
        return;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_EQ(o.status, usbcan::link_error);
    EXPECT_THAT(messages(), ElementsAre(std::string("UsbCanSystecSendCommandReceiveResponse: the CAN controller is ") + c.state,
                                        "KesSendCommand SendCommandReceiveResponse failed return_status = 0000000a"));
}

INSTANTIATE_TEST_SUITE_P(
    reports, usbcan_controller,
    ::testing::Values(controller_case{"bus_off", controller_report(0x40), "bus-off"},
                      controller_case{"transmit_error_passive", controller_report(0x04, 0x20), "error-passive"},
                      controller_case{"receive_error_passive", controller_report(0x04, 0x10), "error-passive"},
                      controller_case{"error_warning", controller_report(0x04, 0x08), nullptr},
                      controller_case{"missing_acknowledgement_only", controller_report(0x20), nullptr}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(usbcan_bus, a_bus_off_controller_sends_nothing_more) {
    bus.serve([](bus_end& ecu) {
        if (!ecu.receive()) return;
        ecu.send(controller_report(0x40));
        ecu.receive(5000);
    });
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(exchange(pattern(4)).status, usbcan::link_error);
    EXPECT_EQ(exchange(pattern(4)).status, usbcan::link_error);
    EXPECT_EQ(messages().at(2), "UsbCanSystecSendCommandReceiveResponse: the CAN controller is bus-off");
    EXPECT_EQ(host_frames().size(), 1u);  // the first command's first frame only
}

TEST_F(usbcan_bus, exchange_on_a_closed_link_is_not_connected_and_sends_nothing) {
    ASSERT_EQ(open(), 0);
    KesCloseInterfaces(TRELINK_LINK_USBCAN);
    EXPECT_EQ(exchange(pattern(4)).status, int(STATUS_CR_NOT_CONNECTED));
    ASSERT_TRUE(bus.wait_for_ended_connections(1));
    EXPECT_TRUE(bus.received().empty());
}

TEST_F(usbcan_bus, close_and_initialise_again_sets_the_adapter_up_anew) {
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(open(), 0);  // already open: nothing more happens
    EXPECT_EQ(exchange(pattern(10)).status, 0);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_USBCAN), 0);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_USBCAN), 0);
    ASSERT_TRUE(bus.wait_for_ended_connections(1));
    ASSERT_EQ(open(), 0);
    const bytes request = pattern(10, 3);
    const outcome o = exchange(request);
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(std::equal(request.begin(), request.end(), o.response.begin()));
    EXPECT_EQ(bus.connections(), 2u);
}

TEST_F(usbcan_bus, usbcan_flag_wins_over_usb_and_connect_needs_nothing) {
    ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_USB | TRELINK_LINK_USBCAN, nullptr), 0);
    EXPECT_EQ(KesConnectCommandResponseInterface(), 0);
    EXPECT_EQ(exchange(pattern(2)).status, 0);
    EXPECT_EQ(bus.connections(), 1u);
}

class usbcan_no_bus : public usbcan_bus, public ::testing::WithParamInterface<bool> {};

TEST_P(usbcan_no_bus, opening_fails_as_not_connected) {
    if (GetParam()) {
        ::setenv("TRELINK_VCAN", (bus.path() + ".absent").c_str(), 1);
    } else {
        ::unsetenv("TRELINK_VCAN");
        ::setenv("TRELINK_CAN_IF", "flashdesk-none", 1);
    }
    EXPECT_EQ(open(), int(STATUS_CR_NOT_CONNECTED));
    EXPECT_EQ(exchange(pattern(4)).status, int(STATUS_CR_NOT_CONNECTED));
    ::unsetenv("TRELINK_CAN_IF");
    EXPECT_EQ(bus.connections(), 0u);
}

INSTANTIATE_TEST_SUITE_P(back_ends, usbcan_no_bus, ::testing::Values(true, false),
                         [](const auto& test) { return test.param ? "virtual_bus_absent" : "no_can_interface"; });

}  // namespace
}  // namespace qx::test
