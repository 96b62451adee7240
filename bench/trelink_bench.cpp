// KesSendCommand of a 2048-byte SECURITY_COMMAND block against the bare exchange of the same
// bytes: over the USB link to a virtual echo device, and over the simulator link. And the USB
// link's exchange with an answer deadline against the same without one.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "platform/registry/device_registry.h"
#include "platform/usb/usb_device.h"
#include "protocol/commands.h"
#include "protocol/defines.h"
#include "protocol/layout.h"
#include "tests/support/fake_usb_device.h"
#include "tests/support/security_block.h"
#include "transfer/simulator/simulator_abi.h"
#include "transfer/trelink.h"

namespace {

using namespace qx::protocol;
using qx::test::bytes;

constexpr std::size_t block_size = 2048;

bytes security_block() { return qx::test::security_block(block_size); }

struct usb_bench_device {
    qx::bench::one_core placement;
    qx::test::temporary_registry registry;
    qx::test::fake_usb_device device{"bench-echo"};
};

// `deadline`: TRELINK_ANSWER_TIMEOUT_MS as the console sets it by default (60 s).
void usb_exchanges(benchmark::State& state, bool deadline) {
    usb_bench_device echo;
    EnableErrorMessages(0);
    if (deadline) ::setenv("TRELINK_ANSWER_TIMEOUT_MS", "60000", 1);
    const int opened = KesInitializeInterfaces(TRELINK_LINK_USB, nullptr);
    ::unsetenv("TRELINK_ANSWER_TIMEOUT_MS");
    if (opened != 0) {
        state.SkipWithError("no USB link");
        return;
    }
    bytes request = security_block();
    bytes response(MAX_TRANSFERSTRUCTS_SIZE);
    std::uint16_t returned = 0;
    for (auto _ : state) {
        const int status =
            KesSendCommand(SECURITY_COMMAND, request.data(), block_size, response.data(),
                           std::uint16_t(response.size()), &returned);
        if (status != 0) state.SkipWithError("exchange failed");
        benchmark::DoNotOptimize(response.data());
    }
    KesCloseInterfaces(TRELINK_LINK_USB);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(2 * block_size));
}

void usb_kes_send_command(benchmark::State& state) { usb_exchanges(state, false); }
void usb_kes_send_command_with_deadline(benchmark::State& state) { usb_exchanges(state, true); }

// The same packets on the same kind of connection, already in wire order.
void usb_bare_round_trip(benchmark::State& state) {
    usb_bench_device echo;
    int error = 0;
    auto pipe = qx::platform::usb::open_device(echo.device.path(), error);
    if (!pipe) {
        state.SkipWithError("cannot open the echo device");
        return;
    }
    bytes announcement = qx::test::concat({qx::test::be16(0xCD07), qx::test::be16(block_size)});
    announcement.resize(32, 0);
    bytes request = security_block();
    bytes command = qx::test::concat(
        {qx::test::be16(command_type(SECURITY_COMMAND)), qx::test::be16(block_size),
         qx::test::be16(MAX_TRANSFERSTRUCTS_SIZE), qx::test::be16(0), request});
    std::uint8_t header[8];
    bytes response(MAX_TRANSFERSTRUCTS_SIZE);
    for (auto _ : state) {
        pipe->write(announcement.data(), announcement.size());
        pipe->write(command.data(), command.size());
        pipe->read(header, sizeof header);
        if (!pipe->read(response.data(), block_size).ok) state.SkipWithError("exchange failed");
        benchmark::DoNotOptimize(response.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(2 * block_size));
}

std::vector<unsigned char> simulator_data() {
    const std::string path = BENCH_SIMULATOR_PATH;
    std::vector<unsigned char> data{0};
    data.insert(data.end(), path.begin(), path.end());
    data.push_back(0);
    return data;
}

void simulator_kes_send_command(benchmark::State& state) {
    auto data = simulator_data();
    if (KesInitializeInterfaces(TRELINK_LINK_SIMULATOR, data.data()) != 0) {
        state.SkipWithError("no simulator");
        return;
    }
    bytes request = security_block();
    bytes response(MAX_TRANSFERSTRUCTS_SIZE);
    std::uint16_t returned = 0;
    for (auto _ : state) {
        KesSendCommand(SECURITY_COMMAND, request.data(), block_size, response.data(),
                       std::uint16_t(response.size()), &returned);
        benchmark::DoNotOptimize(response.data());
    }
    KesCloseInterfaces(TRELINK_LINK_SIMULATOR);
}

void simulator_direct_call(benchmark::State& state) {
    void* library = ::dlopen(BENCH_SIMULATOR_PATH, RTLD_NOW | RTLD_LOCAL);
    auto processor = library ? reinterpret_cast<SimulatorCommandProcessor_t>(
                                   ::dlsym(library, "SimulatorCommandProcessor"))
                             : nullptr;
    if (!processor) {
        state.SkipWithError("no simulator");
        if (library) ::dlclose(library);
        return;
    }
    bytes request = security_block();
    bytes response(MAX_TRANSFERSTRUCTS_SIZE);
    std::uint16_t returned = 0;
    std::uint32_t transport = 0;
    TrelinkCommandHeader command{};
    TrelinkResponseHeader answer{};
    CommandResponseTransfer transfer{&command,        request.data(), &answer,
                                     response.data(), &returned,      &transport};
    for (auto _ : state) {
        command = {command_type(SECURITY_COMMAND), block_size, std::uint16_t(response.size()), 0};
        processor(&transfer);
        benchmark::DoNotOptimize(response.data());
    }
    ::dlclose(library);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    qx::bench::register_pairs("usb_kes_send_command", usb_kes_send_command, "usb_bare_round_trip",
                              usb_bare_round_trip, {.unit = benchmark::kNanosecond});
    qx::bench::register_pairs("usb_kes_send_command_with_deadline", usb_kes_send_command_with_deadline,
                              "usb_kes_send_command", usb_kes_send_command, {.unit = benchmark::kNanosecond});
    qx::bench::register_pairs("simulator_kes_send_command", simulator_kes_send_command, "simulator_direct_call",
                              simulator_direct_call, {.unit = benchmark::kNanosecond});
    qx::bench::ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf(
        "\nTrelink's cost against the bare link (2048-byte SECURITY_COMMAND, real time):\n");
    qx::bench::print_ratio(reporter, "USB link", "usb_kes_send_command", "usb_bare_round_trip");
    qx::bench::print_ratio(reporter, "answer deadline", "usb_kes_send_command_with_deadline", "usb_kes_send_command");
    qx::bench::print_ratio(reporter, "simulator link", "simulator_kes_send_command", "simulator_direct_call");
    return 0;
}
