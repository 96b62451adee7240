// Reads arbitrary bytes as a package in both layouts, at position 0 and at the position the
// first byte names: nothing may crash, leak or allocate more than the input holds.
#include <cstdint>
#include <sstream>
#include <string>

#include "pak/pak_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size), std::ios::in | std::ios::binary);
    qx::pak_file header;
    qx::pak_image image;
    const std::streamoff positions[] = {0, size ? std::streamoff(data[0] % 16) : 0};
    for (std::streamoff position : positions) {
        try {
            header.read_layout2(stream, position, image);
        } catch (const qx::pak_file::exception_invalid&) {
            try {
                header.read_layout1(stream, position, image);
            } catch (const qx::pak_file::exception&) {
            }
        } catch (const qx::pak_file::exception&) {
        }
        if (image.layout != 0 && image.layout != header.layout) __builtin_trap();
        if (image.image_data.size() > size || image.certificate.size() > size) __builtin_trap();
    }
    return 0;
}
