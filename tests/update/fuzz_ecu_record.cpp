// Reads arbitrary bytes as a station's record: `record show` either prints it or refuses it,
// never throws; a line it accepts is written back the same.
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

#include "app/console/ecu_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    std::ostringstream out, err;
    const int status = qx::console::show_record(in, "fuzz", "", out, err);
    if (status != 0 && status != 1) __builtin_trap();
    try {
        const qx::console::ecu_record r = qx::console::parse_record_line(text.substr(0, text.find('\n')));
        const std::string line = qx::console::record_line(r);
        if (qx::console::record_line(qx::console::parse_record_line(line)) != line) __builtin_trap();
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
