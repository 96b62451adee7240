#include "ecusim/package_set.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "ecusim/certificates.h"
#include "ecusim/ecu_model.h"
#include "tests/support/pak_writer.h"

namespace ecusim {

namespace {

namespace ts = qx::test_support;

void save(const std::filesystem::path& path, std::span<const std::uint8_t> data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Image sizes in 2048-byte blocks by image type: firmware, fixed model, dynamic model, boot.
constexpr std::uint32_t image_blocks[] = {24, 12, 6, 4};
const char* const file_stems[] = {"firmware", "fixed_model", "dynamic_model", "boot_loader"};

}  // namespace

std::vector<std::string> make_packages(const std::string& serial, const std::string& out_dir) {
    if (!parse_serial(serial)) throw std::invalid_argument("not 8 hexadecimal digits: " + serial);
    std::string upper = serial;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });

    const std::filesystem::path dir(out_dir);
    std::filesystem::create_directories(dir);
    std::vector<std::string> written;
    auto write = [&](const std::filesystem::path& p, std::span<const std::uint8_t> data) {
        save(p, data);
        written.push_back(p.string());
    };

    write(dir / "RootCertificate_tcert.der", certificates::root());

    const auto package_certificate = certificates::package();
    ts::pak_group_spec group;
    group.serial_number = upper;
    for (std::uint32_t type = 0; type < 4; ++type) {
        ts::pak_spec spec = ts::sample_pak_spec(2, upper, type, image_blocks[type], type + 1);
        spec.certificate.assign(package_certificate.begin(), package_certificate.end());
        const ts::pak_bytes pak = ts::write_pak(spec);
        write(dir / (upper + "_" + file_stems[type] + ".pak"), pak.data);
        group.entries.push_back(ts::group_entry(spec));
    }
    write(dir / (upper + ".pakgrp"), ts::write_pak_group(group).data);
    return written;
}

}  // namespace ecusim
