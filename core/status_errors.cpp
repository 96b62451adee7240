#include "core/status_errors.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "core/response_view.h"
#include "protocol/status.h"
#include "protocol/structs.h"

namespace qx {

namespace {

using cm = connection_manager_exceptions;
using protocol::GenericStatusStringResponse_DTS;

constexpr std::size_t status_at = offsetof(GenericStatusStringResponse_DTS, status);
constexpr std::size_t str_at = offsetof(GenericStatusStringResponse_DTS, str);
constexpr std::size_t trailing_at = offsetof(GenericStatusStringResponse_DTS, data_element_size);
constexpr std::size_t trailing_slot_at = offsetof(GenericStatusStringResponse_DTS, data);
constexpr std::size_t fixed_size = sizeof(GenericStatusStringResponse_DTS);

}  // namespace

void raise_command_status(std::uint32_t status, const std::string& message) {
    switch (status) {
    case protocol::STATUS_SUCCESS: return;
    case protocol::STATUS_WRONG_STATE: throw cm::exception_bad_state(message, status);
    case protocol::STATUS_NOT_FOUND: throw cm::exception_not_found(message, status);
    case protocol::STATUS_ALREADY_EXISTS: throw cm::exception_found(message, status);
    case protocol::STATUS_MISMATCH: throw cm::exception_mismatch(message, status);
    default: throw cm::exception_command_error(message, status);
    }
}

void raise_security_status(std::uint32_t status, const std::string& message) {
    switch (status) {
    case protocol::STATUS_SUCCESS: return;
    case 0x71000001: case 0x71000007: case 0x7100000C: case 0x71000010: case 0x71000014:
    case 0x71000016: case 0x71000018: case 0x71000019: case 0x7100001A:
        throw cm::exception_security_error(message, status);
    case 0x71000002: case 0x7100000A: case 0x7100000B: case 0x71000011:
        throw cm::exception_security_null(message, status);
    case 0x71000003: case 0x71000004: case 0x71000005: case 0x7100000D: case 0x7100000E:
    case 0x71000013:
        throw cm::exception_security_size(message, status);
    case 0x71000006: case 0x71000012: case 0x71000015: throw cm::exception_security_key(message, status);
    case 0x71000008: case 0x71000017: throw cm::exception_security_memory(message, status);
    case 0x71000009: throw cm::exception_security_fatal(message, status);
    case 0x7100000F: throw cm::exception_security_file_not_found(message, status);
    default: throw cm::exception_command_error(message, status);
    }
}

std::string compose_status_message(std::span<const std::uint8_t> response) {
    if (response.size() < fixed_size) malformed_response();
    const auto status = load<std::uint32_t>(response, status_at);
    const response_array str = view_array(response, str_at, str_at + offsetof(protocol::GenericArray_DTS, data), fixed_size);
    if (str.count == 0) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08X", status);
        return std::string("Target returned error code (0x") + digits + ")";
    }
    std::string message = text_of(str.bytes);
    const response_array trailing = view_array(response, trailing_at, trailing_slot_at, fixed_size);
    if (trailing.element_size == 2) {
        message += "\n";
        for (std::uint32_t i = trailing.count; i-- > 0;) {
            std::uint16_t v;
            std::memcpy(&v, trailing.bytes.data() + 2 * i, sizeof v);
            char digits[5];
            std::snprintf(digits, sizeof digits, "%04X", unsigned(v));
            message += digits;
            if (i != 0) message += ", ";
        }
    } else if (trailing.element_size == 1) {
        message += "\n";
        message += text_of(trailing.bytes);
    }
    return message;
}

void check_status_response(std::span<const std::uint8_t> response) {
    if (const auto status = load<std::uint32_t>(response, status_at))
        raise_command_status(status, compose_status_message(response));
}

void check_security_status_response(std::span<const std::uint8_t> response) {
    if (const auto status = load<std::uint32_t>(response, status_at))
        raise_security_status(status, compose_status_message(response));
}

}  // namespace qx
