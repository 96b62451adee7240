// The USB-CAN link against a scripted adapter: what it hands the adapter, how it cuts its
// writes by the ECU's block size, and how it takes the adapter's answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocol/status.h"
#include "tests/transfer/usbcan_fake_adapter.h"
#include "transfer/messages.h"
#include "transfer/usbcan/usbcan_link.h"

namespace qx::test {
namespace {

using namespace qx::transfer::usbcan;
using namespace qx::protocol;
namespace fa = fake_adapter;
namespace pc = qx::platform::can;
using bytes = std::vector<std::uint8_t>;

void quiet(std::string_view, std::string_view) {}

class usbcan_link : public ::testing::Test {
protected:
    void SetUp() override {
        fa::reset();
        previous_ = transfer::set_message_sink(quiet);
    }
    void TearDown() override {
        UsbCanSystecCloseInterfaces(0);
        transfer::set_message_sink(previous_);
    }

    // One exchange of `n` data bytes, as the library hands it over (header in host order).
    int exchange(std::uint16_t n) {
        request.assign(n, 0x5A);
        command_header = {0xCD4F, n, 64, 0};
        response_header = {};
        response.assign(64, 0);
        returned = 0xBEEF;
        CommandResponseTransfer t{&command_header, request.data(), &response_header,
                                  response.data(), &returned,      &transport_status};
        return UsbCanSystecSendCommandReceiveResponse(&t);
    }
    // The ECU's flow control after the first write, and an empty answer after `writes`.
    static void ecu_answers(std::uint8_t block_size, std::size_t writes) {
        fa::get().reads.push_back({pc::ucan_ok, {fa::ecu_frame({0x30, block_size})}, 1});
        fa::get().reads.push_back({pc::ucan_ok, {fa::ecu_frame({0x10, 0x08, 0xCD, 0x4F, 0, 0, 0, 0})}, writes});
        fa::get().reads.push_back({pc::ucan_ok, {fa::ecu_frame({0x21, 0, 0})}, writes + 1});
    }
    static std::vector<std::size_t> write_sizes() {
        std::vector<std::size_t> sizes;
        for (const auto& w : fa::get().writes) sizes.push_back(w.size());
        return sizes;
    }

    TrelinkCommandHeader command_header{};
    TrelinkResponseHeader response_header{};
    bytes request, response;
    std::uint16_t returned = 0;
    std::uint32_t transport_status = 0;
    transfer::message_sink previous_ = nullptr;
};

TEST_F(usbcan_link, initialise_opens_any_adapter_with_500_kbit_and_the_response_filter) {
    ASSERT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), 0);
    const auto& s = fa::get();
    EXPECT_EQ(s.device_number, 255);
    EXPECT_EQ(s.parameters.size, 24u);
    EXPECT_EQ(s.parameters.mode, 0);
    EXPECT_EQ(s.parameters.btr0, 0x00);
    EXPECT_EQ(s.parameters.btr1, 0x1C);
    EXPECT_EQ(s.parameters.output_control, 0x1A);
    EXPECT_EQ(s.parameters.acceptance_mask, 0x00000007u);
    EXPECT_EQ(s.parameters.acceptance_code, 0xB3333338u);
    EXPECT_EQ(s.parameters.baud_rate, 0u);
    EXPECT_EQ(s.parameters.rx_buffer_entries, 4096);
    EXPECT_EQ(s.parameters.tx_buffer_entries, 4096);
    // Open already: nothing more.
    EXPECT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), 0);
    EXPECT_EQ(s.init_hardware_calls, 1);

    EXPECT_EQ(UsbCanSystecCloseInterfaces(0x100), 0);
    EXPECT_EQ(UsbCanSystecCloseInterfaces(0x100), 0);
    EXPECT_EQ(s.deinit_can_calls, 1);
    EXPECT_EQ(s.deinit_hardware_calls, 1);
    ASSERT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), 0);
    EXPECT_EQ(s.init_hardware_calls, 2);
    EXPECT_EQ(s.init_can_calls, 2);
}

struct init_failure {
    bool hardware_fails;
    int deinit_hardware_calls;
};

class usbcan_init_failures : public usbcan_link, public ::testing::WithParamInterface<init_failure> {};

TEST_P(usbcan_init_failures, leave_the_link_closed) {
    (GetParam().hardware_fails ? fa::get().init_hardware : fa::get().init_can) = pc::ucan_error_no_adapter;
    EXPECT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), int(STATUS_CR_NOT_CONNECTED));
    EXPECT_EQ(fa::get().deinit_hardware_calls, GetParam().deinit_hardware_calls);
    EXPECT_EQ(exchange(4), int(STATUS_CR_NOT_CONNECTED));
    EXPECT_TRUE(fa::get().writes.empty());
    EXPECT_EQ(command_header.command_type, 0x4FCD);  // big-endian even so
    // Once the adapter is there, the link opens.
    fa::get().init_hardware = fa::get().init_can = pc::ucan_ok;
    EXPECT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), 0);
}

