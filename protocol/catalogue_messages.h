// Fields, enumerations, bit fields and defines of the request, response, flash, image and log
// structures. Part of the structure catalogue (catalogue_data.h).
#pragma once

#include "protocol/catalogue.h"

namespace qx::protocol::catalogue::data {


inline constexpr field GenericStringArray_DTS__fields[] = {
    {"str_length", "WORD", "", 0},
};

inline constexpr field TargetVersionResponse_TS__fields[] = {
    {"firmware_version", "DWORD", "", 0},
    {"transferstructs_version", "DWORD", "", 0},
};

inline constexpr field TransferStructsVersion_TS__fields[] = {
    {"version", "DWORD", "", 0},
};

inline constexpr enum_value ReadDataRequest_TS__access_size__values[] = {
    {"byte", "1", "byte", {}},
    {"word", "2", "word", {}},
    {"dword", "4", "dword", {}},
};
inline constexpr field ReadDataRequest_TS__fields[] = {
    {"address", "DWORD", "", 0},
    {"access_size", "BYTE", "", 0, ReadDataRequest_TS__access_size__values},
    {"access_count", "WORD", "", 0},
};

inline constexpr field WriteDataRequest_DTS__fields[] = {
    {"address", "DWORD", "", 0},
};

inline constexpr field WriteChannelListRequest_DTS__fields[] = {
    {"channels", "GenericArray_DTS", "", 0},
};

inline constexpr field DmaTestRequest_TS__fields[] = {
    {"command_index", "BYTE", "", 0},
    {"channel", "DWORD", "", 0},
    {"source_address", "DWORD", "", 0},
    {"destination_address", "DWORD", "", 0},
    {"transfer_count", "DWORD", "", 0},
    {"control", "DWORD", "", 0},
};

inline constexpr field EepromProgramRequest_TS__fields[] = {
    {"source_address", "DWORD", "", 0},
    {"destination_address", "DWORD", "", 0},
    {"size", "DWORD", "", 0},
    {"program_size_usage", "BYTE", "", 0},
};

inline constexpr field EepromEraseRequest_TS__fields[] = {
    {"start_block", "DWORD", "", 0},
    {"number_of_blocks", "DWORD", "", 0},
};

inline constexpr field EepromBlankCheckRequest_TS__fields[] = {
    {"source_address", "DWORD", "", 0},
    {"size", "BYTE", "", 0},
};
inline constexpr named_text EepromBlankCheckRequest_TS__defines[] = {
    {"SIZE_8BYTE", "0x00"},
    {"SIZE_8KBYTE", "0x01"},
};

inline constexpr field FlashMgrBlockRequest_TS__fields[] = {
    {"struct_tag", "WORD", "", 0},
};

inline constexpr field FlashMgrBlockDataRequest_DTS__fields[] = {
    {"struct_tag", "WORD", "", 0},
};

inline constexpr field FlashMgrGetBlockExRequest_TS__fields[] = {
    {"struct_tag", "WORD", "", 0},
    {"page", "BYTE", "", 0},
    {"present_mode", "BYTE", "", 0},
    {"index", "WORD", "", 0},
};

inline constexpr field FlashMgrGetBlockExResponse_TS__fields[] = {
    {"address", "DWORD", "", 0},
    {"tags", "DWORD", "6", 0},
    {"status", "DWORD", "", 0},
};

inline constexpr field GenericStatusResponse_TS__fields[] = {
    {"status", "DWORD", "", 0},
};

inline constexpr field GenericStatusDataResponse_DTS__fields[] = {
    {"status", "DWORD", "", 0},
};

inline constexpr field GenericStatusStringResponse_DTS__fields[] = {
    {"status", "DWORD", "", 0},
    {"str", "GenericArray_DTS", "", 0},
};

inline constexpr field GenericStatusFormattedStringResponse_DTS__fields[] = {
    {"status", "DWORD", "", 0},
    {"str", "GenericArray_DTS", "", 0},
};

inline constexpr field FlashMgrGetFlashControlBlockResponse_TS__fields[] = {
    {"empty_block_mask", "DWORD", "", 0},
    {"swap_page", "BYTE", "", 0},
    {"current_page", "BYTE", "", 0},
    {"next_vacant_location", "DWORD", "", 0},
    {"page_pointers", "DWORD", "16", 0},
};

inline constexpr field LogGetDirectoryEntryRequest_DTS__fields[] = {
    {"entry_index", "DWORD", "", 0},
};

inline constexpr field LogGetDirectoryEntryResponse_DTS__fields[] = {
    {"core_index", "DWORD", "", 0},
    {"status", "DWORD", "", 0},
};

inline constexpr field LogOpenFileRequest_DTS__fields[] = {
    {"mode", "DWORD", "", 0},
};

inline constexpr field LogOpenFileResponse_TS__fields[] = {
    {"handle", "DWORD", "", 0},
    {"status", "DWORD", "", 0},
};

inline constexpr field LogCloseFileRequest_TS__fields[] = {
    {"handle", "DWORD", "", 0},
};

inline constexpr field LogReadFileRequest_TS__fields[] = {
    {"handle", "DWORD", "", 0},
    {"read_count", "WORD", "", 0},
};

inline constexpr field LogReadFileResponse_DTS__fields[] = {
    {"read_count", "WORD", "", 0},
    {"status", "DWORD", "", 0},
};

inline constexpr bitfield ConfigurationRequestItem_TS__flags__bits[] = {
    {"ram", "0x0001", {}},
    {"nv", "0x0002", {}},
    {"modifiable_only", "0x8000", {}},
};
inline constexpr field ConfigurationRequestItem_TS__fields[] = {
    {"channel", "WORD", "", 0},
    {"flags", "WORD", "", 0, {}, {}, ConfigurationRequestItem_TS__flags__bits},
};

inline constexpr bitfield ConfigurationDeleteItem_TS__flags__bits[] = {
    {"invalidate_parents", "0x0001", {}},
    {"generate_unresolved_references", "0x0002", {}},
    {"generate_constants", "0x0004", {}},
};
inline constexpr field ConfigurationDeleteItem_TS__fields[] = {
    {"channel", "WORD", "", 0},
    {"flags", "WORD", "", 0, {}, {}, ConfigurationDeleteItem_TS__flags__bits},
};

inline constexpr field ConfigurationQueryStateResponse_TS__fields[] = {
    {"state", "BYTE", "", 0},
};
inline constexpr named_text ConfigurationQueryStateResponse_TS__defines[] = {
    {"STATE_STOPPED", "0x0"},
    {"STATE_RUNNING", "0x1"},
};

inline constexpr field ConfigurationFindChannelByNameRequest_TS__fields[] = {
    {"channel_name", "GenericArray_DTS", "", 0},
    {"flags", "WORD", "", 0, {}, {}, ConfigurationRequestItem_TS__flags__bits},
};

inline constexpr field ConfigurationFindChannelResponse_TS__fields[] = {
    {"channel", "WORD", "", 0},
};

inline constexpr field ConfigurationFindChannelValueResponse_TS__fields[] = {
    {"channel", "WORD", "", 0},
    {"value", "float", "", 0},
};

inline constexpr field FrequencySampleRequest_TS__fields[] = {
    {"channels", "GenericArray_DTS", "", 0},
};
inline constexpr named_text FrequencySampleRequest_TS__defines[] = {
    {"BYTE_DATA", "1"},
    {"WORD_DATA", "2"},
    {"FLOAT_DATA", "3"},
    {"DWORD_DATA", "4"},
    {"KNOCK_CHANNEL", "0x00"},
    {"KNOCK_CHANNEL_SAMPLE_FREQUENCY", "100000"},
    {"KNOCK_CHANNEL_SAMPLE_COUNT", "1024"},
    {"KNOCK_CHANNEL_SAMPLE_TYPE", "TS_FREQUENCYSAMPLEREQUEST_WORD_DATA"},
    {"KNOCK_CHANNEL_SAMPLE_SIZE", "2"},
    {"INSTANTANEOUS_RPM_CHANNEL", "0x01"},
    {"INSTANTANEOUS_RPM_SAMPLE_FREQUENCY", "10000"},
    {"INSTANTANEOUS_RPM_SAMPLE_COUNT", "100"},
    {"INSTANTANEOUS_RPM_SAMPLE_TYPE", "TS_FREQUENCYSAMPLEREQUEST_WORD_DATA"},
    {"INSTANTANEOUS_RPM_SAMPLE_SIZE", "2"},
    {"CAN_SNIFFER_CHANNEL_A", "0x02"},
    {"CAN_SNIFFER_A_SAMPLE_FREQUENCY", "10000"},
    {"CAN_SNIFFER_A_SAMPLE_COUNT", "TS_CANSNIFFER_BUFFER_SIZE"},
    {"CAN_SNIFFER_A_SAMPLE_TYPE", "TS_FREQUENCYSAMPLEREQUEST_BYTE_DATA"},
    {"CAN_SNIFFER_A_SAMPLE_SIZE", "1"},
    {"CAN_SNIFFER_CHANNEL_B", "0x03"},
    {"CAN_SNIFFER_B_SAMPLE_FREQUENCY", "10000"},
    {"CAN_SNIFFER_B_SAMPLE_COUNT", "TS_CANSNIFFER_BUFFER_SIZE"},
    {"CAN_SNIFFER_B_SAMPLE_TYPE", "TS_FREQUENCYSAMPLEREQUEST_BYTE_DATA"},
    {"CAN_SNIFFER_B_SAMPLE_SIZE", "1"},
    {"CRANK_ANGLE_CHANNEL", "0xFE"},
    {"CRANK_ANGLE_SAMPLE_FREQUENCY", "10000"},
    {"CRANK_ANGLE_SAMPLE_COUNT", "100"},
    {"CRANK_ANGLE_SAMPLE_TYPE", "TS_FREQUENCYSAMPLEREQUEST_BYTE_DATA"},
    {"CRANK_ANGLE_SAMPLE_SIZE", "1"},
    {"INVALID_SAMPLE_CHANNEL", "0xFF"},
};

inline constexpr field FrequencySampleResponse_TS__fields[] = {
    {"crank_angle_final", "float", "", 0},
    {"sample0", "GenericArray_DTS", "", 0},
    {"sample1", "GenericArray_DTS", "", 0},
    {"sample2", "GenericArray_DTS", "", 0},
};
inline constexpr named_text FrequencySampleResponse_TS__defines[] = {
    {"MAX_CHANNELS_RETURNED", "3"},
};

inline constexpr field DtcRequest_TS__fields[] = {
    {"command_index", "BYTE", "", 0},
    {"dtc_tag", "WORD", "", 0},
};
inline constexpr named_text DtcRequest_TS__defines[] = {
    {"DTC_ADD_TAG", "0"},
    {"DTC_CLEAR_TAG", "1"},
    {"DTC_READ_TAGS", "2"},
    {"DTC_INVALID_TAG", "0xFFFF"},
    {"DTC_MAX_NUM", "0x80"},
};

inline constexpr field TokenStack_DTS__fields[] = {
    {"stack", "GenericArray_DTS", "", 0},
    {"immediates", "GenericArray_DTS", "", 0},
    {"source", "GenericArray_DTS", "", 0},
    {"time_h", "DWORD", "", 0},
    {"time_l", "DWORD", "", 0},
};

inline constexpr field SH_Peripheral_Request_TS__fields[] = {
    {"peripheral_command", "BYTE", "", 0},
    {"peripheral_command_packet", "GenericArray_DTS", "", 0},
};

inline constexpr field Peripheral_HW_PinInitBlock_TS__fields[] = {
    {"RegAddress", "DWORD", "", 0},
    {"and_value", "DWORD", "", 0},
    {"or_value", "DWORD", "", 0},
    {"size", "BYTE", "", 0},
    {"rw_delay", "BYTE", "", 0},
    {"dummy1", "BYTE", "", 0},
    {"dummy2", "BYTE", "", 0},
};

inline constexpr bitfield Peripheral_HarnessPinDescriptor_TS__Attributes__bits[] = {
    {"is_relay_control", "0x01", {}},
    {"is_crank_cam_input", "0x02", {}},
    {"is_lowside", "0x04", {}},
    {"is_injector", "0x08", {}},
};
inline constexpr field Peripheral_HarnessPinDescriptor_TS__fields[] = {
    {"HarnessPinNumber", "BYTE", "", 0},
    {"Attributes", "BYTE", "", 0, {}, {}, Peripheral_HarnessPinDescriptor_TS__Attributes__bits},
    {"CPUInterfacePinNumber", "WORD", "", 0},
    {"PinName", "BYTE", "TS_PERIPHERAL_HARNESSPINDESCRIPTOR_PIN_NAME_LENGTH", 0},
    {"harness_pin_string", "BYTE", "TS_PERIPHERAL_HARNESSPINDESCRIPTOR_HARNESS_PIN_STRING_LENGTH", 0},
    {"modes", "GenericArray_DTS", "", 0},
    {"hw_helpers", "GenericArray_DTS", "", 0},
};
inline constexpr named_text Peripheral_HarnessPinDescriptor_TS__defines[] = {
    {"PIN_NAME_LENGTH", "40"},
    {"PIN_END", "0x00000000"},
    {"HARNESS_PIN_STRING_LENGTH", "8"},
};

inline constexpr field Peripheral_HarnessPinDescriptorForPlugin_TS__fields[] = {
    {"HarnessPinNumber", "BYTE", "", 0},
    {"Attributes", "BYTE", "", 0},
    {"PinName", "BYTE", "TS_PERIPHERAL_HARNESSPINDESCRIPTOR_PIN_NAME_LENGTH", 0},
    {"harness_pin_string", "BYTE", "TS_PERIPHERAL_HARNESSPINDESCRIPTOR_HARNESS_PIN_STRING_LENGTH", 0},
};

inline constexpr field Peripheral_ReadDataRequest_TS__fields[] = {
    {"address", "DWORD", "", 0},
    {"access_size", "BYTE", "", 0},
    {"dummy", "BYTE", "", 0},
    {"access_count", "WORD", "", 0},
};

inline constexpr field Peripheral_GenericStatusResponse_TS__fields[] = {
    {"status", "DWORD", "", 0},
};

inline constexpr field SH_Peripheral_CommandHeader_TS__fields[] = {
    {"command_type", "WORD", "", 0},
    {"command_data_size", "WORD", "", 0},
    {"response_data_buffer_size", "WORD", "", 0},
    {"dummy", "WORD", "", 0},
};

inline constexpr field SH_Peripheral_ResponseHeader_TS__fields[] = {
    {"response_type", "WORD", "", 0},
    {"response_data_returning_size", "WORD", "", 0},
    {"status", "WORD", "", 0},
    {"dummy", "WORD", "", 0},
};

inline constexpr field Peripheral_BoardModel_TS__fields[] = {
    {"BoardModel", "BYTE", "TS_PERIPHERAL_BOARDDESCRIPTOR_MODEL_LENGTH", 0},
};

inline constexpr field Peripheral_BoardDescriptor_TS__fields[] = {
    {"BoardModel", "BYTE", "TS_PERIPHERAL_BOARDDESCRIPTOR_MODEL_LENGTH", 0},
    {"BoardSerialNumber", "BYTE", "TS_PERIPHERAL_BOARDDESCRIPTOR_SERIALNUMBER_LENGTH", 0},
    {"ConnectorInfo", "BYTE", "", 0},
    {"NumberOfPins", "BYTE", "", 0},
};
inline constexpr named_text Peripheral_BoardDescriptor_TS__defines[] = {
    {"MODEL_LENGTH", "8"},
    {"SERIALNUMBER_LENGTH", "8"},
};

inline constexpr field SystemDescriptor_TS__fields[] = {
    {"BoardDescriptor", "Peripheral_BoardDescriptor_TS", "", 0},
    {"MaxNumberOfConfigurationChannels", "WORD", "", 0},
    {"MaxNumberOfCoils", "BYTE", "", 0},
    {"MaxNumberOfInjectors", "BYTE", "", 0},
    {"NV_base_address", "DWORD", "", 0},
    {"NV_pages", "BYTE", "", 0},
    {"NV_pagesize", "DWORD", "", 0},
    {"TargetType", "BYTE", "", 0},
};

inline constexpr field Peripheral_GetHarnessPinRequest_TS__fields[] = {
    {"pin", "BYTE", "", 0},
    {"dummy1", "BYTE", "", 0},
    {"dummy2", "BYTE", "", 0},
    {"dummy3", "BYTE", "", 0},
};

inline constexpr field CpuPinDescriptor_TS__fields[] = {
    {"CPUInterfacePinNumber", "WORD", "", 0},
    {"PinName", "BYTE", "TS_CPUPINDESCRIPTOR_PIN_NAME_LENGTH", 0},
    {"modes", "GenericArray_DTS", "", 0},
    {"hw_helpers", "GenericArray_DTS", "", 0},
};
inline constexpr named_text CpuPinDescriptor_TS__defines[] = {
    {"PIN_NAME_LENGTH", "40"},
    {"PIN_END", "0x00000000"},
    {"PIN_INPUT", "0x4000"},
    {"PIN_OUTPUT", "0x8000"},
    {"PIN_NUMBER_MASK", "0x0FFF"},
};

inline constexpr field GetCpuPinRequest_TS__fields[] = {
    {"pin", "WORD", "", 0},
    {"dummy1", "BYTE", "", 0},
    {"dummy2", "BYTE", "", 0},
};

inline constexpr field CANSniffer_TS__fields[] = {
    {"identifier", "DWORD", "", 0},
    {"timestamp", "WORD", "", 0},
    {"data_length", "BYTE", "", 0},
    {"flow_control", "BYTE", "", 0},
    {"msg_data", "BYTE", "8", 0},
};
inline constexpr named_text CANSniffer_TS__defines[] = {
    {"LAFM", "0x3FFFFFFF"},
    {"BUFFER_SIZE", "0x200"},
};

inline constexpr enum_value PositionSensor_TS__edge_trigger__values[] = {
    {"RisingEdge", "0", "RisingEdge", {}},
    {"FallingEdge", "1", "FallingEdge", {}},
    {"RisingFallingEdges", "2", "RisingFallingEdges", {}},
};
inline constexpr field PositionSensor_TS__fields[] = {
    {"harness_pin_number", "BYTE", "", 0},
    {"noise_cancellation", "BYTE", "", 0},
    {"number_of_teeth", "BYTE", "", 0},
    {"edge_trigger", "BYTE", "", 0, PositionSensor_TS__edge_trigger__values},
};

inline constexpr field OutputSensor_TS__fields[] = {
    {"harness_pin_number", "BYTE", "", 0},
    {"harness_pin_index", "BYTE", "", 0},
    {"pin_invert", "BYTE", "", 0},
    {"number_of_teeth", "BYTE", "", 0},
    {"GPIO", "DWORD", "", 0},
};

inline constexpr field UnresolvedName_TS__fields[] = {
    {"name", "GenericArray_DTS", "", 0},
    {"index", "WORD", "", 0},
};

inline constexpr field UnresolvedNameIndex_TS__fields[] = {
    {"index", "WORD", "", 0},
};

inline constexpr field UnresolvedNameValue_TS__fields[] = {
    {"name", "GenericArray_DTS", "", 0},
    {"index", "WORD", "", 0},
    {"value", "float", "", 0},
};

inline constexpr field UnresolvedNameString_TS__fields[] = {
    {"name", "GenericArray_DTS", "", 0},
    {"str", "GenericArray_DTS", "", 0},
};

inline constexpr enum_value UploadStringRequest_TS__string_type__values[] = {
    {"AllBuiltInItemNames", "0", "AllBuiltInItemNames", {}},
    {"AllRequiredItemNames", "1", "AllRequiredItemNames", {}},
    {"CurrentMinimumRequiredItemNames", "2", "CurrentMinimumRequiredItemNames", {}},
    {"Errors", "3", "Errors", {}},
};
inline constexpr field UploadStringRequest_TS__fields[] = {
    {"string_type", "WORD", "", 0, UploadStringRequest_TS__string_type__values},
    {"index", "DWORD", "", 0},
};
inline constexpr named_text UploadStringRequest_TS__defines[] = {
    {"FILTER_PRESENT_ITEMS", "0x8000"},
};

inline constexpr field PeripheralExecuteInBlockRequest_TS__fields[] = {
    {"block", "DWORD", "", 0},
};

inline constexpr field PeripheralGetInfoRequest_TS__fields[] = {
    {"block", "DWORD", "", 0},
};

inline constexpr field PeripheralGetInfoResponse_TS__fields[] = {
    {"buffer_address", "DWORD", "", 0},
    {"buffer_size", "DWORD", "", 0},
    {"current_block", "DWORD", "", 0},
    {"block_size", "DWORD", "", 0},
    {"block_start_addr", "DWORD", "", 0},
    {"build_ptr_addr", "DWORD", "", 0},
    {"version_ptr_addr", "DWORD", "", 0},
};

inline constexpr field EncryptedPacketProgramRequest_DTS__fields[] = {
    {"size", "WORD", "", 0},
    {"offset", "DWORD", "", 0},
};

inline constexpr field Security_BlockRequest_DTS__fields[] = {
    {"command", "BYTE", "", 0},
    {"size", "WORD", "", 0},
    {"format", "WORD", "", 0},
    {"key0", "GenericArray_DTS", "", 0},
    {"key1", "GenericArray_DTS", "", 0},
    {"address", "DWORD", "", 0},
    {"misc0", "DWORD", "", 0},
    {"misc1", "DWORD", "", 0},
    {"misc2", "DWORD", "", 0},
};

inline constexpr field RawFileBlockHeader_TS__fields[] = {
    {"size", "DWORD", "", 0},
    {"number_of_logical_blocks", "DWORD", "", 0},
    {"this_lba", "DWORD", "", 0},
    {"file_block_count", "DWORD", "", 0},
    {"file_index", "DWORD", "", 0},
};

inline constexpr bitfield RawFileFileHeader_TS__flags__bits[] = {
    {"uploaded", "0x00000001", {}},
    {"deleted", "0x00000002", {}},
    {"hidden", "0x00000004", {}},
};
inline constexpr field RawFileFileHeader_TS__fields[] = {
    {"file_index", "DWORD", "", 0},
    {"number_of_logical_blocks", "DWORD", "", 0},
    {"cfgfile_version", "DWORD", "", 0},
    {"cfgfile_num_channels", "DWORD", "", 0},
    {"logfile_version", "DWORD", "", 0},
    {"this_lba", "DWORD", "", 0},
    {"flags", "DWORD", "", 0, {}, {}, RawFileFileHeader_TS__flags__bits},
    {"file_number", "DWORD", "", 0},
    {"file_prefix", "BYTE", "24", 0},
};

inline constexpr field RawFileDiskHeader_TS__fields[] = {
    {"lba_of_last_file_opened", "DWORD", "", 0},
    {"number_of_files", "DWORD", "", 0},
    {"lba_of_disk_end", "DWORD", "", 0},
    {"file_counter", "DWORD", "", 0},
    {"file_prefix", "BYTE", "24", 0},
};

inline constexpr field RawFileFullHeader_TS__fields[] = {
    {"RFBH", "RawFileBlockHeader_TS", "", 0},
    {"rsvd0", "BYTE", "44", 0},
    {"RFFH", "RawFileFileHeader_TS", "", 0},
    {"rsvd1", "BYTE", "8", 0},
    {"RFDH", "RawFileDiskHeader_TS", "", 0},
    {"rsvd2", "BYTE", "24", 0},
    {"header", "WORD", "8", 0},
    {"misc_string", "BYTE", "112", 0},
    {"copyright", "BYTE", "128", 0},
};
inline constexpr named_text RawFileFullHeader_TS__defines[] = {
    {"SIZE_OF_DISK_LOGICAL_BLOCK", "0x200"},
    {"DISK_HEADER", "0xDEAD"},
    {"FILE_HEADER", "0xBEEF"},
    {"BLOCK_HEADER", "0xD065"},
};

inline constexpr field RawFileReadRequestLBA_TS__fields[] = {
    {"start_lba", "DWORD", "", 0},
    {"number_of_logical_blocks", "DWORD", "", 0},
};

inline constexpr field RawFileWriteRequestLBA_TS__fields[] = {
    {"start_lba", "DWORD", "", 0},
    {"number_of_logical_blocks", "DWORD", "", 0},
    {"data", "GenericArray_DTS", "", 0},
};

inline constexpr field FlashStartTag_TS__fields[] = {
    {"start_tag_value", "WORD", "", 0},
    {"struct_tag_value", "WORD", "", 0},
    {"starttag_rsvd", "WORD", "", 0},
    {"data_block_size", "WORD", "", 0},
};
inline constexpr named_text FlashStartTag_TS__defines[] = {
    {"START_TAG_VALUE", "'JV'"},
    {"START_TAG_VALUE_SWAPPED", "'VJ'"},
    {"END_TAG_VALUE", "'PB'"},
    {"END_TAG_VALUE_SWAPPED", "'BP'"},
    {"BLOCK_BLANK", "0xFFFFFFFF"},
    {"BLOCK_INVALID0", "0xDEADDEAD"},
    {"BLOCK_INVALID0_SWAPPED", "0xDAEDDAED"},
    {"BLOCK_INVALID1", "0xDEADDEAD"},
    {"BLOCK_INVALID1_SWAPPED", "0xDAEDDAED"},
    {"BLOCK_UPDATE0", "0xBEEFBEEF"},
    {"BLOCK_UPDATE0_SWAPPED", "0xFEEBFEEB"},
    {"BLOCK_UPDATE1", "0xBEEFBEEF"},
    {"BLOCK_UPDATE1_SWAPPED", "0xFEEBFEEB"},
};

inline constexpr field FlashValidTag_TS__fields[] = {
    {"valid_block", "DWORD", "2", 0},
};

inline constexpr field FlashEndTag_TS__fields[] = {
    {"end_tag_value", "WORD", "", 0},
    {"struct_tag_value", "WORD", "", 0},
    {"endtag_rsvd", "WORD", "", 0},
    {"data_block_size", "WORD", "", 0},
};

inline constexpr field FlashTaggedBlock_TS__fields[] = {
    {"start_tag", "FlashStartTag_TS", "", 0},
    {"end_tag", "FlashEndTag_TS", "", 0},
    {"valid_tag", "FlashValidTag_TS", "", 0},
};

inline constexpr field FlashRamControlBlock_TS__fields[] = {
    {"time_high", "DWORD", "", 0},
    {"time_low", "DWORD", "", 0},
    {"empty_block_mask", "DWORD", "", 0},
    {"swap_page", "BYTE", "", 0},
    {"current_page", "BYTE", "", 0},
    {"numpages_and_size", "WORD", "", 0},
    {"next_vacant_location", "DWORD", "", 0},
};

inline constexpr field PeripheralIoControlRequest_TS__fields[] = {
    {"function", "BYTE", "", 0},
    {"io_target", "BYTE", "", 0},
    {"io_data_w", "WORD", "", 0},
    {"io_data_d", "DWORD", "", 0},
};

inline constexpr field PeripheralIoControlResponse_TS__fields[] = {
    {"status", "DWORD", "", 0},
    {"io_data_d", "DWORD", "", 0},
    {"io_data_w", "WORD", "", 0},
};

inline constexpr field PredefinedInitialValues_TS__fields[] = {
    {"data", "float", "TS_CFGITEMHEADER_PREDEF_NUMBER", 0},
};

inline constexpr field ConfigurationHighestChannelNumber_TS__fields[] = {
    {"version", "WORD", "", 0},
};

inline constexpr field QXNV_entry_TS__fields[] = {
    {"address", "DWORD", "", 0},
    {"checksum", "DWORD", "", 0},
    {"data0", "DWORD", "", 0},
    {"data1", "DWORD", "", 0},
};

inline constexpr field QXNV_Header_TS__fields[] = {
    {"tag", "DWORD", "", 0},
    {"version", "DWORD", "", 0},
    {"num_pages", "DWORD", "", 0},
    {"page_size", "DWORD", "", 0},
    {"padding", "BYTE", "1008", 0},
    {"entries", "QXNV_entry_TS", "", 0},
};

inline constexpr field QXROM_Header_TS__fields[] = {
    {"padding", "BYTE", "1024", 0},
    {"tag", "DWORD", "", 0},
    {"version", "DWORD", "", 0},
    {"num_channels", "WORD", "", 0},
    {"num_externs", "WORD", "", 0},
    {"rsvd0", "DWORD", "", 0},
    {"user_pointers", "DWORD", "TS_CFGITEMHEADER_ROMBASED_USER_MAX", 0},
    {"predef_pointers", "DWORD", "TS_CFGITEMHEADER_PREDEF_NUMBER", 0},
    {"unresolved_pointers", "DWORD", "TS_CFGITEMHEADER_UNRESOLVED_CHANNELS_ROMBASED_RESERVED_NUMCHANNELS", 0},
    {"unresolved_name_lengths", "DWORD", "TS_CFGITEMHEADER_UNRESOLVED_CHANNELS_ROMBASED_RESERVED_NUMCHANNELS", 0},
};

inline constexpr field QXCFG_Header_TS__fields[] = {
    {"tag", "DWORD", "", 0},
    {"version", "DWORD", "", 0},
    {"num_channels", "WORD", "", 0},
};

inline constexpr field QXCoreDump_Section_TS__fields[] = {
    {"address", "DWORD", "", 0},
    {"size", "DWORD", "", 0},
};
inline constexpr named_text QXCoreDump_Section_TS__defines[] = {
    {"NUM_SECTIONS", "14"},
};

inline constexpr field QXCoreDump_Header_TS__fields[] = {
    {"tag", "DWORD", "", 0},
    {"version", "DWORD", "", 0},
    {"serial_number", "BYTE", "4", 0},
    {"rsvd", "DWORD", "", 0},
    {"G_AES_rsa", "BYTE", "128", 0},
    {"cds", "QXCoreDump_Section_TS", "TS_QXCOREDUMP_SECTION_NUM_SECTIONS", 0},
};

inline constexpr field QXCoreDump_Packet_TS__fields[] = {
    {"AES_IV", "BYTE", "16", 0},
    {"AES_Key", "BYTE", "32", 0},
    {"header", "QXCoreDump_Header_TS", "", 0},
};

inline constexpr field CommandHeader_TS__fields[] = {
    {"command_type", "WORD", "", 0},
    {"command_data_size", "WORD", "", 0},
    {"response_data_buffer_size", "WORD", "", 0},
    {"dummy", "WORD", "", 0},
};

inline constexpr field ResponseHeader_TS__fields[] = {
    {"response_type", "WORD", "", 0},
    {"response_data_returning_size", "WORD", "", 0},
    {"status", "WORD", "", 0},
    {"dummy", "WORD", "", 0},
};

}  // namespace qx::protocol::catalogue::data
