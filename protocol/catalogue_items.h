// Fields, enumerations, bit fields and defines of the configuration item header and the item
// structures. Part of the structure catalogue (catalogue_data.h).
#pragma once

#include "protocol/catalogue.h"
#include "protocol/catalogue_messages.h"

namespace qx::protocol::catalogue::data {

using enum attribute;

inline constexpr bitfield ConfigurationItemHeader_TS__flags__bits[] = {
    {"required", "0x0001", {}},
    {"determinant", "0x0002", {}},
    {"dirty", "0x0004", {}},
    {"resolves_rom_extern", "0x0008", {}},
    {"logged", "0x0010", {}},
    {"profiler_enable", "0x0020", {}},
    {"profiler_state", "0x0040", {}},
    {"initialized", "0x0080", {}},
    {"stopping", "0x0100", {}},
    {"enabled", "0x0200", {}},
    {"plant_item", "0x0400", {}},
    {"in_ram_xtra", "0x4000", {}},
    {"rom_based", "0x8000", {}},
};
inline constexpr bitfield ConfigurationItemHeader_TS__mod_flags__bits[] = {
    {"private_item", "0x0800", {}},
    {"hidden", "0x0001", {}},
    {"clamp_output", "0x1000", {}},
    {"use_test_output", "0x2000", {}},
    {"password_protect", "0x4000", {}},
};
inline constexpr bitfield ConfigurationItemHeader_TS__thread_control__bits[] = {
    {"thread_id", "0x0000000F", {}},
    {"thread_iteration", "0x000000F0", {}},
    {"priority_index", "0x0000FF00", {}},
};
inline constexpr field ConfigurationItemHeader_TS__fields[] = {
    {"misc_ptr", "DWORD", "", in_ram},
    {"item_size", "DWORD", "", 0},
    {"outputValue", "float", "", modifiable_ro | in_ram},
    {"outputValueInitial", "float", "", modifiable},
    {"outputValueTest", "float", "", modifiable},
    {"clamp_lower", "float", "", modifiable},
    {"clamp_upper", "float", "", modifiable},
    {"type", "BYTE", "", modifiable_ro | in_ram},
    {"outputChannel", "WORD", "", modifiable_ro},
    {"channel_name", "GenericArray_DTS", "", modifiable_ro},
    {"input_channels", "GenericArray_DTS", "", modifiable_ro},
    {"input_data_pointers", "GenericArray_DTS", "", modifiable | no_modify_func | no_compare_func},
    {"flags", "WORD", "", 0, {}, {}, ConfigurationItemHeader_TS__flags__bits},
    {"mod_flags", "WORD", "", modifiable, {}, {}, ConfigurationItemHeader_TS__mod_flags__bits},
    {"thread_control", "DWORD", "", 0, {}, {}, ConfigurationItemHeader_TS__thread_control__bits},
};
inline constexpr named_text ConfigurationItemHeader_TS__defines[] = {
    {"INVALID_CHANNEL", "0xFFFF"},
    {"UNRESOLVED_INPUT", "0xFFFE"},
    {"CONSTANT_INPUT", "0xFFF0"},
    {"PREDEF_CHANNELS_BASE", "0xF000"},
    {"PREDEF_CHANNELS_MAX", "0xF0FF"},
    {"PREDEF_NUMBER", "0x0100"},
    {"ROMBASED_USER_MAX", "0x1000"},
    {"NUMBER_OF_USER_CHANNELS", "1000"},
    {"HOST_CHANNELS_RESERVED_BASE", "0xF400"},
    {"RENDER_RATE", "0xF400"},
    {"DATA_RATE", "0xF401"},
    {"THROUGHPUT", "0xF402"},
    {"FLIGHT_TIME", "0xF403"},
    {"LOG_SIZE", "0xF404"},
    {"HOST_CHANNELS_RESERVED_INVALID", "0xF5FF"},
    {"HOST_CHANNELS_RESERVED_MAX", "0xF5FF"},
    {"FLASHMANAGER_CHANNELS_RESERVED_BASE", "0xF600"},
    {"FLASHTAG_FLASHCONTROLBLOCK", "0xF600"},
    {"FLASHTAG_PREDEF_BLOCK", "0xF601"},
    {"FLASHTAG_LOGLIST_BLOCK", "0xF602"},
    {"FLASHTAG_OBDII_DTC_BLOCK", "0xF603"},
    {"FLASHTAG_OBDII_FF_BLOCK", "0xF604"},
    {"FLASHTAG_DEBUG_ERROR_BLOCK", "0xF605"},
    {"FLASHTAG_BOARD_ID", "0xF606"},
    {"FLASHTAG_TRANSFERSTRUCTSVERSION", "0xF607"},
    {"FLASHTAG_UNIT_LOCKED", "0xF608"},
    {"FLASHTAG_DIAGNOSTIC_CODES_BASE", "0xF620"},
    {"FLASHTAG_HIGHEST_CHANNEL_NUMBER", "0xF640"},
    {"FLASHTAG_PASSWORD", "0xF641"},
    {"DIAGNOSTIC_CODES_BASE", "0xF620"},
    {"DIAGNOSTIC_CODES_MAX", "0xF63F"},
    {"FLASHMANAGER_CHANNELS_RESERVED_MAX", "0xF642"},
    {"UNRESOLVED_CHANNELS_RESERVED_BASE", "0xE000"},
    {"UNRESOLVED_CHANNELS_RESERVED_NUMCHANNELS", "0x0080"},
    {"UNRESOLVED_CHANNELS_ROMBASED_RESERVED_BASE", "0xE200"},
    {"UNRESOLVED_CHANNELS_ROMBASED_RESERVED_NUMCHANNELS", "0x0100"},
    {"UNIT_SEPARATOR_CHAR", "'['"},
};

inline constexpr named_text ConfigurationEngineDescriptorItem_TS__coil_type__setup__values[] = {{"cop", "0x00"}, {"wasted_spark", "0x01"}, {"distributor", "0x02"}};
inline constexpr bitfield ConfigurationEngineDescriptorItem_TS__coil_type__bits[] = {
    {"setup", "0x03", ConfigurationEngineDescriptorItem_TS__coil_type__setup__values},
    {"invert", "0x04", {}},
};
inline constexpr enum_value ConfigurationEngineDescriptorItem_TS__injector_type__values[] = {
    {"Multiport", "0", "Multiport", {}},
    {"GasDirectInjection", "1", "GasDirectInjection", {}},
};
inline constexpr enum_value ConfigurationEngineDescriptorItem_TS__cycles__values[] = {
    {"TwoStroke", "2", "TwoStroke", {}},
    {"FourStroke", "4", "FourStroke", {}},
};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__columns[] = {"crank", "crank_teeth", "cam0", "cam0_teeth", "cam1", "cam1_teeth", "cam2", "cam2_teeth", "cam3", "cam3_teeth"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__SingleToothCam__extra[] = {"user", "0", "auto", "1", "hidden", "1", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__Honda600RR__extra[] = {"auto", "12", "auto", "3", "hidden", "1", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__SingleCamCrank1ToothMissing__extra[] = {"user", "0", "auto", "1", "hidden", "1", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__SingleCamCrank1ToothMissing_VVT__extra[] = {"user", "0", "auto", "1", "hidden", "1", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__SingleCamCrank2ToothMissing__extra[] = {"user", "0", "auto", "1", "hidden", "1", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__SingleCamCrank2ToothMissing_VVT__extra[] = {"user", "0", "auto", "1", "hidden", "1", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__HondaCivic_5T_Cam_12_1Crank__extra[] = {"auto", "12", "auto", "5", "hidden", "0", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__HondaRSX_5T_4T_Cams_12_1Crank_VVT__extra[] = {"auto", "12", "auto", "5", "auto", "4", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__SubaruWRXSTI_3T_3T_Cams_36_2_2_2Crank_VVT__extra[] = {"auto", "36", "auto", "3", "auto", "3", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__1GDSM_2T_Cam_4_Crank__extra[] = {"auto", "2", "auto", "2", "hidden", "0", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__Nissan_QG18DE_10T_Cam_36_2_Crank__extra[] = {"auto", "36", "auto", "10", "hidden", "0", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__DodgeNGC_15T_Cam_36_2_2_Crank_VVT__extra[] = {"auto", "36", "auto", "15", "hidden", "0", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__DodgeViper92_95_4T_Cam_20_2_2_2_2_2_Crank__extra[] = {"auto", "20", "auto", "4", "hidden", "0", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__DodgeViper96_1T_Cam_20_2_2_2_2_2_Crank__extra[] = {"auto", "20", "auto", "1", "hidden", "0", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__MitsubishiEVO8_9_2T_Cam_4_Crank_VVT__extra[] = {"auto", "2", "auto", "2", "auto", "4", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__GM_LS7_4T_Cam_60_2_Crank_VVT__extra[] = {"auto", "60", "auto", "4", "hidden", "0", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__BMW_S54_7T_6T_Cams_60_2_Crank_VVT__extra[] = {"auto", "60", "auto", "7", "auto", "6", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__BMW_S65_7T_6T_Cams_60_2_Crank_VVT__extra[] = {"auto", "60", "auto", "7", "auto", "6", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__NISSAN_VQ35_6T_6T_Cams_36_2_2_2_Crank_VVT__extra[] = {"auto", "36", "auto", "6", "auto", "6", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__NISSAN_VQ35_6T_6T_3T_3T_Cams_36_2_2_2_Crank_VVT__extra[] = {"auto", "36", "auto", "6", "auto", "6", "auto", "3", "auto", "3"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__NISSAN_VQ37_6T_6T_Cams_36_2_2_2_Crank_VVT__extra[] = {"auto", "36", "auto", "6", "auto", "6", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__TOYOTA_2JZGTE_3T_Cam_36_2_Crank_VVT__extra[] = {"auto", "36", "auto", "3", "hidden", "0", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__DodgeViper4thGeneration_5T_Cam_60_2_Crank__extra[] = {"auto", "60", "auto", "5", "hidden", "0", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__HondaJ35_37_3T_Cam_24_1_1_Crank__extra[] = {"auto", "24", "auto", "3", "hidden", "0", "hidden", "1", "hidden", "1"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__SubaruEZ36_3T_3T_3T_3T_Cams_36_2_2_2Crank_VVT__extra[] = {"auto", "36", "auto", "3", "auto", "3", "auto", "3", "auto", "3"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__HondaF22C_3T_Cam_12_Crank_VVT__extra[] = {"auto", "12", "auto", "3", "hidden", "0", "hidden", "0", "hidden", "0"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__Porsche997_4T_4T_Cams_60_2_Crank_VVT__extra[] = {"auto", "60", "auto", "4", "auto", "4", "hidden", "0", "hidden", "0"};
inline constexpr std::string_view ConfigurationEngineDescriptorItem_TS__timing_type__FordCoyote_7T_7T_7T_7T_Cams_36_1_Crank_VVT__extra[] = {"auto", "36", "auto", "7", "auto", "7", "auto", "7", "auto", "7"};
inline constexpr enum_value ConfigurationEngineDescriptorItem_TS__timing_type__values[] = {
    {"SingleToothCam", "0", "Cam sensor single tooth", ConfigurationEngineDescriptorItem_TS__timing_type__SingleToothCam__extra},
    {"Honda600RR", "1", "Honda600R Cam sensor 3 teeth", ConfigurationEngineDescriptorItem_TS__timing_type__Honda600RR__extra},
    {"SingleCamCrank1ToothMissing", "2", "Cam with crank missing 1 tooth", ConfigurationEngineDescriptorItem_TS__timing_type__SingleCamCrank1ToothMissing__extra},
    {"SingleCamCrank1ToothMissing_VVT", "3", "Cam with crank missing 1 tooth single VVT", ConfigurationEngineDescriptorItem_TS__timing_type__SingleCamCrank1ToothMissing_VVT__extra},
    {"SingleCamCrank2ToothMissing", "4", "Cam with crank missing 2 teeth", ConfigurationEngineDescriptorItem_TS__timing_type__SingleCamCrank2ToothMissing__extra},
    {"SingleCamCrank2ToothMissing_VVT", "5", "Cam with crank missing 2 teeth single VVT", ConfigurationEngineDescriptorItem_TS__timing_type__SingleCamCrank2ToothMissing_VVT__extra},
    {"HondaCivic_5T_Cam_12_1Crank", "6", "Honda Civic 5 tooth cam 12+1 crank", ConfigurationEngineDescriptorItem_TS__timing_type__HondaCivic_5T_Cam_12_1Crank__extra},
    {"HondaRSX_5T_4T_Cams_12_1Crank_VVT", "7", "Honda RSX 2 cam 12+1 crank single VVT", ConfigurationEngineDescriptorItem_TS__timing_type__HondaRSX_5T_4T_Cams_12_1Crank_VVT__extra},
    {"SubaruWRXSTI_3T_3T_Cams_36_2_2_2Crank_VVT", "8", "Subaru WRX STi VVT", ConfigurationEngineDescriptorItem_TS__timing_type__SubaruWRXSTI_3T_3T_Cams_36_2_2_2Crank_VVT__extra},
    {"1GDSM_2T_Cam_4_Crank", "9", "1st/2nd Generation Diamond Star Motors", ConfigurationEngineDescriptorItem_TS__timing_type__1GDSM_2T_Cam_4_Crank__extra},
    {"Nissan_QG18DE_10T_Cam_36_2_Crank", "10", "Nissan QG18DE", ConfigurationEngineDescriptorItem_TS__timing_type__Nissan_QG18DE_10T_Cam_36_2_Crank__extra},
    {"DodgeNGC_15T_Cam_36_2_2_Crank_VVT", "11", "Dodge 8 cylinder NGC VVT", ConfigurationEngineDescriptorItem_TS__timing_type__DodgeNGC_15T_Cam_36_2_2_Crank_VVT__extra},
    {"DodgeViper92_95_4T_Cam_20_2_2_2_2_2_Crank", "12", "Dodge Viper 1992-95", ConfigurationEngineDescriptorItem_TS__timing_type__DodgeViper92_95_4T_Cam_20_2_2_2_2_2_Crank__extra},
    {"DodgeViper96_1T_Cam_20_2_2_2_2_2_Crank", "13", "Dodge Viper 1996 and up", ConfigurationEngineDescriptorItem_TS__timing_type__DodgeViper96_1T_Cam_20_2_2_2_2_2_Crank__extra},
    {"MitsubishiEVO8_9_2T_Cam_4_Crank_VVT", "14", "Mitsubishi EVO 8/9 VVT", ConfigurationEngineDescriptorItem_TS__timing_type__MitsubishiEVO8_9_2T_Cam_4_Crank_VVT__extra},
    {"GM_LS7_4T_Cam_60_2_Crank_VVT", "15", "GM LS7 4/60-2 VVT", ConfigurationEngineDescriptorItem_TS__timing_type__GM_LS7_4T_Cam_60_2_Crank_VVT__extra},
    {"BMW_S54_7T_6T_Cams_60_2_Crank_VVT", "16", "BMW S54", ConfigurationEngineDescriptorItem_TS__timing_type__BMW_S54_7T_6T_Cams_60_2_Crank_VVT__extra},
    {"BMW_S65_7T_6T_Cams_60_2_Crank_VVT", "17", "BMW S65", ConfigurationEngineDescriptorItem_TS__timing_type__BMW_S65_7T_6T_Cams_60_2_Crank_VVT__extra},
    {"NISSAN_VQ35_6T_6T_Cams_36_2_2_2_Crank_VVT", "18", "Nissan VQ35 2 Cam VVT", ConfigurationEngineDescriptorItem_TS__timing_type__NISSAN_VQ35_6T_6T_Cams_36_2_2_2_Crank_VVT__extra},
    {"NISSAN_VQ35_6T_6T_3T_3T_Cams_36_2_2_2_Crank_VVT", "19", "Nissan VQ35 4 Cam VVT", ConfigurationEngineDescriptorItem_TS__timing_type__NISSAN_VQ35_6T_6T_3T_3T_Cams_36_2_2_2_Crank_VVT__extra},
    {"NISSAN_VQ37_6T_6T_Cams_36_2_2_2_Crank_VVT", "20", "Nissan VQ37", ConfigurationEngineDescriptorItem_TS__timing_type__NISSAN_VQ37_6T_6T_Cams_36_2_2_2_Crank_VVT__extra},
    {"TOYOTA_2JZGTE_3T_Cam_36_2_Crank_VVT", "21", "Toyota 2JZGTE", ConfigurationEngineDescriptorItem_TS__timing_type__TOYOTA_2JZGTE_3T_Cam_36_2_Crank_VVT__extra},
    {"DodgeViper4thGeneration_5T_Cam_60_2_Crank", "22", "Dodge Viper 4th Gen", ConfigurationEngineDescriptorItem_TS__timing_type__DodgeViper4thGeneration_5T_Cam_60_2_Crank__extra},
    {"HondaJ35_37_3T_Cam_24_1_1_Crank", "23", "Honda J37A1", ConfigurationEngineDescriptorItem_TS__timing_type__HondaJ35_37_3T_Cam_24_1_1_Crank__extra},
    {"SubaruEZ36_3T_3T_3T_3T_Cams_36_2_2_2Crank_VVT", "24", "Subaru EZ36 4Cam VVT", ConfigurationEngineDescriptorItem_TS__timing_type__SubaruEZ36_3T_3T_3T_3T_Cams_36_2_2_2Crank_VVT__extra},
    {"HondaF22C_3T_Cam_12_Crank_VVT", "25", "Honda F22C", ConfigurationEngineDescriptorItem_TS__timing_type__HondaF22C_3T_Cam_12_Crank_VVT__extra},
    {"Porsche997_4T_4T_Cams_60_2_Crank_VVT", "26", "Porsche 997", ConfigurationEngineDescriptorItem_TS__timing_type__Porsche997_4T_4T_Cams_60_2_Crank_VVT__extra},
    {"FordCoyote_7T_7T_7T_7T_Cams_36_1_Crank_VVT", "27", "Ford Coyote", ConfigurationEngineDescriptorItem_TS__timing_type__FordCoyote_7T_7T_7T_7T_Cams_36_1_Crank_VVT__extra},
};
inline constexpr enum_value ConfigurationEngineDescriptorItem_TS__sync_response__values[] = {
    {"state_not_synced", "0", "state not synced", {}},
    {"state_synced", "1", "state synced", {}},
    {"state_sync_error_crank_tooth_missed", "2", "state sync error crank tooth missed", {}},
    {"state_sync_error_crank_tooth_present", "3", "state sync error crank tooth present", {}},
    {"state_sync_error_primary_cam_signature", "4", "state sync error primary cam signature", {}},
    {"state_sync_error_secondary_cam_signature", "5", "state sync error secondary cam signature", {}},
    {"state_sync_error_secondary0_cam_signature", "6", "state sync error secondary0 cam signature", {}},
    {"state_sync_error_secondary1_cam_signature", "7", "state sync error secondary1 cam signature", {}},
    {"state_sync_error_secondary2_cam_signature", "8", "state sync error secondary2 cam signature", {}},
    {"state_sync_error_secondary3_cam_signature", "9", "state sync error secondary3 cam signature", {}},
    {"state_sync_error_secondary4_cam_signature", "10", "state sync error secondary4 cam signature", {}},
    {"state_sync_error_secondary5_cam_signature", "11", "state sync error secondary5 cam signature", {}},
    {"state_sync_error_secondary6_cam_signature", "12", "state sync error secondary6 cam signature", {}},
    {"state_sync_error_secondary7_cam_signature", "13", "state sync error secondary7 cam signature", {}},
    {"state_sync_error_secondary8_cam_signature", "14", "state sync error secondary8 cam signature", {}},
    {"state_sync_error_secondary9_cam_signature", "15", "state sync error secondary9 cam signature", {}},
    {"state_sync_error_secondary10_cam_signature", "16", "state sync error secondary10 cam signature", {}},
    {"state_sync_error_secondary11_cam_signature", "17", "state sync error secondary11 cam signature", {}},
    {"state_sync_error_secondary12_cam_signature", "18", "state sync error secondary12 cam signature", {}},
    {"state_sync_error_secondary13_cam_signature", "19", "state sync error secondary13 cam signature", {}},
    {"state_sync_error_secondary14_cam_signature", "20", "state sync error secondary14 cam signature", {}},
    {"state_sync_error_secondary15_cam_signature", "21", "state sync error secondary15 cam signature", {}},
    {"state_sync_error_generic0", "22", "state sync error generic0", {}},
    {"state_sync_error_generic1", "23", "state sync error generic1", {}},
    {"state_sync_error_generic2", "24", "state sync error generic2", {}},
    {"state_sync_error_generic3", "25", "state sync error generic3", {}},
    {"state_sync_error_generic4", "26", "state sync error generic4", {}},
    {"state_sync_error_generic5", "27", "state sync error generic5", {}},
    {"state_sync_error_generic6", "28", "state sync error generic6", {}},
    {"state_sync_error_generic7", "29", "state sync error generic7", {}},
    {"state_sync_error_generic8", "30", "state sync error generic8", {}},
    {"state_sync_error_generic9", "31", "state sync error generic9", {}},
};
inline constexpr field ConfigurationEngineDescriptorItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"board_descriptor", "Peripheral_BoardDescriptor_TS", "", modifiable_ro},
    {"crank", "PositionSensor_TS", "", modifiable},
    {"cam0", "PositionSensor_TS", "", modifiable},
    {"cam1", "PositionSensor_TS", "", modifiable},
    {"cam2", "PositionSensor_TS", "", modifiable},
    {"cam3", "PositionSensor_TS", "", modifiable},
    {"noise_cancellation_mode", "BYTE", "", modifiable},
    {"num_coils", "BYTE", "", modifiable},
    {"num_sparks", "BYTE", "", modifiable},
    {"num_injectors", "BYTE", "", modifiable},
    {"coil_type", "BYTE", "", modifiable, {}, {}, ConfigurationEngineDescriptorItem_TS__coil_type__bits},
    {"injector_type", "BYTE", "", modifiable, ConfigurationEngineDescriptorItem_TS__injector_type__values},
    {"num_cylinders", "BYTE", "", modifiable},
    {"cycles", "BYTE", "", modifiable, ConfigurationEngineDescriptorItem_TS__cycles__values},
    {"timing_type", "BYTE", "", modifiable, ConfigurationEngineDescriptorItem_TS__timing_type__values, ConfigurationEngineDescriptorItem_TS__timing_type__columns},
    {"displacement", "float", "", modifiable},
    {"spark_base_timings", "GenericArray_DTS", "", modifiable},
    {"injector_base_timings", "GenericArray_DTS", "", modifiable},
    {"spark_knock_sense_indexes", "GenericArray_DTS", "", modifiable},
    {"spark_knock_sense_timings", "GenericArray_DTS", "", modifiable},
    {"spark_knock_sense_widths", "GenericArray_DTS", "", modifiable},
    {"sync_response", "GenericArray_DTS", "", modifiable, ConfigurationEngineDescriptorItem_TS__sync_response__values},
    {"misc_settings", "GenericArray_DTS", "", modifiable},
    {"crank_speed_sparking_toothoffset", "BYTE", "", modifiable},
    {"crank_speed_sparking_toothcount", "BYTE", "", modifiable},
};
inline constexpr named_text ConfigurationEngineDescriptorItem_TS__defines[] = {
    {"MIN_INPUTS", "0"},
    {"MAX_INPUTS", "4"},
    {"EAL_SYNC_RESPONSE_IGNORE", "0"},
    {"EAL_SYNC_RESPONSE_RESYNC", "1"},
    {"EAL_SYNC_RESPONSE_SHUTDOWN", "2"},
};

inline constexpr field ConfigurationPassthroughItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
};

inline constexpr field ConfigurationAnalogInputConditioningItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"analog_error_pointer", "DWORD", "", in_ram},
    {"input_min", "float", "", modifiable},
    {"input_max", "float", "", modifiable},
    {"clamping_override", "float", "", modifiable},
    {"clamping_override_enable", "BYTE", "", modifiable},
};
inline constexpr named_text ConfigurationAnalogInputConditioningItem_TS__defines[] = {
    {"INPUT_CHANNEL_INPUT", "0"},
    {"ERROR_CHANNEL_INPUT", "1"},
    {"MIN_INPUTS", "1"},
    {"MAX_INPUTS", "2"},
};

inline constexpr enum_value ConfigurationPredefItem_TS__subtype__values[] = {
    {"hw_measured", "0", "hw measured", {}},
    {"static_config", "1", "static config", {}},
    {"lowlevel_calc", "2", "lowlevel calc", {}},
};
inline constexpr named_text ConfigurationPredefItem_TS__flags__range_type__values[] = {{"continuous", "0"}, {"toggle", "1"}};
inline constexpr bitfield ConfigurationPredefItem_TS__flags__bits[] = {
    {"range_type", "0x01", ConfigurationPredefItem_TS__flags__range_type__values},
    {"hidden", "0x02", {}},
    {"init_at_run", "0x04", {}},
};
inline constexpr field ConfigurationPredefItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"subtype", "BYTE", "", modifiable, ConfigurationPredefItem_TS__subtype__values},
    {"flags", "BYTE", "", modifiable, {}, {}, ConfigurationPredefItem_TS__flags__bits},
    {"range_low", "float", "", modifiable},
    {"range_high", "float", "", modifiable},
    {"harness_pin", "BYTE", "", modifiable},
    {"harness_pin_string", "BYTE", "TS_PREDEF_ITEM_HARNESS_PIN_STRING_LENGTH", modifiable},
};
inline constexpr named_text ConfigurationPredefItem_TS__defines[] = {
    {"HARNESS_PIN_STRING_LENGTH", "8"},
};

inline constexpr field ConfigurationMathItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"token_stack", "TokenStack_DTS", "", modifiable},
};

inline constexpr field ConfigurationIfElseItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"token_stack", "TokenStack_DTS", "", modifiable},
};

inline constexpr enum_value Configuration1DTableItem_DTS__cell_adjust__values[] = {
    {"disabled", "0", "disabled", {}},
    {"assign", "1", "assign", {}},
    {"add", "2", "add", {}},
    {"multiply", "3", "multiply", {}},
    {"filter_50", "10", "filter 50", {}},
    {"filter_60", "20", "filter 60", {}},
    {"filter_70", "30", "filter 70", {}},
    {"filter_80", "40", "filter 80", {}},
    {"filter_90", "50", "filter 90", {}},
    {"filter_91", "60", "filter 91", {}},
    {"filter_92", "70", "filter 92", {}},
    {"filter_93", "80", "filter 93", {}},
    {"filter_94", "90", "filter 94", {}},
    {"filter_95", "100", "filter 95", {}},
    {"filter_96", "120", "filter 96", {}},
    {"filter_97", "140", "filter 97", {}},
    {"filter_98", "160", "filter 98", {}},
    {"filter_99", "180", "filter 99", {}},
    {"filter_100", "200", "filter 100", {}},
};
inline constexpr field Configuration1DTableItem_DTS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"axis_points", "GenericArray_DTS", "", modifiable},
    {"range_min", "float", "", modifiable},
    {"range_max", "float", "", modifiable},
    {"interpolate", "BYTE", "", modifiable},
    {"axis_selector", "BYTE", "", modifiable},
    {"cell_adjust", "BYTE", "", modifiable, Configuration1DTableItem_DTS__cell_adjust__values},
    {"axis_point_last", "WORD", "", modifiable},
};

inline constexpr field Configuration2DTableItem_DTS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"axis0_points", "GenericArray_DTS", "", modifiable},
    {"axis1_points", "GenericArray_DTS", "", modifiable},
    {"range_min", "float", "", modifiable},
    {"range_max", "float", "", modifiable},
    {"interpolate", "BYTE", "", modifiable},
    {"axis0_selector", "BYTE", "", modifiable},
    {"axis1_selector", "BYTE", "", modifiable},
    {"cell_adjust", "BYTE", "", modifiable, Configuration1DTableItem_DTS__cell_adjust__values},
    {"axis0_point_last", "WORD", "", modifiable},
    {"axis1_point_last", "WORD", "", modifiable},
};

inline constexpr field ConfigurationRunningAverageItem_DTS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"latest", "WORD", "", in_ram},
    {"sum", "float", "", in_ram},
};

inline constexpr field ConfigurationSlopeItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"current_sample", "BYTE", "", in_ram},
    {"sample0", "float", "", modifiable},
    {"timel0", "DWORD", "", in_ram},
    {"timeh0", "DWORD", "", in_ram},
    {"sample1", "float", "", modifiable},
    {"timel1", "DWORD", "", in_ram},
    {"timeh1", "DWORD", "", in_ram},
};

inline constexpr field ConfigurationMultiplexItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
};
inline constexpr named_text ConfigurationMultiplexItem_TS__defines[] = {
    {"MINIMUM_NUM_INPUTS", "3"},
};

inline constexpr field ConfigurationMafFuelRequirementItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
};
inline constexpr named_text ConfigurationMafFuelRequirementItem_TS__defines[] = {
    {"INPUT_MAF", "0"},
    {"INPUT_AF", "1"},
    {"INPUT_FI_FLOWRATE", "2"},
    {"NUM_INPUTS", "3"},
};

inline constexpr bitfield ConfigurationLimitingItem_TS__flags__bits[] = {
    {"initialized", "0x01", {}},
    {"output_invert", "0x02", {}},
    {"compare_invert", "0x04", {}},
    {"enabled", "0x08", {}},
};
inline constexpr field ConfigurationLimitingItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"flags", "BYTE", "", modifiable, {}, {}, ConfigurationLimitingItem_TS__flags__bits},
};
inline constexpr named_text ConfigurationLimitingItem_TS__defines[] = {
    {"NUM_INPUTS", "4"},
    {"INPUT_A", "0"},
    {"INPUT_B", "1"},
    {"INPUT_C", "2"},
    {"INPUT_D", "3"},
};

inline constexpr field ConfigurationProfilerItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"profiled_channel", "WORD", "", modifiable},
    {"timel_channel", "WORD", "", modifiable},
    {"timeh_channel", "WORD", "", modifiable},
    {"excluded_channels", "GenericArray_DTS", "", modifiable},
};

inline constexpr field ConfigurationEmbeddedCodeItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"qx_address", "DWORD", "", in_ram},
    {"ipc_address", "DWORD", "", in_ram},
    {"size", "DWORD", "", modifiable},
    {"function", "GenericArray_DTS", "", modifiable},
    {"storage", "GenericArray_DTS", "", modifiable},
    {"locals", "GenericArray_DTS", "", modifiable},
    {"source", "GenericArray_DTS", "", modifiable},
    {"binary_code", "GenericArray_DTS", "", modifiable},
};

inline constexpr enum_value ConfigurationUnitConversionItem_TS___conversion__values[] = {
    {"CelsiusToFahrenheit", "0", "CelsiusToFahrenheit", {}},
    {"CelsiusToKelvin", "1", "CelsiusToKelvin", {}},
    {"FahrenheitToCelsius", "2", "FahrenheitToCelsius", {}},
    {"FahrenheitToKelvin", "3", "FahrenheitToKelvin", {}},
    {"KelvinToCelsius", "4", "KelvinToCelsius", {}},
    {"KelvinToFahrenheit", "5", "KelvinToFahrenheit", {}},
    {"PsiToKPa", "6", "PsiToKPa", {}},
    {"KPaToPsi", "7", "KPaToPsi", {}},
};
inline constexpr field ConfigurationUnitConversionItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"_conversion", "WORD", "", modifiable, ConfigurationUnitConversionItem_TS___conversion__values},
};
inline constexpr named_text ConfigurationUnitConversionItem_TS__defines[] = {
    {"MINIMUM_NUM_INPUTS", "1"},
    {"MAXIMUM_NUM_INPUTS", "1"},
};

