// SIGINT, SIGTERM and SIGHUP. During a job the first one stops it at its next exchange
// boundary: the exchange under way gets its answer, none starts after it, and the job ends
// through its own failure paths (its temporary files go with them), telling "Stopped by
// SIGTERM." and exiting with 128 + the signal's number. A second signal ends the process at
// once. Outside a job they end the process as they always did.
#pragma once

#include <functional>
#include <list>
#include <string>

namespace qx::console {

// Blocks the three signals (every thread started later inherits that) and starts the thread
// that takes them. Call first in main, before any other thread exists.
void catch_stop_signals();

// While one lives a job runs: a signal stops it instead of ending the process.
class job_scope {
public:
    job_scope();
    ~job_scope();
    job_scope(const job_scope&) = delete;
    job_scope& operator=(const job_scope&) = delete;
};

// While one lives, a stop calls `f` on the signal thread (at once when the stop came first):
// for a wait that no exchange ends, such as one for an ECU to arrive.
class on_stop {
public:
    explicit on_stop(std::function<void()> f);
    ~on_stop();
    on_stop(const on_stop&) = delete;
    on_stop& operator=(const on_stop&) = delete;

private:
    std::list<std::function<void()>>::iterator at_;
};

// The signal that stopped the job; 0 when none did.
int stop_signal();
// "Stopped by SIGTERM." once a signal stopped the job, else empty.
std::string stop_text();
// The exit status of a job that would end with `exit`: 128 + the signal's number once a
// signal stopped it.
int stopped_exit(int exit);

}  // namespace qx::console
