#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <streambuf>
#include <string>

#include "pak/pak_group_file.h"
#include "pak/pak_image.h"
#include "tests/pak/pak_test_files.h"

// Counts the heap blocks of 64 KiB or more asked for while `counting` is set (this test
// program's every allocation passes here). ThreadSanitizer's runtime brings its own operator new
// and delete, so under it nothing is counted.
#if defined(__SANITIZE_THREAD__)
#define COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef COUNTS_ALLOCATIONS
#define COUNTS_ALLOCATIONS 1
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<int> large_blocks{0};
#if COUNTS_ALLOCATIONS
void* counted(std::size_t size) noexcept {
    if (counting && size >= 64 * 1024) ++large_blocks;
    return std::malloc(size ? size : 1);
}
void* counted_or_throw(std::size_t size) {
    if (void* p = counted(size)) return p;
    throw std::bad_alloc();
}
#endif
}  // namespace
#if COUNTS_ALLOCATIONS
void* operator new(std::size_t size) { return counted_or_throw(size); }
void* operator new[](std::size_t size) { return counted_or_throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

using namespace qx::test_support;
using pak_tests::stream_of;
using qx::pak_group_file;

const std::string serial = "01020AFF";

pak_group_spec group_of_four(std::optional<std::string> group_serial = serial, bool checksum = true) {
    pak_group_spec g;
    g.serial_number = std::move(group_serial);
    g.checksum = checksum;
    for (std::uint32_t type = 0; type < 4; ++type)
        g.entries.push_back(group_entry(sample_pak_spec(type % 2 ? 1 : 2, serial, type, 1, type)));
    g.entries[3].entry_word = 0xCAFE;
    return g;
}

// "" when the group opens, else the message of the group's (or a package's) exception.
std::string read_message(const bytes& data, pak_group_file& group) {
    auto stream = stream_of(data);
    try {
        group.read(stream);
    } catch (const qx::exception& e) {
        return e.message;
    }
    return "";
}

std::string read_message(const bytes& data) {
    pak_group_file group(serial);
    return read_message(data, group);
}

class chunk_combinations : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(chunk_combinations, open_with_or_without_ser_and_csum) {
    const auto [with_serial, with_checksum] = GetParam();
    const pak_group_spec spec = group_of_four(with_serial ? std::optional(serial) : std::nullopt, with_checksum);
    const pak_group_bytes written = write_pak_group(spec);
    pak_group_file group(serial);
    ASSERT_EQ(read_message(written.data, group), "");
    EXPECT_TRUE(group.loaded);
    EXPECT_EQ(group.declared_count, 4u);
    EXPECT_EQ(group.serial_number, serial);
    ASSERT_EQ(group.entries.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& e = group.entry(i);
        EXPECT_EQ(e.name, spec.entries[i].name);
        EXPECT_EQ(e.entry_type, i);
        EXPECT_EQ(e.header.image_type, i);
        EXPECT_EQ(e.header.layout, i % 2 ? 1u : 2u);
        EXPECT_EQ(e.package_position, std::streamoff(written.package_at[i]));
    }
    EXPECT_EQ(group.entry(3).entry_word, 0xCAFEu);
}

INSTANTIATE_TEST_SUITE_P(chunks, chunk_combinations, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>>& p) {
                             return std::string(std::get<0>(p.param) ? "ser" : "no_ser") +
                                    (std::get<1>(p.param) ? "_csum" : "_no_csum");
                         });

struct group_fault {
    const char* name;
    void (*change)(pak_group_spec&);
    const char* message;
};

class group_faults : public ::testing::TestWithParam<group_fault> {};

TEST_P(group_faults, are_reported_and_leave_nothing_loaded) {
    pak_group_spec spec = group_of_four();
    GetParam().change(spec);
    pak_group_file group(serial);
    EXPECT_EQ(read_message(write_pak_group(spec).data, group), GetParam().message);
    EXPECT_FALSE(group.loaded);
    EXPECT_TRUE(group.entries.empty());
    EXPECT_EQ(group.declared_count, 0u);
    EXPECT_EQ(group.serial_number, "");
}

const char* const invalid = "Pak group file invalid.";

