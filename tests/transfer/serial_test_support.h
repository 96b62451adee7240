// Serial link tests: a virtual ECU on a pseudo-terminal, the boxes the library shows, and a
// watchdog that hangs the line up when an exchange would wait for ever.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ecusim/serial_peer.h"
#include "transfer/messages.h"
#include "transfer/serial/serial_common.h"
#include "transfer/serial/wcsc_link.h"
#include "transfer/serial/wincomm_link.h"
#include "transfer/trelink.h"

namespace qx::test {

using bytes = std::vector<std::uint8_t>;

struct shown_box {
    std::string caption;
    std::string text;
};

// Every box the library shows while alive, with its caption; messages start enabled.
class box_capture {
public:
    box_capture() {
        boxes().clear();
        previous_ = transfer::set_message_sink(&collect);
        EnableErrorMessages(1);
    }
    ~box_capture() {
        transfer::set_message_sink(previous_);
        EnableErrorMessages(1);
    }
    box_capture(const box_capture&) = delete;
    box_capture& operator=(const box_capture&) = delete;

    static std::vector<shown_box>& boxes() {
        static std::vector<shown_box> all;
        return all;
    }
    // The texts of the boxes captioned "ERROR!".
    static std::vector<std::string> errors() {
        std::vector<std::string> texts;
        for (const auto& b : boxes())
            if (b.caption == "ERROR!") texts.push_back(b.text);
        return texts;
    }

private:
    static void collect(std::string_view caption, std::string_view text) {
        boxes().push_back({std::string(caption), std::string(text)});
    }
    transfer::message_sink previous_;
};

// Sets an environment variable for its lifetime.
class scoped_env {
public:
    scoped_env(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) previous_ = old;
        ::setenv(name_.c_str(), value.c_str(), 1);
    }
    ~scoped_env() {
        if (previous_) ::setenv(name_.c_str(), previous_->c_str(), 1);
        else ::unsetenv(name_.c_str());
    }
    scoped_env(const scoped_env&) = delete;
    scoped_env& operator=(const scoped_env&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Runs `on_expiry` once if not disarmed within `limit`.
class watchdog {
public:
    template <class F>
    watchdog(std::chrono::milliseconds limit, F on_expiry)
        : thread_([this, limit, on_expiry](std::stop_token) {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return disarmed_; })) {
                  lock.unlock();
                  ADD_FAILURE() << "the exchange did not end in time; the line was hung up";
                  on_expiry();
              }
          }) {}
    ~watchdog() { disarm(); }
    void disarm() {
        {
            std::lock_guard lock(mutex_);
            disarmed_ = true;
        }
        done_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool disarmed_ = false;
    std::jthread thread_;
};

// A folder for the line links; the ECU on a link there; both serial links closed afterwards.
class serial_link_test : public ::testing::Test {
protected:
    serial_link_test() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "serial-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        dir_ = tmpl;
    }
    ~serial_link_test() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void TearDown() override {
        EnableErrorMessages(0);
        transfer::serial::wcsc::SerialCloseInterfaces(TRELINK_SERIAL_CLOSE_ALL);
        transfer::serial::wincomm::SerialCloseInterfaces(TRELINK_SERIAL_CLOSE_ALL);
        EnableErrorMessages(1);
        peer.reset();
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    // The virtual ECU on a line linked at `name`; the environment variable `variable` names it.
    ecusim::serial_peer& start_peer(bool host_order, const std::string& variable = "TRELINK_COM1",
                                    ecusim::ecu_config cfg = {}) {
        env_.emplace(variable, path("line"));
        peer.emplace(std::move(cfg), path("line"), host_order);
        peer->start();
        return *peer;
    }
    bool wait_for_acknowledgements(unsigned count) {
        return peer->wait_for([count](const ecusim::serial_counters& c) { return c.acknowledgements >= count; },
                              std::chrono::milliseconds(5000));
    }
    const std::vector<shown_box>& boxes() const { return box_capture::boxes(); }
    std::vector<std::string> errors() const { return box_capture::errors(); }

    std::string dir_;
    std::optional<scoped_env> env_;
    std::optional<ecusim::serial_peer> peer;
    box_capture capture;
};

struct target_version {
    std::uint32_t firmware_version = 0;
    std::uint32_t transferstructs_version = 0;
};

inline int get_target_version(target_version& v, std::uint16_t& returned) {
    returned = 0;
    return KesSendCommand(0, nullptr, 0, &v, sizeof v, &returned);
}

inline std::string hex8(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

}  // namespace qx::test
