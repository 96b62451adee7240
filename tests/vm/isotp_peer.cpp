// An ECU stand-in on the kernel's own ISO-TP socket, to check the USB-CAN link's segmentation
// against an implementation that is not ours: 29-bit identifiers 0x16666666 (from the host)
// and 0x16666667 (to the host), frames padded to 8 bytes, block size 0.
//
// Receives one packet, which must be the largest command (4095 bytes: header 0xCD7F, 4087 data
// bytes, response buffer 4088, data i * 7 + 3), and answers with a 4095-byte response (4087
// data bytes i * 11 + 5). A command that is not exactly that is answered with header status
// 0x0BAD and no data, so that the host never waits. Exit status 0 only for the right command.
//
// usage: isotp_peer IFACE [TIMEOUT_S]
#include <linux/can.h>
#include <linux/can/isotp.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t command_id = 0x16666666;
constexpr std::uint32_t response_id = 0x16666667;
constexpr std::size_t packet = 4095;
constexpr std::size_t data = packet - 8;

void put16(std::uint8_t* p, unsigned v) {
    p[0] = std::uint8_t(v >> 8);
    p[1] = std::uint8_t(v);
}
unsigned get16(const std::uint8_t* p) { return unsigned(p[0]) << 8 | p[1]; }

bool expected_command(const std::uint8_t* p, std::size_t n) {
    if (n != packet || get16(p) != 0xCD7F || get16(p + 2) != data || get16(p + 4) != data + 1) return false;
    for (std::size_t i = 0; i < data; ++i)
        if (p[8 + i] != std::uint8_t(i * 7 + 3)) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IFACE [TIMEOUT_S]\n", argv[0]);
        return 2;
    }
    const int timeout_s = argc > 2 ? std::atoi(argv[2]) : 60;
    const int s = ::socket(PF_CAN, SOCK_DGRAM, CAN_ISOTP);
    if (s < 0) {
        std::perror("isotp_peer: socket CAN_ISOTP");
        return 1;
    }
    can_isotp_options opts{};
    opts.flags = CAN_ISOTP_TX_PADDING | CAN_ISOTP_RX_PADDING;
    opts.txpad_content = 0;
    opts.rxpad_content = 0;
    can_isotp_fc_options fc{};  // block size 0, no separation time, no waits
    if (::setsockopt(s, SOL_CAN_ISOTP, CAN_ISOTP_OPTS, &opts, sizeof opts) != 0 ||
        ::setsockopt(s, SOL_CAN_ISOTP, CAN_ISOTP_RECV_FC, &fc, sizeof fc) != 0) {
        std::perror("isotp_peer: setsockopt");
        return 1;
    }
    sockaddr_can addr{};
    addr.can_family = AF_CAN;
    addr.can_ifindex = int(::if_nametoindex(argv[1]));
    addr.can_addr.tp.rx_id = command_id | CAN_EFF_FLAG;
    addr.can_addr.tp.tx_id = response_id | CAN_EFF_FLAG;
    if (addr.can_ifindex == 0 || ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("isotp_peer: bind");
        return 1;
    }
    std::printf("isotp_peer: listening on %s\n", argv[1]);
    std::fflush(stdout);

    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, timeout_s * 1000) <= 0) {
        std::fprintf(stderr, "isotp_peer: no command within %d s\n", timeout_s);
        return 1;
    }
    std::vector<std::uint8_t> in(8192);
    const ssize_t n = ::read(s, in.data(), in.size());
    if (n < 0) {
        std::perror("isotp_peer: read");
        return 1;
    }
    const bool ok = expected_command(in.data(), std::size_t(n));
    std::vector<std::uint8_t> out(8, 0);
    put16(out.data(), 0xCD7F);
    if (ok) {
        put16(out.data() + 2, data);
        for (std::size_t i = 0; i < data; ++i) out.push_back(std::uint8_t(i * 11 + 5));
    } else {
        put16(out.data() + 4, 0x0BAD);
    }
    if (::write(s, out.data(), out.size()) != ssize_t(out.size())) {
        std::perror("isotp_peer: write");
        return 1;
    }
    // The write returns once the kernel has queued the frames; wait until they are out.
    ::usleep(200000);
    std::printf("isotp_peer: received %zd bytes (%s), answered %zu bytes\n", n,
                ok ? "the expected command" : "NOT the expected command", out.size());
    ::close(s);
    return ok ? 0 : 1;
}
