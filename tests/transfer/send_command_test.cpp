// KesSendCommand over the USB link: header, codec row, request restored, response bounded.
#include <cstring>

#include "protocol/commands.h"
#include "protocol/defines.h"
#include "protocol/layout.h"
#include "protocol/status.h"
#include "protocol/structs.h"
#include "tests/transfer/transfer_test_support.h"

namespace qx::test {
namespace {

using namespace qx::protocol;
using ::testing::ElementsAre;

template <typename T>
bytes as_bytes(const T& value) {
    bytes b(sizeof(T));
    std::memcpy(b.data(), &value, sizeof(T));
    return b;
}

ReadDataRequest_TS read_request() {
    ReadDataRequest_TS r;
    std::memset(&r, 0, sizeof r);
    r.address = 0x11223344;
    r.access_size = 4;
    r.access_count = 0x0102;
    return r;
}
const bytes read_request_wire = {0x11, 0x22, 0x33, 0x44, 0x04, 0x00, 0x01, 0x02};

// Answers each command with `reply` after the header (command type, size, status).
fake_usb_device::script answer(bytes reply, std::uint16_t status = 0) {
    return [reply, status](fake_usb_session& s) {
        while (auto command = s.receive_command()) {
            const std::uint16_t type = std::uint16_t(((*command)[0] << 8) | (*command)[1]);
            s.send(response_header(type, std::uint16_t(reply.size()), status));
            if (!reply.empty()) s.send(reply);
        }
    };
}

struct type_case {
    unsigned code;
    std::uint16_t wire_type;
};

class command_type_on_wire : public usb_link_test,
                             public ::testing::WithParamInterface<type_case> {};

TEST_P(command_type_on_wire, is_0xcd00_plus_the_low_byte_of_the_code) {
    ASSERT_EQ(open(), 0);
    bytes response(64);
    std::uint16_t returned = 0;
    ASSERT_EQ(KesSendCommand(GetParam().code, nullptr, 0, response.data(), 64, &returned), 0);
    EXPECT_THAT(device->received(),
                ElementsAre(concat({be16(GetParam().wire_type), be16(0), be16(64), be16(0)})));
}

INSTANTIATE_TEST_SUITE_P(codes, command_type_on_wire,
                         ::testing::Values(type_case{0, 0xCD00}, type_case{75, 0xCD4B},
                                           type_case{0x10B, 0xCD0B}, type_case{78, 0xCD4E},
                                           type_case{0xFF, 0xCDFF}));

TEST_F(usb_link_test, request_goes_big_endian_and_comes_back_in_host_order) {
    ASSERT_EQ(open(), 0);
    ReadDataRequest_TS request = read_request();
    const bytes before = as_bytes(request);
    bytes response(64);
    std::uint16_t returned = 0;
    ASSERT_EQ(
        KesSendCommand(READ_DATA_BLOCK, &request, sizeof request, response.data(), 64, &returned),
        0);
    EXPECT_THAT(device->received(),
                ElementsAre(concat({be16(0xCD01), be16(8), be16(64), be16(0), read_request_wire})));
    EXPECT_EQ(as_bytes(request), before);
}

TEST_F(usb_link_test, code_above_the_table_goes_out_unconverted) {
    ASSERT_EQ(open(), 0);
    ReadDataRequest_TS request = read_request();
    bytes response(64);
    std::uint16_t returned = 0;
    ASSERT_EQ(KesSendCommand(0x4F, &request, sizeof request, response.data(), 64, &returned), 0);
    EXPECT_THAT(device->received(),
                ElementsAre(concat({be16(0xCD4F), be16(8), be16(64), be16(0), as_bytes(request)})));
}

TEST_F(usb_link_test, response_comes_back_in_host_order) {
    device->serve(answer(concat({be32(5), be32(TRANSFERSTRUCTS_VERSION)})));
    ASSERT_EQ(open(), 0);
    TargetVersionResponse_TS version{};
    std::uint16_t returned = 0;
    ASSERT_EQ(KesSendCommand(GET_TARGET_VERSION, nullptr, 0, &version, sizeof version, &returned),
              0);
    EXPECT_EQ(returned, 8);
    EXPECT_EQ(version.firmware_version, 5u);
    EXPECT_EQ(version.transferstructs_version, TRANSFERSTRUCTS_VERSION);
}

TEST_F(usb_link_test, response_conversion_stops_at_the_bytes_received) {
    device->serve(answer(be32(5)));  // half a TargetVersionResponse_TS
    ASSERT_EQ(open(), 0);
    const bytes untouched = pattern(MAX_TRANSFERSTRUCTS_SIZE);
    bytes response = untouched;
    std::uint16_t returned = 0;
    ASSERT_EQ(KesSendCommand(GET_TARGET_VERSION, nullptr, 0, response.data(),
                             std::uint16_t(response.size()), &returned),
              0);
    EXPECT_EQ(returned, 4);
    std::uint32_t first;
    std::memcpy(&first, response.data(), 4);
    EXPECT_EQ(first, 5u);
    EXPECT_TRUE(std::equal(response.begin() + 4, response.end(), untouched.begin() + 4));
}

TEST_F(usb_link_test, response_arrays_are_laid_out_in_the_callers_buffer) {
    // READ_DATA_BLOCK answers a GenericArray_DTS: descriptor, then three bytes.
    device->serve(answer(bytes{1, 0x00, 0x03, 0, 0xFF, 0xFF, 0xFF, 0xFF, 7, 8, 9}));
    ASSERT_EQ(open(), 0);
    ReadDataRequest_TS request = read_request();
    bytes response(64, 0);
    std::uint16_t returned = 0;
    ASSERT_EQ(
        KesSendCommand(READ_DATA_BLOCK, &request, sizeof request, response.data(), 64, &returned),
        0);
    GenericArray_DTS array;
    std::memcpy(&array, response.data(), sizeof array);
    EXPECT_EQ(array.element_size, 1);
    EXPECT_EQ(descriptor_count(response.data()), 3u);
    EXPECT_EQ(array.data, sizeof(GenericArray_DTS));
    EXPECT_EQ(response[8], 7);
    EXPECT_EQ(response[10], 9);
}

// Responses whose arrays cannot be laid out in the bytes sent; each holds a four-byte tail that
// an array slot written by the ECU points at, which a conversion would reverse.
struct unplaceable_case {
    const char* what;
    unsigned code;
    bytes reply;
};

class unplaceable_response : public usb_link_test,
                             public ::testing::WithParamInterface<unplaceable_case> {};

TEST_P(unplaceable_response, is_left_as_it_came) {
    device->serve(answer(GetParam().reply));
    ASSERT_EQ(open(), 0);
    bytes response(64, 0);
    std::uint16_t returned = 0;
    EXPECT_EQ(KesSendCommand(GetParam().code, nullptr, 0, response.data(), 64, &returned), 0);
    response.resize(GetParam().reply.size());
    EXPECT_EQ(response, GetParam().reply);
}

// GenericStatusStringResponse_DTS: status, str (element size byte at 4), data (at 12), 20 bytes.
bytes status_string(bytes str_descriptor) {
    return concat({be32(0), str_descriptor, bytes{4, 0, 1, 0, 20, 0, 0, 0}, bytes{1, 2, 3, 4}});
}

INSTANTIATE_TEST_SUITE_P(
    cases, unplaceable_response,
    ::testing::Values(
        unplaceable_case{"element_size_0_before_an_array", CONFIGURATION_MODE_RUN,
                         status_string({0, 0, 1, 0, 0, 0, 0, 0})},
        unplaceable_case{"count_past_the_bytes_before_an_array", CONFIGURATION_MODE_RUN,
                         status_string({1, 0, 100, 0, 0, 0, 0, 0})},
        unplaceable_case{"count_past_the_bytes", READ_DATA_BLOCK,
                         bytes{4, 0, 3, 0, 8, 0, 0, 0, 1, 2, 3, 4}}),
    [](const auto& row) { return std::string(row.param.what); });

TEST_F(usb_link_test, ecu_status_is_returned_and_the_response_left_alone) {
    const bytes reply = concat({be32(5), be32(95)});
    device->serve(answer(reply, 5));
    ASSERT_EQ(open(), 0);
    ReadDataRequest_TS request = read_request();
    const bytes before = as_bytes(request);
    bytes response(8);
    std::uint16_t returned = 0;
    EXPECT_EQ(
        KesSendCommand(GET_TARGET_VERSION, &request, sizeof request, response.data(), 8, &returned),
        5);
    EXPECT_EQ(response, reply);
    EXPECT_EQ(
        KesSendCommand(READ_DATA_BLOCK, &request, sizeof request, response.data(), 8, &returned),
        5);
    EXPECT_EQ(as_bytes(request), before);
    EXPECT_TRUE(messages().empty());
}

TEST_F(usb_link_test, request_is_restored_after_a_failed_exchange) {
    device->serve([](fake_usb_session& s) { s.receive_command(); });
    ASSERT_EQ(open(), 0);
    ReadDataRequest_TS request = read_request();
    const bytes before = as_bytes(request);
    bytes response(8);
    std::uint16_t returned = 0;
    EXPECT_EQ(
        KesSendCommand(READ_DATA_BLOCK, &request, sizeof request, response.data(), 8, &returned),
        int(STATUS_CR_READ_FAILED));
    EXPECT_EQ(as_bytes(request), before);

    // Too large for the link: refused, and still restored.
    bytes big(4089, 0);
    std::memcpy(big.data(), &request, sizeof request);
    EXPECT_EQ(KesSendCommand(READ_DATA_BLOCK, big.data(), 4089, response.data(), 8, &returned),
              int(STATUS_CR_COMMAND_TOO_LARGE));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), big.begin()));
}

