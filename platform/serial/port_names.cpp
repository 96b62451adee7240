#include "platform/serial/port_names.h"

#include <charconv>

#include "platform/environment.h"

namespace qx::platform::serial {

std::string device_path_of(std::string_view port_name) {
    if (port_name.size() < 4 || port_name.substr(0, 3) != "COM") return {};
    const std::string_view digits = port_name.substr(3);
    if (digits.front() == '0') return {};
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc{} || end != digits.data() + digits.size() || number == 0) return {};
    const std::string mapped = environment::com_port(number);
    if (!mapped.empty()) return mapped;
    return "/dev/ttyS" + std::to_string(number - 1);
}

std::string card_port_path(unsigned index) {
    return environment::wcsc_card_port(index);
}

}  // namespace qx::platform::serial
