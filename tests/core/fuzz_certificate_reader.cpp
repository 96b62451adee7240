// Arbitrary bytes as a certificate: the reader must fail cleanly or fill its fields.
#include <cstdint>
#include <vector>

#include "core/certificate_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> der(data, data + size);  // exactly the bytes given
    qx::certificate_fields f;
    (void)qx::read_certificate(der, f);
    return 0;
}
