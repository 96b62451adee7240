// The command set: every command the ECU understands, by code, with the structures that
// follow the request and response headers. The code is the position in this list.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qx::protocol {

// X(name, request, response): request/response name a structure of the catalogue,
// `none` (nothing follows the header) or `cfgitem` (a configuration item, chosen by its type).
#define QX_PROTOCOL_COMMANDS(X) \
    X(GET_TARGET_VERSION, none, TargetVersionResponse_TS) \
    X(READ_DATA_BLOCK, ReadDataRequest_TS, GenericArray_DTS) \
    X(WRITE_DATA_BLOCK, WriteDataRequest_DTS, GenericStatusResponse_TS) \
    X(EEPROM_PROGRAM_BLOCK, EepromProgramRequest_TS, none) \
    X(EEPROM_ERASE_BLOCKS, EepromEraseRequest_TS, none) \
    X(EEPROM_BLANK_CHECK_BLOCK, EepromBlankCheckRequest_TS, GenericStatusResponse_TS) \
    X(SECURITY_COMMAND, Security_BlockRequest_DTS, GenericStatusStringResponse_DTS) \
    X(COMMAND_REQUEST_TYPE_LARGER_THAN_DEFAULT, none, none) \
    X(PERIPHERAL_EXECUTE_IN_BLOCK, PeripheralExecuteInBlockRequest_TS, GenericStatusResponse_TS) \
    X(PERIPHERAL_GET_INFO, PeripheralGetInfoRequest_TS, PeripheralGetInfoResponse_TS) \
    X(PERIPHERAL_IO_CONTROL, PeripheralIoControlRequest_TS, PeripheralIoControlResponse_TS) \
    X(SH_TO_PERIPHERAL_COMMAND, SH_Peripheral_Request_TS, GenericArray_DTS) \
    X(CONFIGURATION_UPLOAD_ITEM_LIST, none, GenericArray_DTS) \
    X(CONFIGURATION_UPLOAD_ITEM_RAW, ConfigurationRequestItem_TS, GenericArray_DTS) \
    X(GET_UNRESOLVED_NAME, UnresolvedNameIndex_TS, GenericStatusStringResponse_DTS) \
    X(UPLOAD_UNRESOLVED_NAME_LIST, none, GenericArray_DTS) \
    X(CONFIGURATION_MODE_RUN, none, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_MODE_STOP, none, GenericStatusStringResponse_DTS) \
    X(SET_PASSWORD, GenericArray_DTS, GenericStatusStringResponse_DTS) \
    X(GET_PASSWORD, none, GenericStatusStringResponse_DTS) \
    X(CLEAR_PASSWORD, GenericArray_DTS, GenericStatusStringResponse_DTS) \
    X(FORCE_CLEAR_PASSWORD, none, GenericStatusStringResponse_DTS) \
    X(TARGET_QUERY, none, GenericStatusFormattedStringResponse_DTS) \
    X(READ_CHANNEL_LIST, GenericArray_DTS, GenericArray_DTS) \
    X(READ_CHANNEL_LIST_BY_HANDLE, GenericArray_DTS, GenericArray_DTS) \
    X(READ_CHANNEL_MODIFIED_LIST, none, GenericArray_DTS) \
    X(WRITE_CHANNEL_LIST, WriteChannelListRequest_DTS, GenericStatusStringResponse_DTS) \
    X(WRITE_CHANNEL_INITIAL_LIST, WriteChannelListRequest_DTS, GenericStatusStringResponse_DTS) \
    X(DMA_TEST, DmaTestRequest_TS, none) \
    X(FLASHMGR_STORE_BLOCK, FlashMgrBlockDataRequest_DTS, GenericStatusResponse_TS) \
    X(FLASHMGR_UPDATE_BLOCK, FlashMgrBlockDataRequest_DTS, GenericStatusResponse_TS) \
    X(FLASHMGR_GET_BLOCK, FlashMgrBlockRequest_TS, GenericStatusDataResponse_DTS) \
    X(FLASHMGR_GET_BLOCK_EX, FlashMgrGetBlockExRequest_TS, FlashMgrGetBlockExResponse_TS) \
    X(FLASHMGR_DELETE_BLOCK, FlashMgrBlockRequest_TS, GenericStatusResponse_TS) \
    X(FLASHMGR_GET_FLASHCONTROLBLOCK, none, FlashMgrGetFlashControlBlockResponse_TS) \
    X(FLASHMGR_SHUTDOWN, none, GenericStatusResponse_TS) \
    X(LOG_GET_DIRECTORY_ENTRY, LogGetDirectoryEntryRequest_DTS, LogGetDirectoryEntryResponse_DTS) \
    X(LOG_OPEN_FILE, LogOpenFileRequest_DTS, LogOpenFileResponse_TS) \
    X(LOG_CLOSE_FILE, LogCloseFileRequest_TS, GenericStatusResponse_TS) \
    X(LOG_READ_FILE, LogReadFileRequest_TS, LogReadFileResponse_DTS) \
    X(LOG_BEGIN_LOGGING, none, GenericStatusStringResponse_DTS) \
    X(LOG_STOP_LOGGING, none, GenericStatusStringResponse_DTS) \
    X(LOG_SET_CHANNEL_LIST, GenericArray_DTS, GenericStatusStringResponse_DTS) \
    X(LOG_GET_CHANNEL_LIST, none, GenericArray_DTS) \
    X(LOG_READ_RAW_LBA, RawFileReadRequestLBA_TS, GenericArray_DTS) \
    X(LOG_WRITE_RAW_LBA, RawFileWriteRequestLBA_TS, GenericStatusStringResponse_DTS) \
    X(LOG_FORMAT_RAW, none, GenericStatusStringResponse_DTS) \
    X(SIM_TERMINATE, none, none) \
    X(CONFIGURATION_DOWNLOAD_ITEM, cfgitem, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_MODIFY_ITEM, cfgitem, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_DELETE_ITEM, ConfigurationDeleteItem_TS, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_UPLOAD_ITEM, ConfigurationRequestItem_TS, cfgitem) \
    X(CONFIGURATION_UPLOAD_ITEM_BY_NAME, ConfigurationFindChannelByNameRequest_TS, cfgitem) \
    X(CONFIGURATION_CLEAR_ALL, none, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_COMMIT, none, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_REVERT, none, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_QUERY_STATE, none, ConfigurationQueryStateResponse_TS) \
    X(CONFIGURATION_FIND_CHANNEL_BY_NAME, ConfigurationFindChannelByNameRequest_TS, ConfigurationFindChannelResponse_TS) \
    X(CONFIGURATION_FIND_CHANNEL_VALUE_BY_NAME, ConfigurationFindChannelByNameRequest_TS, ConfigurationFindChannelValueResponse_TS) \
    X(CONFIGURATION_DIRTY_ALL, none, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_EAL_START, none, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_EAL_STOP, none, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_VALIDATE, none, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_RESOLVE_NAME_WITH_CONSTANT, UnresolvedNameValue_TS, GenericStatusStringResponse_DTS) \
    X(CONFIGURATION_UPLOAD_ITEM_PARENTS, GenericArray_DTS, GenericArray_DTS) \
    X(CONFIGURATION_UPLOAD_FILTERED_ITEM_LIST, GenericArray_DTS, GenericArray_DTS) \
    X(CONFIGURATION_SIMULATOR_RELOAD_ROMCFG_AND_INIT, GenericArray_DTS, GenericStatusStringResponse_DTS) \
    X(READ_FREQUENCY_SAMPLE, FrequencySampleRequest_TS, FrequencySampleResponse_TS) \
    X(DTC_TEST_COMMAND, DtcRequest_TS, GenericStatusStringResponse_DTS) \
    X(PERIPHERAL_GET_BOARD_DESCRIPTOR, none, Peripheral_BoardDescriptor_TS) \
    X(PERIPHERAL_GET_HARNESS_PIN_DESCRIPTOR, Peripheral_GetHarnessPinRequest_TS, Peripheral_HarnessPinDescriptor_TS) \
    X(GET_CPU_PIN_DESCRIPTOR, GetCpuPinRequest_TS, CpuPinDescriptor_TS) \
    X(DELETE_DIAGNOSTIC_CODE, ConfigurationRequestItem_TS, GenericStatusStringResponse_DTS) \
    X(PASSTHROUGH_AS_DTS, GenericArray_DTS, GenericArray_DTS) \
    X(LOCK_UNIT, none, GenericStatusStringResponse_DTS) \
    X(GET_SYSTEM_DESCRIPTOR, none, SystemDescriptor_TS) \
    X(ADD_UNRESOLVED_NAME, UnresolvedName_TS, GenericStatusStringResponse_DTS) \
    X(UPLOAD_STRINGS, UploadStringRequest_TS, GenericArray_DTS) \
    X(CONFIGURATION_RESOLVE_NAME_WITH_NAME, UnresolvedNameString_TS, GenericStatusStringResponse_DTS)

