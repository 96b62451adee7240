#include "app/console/devices_command.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/console/command_line.h"
#include "app/console/console_link.h"
#include "app/console/ecu_command.h"
#include "app/console/json_output.h"
#include "app/console/visible_text.h"
#include "core/connection_manager.h"
#include "platform/environment.h"
#include "platform/registry/device_registry.h"
#include "platform/usb/usb_device.h"

namespace qx::console {

namespace {

using json = nlohmann::ordered_json;
namespace usb = platform::usb;

struct probe_result {
    std::optional<ecu_facts> facts;
    std::string failure;
};

// TRELINK_DEVICE set to one value while it lives, then back to what it was.
class device_variable {
public:
    explicit device_variable(const std::string& path) {
        if (const char* v = std::getenv(name)) before_ = v;
        ::setenv(name, path.c_str(), 1);
    }
    ~device_variable() {
        if (before_) ::setenv(name, before_->c_str(), 1);
        else ::unsetenv(name);
    }
    device_variable(const device_variable&) = delete;
    device_variable& operator=(const device_variable&) = delete;

private:
    static constexpr const char* name = platform::environment::device_variable;
    std::optional<std::string> before_;
};

// Connects to the device at `path` alone, over USB.
probe_result probe(connection_manager& manager, const std::string& path, const std::string& root_certificate) {
    device_variable only(path);
    try {
        return {read_ecu_facts(manager, root_certificate), {}};
    } catch (const qx::exception& e) {
        return {std::nullopt, e.message};
    }
}

// The text of a failure on one line.
std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

void print_line(const usb::present_device& d, const probe_result* p, std::ostream& out) {
    out << visible(d.path);
    const std::pair<const char*, const std::string*> fields[] = {
        {"bus-port", &d.bus_port}, {"manufacturer", &d.manufacturer}, {"product", &d.product}, {"serial", &d.serial}};
    for (const auto& [key, value] : fields)
        if (!value->empty()) out << "  " << key << ": " << visible(*value);
    if (p && p->facts)
        out << "  mode: " << mode_name(p->facts->target_mode) << "  firmware_version: " << hex8(p->facts->firmware_version)
            << "  serial_number: " << visible(p->facts->serial_number);
    else if (p)
        out << "  probe failed: " << visible(one_line(p->failure));
    out << '\n';
}

json json_of(const usb::present_device& d, const probe_result* p) {
    json j;
    j["path"] = d.path;
    const std::pair<const char*, const std::string*> fields[] = {
        {"bus_port", &d.bus_port}, {"manufacturer", &d.manufacturer}, {"product", &d.product}, {"serial", &d.serial}};
    for (const auto& [key, value] : fields)
        if (!value->empty()) j[key] = *value;
    if (p && p->facts) {
        j["mode"] = mode_name(p->facts->target_mode);
        j["firmware_version"] = hex8(p->facts->firmware_version);
        j["serial_number"] = p->facts->serial_number;
    } else if (p) {
        j["probe_failure"] = p->failure;
    }
    return j;
}

}  // namespace

int run_devices(const devices_options& options, std::ostream& out, std::ostream& err) {
    int error = 0;
    std::vector<std::string> refusals;
    std::vector<usb::present_device> devices = usb::present_devices(platform::ecu_interface_class, true, error, &refusals);
    // `--device` narrows the list as it narrows every command.
    if (const std::string wanted = platform::environment::device(); !wanted.empty()) {
        const usb::device_selector selector = usb::device_selector::parse(wanted);
        std::erase_if(devices, [&](const usb::present_device& d) { return !selector.matches(d); });
    }
    std::vector<probe_result> probes;
    if (options.probe) {
        auto manager = std::make_unique<connection_manager>(link_choice{});
        for (const usb::present_device& d : devices) probes.push_back(probe(*manager, d.path, options.root_certificate));
    }
    const auto probe_of = [&](std::size_t i) { return options.probe ? &probes[i] : nullptr; };
    if (options.json) {
        json all = json::array();
        for (std::size_t i = 0; i < devices.size(); ++i) all.push_back(json_of(devices[i], probe_of(i)));
        out << json_text(all) << '\n';
    } else {
        for (std::size_t i = 0; i < devices.size(); ++i) print_line(devices[i], probe_of(i), out);
    }
    bool ok = refusals.empty();
    for (const std::string& refusal : refusals) err << visible(refusal) << '\n';
    // `--device` named one that is not plugged in: nothing to list or probe is no answer.
    if (const std::string wanted = platform::environment::device(); !wanted.empty() && devices.empty()) {
        err << visible(no_such_device_text(wanted)) << '\n';
        ok = false;
    }
    if (error != 0) {
        err << "The real USB devices could not be listed (TRELINK_USB_IDS " << platform::environment::usb_ids()
            << "): " << std::strerror(error) << ".\n";
        ok = false;
    }
    for (const probe_result& p : probes) ok = ok && p.facts.has_value();
    return ok ? 0 : 1;
}

void add_devices_command(CLI::App& app) {
    auto o = std::make_shared<devices_options>();
    CLI::App* cmd = app.add_subcommand("devices", "list the ECU devices plugged in");
    if (!chosen(*cmd)) return;
    cmd->add_flag("--json", o->json, "print a JSON array");
    cmd->add_flag("--probe", o->probe, "connect to each in turn: mode, firmware version, serial number");
    cmd->add_option("--root-cert", o->root_certificate, "root certificate (DER) for a boot loader's serial number")
        ->capture_default_str();
    cmd->callback([o] {
        const int rc = run_devices(*o, std::cout, std::cerr);
        if (rc != 0) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qx::console
