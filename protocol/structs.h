// Typed views of the structures the program fills or reads. Each is held against the
// catalogue's offsets at compile time, so a field here can never drift from the wire layout.
// An inline array of a _DTS is spelled out as data_element_size, data_count (high byte first)
// and data (the slot holding the elements' offset from the block start).
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/catalogue_rules.h"
#include "protocol/commands.h"

namespace qx::protocol {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;

// A counted array descriptor, and a field of type GenericArray_DTS.
struct GenericArray_DTS {
    BYTE element_size;
    BYTE count[2];  // high byte first in either byte order
    BYTE reserved;
    DWORD data;  // offset of the first element from the block start
};

#define QX_INLINE_ARRAY   \
    BYTE data_element_size; \
    BYTE data_count[2];     \
    DWORD data

struct TargetVersionResponse_TS {
    DWORD firmware_version;
    DWORD transferstructs_version;
};

struct TransferStructsVersion_TS {
    DWORD version;
};

struct ReadDataRequest_TS {
    DWORD address;
    BYTE access_size;
    WORD access_count;
};

struct WriteDataRequest_DTS {
    DWORD address;
    QX_INLINE_ARRAY;
};

struct EepromProgramRequest_TS {
    DWORD source_address;
    DWORD destination_address;
    DWORD size;
    BYTE program_size_usage;
};

struct EepromEraseRequest_TS {
    DWORD start_block;
    DWORD number_of_blocks;
};

struct EepromBlankCheckRequest_TS {
    DWORD source_address;
    BYTE size;
};

struct GenericStatusResponse_TS {
    DWORD status;
};

struct GenericStatusDataResponse_DTS {
    DWORD status;
    QX_INLINE_ARRAY;
};

struct GenericStatusStringResponse_DTS {
    DWORD status;
    GenericArray_DTS str;
    QX_INLINE_ARRAY;
};

struct GenericStatusFormattedStringResponse_DTS {
    DWORD status;
    GenericArray_DTS str;
    QX_INLINE_ARRAY;
};

struct LogGetDirectoryEntryRequest_DTS {
    DWORD entry_index;
    QX_INLINE_ARRAY;
};

struct LogGetDirectoryEntryResponse_DTS {
    DWORD core_index;
    DWORD status;
    QX_INLINE_ARRAY;
};

struct LogOpenFileRequest_DTS {
    DWORD mode;
    QX_INLINE_ARRAY;
};

struct LogOpenFileResponse_TS {
    DWORD handle;
    DWORD status;
};

struct LogCloseFileRequest_TS {
    DWORD handle;
};

struct LogReadFileRequest_TS {
    DWORD handle;
    WORD read_count;
};

struct LogReadFileResponse_DTS {
    WORD read_count;
    DWORD status;
    QX_INLINE_ARRAY;
};

struct ConfigurationRequestItem_TS {
    WORD channel;
    WORD flags;
};

struct ConfigurationQueryStateResponse_TS {
    BYTE state;
};

// Structure defines the program uses, taken from the catalogue.
inline constexpr std::uint16_t INVALID_CHANNEL = std::uint16_t(*catalogue::define_value("TS_CFGITEMHEADER_INVALID_CHANNEL"));
inline constexpr std::uint8_t STATE_RUNNING = std::uint8_t(*catalogue::define_value("TS_CONFIGURATIONQUERYSTATERESPONSE_STATE_RUNNING"));

struct ConfigurationFindChannelByNameRequest_TS {
    GenericArray_DTS channel_name;
    WORD flags;
};

struct ConfigurationFindChannelResponse_TS {
    WORD channel;
};

struct ConfigurationFindChannelValueResponse_TS {
    WORD channel;
    float value;
};

struct SH_Peripheral_Request_TS {
    BYTE peripheral_command;
    GenericArray_DTS peripheral_command_packet;
};

struct Peripheral_BoardDescriptor_TS {
    BYTE BoardModel[8];
    BYTE BoardSerialNumber[8];
    BYTE ConnectorInfo;
    BYTE NumberOfPins;
};

struct SystemDescriptor_TS {
    Peripheral_BoardDescriptor_TS BoardDescriptor;
    WORD MaxNumberOfConfigurationChannels;
    BYTE MaxNumberOfCoils;
    BYTE MaxNumberOfInjectors;
    DWORD NV_base_address;
    BYTE NV_pages;
    DWORD NV_pagesize;
    BYTE TargetType;
};

struct PeripheralExecuteInBlockRequest_TS {
    DWORD block;
};

struct PeripheralGetInfoRequest_TS {
    DWORD block;
};

struct PeripheralGetInfoResponse_TS {
    DWORD buffer_address;
    DWORD buffer_size;
    DWORD current_block;
    DWORD block_size;
    DWORD block_start_addr;
    DWORD build_ptr_addr;
    DWORD version_ptr_addr;
};

struct PeripheralIoControlRequest_TS {
    BYTE function;
    BYTE io_target;
    WORD io_data_w;
    DWORD io_data_d;
};

struct PeripheralIoControlResponse_TS {
    DWORD status;
    DWORD io_data_d;
    WORD io_data_w;
};

struct Security_BlockRequest_DTS {
    BYTE command;
    WORD size;
    WORD format;
    GenericArray_DTS key0;
    GenericArray_DTS key1;
    DWORD address;
    DWORD misc0;
    DWORD misc1;
    DWORD misc2;
    QX_INLINE_ARRAY;
};

struct RawFileBlockHeader_TS {
    DWORD size;
    DWORD number_of_logical_blocks;
    DWORD this_lba;
    DWORD file_block_count;
    DWORD file_index;
};

struct RawFileFileHeader_TS {
    DWORD file_index;
    DWORD number_of_logical_blocks;
    DWORD cfgfile_version;
    DWORD cfgfile_num_channels;
    DWORD logfile_version;
    DWORD this_lba;
    DWORD flags;
    DWORD file_number;
    BYTE file_prefix[24];
};

struct RawFileDiskHeader_TS {
    DWORD lba_of_last_file_opened;
    DWORD number_of_files;
    DWORD lba_of_disk_end;
    DWORD file_counter;
    BYTE file_prefix[24];
};

struct RawFileFullHeader_TS {
    RawFileBlockHeader_TS RFBH;
    BYTE rsvd0[44];
    RawFileFileHeader_TS RFFH;
    BYTE rsvd1[8];
    RawFileDiskHeader_TS RFDH;
    BYTE rsvd2[24];
    WORD header[8];
    BYTE misc_string[112];
    BYTE copyright[128];
};

struct RawFileReadRequestLBA_TS {
    DWORD start_lba;
    DWORD number_of_logical_blocks;
};

struct RawFileWriteRequestLBA_TS {
    DWORD start_lba;
    DWORD number_of_logical_blocks;
    GenericArray_DTS data;
};

struct QXCoreDump_Section_TS {
    DWORD address;
    DWORD size;
};

struct QXCoreDump_Header_TS {
    DWORD tag;
    DWORD version;
    BYTE serial_number[4];
    DWORD rsvd;
    BYTE G_AES_rsa[128];
    QXCoreDump_Section_TS cds[14];
};

struct QXCoreDump_Packet_TS {
    BYTE AES_IV[16];
    BYTE AES_Key[32];
    QXCoreDump_Header_TS header;
};

struct ConfigurationItemHeader_TS {
    DWORD misc_ptr;
    DWORD item_size;
    float outputValue;
    float outputValueInitial;
    float outputValueTest;
    float clamp_lower;
    float clamp_upper;
    BYTE type;
    WORD outputChannel;
    GenericArray_DTS channel_name;
    GenericArray_DTS input_channels;
    GenericArray_DTS input_data_pointers;
    WORD flags;
    WORD mod_flags;
    DWORD thread_control;
};

#undef QX_INLINE_ARRAY

namespace detail {
constexpr bool inline_array_matches(std::string_view name, std::size_t element_size_at,
                                    std::size_t slot_at) {
    auto d = catalogue::inline_descriptor_of(name);
    return d.element_size_at == element_size_at && d.slot_at == slot_at;
}
}  // namespace detail

}  // namespace qx::protocol