inline constexpr enum_value ConfigurationThermistorItem_TS___output_type__values[] = {
    {"ResistanceOhms", "0", "ResistanceOhms", {}},
    {"CoolantTempDegC", "1", "CoolantTempDegC", {}},
    {"AirTempDegC", "2", "AirTempDegC", {}},
    {"Clt_1GDSM_DegC", "3", "Clt 1GDSM DegC", {}},
    {"Clt_GM12146312_DegC", "4", "Clt GM12146312 DegC", {}},
    {"Clt_Supra_19937_DegC", "5", "Clt Supra 19937 DegC", {}},
    {"Clt_Honda1990_01_DegC", "6", "Clt Honda1990 01 DegC", {}},
    {"Clt_Honda2002_06_DegC", "7", "Clt Honda2002 06 DegC", {}},
    {"Clt_Subaru2004_06_DegC", "8", "Clt Subaru2004 06 DegC", {}},
    {"Clt_EVO89_2GDSM_DegC", "9", "Clt EVO89 2GDSM DegC", {}},
    {"Clt_AcuraClt_DegC", "10", "Clt AcuraClt DegC", {}},
    {"Air_GM25036751_DegC", "11", "Air GM25036751 DegC", {}},
    {"Air_HondaS2000_00_05_DegC", "12", "Air HondaS2000 00 05 DegC", {}},
    {"Air_Honda1990_01_DegC", "13", "Air Honda1990 01 DegC", {}},
    {"Air_SubaruSTI2004_06_DegC", "14", "Air SubaruSTI2004 06 DegC", {}},
    {"Air_ToyotaMAF_DegC", "15", "Air ToyotaMAF DegC", {}},
    {"Air_Nissan_DegC", "16", "Air Nissan DegC", {}},
};
inline constexpr field ConfigurationThermistorItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"_output_type", "BYTE", "", modifiable, ConfigurationThermistorItem_TS___output_type__values},
};
inline constexpr named_text ConfigurationThermistorItem_TS__defines[] = {
    {"INPUT_ANALOG", "0"},
    {"INPUT_BOARD_RESISTOR", "1"},
    {"MINIMUM_NUM_INPUTS", "2"},
    {"MAXIMUM_NUM_INPUTS", "2"},
};