TEST_F(usb_link_test, host_order_target_sends_structures_as_they_are) {
    const bytes reply = concat({be32(5), be32(95)});
    device->serve([reply](fake_usb_session& s) {
        while (auto command = s.receive_command()) {
            s.send(response_header(0xCD01, 8, 0));
            s.send(reply);
        }
    });
    ASSERT_EQ(open(TRELINK_LINK_USB | TRELINK_HOST_ORDER_TARGET), 0);
    ReadDataRequest_TS request = read_request();
    const bytes before = as_bytes(request);
    bytes response(8);
    std::uint16_t returned = 0;
    ASSERT_EQ(
        KesSendCommand(GET_TARGET_VERSION, &request, sizeof request, response.data(), 8, &returned),
        0);
    // The header is always big-endian on the pipe; the structures are not touched.
    EXPECT_THAT(device->received(),
                ElementsAre(concat({be16(0xCD00), be16(8), be16(8), be16(0), before})));
    EXPECT_EQ(response, reply);
    EXPECT_EQ(as_bytes(request), before);
}

TEST_F(usb_link_test, command_without_request_sends_the_header_alone) {
    ASSERT_EQ(open(), 0);
    bytes response(64);
    std::uint16_t returned = 0;
    ASSERT_EQ(KesSendCommand(CONFIGURATION_MODE_RUN, nullptr, 0, response.data(), 64, &returned),
              0);
    EXPECT_THAT(device->received(),
                ElementsAre(concat({be16(0xCD10), be16(0), be16(64), be16(0)})));
}

TEST_F(usb_link_test, missing_buffers_announce_no_bytes) {
    device->serve(answer(pattern(4)));
    ASSERT_EQ(open(), 0);
    // No request bytes although a size was given; no response buffer although a size was given.
    EXPECT_EQ(KesSendCommand(0x4F, nullptr, 16, nullptr, 64, nullptr),
              int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL));
    EXPECT_THAT(device->received(), ElementsAre(concat({be16(0xCD4F), be16(0), be16(0), be16(0)})));
    // The surplus was drained: the next exchange is clean, also without a returned-size word.
    bytes response(8);
    EXPECT_EQ(KesSendCommand(0x4F, nullptr, 0, response.data(), 8, nullptr), 0);
    EXPECT_EQ(bytes(response.begin(), response.begin() + 4), pattern(4));
}

}  // namespace
}  // namespace qx::test
