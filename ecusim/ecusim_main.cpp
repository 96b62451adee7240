// ecusim: the virtual ECU's command line.
//   ecusim usb [options]            plug in as a virtual USB device and serve until stopped
//   ecusim gadget [options]         the same as a real USB device (configfs gadget, FunctionFS)
//   ecusim replay FILE [--gadget]   plug in as a USB device that answers as a capture says
//   ecusim unplug | plug            make a running `ecusim usb` or `ecusim gadget` leave or come back
//                                   (asked through its control socket, control_socket.h)
//   ecusim can --vcan PATH | --if IFACE [options]  answer on the virtual CAN bus at PATH, or on
//                                   a SocketCAN interface, until stopped
//   ecusim serial --link PATH | --device TTY [--host-order] [options]  answer on a pty linked
//                                   at PATH, or on an existing terminal device
//   ecusim make-packages --serial HEX8 --out DIR [--blocks N | --image-kib F,X,D,B]
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <iostream>
#include <optional>
#include <cstdio>
#include <utility>
#include <string>

#include <CLI/CLI.hpp>

#include "ecusim/can_peer.h"
#include "ecusim/control_socket.h"
#include "ecusim/ecu_options.h"
#include "ecusim/package_set.h"
#include "ecusim/serial_peer.h"
#include "ecusim/usb_device.h"
#include "ecusim/usb_gadget.h"
#include "ecusim/usb_replay.h"
#include "flashdesk_version.h"
#include "platform/registry/device_registry.h"

