// Dialog 158, "ECU Programming": the Firmware and ID tool's controls by resource id.
#pragma once

#include "platform/ui/dialog_template.h"

namespace qx::imagetool {

inline constexpr int IDD_IMAGE_DOWNLOADER = 158;

inline constexpr int IDC_ECU_SERIAL = 1137;
inline constexpr int IDC_PAK_FILE = 1138;
inline constexpr int IDC_AUTHOR = 1139;
inline constexpr int IDC_DATE = 1140;
inline constexpr int IDC_R8C_FILE = 1141;
inline constexpr int IDC_SELECT_FILE = 1006;
inline constexpr int IDC_DOWNLOAD_FILE = 1150;
inline constexpr int IDC_TYPE_FIRMWARE = 1326;
inline constexpr int IDC_TYPE_FIXED_MODEL = 1327;
inline constexpr int IDC_TYPE_DYNAMIC_MODEL = 1328;
inline constexpr int IDC_TYPE_BOOT_LOADER = 1329;
inline constexpr int IDC_ERASE_DYNAMIC_MODEL = 1324;
inline constexpr int IDC_ERASE_FIXED_MODEL = 1325;
inline constexpr int IDC_PROGRESS = 1149;
inline constexpr int IDC_POWERSEQ_DOWNLOAD = 1151;
inline constexpr int IDC_R8C_SELECT_FILE = 1007;
inline constexpr int IDC_R8C_DOWNLOAD_FILE = 1152;
inline constexpr int IDC_COREDUMP_SAVE = 1055;

// Static texts and group boxes have ids of their own below zero.
inline constexpr int IDC_LABEL_SERIAL = -1;
inline constexpr int IDC_LABEL_AUTHOR = -2;
inline constexpr int IDC_LABEL_DATE = -3;
inline constexpr int IDC_GROUP_FILE_TYPE = -4;
inline constexpr int IDC_GROUP_R8C = -5;
inline constexpr int IDC_GROUP_COREDUMP = -6;

// The four "File type" radios in image type order (0 firmware .. 3 boot loader).
inline constexpr int type_radios[4] = {IDC_TYPE_FIRMWARE, IDC_TYPE_FIXED_MODEL, IDC_TYPE_DYNAMIC_MODEL,
                                       IDC_TYPE_BOOT_LOADER};

ui::dialog_template image_downloader_template();

}  // namespace qx::imagetool
