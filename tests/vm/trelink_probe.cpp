// Two checks on real kernel devices that no console command makes:
//
//   trelink_probe usbcan-largest
//       KesInitializeInterfaces(0x100) (bus by TRELINK_CAN_IF), then the largest command the
//       USB-CAN link carries: code 0x7F (no conversion), 4087 data bytes i * 7 + 3; the
//       response must be 4087 bytes i * 11 + 5 (tests/vm/isotp_peer.cpp answers it).
//   trelink_probe usb-ratio [PAIRS]
//       KesSendCommand of a 2048-byte SECURITY_COMMAND block over the USB link (device by
//       TRELINK_USB_IDS) against raw libusb transfers of the same packets, interleaved; prints
//       the medians and their ratio. Exit status 0 only when every exchange succeeded.
#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/codec.h"
#include "protocol/commands.h"
#include "protocol/defines.h"
#include "tests/support/security_block.h"
#include "transfer/trelink.h"

namespace {

using bytes = std::vector<std::uint8_t>;
using clock_type = std::chrono::steady_clock;

int usbcan_largest() {
    constexpr std::size_t n = 4087;
    if (const int rc = KesInitializeInterfaces(0x100, nullptr); rc != 0) {
        std::printf("usbcan-largest: KesInitializeInterfaces(0x100) = %08x\n", unsigned(rc));
        return 1;
    }
    bytes request(n), response(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i) request[i] = std::uint8_t(i * 7 + 3);
    std::uint16_t returned = 0;
    const int rc = KesSendCommand(0x7F, request.data(), std::uint16_t(n), response.data(),
                                  std::uint16_t(response.size()), &returned);
    KesCloseInterfaces(0x100);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < n; ++i) wrong += response[i] != std::uint8_t(i * 11 + 5);
    std::printf("usbcan-largest: status %08x, %u bytes returned, %zu bytes differ\n", unsigned(rc), returned, wrong);
    return rc == 0 && returned == n && wrong == 0 ? 0 : 1;
}

// The raw side: the device TRELINK_USB_IDS names first, its first bulk IN/OUT pair.
class raw_device {
public:
    bool open() {
        const char* ids = std::getenv("TRELINK_USB_IDS");
        unsigned vendor = 0, product = 0;
        if (!ids || std::sscanf(ids, "%4x:%4x", &vendor, &product) != 2) return false;
        if (libusb_init(&ctx_) != 0) return false;
        handle_ = libusb_open_device_with_vid_pid(ctx_, std::uint16_t(vendor), std::uint16_t(product));
        if (!handle_) return false;
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(libusb_get_device(handle_), &config) != 0) return false;
        const libusb_interface_descriptor& setting = config->interface[0].altsetting[0];
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const std::uint8_t address = setting.endpoint[e].bEndpointAddress;
            (address & LIBUSB_ENDPOINT_IN ? in_ : out_) = address;
        }
        libusb_free_config_descriptor(config);
        return in_ && out_ && libusb_claim_interface(handle_, 0) == 0;
    }
    ~raw_device() {
        if (handle_) {
            libusb_release_interface(handle_, 0);
            libusb_close(handle_);
        }
        if (ctx_) libusb_exit(ctx_);
    }
    bool transfer(std::uint8_t endpoint, std::uint8_t* data, std::size_t size) {
        int moved = 0;
        return libusb_bulk_transfer(handle_, endpoint, data, int(size), &moved, 5000) == 0 && std::size_t(moved) == size;
    }
    // Announcement, command, response header, response data.
    bool exchange(bytes& announcement, bytes& command, bytes& response) {
        std::uint8_t header[8];
        if (!transfer(out_, announcement.data(), announcement.size()) || !transfer(out_, command.data(), command.size()) ||
            !transfer(in_, header, sizeof header))
            return false;
        const std::size_t r = std::size_t(header[2]) << 8 | header[3];
        return r == 0 || (r <= response.size() && transfer(in_, response.data(), r));
    }

private:
    libusb_context* ctx_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    std::uint8_t in_ = 0, out_ = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

int usb_ratio(int pairs) {
    using namespace qx::protocol;
    constexpr std::size_t block = 2048;
    const bytes host_order = qx::test::security_block(block);
    // The same packets in the ECU's byte order, as the link sends them.
    bytes wire = host_order;
    find_codec(SECURITY_COMMAND)->convert_request(wire.data(), wire.size());
    bytes announcement(32, 0);
    announcement[0] = 0xCD;
    announcement[1] = 0x07;
    announcement[2] = std::uint8_t(block >> 8);
    announcement[3] = std::uint8_t(block);
    const unsigned type = command_type(SECURITY_COMMAND);
    bytes command = {std::uint8_t(type >> 8), std::uint8_t(type), std::uint8_t(block >> 8), std::uint8_t(block),
                     std::uint8_t(MAX_TRANSFERSTRUCTS_SIZE >> 8), std::uint8_t(MAX_TRANSFERSTRUCTS_SIZE & 0xFF), 0, 0};
    command.insert(command.end(), wire.begin(), wire.end());

    EnableErrorMessages(0);
    std::vector<double> kes, raw;
    bytes response(MAX_TRANSFERSTRUCTS_SIZE);
    for (int i = 0; i < pairs; ++i) {
        // One holder of the interface at a time: each side opens, exchanges once, closes.
        if (KesInitializeInterfaces(0x20, nullptr) != 0) {
            std::printf("usb-ratio: KesInitializeInterfaces(0x20) failed\n");
            return 1;
        }
        bytes request = host_order;
        std::uint16_t returned = 0;
        auto t0 = clock_type::now();
        const int rc = KesSendCommand(SECURITY_COMMAND, request.data(), std::uint16_t(block), response.data(),
                                      std::uint16_t(response.size()), &returned);
        kes.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - t0).count());
        KesCloseInterfaces(0x20);
        // The ECU's own status for this block does not matter; the link must have carried it.
        if (rc >= 0x20000000 && rc <= 0x2000000F) {
            std::printf("usb-ratio: KesSendCommand failed: %08x\n", unsigned(rc));
            return 1;
        }
        raw_device device;
        if (!device.open()) {
            std::printf("usb-ratio: cannot open the device with libusb\n");
            return 1;
        }
        t0 = clock_type::now();
        const bool ok = device.exchange(announcement, command, response);
        raw.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - t0).count());
        if (!ok) {
            std::printf("usb-ratio: raw libusb exchange failed\n");
            return 1;
        }
    }
    const double k = median(kes), r = median(raw);
    std::printf("usb-ratio: %d pairs of a 2048-byte block: KesSendCommand median %.0f us, raw libusb median %.0f us, "
                "ratio %.2f\n",
                pairs, k, r, k / r);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "usbcan-largest") return usbcan_largest();
    if (what == "usb-ratio") return usb_ratio(std::max(10, argc > 2 ? std::atoi(argv[2]) : 15));
    std::fprintf(stderr, "usage: %s usbcan-largest | usb-ratio [PAIRS]\n", argv[0]);
    return 2;
}
