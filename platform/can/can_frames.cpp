#include "platform/can/can_frames.h"

#include <linux/can/error.h>

#include <algorithm>

namespace qx::platform::can {

namespace {

bool extended(const can_message& m) { return (m.frame_format & frame_format_extended) != 0; }
bool remote(const can_message& m) { return (m.frame_format & frame_format_remote) != 0; }

constexpr std::uint32_t standard_compared_bits = 0xFFF00000;

}  // namespace

bool sendable(const can_message& m) {
    if (m.data_length > 8) return false;
    return m.id <= (extended(m) ? max_extended_id : max_standard_id);
}

void encode_bus_message(const can_message& m, std::span<std::uint8_t, bus_message_size> out) {
    std::uint32_t word = m.id & max_extended_id;
    if (extended(m)) word |= bus_flag_extended;
    if (remote(m)) word |= bus_flag_remote;
    std::fill(out.begin(), out.end(), std::uint8_t(0));
    for (int i = 0; i < 4; ++i) out[std::size_t(i)] = std::uint8_t(word >> (8 * i));
    const std::uint8_t length = std::min<std::uint8_t>(m.data_length, 8);
    out[4] = length;
    std::copy_n(m.data, length, out.begin() + 8);
}

std::optional<can_message> decode_bus_message(std::span<const std::uint8_t> in) {
    if (in.size() != bus_message_size) return std::nullopt;
    std::uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = word << 8 | in[std::size_t(i)];
    if (word & 0x20000000) return std::nullopt;  // the error-frame bit of SocketCAN
    can_message m;
    m.id = word & max_extended_id;
    if (word & bus_flag_extended) m.frame_format |= frame_format_extended;
    if (word & bus_flag_remote) m.frame_format |= frame_format_remote;
    if (!(word & bus_flag_extended) && m.id > max_standard_id) return std::nullopt;
    if (in[4] > 8 || in[5] || in[6] || in[7]) return std::nullopt;
    m.data_length = in[4];
    std::copy_n(in.begin() + 8, m.data_length, m.data);
    return m;
}

std::optional<can_frame> decode_bus_error(std::span<const std::uint8_t> in) {
    if (in.size() != bus_message_size || !(in[3] & 0x20)) return std::nullopt;
    can_frame f{};
    for (int i = 3; i >= 0; --i) f.can_id = f.can_id << 8 | in[std::size_t(i)];
    f.len = std::min<std::uint8_t>(in[4], CAN_MAX_DLEN);
    std::copy_n(in.begin() + 8, CAN_MAX_DLEN, f.data);
    return f;
}

std::optional<controller_state> reported_state(const can_frame& f) {
    if (!(f.can_id & CAN_ERR_FLAG)) return std::nullopt;
    if (f.can_id & CAN_ERR_BUSOFF) return controller_state::bus_off;
    if (f.can_id & CAN_ERR_CRTL) {
        const std::uint8_t status = f.data[1];
        if (status & (CAN_ERR_CRTL_TX_PASSIVE | CAN_ERR_CRTL_RX_PASSIVE)) return controller_state::passive;
        if (status & (CAN_ERR_CRTL_TX_WARNING | CAN_ERR_CRTL_RX_WARNING)) return controller_state::warning;
        if (status & CAN_ERR_CRTL_ACTIVE) return controller_state::active;
    }
    if (f.can_id & CAN_ERR_RESTARTED) return controller_state::active;
    return std::nullopt;
}

bool accepted(const can_init_parameters& p, const can_message& m) {
    std::uint32_t word;
    std::uint32_t compared = ~p.acceptance_mask;
    if (extended(m)) {
        word = (m.id & max_extended_id) << 3 | (remote(m) ? 0x4u : 0u);
    } else {
        word = (m.id & max_standard_id) << 21 | (remote(m) ? 0x100000u : 0u);
        compared &= standard_compared_bits;
    }
    return ((word ^ p.acceptance_code) & compared) == 0;
}

can_frame to_socketcan(const can_message& m) {
    can_frame f{};
    f.can_id = extended(m) ? (m.id & CAN_EFF_MASK) | CAN_EFF_FLAG : m.id & CAN_SFF_MASK;
    if (remote(m)) f.can_id |= CAN_RTR_FLAG;
    f.len = std::min<std::uint8_t>(m.data_length, CAN_MAX_DLEN);
    std::copy_n(m.data, f.len, f.data);
    return f;
}

std::optional<can_message> from_socketcan(const can_frame& f) {
    if (f.can_id & CAN_ERR_FLAG || f.len > CAN_MAX_DLEN) return std::nullopt;
    can_message m;
    if (f.can_id & CAN_EFF_FLAG) {
        m.id = f.can_id & CAN_EFF_MASK;
        m.frame_format |= frame_format_extended;
    } else {
        m.id = f.can_id & CAN_SFF_MASK;
    }
    if (f.can_id & CAN_RTR_FLAG) m.frame_format |= frame_format_remote;
    m.data_length = f.len;
    std::copy_n(f.data, f.len, m.data);
    return m;
}

std::array<can_filter, 2> socketcan_filters(const can_init_parameters& p) {
    const std::uint32_t code = p.acceptance_code;
    const std::uint32_t compared = ~p.acceptance_mask;
    can_filter ext{};
    ext.can_id = ((code >> 3) & CAN_EFF_MASK) | CAN_EFF_FLAG | (code & 0x4 ? CAN_RTR_FLAG : 0);
    ext.can_mask = ((compared >> 3) & CAN_EFF_MASK) | CAN_EFF_FLAG | (compared & 0x4 ? CAN_RTR_FLAG : 0);
    can_filter standard{};
    standard.can_id = ((code >> 21) & CAN_SFF_MASK) | (code & 0x100000 ? CAN_RTR_FLAG : 0);
    standard.can_mask =
        ((compared >> 21) & CAN_SFF_MASK) | CAN_EFF_FLAG | (compared & 0x100000 ? CAN_RTR_FLAG : 0);
    // The kernel compares only the bits of the mask: the RTR bit of the identifier must not
    // be left set where the mask does not look at it.
    ext.can_id &= ext.can_mask;
    standard.can_id &= standard.can_mask;
    return {ext, standard};
}

}  // namespace qx::platform::can
