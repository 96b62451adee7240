#include "ecusim/raw_log_disk.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace ecusim {

namespace {

bytes header_block(std::uint16_t mark) {
    bytes b(raw_block_size, 0);
    b[208] = std::uint8_t(mark >> 8);  // the kind mark is high byte first on every link
    b[209] = std::uint8_t(mark);
    static const char copyright[] = "Virtual ECU raw log disk";
    std::memcpy(b.data() + 320, copyright, sizeof copyright);
    return b;
}

void prefix(bytes& b, std::size_t at) {
    static const char text[] = "ECU";
    std::memcpy(b.data() + at, text, sizeof text);
}

}  // namespace

bytes build_raw_disk(const std::vector<raw_file>& files, std::uint32_t group_blocks, byte_order o) {
    if (group_blocks == 0) throw std::invalid_argument("a raw disk group needs at least one data block");
    bytes disk(raw_block_size, 0);  // block 0 is filled in last
    std::uint32_t lba = 1, last_opened = 0;
    std::uint32_t index = 0;
    for (const raw_file& f : files) {
        index = f.file_index ? f.file_index : index + 1;
        const std::uint32_t start = lba;
        last_opened = start;
        bytes fh = header_block(raw_file_mark);
        bytes body;
        if (!f.open) {
            std::size_t done = 0;
            std::uint32_t file_blocks = 1;
            int group = 0;
            do {
                const std::size_t chunk = std::min<std::size_t>(f.data.size() - done, group_blocks * raw_block_size);
                const auto data_blocks = std::uint32_t((chunk + raw_block_size - 1) / raw_block_size);
                bytes bh = header_block(group++ == f.bad_mark_group ? std::uint16_t(0x0BAD) : raw_block_mark);
                put32(bh, 0, std::uint32_t(chunk), o);
                put32(bh, 4, data_blocks, o);
                put32(bh, 8, start + file_blocks, o);
                put32(bh, 12, file_blocks, o);
                put32(bh, 16, index, o);
                body.insert(body.end(), bh.begin(), bh.end());
                const auto first = f.data.begin() + std::ptrdiff_t(done);
                body.insert(body.end(), first, first + std::ptrdiff_t(chunk));
                body.resize(body.size() + (data_blocks * raw_block_size - chunk), 0);
                file_blocks += 1 + data_blocks;
                done += chunk;
            } while (done < f.data.size());
        }
        const auto total = std::uint32_t(1 + body.size() / raw_block_size);
        put32(fh, 64, index, o);
        put32(fh, 68, f.claimed_blocks ? f.claimed_blocks : total, o);
        put32(fh, 72, f.cfgfile_version, o);
        put32(fh, 76, f.cfgfile_num_channels, o);
        put32(fh, 80, f.logfile_version, o);
        put32(fh, 84, start, o);
        put32(fh, 88, 0, o);
        put32(fh, 92, (index + 1) / 2, o);
        prefix(fh, 96);
        disk.insert(disk.end(), fh.begin(), fh.end());
        disk.insert(disk.end(), body.begin(), body.end());
        lba += total;
    }
    bytes dh = header_block(raw_disk_mark);
    put32(dh, 128, last_opened, o);
    put32(dh, 132, std::uint32_t(files.size()), o);
    put32(dh, 136, lba, o);
    put32(dh, 140, index, o);
    prefix(dh, 144);
    std::copy(dh.begin(), dh.end(), disk.begin());
    return disk;
}

}  // namespace ecusim
