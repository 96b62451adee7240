// Programs of this build run as processes of their own, each with its output in a file and a
// bound on its running time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qx::faults {

// A new folder under the temporary directory, its name short enough that the registry's socket
// paths below it fit a Unix socket address.
std::filesystem::path make_short_temp_dir(const std::string& prefix);

// The lines of `text` that are not empty.
std::vector<std::string> lines_of(const std::string& text);

struct process_end {
    std::optional<int> exit_code;  // empty when it was killed or died of a signal
    bool over_bound = false;       // still running at the bound: killed
    std::chrono::milliseconds took{0};
    std::string output;  // standard output and standard error, interleaved
    std::string errors;  // standard error, when it went to a file of its own
};

// `argv` running with `env` added to this process's environment, its output in `out_file`
// (standard error in `err_file` when one is given). Killed when destroyed still running.
class running_process {
public:
    running_process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                    const std::filesystem::path& out_file, const std::filesystem::path& err_file = {});
    ~running_process();
    running_process(const running_process&) = delete;
    running_process& operator=(const running_process&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int s) const;
    // How it ended; killed when it still runs `bound` after its start.
    process_end wait(std::chrono::milliseconds bound);

private:
    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point start_;
    std::filesystem::path out_file_, err_file_;
};

// Waits until `condition` holds, trying it again whenever something in `dir` changes; false
// when `bound` passed first.
bool wait_for(const std::filesystem::path& dir, const std::function<bool()>& condition,
              std::chrono::milliseconds bound);

// Runs `argv` with `env` added to this process's environment, its output into `out_file`
// (standard error into `err_file` when one is given); kills it when it has not ended after
// `bound`.
process_end run_bounded(const std::vector<std::string>& argv,
                        const std::map<std::string, std::string>& env,
                        const std::filesystem::path& out_file, std::chrono::milliseconds bound,
                        const std::filesystem::path& err_file = {});

// `ecusim usb ...` as a process of its own; started once it printed that it is plugged in.
// Stopped (SIGTERM, which writes its state file) by stop() or at destruction.
class ecusim_server {
public:
    ecusim_server(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env);
    ~ecusim_server();
    ecusim_server(const ecusim_server&) = delete;
    ecusim_server& operator=(const ecusim_server&) = delete;

    // Stops it; then its exit status and everything it printed after the banner.
    void stop();
    const std::string& banner() const { return banner_; }
    std::optional<int> exit_code() const { return exit_code_; }
    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    std::string banner_;
    std::optional<int> exit_code_;
    std::string output_;
};

}  // namespace qx::faults
