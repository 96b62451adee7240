// The certificates built into the virtual ECU (made by certs/make_certs.sh).
#pragma once

#include <cstdint>
#include <span>

namespace ecusim::certificates {

std::span<const std::uint8_t> root();
std::span<const std::uint8_t> device();   // serial number 1A2B3C4D00000001
std::span<const std::uint8_t> package();  // issued by the root

}  // namespace ecusim::certificates