// Compile-time checks against the catalogue.
#define QX_CHECK_SIZE(S) \
    static_assert(sizeof(qx::protocol::S) == qx::protocol::catalogue::size_of(#S), #S " size")
#define QX_CHECK_FIELD(S, F)                                                              \
    static_assert(offsetof(qx::protocol::S, F) == qx::protocol::catalogue::offset_of(#S, #F), \
                  #S "." #F " offset")
#define QX_CHECK_INLINE(S)                                                                   \
    static_assert(qx::protocol::detail::inline_array_matches(#S, offsetof(qx::protocol::S, data_element_size), \
                                                             offsetof(qx::protocol::S, data)), \
                  #S " inline array")
#define QX_CHECK_F1(S, a) QX_CHECK_FIELD(S, a)
#define QX_CHECK_F2(S, a, b) QX_CHECK_FIELD(S, a); QX_CHECK_FIELD(S, b)
#define QX_CHECK_F3(S, a, b, c) QX_CHECK_F2(S, a, b); QX_CHECK_FIELD(S, c)
#define QX_CHECK_F4(S, a, b, c, d) QX_CHECK_F3(S, a, b, c); QX_CHECK_FIELD(S, d)
#define QX_CHECK_F5(S, a, b, c, d, e) QX_CHECK_F4(S, a, b, c, d); QX_CHECK_FIELD(S, e)

QX_CHECK_SIZE(GenericArray_DTS);
static_assert(qx::protocol::detail::inline_array_matches("GenericArray_DTS", 0, 4));
QX_CHECK_SIZE(TargetVersionResponse_TS); QX_CHECK_F2(TargetVersionResponse_TS, firmware_version, transferstructs_version);
QX_CHECK_SIZE(TransferStructsVersion_TS);
QX_CHECK_SIZE(ReadDataRequest_TS); QX_CHECK_F3(ReadDataRequest_TS, address, access_size, access_count);
QX_CHECK_SIZE(WriteDataRequest_DTS); QX_CHECK_INLINE(WriteDataRequest_DTS);
QX_CHECK_SIZE(EepromProgramRequest_TS); QX_CHECK_F4(EepromProgramRequest_TS, source_address, destination_address, size, program_size_usage);
QX_CHECK_SIZE(EepromEraseRequest_TS); QX_CHECK_F2(EepromEraseRequest_TS, start_block, number_of_blocks);
QX_CHECK_SIZE(EepromBlankCheckRequest_TS); QX_CHECK_F2(EepromBlankCheckRequest_TS, source_address, size);
QX_CHECK_SIZE(GenericStatusResponse_TS);
QX_CHECK_SIZE(GenericStatusDataResponse_DTS); QX_CHECK_INLINE(GenericStatusDataResponse_DTS);
QX_CHECK_SIZE(GenericStatusStringResponse_DTS); QX_CHECK_F2(GenericStatusStringResponse_DTS, status, str); QX_CHECK_INLINE(GenericStatusStringResponse_DTS);
QX_CHECK_SIZE(GenericStatusFormattedStringResponse_DTS); QX_CHECK_F1(GenericStatusFormattedStringResponse_DTS, str); QX_CHECK_INLINE(GenericStatusFormattedStringResponse_DTS);
QX_CHECK_SIZE(LogGetDirectoryEntryRequest_DTS); QX_CHECK_INLINE(LogGetDirectoryEntryRequest_DTS);
QX_CHECK_SIZE(LogGetDirectoryEntryResponse_DTS); QX_CHECK_F2(LogGetDirectoryEntryResponse_DTS, core_index, status); QX_CHECK_INLINE(LogGetDirectoryEntryResponse_DTS);
QX_CHECK_SIZE(LogOpenFileRequest_DTS); QX_CHECK_INLINE(LogOpenFileRequest_DTS);
QX_CHECK_SIZE(LogOpenFileResponse_TS); QX_CHECK_F2(LogOpenFileResponse_TS, handle, status);
QX_CHECK_SIZE(LogCloseFileRequest_TS);
QX_CHECK_SIZE(LogReadFileRequest_TS); QX_CHECK_F2(LogReadFileRequest_TS, handle, read_count);
QX_CHECK_SIZE(LogReadFileResponse_DTS); QX_CHECK_F2(LogReadFileResponse_DTS, read_count, status); QX_CHECK_INLINE(LogReadFileResponse_DTS);
QX_CHECK_SIZE(ConfigurationRequestItem_TS); QX_CHECK_F2(ConfigurationRequestItem_TS, channel, flags);
QX_CHECK_SIZE(ConfigurationQueryStateResponse_TS);
QX_CHECK_SIZE(ConfigurationFindChannelByNameRequest_TS); QX_CHECK_F2(ConfigurationFindChannelByNameRequest_TS, channel_name, flags);
QX_CHECK_SIZE(ConfigurationFindChannelResponse_TS);
QX_CHECK_SIZE(ConfigurationFindChannelValueResponse_TS); QX_CHECK_F2(ConfigurationFindChannelValueResponse_TS, channel, value);
QX_CHECK_SIZE(SH_Peripheral_Request_TS); QX_CHECK_F2(SH_Peripheral_Request_TS, peripheral_command, peripheral_command_packet);
QX_CHECK_SIZE(Peripheral_BoardDescriptor_TS); QX_CHECK_F4(Peripheral_BoardDescriptor_TS, BoardModel, BoardSerialNumber, ConnectorInfo, NumberOfPins);
QX_CHECK_SIZE(SystemDescriptor_TS); QX_CHECK_F5(SystemDescriptor_TS, MaxNumberOfConfigurationChannels, MaxNumberOfCoils, NV_base_address, NV_pagesize, TargetType);
QX_CHECK_SIZE(PeripheralExecuteInBlockRequest_TS);
QX_CHECK_SIZE(PeripheralGetInfoRequest_TS);
QX_CHECK_SIZE(PeripheralGetInfoResponse_TS); QX_CHECK_F5(PeripheralGetInfoResponse_TS, buffer_size, current_block, block_size, block_start_addr, version_ptr_addr);
QX_CHECK_SIZE(PeripheralIoControlRequest_TS); QX_CHECK_F4(PeripheralIoControlRequest_TS, function, io_target, io_data_w, io_data_d);
QX_CHECK_SIZE(PeripheralIoControlResponse_TS); QX_CHECK_F3(PeripheralIoControlResponse_TS, status, io_data_d, io_data_w);
QX_CHECK_SIZE(Security_BlockRequest_DTS); QX_CHECK_F5(Security_BlockRequest_DTS, size, format, key0, key1, address);
QX_CHECK_F3(Security_BlockRequest_DTS, misc0, misc1, misc2); QX_CHECK_INLINE(Security_BlockRequest_DTS);
QX_CHECK_SIZE(RawFileBlockHeader_TS); QX_CHECK_SIZE(RawFileFileHeader_TS); QX_CHECK_SIZE(RawFileDiskHeader_TS);
QX_CHECK_F2(RawFileFileHeader_TS, flags, file_prefix);
QX_CHECK_SIZE(RawFileFullHeader_TS); QX_CHECK_F5(RawFileFullHeader_TS, RFFH, RFDH, header, misc_string, copyright);
QX_CHECK_SIZE(RawFileReadRequestLBA_TS);
QX_CHECK_SIZE(RawFileWriteRequestLBA_TS); QX_CHECK_F1(RawFileWriteRequestLBA_TS, data);
QX_CHECK_SIZE(QXCoreDump_Section_TS);
QX_CHECK_SIZE(QXCoreDump_Header_TS); QX_CHECK_F4(QXCoreDump_Header_TS, serial_number, rsvd, G_AES_rsa, cds);
QX_CHECK_SIZE(QXCoreDump_Packet_TS); QX_CHECK_F2(QXCoreDump_Packet_TS, AES_Key, header);
QX_CHECK_SIZE(ConfigurationItemHeader_TS);
QX_CHECK_F5(ConfigurationItemHeader_TS, type, outputChannel, channel_name, input_channels, input_data_pointers);
QX_CHECK_F3(ConfigurationItemHeader_TS, flags, mod_flags, thread_control);
QX_CHECK_SIZE(CommandHeader_TS); QX_CHECK_F4(CommandHeader_TS, command_type, command_data_size, response_data_buffer_size, dummy);
QX_CHECK_SIZE(ResponseHeader_TS); QX_CHECK_F4(ResponseHeader_TS, response_type, response_data_returning_size, status, dummy);