inline constexpr bitfield ConfigurationPIDItem_TS__flags__bits[] = {
    {"enabled", "0x08", {}},
};
inline constexpr field ConfigurationPIDItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"timel0", "DWORD", "", in_ram},
    {"timeh0", "DWORD", "", in_ram},
    {"timel1", "DWORD", "", in_ram},
    {"timeh1", "DWORD", "", in_ram},
    {"integral", "float", "", in_ram},
    {"previous_error", "float", "", in_ram},
    {"flags", "BYTE", "", modifiable, {}, {}, ConfigurationPIDItem_TS__flags__bits},
};
inline constexpr named_text ConfigurationPIDItem_TS__defines[] = {
    {"INPUT_MEASURED_POSITION", "0"},
    {"INPUT_DESIRED_POSITION", "1"},
    {"INPUT_KP", "2"},
    {"INPUT_KI", "3"},
    {"INPUT_KD", "4"},
    {"INPUT_ENABLE", "5"},
    {"MINIMUM_NUM_INPUTS", "6"},
    {"INTEGRAL_HOLD_INPUT", "6"},
    {"INTEGRAL_CLAMP_LOWER_INPUT", "7"},
    {"INTEGRAL_CLAMP_UPPER_INPUT", "8"},
    {"ERROR_OUTPUT_INPUT", "9"},
    {"DELTA_TIME_OUTPUT_INPUT", "10"},
    {"P_CONTRIB_OUTPUT_INPUT", "11"},
    {"I_CONTRIB_OUTPUT_INPUT", "12"},
    {"D_CONTRIB_OUTPUT_INPUT", "13"},
    {"MAXIMUM_NUM_INPUTS", "14"},
};

