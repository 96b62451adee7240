// The files the console keeps (a log download in file-system and raw mode, a core dump, the raw
// log disk's diagnostics), with `flashdesk` and `ecusim usb` as processes of their own: created
// 0600 whatever the umask, a replaced file keeps its mode and owner, the bytes reach the disk
// before the name does; and a failure leaves the target as it was and no temporary file, and
// sends nothing when the file could not be made at all.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/faults/bounded_process.h"

namespace qx::faults {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct kept_job {
    const char* name;
    std::vector<std::string> ecusim;   // "@log" is the log file the ECU holds
    std::vector<std::string> command;  // the target follows
};

const kept_job jobs[] = {
    {"logs_get", {"--log-file", "@log"}, {"logs", "get", "0"}},
    {"logs_get_raw", {"--raw-logging", "--raw-file", "@log"}, {"logs", "get", "0"}},
    {"coredump", {}, {"coredump"}},
    {"logs_diagnose", {"--raw-logging", "--raw-file", "@log"}, {"logs", "diagnose"}},
};

const kept_job& job_named(const std::string& name) {
    return *std::find_if(std::begin(jobs), std::end(jobs), [&](const kept_job& j) { return name == j.name; });
}

std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && ::access((fs::path(folder) / name).c_str(), X_OK) == 0) return (fs::path(folder) / name).string();
    return {};
}

class umask_zero {
public:
    umask_zero() : old_(::umask(0)) {}
    ~umask_zero() { ::umask(old_); }

private:
    mode_t old_;
};

class kept_file_run : public ::testing::Test {
protected:
    void SetUp() override {
        dir = make_short_temp_dir("fdk");
        fs::create_directories(dir / "registry");
        fs::create_directories(dir / "out");
        std::string log;
        for (int i = 0; i < 5000; ++i) log.push_back(char('A' + i % 26));
        std::ofstream(dir / "REPORT.TXT", std::ios::binary) << log;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    struct outcome {
        process_end flashdesk;
        std::size_t exchanges = 0;  // commands the ECU received
    };

    // `prefix`: a program that runs flashdesk (strace).
    outcome run(const kept_job& j, const fs::path& target, const std::string& fault_plan = "",
                std::vector<std::string> prefix = {}) {
        const std::map<std::string, std::string> env{{"TRELINK_DEVICE_DIR", (dir / "registry").string()}};
        std::vector<std::string> sim{"usb", "--mode", "app", "--state", (dir / "state.json").string()};
        for (const std::string& a : j.ecusim) sim.push_back(a == "@log" ? (dir / "REPORT.TXT").string() : a);
        if (!fault_plan.empty()) sim.insert(sim.end(), {"--faults", fault_plan});
        outcome o;
        {
            ecusim_server ecu(ECUSIM_PATH, sim, env);
            prefix.push_back(FLASHDESK_PATH);
            prefix.insert(prefix.end(), j.command.begin(), j.command.end());
            prefix.insert(prefix.end(), {target.string(), "--answer-timeout", "2"});
            o.flashdesk = run_bounded(prefix, env, dir / "flashdesk.out", 60s);
        }
        o.exchanges = nlohmann::json::parse(read_text(dir / "state.json")).at("command_codes").size();
        return o;
    }

    std::vector<std::string> left_in_out() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir / "out")) names.push_back(e.path().filename().string());
        return names;
    }
    fs::path target() const { return dir / "out" / "kept"; }

    fs::path dir;
};

struct stat stat_of(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st;
}

class kept_file : public kept_file_run, public ::testing::WithParamInterface<std::string> {};

