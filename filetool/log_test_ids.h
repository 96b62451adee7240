// Resource ids of the USB file tool's dialog and menu.
#pragma once

namespace qx::filetool {

inline constexpr int IDD_LOGTEST = 130;
inline constexpr int IDC_GETDIRLISTING = 1027;
inline constexpr int IDC_FORMAT_RAW = 1034;
inline constexpr int IDC_DIAGNOSTICS = 1042;
inline constexpr int IDC_PROGRESS = 1175;
inline constexpr int IDC_PROGRESS_TEXT = 1176;
inline constexpr int IDC_FILE_LIST = 1177;
inline constexpr int IDC_DIAG_LBA = 1178;
inline constexpr int IDC_DIAG_NUM_FILES = 1179;
inline constexpr int IDC_DIAG_FILE_INDEX = 1180;
inline constexpr int IDC_DIAG_FILE_BLOCKS = 1182;
inline constexpr int IDC_DIAG_SECTORS = 1183;
inline constexpr int IDC_DIAG_SECTOR_COUNT = 1184;
inline constexpr int IDR_READANDSAVE = 141;
inline constexpr int ID_UPLOADTOHOST = 32771;

}  // namespace qx::filetool
