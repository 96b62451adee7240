#include "app/launcher/root_certificate.h"

#include <fstream>

#include "app/launcher/error_box.h"

namespace qx {

launcher_root_certificate& root_certificate() {
    static launcher_root_certificate certificate;
    return certificate;
}

bool load_root_certificate(ui::renderer& r, const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error_box(r, "Failed to open Root certificate: %s", file.filename().string().c_str());
        return false;
    }
    launcher_root_certificate& c = root_certificate();
    in.read(reinterpret_cast<char*>(c.data.data()), static_cast<std::streamsize>(c.data.size()));
    // What was read, not what the file claims: a short read leaves no stale bytes counted.
    c.length = static_cast<std::uint32_t>(in.gcount());
    return true;
}

}  // namespace qx
