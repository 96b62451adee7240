// The virtual ECU as a real USB device: a configfs gadget with one FunctionFS function, bound
// to a USB device controller (on a test machine, dummy_hcd's). One interface, one bulk OUT and
// one bulk IN endpoint, the framing of usb_framing.h: one host OUT transfer is one message,
// the response header and each data piece are bulk IN transfers of their own.
//
// Three threads: ep0 events (enable, disable), bulk OUT (reads and processes commands) and
// bulk IN (writes answers from a queue), so that a host that has not read an answer yet never
// keeps the next command from being read. Unplugging unbinds the gadget from its controller,
// plugging binds it again; a reset answers, waits until the host has read the answer, unbinds,
// and binds again as a boot loader after the ECU's replug time.
//
// Needs root, configfs with libcomposite and usb_f_fs, and a device controller.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ecusim/ecu_model.h"
#include "ecusim/usb_framing.h"

namespace ecusim {

struct gadget_config {
    std::string name = "ecusim0";  // the configfs gadget and the FunctionFS instance
    std::string udc;               // device controller; empty: the first one present
    std::uint16_t vendor = 0x1209;  // pid.codes test vendor:product
    std::uint16_t product = 0x0001;
    std::string configfs = "/sys/kernel/config";
    std::string ffs_dir;  // FunctionFS mount point; empty: /run/ecusim/ffs-<name>
};

class usb_gadget {
public:
    usb_gadget(ecu_config cfg, gadget_config g, std::string state_file = {});
    ~usb_gadget();
    usb_gadget(const usb_gadget&) = delete;
    usb_gadget& operator=(const usb_gadget&) = delete;

    // Answers with `r` instead of the model; before start().
    void answer_with(std::shared_ptr<usb_responder> r) { responder_ = std::move(r); }
    // Builds the gadget, starts serving and binds it. Throws std::runtime_error naming what
    // is missing.
    void start();
    // Unbinds and removes the gadget.
    void stop();
    void unplug();
    void plug();
    // "<controller> vvvv:pppp"
    std::string path() const;

private:
    struct in_transfer {
        bytes data;
        std::uint64_t session;
    };
    void setup_configfs();
    void setup_functionfs();
    void teardown();
    void set_bound(bool bound);
    void events();
    void read_commands();
    void write_answers();
    void timers();
    void handle(const usb_answer& a, std::uint64_t session);
    void replug_in(unsigned ms);
    void wait_drained(std::uint64_t session);
    void write_state();

    gadget_config g_;
    std::string state_file_, gadget_dir_, function_dir_;
    bool mounted_ = false;
    int ep0_ = -1, ep_out_ = -1, ep_in_ = -1;
    std::size_t max_packet_ = 512;

    std::mutex model_mutex_;  // the model and the framing
    ecu model_;
    usb_framing framing_;
    std::shared_ptr<usb_responder> responder_;

    std::mutex bind_mutex_;  // writes to the controller file
    bool bound_ = false;

    std::mutex mutex_;  // everything below
    std::condition_variable cv_;
    bool stopping_ = false;
    bool enabled_ = false;
    std::uint64_t session_ = 0;  // counts enables: answers of an earlier session are dropped
    std::deque<in_transfer> queue_;
    bool writing_ = false;
    std::optional<std::chrono::steady_clock::time_point> replug_at_;
    bool ended_[3] = {};  // ep0, OUT and IN threads have returned

    std::thread ep0_thread_, out_thread_, in_thread_, timer_thread_;
    bool running_ = false;
};

}  // namespace ecusim
