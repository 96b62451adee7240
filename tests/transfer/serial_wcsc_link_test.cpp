// The WCSC serial link against the virtual ECU on a pseudo-terminal.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <thread>

#include "platform/serial/pty.h"
#include "protocol/status.h"
#include "tests/transfer/serial_test_support.h"
#include "transfer/library_state.h"
#include "transfer/link.h"

namespace qx::test {
namespace {

using namespace qx::protocol;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace ser = qx::transfer::serial;

// The command/response port at 0x3F8, IRQ 4: COM1.
constexpr unsigned wcsc_com1 = TRELINK_LINK_SERIAL_WCSC | TRELINK_SERIAL_COMMAND_PORT | TRELINK_WCSC_ALTERNATE |
                               (1u << TRELINK_SERIAL_PORT_SHIFT);

class wcsc_link : public serial_link_test {
protected:
    int open(unsigned flags = wcsc_com1) { return KesInitializeInterfaces(flags, nullptr); }
    // Opens and connects to the ECU on COM1.
    void connect(bool host_order) {
        start_peer(host_order);
        ASSERT_EQ(open(), 0);
        ASSERT_EQ(KesConnectCommandResponseInterface(), 0);
    }
    // Hangs the line up should an exchange wait for ever.
    watchdog guard() {
        return watchdog(10s, [this] { peer->hang_up(); });
    }
};

class wcsc_connection : public wcsc_link, public ::testing::WithParamInterface<bool> {};

TEST_P(wcsc_connection, the_answer_decides_whether_structures_are_converted) {
    const bool host_order = GetParam();
    connect(host_order);
    EXPECT_EQ(transfer::state().host_order_target, host_order);
    EXPECT_EQ(peer->counters().connection_requests, 1u);

    target_version v;
    std::uint16_t returned = 0;
    {
        auto dog = guard();
        ASSERT_EQ(get_target_version(v, returned), 0);
    }
    EXPECT_EQ(returned, 8);
    EXPECT_EQ(v.firmware_version, 0x01020304u);
    EXPECT_EQ(v.transferstructs_version, 95u);
    // The header as it went over the line: big-endian, or as the host holds it.
    const bytes big = {0xCD, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00};
    const bytes host = {0x00, 0xCD, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00};
    EXPECT_EQ(peer->counters().last_header, host_order ? host : big);
    EXPECT_TRUE(wait_for_acknowledgements(1));
    EXPECT_THAT(errors(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(answers, wcsc_connection, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "answer_0xCC" : "answer_0xC5"; });

TEST_F(wcsc_link, serial_kinds_with_a_port_number_select_the_serial_links) {
    start_peer(false);
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(transfer::state().link, &transfer::serial_wcsc_link);
    KesCloseInterfaces(TRELINK_SERIAL_COMMAND_PORT);
    KesInitializeInterfaces(TRELINK_LINK_SERIAL_WINCOMM | TRELINK_SERIAL_COMMAND_PORT | (1u << 16), nullptr);
    EXPECT_EQ(transfer::state().link, &transfer::serial_wincomm_link);
}

struct oversize_case {
    const char* name;
    const char* faults;
    std::uint16_t buffer;
};

class wcsc_oversized : public wcsc_link, public ::testing::WithParamInterface<oversize_case> {};

TEST_P(wcsc_oversized, response_is_drained_and_acknowledged_before_buffer_too_small) {
    const auto& c = GetParam();
    connect(false);
    peer->set_faults(ecusim::fault_plan::parse(c.faults));
    bytes response(c.buffer, 0xAA);
    std::uint16_t returned = 0xBEEF;
    {
        auto dog = guard();
        EXPECT_EQ(KesSendCommand(0, nullptr, 0, response.data(), c.buffer, &returned),
                  int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL));
    }
    EXPECT_EQ(returned, 0xBEEF);
    EXPECT_TRUE(std::all_of(response.begin(), response.end(), [](auto b) { return b == 0xAA; }));
    EXPECT_THAT(errors(), ElementsAre("  SerialSendCommandReceiveResponse STATUS_CR_RESPONSE_BUFFER_TOO_SMALL",
                                      "KesSendCommand SendCommandReceiveResponse failed return_status = 20000005"));
    EXPECT_TRUE(wait_for_acknowledgements(1));

    // Nothing of the surplus is left on the line.
    peer->set_faults({});
    target_version v;
    auto dog = guard();
    ASSERT_EQ(get_target_version(v, returned), 0);
    EXPECT_EQ(v.firmware_version, 0x01020304u);
}

INSTANTIATE_TEST_SUITE_P(
    responses, wcsc_oversized,
    ::testing::Values(oversize_case{"larger_than_the_callers_buffer", "code=0#1:oversize", 8},
                      oversize_case{"larger_than_the_locked_buffer", "code=0#1:oversize:truncate=16385", 0x5000}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(wcsc_link, opening_the_command_port_twice_keeps_the_first_port) {
    start_peer(false);
    ASSERT_EQ(open(), 0);
    const int first = ser::wcsc::command_port().port_handle;
    box_capture::boxes().clear();
    EXPECT_EQ(open(), 0);
    EXPECT_THAT(errors(),
                ElementsAre("SerialInitializeInterfaces SerialInitializeComport COMMAND_RESPONSE_INTERFACE already "
                            "initialized"));
    EXPECT_EQ(ser::wcsc::command_port().port_handle, first);
    ASSERT_EQ(KesConnectCommandResponseInterface(), 0);
    target_version v;
    std::uint16_t returned = 0;
    auto dog = guard();
    EXPECT_EQ(get_target_version(v, returned), 0);
}

TEST_F(wcsc_link, port_metrics_are_shown_even_with_messages_off) {
    start_peer(false);
    EnableErrorMessages(0);
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(boxes().size(), 2u);  // before and after the flush
    for (const auto& box : boxes()) {
        EXPECT_EQ(box.caption, "SerialDebugMetricsDump");
        std::vector<std::string> lines;
        std::stringstream text(box.text);
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        ASSERT_EQ(lines.size(), 31u);
        EXPECT_EQ(lines.front(), "my_port_params.VTotalIn       = 00000000");
        EXPECT_EQ(lines[24], "my_port_params.VBase          = 000003f8");
        EXPECT_EQ(lines[25], "my_port_params.VIrq           = 00000004");
        EXPECT_EQ(lines[26], "my_port_params.VBaud          = 0000000a");
        EXPECT_EQ(lines[27], "my_port_params.VLength        = 00000003");
        EXPECT_EQ(lines.back(), "my_port_params.VProtocol      = 00000004");
    }
    EXPECT_EQ(boxes()[1].text.find("my_port_params.VIFlushCnt     = 00000001") != std::string::npos, true);
}

struct selection_case {
    const char* name;
    unsigned flags;
    const char* variable;  // the line that must carry the exchange
    const char* base_line;
};

class wcsc_port_selection : public wcsc_link, public ::testing::WithParamInterface<selection_case> {};

TEST_P(wcsc_port_selection, flags_choose_the_port) {
    const auto& c = GetParam();
    start_peer(false, c.variable);
    ASSERT_EQ(open(c.flags | TRELINK_LINK_SERIAL_WCSC | TRELINK_SERIAL_COMMAND_PORT | (3u << 16)), 0);
    EXPECT_NE(boxes().front().text.find(c.base_line), std::string::npos) << boxes().front().text;
    EXPECT_EQ(KesConnectCommandResponseInterface(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    flags, wcsc_port_selection,
    ::testing::Values(selection_case{"standard_0x3f8_is_com1", TRELINK_WCSC_ALTERNATE, "TRELINK_COM1",
                                     "VBase          = 000003f8"},
                      selection_case{"standard_0x2f8_is_com2", 0, "TRELINK_COM2", "VBase          = 000002f8"},
                      selection_case{"card_port_2", TRELINK_WCSC_PCI_CARD, "TRELINK_WCSC_CARD2",
                                     "VIrq           = 00009501"},
                      selection_case{"card_port_0", TRELINK_WCSC_PCI_CARD | TRELINK_WCSC_ALTERNATE,
                                     "TRELINK_WCSC_CARD0", "VIRingSize     = 00001000"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(wcsc_link, a_port_without_a_line_fails_to_open) {
    ::unsetenv("TRELINK_WCSC_CARD0");
    EXPECT_EQ(open(TRELINK_LINK_SERIAL_WCSC | TRELINK_SERIAL_STREAM_PORT | (1u << 16)), 1);
    EXPECT_THAT(errors(),
                ElementsAre("  SerialInitializeComport WCSCVxDOpenPort failed WCSC_status = p_comport->VxDPId = " +
                                hex8(unsigned(-EINVAL)),
                            "  SerialInitializeInterfaces SerialInitializeComport STREAM failed WCSC_status = " +
                                hex8(unsigned(-EINVAL))));
}

// Buffer allocations and locks that fail on request.
struct failing_memory {
    static inline int map_calls = 0, lock_calls = 0, fail_map_at = 0, fail_lock_at = 0;
    static void* map(std::size_t size) {
        if (++map_calls == fail_map_at) {
            errno = ENOMEM;
            return MAP_FAILED;
        }
        return ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    static int lock(const void* address, std::size_t size) {
        if (++lock_calls == fail_lock_at) {
            errno = EPERM;
            return -1;
        }
        return ::mlock(address, size);
    }
    failing_memory(int map_at, int lock_at) {
        map_calls = lock_calls = 0;
        fail_map_at = map_at;
        fail_lock_at = lock_at;
        ser::set_memory_calls({map, lock});
    }
    ~failing_memory() { ser::set_memory_calls({}); }
};

struct lock_case {
    const char* name;
    int map_at, lock_at;
    std::string message;
};

class wcsc_locked_buffers : public wcsc_link, public ::testing::WithParamInterface<lock_case> {};

TEST_P(wcsc_locked_buffers, a_buffer_that_cannot_be_locked_fails_the_initialisation) {
    const auto& c = GetParam();
    start_peer(false);
    {
        failing_memory memory(c.map_at, c.lock_at);
        EXPECT_EQ(open(), 1);
    }
    EXPECT_THAT(errors(), ElementsAre(c.message));
    EXPECT_FALSE(ser::wcsc::command_port_open());
    // The port went back to the driver: the next attempt opens it afresh.
    box_capture::boxes().clear();
    EXPECT_EQ(open(), 0);
    EXPECT_THAT(errors(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    buffers, wcsc_locked_buffers,
    ::testing::Values(
        lock_case{"alloc_command_header", 1, 0,
                  "SerialTransferDataToLockedBuffers VirtualAlloc pLocked_command_header failed GetLastError = 0000000c"},
        lock_case{"lock_command_data", 0, 2,
                  "SerialTransferDataToLockedBuffers VirtualLock pLocked_command_data failed GetLastError = 00000001"},
        lock_case{"alloc_response_header", 3, 0,
                  "SerialTransferDataToLockedBuffers VirtualAlloc pLocked_response_header failed GetLastError = 0000000c"},
        lock_case{"lock_response_data", 0, 4,
                  "SerialTransferDataToLockedBuffers VirtualLock pLocked_response_data failed GetLastError = 00000001"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(wcsc_link, an_acknowledgement_byte_that_cannot_be_locked_sends_nothing) {
    connect(false);
    target_version v;
    std::uint16_t returned = 0;
    {
        failing_memory memory(0, 1);
        EXPECT_EQ(get_target_version(v, returned), int(STATUS_CR_LOCK_FAILED));
    }
    EXPECT_THAT(errors(), ElementsAre("SerialSendCommandReceiveResponse VirtualLock ack failed GetLastError = 00000001",
                                      "KesSendCommand SendCommandReceiveResponse failed return_status = 20000002"));
    EXPECT_EQ(peer->counters().commands, 0u);
}

TEST_F(wcsc_link, a_command_larger_than_the_locked_buffer_is_refused_before_sending) {
    connect(false);
    bytes request(0x4001, 0x11), response(16);
    std::uint16_t returned = 0;
    auto dog = guard();
    EXPECT_EQ(KesSendCommand(79, request.data(), 0x4001, response.data(), 16, &returned),
              int(STATUS_CR_COMMAND_TOO_LARGE));
    EXPECT_EQ(peer->counters().commands, 0u);
    EXPECT_EQ(errors().front(), "SerialSendCommandReceiveResponse command exceeds maximum transfer size of 4000");
    // 0x4000 bytes fit: the ECU gets them all and answers (it does not know code 79).
    EXPECT_NE(KesSendCommand(79, request.data(), 0x4000, response.data(), 16, &returned), 0);
    EXPECT_EQ(peer->counters().commands, 1u);
    EXPECT_EQ(peer->counters().last_header, (bytes{0xCD, 0x4F, 0x40, 0x00, 0x00, 0x10, 0x00, 0x00}));
    EXPECT_EQ(request, bytes(0x4001, 0x11));
}

TEST_F(wcsc_link, a_line_that_hangs_up_mid_exchange_ends_it) {
    connect(false);
    peer->set_faults(ecusim::fault_plan::parse("code=0:mute"));
    std::jthread puller([this] {
        if (peer->wait_for([](const auto& c) { return c.commands == 1; }, 5000ms)) peer->hang_up();
    });
    target_version v;
    std::uint16_t returned = 0;
    auto dog = watchdog(10s, [] {});
    EXPECT_EQ(get_target_version(v, returned), int(STATUS_CR_SERIAL_TRANSFER_FAILED));
    EXPECT_EQ(errors().front(),
              "SerialSendCommandReceiveResponse WCSCVxDGetPacket failed WCSC_status = " + hex8(unsigned(-EPIPE)));
}

// A far end that answers each connection request with one byte of its choice.
class scripted_answer {
public:
    scripted_answer(const std::string& link, std::uint8_t answer)
        : line_(link), thread_([this, answer](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  pollfd p{line_.master(), POLLIN, 0};
                  if (::poll(&p, 1, 20) <= 0) continue;
                  std::uint8_t b;
                  if (::read(line_.master(), &b, 1) == 1 && b == 0xC5)
                      [[maybe_unused]] const auto n = ::write(line_.master(), &answer, 1);
              }
          }) {}

private:
    platform::serial::pty line_;
    std::jthread thread_;
};

TEST_F(wcsc_link, any_other_connection_answer_is_refused) {
    scoped_env env("TRELINK_COM1", path("scripted"));
    scripted_answer far_end(path("scripted"), 0x42);
    ASSERT_EQ(open(), 0);
    transfer::state().host_order_target = true;
    EXPECT_EQ(KesConnectCommandResponseInterface(), 1);
    EXPECT_TRUE(transfer::state().host_order_target);
    EXPECT_THAT(errors(), ElementsAre("SerialConnectCommandResponseInterface WCSCVxDGetPacket *temp != (char) "
                                      "INTERFACE_CONNECTION_INDICATOR"));
}

TEST_F(wcsc_link, a_silent_line_fails_the_connection) {
    scoped_env env("TRELINK_COM1", path("quiet"));
    platform::serial::pty quiet(path("quiet"));
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(KesConnectCommandResponseInterface(), 1);
    EXPECT_THAT(errors(), ElementsAre("SerialConnectCommandResponseInterface WCSCVxDGetPacket failed WCSC_status = "
                                      "00000000"));
}

TEST_F(wcsc_link, closing_ports_that_are_not_open_says_so) {
    EXPECT_EQ(ser::wcsc::SerialCloseInterfaces(TRELINK_SERIAL_STREAM_PORT | TRELINK_SERIAL_COMMAND_PORT), 0);
    EXPECT_THAT(errors(), ElementsAre("SerialCloseInterfaces STREAM_INTERFACE NOT initialized",
                                      "SerialCloseInterfaces COMMAND_RESPONSE_INTERFACE NOT initialized"));
}

TEST_F(wcsc_link, a_closed_link_is_not_connected) {
    connect(false);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_SERIAL_COMMAND_PORT), 0);
    target_version v;
    std::uint16_t returned = 0;
    EXPECT_EQ(get_target_version(v, returned), int(STATUS_CR_NOT_CONNECTED));
    EXPECT_EQ(peer->counters().commands, 0u);
}

}  // namespace
}  // namespace qx::test
