// The ECU's USB bulk pipe: find the first present device of an interface class, open it,
// write one packet (one bulk OUT transfer), read one packet (one bulk IN transfer), close.
//
// Back-ends, tried in this order:
//   1. the virtual device registry (platform/registry): a device is a SOCK_SEQPACKET socket;
//   2. libusb: the devices named by TRELINK_USB_IDS=vvvv:pppp[,vvvv:pppp], for the ECU's
//      interface class only. Their paths read "libusb:<bus>:<address>".
// TRELINK_DEVICE narrows the search to one device (device_selector below).
//
// Failures carry an errno value: ENODEV for a device that has gone away (also the end of a
// registry connection), EMSGSIZE for a packet longer than the read asked for.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qx::platform::usb {

struct io_result {
    bool ok = false;
    std::size_t count = 0;  // bytes moved when ok
    int error = 0;          // errno value when not ok

    static io_result done(std::size_t n) { return {true, n, 0}; }
    static io_result failed(int e) { return {false, 0, e}; }
};

class pipe {
public:
    virtual ~pipe() = default;
    // One packet out. A device that has gone away fails with ENODEV or EPIPE.
    virtual io_result write(const void* bytes, std::size_t size) = 0;
    // One packet in, at most `size` bytes; a longer packet fails with EMSGSIZE and is lost.
    // Blocks until a packet comes or the device goes away. With TRELINK_ANSWER_TIMEOUT_MS set,
    // a packet that does not come in time fails the read as a device that went away does,
    // and the device counts as gone from then on.
    virtual io_result read(void* bytes, std::size_t size) = 0;
    // One packet that is already waiting, without waiting for one: as `read`, or failed with
    // EAGAIN when none is waiting. Whatever arrives before a command is written cannot be its
    // answer (a duplicated or late answer), and is read off with this.
    virtual io_result read_waiting(void* bytes, std::size_t size) = 0;
    // The exchange is over: what arrives from now until the next command is stray. A back-end
    // that must ask the device for packets (real USB) starts asking here.
    virtual void watch_for_strays() {}
};

struct device_search {
    // several: more than one device is present and TRELINK_DEVICE chose none of them.
    enum outcome_t { found, no_device, enumeration_failed, several } outcome = no_device;
    std::string path;         // when found, and the first of them when several
    int error = 0;            // errno value otherwise
    std::size_t present = 0;  // devices present that could be meant
    // The registry's folders and sockets that were refused (whatever the outcome), one text each.
    std::vector<std::string> refusals;
};

// A present device of the ECU's class.
struct present_device {
    std::string path;      // what open_device takes
    std::string bus_port;  // libusb devices: "<bus>-<port>[.<port>...]"
    // The USB strings, where known (libusb devices that could be opened to ask).
    std::string manufacturer, product, serial;
};

// Which device TRELINK_DEVICE names: "serial:XXXXXXXX" (the USB serial number, any case), a
// bus-port path such as "1-2.3", else a device path (a registry socket, "libusb:<bus>:<address>").
// Registry devices carry no USB strings, so only their path names them.
struct device_selector {
    enum kind_t { path, bus_port, serial } kind = path;
    std::string value;  // without "serial:"

    static device_selector parse(std::string_view text);
    bool matches(const present_device& device) const;
};

// Every present device of the class, registry devices first, TRELINK_DEVICE not applied. The
// USB strings are asked for only when `with_strings`. `error` is set (EINVAL for a malformed
// TRELINK_USB_IDS, else from libusb) when libusb could not list its devices. `refusals`, when
// given, receives the texts of the registry's folders and sockets that were refused.
std::vector<present_device> present_devices(std::string_view interface_class, bool with_strings, int& error,
                                            std::vector<std::string>* refusals = nullptr);

// The first present device of the class: a usable registry device if there is one, else the first
// libusb device that TRELINK_USB_IDS names and that has a usable bulk interface. With
// TRELINK_DEVICE set, the first that it names, and no_device when none is present. Without it,
// `several` when more than one device is present: which ECU is meant is never guessed.
device_search first_present_device(std::string_view interface_class);
// The present device at `path` (a path first_present_device or an arrival gave), when it is
// one of the class and TRELINK_DEVICE, if set, names it.
device_search present_device_at(std::string_view interface_class, const std::string& path);
// Whether TRELINK_DEVICE, when set, names the present device at `path`.
bool chosen_device(std::string_view interface_class, const std::string& path);

// Opens a device path from first_present_device. Null with `error` set on failure.
std::unique_ptr<pipe> open_device(const std::string& path, int& error);

}  // namespace qx::platform::usb
