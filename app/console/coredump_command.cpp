#include "app/console/coredump_command.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <ostream>

#include "pak/crc32c.h"

namespace qx::console {

namespace {

// Larger than any dump of the ECU's section table by far.
constexpr std::uintmax_t largest_file = 256u << 20;

std::string utc_text(std::int64_t seconds) {
    const std::time_t t = std::time_t(seconds);
    std::tm tm{};
    char text[32];
    if (!::gmtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm) == 0)
        return std::to_string(seconds) + " s after 1970";
    return text;
}

}  // namespace

bool save_core_dump(filetool::pc_file& file, const std::string& path, const imagetool::core_dump& dump,
                    std::ostream& out) {
    std::vector<std::uint8_t> bytes;
    try {
        bytes = imagetool::write_core_dump(dump);
    } catch (const imagetool::core_dump_file_error& e) {
        out << "Error: " << e.what() << std::endl;
        return false;
    }
    if (!file.write(bytes) || !file.keep()) {
        out << "Error: " << path << " could not be written" << std::endl;
        return false;
    }
    out << "Core dump saved: " << path << " (" << dump.sections.size() << " sections, " << bytes.size() << " bytes)"
        << std::endl;
    return true;
}

int run_coredump_show(const std::string& path, std::ostream& out, std::ostream& err) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        err << "Error: cannot read " << path << '\n';
        return 1;
    }
    if (std::uintmax_t(in.tellg()) > largest_file) {
        err << "Error: " << path << ": not a core dump file: larger than 256 MB\n";
        return 1;
    }
    in.seekg(0);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    imagetool::core_dump dump;
    try {
        dump = imagetool::read_core_dump(bytes);
    } catch (const imagetool::core_dump_file_error& e) {
        err << "Error: " << path << ": " << e.what() << '\n';
        return 1;
    }
    char line[96];
    const auto& s = dump.serial_number;
    std::snprintf(line, sizeof line, "serial_number: %02X%02X%02X%02X\n", s[0], s[1], s[2], s[3]);
    out << line << "time: " << utc_text(dump.time) << '\n'
        << "prepare_answer: " << dump.prepare_answer.size() << " bytes\n"
        << "sections: " << dump.sections.size() << '\n'
        << "address   size       blank   crc32c\n";
    for (const auto& section : dump.sections) {
        char blank[16] = "-";
        if (!section.blank_map.empty())
            std::snprintf(blank, sizeof blank, "%.1f%%", 100.0 * imagetool::blank_share(section.blank_map));
        std::snprintf(line, sizeof line, "%08X  %-9zu  %6s  %08X\n", section.address, section.data.size(), blank,
                      crc32c(section.data));
        out << line;
    }
    return 0;
}

}  // namespace qx::console
