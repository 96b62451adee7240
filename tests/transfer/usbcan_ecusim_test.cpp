// The USB-CAN link end to end against the virtual ECU on the virtual bus: in this process
// and as `ecusim can`, and the ECU's own side of the segmentation seen from the bus.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "ecusim/can_peer.h"
#include "protocol/layout.h"
#include "protocol/status.h"
#include "tests/transfer/transfer_test_support.h"
#include "tests/transfer/usbcan_test_bus.h"
#include "transfer/usbcan/usbcan_link.h"

extern char** environ;

namespace qx::test {
namespace {

constexpr unsigned security_command = 6;
constexpr std::uint16_t response_room = 4088;

// A bus path in a fresh folder, published as TRELINK_VCAN while alive.
class bus_folder {
public:
    bus_folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ecusim-can-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        ::setenv("TRELINK_VCAN", path().c_str(), 1);
    }
    ~bus_folder() {
        ::unsetenv("TRELINK_VCAN");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string path() const { return dir_ + "/bus"; }

private:
    std::string dir_;
};

// Security_BlockRequest_DTS in host order: command @0, size @2, key0 @8, key1 @16,
// address @24, misc0 @28, the data array @40; the elements behind the 48-byte fixed part.
bytes security_request(std::uint8_t command, const bytes& key0, const bytes& data, std::uint32_t address,
                       std::uint16_t size = 0) {
    bytes b(48, 0);
    b[0] = command;
    std::memcpy(&b[2], &size, 2);
    protocol::set_descriptor(&b[8], 1, std::uint16_t(key0.size()));
    protocol::set_descriptor(&b[16], 1, 0);
    std::memcpy(&b[24], &address, 4);
    std::memcpy(&b[28], &address, 4);
    protocol::set_descriptor(&b[40], 1, std::uint16_t(data.size()));
    b.insert(b.end(), key0.begin(), key0.end());
    b.insert(b.end(), data.begin(), data.end());
    const auto* layout = protocol::find_layout("Security_BlockRequest_DTS");
    // Laid out; an empty key array is no fault here.
    EXPECT_NE(protocol::set_pointers(*layout, b.data(), b.size()), protocol::TS_LAYOUT_ERROR);
    return b;
}

struct security_answer {
    int status;
    std::uint32_t ecu_status = 0xFFFFFFFF;
    bytes text;  // the str array's elements
    std::uint16_t returned = 0;
};

security_answer send_security(bytes request) {
    bytes response(response_room, 0);
    security_answer a{};
    a.status = KesSendCommand(security_command, request.data(), std::uint16_t(request.size()), response.data(),
                              response_room, &a.returned);
    if (a.status != 0 || a.returned < 20) return a;
    std::memcpy(&a.ecu_status, response.data(), 4);
    // GenericStatusStringResponse_DTS: status @0, str @4, fixed part 20; the slot holds the offset.
    const std::uint32_t count = protocol::descriptor_count(&response[4]);
    std::uint32_t offset = 0;
    std::memcpy(&offset, &response[8], 4);
    if (offset + count <= a.returned) a.text.assign(response.begin() + offset, response.begin() + offset + count);
    return a;
}

class usbcan_ecusim : public ::testing::TestWithParam<std::uint8_t> {
protected:
    void TearDown() override { KesCloseInterfaces(TRELINK_LINK_USBCAN); }
    bus_folder folder;
};

TEST_P(usbcan_ecusim, carries_a_2048_byte_security_block_and_reads_it_back) {
    ecusim::ecu_config cfg;
    cfg.mode = ecusim::ecu_mode::app;
    cfg.flash_map = false;  // a block anywhere: this is about the link
    ecusim::can_peer ecu(cfg, folder.path(), GetParam());
    ecu.start();
    ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_USBCAN, nullptr), 0);

    const security_answer key = send_security(security_request(6, pattern(128, 3), {}, 0));
    ASSERT_EQ(key.status, 0);
    EXPECT_EQ(key.ecu_status, 0u);

    const std::uint32_t address = 0x80040000;
    const bytes block = pattern(2048, 11);
    const security_answer stored = send_security(security_request(9, {}, block, address));
    ASSERT_EQ(stored.status, 0);
    EXPECT_EQ(stored.ecu_status, 0u);
    EXPECT_EQ(ecu.inspect([&](ecusim::ecu& e) { return e.state().flash.at(address); }), block);

    // A dump piece of the same 2048 bytes comes back through the response's text array.
    const security_answer piece = send_security(security_request(13, {}, {}, address, 2048));
    ASSERT_EQ(piece.status, 0);
    EXPECT_EQ(piece.ecu_status, 0u);
    EXPECT_EQ(piece.returned, 20 + 2048);
    EXPECT_EQ(piece.text, block);
    EXPECT_EQ(ecu.inspect([](ecusim::ecu& e) { return e.state().framing_errors; }), 0u);
}