inline constexpr bitfield ConfigurationObdiiPIDItem_TS__pid_info__bits[] = {
    {"pid", "0xFF000000", {}},
    {"freezeframe", "0x00010000", {}},
    {"item_index", "0x0000FFFF", {}},
};
inline constexpr field ConfigurationObdiiPIDItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"cvn", "DWORD", "", modifiable},
    {"vin", "GenericArray_DTS", "", modifiable},
    {"calid", "GenericArray_DTS", "", modifiable},
    {"pid_info", "GenericArray_DTS", "", modifiable, {}, {}, ConfigurationObdiiPIDItem_TS__pid_info__bits},
};
inline constexpr named_text ConfigurationObdiiPIDItem_TS__defines[] = {
    {"VIN_LENGTH", "17"},
    {"CALID_LENGTH", "16"},
};

inline constexpr bitfield ConfigurationObdiiTIDItem_TS__midtid_info__bits[] = {
    {"mid", "0xFF000000", {}},
    {"tid", "0x00FF0000", {}},
    {"unit_scaling", "0x000000FF", {}},
};
inline constexpr bitfield ConfigurationObdiiTIDItem_TS__min_max__bits[] = {
    {"min", "0xFFFF0000", {}},
    {"max", "0x0000FFFF", {}},
};
inline constexpr field ConfigurationObdiiTIDItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"midtid_info", "GenericArray_DTS", "", modifiable, {}, {}, ConfigurationObdiiTIDItem_TS__midtid_info__bits},
    {"min_max", "GenericArray_DTS", "", modifiable, {}, {}, ConfigurationObdiiTIDItem_TS__min_max__bits},
    {"item_index", "GenericArray_DTS", "", modifiable},
};

inline constexpr field ConfigurationSpeedDensityItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
};
inline constexpr named_text ConfigurationSpeedDensityItem_TS__defines[] = {
    {"INPUT_VE", "0"},
    {"INPUT_PRESSURE", "1"},
    {"INPUT_COOLANT_TEMP", "2"},
    {"INPUT_INTAKEAIR_TEMP", "3"},
    {"INPUT_TEMP_BIAS", "4"},
    {"NUM_INPUTS", "5"},
};

inline constexpr std::string_view ConfigurationTimerItem_TS___mode__columns[] = {"min_inputs", "max_inputs"};
inline constexpr std::string_view ConfigurationTimerItem_TS___mode__OneShot__extra[] = {"3", "5"};
inline constexpr std::string_view ConfigurationTimerItem_TS___mode__ElapsedTimeTransition__extra[] = {"3", "5"};
inline constexpr std::string_view ConfigurationTimerItem_TS___mode__SignalPresentForTime__extra[] = {"3", "5"};
inline constexpr std::string_view ConfigurationTimerItem_TS___mode__TransitionLinearResetInitial__extra[] = {"4", "6"};
inline constexpr std::string_view ConfigurationTimerItem_TS___mode__TransitionLinearResetFinal__extra[] = {"4", "6"};
inline constexpr std::string_view ConfigurationTimerItem_TS___mode__IncrementTime__extra[] = {"3", "5"};
inline constexpr enum_value ConfigurationTimerItem_TS___mode__values[] = {
    {"OneShot", "0", "One-shot", ConfigurationTimerItem_TS___mode__OneShot__extra},
    {"ElapsedTimeTransition", "1", "Elapsed Time Transition", ConfigurationTimerItem_TS___mode__ElapsedTimeTransition__extra},
    {"SignalPresentForTime", "2", "Signal Present For Time", ConfigurationTimerItem_TS___mode__SignalPresentForTime__extra},
    {"TransitionLinearResetInitial", "3", "Linear Transition Over Time reset=start", ConfigurationTimerItem_TS___mode__TransitionLinearResetInitial__extra},
    {"TransitionLinearResetFinal", "4", "Linear Transition Over Time reset=end", ConfigurationTimerItem_TS___mode__TransitionLinearResetFinal__extra},
    {"IncrementTime", "5", "Increment While Event Present", ConfigurationTimerItem_TS___mode__IncrementTime__extra},
};
inline constexpr bitfield ConfigurationTimerItem_TS__flags__bits[] = {
    {"active", "0x08", {}},
    {"pause_input", "0x07", {}},
    {"delta_out_input", "0x70", {}},
};
inline constexpr field ConfigurationTimerItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"event", "float", "", modifiable},
    {"duration", "float", "", modifiable},
    {"timel0", "DWORD", "", in_ram},
    {"timeh0", "DWORD", "", in_ram},
    {"timel1", "DWORD", "", in_ram},
    {"timeh1", "DWORD", "", in_ram},
    {"_mode", "BYTE", "", modifiable, ConfigurationTimerItem_TS___mode__values, ConfigurationTimerItem_TS___mode__columns},
    {"flags", "BYTE", "", modifiable, {}, {}, ConfigurationTimerItem_TS__flags__bits},
};
inline constexpr named_text ConfigurationTimerItem_TS__defines[] = {
    {"INPUT_ONESHOT_ET_SP_IWP_EVENT", "0"},
    {"INPUT_TRANSITION_START", "0"},
    {"INPUT_TIME", "1"},
    {"INPUT_RESET", "2"},
    {"INPUT_PAUSE_ONESHOT_ET_SP_IWP", "3"},
    {"INPUT_DELTA_OUT_ONESHOT_ET_SP_IWP", "4"},
    {"NUM_INPUTS_ONESHOT_ET_SP_IWP_MIN", "3"},
    {"NUM_INPUTS_ONESHOT_ET_SP_IWP_MAX", "5"},
    {"INPUT_TRANSITION_END", "3"},
    {"INPUT_PAUSE_TRANSITION", "4"},
    {"INPUT_DELTA_OUT_TRANSITION", "5"},
    {"NUM_INPUTS_TRANSITION_MIN", "4"},
    {"NUM_INPUTS_TRANSITION_MAX", "6"},
};

