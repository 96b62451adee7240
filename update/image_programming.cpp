// The update run: each ready image in turn, boot loader first, with key transfer, first-block
// check, the erase plan of its type and the image in 2048-byte blocks.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "core/flash_operations.h"
#include "update/update_failure.h"
#include "update/update_image_dlg.h"

namespace qx {

namespace {

namespace id = update_ids;
using cm = connection_manager;

constexpr std::uint32_t block_size = flash::block_size;

// "%0.2g" of a percentage computed in single precision; a whole run reads "100", not the
// "1e+02" that two significant digits would give.
std::string percent_text(const char* format, int done, int total) {
    const float p = total ? static_cast<float>(done) / static_cast<float>(total) * 100.0f : 0.0f;
    std::string f = format;
    if (p == 100.0f) {
        static constexpr std::string_view two_digits = "%0.2g";
        if (const auto at = f.find(two_digits); at != std::string::npos) f.replace(at, two_digits.size(), "%.0f");
    }
    char text[128];
    std::snprintf(text, sizeof text, f.c_str(), static_cast<double>(p));
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
    } catch (const update_failure& f) {
        model().set_text(r.status, f.text);
    } catch (const cm::exception_command_error&) {
        model().set_text(r.status, "Command Error:  Check USB connection.");
    } catch (const cm::exception&) {
        model().set_text(r.status, "Communication Error:  Check USB connection.");
    } catch (const std::exception& e) {
        model().set_text(r.status, e.what());
    }
    // A link closed by Stop fails the exchange under way: the row says why.
    if (stopping_) model().set_text(r.status, "Stopped by the technician.");
    model().set_bitmap(r.lamp, lamp_red);
    return false;
}

void CUpdateImageDlg::program_steps(image_row& row) {
    const image_row_ids& r = *row.ids;
    model().set_position(r.progress, 0);
    if (model().checked(r.checkbox) && row.source_path.empty()) throw update_failure{"Required image not selected."};
    model().set_text(r.status, "Reverifying File...");
    // Never set by anything yet, so this check cannot fail; kept for when they are.
    if (row.image_version != 0 && connected_firmware_version_[0] != 0 &&
        row.image_version != connected_firmware_version_[0] && row.type_code != 0 && row.type_code != 3)
        throw update_failure{"File version not for connected ECU."};
    // A package whose image is shorter than one block has nothing to check or load.
    if (row.package.layout == 0 || row.image.layout == 0 || row.image.image_data.size() < block_size)
        throw update_failure{"PAK file invalid."};
    const std::span<const std::uint8_t> image = row.image.image_data.bytes();

    cm::security_request keys;
    keys.sub_function = SECURITY_TEST_FUNCTION_SEND_SYMMETRIC_KEYS;
    keys.key0 = row.image.key_blocks[0];
    connection_.security_command(keys);
    cm::security_request check;
    check.sub_function = SECURITY_TEST_FUNCTION_CHECK_FIRST_BLOCK;
    check.format_selector = 2;
    check.address = flash::decryption_buffer;
    check.data = image.first(block_size);
    connection_.security_command(check);

    const auto blocks = std::uint32_t(image.size() / block_size);
    model().set_step(r.progress, 1);
    model().set_range(r.progress, 0, int(blocks) + 1);
    model().set_position(r.progress, 0);
    model().set_text(r.status, "Erasing Flash...");
    bool erased = false;
    switch (row.type_code) {
    case 0: erased = firmware_plan(); break;
    case 3:
        if (!area_erased_.boot_loader)
            area_erased_.boot_loader = erase([&] { flash::erase_blocks(connection_, flash::boot_loader_start, 1); });
        erased = area_erased_.boot_loader;
        break;
    case 1: erased = fixed_model_plan(); break;
    case 2: erased = dynamic_model_plan(); break;
    default: throw update_failure{"Unknown image type."};
    }
    if (!erased) throw update_failure{"Command Error:  Check USB connection."};
    model().step_it(r.progress);

    model().set_text(r.status, "Loading Image...");
    for (std::uint32_t i = 0; i < blocks; ++i) {
        if (stopping_) throw update_failure{"Stopped by the technician."};
        flash::send_block(connection_, row.type_code, image.subspan(std::size_t(i) * block_size, block_size), i);
        model().step_it(r.progress);
    }
    if (row.type_code == 0) connected_firmware_version_ = {};
    model().set_position(r.progress, model().state(r.progress).range_high);
    model().set_text(r.status, "Loaded successfully.");
}

bool CUpdateImageDlg::erase(const std::function<void()>& request) {
    try {
        request();
        return true;
    } catch (const cm::exception&) {
        return false;
    }
}

bool CUpdateImageDlg::dynamic_model_plan() {
    if (area_erased_.dynamic_model) return true;
    area_erased_.dynamic_model = erase([&] { flash::erase_dynamic_model_area(connection_); });
    return area_erased_.dynamic_model;
}

bool CUpdateImageDlg::fixed_model_plan() {
    if (!area_erased_.dynamic_model) {
        area_erased_.dynamic_model = erase([&] { flash::erase_dynamic_model_area(connection_); });
        if (!area_erased_.dynamic_model) return false;
    }
    if (!area_erased_.fixed_model) {
        if (!erase([&] { flash::erase_fixed_model_area(connection_); })) return false;
        area_erased_.fixed_model = true;
    }
    return true;
}

bool CUpdateImageDlg::firmware_plan() {
    if (area_erased_.firmware) return true;
    if (!fixed_model_plan() || !erase([&] { flash::erase_firmware_area(connection_); })) return false;
    area_erased_.firmware = true;
    return true;
}

}  // namespace qx
