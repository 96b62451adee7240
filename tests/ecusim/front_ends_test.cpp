// One exchange with each front-end of the virtual ECU through the real libTrelink.so.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ecusim/usb_device.h"
#include "platform/serial/pty.h"
#include "transfer/trelink.h"

extern char** environ;

namespace {

struct target_version {
    std::uint32_t firmware_version = 0xFFFFFFFF;
    std::uint32_t transferstructs_version = 0xFFFFFFFF;
};

// GET_TARGET_VERSION through the open link; the library's status.
int read_version(target_version& v, std::uint16_t& returned) {
    returned = 0;
    return KesSendCommand(0, nullptr, 0, &v, sizeof v, &returned);
}

// A fresh folder for a registry, named by TRELINK_DEVICE_DIR while it lives.
std::string fresh_registry_root() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ecusim-e2e-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    ::setenv("TRELINK_DEVICE_DIR", tmpl.c_str(), 1);
    return tmpl;
}

// `ecusim` as a process of its own, with its registry in a fresh folder, or in `shared_root`,
// which another one made.
class ecusim_process {
public:
    explicit ecusim_process(std::vector<std::string> args, std::string shared_root = {})
        : root_(shared_root.empty() ? fresh_registry_root() : shared_root), owns_root_(shared_root.empty()) {
        pid_ = spawn(args, &out_fd_, nullptr);
    }
    ~ecusim_process() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int st = 0;
            ::waitpid(pid_, &st, 0);
        }
        if (out_fd_ >= 0) ::close(out_fd_);
        if (!owns_root_) return;
        ::unsetenv("TRELINK_DEVICE_DIR");
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    const std::string& root() const { return root_; }
    // The next line the process prints (blocks until it does); empty at its end.
    std::string next_line() {
        std::string line;
        char c;
        while (::read(out_fd_, &c, 1) == 1) {
            if (c == '\n') return line;
            line.push_back(c);
        }
        return line;
    }
    // Runs `ecusim ARGS` to its end; its exit status (and what it said on standard error).
    static int run(std::vector<std::string> args, std::string* errors = nullptr) {
        int err_fd = -1;
        const pid_t pid = spawn(std::move(args), nullptr, errors ? &err_fd : nullptr);
        if (errors) {
            char c;
            while (::read(err_fd, &c, 1) == 1) errors->push_back(c);
            ::close(err_fd);
        }
        int st = 0;
        ::waitpid(pid, &st, 0);
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    // Stops it with SIGTERM; its exit status.
    int stop() {
        ::kill(pid_, SIGTERM);
        int st = 0;
        ::waitpid(pid_, &st, 0);
        pid_ = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }

private:
    // Standard output and standard error each into a pipe when asked for.
    static pid_t spawn(std::vector<std::string> args, int* out_fd, int* err_fd) {
        args.insert(args.begin(), ECUSIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        std::pair<int*, int> wanted[] = {{out_fd, STDOUT_FILENO}, {err_fd, STDERR_FILENO}};
        int write_ends[2] = {-1, -1};
        for (std::size_t i = 0; i < 2; ++i) {
            if (!wanted[i].first) continue;
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
            posix_spawn_file_actions_adddup2(&actions, fds[1], wanted[i].second);
            *wanted[i].first = fds[0];
            write_ends[i] = fds[1];
        }
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, ECUSIM_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        for (const int fd : write_ends)
            if (fd >= 0) ::close(fd);
        if (rc != 0) throw std::runtime_error("cannot start " ECUSIM_PATH);
        return pid;
    }

    std::string root_;
    bool owns_root_ = true;
    pid_t pid_ = -1;
    int out_fd_ = -1;
};

TEST(ecusim_usb, in_process_device_answers_target_version_through_the_usb_link) {
    ecusim::ecu_config cfg;
    cfg.mode = ecusim::ecu_mode::app;
    cfg.firmware_version = 0x0A0B0C0D;
    ecusim::virtual_ecu ecu(cfg);
    ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_USB, nullptr), 0);
    target_version v;
    std::uint16_t returned = 0;
    EXPECT_EQ(read_version(v, returned), 0);
    EXPECT_EQ(returned, 8);
    EXPECT_EQ(v.transferstructs_version, 95u);
    EXPECT_EQ(v.firmware_version, 0x0A0B0C0Du);
    KesCloseInterfaces(TRELINK_LINK_USB);
}

