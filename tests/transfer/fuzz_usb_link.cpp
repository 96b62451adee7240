// What a device sends, as any messages, against the USB link's exchange over a registry
// socket: the production link and the registry pipe read it exactly as they read an ECU.
// Input: a byte (bits 0..5: command data size, so that both the plain command and the one
// announced first are sent; bits 6..7: command code), two bytes of response room
// (little-endian, 13 bits), then the device's messages, each a two-byte little-endian length
// (13 bits; the message is one byte longer, as no device sends an empty one) and its bytes
// (cut at the end of the input). The device sends them once the command has arrived, and then a message of
// one byte, which ends any read the link may still make (it is shorter than what a read asks,
// or the last byte a read wants): no input leaves the link waiting.
// Invariants: a known status; the command goes out as given; a success returns the header's
// size and the bytes that followed it, never more than the room; nothing is written past the
// caller's buffers.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "platform/registry/device_registry.h"
#include "protocol/layout.h"
#include "protocol/status.h"
#include "transfer/messages.h"
#include "transfer/usb/usb_link.h"

namespace {

namespace usb = qx::transfer::usb;
using bytes = std::vector<std::uint8_t>;

void quiet(std::string_view, std::string_view) {}

// A registry of its own with one device socket that the target itself accepts on.
struct device_socket {
    std::filesystem::path root;
    int listen_fd = -1;

    device_socket() {
        qx::transfer::set_message_sink(quiet);
        std::string t = (std::filesystem::temp_directory_path() / "fuzz-usb-XXXXXX").string();
        if (!::mkdtemp(t.data())) std::abort();
        root = t;
        ::setenv("TRELINK_DEVICE_DIR", t.c_str(), 1);
        ::setenv("TRELINK_ANSWER_TIMEOUT_MS", "2000", 1);  // a fault here must not hang the run
        const std::string dir = qx::platform::registry_class_dir(qx::platform::ecu_interface_class);
        if (!qx::platform::prepare_registry(dir).empty()) std::abort();
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        const std::string path = dir + "/ecu0";
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        listen_fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (listen_fd < 0 || ::bind(listen_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listen_fd, 4) != 0)
            std::abort();
    }
    ~device_socket() {
        ::close(listen_fd);
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

// The device's messages of the input.
std::vector<bytes> messages_of(const std::uint8_t* data, std::size_t size) {
    std::vector<bytes> messages;
    for (std::size_t at = 0; at + 2 <= size;) {
        const std::size_t length = ((data[at] | data[at + 1] << 8) & 0x1FFF) + 1u;
        at += 2;
        const std::size_t take = std::min(length, size - at);
        if (take == 0) break;
        messages.emplace_back(data + at, data + at + take);
        at += take;
    }
    messages.push_back({0x5A});
    return messages;
}

std::uint16_t host_word(const std::uint8_t* header, std::size_t index) {
    std::uint16_t w;
    std::memcpy(&w, header + 2 * index, 2);
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static device_socket device;
    if (size < 3) return 0;
    const std::uint16_t n = data[0] & 0x3F;
    const std::uint16_t m = (data[1] | data[2] << 8) & 0x1FFF;
    const std::vector<bytes> messages = messages_of(data + 3, size - 3);

    // A fresh connection for every input: nothing of one input reaches the next.
    if (usb::USB_InitializeInterfaces(0, nullptr) != 0) __builtin_trap();
    const int peer = ::accept4(device.listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) __builtin_trap();

    TrelinkCommandHeader command{std::uint16_t(0xCD00 | (data[0] >> 6)), n, m, 0};
    TrelinkCommandHeader wire_command = command;
    qx::protocol::convert_header(&wire_command);
    auto request = std::make_unique<std::uint8_t[]>(n ? n : 1);
    for (std::uint16_t i = 0; i < n; ++i) request[i] = std::uint8_t(i * 7 + 1);
    TrelinkResponseHeader response_header{};
    auto response = std::make_unique<std::uint8_t[]>(m ? m : 1);
    std::uint16_t returned = 0xFFFF;
    std::uint32_t transport = 0;
    CommandResponseTransfer t{&command, request.get(), &response_header, response.get(), &returned, &transport};

    // The device answers once the command has come (a link may empty the pipe before writing).
    std::vector<bytes> received;
    std::thread device_side([&] {
        std::uint8_t packet[usb::packet_buffer_size];
        for (;;) {
            const ssize_t got = ::recv(peer, packet, sizeof packet, 0);
            if (got <= 0) return;  // the host went away without a command
            received.emplace_back(packet, packet + got);
            if (std::size_t(got) == 8u + n) break;
        }
        for (const bytes& message : messages) ::send(peer, message.data(), message.size(), MSG_NOSIGNAL);
    });
    const int status = usb::USB_SendCommandReceiveResponse(&t);
    usb::USB_CloseInterfaces(0);
    device_side.join();
    ::close(peer);

    using namespace qx::protocol;
    if (status != 0 && status != int(STATUS_CR_READ_FAILED) && status != int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL))
        __builtin_trap();
    if (t.command_data != request.get() || t.response_data != response.get()) __builtin_trap();
    // The command went out as given: announced first when longer than a default packet.
    if (received.empty() || received.back().size() != 8u + n) __builtin_trap();
    if (std::memcmp(received.back().data(), &wire_command, 8) != 0) __builtin_trap();
    for (std::uint16_t i = 0; i < n; ++i)
        if (received.back()[8 + i] != std::uint8_t(i * 7 + 1)) __builtin_trap();
    if (received.size() != (8u + n > usb::default_packet_size ? 2u : 1u)) __builtin_trap();

    // The response header in host order, and the data messages after it end to end.
    std::uint8_t header[8] = {};
    const bool whole_header = messages.front().size() == 8;
    if (whole_header) {
        std::memcpy(header, messages.front().data(), 8);
        convert_header(header);
    }
    const std::uint16_t answered = host_word(header, 1);
    if (status == 0) {
        if (!whole_header || std::memcmp(&response_header, header, 8) != 0) __builtin_trap();
        if (answered > m) __builtin_trap();
        if (answered == 0) return 0;
        if (returned != answered) __builtin_trap();
        bytes sent;
        for (std::size_t i = 1; i < messages.size(); ++i) sent.insert(sent.end(), messages[i].begin(), messages[i].end());
        if (sent.size() < answered || std::memcmp(response.get(), sent.data(), answered) != 0) __builtin_trap();
    } else if (status == int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL)) {
        if (!whole_header || answered <= m) __builtin_trap();
    }
    return 0;
}
