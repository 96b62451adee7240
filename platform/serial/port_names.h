// Where the ports named COMn and the WCSC driver's ports live on this machine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qx::platform::serial {

// "COMn" (n from 1): $TRELINK_COMn if set, else /dev/ttyS<n-1>. Empty for any other name.
std::string device_path_of(std::string_view port_name);

// Port k of the PCI serial card: $TRELINK_WCSC_CARD<k>; empty when it is not set.
std::string card_port_path(unsigned index);

}  // namespace qx::platform::serial
