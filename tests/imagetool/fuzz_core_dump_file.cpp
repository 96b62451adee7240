// The core dump reader against arbitrary files; a file it accepts writes back byte for byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "imagetool/core_dump_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qx::imagetool;
    const std::span<const std::uint8_t> file(data, size);
    try {
        const core_dump dump = read_core_dump(file);
        const auto again = write_core_dump(dump);
        if (again.size() != size || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
    } catch (const core_dump_file_error&) {
    }
    return 0;
}
