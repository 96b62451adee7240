#include "platform/serial/wcsc_driver.h"

#include <array>
#include <cerrno>
#include <climits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "platform/serial/port_names.h"
#include "platform/serial/serial_port.h"

namespace qx::platform::serial::wcsc {

namespace {

constexpr int first_baud_code = 2;
constexpr std::array<unsigned, 10> nominal_rates = {300,  600,   1200,  2400,  4800,
                                                    9600, 19200, 38400, 57600, 115200};

struct open_port {
    std::unique_ptr<port> line;
    std::uint16_t base = 0, irq = 0, ring = 0;
    bool card = false;
    std::uint32_t baud = 0, length = 0, parity_code = 0, stopbits = 0, protocol = 0;
    std::uint32_t bytes_read = 0, bytes_written = 0, input_flushes = 0, output_flushes = 0;
};

struct driver {
    std::mutex mutex;
    bool initialised = false;
    std::array<std::optional<unsigned>, nominal_rates.size()> divisors{};
    std::array<std::unique_ptr<open_port>, max_ports> ports{};
};

driver& the_driver() {
    static driver d;
    return d;
}

open_port* find(driver& d, int id) {
    if (id < 0 || id >= max_ports) return nullptr;
    return d.ports[std::size_t(id)].get();
}

std::string device_for(std::uint16_t base, std::uint16_t irq, std::uint16_t mode, std::uint16_t index) {
    if (mode == 1) return base == card_vendor && irq == card_device ? card_port_path(index) : "";
    if (mode != 0) return "";
    if (base == 0x3F8 && irq == 4) return device_path_of("COM1");
    if (base == 0x2F8 && irq == 3) return device_path_of("COM2");
    return "";
}

}  // namespace

int WCSCVxDInit() {
    driver& d = the_driver();
    std::lock_guard lock(d.mutex);
    d.initialised = true;
    return 0;
}

int WCSCVxDOpenPort(int, std::uint16_t io_base_or_vendor, std::uint16_t irq_or_device,
                    std::uint16_t card_mode, std::uint16_t card_port_index, std::uint16_t ring_size,
                    int) {
    driver& d = the_driver();
    std::lock_guard lock(d.mutex);
    if (!d.initialised) return -ENODEV;
    const std::string path = device_for(io_base_or_vendor, irq_or_device, card_mode, card_port_index);
    if (path.empty()) return -EINVAL;
    for (const auto& p : d.ports)
        if (p && p->line->path() == path) return -EBUSY;
    int slot = -1;
    for (int i = 0; i < max_ports && slot < 0; ++i)
        if (!d.ports[std::size_t(i)]) slot = i;
    if (slot < 0) return -EMFILE;
    int error = 0;
    auto line = port::open(path, error);
    if (!line) return -error;
    // The link polls for its answer without end; the environment may set it an end.
    line->set_read_deadline(environment::answer_timeout_ms());
    auto p = std::make_unique<open_port>();
    p->line = std::move(line);
    p->base = io_base_or_vendor;
    p->irq = irq_or_device;
    p->ring = ring_size;
    p->card = card_mode == 1;
    d.ports[std::size_t(slot)] = std::move(p);
    return slot;
}

int WCSCVxDSetBaudDiv(int baud_code, unsigned divisor) {
    driver& d = the_driver();
    std::lock_guard lock(d.mutex);
    const int at = baud_code - first_baud_code;
    if (at < 0 || at >= int(nominal_rates.size()) || divisor == 0) return -EINVAL;
    d.divisors[std::size_t(at)] = divisor;
    return 0;
}

int WCSCVxDSetPortCharacteristics(int port_id, int baud_code, int parity_code, int length_code,
                                  int stopbit_code, int protocol_code) {
    driver& d = the_driver();
    std::lock_guard lock(d.mutex);
    open_port* p = find(d, port_id);
    if (!p) return -EBADF;
    const int at = baud_code - first_baud_code;
    if (at < 0 || at >= int(nominal_rates.size()) || parity_code < 0 || parity_code > 4 ||
        length_code < 0 || length_code > 3 || stopbit_code < 0 || stopbit_code > 2)
        return -EINVAL;
    handshake mode;
    switch (protocol_code) {
        case 4: mode = handshake::none; break;
        case 0: mode = handshake::hardware; break;
        case 7: mode = handshake::software; break;
        default: return -EINVAL;
    }
    unsigned bit_rate = nominal_rates[std::size_t(at)];
    if (p->card && d.divisors[std::size_t(at)]) bit_rate = card_clock / *d.divisors[std::size_t(at)];
    line_settings settings;
    settings.bit_rate = bit_rate;
    settings.data_bits = unsigned(5 + length_code);
    settings.parity_bits = parity(parity_code);
    settings.stop = stop_bits(stopbit_code);
    if (!p->line->configure(settings) || !p->line->set_handshake(mode)) return -errno;
    p->baud = std::uint32_t(baud_code);
    p->parity_code = std::uint32_t(parity_code);
    p->length = std::uint32_t(length_code);
    p->stopbits = std::uint32_t(stopbit_code);
    p->protocol = std::uint32_t(protocol_code);
    return 0;
}

int WCSCVxDFlush(int port_id, int what) {
    driver& d = the_driver();
    std::lock_guard lock(d.mutex);
    open_port* p = find(d, port_id);
    if (!p) return -EBADF;
    if (what < flush_transmit || what > (flush_transmit | flush_receive)) return -EINVAL;
    if (what & flush_transmit) {
        if (!p->line->discard_output()) return -errno;
        ++p->output_flushes;
    }
    if (what & flush_receive) {
        if (!p->line->discard_input()) return -errno;
        ++p->input_flushes;
    }
    return 0;
}

int WCSCVxDGetPort(int port_id, port_metrics* block, int what) {
    driver& d = the_driver();
    std::lock_guard lock(d.mutex);
    open_port* p = find(d, port_id);
    if (!p) return -EBADF;
    if (!block || what != 1) return -EINVAL;
    const line_status s = p->line->status();
    port_metrics m{};
    m.VTotalIn = p->bytes_read + s.input_waiting;
    m.VTotalOut = p->bytes_written;
    m.VInBufCnt = s.input_waiting;
    m.VOutBufCnt = s.output_waiting;
    m.VIRingSize = p->ring;
    m.VORingSize = p->ring;
    m.VMSRIntCnt = s.modem_changes;
    m.VLSRIntCnt = s.overruns + s.parity_errors + s.framing_errors + s.breaks;
    m.VXmtIntCnt = s.transmitted;
    m.VRcvIntCnt = s.received;
    m.VRcvLostCnt = s.overruns;
    m.VXmtLostCnt = 0;
    m.VOFlushCnt = p->output_flushes;
    m.VIFlushCnt = p->input_flushes;
    m.VMSRReg = s.modem_status;
    // Line status register: data ready, transmitter holding register and shift register empty.
    m.VLSRReg = (s.input_waiting ? 0x01u : 0u) | (s.output_waiting ? 0u : 0x60u);
    m.VTypeUART = s.uart_type;
    m.VCurOverrunCnt = s.overruns;
    m.VCurParityCnt = s.parity_errors;
    m.VCurFramingCnt = s.framing_errors;
    m.VCurBreakCnt = s.breaks;
    m.VBytesRead = p->bytes_read;
    m.VBytesWrite = p->bytes_written;
    m.VPort = std::uint32_t(port_id);
    m.VBase = p->base;
    m.VIrq = p->irq;
    m.VBaud = p->baud;
    m.VLength = p->length;
    m.VParity = p->parity_code;
    m.VStopbit = p->stopbits;
    m.VProtocol = p->protocol;
    *block = m;
    return 0;
}

int WCSCVxDPutPacket(int port_id, int count, const void* bytes) {
    port* line;
    {
        driver& d = the_driver();
        std::lock_guard lock(d.mutex);
        open_port* p = find(d, port_id);
        if (!p) return -EBADF;
        if (count < 0 || (count > 0 && !bytes)) return -EINVAL;
        line = p->line.get();
    }
    // The write may wait for the line: without the lock, so that metrics stay readable. The
    // caller does not clean up a port while it writes to it.
    const std::size_t written = line->write_all(bytes, std::size_t(count));
    const int error = errno;
    driver& d = the_driver();
    std::lock_guard lock(d.mutex);
    if (open_port* p = find(d, port_id)) p->bytes_written += std::uint32_t(written);
    if (written == 0 && count > 0) return -error;
    return int(written);
}

int WCSCVxDGetPacket(int port_id, int count, void* buffer) {
    driver& d = the_driver();
    std::lock_guard lock(d.mutex);
    open_port* p = find(d, port_id);
    if (!p) return -EBADF;
    if (count < 0 || (count > 0 && !buffer)) return -EINVAL;
    const long got = p->line->read_some(buffer, std::size_t(count));
    if (got < 0) return -errno;
    p->bytes_read += std::uint32_t(got);
    return int(got);
}

int WCSCVxDCleanup(int port_id) {
    driver& d = the_driver();
    std::lock_guard lock(d.mutex);
    if (port_id < 0 || port_id >= max_ports) return -EBADF;
    auto& slot = d.ports[std::size_t(port_id)];
    if (!slot) return 0;
    const bool closed = slot->line->close();
    const int error = errno;
    slot.reset();
    return closed ? 0 : -error;
}

}  // namespace qx::platform::serial::wcsc
