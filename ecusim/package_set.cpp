#include "ecusim/package_set.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "ecusim/certificates.h"
#include "ecusim/ecu_model.h"
#include "tests/support/pak_writer.h"

#include <map>
#include <nlohmann/json.hpp>

namespace ecusim {

namespace {

namespace ts = qx::test_support;

void save(const std::filesystem::path& path, std::span<const std::uint8_t> data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Image sizes in 2048-byte blocks by image type unless told otherwise.
constexpr image_blocks usual_blocks = {24, 12, 6, 4};

image_blocks blocks_of(std::optional<std::uint32_t> blocks_per_image) {
    if (!blocks_per_image) return usual_blocks;
    return {*blocks_per_image, *blocks_per_image, *blocks_per_image, *blocks_per_image};
}
const char* const file_stems[] = {"firmware", "fixed_model", "dynamic_model", "boot_loader"};

std::string upper_serial(const std::string& serial) {
    if (!parse_serial(serial)) throw std::invalid_argument("not 8 hexadecimal digits: " + serial);
    std::string upper = serial;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return upper;
}

ts::pak_spec package_spec(const std::string& upper, std::uint32_t type, const image_blocks& blocks) {
    ts::pak_spec spec = ts::sample_pak_spec(2, upper, type, blocks[type], type + 1);
    const auto package_certificate = certificates::package();
    spec.certificate.assign(package_certificate.begin(), package_certificate.end());
    return spec;
}

// Flash address of block i of an image type, as the update sends it (dynamic model blocks
// are filed by the ECU in arrival order).
std::uint32_t block_address(std::uint32_t type, std::uint32_t i) {
    constexpr std::uint32_t base[] = {0, 0x100000, dynamic_model_base, 0x1E0000};
    return base[type] + i * 2048;
}

}  // namespace

std::vector<std::string> make_packages(const std::string& serial, const std::string& out_dir,
                                       std::optional<std::uint32_t> blocks_per_image) {
    return make_packages(serial, out_dir, blocks_of(blocks_per_image));
}

std::vector<std::string> make_packages(const std::string& serial, const std::string& out_dir, const image_blocks& blocks) {
    const std::string upper = upper_serial(serial);

    const std::filesystem::path dir(out_dir);
    std::filesystem::create_directories(dir);
    std::vector<std::string> written;
    auto write = [&](const std::filesystem::path& p, std::span<const std::uint8_t> data) {
        save(p, data);
        written.push_back(p.string());
    };

    write(dir / "RootCertificate_tcert.der", certificates::root());

    ts::pak_group_spec group;
    group.serial_number = upper;
    for (std::uint32_t type = 0; type < 4; ++type) {
        const ts::pak_spec spec = package_spec(upper, type, blocks);
        const ts::pak_bytes pak = ts::write_pak(spec);
        write(dir / (upper + "_" + file_stems[type] + ".pak"), pak.data);
        group.entries.push_back(ts::group_entry(spec));
    }
    write(dir / (upper + ".pakgrp"), ts::write_pak_group(group).data);
    return written;
}

bool check_update(const std::string& serial, const std::string& state_file, std::ostream& out,
                  std::optional<std::uint32_t> blocks_per_image) {
    return check_update(serial, state_file, out, blocks_of(blocks_per_image));
}

bool check_update(const std::string& serial, const std::string& state_file, std::ostream& out,
                  const image_blocks& blocks) {
    const std::string upper = upper_serial(serial);
    std::ifstream in(state_file);
    if (!in) throw std::runtime_error("cannot read " + state_file);
    const nlohmann::json state = nlohmann::json::parse(in);
    std::map<std::string, std::string> flash;  // address -> crc32
    for (const auto& b : state.at("flash")) flash[b.at("address").get<std::string>()] = b.at("crc32").get<std::string>();

    static const char* const names[] = {"firmware", "fixed model", "dynamic model", "boot loader"};
    bool all = true;
    for (std::uint32_t type = 0; type < 4; ++type) {
        const ts::pak_spec spec = package_spec(upper, type, blocks);
        const std::size_t count = spec.image_data.size() / 2048;
        std::size_t good = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto it = flash.find(hex32(block_address(type, i)));
            const std::span<const std::uint8_t> block(spec.image_data.data() + std::size_t(i) * 2048, 2048);
            if (it != flash.end() && it->second == hex32(crc32_ieee(block))) ++good;
        }
        out << names[type] << ": " << good << " of " << count << " blocks at their addresses\n";
        all = all && good == count;
    }
    out << "erases: " << state.at("erases").size() << ", commands: " << state.at("commands").get<std::uint64_t>() << "\n";
    return all;
}

}  // namespace ecusim
