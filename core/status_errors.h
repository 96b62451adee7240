// From an ECU status to the exception class that reports it, and the message of a failed
// command composed from its status response.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/exception.h"

namespace qx {

// Status of a plain command: returns for 0, else throws exception_bad_state, _not_found,
// _found, _mismatch or exception_command_error with `message` and the status as its code.
void raise_command_status(std::uint32_t status, const std::string& message);

// Status of SECURITY_COMMAND: returns for 0, else throws the security class of the status, or
// exception_command_error for a status outside the security table.
void raise_security_status(std::uint32_t status, const std::string& message);

// The message of a failed command from a laid-out response that starts like
// GenericStatusStringResponse_DTS (data slots hold element offsets from the block start).
// An array reaching outside the response, or a response shorter than that structure's fixed
// part, throws exception_communication_error "SendCommand failed".
std::string compose_status_message(std::span<const std::uint8_t> response);

// The status at the start of the response: returns for 0, else composes the message and
// raises by the plain or the security mapping.
void check_status_response(std::span<const std::uint8_t> response);
void check_security_status_response(std::span<const std::uint8_t> response);

}  // namespace qx
