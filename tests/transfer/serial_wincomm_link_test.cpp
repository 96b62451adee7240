// The serial link through the communication functions against the virtual ECU on a
// pseudo-terminal, in process and as the `ecusim serial` command.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "protocol/status.h"
#include "tests/transfer/serial_test_support.h"
#include "transfer/library_state.h"

extern char** environ;

namespace qx::test {
namespace {

using namespace qx::protocol;
using namespace std::chrono_literals;
namespace ser = qx::transfer::serial;
using ::testing::IsEmpty;

constexpr unsigned wincomm_com1 =
    TRELINK_LINK_SERIAL_WINCOMM | TRELINK_SERIAL_COMMAND_PORT | (1u << TRELINK_SERIAL_PORT_SHIFT);

class wincomm_link : public serial_link_test {
protected:
    int open(unsigned flags = wincomm_com1) { return KesInitializeInterfaces(flags, nullptr); }
    void connect() {
        start_peer(true);
        ASSERT_EQ(open(), 0);
        ASSERT_EQ(KesConnectCommandResponseInterface(), 0);
    }
};

TEST_F(wincomm_link, connects_and_reads_the_target_version_end_to_end) {
    start_peer(true);
    ASSERT_EQ(open(), 0);
    EXPECT_STREQ(transfer::state().command_port.name, "COM1");
    EXPECT_STREQ(ser::wincomm::command_port().port_name, "COM1");
    ASSERT_EQ(KesConnectCommandResponseInterface(), 0);
    EXPECT_TRUE(transfer::state().host_order_target);

    for (int round = 0; round < 3; ++round) {
        target_version v;
        std::uint16_t returned = 0;
        ASSERT_EQ(get_target_version(v, returned), 0);
        EXPECT_EQ(returned, 8);
        EXPECT_EQ(v.firmware_version, 0x01020304u);
        EXPECT_EQ(v.transferstructs_version, 95u);
    }
    EXPECT_EQ(peer->counters().last_header, (bytes{0x00, 0xCD, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(wait_for_acknowledgements(3));
    EXPECT_THAT(boxes(), IsEmpty());
}

TEST_F(wincomm_link, a_big_endian_ecu_is_not_accepted) {
    start_peer(false);
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(KesConnectCommandResponseInterface(), 1);
    EXPECT_FALSE(transfer::state().host_order_target);
    EXPECT_EQ(peer->counters().connection_requests, 1u);
}

TEST_F(wincomm_link, a_silent_ecu_times_out_after_two_seconds) {
    connect();
    peer->set_faults(ecusim::fault_plan::parse("code=0:mute"));
    target_version v;
    std::uint16_t returned = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get_target_version(v, returned), int(STATUS_CR_SERIAL_TRANSFER_FAILED));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 1900ms);
    EXPECT_LT(took, 6s);
    EXPECT_EQ(returned, 0);
}

TEST_F(wincomm_link, a_header_that_does_not_come_leaves_status_ffff) {
    connect();
    peer->set_faults(ecusim::fault_plan::parse("code=0#1:short"));
    target_version v;
    std::uint16_t returned = 0;
    EXPECT_EQ(get_target_version(v, returned), 0xFFFF);
    EXPECT_EQ(returned, 0);
    // The next exchange starts clean.
    peer->set_faults({});
    ASSERT_EQ(get_target_version(v, returned), 0);
    EXPECT_EQ(v.firmware_version, 0x01020304u);
}

TEST_F(wincomm_link, an_oversized_response_is_drained_and_acknowledged) {
    connect();
    peer->set_faults(ecusim::fault_plan::parse("code=0#1:oversize"));
    bytes response(8, 0xAA);
    std::uint16_t returned = 0xBEEF;
    EXPECT_EQ(KesSendCommand(0, nullptr, 0, response.data(), 8, &returned), int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL));
    EXPECT_EQ(returned, 0xBEEF);
    EXPECT_EQ(response, bytes(8, 0xAA));
    EXPECT_TRUE(wait_for_acknowledgements(1));
    target_version v;
    ASSERT_EQ(get_target_version(v, returned), 0);
    EXPECT_EQ(v.transferstructs_version, 95u);
}

TEST_F(wincomm_link, a_response_larger_than_the_ring_arrives_whole) {
    connect();
    peer->set_faults(ecusim::fault_plan::parse("code=0#1:oversize:truncate=3000"));
    bytes response(4088, 0);
    std::uint16_t returned = 0;
    ASSERT_EQ(KesSendCommand(0, nullptr, 0, response.data(), 4088, &returned), 0);
    ASSERT_EQ(returned, 3000);
    target_version v;
    std::memcpy(&v, response.data(), sizeof v);
    EXPECT_EQ(v.firmware_version, 0x01020304u);
    EXPECT_EQ(std::count(response.begin() + 8, response.begin() + 3000, 0x5A), 2992);
    EXPECT_TRUE(wait_for_acknowledgements(1));
}

TEST_F(wincomm_link, a_response_that_comes_too_late_is_not_read_by_the_next_exchange) {
    connect();
    // 1209 bytes after the exchange gave up: more than the ring holds, the rest waits in the port.
    peer->set_faults(ecusim::fault_plan::parse("code=0#1:delay=2500:oversize:truncate=1200"));
    bytes response(4088, 0);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(0, nullptr, 0, response.data(), 4088, &returned), int(STATUS_CR_SERIAL_TRANSFER_FAILED));
    ASSERT_TRUE(peer->wait_for([](const ecusim::serial_counters& c) { return c.answers >= 1; }, 5000ms));
    target_version v;
    ASSERT_EQ(get_target_version(v, returned), 0);
    EXPECT_EQ(returned, 8);
    EXPECT_EQ(v.transferstructs_version, 95u);
}

TEST_F(wincomm_link, a_port_that_cannot_be_opened_fails_the_initialisation) {
    scoped_env env("TRELINK_COM1", path("nothing-here"));
    EXPECT_EQ(open(), 1);
    EXPECT_FALSE(ser::wincomm::command_port_open());
    EXPECT_EQ(KesConnectCommandResponseInterface(), 1);
    target_version v;
    std::uint16_t returned = 0;
    EXPECT_EQ(get_target_version(v, returned), int(STATUS_CR_NOT_CONNECTED));
}

TEST_F(wincomm_link, a_closed_port_no_longer_carries_exchanges) {
    connect();
    EXPECT_EQ(KesCloseInterfaces(TRELINK_SERIAL_COMMAND_PORT), 0);
    target_version v;
    std::uint16_t returned = 0;
    EXPECT_EQ(get_target_version(v, returned), int(STATUS_CR_NOT_CONNECTED));
    // And it opens again.
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(KesConnectCommandResponseInterface(), 0);
    EXPECT_EQ(get_target_version(v, returned), 0);
}

// `ecusim serial` as a process of its own.
class ecusim_serial_process {
public:
    ecusim_serial_process(const std::string& link, bool host_order) {
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args = {ECUSIM_PATH, "serial", "--link", link};
        if (host_order) args.push_back("--host-order");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, ECUSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_ = out[0];
    }
    ~ecusim_serial_process() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        ::close(out_);
    }
    // The first line it prints: once it is there, the line is ready.
    std::string first_line() {
        std::string line;
        char c;
        pollfd p{out_, POLLIN, 0};
        while (::poll(&p, 1, 10000) > 0 && ::read(out_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

TEST_F(wincomm_link, ecusim_serial_answers_on_its_line) {
    scoped_env env("TRELINK_COM1", path("ecusim-line"));
    ecusim_serial_process ecusim(path("ecusim-line"), true);
    ASSERT_NE(ecusim.first_line().find("serial line at " + path("ecusim-line")), std::string::npos);
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(KesConnectCommandResponseInterface(), 0);
    target_version v;
    std::uint16_t returned = 0;
    ASSERT_EQ(get_target_version(v, returned), 0);
    EXPECT_EQ(v.firmware_version, 0x01020304u);
    EXPECT_EQ(v.transferstructs_version, 95u);
}

}  // namespace
}  // namespace qx::test