inline constexpr enum_value ConfigurationHardwareIOItem_TS__harness_pin_mode__values[] = {
    {"Pullup_4700_Ohm", "0", "Pullup 4700 Ohm", {}},
    {"Pullup_10000_Ohm", "1", "Pullup 10000 Ohm", {}},
    {"Pullup_2200_Ohm", "2", "Pullup 2200 Ohm", {}},
    {"Lowside_2_Amp", "3", "Lowside 2 Amp", {}},
    {"Lowside_5_Amp", "4", "Lowside 5 Amp", {}},
    {"Lowside_10_Amp", "5", "Lowside 10 Amp", {}},
    {"Highside_2_Amp", "6", "Highside 2 Amp", {}},
    {"Highside_5_Amp", "7", "Highside 5 Amp", {}},
    {"Highside_10_Amp", "8", "Highside 10 Amp", {}},
    {"Variable_Reluctance", "9", "Variable Reluctance", {}},
    {"Open_Collector_200_mAmp", "10", "Open Collector 200 mAmp", {}},
    {"Open_Collector_4_Amp", "11", "Open Collector 4 Amp", {}},
    {"No_Drive_Direct_Connect", "12", "No Drive Direct Connect", {}},
    {"Lowside_2_8_Amp", "13", "Lowside 2 8 Amp", {}},
    {"Lowside_2_8_wPullup", "14", "Lowside 2 8 wPullup", {}},
    {"Lowside_6_Amp", "15", "Lowside 6 Amp", {}},
    {"Lowside_6_wPullup", "16", "Lowside 6 wPullup", {}},
    {"Lowside_18_Amp", "17", "Lowside 18 Amp", {}},
    {"Lowside_18_wPullup", "18", "Lowside 18 wPullup", {}},
    {"Input_transistor_switch", "19", "Input transistor switch", {}},
    {"Input_transistor_wpullup", "20", "Input transistor wpullup", {}},
    {"OptoCoupler", "21", "OptoCoupler", {}},
    {"StepperMotorController", "22", "StepperMotorController", {}},
    {"Lowside_2_8_wFlyback", "23", "Lowside 2 8 wFlyback", {}},
    {"Lowside_6_wFlyback", "24", "Lowside 6 wFlyback", {}},
    {"Lowside_18_wFlyback", "25", "Lowside 18 wFlyback", {}},
    {"RS232_RX", "26", "RS232 RX", {}},
    {"RS232_TX", "27", "RS232 TX", {}},
};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__columns[] = {"min_inputs", "max_inputs", "num_locals"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Rising_Edge_Increment__extra[] = {"0", "1", "1"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Falling_Edge_Increment__extra[] = {"0", "1", "1"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Both_Edges_Increment__extra[] = {"0", "1", "1"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Rising_Edge_Decrement__extra[] = {"0", "1", "1"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Falling_Edge_Decrement__extra[] = {"0", "1", "1"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Both_Edges_Decrement__extra[] = {"0", "1", "1"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Frequency_Output__extra[] = {"1", "2", "1"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Frequency_And_Duty_Output__extra[] = {"2", "3", "2"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Frequency_Input__extra[] = {"0", "1", "0"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Frequency_And_Duty_Input__extra[] = {"1", "2", "1"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Gpio_Input__extra[] = {"0", "0", "0"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Gpio_Output__extra[] = {"1", "1", "0"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Tach_Output__extra[] = {"2", "2", "1"};
inline constexpr std::string_view ConfigurationHardwareIOItem_TS__cpu_pin_mode__Stepper_Motor_Percent_Control__extra[] = {"2", "6", "1"};
inline constexpr enum_value ConfigurationHardwareIOItem_TS__cpu_pin_mode__values[] = {
    {"Rising_Edge_Increment", "0", "Rising Edge Increment", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Rising_Edge_Increment__extra},
    {"Falling_Edge_Increment", "1", "Falling Edge Increment", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Falling_Edge_Increment__extra},
    {"Both_Edges_Increment", "2", "Both Edge Increment", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Both_Edges_Increment__extra},
    {"Rising_Edge_Decrement", "3", "Rising Edge Decrement", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Rising_Edge_Decrement__extra},
    {"Falling_Edge_Decrement", "4", "Falling Edge Decrement", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Falling_Edge_Decrement__extra},
    {"Both_Edges_Decrement", "5", "Both Edge Decrement", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Both_Edges_Decrement__extra},
    {"Frequency_Output", "6", "Frequency Output", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Frequency_Output__extra},
    {"Frequency_And_Duty_Output", "7", "Frequency and Duty Output (PWM)", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Frequency_And_Duty_Output__extra},
    {"Frequency_Input", "8", "Frequency Input", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Frequency_Input__extra},
    {"Frequency_And_Duty_Input", "9", "Frequency and Duty Input (PWM)", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Frequency_And_Duty_Input__extra},
    {"Gpio_Input", "10", "GPIO Input", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Gpio_Input__extra},
    {"Gpio_Output", "11", "GPIO Output", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Gpio_Output__extra},
    {"Tach_Output", "12", "Tach Output", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Tach_Output__extra},
    {"Stepper_Motor_Percent_Control", "13", "Stepper Motor Control %", ConfigurationHardwareIOItem_TS__cpu_pin_mode__Stepper_Motor_Percent_Control__extra},
};
inline constexpr field ConfigurationHardwareIOItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"harness_pin", "BYTE", "", modifiable},
    {"harness_pin_index", "BYTE", "", modifiable},
    {"harness_pin_mode", "BYTE", "", modifiable, ConfigurationHardwareIOItem_TS__harness_pin_mode__values},
    {"harness_pin_mode_index", "BYTE", "", modifiable},
    {"cpu_pin", "WORD", "", modifiable},
    {"cpu_pin_index", "WORD", "", modifiable},
    {"cpu_pin_mode", "BYTE", "", modifiable, ConfigurationHardwareIOItem_TS__cpu_pin_mode__values, ConfigurationHardwareIOItem_TS__cpu_pin_mode__columns},
    {"cpu_pin_mode_index", "BYTE", "", modifiable},
    {"BoardModel", "BYTE", "TS_PERIPHERAL_BOARDDESCRIPTOR_MODEL_LENGTH", modifiable},
    {"locals", "GenericArray_DTS", "", modifiable},
    {"harness_pin_string", "BYTE", "TS_HARDWAREIO_ITEM_HARNESS_PIN_STRING_LENGTH", modifiable},
};
inline constexpr named_text ConfigurationHardwareIOItem_TS__defines[] = {
    {"INPUT_FREQUENCY_INPUT_NOISE_CANCEL", "0"},
    {"INPUT_FREQUENCY_OUTPUT_FREQUENCY", "0"},
    {"INPUT_FREQUENCY_OUTPUT_DUTY", "1"},
    {"INPUT_DUTY_NO_NOISE_CANCEL_INPUT", "0"},
    {"INPUT_DUTY_WITH_NOISE_CANCEL_INPUT", "1"},
    {"INPUT_TACH_INPUT_LEVEL_TRANSITION_COUNT", "0"},
    {"INPUT_TACH_INPUT_MODE", "1"},
    {"INPUT_TACH_INPUT_ONESHOT_DURATION", "1"},
    {"INPUT_TACH_INPUT_MODE_TOGGLE", "0.0f"},
    {"INPUT_TACH_INPUT_MODE_ASSERT_X_TEETH_THRESH", "10.0f"},
    {"INPUT_STEPPER_INPUT_DESIRED_PERCENT", "0"},
    {"INPUT_STEPPER_STEP_RANGE", "1"},
    {"INPUT_STEPPER_PULSES_PER_STEP", "2"},
    {"INPUT_STEPPER_DELAY_PER_PULSE", "3"},
    {"INPUT_STEPPER_FLAGS", "4"},
    {"INPUT_STEPPER_FLAGS_SLEEP_ENABLE_BIT", "0"},
    {"INPUT_STEPPER_FLAGS_ZERO_AT_STARTUP_BIT", "1"},
    {"INPUT_STEPPER_ZERO_ADDITIONAL_PULSES", "5"},
    {"HARNESS_PIN_STRING_LENGTH", "8"},
};

inline constexpr enum_value ConfigurationFixed1DTableItem_TS___table_type__values[] = {
    {"MassAirFlowSensorLS1", "0", "MassAirFlowSensorLS1", {}},
    {"MassAirFlowSensorLS6", "1", "MassAirFlowSensorLS6", {}},
};
inline constexpr field ConfigurationFixed1DTableItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"_table_type", "WORD", "", modifiable, ConfigurationFixed1DTableItem_TS___table_type__values},
};
inline constexpr named_text ConfigurationFixed1DTableItem_TS__defines[] = {
    {"NUM_INPUTS", "1"},
};

inline constexpr field ConfigurationPlantHardwareWriterItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
};
inline constexpr named_text ConfigurationPlantHardwareWriterItem_TS__defines[] = {
    {"HARDWARE_CHANNEL_INPUT", "0"},
    {"HARDWARE_CHANNEL_VALUE_INPUT", "1"},
    {"NUM_INPUTS", "2"},
};

inline constexpr field ConfigurationDiagnosticCodeItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"freeze_frame", "GenericArray_DTS", "", modifiable},
};
inline constexpr named_text ConfigurationDiagnosticCodeItem_TS__defines[] = {
    {"TROUBLE_CODE_TRIGGER_INPUT", "0"},
    {"USER_DIAGNOSTIC_CODE_SIGNATURE", "0x55534552"},
    {"INTERNAL_DIAGNOSTIC_CODE_SIGNATURE", "0x494E5445"},
};

inline constexpr field ConfigurationLatchItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"last_clock_value", "float", "", in_ram},
    {"latch", "BYTE", "", modifiable},
};
inline constexpr named_text ConfigurationLatchItem_TS__defines[] = {
    {"INPUT_CLOCK", "0"},
    {"INPUT_DATA", "1"},
    {"NUM_INPUTS", "2"},
    {"LATCH_ON_RISING_EDGE", "0x01"},
    {"LATCH_ON_FALLING_EDGE", "0x02"},
    {"LATCH_ON_BOTH_EDGES", "0x03"},
    {"LATCH_EDGE_MASK", "0x0F"},
    {"START_CLOCK_ZERO", "0x10"},
    {"START_CLOCK_NON_ZERO", "0x20"},
    {"START_CLOCK_MASK", "0xF0"},
};

inline constexpr field ConfigurationLambdaStagedItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"primary_fuel_stoich_af", "float", "", modifiable},
    {"primary_fuel_density", "float", "", modifiable},
    {"secondary_fuel_stoich_af", "float", "", modifiable},
    {"secondary_fuel_density", "float", "", modifiable},
    {"number_of_primary_injectors", "BYTE", "", modifiable},
    {"number_of_secondary_injectors", "BYTE", "", modifiable},
    {"primary_injector_numbers", "GenericArray_DTS", "", modifiable},
    {"secondary_injector_numbers", "GenericArray_DTS", "", modifiable},
};
inline constexpr named_text ConfigurationLambdaStagedItem_TS__defines[] = {
    {"INPUT_AIRFLOW", "0"},
    {"INPUT_LAMBDA_TARGET", "1"},
    {"INPUT_PRIMARY_DUTY_THRESHOLD", "2"},
    {"INPUT_STAGED_SPLIT_PERCENT", "3"},
    {"INPUT_PRIMARY_FLOWRATE", "4"},
    {"INPUT_SECONDARY_FLOWRATE", "5"},
    {"INPUT_TRIM_MULTIPLIER_GLOBAL", "6"},
    {"INPUT_TRIM_PRI_ADDER_GLOBAL", "7"},
    {"INPUT_TRIM_SEC_ADDER_GLOBAL", "8"},
    {"INPUT_OUTPUT_PRIMARY_DUTY", "9"},
    {"INPUT_OUTPUT_SECONDARY_DUTY", "10"},
    {"INPUT_FLEX_FUEL_STOICH_AF", "11"},
    {"INPUT_CYCLETIME_OVERRIDE", "12"},
    {"MINIMUM_NUMBER_OF_INPUTS", "12"},
    {"MAXIMUM_NUMBER_OF_INPUTS", "13"},
    {"INVALID_INJECTOR_NUMBER", "0xFF"},
    {"MAX_INJECTORS", "12"},
    {"FLEXFUEL_STOICHAF_KEY", "2.0f"},
};

inline constexpr field ConfigurationPrivateItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
};

inline constexpr enum_value ConfigurationCAN_SimpleTransmitItem_TS__format_type__values[] = {
    {"byte_format", "0", "byte format", {}},
    {"word_format", "1", "word format", {}},
    {"dword_format", "2", "dword format", {}},
    {"float_format", "3", "float format", {}},
};
inline constexpr enum_value ConfigurationCAN_SimpleTransmitItem_TS__format_endianess__values[] = {
    {"little_endian_format", "0", "little endian format", {}},
    {"big_endian_format", "1", "big endian format", {}},
};
inline constexpr enum_value ConfigurationCAN_SimpleTransmitItem_TS__CAN_id_format__values[] = {
    {"standard_format", "0", "standard format", {}},
    {"extended_format", "1", "extended format", {}},
};
inline constexpr field ConfigurationCAN_SimpleTransmitItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"format_type", "BYTE", "", modifiable, ConfigurationCAN_SimpleTransmitItem_TS__format_type__values},
    {"format_endianess", "BYTE", "", modifiable, ConfigurationCAN_SimpleTransmitItem_TS__format_endianess__values},
    {"CAN_id_format", "BYTE", "", modifiable, ConfigurationCAN_SimpleTransmitItem_TS__CAN_id_format__values},
    {"CAN_channel", "BYTE", "", modifiable},
    {"CAN_id", "DWORD", "", modifiable},
    {"NLP_buffer", "GenericArray_DTS", "", modifiable},
    {"data_buffer", "GenericArray_DTS", "", modifiable},
};

