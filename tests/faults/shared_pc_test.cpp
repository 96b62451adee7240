// A workshop PC that several people log in to: another local user prepares the registry root
// that root's `ecusim` and `flashdesk` will use (under sudo that is /tmp/trelink-0, a folder in
// a folder everyone may write; here the same in a folder of the test's own), to make root
// overwrite a file, signal a process of root's choosing or talk to the user's fake ECU. The
// user is made for the test and removed after it.
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/faults/bounded_process.h"

namespace qx::faults {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct local_user {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};

class shared_pc : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0) {
            why_not = "making a second local user needs root";
            return;
        }
        if (!fs::exists("/usr/sbin/useradd") || !fs::exists("/usr/bin/setpriv")) {
            why_not = "useradd or setpriv is missing";
            return;
        }
        const std::string name = "fdsk" + std::to_string(::getpid());
        const fs::path log = fs::temp_directory_path() / (name + ".useradd");
        const process_end made = run_bounded(
            {"/usr/sbin/useradd", "--no-create-home", "--shell", "/usr/sbin/nologin", "--user-group", name}, {}, log, 30s);
        fs::remove(log);
        const passwd* entry = ::getpwnam(name.c_str());
        if (made.exit_code != 0 || !entry) {
            why_not = "useradd could not make a user: " + made.output;
            return;
        }
        attacker = local_user{name, entry->pw_uid, entry->pw_gid};
    }
    static void TearDownTestSuite() {
        if (!attacker) return;
        const fs::path log = fs::temp_directory_path() / (attacker->name + ".userdel");
        run_bounded({"/usr/sbin/userdel", attacker->name}, {}, log, 30s);
        fs::remove(log);
        attacker.reset();
    }

    void SetUp() override {
        if (!attacker) GTEST_SKIP() << why_not;
        dir = make_short_temp_dir("shpc");
        ::chmod(dir.c_str(), 0711);  // others may pass through to the shared folder
        shared = dir / "tmp";
        fs::create_directory(shared);
        ::chmod(shared.c_str(), 01777);
        registry = (shared / "trelink-0").string();
        victim = dir / "victim.txt";  // root's alone
        std::ofstream(victim) << "root's own words\n";
    }
    void TearDown() override {
        if (!dir.empty()) fs::remove_all(dir);
    }

    // `argv` as the other user.
    std::vector<std::string> as_attacker(std::vector<std::string> argv) const {
        std::vector<std::string> all{"/usr/bin/setpriv", "--reuid=" + std::to_string(attacker->uid),
                                     "--regid=" + std::to_string(attacker->gid), "--clear-groups", "--"};
        all.insert(all.end(), argv.begin(), argv.end());
        return all;
    }
    process_end attacker_shell(const std::string& script) const {
        return run_bounded(as_attacker({"/bin/sh", "-c", script}), {}, dir / "attacker.out", 20s);
    }
    // A program of this build as root, with the prepared registry.
    process_end as_root(std::vector<std::string> argv, std::chrono::milliseconds bound = 20s) const {
        return run_bounded(argv, {{"TRELINK_DEVICE_DIR", registry}}, dir / "root.out", bound, dir / "root.err");
    }
    std::string refusal() const {
        return "Device registry refused: " + registry + " belongs to user " + std::to_string(attacker->uid) + " (" +
               attacker->name + ")";
    }
    std::string victim_text() const {
        std::ifstream in(victim);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static inline std::optional<local_user> attacker;
    static inline std::string why_not;
    fs::path dir, shared, victim;
    std::string registry;
};

TEST_F(shared_pc, root_never_writes_through_a_planted_link_nor_signals_a_planted_process) {
    // A root process the attacker would like to see die.
    const pid_t bystander = ::fork();
    if (bystander == 0) {
        ::pause();
        ::_exit(0);
    }
    const process_end planted = attacker_shell("mkdir -m 0777 " + registry + " && ln -s " + victim.string() + " " +
                                               registry + "/ecusim0.pid && echo " + std::to_string(bystander) + " > " +
                                               registry + "/ecusim1.pid");
    ASSERT_EQ(planted.exit_code, 0) << planted.output;

    const process_end plugged = as_root({ECUSIM_PATH, "usb"}, 5s);
    EXPECT_EQ(plugged.exit_code, 1) << plugged.output;
    EXPECT_NE(plugged.errors.find(refusal()), std::string::npos) << plugged.errors;
    EXPECT_EQ(victim_text(), "root's own words\n");

    const process_end unplugged = as_root({ECUSIM_PATH, "unplug", "--name", "ecusim1"});
    EXPECT_EQ(unplugged.exit_code, 1);
    EXPECT_NE(unplugged.errors.find(refusal()), std::string::npos) << unplugged.errors;
    int status = 0;
    EXPECT_EQ(::waitpid(bystander, &status, WNOHANG), 0) << "the bystander was signalled";
    ::kill(bystander, SIGKILL);
    ::waitpid(bystander, &status, 0);
}

TEST_F(shared_pc, roots_flashdesk_never_uses_an_ecu_another_user_planted) {
    const process_end made = attacker_shell("mkdir -m 0755 " + registry);
    ASSERT_EQ(made.exit_code, 0) << made.output;
    ecusim_server fake("/usr/bin/setpriv",
                       {"--reuid=" + std::to_string(attacker->uid), "--regid=" + std::to_string(attacker->gid),
                        "--clear-groups", "--", ECUSIM_PATH, "usb", "--mode", "app", "--serial", "DEADBEEF"},
                       {{"TRELINK_DEVICE_DIR", registry}});

    const process_end info = as_root({FLASHDESK_PATH, "ecu", "info"});
    EXPECT_EQ(info.exit_code, 1);
    EXPECT_EQ(info.output.find("DEADBEEF"), std::string::npos) << info.output;
    EXPECT_NE(info.errors.find(refusal()), std::string::npos) << info.errors;

    const process_end devices = as_root({FLASHDESK_PATH, "devices", "--probe"});
    EXPECT_EQ(devices.exit_code, 1);
    EXPECT_EQ(devices.output, "");
    EXPECT_NE(devices.errors.find(refusal()), std::string::npos) << devices.errors;

    // The update never starts: no ECU arrival can be trusted, and it says why.
    fs::create_directory(dir / "packages");
    std::ofstream(dir / "root.der") << "0";  // read before the watch starts, used only later
    const process_end update = as_root({FLASHDESK_PATH, "update", "--once", "--folder", (dir / "packages").string(),
                                        "--root-cert", (dir / "root.der").string()});
    EXPECT_EQ(update.exit_code, 2) << update.output;
    EXPECT_NE((update.output + update.errors).find(refusal()), std::string::npos) << update.output << update.errors;
    EXPECT_EQ(update.output.find("inotify"), std::string::npos) << update.output;
    EXPECT_EQ(update.output.find("DEADBEEF"), std::string::npos) << update.output;
}

}  // namespace
}  // namespace qx::faults