// Traced by strace where it can trace: the file's fsync, its rename, then the folder's fsync.
TEST_P(kept_file, is_created_0600_and_reaches_the_disk_before_its_name) {
    const kept_job& j = job_named(GetParam());
    const umask_zero open_umask;
    const std::string strace = find_program("strace");
    const fs::path trace = dir / "trace.txt";
    std::string untraced = "strace is not installed (scripts/install-deps.sh installs it)";
    outcome o;
    if (!strace.empty()) {
        // LeakSanitizer refuses to run under ptrace.
        const char* asan = std::getenv("ASAN_OPTIONS");
        o = run(j, target(), "",
                {strace, "-f", "-qq", "-y", "-e", "trace=fsync,fdatasync,rename,renameat,renameat2", "-o",
                 trace.string(), "-E", "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":detect_leaks=0"});
        if (o.flashdesk.exit_code != 0 && o.flashdesk.output.find("strace: ") != std::string::npos)
            untraced = "strace cannot trace here: " + o.flashdesk.output;
        else untraced.clear();
    }
    if (!untraced.empty()) o = run(j, target());
    ASSERT_EQ(o.flashdesk.exit_code, 0) << o.flashdesk.output;
    EXPECT_EQ(stat_of(target()).st_mode & 07777, 0600u);
    EXPECT_EQ(left_in_out(), std::vector<std::string>{"kept"});
    if (!untraced.empty()) GTEST_SKIP() << untraced;

    const std::string out = fs::canonical(dir / "out").string();
    std::vector<std::string> lines;
    std::istringstream in(read_text(trace));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    auto first = [&](auto&& match) { return std::find_if(lines.begin(), lines.end(), match) - lines.begin(); };
    const auto temp_synced = first([&](const std::string& l) {
        return l.find("fsync(") != std::string::npos && l.find("<" + out + "/.kept.part-") != std::string::npos &&
               l.ends_with(" = 0");
    });
    const auto renamed = first([&](const std::string& l) {
        return l.find("rename") != std::string::npos && l.find("/.kept.part-") != std::string::npos &&
               l.find("\"" + target().string() + "\"") != std::string::npos && l.ends_with(" = 0");
    });
    const auto folder_synced = first([&](const std::string& l) {
        return l.find("fsync(") != std::string::npos && l.find("<" + out + ">)") != std::string::npos &&
               l.ends_with(" = 0");
    });
    EXPECT_LT(temp_synced, renamed) << read_text(trace);
    EXPECT_LT(renamed, folder_synced) << read_text(trace);
    EXPECT_LT(folder_synced, std::ptrdiff_t(lines.size())) << read_text(trace);
}

// Another user's file, readable by its group: root hands it back as it was.
TEST_P(kept_file, replacing_a_file_keeps_its_mode_and_owner) {
    const umask_zero open_umask;
    std::ofstream(target()) << "older";
    ASSERT_EQ(::chmod(target().c_str(), 0640), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(target().c_str(), 65534, 65534), 0);
    }
    const struct stat before = stat_of(target());
    const outcome o = run(job_named(GetParam()), target());
    ASSERT_EQ(o.flashdesk.exit_code, 0) << o.flashdesk.output;
    const struct stat after = stat_of(target());
    EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not written through
    EXPECT_NE(read_text(target()), "older");
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(left_in_out(), std::vector<std::string>{"kept"});
}

INSTANTIATE_TEST_SUITE_P(jobs, kept_file, ::testing::Values("logs_get", "logs_get_raw", "coredump", "logs_diagnose"));

enum class before { absent, older, link_to_victim, no_folder };

struct failure_case {
    const char* name;
    const char* job;
    std::string fault_plan;
    before target;
    std::string text;  // says which, in the output
};

void PrintTo(const failure_case& c, std::ostream* out) { *out << c.name; }

class kept_file_failure : public kept_file_run, public ::testing::WithParamInterface<failure_case> {};

TEST_P(kept_file_failure, leaves_the_target_as_it_was) {
    const failure_case& c = GetParam();
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "victim";
    const fs::path t = c.target == before::no_folder ? dir / "out" / "missing" / "kept" : target();
    if (c.target == before::older) std::ofstream(t) << "older";
    if (c.target == before::link_to_victim) fs::create_symlink(victim, t);

    const outcome o = run(job_named(c.job), t, c.fault_plan);
    ASSERT_TRUE(o.flashdesk.exit_code.has_value()) << o.flashdesk.output;
    EXPECT_EQ(*o.flashdesk.exit_code, 1) << o.flashdesk.output;
    std::string text = c.text;
    if (const auto at = text.find("@target"); at != std::string::npos) text.replace(at, 7, t.string());
    EXPECT_NE(o.flashdesk.output.find(text), std::string::npos) << o.flashdesk.output;
    EXPECT_EQ(o.flashdesk.output.find("SUCCESS!"), std::string::npos) << o.flashdesk.output;
    EXPECT_EQ(read_text(victim), "victim");
    switch (c.target) {
        case before::absent:
        case before::no_folder: EXPECT_TRUE(left_in_out().empty()); break;
        case before::older:
            EXPECT_EQ(left_in_out(), std::vector<std::string>{"kept"});
            EXPECT_EQ(read_text(t), "older");
            break;
        case before::link_to_victim:
            EXPECT_EQ(left_in_out(), std::vector<std::string>{"kept"});
            EXPECT_TRUE(fs::is_symlink(t));
            break;
    }
    // A file that could not be kept at all is known before the first exchange.
    if (c.target == before::link_to_victim || c.target == before::no_folder) {
        EXPECT_EQ(o.exchanges, 0u) << o.flashdesk.output;
    }
}

constexpr const char* where = "ERROR!: LogTestDlg::OnBnClickedButtonLogtestReadandsave ";

INSTANTIATE_TEST_SUITE_P(
    faults, kept_file_failure,
    ::testing::Values(
        // LOG_READ_FILE (39): the ECU ends after the first read, or sends the first read twice.
        failure_case{"log_cut_short", "logs_get", "code=39#2:eof", before::older,
                     where + std::string("File ended after 3584 of its 5000 bytes")},
        failure_case{"log_ended_at_once", "logs_get", "code=39#1:eof", before::absent,
                     where + std::string("File ended after 0 of its 5000 bytes")},
        failure_case{"log_read_twice", "logs_get", "code=39#1:reread", before::older,
                     where + std::string("File sent more than its 5000 bytes")},
        // LOG_READ_RAW_LBA (44): the disk header, the file header, then the first group's.
        failure_case{"diagnostics_cut_short", "logs_diagnose", "code=44#3:status=0x8001", before::older,
                     "ERROR!: diagnostics_outfile not saved: the walk ended at a failed read"},
        failure_case{"diagnostics_through_a_link", "logs_diagnose", "", before::link_to_victim,
                     "Error: @target is not a regular file"},
        failure_case{"core_dump_into_a_missing_folder", "coredump", "", before::no_folder,
                     "Error: cannot create a file beside @target: No such file or directory"}),
    [](const ::testing::TestParamInfo<failure_case>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace qx::faults
