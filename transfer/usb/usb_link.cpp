#include "transfer/usb/usb_link.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/registry/device_registry.h"
#include "platform/usb/usb_device.h"
#include "protocol/commands.h"
#include "protocol/layout.h"
#include "protocol/status.h"
#include "transfer/capture.h"
#include "transfer/library_state.h"
#include "transfer/link.h"
#include "transfer/messages.h"

namespace qx::transfer {

const link_operations usb_link = {
    "usb",
    usb::USB_InitializeInterfaces,
    usb::USB_CloseInterfaces,
    usb::USB_SendCommandReceiveResponse,
    usb::USB_ConnectCommandResponseInterface,
    nullptr,
};

namespace usb {

namespace {

namespace pl = qx::platform::usb;
using namespace qx::protocol;

constexpr int attempts = 3;
// A device that sends more unasked packets than this before a command is babbling.
constexpr std::uint16_t max_strays = 64;
constexpr auto retry_pause = std::chrono::milliseconds(5);

bool USB_interface_connected = false;
std::unique_ptr<pl::pipe> device;
std::uint8_t packet[packet_buffer_size];

// Up to three tries with a pause after each failed one. An oversized packet is not retried:
// it is gone, and the next packet would be taken for it.
template <typename Operation>
pl::io_result with_retries(Operation operation) {
    pl::io_result result;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        result = operation();
        if (result.ok || result.error == EMSGSIZE) return result;
        std::this_thread::sleep_for(retry_pause);
    }
    return result;
}

// Every transfer of the pipe passes these two, and the capture sees it as it crossed.
pl::io_result put(const void* bytes, std::size_t size) {
    const pl::io_result sent = device->write(bytes, size);
    if (sent.ok) capture::record(capture::port::usb, capture::direction::to_ecu, bytes, sent.count);
    return sent;
}

pl::io_result get(void* into, std::size_t size) {
    const pl::io_result got = device->read(into, size);
    if (got.ok) capture::record(capture::port::usb, capture::direction::from_ecu, into, got.count);
    return got;
}

pl::io_result write_packet(const void* bytes, std::size_t size) {
    return with_retries([&] { return put(bytes, size); });
}

// Reads `want` bytes in packets of at most `piece` bytes each. A packet shorter than both
// what was asked and a full data packet ends the data early.
pl::io_result read_data(std::uint8_t* into, std::size_t want, std::size_t piece,
                        bool reuse_buffer) {
    std::size_t total = 0;
    while (total < want) {
        const std::size_t ask = std::min(want - total, piece);
        std::uint8_t* at = reuse_buffer ? into : into + total;
        const pl::io_result got = with_retries([&] { return get(at, ask); });
        if (!got.ok) return got;
        total += got.count;
        if (got.count != ask && got.count != max_data_packet) break;
    }
    return pl::io_result::done(total);
}

// The device named in KesInitializeInterfaces' data block (a terminated path), if any.
std::string named_device(const unsigned char* data) {
    if (!data) return {};
    const char* text = reinterpret_cast<const char*>(data);
    return std::string(text, ::strnlen(text, device_path_size - 1));
}

int copy_device_path(const pl::device_search& search, char* buffer, std::size_t buffer_size) {
    for (const std::string& refusal : search.refusals) show_error("%s", refusal.c_str());
    if (search.outcome == pl::device_search::enumeration_failed) {
        errno = search.error;
        show_error("GetDevicePath Error: SetupDiGetClassDevs failed");
        errno = search.error;
        return 0;
    }
    if (search.outcome == pl::device_search::no_device) {
        errno = search.error;
        show_error("GetDevicePath Error: SetupDiEnumDeviceInterfaces failed");
        errno = search.error;
        return 0;
    }
    if (search.outcome == pl::device_search::several) {
        show_error("GetDevicePath Error: %u devices present and none chosen", unsigned(search.present));
        errno = ENOTUNIQ;
        return 0;
    }
    if (!buffer || buffer_size == 0 || search.path.size() + 1 > buffer_size) {
        errno = ENAMETOOLONG;
        return 0;
    }
    std::memcpy(buffer, search.path.c_str(), search.path.size() + 1);
    return 1;
}

// Reads off every packet that is waiting before a command is written: none of them can be its
// answer. Returns false when packets keep coming.
bool read_off_strays() {
    std::uint16_t strays = 0;
    for (;;) {
        const pl::io_result got = device->read_waiting(packet, sizeof packet);
        if (!got.ok && got.error != EMSGSIZE) break;  // none waiting, or the device is gone
        if (got.ok) capture::record(capture::port::usb, capture::direction::from_ecu, packet, got.count);
        if (++strays > max_strays) {
            state().stray_packets = strays;
            return false;
        }
    }
    state().stray_packets = strays;
    if (strays)
        show_error("USB_SendCommandReceiveResponse read off %u packet(s) that came before the command",
                   unsigned(strays));
    return true;
}

std::uint16_t word_at(const void* header, std::size_t index) {
    std::uint16_t w;
    std::memcpy(&w, static_cast<const std::uint8_t*>(header) + 2 * index, 2);
    return w;
}

}  // namespace

int GetDevicePath(std::string_view interface_class, char* buffer, std::size_t buffer_size) {
    return copy_device_path(pl::first_present_device(interface_class), buffer, buffer_size);
}

int USB_InitializeInterfaces(unsigned, unsigned char* data) {
    if (USB_interface_connected) return 0;
    char path[device_path_size];
    const std::string named = named_device(data);
    const int found = named.empty()
                          ? GetDevicePath(platform::ecu_interface_class, path, sizeof path)
                          : copy_device_path(pl::present_device_at(platform::ecu_interface_class, named), path, sizeof path);
    if (!found) {
        show_error("  USB_InitializeInterfaces GetDevicePath failed GetLastError = %08x",
                   unsigned(errno));
        return int(STATUS_CR_NOT_CONNECTED);
    }
    int error = 0;
    device = pl::open_device(path, error);
    if (!device) {
        show_error("  USB_Initialize CreateFile failed GetLastError = %08x", unsigned(error));
        return int(STATUS_CR_NOT_CONNECTED);
    }
    capture::name_device(capture::port::usb, path);
    USB_interface_connected = true;
    // An answer to a command of an earlier connection must not be taken for the first answer.
    read_off_strays();
    return 0;
}

int USB_CloseInterfaces(unsigned) {
    if (USB_interface_connected) {
        device.reset();
        USB_interface_connected = false;
    }
    return 0;
}

int USB_ConnectCommandResponseInterface() {
    return 0;
}

namespace {

int exchange(CommandResponseTransfer* transfer) {
    void* command_header = transfer->command_header;
    const std::size_t n = word_at(command_header, 1);
    const std::size_t m = word_at(command_header, 2);
    convert_header(command_header);

    if (!USB_interface_connected) {
        show_error("USB_SendCommandReceiveResponse USB_interface_connected=FALSE");
        return int(STATUS_CR_NOT_CONNECTED);
    }
    if (n + 8 > max_transfer_size) {
        show_error("USB_SendCommandReceiveResponse command exceeds maximum transfer size of %04x",
                   unsigned(max_transfer_size));
        return int(STATUS_CR_COMMAND_TOO_LARGE);
    }

    if (!read_off_strays()) {
        show_error("USB_SendCommandReceiveResponse the device keeps sending packets nobody asked for");
        return int(STATUS_CR_READ_FAILED);
    }

    if (n + 8 > default_packet_size) {
        std::memset(packet, 0, default_packet_size);
        const std::uint16_t announcement[2] = {
            command_type(COMMAND_REQUEST_TYPE_LARGER_THAN_DEFAULT), std::uint16_t(n)};
        std::memcpy(packet, announcement, sizeof announcement);
        reverse_bytes(packet, 2);
        reverse_bytes(packet + 2, 2);
        const pl::io_result sent = write_packet(packet, default_packet_size);
        if (!sent.ok) {
            show_error(
                "USB_SendCommandReceiveResponse WriteFile COMMAND_REQUEST_TYPE_LARGER_THAN_DEFAULT "
                "failed0 "
                "GetLastError = %08x",
                unsigned(sent.error));
            return int(STATUS_CR_WRITE_FAILED);
        }
        if (sent.count != default_packet_size) {
            show_error(
                "USB_SendCommandReceiveResponse WriteFile COMMAND_REQUEST_TYPE_LARGER_THAN_DEFAULT "
                "failed1 "
                "GetLastError = %08x",
                0u);
            return int(STATUS_CR_WRITE_FAILED);
        }
    }

    std::memset(packet, 0, n + 9);
    std::memcpy(packet, command_header, 8);
    if (n) std::memcpy(packet + 8, transfer->command_data, n);
    const pl::io_result sent = write_packet(packet, n + 8);
    if (!sent.ok) {
        show_error("USB_SendCommandReceiveResponse WriteFile failed0 GetLastError = %08x",
                   unsigned(sent.error));
        return int(STATUS_CR_WRITE_FAILED);
    }
    if (sent.count != n + 8) {
        show_error("USB_SendCommandReceiveResponse WriteFile Command failed1 GetLastError = %08x",
                   0u);
        return int(STATUS_CR_WRITE_FAILED);
    }

    void* response_header = transfer->response_header;
    const pl::io_result header = with_retries([&] { return get(response_header, 8); });
    if (!header.ok) {
        show_error("USB_SendCommandReceiveResponse ReadFile failed GetLastError = %08x",
                   unsigned(header.error));
        return int(STATUS_CR_READ_FAILED);
    }
    if (header.count != 8) {
        show_error(
            "USB_SendCommandReceiveResponse ReadFile num_bytes_read != sizeof(ResponseHeader_TS)");
        return int(STATUS_CR_READ_FAILED);
    }
    convert_header(response_header);
    const std::size_t r = word_at(response_header, 1);
    if (r == 0) return 0;

    if (r > m) {
        // Read the surplus off the pipe so that the next exchange starts clean.
        const pl::io_result drained = read_data(packet, r, sizeof packet, true);
        if (!drained.ok) {
            show_error("USB_SendCommandReceiveResponse ReadFile failed GetLastError = %08x",
                       unsigned(drained.error));
            return int(STATUS_CR_READ_FAILED);
        }
        if (drained.count == r) return int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL);
        show_error(
            "USB_SendCommandReceiveResponse ReadFile Wasted num_bytes_read != "
            "response_data_returning_size");
        *transfer->returned_size = 0;
        return int(STATUS_CR_READ_FAILED);
    }

    const pl::io_result data =
        read_data(static_cast<std::uint8_t*>(transfer->response_data), r, r, false);
    if (!data.ok) {
        show_error("USB_SendCommandReceiveResponse ReadFile failed GetLastError = %08x",
                   unsigned(data.error));
        return int(STATUS_CR_READ_FAILED);
    }
    if (data.count != r) {
        show_error(
            "USB_SendCommandReceiveResponse ReadFile Wasted num_bytes_read != "
            "response_data_returning_size");
        return int(STATUS_CR_READ_FAILED);
    }
    *transfer->returned_size = std::uint16_t(r);
    return 0;
}

}  // namespace

int USB_SendCommandReceiveResponse(CommandResponseTransfer* transfer) {
    state().stray_packets = 0;
    const int status = exchange(transfer);
    if (USB_interface_connected) device->watch_for_strays();
    return status;
}

}  // namespace usb
}  // namespace qx::transfer
