#include "app/console/console_link.h"

#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/registry/device_registry.h"
#include "platform/usb/usb_device.h"
#include "app/console/visible_text.h"

namespace qx::console {

namespace {

link_choice& chosen() {
    static link_choice link;
    return link;
}

// Flags of KesInitializeInterfaces by link name: the USB-CAN link finds its bus by
// TRELINK_CAN_IF or TRELINK_VCAN.
const std::map<std::string, unsigned> links{{"usb", 0x20}, {"usb-can", 0x100}};

}  // namespace

void add_link_option(CLI::App& app) {
    app.add_option_function<std::string>(
           "--link", [](const std::string& name) { chosen().flags = links.at(name); },
           "the link to the ECU: usb (default) or usb-can")
        ->check(CLI::IsMember(links));
    app.add_option_function<std::string>(
        "--device", [](const std::string& selector) { ::setenv(platform::environment::device_variable, selector.c_str(), 1); },
        "use only this ECU: a registry device path, a USB bus-port path such as 1-2.3, or serial:XXXXXXXX");
    app.add_option_function<std::string>(
        "--trace", [](const std::string& file) { ::setenv(platform::environment::trace_variable, file.c_str(), 1); },
        "append one line per exchange with the ECU to FILE (flashdesk trace show FILE sums it up)");
    app.add_option_function<std::string>(
           "--capture", [](const std::string& file) { ::setenv(platform::environment::capture_variable, file.c_str(), 1); },
           "write every transfer to and from the ECU into FILE, a new pcapng file (flashdesk capture show FILE reads it)")
        ->check(CLI::NonexistentPath);
}

namespace {

// What report_absent_device tells.
std::vector<std::string> absent_device_texts() {
    if (!connection_manager::link_missed()) return {};
    const std::string selector = platform::environment::device();
    const auto found = platform::usb::first_present_device(platform::ecu_interface_class);
    std::vector<std::string> texts;
    if (!selector.empty() && found.outcome != platform::usb::device_search::found)
        texts.push_back(no_such_device_text(selector));
    if (chosen().flags == links.at("usb")) texts.insert(texts.end(), found.refusals.begin(), found.refusals.end());
    return texts;
}

}  // namespace

std::string absent_device_text() {
    const std::vector<std::string> texts = absent_device_texts();
    return texts.empty() ? std::string() : texts.front();
}

std::string no_such_device_text(const std::string& selector) {
    return "No such device: " + selector + " (flashdesk devices lists the ECUs plugged in).";
}

std::string several_ecus_text() {
    if (chosen().flags != links.at("usb") || !platform::environment::device().empty()) return {};
    const auto found = platform::usb::first_present_device(platform::ecu_interface_class);
    if (found.outcome != platform::usb::device_search::several) return {};
    return "More than one ECU is plugged in (" + std::to_string(found.present) +
           "): choose one with --device (flashdesk devices lists them).";
}

void report_absent_device(std::ostream& err) {
    for (const std::string& text : absent_device_texts()) err << visible(text) << std::endl;
}

const link_choice& console_link() { return chosen(); }

std::string console_link_device() {
    namespace env = platform::environment;
    if (chosen().flags == links.at("usb-can")) {
        const std::string vcan = env::virtual_can();
        return "usb-can:" + (vcan.empty() ? env::can_interface() : vcan);
    }
    const auto found = platform::usb::first_present_device(platform::ecu_interface_class);
    return found.outcome == platform::usb::device_search::found ? found.path : env::device();
}

}  // namespace qx::console