TEST(ecusim_usb, separate_process_in_boot_mode_answers_version_0_and_unplugs_on_request) {
    ecusim_process ecu({"usb", "--mode", "boot", "--serial", "0a0b0c0d"});
    const std::string banner = ecu.next_line();
    ASSERT_NE(banner.find("plugged in at"), std::string::npos) << banner;

    ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_USB, nullptr), 0);
    target_version v;
    std::uint16_t returned = 0;
    EXPECT_EQ(read_version(v, returned), 0);
    EXPECT_EQ(returned, 8);
    EXPECT_EQ(v.transferstructs_version, 0u);

    // Unplugged, the open link fails; plugged in again, a fresh link works.
    ASSERT_EQ(ecusim_process::run({"unplug"}), 0);
    EXPECT_EQ(ecu.next_line(), "ecusim: unplugged");
    EXPECT_NE(read_version(v, returned), 0);
    KesCloseInterfaces(TRELINK_LINK_USB);
    EXPECT_NE(KesInitializeInterfaces(TRELINK_LINK_USB, nullptr), 0);

    ASSERT_EQ(ecusim_process::run({"plug"}), 0);
    EXPECT_EQ(ecu.next_line(), "ecusim: plugged in");
    ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_USB, nullptr), 0);
    v = {};
    EXPECT_EQ(read_version(v, returned), 0);
    EXPECT_EQ(v.transferstructs_version, 0u);
    KesCloseInterfaces(TRELINK_LINK_USB);
    EXPECT_EQ(ecu.stop(), 0);
}

// Without --name each `ecusim usb` takes the next free name; a name that a running one holds
// is refused, and `ecusim unplug --name` reaches only its own ECU.
TEST(ecusim_usb, a_second_one_takes_the_next_free_name_and_never_replaces_a_live_device) {
    ecusim_process first({"usb", "--serial", "0a0b0c0d"});
    ASSERT_NE(first.next_line().find("/ecusim0"), std::string::npos);
    ecusim_process second({"usb", "--serial", "01020304"}, first.root());
    ASSERT_NE(second.next_line().find("/ecusim1"), std::string::npos);

    std::string errors;
    EXPECT_EQ(ecusim_process::run({"usb", "--name", "ecusim0"}, &errors), 1);
    EXPECT_NE(errors.find("ecusim0 is taken by a running ecusim"), std::string::npos) << errors;

    ASSERT_EQ(ecusim_process::run({"unplug", "--name", "ecusim1"}), 0);
    EXPECT_EQ(second.next_line(), "ecusim: unplugged");
    const std::string class_dir = first.root() + "/{4B916034-47F5-4765-BECA-716DAE788135}";
    EXPECT_TRUE(std::filesystem::exists(class_dir + "/ecusim0"));
    EXPECT_FALSE(std::filesystem::exists(class_dir + "/ecusim1"));
}

// `ecusim unplug` asks a running ecusim of this user through its control socket; a process
// id in a file of the registry is nobody's word.
TEST(ecusim_usb, unplug_never_signals_a_process_a_file_names) {
    const std::string root = fresh_registry_root();
    const pid_t bystander = ::fork();
    if (bystander == 0) {
        ::pause();
        ::_exit(0);
    }
    std::ofstream(root + "/ecusim0.pid") << bystander << '\n';
    std::string errors;
    EXPECT_EQ(ecusim_process::run({"unplug"}, &errors), 1);
    EXPECT_NE(errors.find("no running `ecusim usb` or `ecusim gadget` named ecusim0"), std::string::npos) << errors;
    int st = 0;
    EXPECT_EQ(::waitpid(bystander, &st, WNOHANG), 0) << "the bystander was signalled";
    ::kill(bystander, SIGKILL);
    ::waitpid(bystander, &st, 0);
    ::unsetenv("TRELINK_DEVICE_DIR");
    std::filesystem::remove_all(root);
}

TEST(ecusim_usb, refuses_a_registry_that_others_may_write) {
    const std::string root = fresh_registry_root();
    ::chmod(root.c_str(), 0777);
    std::string errors;
    EXPECT_EQ(ecusim_process::run({"usb"}, &errors), 1);
    EXPECT_NE(errors.find("Device registry refused: " + root + " is writable by its group or by others (mode 0777)"),
              std::string::npos)
        << errors;
    EXPECT_TRUE(std::filesystem::is_empty(root));
    ::unsetenv("TRELINK_DEVICE_DIR");
    std::filesystem::remove_all(root);
}

TEST(ecusim_usb, refuses_a_bad_serial) {
    EXPECT_EQ(ecusim_process::run({"usb", "--serial", "12345"}), 1);
}