INSTANTIATE_TEST_SUITE_P(
    faults, group_faults,
    ::testing::Values(
        group_fault{"magic_1", [](pak_group_spec& g) { g.magic[0] ^= 1; }, invalid},
        group_fault{"magic_4", [](pak_group_spec& g) { g.magic[3] = 0x31303030; }, invalid},
        group_fault{"csum_before_ser", [](pak_group_spec& g) { g.checksum_before_serial = true; }, invalid},
        group_fault{"csum_before_ser_with_a_wrong_checksum",
                    [](pak_group_spec& g) {
                        g.checksum_before_serial = true;
                        g.stored_checksum = 0x12345678;
                    },
                    "Pak group file checksum invalid."},
        group_fault{"count_0", [](pak_group_spec& g) { g.declared_count = 0; }, invalid},
        group_fault{"count_256", [](pak_group_spec& g) { g.declared_count = 256; }, invalid},
        group_fault{"count_beyond_entries", [](pak_group_spec& g) { g.declared_count = 5; }, invalid},
        group_fault{"name_length_0", [](pak_group_spec& g) { g.entries[1].name_length = 0; }, invalid},
        group_fault{"name_length_65", [](pak_group_spec& g) { g.entries[1].name_length = 65; }, invalid},
        group_fault{"entry_type_differs", [](pak_group_spec& g) { g.entries[2].entry_type = 3; }, invalid},
        group_fault{"ser_differs_in_one_character", [](pak_group_spec& g) { g.serial_number = "01020AFE"; }, invalid},
        group_fault{"package_serial_differs",
                    [](pak_group_spec& g) { g.entries[2] = group_entry(sample_pak_spec(2, "01020AFE", 2)); }, invalid},
        group_fault{"later_serial_differs_without_ser",
                    [](pak_group_spec& g) {
                        g.serial_number.reset();
                        g.entries[3] = group_entry(sample_pak_spec(2, "11111111", 3));
                    },
                    invalid},
        group_fault{"wrong_stored_checksum", [](pak_group_spec& g) { g.stored_checksum = 0x12345678; },
                    "Pak group file checksum invalid."}),
    [](const ::testing::TestParamInfo<group_fault>& p) { return std::string(p.param.name); });

TEST(pak_group_file, without_ser_takes_the_serial_number_of_its_first_package) {
    pak_group_spec spec = group_of_four(std::nullopt);
    for (auto& e : spec.entries) e = group_entry(sample_pak_spec(2, "ABCDEF12", e.entry_type));
    pak_group_file group("01020AFF");
    ASSERT_EQ(read_message(write_pak_group(spec).data, group), "");
    EXPECT_EQ(group.serial_number, "ABCDEF12");
    EXPECT_EQ(group.requested_serial, "01020AFF");  // kept, not compared
}

TEST(pak_group_file, without_ser_a_dropped_first_package_does_not_give_the_serial_number) {
    pak_group_spec spec = group_of_four(std::nullopt);
    spec.entries.insert(spec.entries.begin(), group_entry(sample_pak_spec(1, "DROPPED", 1)));
    const pak_group_bytes written = write_pak_group(spec);
    bytes data = written.data;
    data[written.package_at[0] + spec.entries[0].package.size() - 1] ^= 0x01;  // layout 1: dropped alone
    pak_group_file group(serial);
    ASSERT_EQ(read_message(data, group), "");
    EXPECT_EQ(group.entries.size(), 4u);
    EXPECT_EQ(group.serial_number, serial);
}

TEST(pak_group_file, a_flipped_serial_byte_fails_the_group_checksum) {
    const pak_group_bytes written = write_pak_group(group_of_four());
    bytes data = written.data;
    data[*written.serial_at + 3] ^= 0x01;
    EXPECT_EQ(read_message(data), "Pak group file checksum invalid.");
}

TEST(pak_group_file, a_damaged_last_package_is_dropped) {
    const pak_group_bytes written = write_pak_group(group_of_four());
    bytes data = written.data;
    data[data.size() - 10] ^= 0x01;  // inside the last image
    pak_group_file group(serial);
    ASSERT_EQ(read_message(data, group), "");
    EXPECT_EQ(group.declared_count, 4u);
    ASSERT_EQ(group.entries.size(), 3u);
    try {
        group.entry(3);
        FAIL() << "no exception";
    } catch (const pak_group_file::exception_out_of_bounds& e) {
        EXPECT_EQ(e.message, "Requested pak file location invalid.");
    }
}

