// The ECU's half of the serial byte protocol, as any bytes, against the exchange of either serial
// link on a pseudo-terminal. Input: a byte of shape (bit 0: the ECU keeps host byte order, which
// the communication-functions link always assumes; bits 1..7: command data size), two bytes of
// response room (little-endian, 15 bits; bit 15: the communication-functions link instead of the
// WCSC link), then the bytes the ECU sends once the command has arrived. The line carries them,
// cut or completed with zeros to what the link will read (a line that stays silent past the
// answer deadline is dead for good, so no input may leave it waiting).
// Invariants: a known status; the command goes out as given; a success returns the answered size
// and bytes, never more than the room; nothing is written past the caller's buffers.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "platform/serial/pty.h"
#include "protocol/layout.h"
#include "protocol/status.h"
#include "transfer/library_state.h"
#include "transfer/messages.h"
#include "transfer/serial/serial_common.h"
#include "transfer/serial/wcsc_link.h"
#include "transfer/serial/wincomm_link.h"
#include "transfer/trelink.h"

namespace {

namespace ser = qx::transfer::serial;
using bytes = std::vector<std::uint8_t>;

constexpr unsigned wcsc_com1 = TRELINK_LINK_SERIAL_WCSC | TRELINK_SERIAL_COMMAND_PORT | TRELINK_WCSC_ALTERNATE |
                               (1u << TRELINK_SERIAL_PORT_SHIFT);
constexpr unsigned wincomm_com2 =
    TRELINK_LINK_SERIAL_WINCOMM | TRELINK_SERIAL_COMMAND_PORT | (2u << TRELINK_SERIAL_PORT_SHIFT);

void quiet(std::string_view, std::string_view) {}

// Everything the host wrote since the last call.
bytes drain(int master) {
    bytes got;
    std::uint8_t chunk[4096];
    for (;;) {
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n <= 0) return got;
        got.insert(got.end(), chunk, chunk + n);
    }
}