enum command_code : std::uint8_t {
#define QX_COMMAND_ENUM(name, request, response) name,
    QX_PROTOCOL_COMMANDS(QX_COMMAND_ENUM)
#undef QX_COMMAND_ENUM
};

inline constexpr unsigned command_count = 0
#define QX_COMMAND_COUNT(name, request, response) +1
    QX_PROTOCOL_COMMANDS(QX_COMMAND_COUNT)
#undef QX_COMMAND_COUNT
    ;
static_assert(command_count == 79);

// What follows a header: nothing, one structure of the catalogue, or a configuration item.
struct structure_ref {
    enum kind_t : std::uint8_t { none, structure, cfgitem } kind;
    std::string_view name;  // the structure's name; "NULL" for none, "cfgitem" for an item

    constexpr bool is_none() const { return kind == none; }
};

struct command_info {
    std::uint8_t code;
    std::string_view name;
    structure_ref request;
    structure_ref response;
};

namespace detail {
constexpr structure_ref make_ref(std::string_view text) {
    if (text == "none") return {structure_ref::none, "NULL"};
    if (text == "cfgitem") return {structure_ref::cfgitem, "cfgitem"};
    return {structure_ref::structure, text};
}
}  // namespace detail

inline constexpr std::array<command_info, command_count> commands = {{
#define QX_COMMAND_ROW(name, request, response) \
    {name, #name, detail::make_ref(#request), detail::make_ref(#response)},
    QX_PROTOCOL_COMMANDS(QX_COMMAND_ROW)
#undef QX_COMMAND_ROW
}};

// The wire command type: high byte 0xCD marks a command, the low byte is the code.
inline constexpr std::uint16_t command_type_base = 0xCD00;
constexpr std::uint16_t command_type(std::uint8_t code) {
    return static_cast<std::uint16_t>(command_type_base + code);
}

// The 8-byte headers in front of every request and every response.
struct CommandHeader_TS {
    std::uint16_t command_type;
    std::uint16_t command_data_size;
    std::uint16_t response_data_buffer_size;
    std::uint16_t dummy;
};

struct ResponseHeader_TS {
    std::uint16_t response_type;
    std::uint16_t response_data_returning_size;
    std::uint16_t status;
    std::uint16_t dummy;
};

static_assert(sizeof(CommandHeader_TS) == 8 && sizeof(ResponseHeader_TS) == 8);

}  // namespace qx::protocol
