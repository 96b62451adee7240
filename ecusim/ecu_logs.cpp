// Logs: the file-system mode (directory records, open, read, close by handle), logging start
// and stop, and the raw log disk.
#include <algorithm>
#include <cctype>

#include "ecusim/command_codes.h"
#include "ecusim/ecu_model.h"
#include "ecusim/raw_log_disk.h"

namespace ecusim {

namespace {

constexpr std::size_t read_limit = 3584;
constexpr std::size_t raw_read_limit = 7;  // blocks that fit one GenericArray_DTS

std::string upper(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Directory slots of a file: its long-name entries (13 characters each), then its short entry.
std::size_t slots(const log_file& f) { return (f.long_name.size() + 12) / 13 + 1; }

// The 32-byte FAT entry followed by the UTF-16LE long name and its terminating zero.
bytes directory_record(const log_file& f) {
    bytes r(32, 0);
    std::string name = upper(f.short_name), ext;
    if (const auto dot = name.find('.'); dot != std::string::npos) {
        ext = name.substr(dot + 1);
        name.resize(dot);
    }
    for (std::size_t i = 0; i < 8; ++i) r[i] = std::uint8_t(i < name.size() ? name[i] : ' ');
    for (std::size_t i = 0; i < 3; ++i) r[8 + i] = std::uint8_t(i < ext.size() ? ext[i] : ' ');
    r[11] = f.attributes;
    put32(r, 28, std::uint32_t(f.data.size()), byte_order::little);
    for (const char16_t c : f.long_name) {
        r.push_back(std::uint8_t(c));
        r.push_back(std::uint8_t(c >> 8));
    }
    r.push_back(0);
    r.push_back(0);
    return r;
}

}  // namespace

// LogGetDirectoryEntryRequest_DTS: entry_index @0, path @4; fixed 12.
// LogGetDirectoryEntryResponse_DTS: core_index @0, status @4, record @8; fixed 16.
bytes ecu::log_directory(std::span<const std::uint8_t> q, byte_order o, reply&) {
    const request_arrays a(q, 12, {4});
    const std::uint32_t wanted = get32(q, 0, o);
    const std::string path = array_text(a[0]);
    response_builder b(16, o);
    if (!path.empty() && path != "\\" && path != "/") {
        b.u32(0, wanted);
        b.u32(4, status::not_found);
        b.empty_array(8, 1);
        return b.finish();
    }
    std::size_t slot = 0;
    for (const log_file& f : cfg_.log_files) {
        slot += slots(f);
        const std::size_t core_index = slot - 1;
        if (core_index >= wanted) {
            b.u32(0, std::uint32_t(core_index));
            b.byte_array(8, directory_record(f));
            return b.finish();
        }
    }
    b.u32(0, std::max<std::uint32_t>(wanted, std::uint32_t(slot)));
    b.byte_array(8, bytes(34, 0));  // the end of the directory: an empty record
    return b.finish();
}

// LogOpenFileRequest_DTS: mode @0, name @4; fixed 12. LogOpenFileResponse_TS: handle, status.
bytes ecu::log_open(std::span<const std::uint8_t> q, byte_order o, reply&) {
    const request_arrays a(q, 12, {4});
    // "README." names the file README, as on FAT.
    auto bare = [](std::string n) {
        if (!n.empty() && n.back() == '.') n.pop_back();
        return upper(n);
    };
    const std::string name = bare(array_text(a[0]));
    bytes b(8, 0);
    for (std::size_t i = 0; i < cfg_.log_files.size(); ++i) {
        const log_file& f = cfg_.log_files[i];
        if (bare(f.short_name) != name || (f.attributes & 0x10)) continue;
        const std::uint32_t handle = next_handle_++;
        handles_[handle] = {i, 0};
        put32(b, 0, handle, o);
        return b;
    }
    put32(b, 0, 0xFFFFFFFF, o);
    put32(b, 4, status::not_found, o);
    return b;
}

// LogReadFileRequest_TS: handle @0, read_count @4.
// LogReadFileResponse_DTS: read_count @0, status @4, data @8; fixed 16.
bytes ecu::log_read(std::span<const std::uint8_t> q, byte_order o, reply& r) {
    const std::uint32_t handle = get32(q, 0, o);
    const std::uint16_t asked = get16(q, 4, o);
    response_builder b(16, o);
    const auto h = handles_.find(handle);
    if (h == handles_.end() || r.faults.response_status) {  // a failed read leaves the position
        b.u32(4, h == handles_.end() ? status::not_found : *r.faults.response_status);
        b.empty_array(8, 1);
        return b.finish();
    }
    const bytes& data = cfg_.log_files[h->second.file].data;
    const std::size_t n =
        r.faults.end_of_file ? 0 : std::min({std::size_t(asked), read_limit, data.size() - h->second.position});
    b.u16(0, std::uint16_t(n));
    if (n == 0) b.empty_array(8, 1);
    else b.byte_array(8, std::span(data).subspan(h->second.position, n));
    if (!r.faults.reread) h->second.position += n;
    return b.finish();
}

// LogCloseFileRequest_TS: handle @0. GenericStatusResponse_TS.
bytes ecu::log_close(std::span<const std::uint8_t> q, byte_order o, reply&) {
    return status_response(handles_.erase(get32(q, 0, o)) ? status::ok : status::not_found, o);
}

bytes ecu::log_begin(std::span<const std::uint8_t>, byte_order o, reply&) {
    st_.logging_active = true;
    return status_string_response(status::ok, "", o);
}

bytes ecu::log_stop(std::span<const std::uint8_t>, byte_order o, reply&) {
    st_.logging_active = false;
    return status_string_response(status::ok, "", o);
}

const bytes& ecu::raw_disk(byte_order o) {
    auto it = raw_disk_cache_.find(o);
    if (it == raw_disk_cache_.end())
        it = raw_disk_cache_.emplace(o, build_raw_disk(cfg_.raw_files, cfg_.raw_group_blocks, o)).first;
    return it->second;
}

// RawFileReadRequestLBA_TS: start_lba @0, number_of_logical_blocks @4. GenericArray_DTS of
// bytes; blocks beyond the end of the disk read as zeros.
bytes ecu::log_read_raw(std::span<const std::uint8_t> q, byte_order o, reply&) {
    const std::uint32_t start = get32(q, 0, o), count = get32(q, 4, o);
    if (count > raw_read_limit) throw malformed_request("more blocks than one response holds");
    const bytes& disk = raw_disk(o);
    bytes out(count * raw_block_size, 0);
    const std::uint64_t from = std::uint64_t(start) * raw_block_size;
    for (std::size_t i = 0; i < out.size() && from + i < disk.size(); ++i) out[i] = disk[std::size_t(from + i)];
    return byte_array_response(out, o);
}

bytes ecu::log_format_raw(std::span<const std::uint8_t>, byte_order o, reply&) {
    cfg_.raw_files.clear();
    raw_disk_cache_.clear();
    ++st_.raw_formats;
    return status_string_response(status::ok, "", o);
}

}  // namespace ecusim
