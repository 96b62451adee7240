// A virtual ECU and a connection manager that reaches it, over the USB link (an in-process
// ecusim device in a registry of its own) or over the simulator link (libecusim.so).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/connection_manager.h"
#include "ecusim/ecu_options.h"
#include "ecusim/usb_device.h"

namespace qx::testing {

enum class link_kind { usb, simulator };

inline std::string link_name(const ::testing::TestParamInfo<link_kind>& p) {
    return p.param == link_kind::usb ? "usb" : "simulator";
}

// The simulator link to libecusim.so, started with `options` (those of `ecusim usb`).
inline link_choice simulator_link(const std::string& options) {
    link_choice choice;
    choice.flags = 0x200;
    choice.data.push_back(0);
    const std::string path = ECUSIM_LIBRARY_PATH;
    choice.data.insert(choice.data.end(), path.begin(), path.end());
    choice.data.push_back(0);
    choice.data.insert(choice.data.end(), options.begin(), options.end());
    choice.data.push_back(0);
    return choice;
}

class ecu_link {
public:
    // options: those of `ecusim usb` ("--mode boot --serial 01020AFF").
    ecu_link(link_kind kind, const std::string& options) {
        link_choice choice;
        if (kind == link_kind::usb) {
            usb_.emplace(ecusim::config_from_text(options));
        } else {
            choice = simulator_link(options);
        }
        manager = std::make_unique<connection_manager>(std::move(choice));
    }
    ~ecu_link() { manager.reset(); }

    bool inspectable() const { return usb_.has_value(); }
    // What the ECU received (USB only).
    ecusim::ecu_state state() {
        return usb_->device().inspect([](ecusim::ecu& e) { return e.state(); });
    }
    std::uint64_t commands_of(std::uint8_t code) {
        const auto s = state();
        const auto it = s.commands_by_code.find(code);
        return it == s.commands_by_code.end() ? 0 : it->second;
    }
    // Waits until what the ECU received satisfies pred (USB only).
    bool wait_for(const std::function<bool(const ecusim::ecu_state&)>& pred) {
        return usb_->device().wait_for([&](const ecusim::ecu& e) { return pred(e.state()); }, std::chrono::seconds(20));
    }
    void unplug() { usb_->device().unplug(); }
    void set_channel(const std::string& name, float value) {
        usb_->device().inspect([&](ecusim::ecu& e) {
            e.set_channel(name, value);
            return 0;
        });
    }

    std::unique_ptr<connection_manager> manager;

private:
    std::optional<ecusim::virtual_ecu> usb_;
};

// Parameterised over both links.
class on_both_links : public ::testing::TestWithParam<link_kind> {
protected:
    std::unique_ptr<ecu_link> ecu;
    connection_manager& start(const std::string& options = "") {
        ecu.reset();  // the old ECU goes first: it restores the registry it replaced
        ecu = std::make_unique<ecu_link>(GetParam(), options);
        return *ecu->manager;
    }
    connection_manager& connected(const std::string& options = "") {
        connection_manager& m = start(options);
        m.connect();
        return m;
    }
};

}  // namespace qx::testing
