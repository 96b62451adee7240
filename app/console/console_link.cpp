#include "app/console/console_link.h"

#include <map>
#include <string>

namespace qx::console {

namespace {

link_choice& chosen() {
    static link_choice link;
    return link;
}

}  // namespace

void add_link_option(CLI::App& app) {
    // Flags of KesInitializeInterfaces: the USB-CAN link finds its bus by TRELINK_CAN_IF or
    // TRELINK_VCAN.
    static const std::map<std::string, unsigned> links{{"usb", 0x20}, {"usb-can", 0x100}};
    app.add_option_function<std::string>(
           "--link", [](const std::string& name) { chosen().flags = links.at(name); },
           "the link to the ECU: usb (default) or usb-can")
        ->check(CLI::IsMember(links));
}

const link_choice& console_link() { return chosen(); }

}  // namespace qx::console