INSTANTIATE_TEST_SUITE_P(adapter, usbcan_init_failures,
                         ::testing::Values(init_failure{true, 0}, init_failure{false, 1}));

struct block_case {
    std::uint8_t block_size;
    std::vector<std::size_t> writes;  // the first frame, the blocks, the flow control
};

class usbcan_blocks : public usbcan_link, public ::testing::WithParamInterface<block_case> {};

TEST_P(usbcan_blocks, remaining_frames_go_in_writes_of_the_block_size) {
    ASSERT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), 0);
    const std::size_t writes = GetParam().writes.size() - 1;
    ecu_answers(GetParam().block_size, writes);
    // 100 data bytes: 108 bytes, a first frame and 15 consecutive frames.
    ASSERT_EQ(exchange(100), 0);
    EXPECT_EQ(write_sizes(), GetParam().writes);
    EXPECT_EQ(returned, 0);
    EXPECT_EQ(response_header.response_type, 0xCD4F);
}

INSTANTIATE_TEST_SUITE_P(
    flow_control, usbcan_blocks,
    ::testing::Values(block_case{0, {1, 15, 1}}, block_case{4, {1, 4, 4, 4, 3, 1}}, block_case{15, {1, 15, 1}},
                      block_case{14, {1, 14, 1, 1}}, block_case{200, {1, 15, 1}}));

struct write_case {
    pc::ucan_status status;
    int result;
};

class usbcan_write_statuses : public usbcan_link, public ::testing::WithParamInterface<write_case> {};

TEST_P(usbcan_write_statuses, warnings_but_not_all_sent_are_accepted) {
    ASSERT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), 0);
    ecu_answers(0, 2);
    fa::get().write_statuses = {GetParam().status};
    EXPECT_EQ(exchange(0), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(adapter, usbcan_write_statuses,
                         ::testing::Values(write_case{pc::ucan_ok, 0}, write_case{0x80, 0}, write_case{0xA5, 0},
                                           write_case{0x91, link_error}, write_case{0x01, link_error},
                                           write_case{0x7F, link_error}));

TEST_F(usbcan_link, write_that_took_fewer_messages_than_asked_fails) {
    ASSERT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), 0);
    ecu_answers(0, 2);
    fa::get().write_limits = {1, 0};  // the first frame goes, the consecutive frame does not
    EXPECT_EQ(exchange(0), link_error);
}

TEST_F(usbcan_link, read_warnings_are_tried_again_and_a_failed_read_ends_the_exchange) {
    ASSERT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), 0);
    auto& reads = fa::get().reads;
    reads.push_back({0x80, {}, 1});
    reads.push_back({0xC3, {}, 1});
    ecu_answers(0, 2);
    EXPECT_EQ(exchange(0), 0);

    reads.push_back({pc::ucan_ok, {fa::ecu_frame({0x30, 0})}, fa::get().writes.size() + 1});
    reads.push_back({pc::ucan_error_bus, {}, 0});
    EXPECT_EQ(exchange(0), link_error);
}

TEST_F(usbcan_link, frames_left_from_an_earlier_exchange_are_discarded) {
    ASSERT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), 0);
    // A consecutive frame that arrived after the previous exchange ended.
    fa::get().reads.push_back({pc::ucan_ok, {fa::ecu_frame({0x22, 1, 2, 3})}, 0});
    ecu_answers(0, 2);
    EXPECT_EQ(exchange(0), 0);
}

TEST_F(usbcan_link, response_beyond_the_buffer_stores_only_what_fits) {
    ASSERT_EQ(UsbCanSystecInitializeInterfaces(0x100, nullptr), 0);
    // 70 data bytes announced and carried; the caller has room for 64.
    std::vector<pc::can_message> frames = {fa::ecu_frame({0x10, 78, 0xCD, 0x4F, 0, 70, 0, 0})};
    for (std::uint8_t k = 1; k <= 11; ++k)
        frames.push_back(fa::ecu_frame({std::uint8_t(0x20 | k), k, k, k, k, k, k, k}));
    fa::get().reads.push_back({pc::ucan_ok, {fa::ecu_frame({0x30, 0})}, 1});
    fa::get().reads.push_back({pc::ucan_ok, frames, 2});
    EXPECT_EQ(exchange(0), int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL));
    EXPECT_EQ(returned, 0xBEEF);
    EXPECT_EQ(response.size(), 64u);
    EXPECT_EQ(response[0], 1);   // the rest of the first consecutive frame
    EXPECT_EQ(response[63], 10);
}

}  // namespace
}  // namespace qx::test
