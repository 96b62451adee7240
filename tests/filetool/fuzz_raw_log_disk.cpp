// The raw log disk reader against arbitrary disk images: the walk with diagnostics, and the
// copy of every file it lists. Blocks beyond the image read as zeros.
#include <cstddef>
#include <cstdint>

#include "filetool/raw_log_disk.h"

namespace {

struct quiet_view : qx::raw_log::walk_view {
    void message(const std::string&, const std::string&) override {}
    void show(int, const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qx::raw_log;
    if (size < 1) return 0;
    const bool host_order = data[0] & 1;
    const std::span<const std::uint8_t> disk(data + 1, size - 1);
    block_reader read = [disk](std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> out) {
        if (out.size() != std::size_t(count) * SIZE_OF_DISK_LOGICAL_BLOCK) __builtin_trap();
        for (std::size_t i = 0; i < out.size(); ++i) {
            const std::uint64_t at = std::uint64_t(lba) * SIZE_OF_DISK_LOGICAL_BLOCK + i;
            out[i] = at < disk.size() ? disk[std::size_t(at)] : 0;
        }
        return lba != 0xFFFFFFF0u;
    };
    quiet_view view;
    std::size_t text = 0;
    disk_walk walk(read, host_order, view);
    walk.diagnostics = true;
    walk.output = [&text](std::string_view line) { text += line.size(); };
    const auto files = walk.walk(64);
    for (const file_entry& f : files) {
        std::size_t written = 0;
        copy_file(
            read, host_order, f.lba, f.file.fields.RFFH.number_of_logical_blocks,
            [&](std::span<const std::uint8_t> b) {
                written += b.size();
                return true;
            },
            [](std::uint64_t done, std::uint64_t total) {
                if (done > total) __builtin_trap();
            });
    }
    return 0;
}
