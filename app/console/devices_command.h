// `flashdesk devices`: the ECU devices plugged in (registry and libusb), one per line or as
// JSON; with `--probe`, what each ECU reports when connected to alone.
#pragma once

#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>

namespace qx::console {

struct devices_options {
    bool json = false;
    bool probe = false;
    std::string root_certificate = "RootCertificate_tcert.der";
};

// The exit status: 0, or 1 when the devices could not be listed, a probe failed or `--device`
// names no device present.
int run_devices(const devices_options& options, std::ostream& out, std::ostream& err);

void add_devices_command(CLI::App& app);

}  // namespace qx::console
