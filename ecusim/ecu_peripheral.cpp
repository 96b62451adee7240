// The peripheral R8C behind SH_TO_PERIPHERAL_COMMAND, and the peripheral I/O control whose
// reset sequence restarts the ECU.
#include <algorithm>

#include "ecusim/command_codes.h"
#include "ecusim/ecu_model.h"

namespace ecusim {

namespace {

constexpr auto le = byte_order::little;
constexpr std::uint32_t r8c_ok = 0, r8c_failed = 1;
constexpr std::size_t r8c_flash_size = 0x10000;

bytes r8c_status(std::uint32_t s) { return status_response(s, le); }

bool inside(std::uint64_t at, std::uint64_t length, std::uint64_t start, std::uint64_t size) {
    return at >= start && length <= size && at - start <= size - length;
}

}  // namespace

// SH_Peripheral_Request_TS: peripheral_command @0, peripheral_command_packet @4; fixed part
// 12. The answer is a GenericArray_DTS of the peripheral's bytes.
bytes ecu::peripheral(std::span<const std::uint8_t> q, byte_order o, reply& r) {
    const request_arrays a(q, 12, {4});
    if (a[0].count != 0 && a[0].element_size != 1) throw malformed_request("peripheral packet is bytes");
    const std::uint8_t operation = q[0];
    // The packet is a byte array: its structures are in the host's order on every link.
    const bytes answer = operation == cmd::r8c::io_control ? io_control(a[0].elements, le, r)
                                                           : r8c_packet(operation, a[0].elements, r);
    return byte_array_response(answer, o);
}

bytes ecu::r8c_packet(std::uint8_t operation, std::span<const std::uint8_t> p, reply&) {
    const r8c_config& c = cfg_.r8c;
    r8c_state& s = st_.r8c;
    switch (operation) {
        case cmd::r8c::get_info: {  // PeripheralGetInfoRequest_TS: block @0
            bytes b(28);
            const std::uint32_t fields[] = {c.buffer_address, c.buffer_size,      s.current_block, c.block_size,
                                            c.block_start_addr, c.build_ptr_addr, c.version_ptr_addr};
            for (std::size_t i = 0; i < 7; ++i) put32(b, i * 4, fields[i], le);
            return b;
        }
        case cmd::r8c::execute_in_block:  // PeripheralExecuteInBlockRequest_TS: block @0
            s.current_block = get32(p, 0, le);
            return r8c_status(r8c_ok);
        case cmd::r8c::erase_block: {  // EepromEraseRequest_TS: start_block @0, number_of_blocks @4
            const std::uint32_t block = get32(p, 0, le), count = get32(p, 4, le);
            if (block != 1 || count != 1 || !inside(c.block_start_addr, c.block_size, 0, r8c_flash_size))
                return r8c_status(r8c_failed);
            std::fill_n(s.flash.begin() + c.block_start_addr, c.block_size, 0xFF);
            ++s.erases;
            return r8c_status(r8c_ok);
        }
        case cmd::r8c::write_data_block: {  // WriteDataRequest_DTS: address @0, data @4; fixed 12
            const request_arrays a(p, 12, {4});
            const std::uint32_t address = get32(p, 0, le);
            if (a[0].count != 0 && a[0].element_size != 1) return r8c_status(r8c_failed);
            if (!inside(address, a[0].elements.size(), c.buffer_address, c.buffer_size)) return r8c_status(r8c_failed);
            std::copy(a[0].elements.begin(), a[0].elements.end(), s.ram.begin() + (address - c.buffer_address));
            return r8c_status(r8c_ok);
        }
        case cmd::r8c::program_block: {  // EepromProgramRequest_TS: source @0, destination @4, size @8
            const std::uint32_t src = get32(p, 0, le), dst = get32(p, 4, le), size = get32(p, 8, le);
            if (!inside(src, size, c.buffer_address, c.buffer_size) || !inside(dst, size, 0, r8c_flash_size))
                return r8c_status(r8c_failed);
            // Flash programming only clears bits: an unerased block reads back wrong.
            for (std::uint32_t i = 0; i < size; ++i) {
                if (c.weak_cell && *c.weak_cell == dst + i && s.weak_cell_misses > 0) {
                    --s.weak_cell_misses;
                    continue;
                }
                s.flash[dst + i] &= s.ram[src - c.buffer_address + i];
            }
            ++s.programs;
            s.programmed_addresses.push_back(dst);
            return r8c_status(r8c_ok);
        }
        case cmd::r8c::read_data_block: {  // ReadDataRequest_TS: address @0, access_size @4, count @6
            const std::uint32_t address = get32(p, 0, le);
            if (p.size() < 8) throw malformed_request("read request");
            const std::uint32_t length = std::uint32_t(p[4]) * get16(p, 6, le);
            response_builder b(8, le);
            if (length == 0 || length > 4000 || !inside(address, length, 0, r8c_flash_size)) {
                b.empty_array(0, 1);
            } else {
                b.byte_array(0, std::span(s.flash).subspan(address, length));
            }
            return b.finish();
        }
        default:
            return r8c_status(r8c_failed);
    }
}

// PeripheralIoControlRequest_TS: function @0, io_target @1, io_data_w @2, io_data_d @4.
// PeripheralIoControlResponse_TS: status @0, io_data_d @4, io_data_w @8; 12 bytes.
// Target 4 arms the power-sequence reset; target 1 with a non-zero value then restarts.
bytes ecu::io_control(std::span<const std::uint8_t> p, byte_order po, reply& r) {
    if (p.size() < 8) throw malformed_request("I/O control request");
    const io_control_record rec{p[0], p[1], get16(p, 2, po), get32(p, 4, po)};
    st_.io_controls.push_back(rec);
    std::uint32_t result = r8c_ok;
    if (rec.function != 1 || (rec.io_target != 1 && rec.io_target != 4 && rec.io_target != 5)) {
        result = r8c_failed;
    } else if (rec.io_target == 4) {
        reset_armed_ = true;
    } else if (rec.io_target == 1 && reset_armed_ && rec.io_data_d != 0) {
        r.reset = true;
    }
    bytes b(12, 0);
    put32(b, 0, result, po);
    put32(b, 4, rec.io_data_d, po);
    put16(b, 8, rec.io_data_w, po);
    return b;
}

bytes ecu::peripheral_io(std::span<const std::uint8_t> q, byte_order o, reply& r) { return io_control(q, o, r); }

bytes ecu::peripheral_info(std::span<const std::uint8_t> q, byte_order o, reply& r) {
    const bytes info = r8c_packet(cmd::r8c::get_info, q, r);
    bytes b(28);
    for (std::size_t i = 0; i < 28; i += 4) put32(b, i, get32(info, i, le), o);
    return b;
}

bytes ecu::peripheral_execute(std::span<const std::uint8_t> q, byte_order o, reply&) {
    st_.r8c.current_block = get32(q, 0, o);
    return status_response(status::ok, o);
}

}  // namespace ecusim
