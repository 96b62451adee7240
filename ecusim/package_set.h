// The files a technician needs to update one virtual ECU: the root certificate, a package
// group with all four image types, and the same packages as single files.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ecusim {

// Writes into out_dir (created when missing) and returns the paths written. The serial is
// 8 hexadecimal digits; the files use its upper-case form. Throws std::invalid_argument for
// a bad serial and std::runtime_error when a file cannot be written. `blocks_per_image` gives every
// image that many 2048-byte blocks instead of each type's usual size (small packages keep
// fault runs short).
std::vector<std::string> make_packages(const std::string& serial, const std::string& out_dir,
                                       std::optional<std::uint32_t> blocks_per_image = {});

// Image sizes in 2048-byte blocks by image type: firmware, fixed model, dynamic model, boot loader.
using image_blocks = std::array<std::uint32_t, 4>;
// The same with an image size of its own for each type (for packages of a technician's sizes).
std::vector<std::string> make_packages(const std::string& serial, const std::string& out_dir, const image_blocks& blocks);

// Checks a state file written by `ecusim usb --state` after a full update with the packages
// of make_packages (made with the same `blocks_per_image`): every block of every image at its address.
// Writes a summary, one line per image, to `out`; true when everything arrived.
bool check_update(const std::string& serial, const std::string& state_file, std::ostream& out,
                  std::optional<std::uint32_t> blocks_per_image = {});
bool check_update(const std::string& serial, const std::string& state_file, std::ostream& out,
                  const image_blocks& blocks);

}  // namespace ecusim