INSTANTIATE_TEST_SUITE_P(ecu_block_sizes, usbcan_ecusim, ::testing::Values(0, 4, 255));

TEST(usbcan_ecusim_deadline, a_silent_ecu_fails_the_read_after_the_answer_deadline) {
    bus_folder folder;
    ecusim::ecu_config cfg;
    cfg.faults = ecusim::fault_plan::parse("code=0#2:mute");
    ecusim::can_peer ecu(cfg, folder.path(), 0);
    ecu.start();
    ::setenv("TRELINK_ANSWER_TIMEOUT_MS", "200", 1);
    const int opened = KesInitializeInterfaces(TRELINK_LINK_USBCAN, nullptr);
    ::unsetenv("TRELINK_ANSWER_TIMEOUT_MS");
    ASSERT_EQ(opened, 0);
    std::uint32_t version[2] = {};
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(0, nullptr, 0, version, sizeof version, &returned), 0);
    EXPECT_EQ(version[1], 95u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KesSendCommand(0, nullptr, 0, version, sizeof version, &returned), transfer::usbcan::link_error);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(KesSendCommand(0, nullptr, 0, version, sizeof version, &returned), 0);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_USBCAN), 0);
}

// GET_TARGET_VERSION as the ECU sees it on the bus, big-endian.
bytes version_command(std::uint16_t room) { return concat({be16(0xCD00), be16(0), be16(room), be16(0)}); }

TEST(usbcan_ecusim_side, flow_control_carries_the_block_size_and_a_broken_command_is_dropped) {
    bus_folder folder;
    ecusim::ecu_config cfg;
    cfg.firmware_version = 0x01020304;
    ecusim::can_peer ecu(cfg, folder.path(), 7);
    ecu.start();
    auto host = bus_end::connect(folder.path());
    auto frames = segment(version_command(8), ecusim::can_command_id);
    ASSERT_EQ(frames.size(), 2u);

    // Out of sequence: the packet is dropped and counted.
    host->send(frames[0]);
    const auto control = host->receive();
    ASSERT_TRUE(control);
    EXPECT_EQ(control->id, ecusim::can_response_id);
    EXPECT_TRUE(control->extended);
    EXPECT_EQ(control->length, 8);
    EXPECT_EQ(control->data, (std::array<std::uint8_t, 8>{0x30, 7}));
    bus_frame wrong = frames[1];
    wrong.data[0] = 0x22;
    host->send(wrong);
    EXPECT_TRUE(ecu.wait_for([](const ecusim::ecu& e) { return e.state().framing_errors == 1; },
                             std::chrono::seconds(5)));

    // In sequence, answered; a host block size of 1 makes the ECU wait for each flow control.
    host->send(frames[0]);
    ASSERT_TRUE(host->receive());
    host->send(frames[1]);
    const auto first = host->receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->data[0], 0x10);
    EXPECT_EQ(first->data[1], 16);  // header and TargetVersionResponse_TS
    host->send([] {
        bus_frame f = ecu_frame({0x30, 1});
        f.id = ecusim::can_command_id;
        return f;
    }());
    const auto cf1 = host->receive();
    ASSERT_TRUE(cf1);
    EXPECT_EQ(cf1->data[0], 0x21);
    EXPECT_FALSE(host->receive(300));  // no second frame before the next flow control
    host->send([] {
        bus_frame f = ecu_frame({0x30, 0});
        f.id = ecusim::can_command_id;
        return f;
    }());
    const auto cf2 = host->receive();
    ASSERT_TRUE(cf2);
    EXPECT_EQ(cf2->data[0], 0x22);
    // Packet bytes 8..11 and 12..15: firmware and transfer-structure version, big-endian.
    EXPECT_EQ((std::vector<std::uint8_t>(cf1->data.begin() + 3, cf1->data.end())),
              (std::vector<std::uint8_t>{0x01, 0x02, 0x03, 0x04, 0x00}));
    EXPECT_EQ((std::vector<std::uint8_t>(cf2->data.begin() + 1, cf2->data.begin() + 4)),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x5F}));
}

// `ecusim can` as a process of its own.
TEST(usbcan_ecusim_process, answers_target_version_on_the_bus_it_creates) {
    bus_folder folder;
    std::vector<std::string> args = {ECUSIM_PATH, "can", "--vcan", folder.path(), "--block-size", "3"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, ECUSIM_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string banner;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') banner.push_back(c);
    ::close(out[0]);
    EXPECT_NE(banner.find("on the virtual CAN bus at " + folder.path() + ", block size 3"), std::string::npos)
        << banner;

    ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_USBCAN, nullptr), 0);
    std::uint32_t version[2] = {0xFFFFFFFF, 0xFFFFFFFF};
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(0, nullptr, 0, version, sizeof version, &returned), 0);
    EXPECT_EQ(returned, 8);
    EXPECT_EQ(version[1], 95u);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_USBCAN), 0);

    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(std::filesystem::exists(folder.path()));
}

}  // namespace
}  // namespace qx::test
