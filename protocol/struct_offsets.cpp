// Every typed struct against the catalogue, at compile time: its size, each field at its
// catalogue offset, no field of the catalogue left out, and a _DTS's inline array in place.
#include <cstddef>

#include "protocol/structs.h"

namespace qx::protocol {
namespace {

struct placed {
    std::string_view name;
    std::size_t offset;
};

// The fields listed are exactly the catalogue's top-level fields, each at its offset.
template <std::size_t N>
constexpr bool matches(std::string_view structure, std::size_t size, const placed (&fields)[N]) {
    const catalogue::structure* s = catalogue::find_structure(structure);
    if (!s || s->fields.size() != N || catalogue::size_of(structure) != size) return false;
    for (const placed& f : fields)
        if (catalogue::offset_of(structure, f.name) != f.offset) return false;
    return true;
}

// clang-format off
#define QX_AT(S, F) placed{#F, offsetof(S, F)}
#define QX_INLINE(S) \
    static_assert(detail::inline_array_matches(#S, offsetof(S, data_element_size), offsetof(S, data)), #S " inline array")
// clang-format on

// The bare descriptor: the catalogue holds it as an inline array of nothing else.
static_assert(catalogue::size_of("GenericArray_DTS") == sizeof(GenericArray_DTS) &&
                  detail::inline_array_matches("GenericArray_DTS",
                                               offsetof(GenericArray_DTS, element_size),
                                               offsetof(GenericArray_DTS, data)),
              "GenericArray_DTS");
constexpr placed TargetVersionResponse_TS_fields[] = {
    QX_AT(TargetVersionResponse_TS, firmware_version),
    QX_AT(TargetVersionResponse_TS, transferstructs_version)};
static_assert(matches("TargetVersionResponse_TS", sizeof(TargetVersionResponse_TS),
                      TargetVersionResponse_TS_fields),
              "TargetVersionResponse_TS");
constexpr placed TransferStructsVersion_TS_fields[] = {QX_AT(TransferStructsVersion_TS, version)};
static_assert(matches("TransferStructsVersion_TS", sizeof(TransferStructsVersion_TS),
                      TransferStructsVersion_TS_fields),
              "TransferStructsVersion_TS");
constexpr placed ReadDataRequest_TS_fields[] = {QX_AT(ReadDataRequest_TS, address),
                                                QX_AT(ReadDataRequest_TS, access_size),
                                                QX_AT(ReadDataRequest_TS, access_count)};
static_assert(matches("ReadDataRequest_TS", sizeof(ReadDataRequest_TS), ReadDataRequest_TS_fields),
              "ReadDataRequest_TS");
constexpr placed WriteDataRequest_DTS_fields[] = {QX_AT(WriteDataRequest_DTS, address)};
static_assert(matches("WriteDataRequest_DTS", sizeof(WriteDataRequest_DTS),
                      WriteDataRequest_DTS_fields),
              "WriteDataRequest_DTS");
QX_INLINE(WriteDataRequest_DTS);
constexpr placed EepromProgramRequest_TS_fields[] = {
    QX_AT(EepromProgramRequest_TS, source_address),
    QX_AT(EepromProgramRequest_TS, destination_address), QX_AT(EepromProgramRequest_TS, size),
    QX_AT(EepromProgramRequest_TS, program_size_usage)};
static_assert(matches("EepromProgramRequest_TS", sizeof(EepromProgramRequest_TS),
                      EepromProgramRequest_TS_fields),
              "EepromProgramRequest_TS");
constexpr placed EepromEraseRequest_TS_fields[] = {QX_AT(EepromEraseRequest_TS, start_block),
                                                   QX_AT(EepromEraseRequest_TS, number_of_blocks)};
static_assert(matches("EepromEraseRequest_TS", sizeof(EepromEraseRequest_TS),
                      EepromEraseRequest_TS_fields),
              "EepromEraseRequest_TS");
constexpr placed EepromBlankCheckRequest_TS_fields[] = {
    QX_AT(EepromBlankCheckRequest_TS, source_address), QX_AT(EepromBlankCheckRequest_TS, size)};
static_assert(matches("EepromBlankCheckRequest_TS", sizeof(EepromBlankCheckRequest_TS),
                      EepromBlankCheckRequest_TS_fields),
              "EepromBlankCheckRequest_TS");
constexpr placed GenericStatusResponse_TS_fields[] = {QX_AT(GenericStatusResponse_TS, status)};
static_assert(matches("GenericStatusResponse_TS", sizeof(GenericStatusResponse_TS),
                      GenericStatusResponse_TS_fields),
              "GenericStatusResponse_TS");
constexpr placed GenericStatusDataResponse_DTS_fields[] = {
    QX_AT(GenericStatusDataResponse_DTS, status)};
static_assert(matches("GenericStatusDataResponse_DTS", sizeof(GenericStatusDataResponse_DTS),
                      GenericStatusDataResponse_DTS_fields),
              "GenericStatusDataResponse_DTS");
QX_INLINE(GenericStatusDataResponse_DTS);
constexpr placed GenericStatusStringResponse_DTS_fields[] = {
    QX_AT(GenericStatusStringResponse_DTS, status), QX_AT(GenericStatusStringResponse_DTS, str)};
static_assert(matches("GenericStatusStringResponse_DTS", sizeof(GenericStatusStringResponse_DTS),
                      GenericStatusStringResponse_DTS_fields),
              "GenericStatusStringResponse_DTS");
QX_INLINE(GenericStatusStringResponse_DTS);
constexpr placed GenericStatusFormattedStringResponse_DTS_fields[] = {
    QX_AT(GenericStatusFormattedStringResponse_DTS, status),
    QX_AT(GenericStatusFormattedStringResponse_DTS, str)};
static_assert(matches("GenericStatusFormattedStringResponse_DTS",
                      sizeof(GenericStatusFormattedStringResponse_DTS),
                      GenericStatusFormattedStringResponse_DTS_fields),
              "GenericStatusFormattedStringResponse_DTS");
QX_INLINE(GenericStatusFormattedStringResponse_DTS);
constexpr placed LogGetDirectoryEntryRequest_DTS_fields[] = {
    QX_AT(LogGetDirectoryEntryRequest_DTS, entry_index)};
static_assert(matches("LogGetDirectoryEntryRequest_DTS", sizeof(LogGetDirectoryEntryRequest_DTS),
                      LogGetDirectoryEntryRequest_DTS_fields),
              "LogGetDirectoryEntryRequest_DTS");
QX_INLINE(LogGetDirectoryEntryRequest_DTS);
constexpr placed LogGetDirectoryEntryResponse_DTS_fields[] = {
    QX_AT(LogGetDirectoryEntryResponse_DTS, core_index),
    QX_AT(LogGetDirectoryEntryResponse_DTS, status)};
static_assert(matches("LogGetDirectoryEntryResponse_DTS", sizeof(LogGetDirectoryEntryResponse_DTS),
                      LogGetDirectoryEntryResponse_DTS_fields),
              "LogGetDirectoryEntryResponse_DTS");
QX_INLINE(LogGetDirectoryEntryResponse_DTS);
constexpr placed LogOpenFileRequest_DTS_fields[] = {QX_AT(LogOpenFileRequest_DTS, mode)};
static_assert(matches("LogOpenFileRequest_DTS", sizeof(LogOpenFileRequest_DTS),
                      LogOpenFileRequest_DTS_fields),
              "LogOpenFileRequest_DTS");
QX_INLINE(LogOpenFileRequest_DTS);
constexpr placed LogOpenFileResponse_TS_fields[] = {QX_AT(LogOpenFileResponse_TS, handle),
                                                    QX_AT(LogOpenFileResponse_TS, status)};
static_assert(matches("LogOpenFileResponse_TS", sizeof(LogOpenFileResponse_TS),
                      LogOpenFileResponse_TS_fields),
              "LogOpenFileResponse_TS");
constexpr placed LogCloseFileRequest_TS_fields[] = {QX_AT(LogCloseFileRequest_TS, handle)};
static_assert(matches("LogCloseFileRequest_TS", sizeof(LogCloseFileRequest_TS),
                      LogCloseFileRequest_TS_fields),
              "LogCloseFileRequest_TS");
constexpr placed LogReadFileRequest_TS_fields[] = {QX_AT(LogReadFileRequest_TS, handle),
                                                   QX_AT(LogReadFileRequest_TS, read_count)};
static_assert(matches("LogReadFileRequest_TS", sizeof(LogReadFileRequest_TS),
                      LogReadFileRequest_TS_fields),
              "LogReadFileRequest_TS");
constexpr placed LogReadFileResponse_DTS_fields[] = {QX_AT(LogReadFileResponse_DTS, read_count),
                                                     QX_AT(LogReadFileResponse_DTS, status)};
static_assert(matches("LogReadFileResponse_DTS", sizeof(LogReadFileResponse_DTS),
                      LogReadFileResponse_DTS_fields),
              "LogReadFileResponse_DTS");
QX_INLINE(LogReadFileResponse_DTS);
constexpr placed ConfigurationRequestItem_TS_fields[] = {
    QX_AT(ConfigurationRequestItem_TS, channel), QX_AT(ConfigurationRequestItem_TS, flags)};
static_assert(matches("ConfigurationRequestItem_TS", sizeof(ConfigurationRequestItem_TS),
                      ConfigurationRequestItem_TS_fields),
              "ConfigurationRequestItem_TS");
constexpr placed ConfigurationQueryStateResponse_TS_fields[] = {
    QX_AT(ConfigurationQueryStateResponse_TS, state)};
static_assert(matches("ConfigurationQueryStateResponse_TS",
                      sizeof(ConfigurationQueryStateResponse_TS),
                      ConfigurationQueryStateResponse_TS_fields),
              "ConfigurationQueryStateResponse_TS");
constexpr placed ConfigurationFindChannelByNameRequest_TS_fields[] = {
    QX_AT(ConfigurationFindChannelByNameRequest_TS, channel_name),
    QX_AT(ConfigurationFindChannelByNameRequest_TS, flags)};
static_assert(matches("ConfigurationFindChannelByNameRequest_TS",
                      sizeof(ConfigurationFindChannelByNameRequest_TS),
                      ConfigurationFindChannelByNameRequest_TS_fields),
              "ConfigurationFindChannelByNameRequest_TS");
constexpr placed ConfigurationFindChannelResponse_TS_fields[] = {
    QX_AT(ConfigurationFindChannelResponse_TS, channel)};
static_assert(matches("ConfigurationFindChannelResponse_TS",
                      sizeof(ConfigurationFindChannelResponse_TS),
                      ConfigurationFindChannelResponse_TS_fields),
              "ConfigurationFindChannelResponse_TS");
constexpr placed ConfigurationFindChannelValueResponse_TS_fields[] = {
    QX_AT(ConfigurationFindChannelValueResponse_TS, channel),
    QX_AT(ConfigurationFindChannelValueResponse_TS, value)};
static_assert(matches("ConfigurationFindChannelValueResponse_TS",
                      sizeof(ConfigurationFindChannelValueResponse_TS),
                      ConfigurationFindChannelValueResponse_TS_fields),
              "ConfigurationFindChannelValueResponse_TS");
constexpr placed SH_Peripheral_Request_TS_fields[] = {
    QX_AT(SH_Peripheral_Request_TS, peripheral_command),
    QX_AT(SH_Peripheral_Request_TS, peripheral_command_packet)};
static_assert(matches("SH_Peripheral_Request_TS", sizeof(SH_Peripheral_Request_TS),
                      SH_Peripheral_Request_TS_fields),
              "SH_Peripheral_Request_TS");
constexpr placed Peripheral_BoardDescriptor_TS_fields[] = {
    QX_AT(Peripheral_BoardDescriptor_TS, BoardModel),
    QX_AT(Peripheral_BoardDescriptor_TS, BoardSerialNumber),
    QX_AT(Peripheral_BoardDescriptor_TS, ConnectorInfo),
    QX_AT(Peripheral_BoardDescriptor_TS, NumberOfPins)};
static_assert(matches("Peripheral_BoardDescriptor_TS", sizeof(Peripheral_BoardDescriptor_TS),
                      Peripheral_BoardDescriptor_TS_fields),
              "Peripheral_BoardDescriptor_TS");
constexpr placed SystemDescriptor_TS_fields[] = {
    QX_AT(SystemDescriptor_TS, BoardDescriptor),
    QX_AT(SystemDescriptor_TS, MaxNumberOfConfigurationChannels),
    QX_AT(SystemDescriptor_TS, MaxNumberOfCoils),
    QX_AT(SystemDescriptor_TS, MaxNumberOfInjectors),
    QX_AT(SystemDescriptor_TS, NV_base_address),
    QX_AT(SystemDescriptor_TS, NV_pages),
    QX_AT(SystemDescriptor_TS, NV_pagesize),
    QX_AT(SystemDescriptor_TS, TargetType)};
static_assert(matches("SystemDescriptor_TS", sizeof(SystemDescriptor_TS),
                      SystemDescriptor_TS_fields),
              "SystemDescriptor_TS");
constexpr placed PeripheralExecuteInBlockRequest_TS_fields[] = {
    QX_AT(PeripheralExecuteInBlockRequest_TS, block)};
static_assert(matches("PeripheralExecuteInBlockRequest_TS",
                      sizeof(PeripheralExecuteInBlockRequest_TS),
                      PeripheralExecuteInBlockRequest_TS_fields),
              "PeripheralExecuteInBlockRequest_TS");
constexpr placed PeripheralGetInfoRequest_TS_fields[] = {QX_AT(PeripheralGetInfoRequest_TS, block)};
static_assert(matches("PeripheralGetInfoRequest_TS", sizeof(PeripheralGetInfoRequest_TS),
                      PeripheralGetInfoRequest_TS_fields),
              "PeripheralGetInfoRequest_TS");
constexpr placed PeripheralGetInfoResponse_TS_fields[] = {
    QX_AT(PeripheralGetInfoResponse_TS, buffer_address),
    QX_AT(PeripheralGetInfoResponse_TS, buffer_size),
    QX_AT(PeripheralGetInfoResponse_TS, current_block),
    QX_AT(PeripheralGetInfoResponse_TS, block_size),
    QX_AT(PeripheralGetInfoResponse_TS, block_start_addr),
    QX_AT(PeripheralGetInfoResponse_TS, build_ptr_addr),
    QX_AT(PeripheralGetInfoResponse_TS, version_ptr_addr)};
static_assert(matches("PeripheralGetInfoResponse_TS", sizeof(PeripheralGetInfoResponse_TS),
                      PeripheralGetInfoResponse_TS_fields),
              "PeripheralGetInfoResponse_TS");
constexpr placed PeripheralIoControlRequest_TS_fields[] = {
    QX_AT(PeripheralIoControlRequest_TS, function), QX_AT(PeripheralIoControlRequest_TS, io_target),
    QX_AT(PeripheralIoControlRequest_TS, io_data_w),
    QX_AT(PeripheralIoControlRequest_TS, io_data_d)};
static_assert(matches("PeripheralIoControlRequest_TS", sizeof(PeripheralIoControlRequest_TS),
                      PeripheralIoControlRequest_TS_fields),
              "PeripheralIoControlRequest_TS");
constexpr placed PeripheralIoControlResponse_TS_fields[] = {
    QX_AT(PeripheralIoControlResponse_TS, status), QX_AT(PeripheralIoControlResponse_TS, io_data_d),
    QX_AT(PeripheralIoControlResponse_TS, io_data_w)};
static_assert(matches("PeripheralIoControlResponse_TS", sizeof(PeripheralIoControlResponse_TS),
                      PeripheralIoControlResponse_TS_fields),
              "PeripheralIoControlResponse_TS");
constexpr placed Security_BlockRequest_DTS_fields[] = {
    QX_AT(Security_BlockRequest_DTS, command), QX_AT(Security_BlockRequest_DTS, size),
    QX_AT(Security_BlockRequest_DTS, format),  QX_AT(Security_BlockRequest_DTS, key0),
    QX_AT(Security_BlockRequest_DTS, key1),    QX_AT(Security_BlockRequest_DTS, address),
    QX_AT(Security_BlockRequest_DTS, misc0),   QX_AT(Security_BlockRequest_DTS, misc1),
    QX_AT(Security_BlockRequest_DTS, misc2)};
static_assert(matches("Security_BlockRequest_DTS", sizeof(Security_BlockRequest_DTS),
                      Security_BlockRequest_DTS_fields),
              "Security_BlockRequest_DTS");
QX_INLINE(Security_BlockRequest_DTS);
constexpr placed RawFileBlockHeader_TS_fields[] = {
    QX_AT(RawFileBlockHeader_TS, size), QX_AT(RawFileBlockHeader_TS, number_of_logical_blocks),
    QX_AT(RawFileBlockHeader_TS, this_lba), QX_AT(RawFileBlockHeader_TS, file_block_count),
    QX_AT(RawFileBlockHeader_TS, file_index)};
static_assert(matches("RawFileBlockHeader_TS", sizeof(RawFileBlockHeader_TS),
                      RawFileBlockHeader_TS_fields),
              "RawFileBlockHeader_TS");
constexpr placed RawFileFileHeader_TS_fields[] = {
    QX_AT(RawFileFileHeader_TS, file_index),
    QX_AT(RawFileFileHeader_TS, number_of_logical_blocks),
    QX_AT(RawFileFileHeader_TS, cfgfile_version),
    QX_AT(RawFileFileHeader_TS, cfgfile_num_channels),
    QX_AT(RawFileFileHeader_TS, logfile_version),
    QX_AT(RawFileFileHeader_TS, this_lba),
    QX_AT(RawFileFileHeader_TS, flags),
    QX_AT(RawFileFileHeader_TS, file_number),
    QX_AT(RawFileFileHeader_TS, file_prefix)};
static_assert(matches("RawFileFileHeader_TS", sizeof(RawFileFileHeader_TS),
                      RawFileFileHeader_TS_fields),
              "RawFileFileHeader_TS");
constexpr placed RawFileDiskHeader_TS_fields[] = {
    QX_AT(RawFileDiskHeader_TS, lba_of_last_file_opened),
    QX_AT(RawFileDiskHeader_TS, number_of_files), QX_AT(RawFileDiskHeader_TS, lba_of_disk_end),
    QX_AT(RawFileDiskHeader_TS, file_counter), QX_AT(RawFileDiskHeader_TS, file_prefix)};
static_assert(matches("RawFileDiskHeader_TS", sizeof(RawFileDiskHeader_TS),
                      RawFileDiskHeader_TS_fields),
              "RawFileDiskHeader_TS");
constexpr placed RawFileFullHeader_TS_fields[] = {
    QX_AT(RawFileFullHeader_TS, RFBH),     QX_AT(RawFileFullHeader_TS, rsvd0),
    QX_AT(RawFileFullHeader_TS, RFFH),     QX_AT(RawFileFullHeader_TS, rsvd1),
    QX_AT(RawFileFullHeader_TS, RFDH),     QX_AT(RawFileFullHeader_TS, rsvd2),
    QX_AT(RawFileFullHeader_TS, header),   QX_AT(RawFileFullHeader_TS, misc_string),
    QX_AT(RawFileFullHeader_TS, copyright)};
static_assert(matches("RawFileFullHeader_TS", sizeof(RawFileFullHeader_TS),
                      RawFileFullHeader_TS_fields),
              "RawFileFullHeader_TS");
constexpr placed RawFileReadRequestLBA_TS_fields[] = {
    QX_AT(RawFileReadRequestLBA_TS, start_lba),
    QX_AT(RawFileReadRequestLBA_TS, number_of_logical_blocks)};
static_assert(matches("RawFileReadRequestLBA_TS", sizeof(RawFileReadRequestLBA_TS),
                      RawFileReadRequestLBA_TS_fields),
              "RawFileReadRequestLBA_TS");
constexpr placed RawFileWriteRequestLBA_TS_fields[] = {
    QX_AT(RawFileWriteRequestLBA_TS, start_lba),
    QX_AT(RawFileWriteRequestLBA_TS, number_of_logical_blocks),
    QX_AT(RawFileWriteRequestLBA_TS, data)};
static_assert(matches("RawFileWriteRequestLBA_TS", sizeof(RawFileWriteRequestLBA_TS),
                      RawFileWriteRequestLBA_TS_fields),
              "RawFileWriteRequestLBA_TS");
constexpr placed QXCoreDump_Section_TS_fields[] = {QX_AT(QXCoreDump_Section_TS, address),
                                                   QX_AT(QXCoreDump_Section_TS, size)};
static_assert(matches("QXCoreDump_Section_TS", sizeof(QXCoreDump_Section_TS),
                      QXCoreDump_Section_TS_fields),
              "QXCoreDump_Section_TS");
constexpr placed QXCoreDump_Header_TS_fields[] = {
    QX_AT(QXCoreDump_Header_TS, tag),           QX_AT(QXCoreDump_Header_TS, version),
    QX_AT(QXCoreDump_Header_TS, serial_number), QX_AT(QXCoreDump_Header_TS, rsvd),
    QX_AT(QXCoreDump_Header_TS, G_AES_rsa),     QX_AT(QXCoreDump_Header_TS, cds)};
static_assert(matches("QXCoreDump_Header_TS", sizeof(QXCoreDump_Header_TS),
                      QXCoreDump_Header_TS_fields),
              "QXCoreDump_Header_TS");
constexpr placed QXCoreDump_Packet_TS_fields[] = {QX_AT(QXCoreDump_Packet_TS, AES_IV),
                                                  QX_AT(QXCoreDump_Packet_TS, AES_Key),
                                                  QX_AT(QXCoreDump_Packet_TS, header)};
static_assert(matches("QXCoreDump_Packet_TS", sizeof(QXCoreDump_Packet_TS),
                      QXCoreDump_Packet_TS_fields),
              "QXCoreDump_Packet_TS");
constexpr placed ConfigurationItemHeader_TS_fields[] = {
    QX_AT(ConfigurationItemHeader_TS, misc_ptr),
    QX_AT(ConfigurationItemHeader_TS, item_size),
    QX_AT(ConfigurationItemHeader_TS, outputValue),
    QX_AT(ConfigurationItemHeader_TS, outputValueInitial),
    QX_AT(ConfigurationItemHeader_TS, outputValueTest),
    QX_AT(ConfigurationItemHeader_TS, clamp_lower),
    QX_AT(ConfigurationItemHeader_TS, clamp_upper),
    QX_AT(ConfigurationItemHeader_TS, type),
    QX_AT(ConfigurationItemHeader_TS, outputChannel),
    QX_AT(ConfigurationItemHeader_TS, channel_name),
    QX_AT(ConfigurationItemHeader_TS, input_channels),
    QX_AT(ConfigurationItemHeader_TS, input_data_pointers),
    QX_AT(ConfigurationItemHeader_TS, flags),
    QX_AT(ConfigurationItemHeader_TS, mod_flags),
    QX_AT(ConfigurationItemHeader_TS, thread_control)};
static_assert(matches("ConfigurationItemHeader_TS", sizeof(ConfigurationItemHeader_TS),
                      ConfigurationItemHeader_TS_fields),
              "ConfigurationItemHeader_TS");

}  // namespace
}  // namespace qx::protocol
