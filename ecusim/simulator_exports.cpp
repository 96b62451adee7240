// libecusim.so: the virtual ECU as the simulator library of Trelink's simulator link.
//
// The data block given to SimulatorStart: byte 0 is not used; from byte 1 the library's file
// name, zero-terminated; directly behind it an optional option text, zero-terminated, with
// the options of `ecusim usb` ("--mode boot --serial 0A0B0C0D"). Without one the ECU starts
// with its defaults. A bad option text leaves the library without an ECU: every exchange is
// then answered with header status 0x0002 and no data.
//
// SimulatorAppendPlayback takes a fault plan text (`size` bytes, no terminator needed) and
// adds its rules to the running ECU's plan; it returns 0, or 1 for a plan it cannot read.
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>

#include "ecusim/command_codes.h"
#include "ecusim/ecu_model.h"
#include "ecusim/ecu_options.h"
#include "transfer/simulator/simulator_abi.h"

namespace {

std::mutex mutex;
std::unique_ptr<ecusim::ecu> model;

}  // namespace

extern "C" __attribute__((visibility("default"))) int SimulatorStart(unsigned char* data) {
    std::lock_guard lock(mutex);
    model.reset();
    std::string options;
    if (data) {
        const char* file = reinterpret_cast<const char*>(data + 1);
        options = file + std::strlen(file) + 1;
    }
    try {
        ecusim::ecu_config cfg = ecusim::config_from_text(options);
        model = std::make_unique<ecusim::ecu>(std::move(cfg));
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "ecusim: " << e.what() << '\n';
        return 1;
    }
}

extern "C" __attribute__((visibility("default"))) int SimulatorCommandProcessor(CommandResponseTransfer* t) {
    if (!t || !t->command_header || !t->response_header) return 1;
    std::lock_guard lock(mutex);
    TrelinkCommandHeader& in = *t->command_header;
    TrelinkResponseHeader& out = *t->response_header;
    const std::uint16_t capacity = t->response_data ? in.response_data_buffer_size : 0;
    ecusim::reply r;
    if (!model) {
        r.response_type = in.command_type;
        r.status = ecusim::status::header_malformed;
    } else {
        const auto* request = static_cast<const std::uint8_t*>(t->command_data);
        const std::size_t request_size = request ? in.command_data_size : 0;
        r = model->process(in.command_type, capacity, {request, request_size}, ecusim::byte_order::little);
        if (r.reset) model->restart(ecusim::ecu_mode::boot);
    }
    // Nothing beyond the host's buffer is written, whatever a fault asked for.
    const std::size_t n = std::min<std::size_t>(r.data.size(), capacity);
    if (n) std::memcpy(t->response_data, r.data.data(), n);
    out.response_type = r.response_type;
    out.response_data_returning_size = std::uint16_t(n);
    out.status = r.status;
    if (t->returned_size) *t->returned_size = std::uint16_t(n);
    return 0;
}

extern "C" __attribute__((visibility("default"))) int SimulatorAppendPlayback(const void* playback, std::uint32_t size) {
    std::lock_guard lock(mutex);
    if (!model || !playback) return 1;
    ecusim::fault_plan plan = model->config().faults;
    try {
        plan.append(ecusim::fault_plan::parse(std::string_view(static_cast<const char*>(playback), size)));
    } catch (const std::exception&) {
        return 1;
    }
    model->set_faults(std::move(plan));
    return 0;
}
