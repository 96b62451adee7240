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

// Each struct is held at its catalogue offsets by protocol/struct_offsets.cpp.
