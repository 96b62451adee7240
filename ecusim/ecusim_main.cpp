// ecusim: the virtual ECU's command line.
//   ecusim usb [options]            plug in as a virtual USB device and serve until stopped
//   ecusim gadget [options]         the same as a real USB device (configfs gadget, FunctionFS)
//   ecusim unplug | plug            make a running `ecusim usb` or `ecusim gadget` leave or come back
//   ecusim can --vcan PATH | --if IFACE [options]  answer on the virtual CAN bus at PATH, or on
//                                   a SocketCAN interface, until stopped
//   ecusim serial --link PATH [--host-order] [options]  answer on a pty linked at PATH
//   ecusim make-packages --serial HEX8 --out DIR [--blocks N | --image-kib F,X,D,B]
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <cstdio>
#include <utility>
#include <string>

#include <CLI/CLI.hpp>

#include "ecusim/can_peer.h"
#include "ecusim/ecu_options.h"
#include "ecusim/package_set.h"
#include "ecusim/serial_peer.h"
#include "ecusim/usb_device.h"
#include "ecusim/usb_gadget.h"
#include "flashdesk_version.h"
#include "platform/registry/device_registry.h"

namespace {

// Where a running `ecusim usb` leaves its process id, beside (not inside) the class folder,
// so that the folder holds nothing but device sockets.
std::string pid_file(const std::string& name) { return qx::platform::registry_root() + "/" + name + ".pid"; }

// Serves a USB device (a registry socket or a gadget) until stopped; SIGUSR1 unplugs it,
// SIGUSR2 plugs it in again.
template <class Device, class... Args>
int serve_usb(const ecusim::ecu_options& options, const std::string& name, Args&&... args) {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&signals, s);
    // Blocked before any thread starts, so that only sigwait below sees them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Device device(ecusim::make_config(options), std::forward<Args>(args)...);
    device.start();
    const std::string pid_path = pid_file(name);
    std::ofstream(pid_path) << ::getpid() << '\n';
    std::cout << "ecusim: " << options.mode << " mode, serial " << options.serial << ", plugged in at "
              << device.path() << std::endl;
    for (;;) {
        int s = 0;
        if (sigwait(&signals, &s) != 0) continue;
        if (s == SIGUSR1) {
            device.unplug();
            std::cout << "ecusim: unplugged" << std::endl;
        } else if (s == SIGUSR2) {
            device.plug();
            std::cout << "ecusim: plugged in" << std::endl;
        } else {
            break;
        }
    }
    device.stop();
    std::filesystem::remove(pid_path);
    return 0;
}

int serve_can(const ecusim::ecu_options& options, const std::string& bus_path, const std::string& interface,
              std::uint8_t block_size) {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ecusim::can_peer peer = interface.empty()
                                ? ecusim::can_peer(ecusim::make_config(options), bus_path, block_size)
                                : ecusim::can_peer(ecusim::make_config(options), ecusim::can_peer::socketcan_interface{interface},
                                                   block_size);
    peer.start();
    std::cout << "ecusim: " << options.mode << " mode, serial " << options.serial << ", on "
              << (interface.empty() ? "the virtual CAN bus at " + bus_path : "the CAN interface " + interface)
              << ", block size " << unsigned(block_size) << std::endl;
    int s = 0;
    while (sigwait(&signals, &s) != 0) {
    }
    peer.stop();
    return 0;
}

int serve_serial(const ecusim::ecu_options& options, const std::string& link_path, bool host_order) {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ecusim::serial_peer peer(ecusim::make_config(options), link_path, host_order);
    peer.start();
    std::cout << "ecusim: " << options.mode << " mode, serial " << options.serial << ", serial line at " << link_path
              << " (" << peer.slave_path() << "), " << (host_order ? "host byte order" : "big-endian") << std::endl;
    int s = 0;
    while (sigwait(&signals, &s) != 0) {
    }
    peer.stop();
    return 0;
}

// "vvvv:pppp"
std::optional<std::pair<std::uint16_t, std::uint16_t>> parse_usb_id(const std::string& text) {
    unsigned vendor = 0, product = 0;
    char end = 0;
    if (text.size() != 9 || std::sscanf(text.c_str(), "%4x:%4x%c", &vendor, &product, &end) != 2) return std::nullopt;
    return std::pair{std::uint16_t(vendor), std::uint16_t(product)};
}