// One past the last byte of the package of entry `index`.
std::size_t package_end(const pak_group_spec& spec, const pak_group_bytes& written, std::size_t index) {
    return written.package_at[index] + spec.entries[index].package.size();
}

TEST(pak_group_file, a_damaged_earlier_layout2_package_makes_the_group_invalid) {
    const pak_group_spec spec = group_of_four();
    const pak_group_bytes written = write_pak_group(spec);
    bytes data = written.data;
    data[package_end(spec, written, 0) - 20] ^= 0x01;  // inside the image of entry 0
    EXPECT_EQ(read_message(data), "Pak group file invalid.");
}

// The layout-1 reading is the last one and stops right after the image, so the next entry
// is found where it starts.
TEST(pak_group_file, a_damaged_earlier_layout1_package_is_dropped_alone) {
    const pak_group_spec spec = group_of_four();
    const pak_group_bytes written = write_pak_group(spec);
    bytes data = written.data;
    data[package_end(spec, written, 1) - 20] ^= 0x01;  // inside the image of entry 1
    pak_group_file group(serial);
    ASSERT_EQ(read_message(data, group), "");
    ASSERT_EQ(group.entries.size(), 3u);
    EXPECT_EQ(group.entry(1).entry_type, 2u);
}

// A cut inside the last package drops that entry alone. A cut in the group header or in an
// entry's own fields is invalid. A cut inside an earlier package drops it, and the entries
// after it are then read from wherever its reading stopped: that ends as invalid, or in
// dropped entries, but never accepts the cut package or one after it.
TEST(pak_group_file, truncation_never_accepts_a_cut_package) {
    pak_group_spec spec = group_of_four();
    for (auto& e : spec.entries) {
        pak_spec p = sample_pak_spec(e.entry_type % 2 ? 1 : 2, serial, e.entry_type, 0);
        p.certificate.resize(4);
        e = group_entry(p);
    }
    const pak_group_bytes written = write_pak_group(spec);
    std::size_t accepted_with_drops = 0;
    for (std::size_t cut = 0; cut < written.data.size(); ++cut) {
        pak_group_file group(serial);
        const std::string message = read_message(bytes(written.data.begin(), written.data.begin() + std::ptrdiff_t(cut)), group);
        std::size_t inside = spec.entries.size();  // the package the cut lies in, if any
        for (std::size_t i = 0; i < spec.entries.size(); ++i)
            if (cut >= written.package_at[i] && cut < package_end(spec, written, i)) inside = i;
        if (inside == spec.entries.size()) {
            ASSERT_EQ(message, "Pak group file invalid.") << cut;
        } else if (inside == spec.entries.size() - 1) {
            ASSERT_EQ(message, "") << cut;
            ASSERT_EQ(group.entries.size(), inside) << cut;
        } else if (message.empty()) {
            ++accepted_with_drops;
            ASSERT_EQ(group.declared_count, 4u);
            ASSERT_EQ(group.entries.size(), inside) << cut;
            for (std::size_t i = 0; i < inside; ++i)
                ASSERT_EQ(group.entries[i].package_position, std::streamoff(written.package_at[i])) << cut;
        } else {
            ASSERT_EQ(message, "Pak group file invalid.") << cut;
        }
    }
    // E.g. a cut in entry 2 after its version word: its layout-1 misreading stops before its
    // author length, and author, image type and version then pass as entry 3's fields.
    EXPECT_GT(accepted_with_drops, 0u);
}

TEST(pak_group_file, accepts_255_entries) {
    pak_group_spec spec;
    spec.serial_number = serial;
    pak_spec small = sample_pak_spec(2, serial, 1, 0);
    small.certificate.clear();
    const pak_group_entry_spec entry = group_entry(small);
    spec.entries.assign(255, entry);
    pak_group_file group(serial);
    ASSERT_EQ(read_message(write_pak_group(spec).data, group), "");
    EXPECT_EQ(group.entries.size(), 255u);
}

// A stream that reads but cannot tell or change its position.
class unseekable : public std::streambuf {
public:
    explicit unseekable(bytes& data) {
        char* p = reinterpret_cast<char*>(data.data());
        setg(p, p, p + data.size());
    }
};