namespace {

namespace registry = qx::platform;

// Blocks `signals` in every thread to come, so that only the serving loop sees them.
sigset_t block_signals(std::initializer_list<int> list) {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : list) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// The name a new `ecusim usb` or `ecusim gadget` takes, claimed by its control socket: the one
// given, else the first of ecusim0, ecusim1, ... that neither a running ecusim nor a device
// plugged in at CLASS_DIR/NAME holds.
std::unique_ptr<ecusim::control_socket> claim_name(const std::string& root, const std::string& class_dir,
                                                   const std::optional<std::string>& given) {
    if (given) return std::make_unique<ecusim::control_socket>(root, *given);
    for (unsigned n = 0; n < 1000; ++n) {
        const std::string name = "ecusim" + std::to_string(n);
        if (!class_dir.empty() && ecusim::socket_in_use(class_dir + "/" + name)) continue;
        if (ecusim::socket_in_use(ecusim::control_socket::path_of(root, name))) continue;
        return std::make_unique<ecusim::control_socket>(root, name);
    }
    throw std::runtime_error("no free device name (ecusim0 to ecusim999) in " + root);
}

// Serves a started USB device (a registry socket or a gadget) until SIGINT, SIGTERM or SIGHUP:
// SIGUSR1 or `ecusim unplug` unplugs it, SIGUSR2 or `ecusim plug` plugs it in again.
template <class Device>
int serve_usb(const sigset_t& signals, ecusim::control_socket& control, Device& device) {
    const int signal_fd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    if (signal_fd < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
    const auto change = [&](bool in) -> std::string {
        if (in) device.plug();
        else device.unplug();
        std::string said = in ? "plugged in" : "unplugged";
        if constexpr (requires { device.plugged(); })
            if (in && !device.plugged()) said = "cannot plug in";
        std::cout << "ecusim: " << said << std::endl;
        return said;
    };
    for (;;) {
        pollfd fds[2] = {{signal_fd, POLLIN, 0}, {control.fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signal_fd, &info, sizeof info) != sizeof info) continue;
            if (info.ssi_signo == SIGUSR1) change(false);
            else if (info.ssi_signo == SIGUSR2) change(true);
            else break;
        }
        if (fds[1].revents & POLLIN) {
            const std::string request = control.take_request();
            if (request == "unplug") control.answer(change(false));
            else if (request == "plug") control.answer(change(true));
            else if (!request.empty()) control.answer("unknown request");
        }
    }
    ::close(signal_fd);
    device.stop();
    return 0;
}

int serve_can(const ecusim::ecu_options& options, const std::string& bus_path, const std::string& interface,
              std::uint8_t block_size) {
    const sigset_t signals = block_signals({SIGINT, SIGTERM, SIGHUP});
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

int serve_serial(const ecusim::ecu_options& options, const std::string& link_path, const std::string& device,
                 bool host_order) {
    const sigset_t signals = block_signals({SIGINT, SIGTERM, SIGHUP});
    const ecusim::ecu_config config = ecusim::make_config(options);
    ecusim::serial_peer peer = device.empty()
                                   ? ecusim::serial_peer(config, link_path, host_order)
                                   : ecusim::serial_peer(config, ecusim::serial_peer::terminal_device{device}, host_order);
    peer.start();
    std::cout << "ecusim: " << options.mode << " mode, serial " << options.serial << ", serial line "
              << (device.empty() ? "at " + link_path + " (" + peer.slave_path() + ")"
                                 : "on " + device + " at 57600 bit/s 8N1")
              << ", " << (host_order ? "host byte order" : "big-endian") << std::endl;
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

int ask_device(const std::string& name, const std::string& request) {
    std::string answer, err;
    if (ecusim::send_control_request(registry::registry_root(), name, request, answer, err) != 0) {
        std::cerr << "ecusim: " << err << '\n';
        return 1;
    }
    if (answer != (request == "plug" ? "plugged in" : "unplugged")) {
        std::cerr << "ecusim: " << name << " answered: " << answer << '\n';
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
    CLI::Option* usb_name = usb->add_option(
        "--name", name, "socket name in the registry class folder (default: the first free of ecusim0, ecusim1, ...)");
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

    std::string capture_file;
    bool replay_gadget = false;
    CLI::App* replay = app.add_subcommand("replay", "plug in as a USB device that answers as a capture (TRELINK_CAPTURE) says the ECU did");
    replay->add_option("FILE", capture_file, "the capture")->required()->check(CLI::ExistingFile);
    CLI::Option* replay_name =
        replay->add_option("--name", name, "socket name in the registry class folder, or the gadget's name");
    replay->add_flag("--gadget", replay_gadget, "as a real USB device (configfs gadget, FunctionFS; root) instead");
    replay->add_option("--serial", options.serial, "the gadget's USB serial number string, 8 hexadecimal digits");
    replay->add_option("--udc", gadget_config.udc, "with --gadget: USB device controller");
    replay->add_option("--usb-id", usb_id, "with --gadget: vendor:product (default 1209:0001)");
    replay->add_option("--ffs-dir", gadget_config.ffs_dir, "with --gadget: FunctionFS mount point");

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
    std::string link_path, serial_device;
    bool host_order = false;
    CLI::App* serial_line = app.add_subcommand("serial", "answer on a serial line (a pty or a terminal device) until stopped");
    ecusim::add_ecu_options(*serial_line, serial_options);
    CLI::Option* link = serial_line->add_option(
        "--link", link_path, "make a pty and put a symbolic link to it at PATH (the host's TRELINK_COMn)");
    CLI::Option* existing_device = serial_line->add_option(
        "--device", serial_device, "answer on this existing terminal device instead (a UART, a USB-serial adapter)");
    link->excludes(existing_device);
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
        std::shared_ptr<ecusim::usb_replay> replayed;
        if (*replay) {
            replayed = std::make_shared<ecusim::usb_replay>(capture_file, [](const std::string& line) {
                std::cout << "ecusim replay: " << line << std::endl;
            });
            if (!replayed->capture_note().empty()) std::cout << "ecusim replay: " << replayed->capture_note() << std::endl;
        }
        if (*usb || *gadget || *replay) {
            const bool in_registry = *usb || (*replay && !replay_gadget);
            const sigset_t signals = block_signals({SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2});
            const std::string root = registry::registry_root();
            const std::string class_dir = in_registry ? registry::registry_class_dir(registry::ecu_interface_class) : "";
            const std::string refusal =
                in_registry ? registry::prepare_registry(class_dir) : registry::prepare_registry_folder(root);
            if (!refusal.empty()) throw std::runtime_error(refusal);
            // Names are chosen one ecusim at a time, and each is held until its device is in.
            auto lock = std::make_optional<ecusim::registry_lock>(root);
            const bool named = *usb ? bool(*usb_name) : *replay ? bool(*replay_name) : true;
            const auto control = claim_name(root, class_dir, in_registry && !named ? std::nullopt : std::optional(name));
            // A replay answers in place of the model and says at the end how far the host
            // followed the capture (exit status 1 unless every exchange matched).
            const auto serve = [&](auto& device) {
                if (replayed) device.answer_with(replayed);
                device.start();
                lock.reset();
                if (replayed)
                    std::cout << "ecusim: replaying " << replayed->captured() << " captured exchanges, plugged in at "
                              << device.path() << std::endl;
                else
                    std::cout << "ecusim: " << options.mode << " mode, serial " << options.serial << ", plugged in at "
                              << device.path() << std::endl;
                const int served = serve_usb(signals, *control, device);
                if (!replayed) return served;
                std::cout << "ecusim replay: " << replayed->summary() << std::endl;
                return replayed->complete() ? served : 1;
            };
            if (in_registry) {
                ecusim::usb_device device(ecusim::make_config(options), class_dir, control->name(), state_file);
                return serve(device);
            }
            gadget_config.name = name;
            if (!usb_id.empty()) {
                const auto id = parse_usb_id(usb_id);
                if (!id) throw std::invalid_argument("--usb-id: not vvvv:pppp: " + usb_id);
                gadget_config.vendor = id->first;
                gadget_config.product = id->second;
            }
            ecusim::usb_gadget device(ecusim::make_config(options), gadget_config, state_file);
            return serve(device);
        }
        if (*can && bus_path.empty() && can_interface.empty())
            throw std::invalid_argument("can: --vcan PATH or --if IFACE is required");
        if (*can) return serve_can(can_options, bus_path, can_interface, std::uint8_t(block_size));
        if (*serial_line && link_path.empty() && serial_device.empty())
            throw std::invalid_argument("serial: --link PATH or --device TTY is required");
        if (*serial_line) return serve_serial(serial_options, link_path, serial_device, host_order);
        if (*unplug) return ask_device(name, "unplug");
        if (*plug) return ask_device(name, "plug");
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
