// The update run: each ready image in turn, boot loader first, with key transfer, first-block
// check, the erase plan of its type and the image in 2048-byte blocks.
#include <cstdio>
#include <cstring>

#include "protocol/commands.h"
#include "protocol/structs.h"
#include "update/update_image_dlg.h"

namespace qx {

namespace {

namespace id = update_ids;
using cm = connection_manager;

constexpr std::uint32_t block_size = pak_image_block_size;
constexpr std::uint32_t decrypt_buffer = 0xFFF9F800;
constexpr unsigned format_selector = 2;

struct failure {
    std::string text;
};

// "%0.2g" of a percentage computed in single precision.
std::string percent_text(const char* format, int done, int total) {
    const float p = total ? static_cast<float>(done) / static_cast<float>(total) * 100.0f : 0.0f;
    char text[128];
    std::snprintf(text, sizeof text, format, static_cast<double>(p));
    return text;
}

struct row_texts {
    const char* start;
    const char* complete;
};
// By row, in the order of update_rows.
constexpr row_texts texts[] = {
    {"Updating Boot Loader... (%0.2g%%)", "Boot Loader Update Complete... (%0.2g%%)"},
    {"Updating Firmware... (%0.2g%%)", "Firmware Update Complete... (%0.2g%%)"},
    {"Updating Fixed Model... (%0.2g%%)", "Fixed Model Update Complete... (%0.2g%%)"},
    {"Updating Dynamic Model... (%0.2g%%)", "Dynamic Model Update Complete... (%0.2g%%)"},
};

}  // namespace

void CUpdateImageDlg::run_update() {
    int total = 0;
    for (const image_row& row : rows_)
        if (!row.source_path.empty()) ++total;
    model().set_range(id::main_progress, 0, total);
    model().set_position(id::main_progress, 0);
    model().set_bitmap(id::main_lamp, lamp_grey);
    model().set_text(id::main_status, "Updating ECU image(s).  Do not disconnect ECU until complete.");
    int done = 0;
    bool ok = true;
    for (std::size_t i = 0; i < rows_.size() && ok; ++i) {
        image_row& row = rows_[i];
        if (row.source_path.empty()) continue;
        model().set_text(id::progress_text, percent_text(texts[i].start, done, total));
        ok = program_image(row);
        if (!ok) break;
        ++done;
        model().set_position(id::main_progress, done);
        switch (row.type_code) {
        case 0: area_erased_.firmware = false; break;
        case 1: area_erased_.fixed_model = false; break;
        case 2: area_erased_.dynamic_model = false; break;
        case 3: area_erased_.boot_loader = false; break;
        default: break;
        }
        model().set_text(id::progress_text, percent_text(texts[i].complete, done, total));
    }
    model().set_text(id::progress_text, ok ? "Update Success! (100%)" : percent_text("Update Failure! (%0.2g%%)", done, total));
    area_erased_ = {};
    model().set_bitmap(id::main_lamp, lamp_yellow);
    model().set_text(id::main_status, "Waiting for ECU connection.");
}

bool CUpdateImageDlg::program_image(image_row& row) {
    const image_row_ids& r = *row.ids;
    try {
        program_steps(row);
        return true;
    } catch (const failure& f) {
        model().set_text(r.status, f.text);
    } catch (const cm::exception_command_error&) {
        model().set_text(r.status, "Command Error:  Check USB connection.");
    } catch (const cm::exception&) {
        model().set_text(r.status, "Communication Error:  Check USB connection.");
    } catch (const std::exception& e) {
        model().set_text(r.status, e.what());
    }
    model().set_bitmap(r.lamp, lamp_red);
    return false;
}

void CUpdateImageDlg::program_steps(image_row& row) {
    const image_row_ids& r = *row.ids;
    model().set_position(r.progress, 0);
    if (model().checked(r.checkbox) && row.source_path.empty()) throw failure{"Required image not selected."};
    model().set_text(r.status, "Reverifying File...");
    // Never set by anything yet, so this check cannot fail; kept for when they are.
    if (row.image_version != 0 && connected_firmware_version_[0] != 0 &&
        row.image_version != connected_firmware_version_[0] && row.type_code != 0 && row.type_code != 3)
        throw failure{"File version not for connected ECU."};
    // A package whose image is shorter than one block has nothing to check or load.
    if (row.package.layout == 0 || row.image.layout == 0 || row.image.image_data.size() < block_size)
        throw failure{"PAK file invalid."};
    const std::span<const std::uint8_t> image = row.image.image_data.bytes();

    cm::security_request keys;
    keys.sub_function = SECURITY_TEST_FUNCTION_SEND_SYMMETRIC_KEYS;
    keys.key0 = row.image.key_blocks[0];
    connection_.security_command(keys);
    security_block(SECURITY_TEST_FUNCTION_CHECK_FIRST_BLOCK, image.first(block_size), 0);

    const auto blocks = std::uint32_t(image.size() / block_size);
    model().set_step(r.progress, 1);
    model().set_range(r.progress, 0, int(blocks) + 1);
    model().set_position(r.progress, 0);
    model().set_text(r.status, "Erasing Flash...");
    bool erased = false;
    switch (row.type_code) {
    case 0: erased = firmware_plan(); break;
    case 3:
        if (!area_erased_.boot_loader) area_erased_.boot_loader = erase(0x1E0000, 1);
        erased = area_erased_.boot_loader;
        break;
    case 1: erased = fixed_model_plan(); break;
    case 2: erased = dynamic_model_plan(); break;
    default: throw failure{"Unknown image type."};
    }
    if (!erased) throw failure{"Command Error:  Check USB connection."};
    model().step_it(r.progress);

    model().set_text(r.status, "Loading Image...");
    const std::uint32_t base = row.type_code == 3 ? 0x1E0000 : row.type_code == 1 ? 0x100000 : 0;
    for (std::uint32_t i = 0; i < blocks; ++i) {
        const auto block = image.subspan(std::size_t(i) * block_size, block_size);
        if (row.type_code == 2) security_block(SECURITY_TEST_FUNCTION_AES_DECRYPT_DYNAMIC_BLOCK, block, 0);
        else security_block(SECURITY_TEST_FUNCTION_AES_DECRYPT_BLOCK_TO_MEMORY, block, base + i * block_size);
        model().step_it(r.progress);
    }
    if (row.type_code == 0) connected_firmware_version_ = {};
    model().set_position(r.progress, model().state(r.progress).range_high);
    model().set_text(r.status, "Loaded successfully.");
}

void CUpdateImageDlg::security_block(std::uint8_t sub_function, std::span<const std::uint8_t> block, std::uint32_t misc0) {
    cm::security_request s;
    s.sub_function = sub_function;
    s.format_selector = format_selector;
    s.address = decrypt_buffer;
    s.misc0 = misc0;
    s.data = block;
    connection_.security_command(s);
}

bool CUpdateImageDlg::erase(std::uint32_t start, std::uint32_t blocks) {
    protocol::EepromEraseRequest_TS request{};
    request.start_block = start;
    request.number_of_blocks = blocks;
    try {
        connection_.send_command(protocol::EEPROM_ERASE_BLOCKS, &request, sizeof request, nullptr, 0);
        return true;
    } catch (const cm::exception&) {
        return false;
    }
}

bool CUpdateImageDlg::flash_device_erase() {
    std::array<std::uint8_t, 2> id_bytes{};
    try {
        cm::security_request q;
        q.sub_function = SECURITY_TEST_FUNCTION_GET_FLASH_DEVICE;
        if (connection_.security_command(q, id_bytes) < id_bytes.size()) return false;
    } catch (const cm::exception&) {
        return false;
    }
    std::uint16_t device;
    std::memcpy(&device, id_bytes.data(), sizeof device);
    if (device == 0x2780 || device == 0x2781 || device == 0x2789) return erase(0x0C000000, 32);
    return true;
}

bool CUpdateImageDlg::dynamic_model_plan() {
    if (area_erased_.dynamic_model) return true;
    area_erased_.dynamic_model = flash_device_erase() && erase(0x80100000, 16);
    return area_erased_.dynamic_model;
}

bool CUpdateImageDlg::fixed_model_plan() {
    if (!area_erased_.dynamic_model) {
        area_erased_.dynamic_model = flash_device_erase() && erase(0x80100000, 16);
        if (!area_erased_.dynamic_model) return false;
    }
    if (!area_erased_.fixed_model) {
        for (std::uint32_t at = 0x100000; at <= 0x1C0000; at += 0x20000)
            if (!erase(at, 1)) return false;
        area_erased_.fixed_model = true;
    }
    return true;
}

bool CUpdateImageDlg::firmware_plan() {
    if (area_erased_.firmware) return true;
    if (!fixed_model_plan()) return false;
    if (!erase(0, 8)) return false;
    for (std::uint32_t at = 0x10000; at <= 0x90000; at += 0x10000)
        if (!erase(at, 1)) return false;
    for (std::uint32_t at = 0xA0000; at <= 0xE0000; at += 0x20000)
        if (!erase(at, 1)) return false;
    area_erased_.firmware = true;
    return true;
}

}  // namespace qx
