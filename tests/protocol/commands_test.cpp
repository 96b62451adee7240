// The command table, the tags and the codec table derived from them.
#include <gtest/gtest.h>

#include "protocol/codec.h"
#include "protocol/commands.h"
#include "protocol/defines.h"
#include "protocol/status.h"
#include "protocol/structs.h"

namespace qx::protocol {
namespace {

TEST(commands, codes_are_positions_and_wire_types_add_0xCD00) {
    EXPECT_EQ(command_type(GET_TARGET_VERSION), 0xCD00);
    EXPECT_EQ(command_type(GET_SYSTEM_DESCRIPTOR), 0xCD4B);
    EXPECT_EQ(int(GET_SYSTEM_DESCRIPTOR), 75);
    EXPECT_EQ(int(COMMAND_REQUEST_TYPE_LARGER_THAN_DEFAULT), 7);
    EXPECT_EQ(int(SH_TO_PERIPHERAL_COMMAND), 11);
    EXPECT_EQ(int(SIM_TERMINATE), 47);
    EXPECT_EQ(int(PASSTHROUGH_AS_DTS), 73);
    EXPECT_EQ(int(CONFIGURATION_RESOLVE_NAME_WITH_NAME), 78);
    for (unsigned i = 0; i < commands.size(); ++i) EXPECT_EQ(commands[i].code, i);
    EXPECT_EQ(commands[SECURITY_COMMAND].request.name, "Security_BlockRequest_DTS");
    EXPECT_EQ(commands[GET_TARGET_VERSION].request.name, "NULL");
    EXPECT_EQ(commands[CONFIGURATION_UPLOAD_ITEM].response.name, "cfgitem");
}

TEST(tags, swapped_twins_are_the_byte_reversed_values) {
    EXPECT_EQ(QXCFG_TAG, 0x51582D43u);  // 'Q' in the most significant byte
    for (auto [tag, swapped] : {std::pair{QXCFG_TAG, QXCFG_TAG_SWAPPED}, {QXROM_TAG, QXROM_TAG_SWAPPED},
                                {QXNV_TAG, QXNV_TAG_SWAPPED}, {QXDUMP_TAG, QXDUMP_TAG_SWAPPED}})
        EXPECT_EQ(swap32(tag), swapped);
    EXPECT_EQ(protocol_defines[0].text, "0x0FF8");
    EXPECT_EQ(catalogue::define_value("TS_CFGITEMHEADER_PREDEF_NUMBER"), 0x100u);
    EXPECT_EQ(catalogue::define_value("TS_FREQUENCYSAMPLEREQUEST_KNOCK_CHANNEL_SAMPLE_TYPE"), 2u);
    EXPECT_EQ(catalogue::define_value("TS_NO_SUCH_DEFINE"), std::nullopt);
}

TEST(codec_table, rows_follow_the_command_table) {
    for (unsigned code : {7u, 47u}) {
        const codec_row* r = find_codec(code);
        ASSERT_NE(r, nullptr);
        EXPECT_FALSE(r->convert_request || r->layout_request || r->convert_response || r->layout_response);
    }
    const codec_row* get_version = find_codec(GET_TARGET_VERSION);
    EXPECT_FALSE(get_version->convert_request);
    EXPECT_TRUE(get_version->convert_response && get_version->layout_response);
    const codec_row* program = find_codec(EEPROM_PROGRAM_BLOCK);
    EXPECT_TRUE(program->convert_request && program->layout_request);
    EXPECT_FALSE(program->convert_response);
    EXPECT_EQ(find_codec(79), nullptr);
    EXPECT_EQ(find_codec(0x10B), nullptr);
    EXPECT_NE(find_codec(0x10B & 0xFF), nullptr);
}

TEST(codec_table, cells_convert_and_lay_out_their_structure) {
    const codec_row& read = *find_codec(READ_DATA_BLOCK);
    ReadDataRequest_TS r{0x01020304, 1, 0x0A0B};
    auto* p = reinterpret_cast<std::uint8_t*>(&r);
    EXPECT_EQ(read.layout_request(p, sizeof r), 0u);
    read.convert_request(p, sizeof r);
    EXPECT_EQ(p[0], 0x01);
    EXPECT_EQ(p[6], 0x0A);
    read.convert_request(p, sizeof r);
    EXPECT_EQ(r.address, 0x01020304u);

    std::uint8_t response[16] = {1, 0, 2};  // GenericArray_DTS of two bytes
    EXPECT_EQ(read.layout_response(response, sizeof response), 0u);
    EXPECT_EQ(response[4], 8);
    EXPECT_EQ(read.layout_response(response, 9), TS_LAYOUT_ERROR);  // elements past the bytes received
}

TEST(codec_table, configuration_item_commands_dispatch_by_type) {
    for (unsigned code : {48u, 49u, 51u, 52u}) {
        const codec_row& r = *find_codec(code);
        std::vector<std::uint8_t> item(128);
        item[cfgitem_type_offset] = 16;
        item[64] = 0x01;
        item[65] = 0x02;
        const bool request_is_item = code == 48 || code == 49;
        (request_is_item ? r.convert_request : r.convert_response)(item.data(), item.size());
        EXPECT_EQ(item[64], 0x02) << code;
    }
}

}  // namespace
}  // namespace qx::protocol
