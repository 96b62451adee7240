// The device registry's checks: only folders and sockets of the effective user that nobody else
// can write are used; everything else is refused with a text naming it, and no device in it is
// found, not even one of our own.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/registry/device_registry.h"
#include "platform/usb/usb_device.h"

namespace qx::platform {
namespace {

namespace fs = std::filesystem;

constexpr uid_t other_user = 65534;  // nobody

// A listening socket at `path` (closed at the end of the test process; the file stays).
void plant_socket(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << path;
    ASSERT_EQ(::listen(fd, 1), 0);
}

class registry : public ::testing::Test {
protected:
    void SetUp() override {
        std::string t = (fs::temp_directory_path() / "registry-test-XXXXXX").string();
        base = ::mkdtemp(t.data());
        root = (base / "reg").string();
        ::setenv("TRELINK_DEVICE_DIR", root.c_str(), 1);
        ::unsetenv("TRELINK_USB_IDS");
        ::unsetenv("TRELINK_DEVICE");
        cls = registry_class_dir(ecu_interface_class);
    }
    void TearDown() override {
        ::unsetenv("TRELINK_DEVICE_DIR");
        fs::remove_all(base);
    }
    static mode_t mode_of(const std::string& path) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
    fs::path base;
    std::string root, cls;
};

struct folder_case {
    const char* name;
    bool needs_root;  // to give a folder to another user
    std::function<void(const std::string& root, const std::string& cls)> make;
    const char* refused;  // which folder, "root" or "class"
    const char* what;
};

// Test names print the case's name, not its bytes.
void PrintTo(const folder_case& c, std::ostream* os) { *os << c.name; }

void make_both(const std::string& root, const std::string& cls, mode_t root_mode, mode_t cls_mode) {
    fs::create_directories(cls);
    ::chmod(root.c_str(), root_mode);
    ::chmod(cls.c_str(), cls_mode);
}

const folder_case folder_cases[] = {
    {"root_writable_by_others", false, [](auto& r, auto& c) { make_both(r, c, 0777, 0700); }, "root",
     "is writable by its group or by others (mode 0777)"},
    {"root_writable_by_its_group", false, [](auto& r, auto& c) { make_both(r, c, 0770, 0700); }, "root",
     "is writable by its group or by others (mode 0770)"},
    {"class_folder_writable_by_others", false, [](auto& r, auto& c) { make_both(r, c, 0700, 0757); }, "class",
     "is writable by its group or by others (mode 0757)"},
    {"root_a_symbolic_link", false,
     [](auto& r, auto& c) {
         const std::string elsewhere = r + ".real";
         fs::create_directories(elsewhere + "/" + fs::path(c).filename().string());
         fs::create_directory_symlink(elsewhere, r);
     },
     "root", "is a symbolic link"},
    {"root_not_a_folder", false, [](auto& r, auto&) { std::ofstream(r) << "x"; }, "root", "is not a folder"},
    {"root_of_another_user", true,
     [](auto& r, auto& c) {
         make_both(r, c, 0755, 0755);
         ASSERT_EQ(::chown(r.c_str(), other_user, other_user), 0);
     },
     "root", "belongs to user 65534"},
    {"class_folder_of_another_user", true,
     [](auto& r, auto& c) {
         make_both(r, c, 0700, 0755);
         ASSERT_EQ(::chown(c.c_str(), other_user, other_user), 0);
     },
     "class", "belongs to user 65534"},
};

class registry_folder : public registry, public ::testing::WithParamInterface<folder_case> {};

TEST_P(registry_folder, is_refused_with_its_path_and_what_is_wrong_and_none_of_its_devices_is_found) {
    const folder_case& c = GetParam();
    if (c.needs_root && ::geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    c.make(root, cls);
    // One of our own sockets where the host would look.
    if (fs::is_directory(cls)) plant_socket(cls + "/ecu0");

    const std::string path = std::string(c.refused) == "root" ? root : cls;
    const std::string text = prepare_registry(cls);
    EXPECT_NE(text.find("Device registry refused: " + path + " " + c.what), std::string::npos) << text;

    const registry_devices found = present_devices(ecu_interface_class);
    EXPECT_TRUE(found.paths.empty());
    EXPECT_EQ(found.refusals, std::vector<std::string>{text});
    const usb::device_search search = usb::first_present_device(ecu_interface_class);
    EXPECT_EQ(search.outcome, usb::device_search::no_device);
    EXPECT_EQ(search.refusals, std::vector<std::string>{text});
}

INSTANTIATE_TEST_SUITE_P(cases, registry_folder, ::testing::ValuesIn(folder_cases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(registry, missing_folders_are_made_for_this_user_alone) {
    EXPECT_EQ(prepare_registry(cls), "");
    EXPECT_EQ(mode_of(root), 0700u);
    EXPECT_EQ(mode_of(cls), 0700u);
    // A folder of ours that others may read but not write is used as it is.
    ::chmod(root.c_str(), 0755);
    EXPECT_EQ(prepare_registry(cls), "");
    EXPECT_EQ(mode_of(root), 0755u);
}

TEST_F(registry, sockets_of_another_user_and_links_are_refused_one_by_one) {
    ASSERT_EQ(prepare_registry(cls), "");
    plant_socket(cls + "/ecu1");
    fs::create_symlink(cls + "/ecu1", cls + "/ecu0");
    std::ofstream(cls + "/notes.txt") << "not a device, and no refusal";
    std::vector<std::string> refused = {"Device registry refused: " + cls + "/ecu0 is a symbolic link."};
    if (::geteuid() == 0) {
        plant_socket(cls + "/ecu2");
        ASSERT_EQ(::lchown((cls + "/ecu2").c_str(), other_user, other_user), 0);
        refused.push_back("Device registry refused: " + cls + "/ecu2 belongs to user 65534");
    }
    const registry_devices found = present_devices(ecu_interface_class);
    EXPECT_EQ(found.paths, std::vector<std::string>{cls + "/ecu1"});
    ASSERT_EQ(found.refusals.size(), refused.size());
    for (std::size_t i = 0; i < refused.size(); ++i)
        EXPECT_EQ(found.refusals[i].rfind(refused[i], 0), 0u) << found.refusals[i];
    EXPECT_EQ(usb::first_present_device(ecu_interface_class).path, cls + "/ecu1");
}

}  // namespace
}  // namespace qx::platform