inline constexpr named_text ConfigurationCJ125Item_TS__read_latch__edge__values[] = {{"rising_edge", "0x01"}, {"falling_edge", "0x02"}};
inline constexpr named_text ConfigurationCJ125Item_TS__read_latch__start_state__values[] = {{"zero", "0"}, {"non_zero", "16"}};
inline constexpr bitfield ConfigurationCJ125Item_TS__read_latch__bits[] = {
    {"edge", "0x03", ConfigurationCJ125Item_TS__read_latch__edge__values},
    {"start_state", "0x30", ConfigurationCJ125Item_TS__read_latch__start_state__values},
};
inline constexpr field ConfigurationCJ125Item_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"last_read_value", "float", "", in_ram},
    {"last_write_value", "float", "", in_ram},
    {"read_latch", "BYTE", "", modifiable, {}, {}, ConfigurationCJ125Item_TS__read_latch__bits},
    {"write_latch", "BYTE", "", modifiable, {}, {}, ConfigurationCJ125Item_TS__read_latch__bits},
    {"device_index", "BYTE", "", modifiable},
};
inline constexpr named_text ConfigurationCJ125Item_TS__defines[] = {
    {"SPI_READ_INPUT", "0"},
    {"SPI_WRITE_INPUT", "1"},
    {"REG_INIT1_INPUT", "2"},
    {"REG_INIT2_INPUT", "3"},
    {"REG_IDENT_INPUT", "4"},
    {"REG_DIAG_INPUT", "5"},
    {"RESET_INPUT", "6"},
    {"MIN_NUM_INPUTS", "7"},
    {"MAX_NUM_INPUTS", "7"},
};

inline constexpr bitfield ConfigurationEALEventItem_TS__event_latch__bits[] = {
    {"edge", "0x03", ConfigurationCJ125Item_TS__read_latch__edge__values},
    {"start_state", "0x30", ConfigurationCJ125Item_TS__read_latch__start_state__values},
    {"initialized", "0x40", {}},
};
inline constexpr bitfield ConfigurationEALEventItem_TS__event_type__bits[] = {
    {"injector_event", "0x01", {}},
    {"spark_event", "0x02", {}},
    {"save_data_and_commit_event", "0x04", {}},
};
inline constexpr field ConfigurationEALEventItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"last_event_value", "float", "", in_ram},
    {"event_latch", "BYTE", "", modifiable, {}, {}, ConfigurationEALEventItem_TS__event_latch__bits},
    {"event_type", "BYTE", "", modifiable, {}, {}, ConfigurationEALEventItem_TS__event_type__bits},
    {"event_index", "BYTE", "", modifiable},
    {"save_data", "GenericArray_DTS", "", modifiable},
};
inline constexpr named_text ConfigurationEALEventItem_TS__defines[] = {
    {"EVENT_INPUT", "0"},
    {"MIN_NUM_INPUTS", "1"},
    {"MAX_NUM_INPUTS", "255"},
};

inline constexpr field ConfigurationHIP9011Item_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"last_write_value", "float", "", in_ram},
    {"write_latch", "BYTE", "", modifiable, {}, {}, ConfigurationCJ125Item_TS__read_latch__bits},
    {"bandpassfilterfrequency", "byte", "", modifiable},
    {"gaincontrol", "byte", "", modifiable},
    {"integratortimeconstant", "byte", "", modifiable},
    {"test", "byte", "", modifiable},
    {"prescalar", "byte", "", modifiable},
};
inline constexpr named_text ConfigurationHIP9011Item_TS__defines[] = {
    {"SPI_WRITE_INPUT", "0"},
    {"REG_BANDPASSFILTERFREQUENCY_INPUT", "1"},
    {"REG_GAINCONTROL_INPUT", "2"},
    {"REG_INTEGRATORTIMECONSTANT_INPUT", "3"},
    {"REG_TEST_INPUT", "4"},
    {"REG_PRESCALARSO_INPUT", "5"},
    {"MIN_NUM_INPUTS", "0"},
    {"MAX_NUM_INPUTS", "6"},
};

inline constexpr field ConfigurationPlaybackItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"index", "DWORD", "", modifiable},
    {"moderun_timel", "DWORD", "", in_ram},
    {"moderun_timeh", "DWORD", "", in_ram},
};

inline constexpr named_text ConfigurationCommunicationSimpleItem_TS__channel_bus_override__bus_type__values[] = {{"CAN", "0"}, {"Serial", "1"}};
inline constexpr named_text ConfigurationCommunicationSimpleItem_TS__channel_bus_override__bus_channel__values[] = {{"channelA", "0"}, {"channelB", "2"}};
inline constexpr named_text ConfigurationCommunicationSimpleItem_TS__channel_bus_override__bus_direction__values[] = {{"transmit", "0"}, {"receive", "4"}};
inline constexpr named_text ConfigurationCommunicationSimpleItem_TS__channel_bus_override__CAN_type__values[] = {{"standard_format", "0"}, {"extended_format", "8"}};
inline constexpr bitfield ConfigurationCommunicationSimpleItem_TS__channel_bus_override__bits[] = {
    {"bus_type", "0x01", ConfigurationCommunicationSimpleItem_TS__channel_bus_override__bus_type__values},
    {"bus_channel", "0x02", ConfigurationCommunicationSimpleItem_TS__channel_bus_override__bus_channel__values},
    {"bus_direction", "0x04", ConfigurationCommunicationSimpleItem_TS__channel_bus_override__bus_direction__values},
    {"CAN_type", "0x08", ConfigurationCommunicationSimpleItem_TS__channel_bus_override__CAN_type__values},
    {"CAN_8byte_per_contiguous_address", "0x10", {}},
    {"Input_override", "0x20", {}},
};
inline constexpr named_text ConfigurationCommunicationSimpleItem_TS__id_dataformat__data_bits__values[] = {{"bits7", "0"}, {"bits8", "1"}};
inline constexpr named_text ConfigurationCommunicationSimpleItem_TS__id_dataformat__parity__values[] = {{"parity_none", "0"}, {"parity_even", "4"}, {"parity_odd", "8"}};
inline constexpr named_text ConfigurationCommunicationSimpleItem_TS__id_dataformat__stop_bits__values[] = {{"stopbits1", "0"}, {"stopbits2", "16"}};
inline constexpr named_text ConfigurationCommunicationSimpleItem_TS__id_dataformat__pclk_div__values[] = {{"pclk_div_1", "0"}, {"pclk_div_4", "32"}, {"pclk_div_16", "64"}, {"pclk_div_64", "96"}};
inline constexpr bitfield ConfigurationCommunicationSimpleItem_TS__id_dataformat__bits[] = {
    {"data_bits", "0x00000003", ConfigurationCommunicationSimpleItem_TS__id_dataformat__data_bits__values},
    {"parity", "0x0000000C", ConfigurationCommunicationSimpleItem_TS__id_dataformat__parity__values},
    {"stop_bits", "0x00000010", ConfigurationCommunicationSimpleItem_TS__id_dataformat__stop_bits__values},
    {"pclk_div", "0x00000060", ConfigurationCommunicationSimpleItem_TS__id_dataformat__pclk_div__values},
    {"baudrategen_N", "0x0000FF00", {}},
    {"can_id", "0xFFFFFFFF", {}},
};
// Data conversions of the communication items; the simple communicator knows the first 20.
inline constexpr enum_value data_conversion_types[] = {
    {"float_2_int8", "0", "float 2 int8", {}},
    {"float_2_int16", "1", "float 2 int16", {}},
    {"float_2_int32", "2", "float 2 int32", {}},
    {"float_2_float", "3", "float 2 float", {}},
    {"uint32_2_int8", "4", "uint32 2 int8", {}},
    {"uint32_2_int16", "5", "uint32 2 int16", {}},
    {"uint32_2_int32", "6", "uint32 2 int32", {}},
    {"uint32_2_float", "7", "uint32 2 float", {}},
    {"int32_2_int8", "8", "int32 2 int8", {}},
    {"int32_2_int16", "9", "int32 2 int16", {}},
    {"int32_2_int32", "10", "int32 2 int32", {}},
    {"int32_2_float", "11", "int32 2 float", {}},
    {"uint16_2_int32", "12", "uint16 2 int32", {}},
    {"uint16_2_float", "13", "uint16 2 float", {}},
    {"int16_2_int32", "14", "int16 2 int32", {}},
    {"int16_2_float", "15", "int16 2 float", {}},
    {"uint8_2_int32", "16", "uint8 2 int32", {}},
    {"uint8_2_float", "17", "uint8 2 float", {}},
    {"int8_2_int32", "18", "int8 2 int32", {}},
    {"int8_2_float", "19", "int8 2 float", {}},
    {"float_2_uint8", "20", "float 2 uint8", {}},
    {"float_2_uint16", "21", "float 2 uint16", {}},
    {"float_2_uint32", "22", "float 2 uint32", {}},
    {"float_2_signmag8", "23", "float 2 signmag8", {}},
    {"float_2_signmag16", "24", "float 2 signmag16", {}},
    {"float_2_signmag32", "25", "float 2 signmag32", {}},
    {"signmag8_2_float", "26", "signmag8 2 float", {}},
    {"signmag16_2_float", "27", "signmag16 2 float", {}},
    {"signmag32_2_float", "28", "signmag32 2 float", {}},
};
inline constexpr field ConfigurationCommunicationSimpleItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"channel_bus_override", "BYTE", "", modifiable, {}, {}, ConfigurationCommunicationSimpleItem_TS__channel_bus_override__bits},
    {"id_dataformat", "DWORD", "", modifiable, {}, {}, ConfigurationCommunicationSimpleItem_TS__id_dataformat__bits},
    {"input_overrides", "GenericArray_DTS", "", modifiable},
    {"data_type", "GenericArray_DTS", "", modifiable, std::span<const enum_value>(data_conversion_types, 20)},
    {"data_min_value", "GenericArray_DTS", "", modifiable},
    {"data_max_value", "GenericArray_DTS", "", modifiable},
    {"data_buffer", "GenericArray_DTS", "", modifiable},
    {"NLP_buffer", "GenericArray_DTS", "", modifiable},
};
inline constexpr named_text ConfigurationCommunicationSimpleItem_TS__defines[] = {
    {"DATATYPE_ENDIAN_BIG", "0x00"},
    {"DATATYPE_ENDIAN_LITTLE", "0x80"},
    {"DATATYPE_ENDIAN_MASK", "0x80"},
    {"DATATYPE_ENDIAN_SHIFT", "7"},
    {"DATATYPE_SIGNED_MASK", "0x40"},
    {"DATATYPE_SIGNED_SHIFT", "6"},
    {"DATATYPE_MASK", "0x3F"},
    {"DATATYPE_SHIFT", "0"},
};