// Two pseudo-terminals joined master to master, as a cable joins two serial ports: whatever
// is written to one's slave is read from the other's.
class null_modem {
public:
    null_modem() : relay_([this] { run(); }) {}
    ~null_modem() {
        stop_ = true;
        relay_.join();
    }
    qx::platform::serial::pty a, b;

private:
    void run() {
        char buffer[4096];
        while (!stop_) {
            pollfd p[2] = {{a.master(), POLLIN, 0}, {b.master(), POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & POLLIN)) continue;
                const ssize_t n = ::read(p[i].fd, buffer, sizeof buffer);
                const int to = p[1 - i].fd;
                for (ssize_t done = 0; n > 0 && done < n;) {
                    const ssize_t w = ::write(to, buffer + done, std::size_t(n - done));
                    if (w > 0) {
                        done += w;
                    } else {
                        pollfd q{to, POLLOUT, 0};
                        ::poll(&q, 1, 50);
                    }
                }
            }
        }
    }
    std::atomic<bool> stop_ = false;
    std::thread relay_;
};

struct serial_case {
    const char* name;
    unsigned link;
    bool host_order;
};

class ecusim_serial_device : public ::testing::TestWithParam<serial_case> {};

// `ecusim serial --device` answers on a terminal it did not make; the library reaches it as
// COM1 across the other terminal, through each serial link.
TEST_P(ecusim_serial_device, answers_connection_and_target_version_on_an_existing_terminal) {
    null_modem cable;
    std::vector<std::string> args = {"serial", "--device", cable.a.slave_path(), "--mode", "app"};
    if (GetParam().host_order) args.push_back("--host-order");
    ecusim_process ecu(args);
    const std::string banner = ecu.next_line();
    ASSERT_NE(banner.find("on " + cable.a.slave_path() + " at 57600 bit/s 8N1"), std::string::npos) << banner;

    ::setenv("TRELINK_COM1", cable.b.slave_path().c_str(), 1);
    const unsigned flags = GetParam().link | TRELINK_WCSC_ALTERNATE | TRELINK_SERIAL_COMMAND_PORT | 1u << TRELINK_SERIAL_PORT_SHIFT;
    ASSERT_EQ(KesInitializeInterfaces(flags, nullptr), 0);
    EXPECT_EQ(KesConnectCommandResponseInterface(), 0);
    target_version v;
    std::uint16_t returned = 0;
    EXPECT_EQ(read_version(v, returned), 0);
    EXPECT_EQ(returned, 8);
    EXPECT_EQ(v.transferstructs_version, 95u);
    KesCloseInterfaces(flags);
    ::unsetenv("TRELINK_COM1");
    EXPECT_EQ(ecu.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(links, ecusim_serial_device,
                         ::testing::Values(serial_case{"wcsc_big_endian", TRELINK_LINK_SERIAL_WCSC, false},
                                           serial_case{"communication_functions_host_order", TRELINK_LINK_SERIAL_WINCOMM, true}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(ecusim_serial_device, a_device_that_cannot_be_opened_is_an_error) {
    EXPECT_EQ(ecusim_process::run({"serial", "--device", "/nonexistent/ttyS9"}), 1);
    EXPECT_EQ(ecusim_process::run({"serial"}), 1);
}

// The simulator link's data block: a byte of our own, the library's name, then the options.
std::vector<unsigned char> simulator_data(const std::string& options) {
    std::vector<unsigned char> d{0};
    const std::string path = ECUSIM_LIBRARY_PATH;
    d.insert(d.end(), path.begin(), path.end());
    d.push_back(0);
    d.insert(d.end(), options.begin(), options.end());
    d.push_back(0);
    return d;
}

TEST(ecusim_simulator, library_answers_in_host_order_with_the_options_it_was_started_with) {
    for (const auto& [options, version] : {std::pair<std::string, std::uint32_t>{"--mode boot", 0},
                                           {"--mode app --version 96 --firmware 11223344", 96}}) {
        auto data = simulator_data(options);
        ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_SIMULATOR, data.data()), 0) << options;
        target_version v;
        std::uint16_t returned = 0;
        EXPECT_EQ(read_version(v, returned), 0);
        EXPECT_EQ(returned, 8);
        EXPECT_EQ(v.transferstructs_version, version) << options;
        if (version) {
            EXPECT_EQ(v.firmware_version, 0x11223344u);
        }
        EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_SIMULATOR), 0);
    }
}

TEST(ecusim_simulator, playback_adds_fault_rules_and_refuses_a_bad_plan) {
    auto data = simulator_data("");
    ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_SIMULATOR, data.data()), 0);
    const std::string plan = "code=0:rstatus=0x5A";  // the leading 32 bits: firmware_version
    EXPECT_EQ(KesAppendPlayback(plan.data(), std::uint32_t(plan.size())), 0);
    const std::string bad = "code=0:explode";
    EXPECT_EQ(KesAppendPlayback(bad.data(), std::uint32_t(bad.size())), 1);
    target_version v;
    std::uint16_t returned = 0;
    EXPECT_EQ(read_version(v, returned), 0);
    EXPECT_EQ(v.firmware_version, 0x5Au);
    EXPECT_EQ(KesCloseInterfaces(TRELINK_LINK_SIMULATOR), 0);
}

}  // namespace
