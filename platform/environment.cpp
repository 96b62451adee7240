#include "platform/environment.h"

#include <charconv>
#include <climits>
#include <cstdlib>

namespace qx::platform::environment {

namespace {

std::string value_of(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

}  // namespace

std::string device_dir() { return value_of(device_dir_variable); }
std::string usb_ids() { return value_of(usb_ids_variable); }
std::string com_port(unsigned number) { return value_of("TRELINK_COM" + std::to_string(number)); }
std::string wcsc_card_port(unsigned index) { return value_of("TRELINK_WCSC_CARD" + std::to_string(index)); }
std::string can_interface() { return value_of(can_interface_variable); }
std::string virtual_can() { return value_of(virtual_can_variable); }
std::string device() { return value_of(device_variable); }
std::string trace_file() { return value_of(trace_variable); }
std::string capture_file() { return value_of(capture_variable); }

int answer_timeout_ms() {
    const std::string text = value_of(answer_timeout_variable);
    unsigned long long ms = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || ms == 0) return -1;
    return ms > unsigned(INT_MAX) ? INT_MAX : int(ms);
}

}  // namespace qx::platform::environment