TEST(pak_group_file, a_package_that_cannot_be_positioned_passes_its_exception_through) {
    bytes data = write_pak_group(group_of_four()).data;
    unseekable buffer(data);
    std::istream stream(&buffer);
    pak_group_file group(serial);
    try {
        group.read(stream);
        FAIL() << "no exception";
    } catch (const qx::pak_file::exception_out_of_bounds& e) {
        EXPECT_EQ(e.message, "Position in file is invalid.");
    }
    EXPECT_FALSE(group.loaded);
}

// Every package of a group passes through one read buffer, allocated once for the open and
// zeroed over all it held before it is freed; no package's body is allocated, not even to try.
// A group of 8 MiB or more is read in larger pieces.
struct buffer_case {
    std::uint32_t blocks;  // of each of the four images
    std::size_t held;      // the bytes the buffer held and released zeroed
};
class pak_group_buffer : public testing::TestWithParam<buffer_case> {};

TEST_P(pak_group_buffer, passes_every_package_through_one_zeroed_buffer) {
    pak_group_spec spec;
    spec.serial_number = serial;
    for (std::uint32_t type = 0; type < 4; ++type)
        spec.entries.push_back(group_entry(sample_pak_spec(type % 2 ? 1 : 2, serial, type, GetParam().blocks, type)));
    auto stream = stream_of(write_pak_group(spec).data);
    static std::vector<std::pair<std::size_t, bool>> released;  // size, all zero
    released.clear();
    qx::set_pak_buffer_release_observer([](const std::uint8_t* p, std::size_t size) {
        released.emplace_back(size, std::all_of(p, p + size, [](std::uint8_t b) { return b == 0; }));
    });
    pak_group_file group(serial);
    large_blocks = 0;
    counting = true;
    group.read(stream);
    counting = false;
    qx::set_pak_buffer_release_observer(nullptr);
    EXPECT_EQ(group.entries.size(), 4u);
    if (COUNTS_ALLOCATIONS) {
        EXPECT_EQ(large_blocks, 1);
    }
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0].first, GetParam().held);
    EXPECT_TRUE(released[0].second);
}

INSTANTIATE_TEST_SUITE_P(pak_group_file, pak_group_buffer,
                         testing::Values(buffer_case{256, 128 * 1024},      // 2 MiB of images
                                         buffer_case{1024, 1024 * 1024}));  // 8 MiB

class pak_group_files : public pak_tests::temp_folder {};

TEST_F(pak_group_files, open_keeps_the_path_and_entries_read_again_from_it) {
    const std::string path = file("01020AFF.pakgrp", write_pak_group(group_of_four()).data);
    pak_group_file group(serial);
    group.open(path);
    EXPECT_TRUE(group.loaded);
    EXPECT_EQ(group.path, path);
    std::ifstream f(group.path, std::ios::binary);
    for (const auto& e : group.entries) {
        qx::pak_file p;
        qx::pak_image image;
        if (e.header.layout == 2)
            p.read_layout2(f, e.package_position, image);
        else
            p.read_layout1(f, e.package_position, image);
        EXPECT_EQ(p.image_type, e.entry_type);
        EXPECT_EQ(image.image_data.size(), 2048u);
    }
}

TEST_F(pak_group_files, a_failed_open_forgets_the_previous_group) {
    pak_group_file group(serial);
    group.open(file("good.pakgrp", write_pak_group(group_of_four()).data));
    pak_group_spec bad = group_of_four();
    bad.declared_count = 300;
    EXPECT_THROW(group.open(file("bad.pakgrp", write_pak_group(bad).data)), pak_group_file::exception_invalid);
    EXPECT_FALSE(group.loaded);
    EXPECT_TRUE(group.entries.empty());
    EXPECT_EQ(group.path, "");
    EXPECT_THROW(group.entry(0), pak_group_file::exception_out_of_bounds);
}

TEST_F(pak_group_files, missing_file_and_closed_stream_are_file_not_found) {
    pak_group_file group(serial);
    try {
        group.open(missing("none.pakgrp"));
        FAIL() << "no exception";
    } catch (const pak_group_file::exception_file_not_found& e) {
        EXPECT_EQ(e.message, "Pak group file not found.");
    }
    std::ifstream closed;
    try {
        group.read(closed);
        FAIL() << "no exception";
    } catch (const pak_group_file::exception_file_not_found& e) {
        EXPECT_EQ(e.message, "Group file not found.");
    }
}

}  // namespace
