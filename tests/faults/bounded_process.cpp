#include "tests/faults/bounded_process.h"

#include <fcntl.h>
#include <stdlib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qx::faults {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

namespace {

using clock = std::chrono::steady_clock;

std::vector<std::string> environment_with(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) all[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : extra) all[k] = v;
    std::vector<std::string> out;
    for (const auto& [k, v] : all) out.push_back(k + "=" + v);
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> p;
    for (auto& w : words) p.push_back(w.data());
    p.push_back(nullptr);
    return p;
}

// Starts argv[0] with its standard output on `out_fd`, its standard error on `err_fd`.
pid_t spawn(std::vector<std::string> argv, const std::map<std::string, std::string>& env,
            int out_fd, int err_fd) {
    std::vector<std::string> envp = environment_with(env);
    auto arg_ptrs = pointers(argv);
    auto env_ptrs = pointers(envp);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
    pid_t pid = -1;
    const int rc =
        posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, arg_ptrs.data(), env_ptrs.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    return pid;
}

// Waits for the child until `deadline`; its wait status, or nothing when it still runs.
std::optional<int> wait_until(pid_t pid, clock::time_point deadline) {
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) throw std::runtime_error(std::string("pidfd_open: ") + std::strerror(errno));
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        pollfd p{pidfd, POLLIN, 0};
        const int n = ::poll(&p, 1, int(std::max<long long>(0, left)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid) {
            ::close(pidfd);
            return status;
        }
    }
    ::close(pidfd);
    return std::nullopt;
}

std::string read_all(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

running_process::running_process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                                 const std::filesystem::path& out_file, const std::filesystem::path& err_file)
    : out_file_(out_file), err_file_(err_file) {
    const auto open_file = [](const std::filesystem::path& p) {
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) throw std::runtime_error("cannot write " + p.string());
        return fd;
    };
    const int out_fd = open_file(out_file);
    const int err_fd = err_file.empty() ? out_fd : open_file(err_file);
    start_ = clock::now();
    try {
        pid_ = spawn(argv, env, out_fd, err_fd);
    } catch (...) {
        ::close(out_fd);
        if (err_fd != out_fd) ::close(err_fd);
        throw;
    }
    ::close(out_fd);
    if (err_fd != out_fd) ::close(err_fd);
}

running_process::~running_process() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int s = 0;
        ::waitpid(pid_, &s, 0);
    }
}

void running_process::signal(int s) const {
    if (pid_ > 0) ::kill(pid_, s);
}

process_end running_process::wait(std::chrono::milliseconds bound) {
    process_end end;
    std::optional<int> status = wait_until(pid_, start_ + bound);
    if (!status) {
        end.over_bound = true;
        ::kill(pid_, SIGKILL);
        int s = 0;
        ::waitpid(pid_, &s, 0);
    } else if (WIFEXITED(*status)) {
        end.exit_code = WEXITSTATUS(*status);
    }
    pid_ = -1;
    end.took = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start_);
    end.output = read_all(out_file_);
    if (!err_file_.empty()) end.errors = read_all(err_file_);
    return end;
}

bool wait_for(const std::filesystem::path& dir, const std::function<bool()>& condition,
              std::chrono::milliseconds bound) {
    const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0 || ::inotify_add_watch(fd, dir.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE) < 0)
        throw std::runtime_error("cannot watch " + dir.string() + ": " + std::strerror(errno));
    const auto deadline = clock::now() + bound;
    bool met = condition();
    while (!met) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left)) > 0) {
            char events[4096];
            while (::read(fd, events, sizeof events) > 0) {
            }
        }
        met = condition();
    }
    ::close(fd);
    return met;
}

process_end run_bounded(const std::vector<std::string>& argv,
                        const std::map<std::string, std::string>& env,
                        const std::filesystem::path& out_file, std::chrono::milliseconds bound,
                        const std::filesystem::path& err_file) {
    return running_process(argv, env, out_file, err_file).wait(bound);
}

ecusim_server::ecusim_server(const std::string& program, const std::vector<std::string>& args,
                             const std::map<std::string, std::string>& env) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    try {
        pid_ = spawn(argv, env, fds[1], fds[1]);
    } catch (...) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw;
    }
    ::close(fds[1]);
    out_fd_ = fds[0];
    // The banner comes at once; a bound keeps a broken start from hanging the test.
    const auto deadline = clock::now() + std::chrono::seconds(20);
    while (banner_.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        pollfd p{out_fd_, POLLIN, 0};
        char buf[256];
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0) break;
        const ssize_t n = ::read(out_fd_, buf, sizeof buf);
        if (n <= 0) break;
        banner_.append(buf, std::size_t(n));
    }
    if (banner_.find("plugged in at") == std::string::npos) {
        stop();
        throw std::runtime_error("ecusim did not start: " + banner_);
    }
}

ecusim_server::~ecusim_server() {
    stop();
}

void ecusim_server::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        std::optional<int> status = wait_until(pid_, clock::now() + std::chrono::seconds(20));
        if (!status) {
            ::kill(pid_, SIGKILL);
            int s = 0;
            ::waitpid(pid_, &s, 0);
        } else if (WIFEXITED(*status)) {
            exit_code_ = WEXITSTATUS(*status);
        }
        pid_ = -1;
    }
    if (out_fd_ >= 0) {
        // The process has ended: the pipe holds the rest of what it printed.
        char buf[4096];
        for (ssize_t n; (n = ::read(out_fd_, buf, sizeof buf)) > 0;) output_.append(buf, std::size_t(n));
        ::close(out_fd_);
    }
    out_fd_ = -1;
}

std::filesystem::path make_short_temp_dir(const std::string& prefix) {
    std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    return tmpl;
}

}  // namespace qx::faults
