// Rows of the layout tables: fixed size, element-size byte of each array, variable part limit.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace qx::testing {

struct variable_row {
    std::string_view name;
    std::uint32_t fixed_size;
    std::vector<std::uint32_t> element_size_at;
    std::uint32_t variable_limit;
};

inline const std::vector<variable_row> variable_rows = {
    {"GenericArray_DTS", 8, {0}, 4080},
    {"FrequencySampleRequest_TS", 8, {0}, 4080},
    {"GenericStringArray_DTS", 12, {2}, 4076},
    {"FlashMgrBlockDataRequest_DTS", 12, {2}, 4076},
    {"WriteDataRequest_DTS", 12, {4}, 4076},
    {"GenericStatusDataResponse_DTS", 12, {4}, 4076},
    {"LogGetDirectoryEntryRequest_DTS", 12, {4}, 4076},
    {"LogOpenFileRequest_DTS", 12, {4}, 4076},
    {"SH_Peripheral_Request_TS", 12, {4}, 4076},
    {"ConfigurationFindChannelByNameRequest_TS", 12, {0}, 4076},
    {"UnresolvedName_TS", 12, {0}, 4076},
    {"LogGetDirectoryEntryResponse_DTS", 16, {8}, 4072},
    {"LogReadFileResponse_DTS", 16, {8}, 4072},
    {"RawFileWriteRequestLBA_TS", 16, {8}, 4072},
    {"UnresolvedNameValue_TS", 16, {0}, 4072},
    {"WriteChannelListRequest_DTS", 16, {0, 8}, 4072},
    {"UnresolvedNameString_TS", 16, {0, 8}, 4072},
    {"GenericStatusStringResponse_DTS", 20, {4, 12}, 4068},
    {"GenericStatusFormattedStringResponse_DTS", 20, {4, 12}, 4068},
    {"FrequencySampleResponse_TS", 28, {4, 12, 20}, 4060},
    {"Security_BlockRequest_DTS", 48, {8, 16, 40}, 4040},
    {"CpuPinDescriptor_TS", 60, {44, 52}, 4028},
    {"Peripheral_HarnessPinDescriptor_TS", 68, {52, 60}, 4020},
};

struct item_row {
    std::uint8_t type;
    std::string_view name;  // empty where the row names the type only
    std::uint32_t fixed_size;
    std::vector<std::uint32_t> element_size_at;
};

inline const std::vector<item_row> item_rows = {
    {0, "ConfigurationItemHeader_TS", 64, {32, 40, 48}},
    {2, "ConfigurationPassthroughItem_TS", 64, {32, 40, 48}},
    {11, "ConfigurationMultiplexItem_TS", 64, {32, 40, 48}},
    {12, "ConfigurationMafFuelRequirementItem_TS", 64, {32, 40, 48}},
    {21, "ConfigurationSpeedDensityItem_TS", 64, {32, 40, 48}},
    {25, "ConfigurationPlantHardwareWriterItem_TS", 64, {32, 40, 48}},
    {29, "ConfigurationPrivateItem_TS", 64, {32, 40, 48}},
    {1, "ConfigurationEngineDescriptorItem_TS", 176, {32, 40, 48, 116, 124, 132, 140, 148, 156, 164}},
    {3, "ConfigurationAnalogInputConditioningItem_TS", 84, {32, 40, 48}},
    {4, "ConfigurationPredefItem_TS", 88, {32, 40, 48}},
    {5, "ConfigurationMathItem_TS", 104, {32, 40, 48, 64, 72, 80, 96}},
    {6, "ConfigurationIfElseItem_TS", 104, {32, 40, 48, 64, 72, 80, 96}},
    {7, "Configuration1DTableItem_DTS", 96, {32, 40, 48, 64, 86}},
    {8, "Configuration2DTableItem_DTS", 104, {32, 40, 48, 64, 72, 96}},
    {9, "ConfigurationRunningAverageItem_DTS", 80, {32, 40, 48, 72}},
    {10, "ConfigurationSlopeItem_TS", 92, {32, 40, 48}},
    {18, "ConfigurationPIDItem_TS", 92, {32, 40, 48}},
    {22, "ConfigurationTimerItem_TS", 92, {32, 40, 48}},
    {13, "ConfigurationLimitingItem_TS", 68, {32, 40, 48}},
    {16, "ConfigurationUnitConversionItem_TS", 68, {32, 40, 48}},
    {17, "ConfigurationThermistorItem_TS", 68, {32, 40, 48}},
    {24, "ConfigurationFixed1DTableItem_TS", 68, {32, 40, 48}},
    {14, "ConfigurationProfilerItem_TS", 80, {32, 40, 48, 72}},
    {15, "ConfigurationEmbeddedCodeItem_TS", 116, {32, 40, 48, 76, 84, 92, 100, 108}},
    {19, "ConfigurationObdiiPIDItem_TS", 92, {32, 40, 48, 68, 76, 84}},
    {20, "ConfigurationObdiiTIDItem_TS", 88, {32, 40, 48, 64, 72, 80}},
    {23, "ConfigurationHardwareIOItem_TS", 100, {32, 40, 48, 84}},
    {26, "ConfigurationDiagnosticCodeItem_TS", 72, {32, 40, 48, 64}},
    {27, "ConfigurationLatchItem_TS", 72, {32, 40, 48}},
    {28, "ConfigurationLambdaStagedItem_TS", 100, {32, 40, 48, 84, 92}},
    {30, "ConfigurationCAN_SimpleTransmitItem_TS", 88, {32, 40, 48, 72, 80}},
    {31, "ConfigurationCJ125Item_TS", 76, {32, 40, 48}},
    {33, "ConfigurationHIP9011Item_TS", 76, {32, 40, 48}},
    {34, "ConfigurationPlaybackItem_TS", 76, {32, 40, 48}},
    {32, "ConfigurationEALEventItem_TS", 80, {32, 40, 48, 72}},
    {35, "ConfigurationCommunicationSimpleItem_TS", 120, {32, 40, 48, 72, 80, 88, 96, 104, 112}},
    {36, "ConfigurationModelIDItem_TS", 96, {32, 40, 48, 64, 72, 80, 88}},
    {37, "ConfigurationCANPacketItem_TS", 172, {32, 40, 48, 64, 72, 80, 88, 96, 104, 112, 120, 128, 136, 144}},
    {38, "ConfigurationSerialStreamItem_TS", 148, {32, 40, 48, 64, 72, 80, 88, 96, 104, 112, 120, 132}},
    {39, "", 144, {32, 40, 48, 128, 136}},
};

}  // namespace qx::testing