int signal_device(const std::string& name, int s) {
    std::ifstream in(pid_file(name));
    long pid = 0;
    if (!(in >> pid) || pid <= 0) {
        std::cerr << "ecusim: no running `ecusim usb` or `ecusim gadget` named " << name << " (" << pid_file(name) << ")\n";
        return 1;
    }
    if (::kill(pid_t(pid), s) != 0) {
        std::cerr << "ecusim: cannot signal process " << pid << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("ecusim: a virtual ECU");
    app.require_subcommand(1);
    app.set_version_flag("--version", "ecusim " FLASHDESK_VERSION);

    ecusim::ecu_options options;
    std::string name = "ecusim0";
    std::string state_file;
    CLI::App* usb = app.add_subcommand("usb", "plug in as a virtual USB device and serve until stopped");
    ecusim::add_ecu_options(*usb, options);
    usb->add_option("--name", name, "socket name in the registry class folder");
    usb->add_option("--state", state_file, "write what was programmed, erased and received to FILE as JSON");

    ecusim::gadget_config gadget_config;
    std::string usb_id;
    CLI::App* gadget = app.add_subcommand("gadget", "plug in as a real USB device (configfs gadget, FunctionFS) until stopped");
    ecusim::add_ecu_options(*gadget, options);
    gadget->add_option("--name", name, "gadget and FunctionFS instance name (also for unplug / plug)");
    gadget->add_option("--state", state_file, "write what was programmed, erased and received to FILE as JSON");
    gadget->add_option("--udc", gadget_config.udc, "USB device controller (default: the first in /sys/class/udc)");
    gadget->add_option("--usb-id", usb_id, "vendor:product, 4 hexadecimal digits each (default 1209:0001)");
    gadget->add_option("--ffs-dir", gadget_config.ffs_dir, "FunctionFS mount point (default /run/ecusim/ffs-NAME)");

    CLI::App* unplug = app.add_subcommand("unplug", "unplug a running `ecusim usb` or `ecusim gadget` (it stays running)");
    unplug->add_option("--name", name, "device name");
    CLI::App* plug = app.add_subcommand("plug", "plug a running `ecusim usb` or `ecusim gadget` in again");
    plug->add_option("--name", name, "device name");

    ecusim::ecu_options can_options;
    std::string bus_path;
    unsigned block_size = 0;
    CLI::App* can = app.add_subcommand("can", "answer on the virtual CAN bus until stopped");
    ecusim::add_ecu_options(*can, can_options);
    std::string can_interface;
    CLI::Option* vcan = can->add_option("--vcan", bus_path, "the bus socket to create (the host's TRELINK_VCAN)");
    CLI::Option* socketcan = can->add_option("--if", can_interface, "a SocketCAN interface instead (the host's TRELINK_CAN_IF)");
    vcan->excludes(socketcan);
    can->add_option("--block-size", block_size, "block size of the ECU's flow control frames (0: all at once)")
        ->check(CLI::Range(0, 255));

    ecusim::ecu_options serial_options;
    std::string link_path;
    bool host_order = false;
    CLI::App* serial_line = app.add_subcommand("serial", "answer on a serial line (a pty) until stopped");
    ecusim::add_ecu_options(*serial_line, serial_options);
    serial_line->add_option("--link", link_path, "where to put the symbolic link to the line (the host's TRELINK_COMn)")
        ->required();
    serial_line->add_flag("--host-order", host_order, "keep structures in host byte order (answers 0xCC)");

    std::string serial;
    std::string out_dir;
    std::optional<std::uint32_t> image_blocks;
    CLI::App* packages = app.add_subcommand("make-packages", "certificates and a package group for one ECU");
    packages->add_option("--serial", serial, "ECU serial number, 8 hexadecimal digits")->required();
    packages->add_option("--out", out_dir, "output folder")->required();
    auto* blocks_option =
        packages->add_option("--blocks", image_blocks, "2048-byte blocks of every image (default: a size per image type)")
            ->check(CLI::Range(1, 64));
    std::vector<std::uint32_t> image_kib;
    const auto kib_check = CLI::Validator(
        [](std::string& text) {
            unsigned long kib = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), kib);
            const bool fine = error == std::errc() && end == text.data() + text.size() && kib >= 2 && kib % 2 == 0 &&
                              kib <= 1024 * 1024;
            return fine ? std::string() : "an image size is an even number of KiB from 2 to 1048576: " + text;
        },
        "KiB");
    packages
        ->add_option("--image-kib", image_kib,
                     "KiB of each image: firmware, fixed model, dynamic model, boot loader (even numbers)")
        ->expected(4)
        ->delimiter(',')
        ->check(kib_check)
        ->excludes(blocks_option);

    std::string check_serial, check_state;
    CLI::App* check = app.add_subcommand("check-update", "check a state file after an update with make-packages' packages");
    check->add_option("--serial", check_serial, "ECU serial number")->required();
    check->add_option("--state", check_state, "state file written by ecusim usb --state")->required();
    check->add_option("--blocks", image_blocks, "the --blocks the packages were made with")->check(CLI::Range(1, 64));

    CLI11_PARSE(app, argc, argv);
    try {
        if (*usb)
            return serve_usb<ecusim::usb_device>(
                options, name, qx::platform::registry_class_dir(qx::platform::ecu_interface_class), name, state_file);
        if (*gadget) {
            gadget_config.name = name;
            if (!usb_id.empty()) {
                const auto id = parse_usb_id(usb_id);
                if (!id) throw std::invalid_argument("--usb-id: not vvvv:pppp: " + usb_id);
                gadget_config.vendor = id->first;
                gadget_config.product = id->second;
            }
            return serve_usb<ecusim::usb_gadget>(options, name, gadget_config, state_file);
        }
        if (*can && bus_path.empty() && can_interface.empty())
            throw std::invalid_argument("can: --vcan PATH or --if IFACE is required");
        if (*can) return serve_can(can_options, bus_path, can_interface, std::uint8_t(block_size));
        if (*serial_line) return serve_serial(serial_options, link_path, host_order);
        if (*unplug) return signal_device(name, SIGUSR1);
        if (*plug) return signal_device(name, SIGUSR2);
        if (*check) return ecusim::check_update(check_serial, check_state, std::cout, image_blocks) ? 0 : 1;
        if (*packages) {
            std::vector<std::string> written;
            if (image_kib.empty()) {
                written = ecusim::make_packages(serial, out_dir, image_blocks);
            } else {
                ecusim::image_blocks blocks{};
                for (std::size_t i = 0; i < blocks.size(); ++i) blocks[i] = image_kib[i] / 2;
                written = ecusim::make_packages(serial, out_dir, blocks);
            }
            for (const std::string& file : written) std::cout << file << '\n';
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "ecusim: " << e.what() << '\n';
        return 1;
    }
    return 1;
}