// Writes all of `b` to the line, waiting while the host has not read enough of it.
void put(int master, const bytes& b) {
    for (std::size_t done = 0; done < b.size();) {
        const ssize_t n = ::write(master, b.data() + done, b.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        pollfd p{master, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return;  // a host that stopped reading drops the rest
    }
}

// A line to one of the two serial links, opened and connected once: the WCSC link on COM1,
// the communication-functions link on COM2.
struct line {
    std::filesystem::path dir;
    std::unique_ptr<qx::platform::serial::pty> pty;
    int (*exchange)(CommandResponseTransfer*);
    int (*close)(unsigned);

    explicit line(bool wincomm)
        : exchange(wincomm ? ser::wincomm::SerialSendCommandReceiveResponse : ser::wcsc::SerialSendCommandReceiveResponse),
          close(wincomm ? ser::wincomm::SerialCloseInterfaces : ser::wcsc::SerialCloseInterfaces) {
        qx::transfer::set_message_sink(quiet);
        EnableErrorMessages(0);
        std::string t = (std::filesystem::temp_directory_path() / "fuzz-serial-XXXXXX").string();
        if (!::mkdtemp(t.data())) std::abort();
        dir = t;
        pty = std::make_unique<qx::platform::serial::pty>((dir / "line").string());
        ::setenv(wincomm ? "TRELINK_COM2" : "TRELINK_COM1", (dir / "line").c_str(), 1);
        ::setenv("TRELINK_ANSWER_TIMEOUT_MS", "2000", 1);
        if (KesInitializeInterfaces(wincomm ? wincomm_com2 : wcsc_com1, nullptr) != 0) std::abort();
        // The connection request is answered once the link has sent it; the communication-functions
        // link takes only the host-order answer.
        const std::uint8_t answer = wincomm ? ser::HOST_ORDER_CONNECTION_ANSWER : ser::INTERFACE_CONNECTION_INDICATOR;
        std::thread ecu([m = pty->master(), answer] {
            for (int i = 0; i < 2000; ++i) {
                const bytes got = drain(m);
                if (std::find(got.begin(), got.end(), ser::INTERFACE_CONNECTION_INDICATOR) != got.end()) {
                    put(m, {answer});
                    return;
                }
                ::usleep(1000);
            }
        });
        const int connected = KesConnectCommandResponseInterface();
        ecu.join();
        if (connected != 0) std::abort();
    }
    ~line() {
        close(TRELINK_SERIAL_CLOSE_ALL);
        pty.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

// The header as the host holds it from the 8 bytes on the line.
void to_host(std::uint8_t* header, bool host_order) {
    if (!host_order) qx::protocol::convert_header(header);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static line wcsc(false), wincomm(true);
    if (size < 3) return 0;
    const bool on_wincomm = data[2] & 0x80;
    line& l = on_wincomm ? wincomm : wcsc;
    const bool host_order = on_wincomm || (data[0] & 1);  // that link connects in host order only
    const std::uint16_t n = data[0] >> 1;
    const std::uint16_t m = (data[1] | data[2] << 8) & 0x7FFF;
    qx::transfer::state().host_order_target = host_order;
    bytes ecu(data + 3, data + size);

    // What the link will read: the acknowledgement byte, then, when it is the right one (the
    // communication-functions link takes any), the header and its data.
    std::size_t wanted = 1;
    std::uint16_t answered = 0;
    std::uint8_t header[8] = {};  // the response header as the host holds it
    if (ecu.empty()) ecu.push_back(0);
    const bool acknowledged = on_wincomm || ecu[0] == ser::COMMAND_TYPE_INDICATOR;
    if (acknowledged) {
        if (ecu.size() < 9) ecu.resize(9, 0);
        std::memcpy(header, ecu.data() + 1, 8);
        to_host(header, host_order);
        answered = ser::header_word(header, 1);
        // Larger answers are drained byte by byte: they only cost time beyond the buffer's size.
        if (answered > ser::locked_data_size + 4096) return 0;
        wanted = 9 + answered;
    }
    ecu.resize(wanted, 0);  // the link reads exactly this much: nothing is left on the line

    TrelinkCommandHeader command{std::uint16_t(0xCD00 | (data[0] & 0x3F)), n, m, 0};
    auto request = std::make_unique<std::uint8_t[]>(n ? n : 1);
    for (std::uint16_t i = 0; i < n; ++i) request[i] = std::uint8_t(i * 7 + 1);
    TrelinkResponseHeader response_header{};
    auto response = std::make_unique<std::uint8_t[]>(m ? m : 1);
    std::uint16_t returned = 0xFFFF;
    std::uint32_t transport = 0;
    CommandResponseTransfer t{&command, request.get(), &response_header, response.get(), &returned, &transport};

    // The ECU answers once the whole command has arrived (a link may empty its input first).
    const int master = l.pty->master();
    bytes sent;
    std::thread ecu_side([&] {
        for (int waits = 0; sent.size() < 8u + n && waits < 5000; ++waits) {
            const bytes got = drain(master);
            sent.insert(sent.end(), got.begin(), got.end());
            pollfd p{master, POLLIN, 0};
            if (sent.size() < 8u + n) ::poll(&p, 1, 1);
        }
        put(master, ecu);
    });
    const int status = l.exchange(&t);
    ecu_side.join();
    const bytes rest = drain(master);
    sent.insert(sent.end(), rest.begin(), rest.end());
    ::tcflush(master, TCIOFLUSH);

    using namespace qx::protocol;
    if (status != 0 && status != int(STATUS_CR_SERIAL_TRANSFER_FAILED) &&
        status != int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL))
        __builtin_trap();
    // The caller's descriptor is handed back as it was given.
    if (t.command_header != &command || t.command_data != request.get() || t.response_data != response.get())
        __builtin_trap();
    // The command went out first: its header in the line's order, then its data.
    if (sent.size() < 8u + n) __builtin_trap();
    std::uint8_t line_header[8];
    std::memcpy(line_header, &command, 8);
    to_host(line_header, host_order);  // the same swap either way
    if (std::memcmp(sent.data(), line_header, 8) != 0) __builtin_trap();
    for (std::uint16_t i = 0; i < n; ++i)
        if (sent[8 + i] != std::uint8_t(i * 7 + 1)) __builtin_trap();
    if (status == 0) {
        if (!acknowledged || answered > m || returned != answered) __builtin_trap();
        if (answered && std::memcmp(response.get(), ecu.data() + 9, answered) != 0) __builtin_trap();
        if (std::memcmp(&response_header, header, 8) != 0) __builtin_trap();
        // The ECU was told that its response arrived.
        if (sent.size() != 8u + n + 1 || sent.back() != ser::RESPONSE_RECEIVED) __builtin_trap();
    } else if (status == int(STATUS_CR_RESPONSE_BUFFER_TOO_SMALL)) {
        if (answered <= std::min<std::size_t>(m, ser::locked_data_size)) __builtin_trap();
    }
    return 0;
}
