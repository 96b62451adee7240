// The files a technician needs to update one virtual ECU: the root certificate, a package
// group with all four image types, and the same packages as single files.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ecusim {

// Writes into out_dir (created when missing) and returns the paths written. The serial is
// 8 hexadecimal digits; the files use its upper-case form. Throws std::invalid_argument for
// a bad serial and std::runtime_error when a file cannot be written.
std::vector<std::string> make_packages(const std::string& serial, const std::string& out_dir);

// Checks a state file written by `ecusim usb --state` after a full update with the packages
// of make_packages: every block of every image at its address. Writes a summary to `out`;
// true when everything arrived.
bool check_update(const std::string& serial, const std::string& state_file, std::ostream& out);

}  // namespace ecusim
