// The files a technician needs to update one virtual ECU: the root certificate, a package
// group with all four image types, and the same packages as single files.
#pragma once

#include <string>
#include <vector>

namespace ecusim {

// Writes into out_dir (created when missing) and returns the paths written. The serial is
// 8 hexadecimal digits; the files use its upper-case form. Throws std::invalid_argument for
// a bad serial and std::runtime_error when a file cannot be written.
std::vector<std::string> make_packages(const std::string& serial, const std::string& out_dir);

}  // namespace ecusim
