// The virtual ECU as a USB device of the virtual device registry: a SOCK_SEQPACKET socket in
// the interface class folder, one host connection at a time, one message per bulk transfer
// (framing in usb_framing.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ecusim/ecu_model.h"
#include "ecusim/usb_framing.h"

namespace ecusim {

class usb_device {
public:
    // class_dir: the registry folder of the interface class; name: the socket's file name.
    usb_device(ecu_config cfg, std::string class_dir, std::string name = "ecusim0", std::string state_file = {});
    ~usb_device();
    usb_device(const usb_device&) = delete;
    usb_device& operator=(const usb_device&) = delete;

    // Answers with `r` instead of the model; before start().
    void answer_with(std::shared_ptr<usb_responder> r) { responder_ = std::move(r); }
    // Plugs in and serves on a thread of its own until stop().
    void start();
    void stop();
    // unplug returns once the socket is gone, plug once it is present or could not be made
    // (plugged() tells; a refused registry or a live device of the same name keeps it out).
    void unplug();
    void plug();
    bool plugged() const;
    std::string path() const { return class_dir_ + "/" + name_; }

    // Runs f on the model while no command is being processed.
    template <class F>
    auto inspect(F f) {
        std::lock_guard lock(mutex_);
        return f(model_);
    }
    // Waits until pred holds for the model (checked after every command and plug change).
    bool wait_for(const std::function<bool(const ecu&)>& pred, std::chrono::milliseconds timeout);
    bool wait_plugged(bool present, std::chrono::milliseconds timeout);
    void set_faults(fault_plan plan);
    void write_state();

private:
    void serve();
    void serve_message(std::span<const std::uint8_t> msg, bool truncated);
    void answer(const usb_answer& a);
    void do_plug();
    void replug();
    void do_unplug();
    void reset_framing();
    void wake();
    // The transfers of one answer, queued on the connection in one call, so that nothing the
    // host does between two of them can come before the last (a duplicated answer arrives
    // whole).
    void send_messages(const std::vector<bytes>& transfers);

    std::string class_dir_, name_, state_file_;
    ecu model_;
    mutable std::mutex mutex_;  // the model and the control requests
    std::condition_variable changed_;
    std::thread thread_;
    int wake_fd_ = -1;
    int listen_fd_ = -1;
    int conn_fd_ = -1;
    usb_framing framing_;
    std::shared_ptr<usb_responder> responder_;
    bool running_ = false;
    bool is_plugged_ = false;
    // Requests to the serving thread and its acknowledgements.
    enum class request { none, plug, unplug, stop };
    request pending_ = request::none;
    std::uint64_t requests_ = 0, done_ = 0;
    std::optional<std::chrono::steady_clock::time_point> replug_at_;
};

// A registry of its own in a fresh temporary folder, named by TRELINK_DEVICE_DIR while it
// lives, with one virtual ECU plugged in: for tests in the same process as the host.
class virtual_ecu {
public:
    explicit virtual_ecu(ecu_config cfg = {}, std::string state_file = {});
    ~virtual_ecu();
    usb_device& device() { return *device_; }
    const std::string& registry_root() const { return root_; }

private:
    std::string root_;
    std::optional<std::string> previous_env_;
    std::unique_ptr<usb_device> device_;
};

}  // namespace ecusim
