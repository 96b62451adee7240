// The simulator link against simulator libraries built by the tests.
#include <dlfcn.h>

#include <cstring>
#include <string>

#include "protocol/commands.h"
#include "protocol/structs.h"
#include "tests/transfer/test_simulator.h"
#include "tests/transfer/transfer_test_support.h"
#include "transfer/library_state.h"

namespace qx::test {
namespace {

using namespace qx::protocol;
using qx::transfer::state;

// The data block: one byte of the simulator's own, then the library's file name.
std::vector<unsigned char> data_block(const std::string& library) {
    std::vector<unsigned char> block{0x5A};
    block.insert(block.end(), library.begin(), library.end());
    block.push_back(0);
    return block;
}

bool is_loaded(const char* path) {
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle) ::dlclose(handle);
    return handle != nullptr;
}

// The record of a loaded test simulator (valid while the link keeps it loaded).
test_simulator_record* record_of(const char* path) {
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return nullptr;
    auto get =
        reinterpret_cast<test_simulator_record* (*)()>(::dlsym(handle, "TestSimulatorRecord"));
    ::dlclose(handle);
    return get ? get() : nullptr;
}

class simulator_link : public ::testing::Test {
protected:
    void TearDown() override {
        KesCloseInterfaces(TRELINK_LINK_SIMULATOR);
        EXPECT_FALSE(is_loaded(TEST_SIMULATOR_PATH));
    }
    int open(const char* path = TEST_SIMULATOR_PATH, unsigned flags = TRELINK_LINK_SIMULATOR) {
        block = data_block(path);
        return KesInitializeInterfaces(flags, block.data());
    }
    std::vector<unsigned char> block;
    message_capture capture;
};

TEST_F(simulator_link, loads_the_library_named_at_data_plus_1_and_starts_it) {
    ASSERT_EQ(open(), 0);
    test_simulator_record* record = record_of(TEST_SIMULATOR_PATH);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->starts, 1);
    EXPECT_EQ(record->start_data, block.data());
    EXPECT_EQ(state().link, &transfer::simulator_link);
}

class simulator_exchange : public simulator_link, public ::testing::WithParamInterface<unsigned> {};

TEST_P(simulator_exchange, passes_structures_in_host_order_and_returns_0) {
    ASSERT_EQ(open(TEST_SIMULATOR_PATH, GetParam()), 0);
    test_simulator_record* record = record_of(TEST_SIMULATOR_PATH);
    ASSERT_NE(record, nullptr);
    record->written_status = 0x1234;
    ReadDataRequest_TS request;
    std::memset(&request, 0, sizeof request);
    request.address = 0x11223344;
    request.access_count = 0x0102;
    bytes before(sizeof request);
    std::memcpy(before.data(), &request, sizeof request);
    bytes response(64, 0);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(0x101, &request, sizeof request, response.data(), 64, &returned), 0);
    EXPECT_EQ(record->exchanges, 1);
    EXPECT_EQ(record->last_header.command_type, 0xCD01);
    EXPECT_EQ(record->last_header.command_data_size, sizeof request);
    EXPECT_EQ(record->last_header.response_data_buffer_size, 64);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), record->last_request));
    EXPECT_EQ(returned, sizeof request);
    EXPECT_TRUE(
        std::equal(before.begin(), before.end(), response.begin()));  // echoed, not converted
    EXPECT_EQ(state().transport_status, 0u);
    EXPECT_EQ(state().response_header.status, 0);
    EXPECT_TRUE(capture.texts().empty());
}

INSTANTIATE_TEST_SUITE_P(flags, simulator_exchange,
                         ::testing::Values(TRELINK_LINK_SIMULATOR,
                                           TRELINK_LINK_SIMULATOR | TRELINK_HOST_ORDER_TARGET,
                                           TRELINK_LINK_SIMULATOR | TRELINK_LINK_USB));

TEST_F(simulator_link, append_playback_is_passed_through) {
    ASSERT_EQ(open(), 0);
    test_simulator_record* record = record_of(TEST_SIMULATOR_PATH);
    ASSERT_NE(record, nullptr);
    const char playback[] = "playback";
    EXPECT_EQ(KesAppendPlayback(playback, 9), 17);
    EXPECT_EQ(record->playback, playback);
    EXPECT_EQ(record->playback_size, 9u);
    EXPECT_EQ(KesConnectCommandResponseInterface(), 0);
}

TEST_F(simulator_link, close_unloads_and_later_calls_return_1) {
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_SIMULATOR), 0);
    EXPECT_FALSE(is_loaded(TEST_SIMULATOR_PATH));
    bytes response(8);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(0, nullptr, 0, response.data(), 8, &returned), 1);
    EXPECT_EQ(state().transport_status, 1u);
    EXPECT_EQ(state().response_header.status, 1);
    EXPECT_EQ(KesAppendPlayback("x", 1), 1);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_SIMULATOR), 1);
    EXPECT_THAT(capture.texts(),
                ::testing::ElementsAre(
                    "KesSendCommand SendCommandReceiveResponse failed return_status = 00000001"));
}

TEST_F(simulator_link, initialising_again_replaces_the_loaded_simulator) {
    ASSERT_EQ(open(), 0);
    record_of(TEST_SIMULATOR_PATH)->starts = 40;
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(record_of(TEST_SIMULATOR_PATH)->starts, 1);  // a fresh load
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_SIMULATOR), 0);
    EXPECT_FALSE(is_loaded(TEST_SIMULATOR_PATH));
}

TEST_F(simulator_link, missing_library_fails_initialisation) {
    EXPECT_EQ(open("/nonexistent/libnosim.so"), 1);
    EXPECT_EQ(KesInitializeInterfaces(TRELINK_LINK_SIMULATOR, nullptr), 1);
    EXPECT_EQ(KesAppendPlayback("x", 1), 1);
    std::uint16_t returned = 0;
    bytes response(8);
    EXPECT_EQ(KesSendCommand(0, nullptr, 0, response.data(), 8, &returned), 1);
}

TEST_F(simulator_link, start_is_optional) {
    ASSERT_EQ(open(TEST_SIMULATOR_NO_START_PATH), 0);
    bytes request = pattern(4), response(8, 0);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(0x4F, request.data(), 4, response.data(), 8, &returned), 0);
    EXPECT_EQ(returned, 4);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_SIMULATOR), 0);
}

TEST_F(simulator_link, command_processor_is_required) {
    EXPECT_EQ(open(TEST_SIMULATOR_NO_PROCESSOR_PATH), 1);
    EXPECT_EQ(record_of(TEST_SIMULATOR_NO_PROCESSOR_PATH)->starts, 1);
    bytes response(8);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(0, nullptr, 0, response.data(), 8, &returned), 1);
    EXPECT_EQ(state().transport_status, 1u);
    EXPECT_EQ(KesAppendPlayback("x", 1), 17);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_SIMULATOR), 0);
    EXPECT_FALSE(is_loaded(TEST_SIMULATOR_NO_PROCESSOR_PATH));
}

TEST_F(simulator_link, append_playback_needs_the_simulator_selected) {
    ASSERT_EQ(open(), 0);
    temporary_registry registry;
    KesInitializeInterfaces(TRELINK_LINK_USB, nullptr);  // USB now; the simulator stays loaded
    EXPECT_EQ(KesAppendPlayback("x", 1), 1);
    ASSERT_EQ(open(), 0);
}

}  // namespace
}  // namespace qx::test