inline constexpr field ConfigurationModelIDItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"str0", "GenericArray_DTS", "", modifiable},
    {"str1", "GenericArray_DTS", "", modifiable},
    {"str2", "GenericArray_DTS", "", modifiable},
    {"str3", "GenericArray_DTS", "", modifiable},
};

inline constexpr named_text ConfigurationCANPacketItem_TS__channel_bus_override__mode_tx__values[] = {{"periodic", "0"}, {"event", "8"}};
inline constexpr bitfield ConfigurationCANPacketItem_TS__channel_bus_override__bits[] = {
    {"bus_channel", "0x02", ConfigurationCommunicationSimpleItem_TS__channel_bus_override__bus_channel__values},
    {"bus_direction", "0x04", ConfigurationCommunicationSimpleItem_TS__channel_bus_override__bus_direction__values},
    {"mode_tx", "0x08", ConfigurationCANPacketItem_TS__channel_bus_override__mode_tx__values},
};
inline constexpr field ConfigurationCANPacketItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"addresses", "GenericArray_DTS", "", modifiable},
    {"data_min_value", "GenericArray_DTS", "", modifiable},
    {"data_max_value", "GenericArray_DTS", "", modifiable},
    {"internal_input_data_pointers", "GenericArray_DTS", "", in_ram},
    {"internal_inputs", "GenericArray_DTS", "", in_ram},
    {"suggested_iteration_count", "GenericArray_DTS", "", modifiable},
    {"current_iteration_count", "GenericArray_DTS", "", in_ram},
    {"data_shift", "GenericArray_DTS", "", modifiable},
    {"data_bits", "GenericArray_DTS", "", modifiable},
    {"data_type", "GenericArray_DTS", "", modifiable, data_conversion_types},
    {"NLP_buffer", "GenericArray_DTS", "", modifiable},
    {"channel_bus_override", "BYTE", "", modifiable, {}, {}, ConfigurationCANPacketItem_TS__channel_bus_override__bits},
    {"current_position", "BYTE", "", in_ram},
    {"data_packet", "DWORD", "2", in_ram},
    {"last_event_value", "float", "", in_ram},
    {"event_latch", "BYTE", "", modifiable, {}, {}, ConfigurationEALEventItem_TS__event_latch__bits},
};
inline constexpr named_text ConfigurationCANPacketItem_TS__defines[] = {
    {"DATATYPE_ENDIAN_BIG", "0x00"},
    {"DATATYPE_ENDIAN_LITTLE", "0x80"},
    {"DATATYPE_ENDIAN_MASK", "0x80"},
    {"DATATYPE_ENDIAN_SHIFT", "7"},
    {"DATATYPE_SIGNED_MASK", "0x40"},
    {"DATATYPE_SIGNED_SHIFT", "6"},
    {"DATATYPE_MASK", "0x3F"},
    {"DATATYPE_SHIFT", "0"},
    {"MAX_PACKET_SIZE", "8"},
    {"ADDRESS_UNUSED", "0xFFFFFFFF"},
    {"EXTENDED_ID_MASK", "0x80000000"},
    {"ID_MASK", "0x7FFFFFFF"},
    {"EVENT_INPUT", "0"},
    {"MIN_NUM_INPUTS", "0"},
    {"MAX_NUM_INPUTS", "1"},
};

inline constexpr bitfield ConfigurationSerialStreamItem_TS__data_format__bits[] = {
    {"data_bits", "0x00000003", ConfigurationCommunicationSimpleItem_TS__id_dataformat__data_bits__values},
    {"parity", "0x0000000C", ConfigurationCommunicationSimpleItem_TS__id_dataformat__parity__values},
    {"stop_bits", "0x00000010", ConfigurationCommunicationSimpleItem_TS__id_dataformat__stop_bits__values},
    {"pclk_div", "0x00000060", ConfigurationCommunicationSimpleItem_TS__id_dataformat__pclk_div__values},
    {"baudrategen_N", "0x0000FF00", {}},
};
inline constexpr field ConfigurationSerialStreamItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"internal_inputs", "GenericArray_DTS", "", in_ram},
    {"internal_input_data_pointers", "GenericArray_DTS", "", in_ram},
    {"data_min_value", "GenericArray_DTS", "", modifiable},
    {"data_max_value", "GenericArray_DTS", "", modifiable},
    {"data_shift", "GenericArray_DTS", "", modifiable},
    {"data_bits", "GenericArray_DTS", "", modifiable},
    {"data_valid", "GenericArray_DTS", "", in_ram},
    {"data_type", "GenericArray_DTS", "", modifiable, data_conversion_types},
    {"data_format", "DWORD", "", modifiable, {}, {}, ConfigurationSerialStreamItem_TS__data_format__bits},
    {"data_buffer", "GenericArray_DTS", "", modifiable},
    {"last_event_value", "float", "", in_ram},
    {"stream_length", "WORD", "", modifiable},
    {"event_latch", "BYTE", "", modifiable, {}, {}, ConfigurationEALEventItem_TS__event_latch__bits},
    {"channel_bus_override", "BYTE", "", modifiable, {}, {}, ConfigurationCANPacketItem_TS__channel_bus_override__bits},
};
inline constexpr named_text ConfigurationSerialStreamItem_TS__defines[] = {
    {"DATATYPE_ENDIAN_BIG", "0x00"},
    {"DATATYPE_ENDIAN_LITTLE", "0x80"},
    {"DATATYPE_ENDIAN_MASK", "0x80"},
    {"DATATYPE_ENDIAN_SHIFT", "7"},
    {"DATATYPE_SIGNED_MASK", "0x40"},
    {"DATATYPE_SIGNED_SHIFT", "6"},
    {"DATATYPE_MASK", "0x3F"},
    {"DATATYPE_SHIFT", "0"},
    {"VALID_DATA", "0xFF"},
    {"INVALID_DATA", "0x00"},
    {"HARDWARE_PIN_INPUT", "0"},
    {"EVENT_INPUT", "1"},
    {"MIN_NUM_INPUTS", "1"},
    {"MAX_NUM_INPUTS", "2"},
    {"DATA_SHIFT_BIT_MASK", "0x0007"},
    {"DATA_SHIFT_BYTE_MASK", "0xFFF8"},
    {"DATA_SHIFT_BYTE_SHIFT", "3"},
};

inline constexpr field ConfigurationEngineTimingGeneratorItem_TS__fields[] = {
    {"header", "ConfigurationItemHeader_TS", "", 0},
    {"board_descriptor", "Peripheral_BoardDescriptor_TS", "", modifiable_ro},
    {"crank", "OutputSensor_TS", "", modifiable},
    {"cam0", "OutputSensor_TS", "", modifiable},
    {"cam1", "OutputSensor_TS", "", modifiable},
    {"cam2", "OutputSensor_TS", "", modifiable},
    {"cam3", "OutputSensor_TS", "", modifiable},
    {"timing_type", "BYTE", "", modifiable},
    {"timing_data", "GenericArray_DTS", "", modifiable},
    {"scratch_buffer", "GenericArray_DTS", "", in_ram},
};
inline constexpr named_text ConfigurationEngineTimingGeneratorItem_TS__defines[] = {
    {"MIN_INPUTS", "2"},
    {"MAX_INPUTS", "255"},
};

}  // namespace qx::protocol::catalogue::data
