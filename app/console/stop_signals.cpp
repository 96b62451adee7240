#include "app/console/stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "core/connection_manager.h"

namespace qx::console {

namespace {

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Never destroyed: the signal thread may still use them while the process exits.
struct shared_state {
    std::mutex mutex;
    int jobs = 0;
    std::list<std::function<void()>> hooks;
};
shared_state& shared() {
    static shared_state* s = new shared_state;
    return *s;
}

std::atomic<int> stopped_by{0};

const char* name_of(int s) {
    switch (s) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
    }
    return "a signal";
}

// The signal's own action, from the signal thread: the process ends by it.
void end_by(int s) {
    ::signal(s, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, s);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(s);
    ::_exit(128 + s);
}

void take(int s) {
    shared_state& state = shared();
    std::unique_lock lock(state.mutex);
    if (state.jobs == 0) {
        lock.unlock();
        end_by(s);
    }
    if (stopped_by != 0) ::_exit(128 + s);
    stopped_by = s;
    connection_manager::stop_exchanges();
    const std::string note = std::string("flashdesk: ") + name_of(s) +
                             ": stopping (an exchange under way gets its answer first); a second signal ends at once.\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, note.data(), note.size());
    for (const auto& f : state.hooks) f();
}

}  // namespace

void catch_stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : stop_signals) sigaddset(&set, s);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        for (;;) {
            int s = 0;
            if (::sigwait(&set, &s) == 0) take(s);
        }
    }).detach();
}

job_scope::job_scope() {
    std::lock_guard lock(shared().mutex);
    ++shared().jobs;
}

job_scope::~job_scope() {
    std::lock_guard lock(shared().mutex);
    --shared().jobs;
}

on_stop::on_stop(std::function<void()> f) {
    std::lock_guard lock(shared().mutex);
    at_ = shared().hooks.insert(shared().hooks.end(), std::move(f));
    if (stopped_by != 0) (*at_)();
}

on_stop::~on_stop() {
    std::lock_guard lock(shared().mutex);
    shared().hooks.erase(at_);
}

int stop_signal() { return stopped_by; }

std::string stop_text() {
    const int s = stopped_by;
    return s ? std::string("Stopped by ") + name_of(s) + "." : std::string();
}

int stopped_exit(int exit) {
    const int s = stopped_by;
    return s ? 128 + s : exit;
}

}  // namespace qx::console
