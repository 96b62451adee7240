// A check on real kernel devices that no console command makes:
//
//   trelink_probe usbcan-largest
//       KesInitializeInterfaces(0x100) (bus by TRELINK_CAN_IF), then the largest command the
//       USB-CAN link carries: code 0x7F (no conversion), 4087 data bytes i * 7 + 3; the
//       response must be 4087 bytes i * 11 + 5 (tests/vm/isotp_peer.cpp answers it).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "transfer/trelink.h"

namespace {

using bytes = std::vector<std::uint8_t>;

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

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "usbcan-largest") return usbcan_largest();
    std::fprintf(stderr, "usage: %s usbcan-largest\n", argv[0]);
    return 2;
}
