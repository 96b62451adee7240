// A full ECU update of a 1 MiB firmware image over the virtual USB link (dialog, connection
// manager, Trelink, registry socket, in-process ecusim) against the bare round trips of the
// same exchanges written straight onto the same socket; and the same update captured
// (TRELINK_CAPTURE) against it uncaptured.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "bench/ratio_reporter.h"
#include "core/certificate_reader.h"
#include "core/request_block.h"
#include "ecusim/certificates.h"
#include "ecusim/usb_device.h"
#include "platform/environment.h"
#include "platform/registry/device_registry.h"
#include "platform/ui/headless_renderer.h"
#include "platform/usb/usb_device.h"
#include "protocol/commands.h"
#include "protocol/layout.h"
#include "protocol/structs.h"
#include "tests/support/pak_writer.h"
#include "update/update_image_dlg.h"

namespace {

namespace ts = qx::test_support;
constexpr std::uint32_t image_blocks = 512;  // 1 MiB
const std::string serial = "01020AFF";

struct bench_folder {
    std::filesystem::path dir;
    bench_folder() {
        std::string t = (std::filesystem::temp_directory_path() / "update-bench-XXXXXX").string();
        dir = ::mkdtemp(t.data());
        const auto root = ecusim::certificates::root();
        ts::save_file((dir / "RootCertificate_tcert.der").string(), ts::bytes(root.begin(), root.end()));
        ts::pak_spec spec = ts::sample_pak_spec(2, serial, 0, image_blocks, 5);
        const auto cert = ecusim::certificates::package();
        spec.certificate.assign(cert.begin(), cert.end());
        ts::pak_group_spec g;
        g.serial_number = serial;
        g.entries.push_back(ts::group_entry(spec));
        ts::save_file((dir / (serial + ".pakgrp")).string(), ts::write_pak_group(g).data);
    }
    ~bench_folder() { std::filesystem::remove_all(dir); }
};

ecusim::ecu_config boot_ecu() {
    ecusim::ecu_config cfg;
    cfg.mode = ecusim::ecu_mode::boot;
    cfg.serial = *ecusim::parse_serial(serial);
    return cfg;
}

// The update as a technician runs it; `captured`: with TRELINK_CAPTURE naming a new file in the
// folder, so every transfer also goes into the capture.
void update_runs(benchmark::State& state, bool captured) {
    qx::bench::one_core placement;
    bench_folder folder;
    if (captured) ::setenv(qx::platform::environment::capture_variable, (folder.dir / "update.pcapng").c_str(), 1);
    else ::unsetenv(qx::platform::environment::capture_variable);
    ecusim::virtual_ecu ecu(boot_ecu());
    ecu.device().unplug();
    auto manager = std::make_unique<qx::connection_manager>();
    qx::ui::headless_renderer r;
    std::mutex m;
    std::condition_variable cv;
    int done = 0;
    qx::CUpdateImageDlg::options o;
    o.root_certificate_path = (folder.dir / "RootCertificate_tcert.der").string();
    o.after_worker = [&] {
        std::lock_guard lock(m);
        ++done;
        cv.notify_all();
    };
    qx::CUpdateImageDlg dlg(*manager, o);
    std::thread runner([&] { dlg.run_modal(r); });
    r.wait_until([&] { return dlg.running() && dlg.model().text(qx::update_ids::main_status) == "Waiting for Path selection."; });
    r.answer_folder(folder.dir.string());
    dlg.click(qx::update_ids::browse);
    r.wait_until([&] { return dlg.model().text(qx::update_ids::main_status) == "Waiting for ECU connection."; });
    for (auto _ : state) {
        int before;
        {
            std::lock_guard lock(m);
            before = done;
        }
        ecu.device().plug();
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return done > before; });
        lock.unlock();
        if (dlg.model().text(qx::update_ids::progress_text) != "Update Success! (100%)") state.SkipWithError("update failed");
        state.PauseTiming();
        ecu.device().unplug();
        state.ResumeTiming();
    }
    dlg.click(qx::update_ids::done);
    runner.join();
    ::unsetenv(qx::platform::environment::capture_variable);
    state.counters["blocks_per_second"] = benchmark::Counter(double(image_blocks) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void full_update(benchmark::State& state) { update_runs(state, false); }
void captured_update(benchmark::State& state) { update_runs(state, true); }
void uncaptured_update(benchmark::State& state) { update_runs(state, false); }

// The wire bytes of one command: 8-byte header and the request, big-endian, as the USB link
// sends them, with the announcement for a long one.
struct wire_command {
    std::vector<std::uint8_t> announcement;
    std::vector<std::uint8_t> packet;
};

void put_be16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v >> 8);
    p[1] = std::uint8_t(v);
}

wire_command encode(std::uint8_t code, const std::uint8_t* request, std::uint16_t size, std::string_view structure) {
    wire_command w;
    std::vector<std::uint8_t> body(request, request + size);
    if (!structure.empty()) qx::protocol::convert(*qx::protocol::find_layout(structure), body.data(), body.size());
    w.packet.resize(8 + size);
    put_be16(w.packet.data(), std::uint16_t(0xCD00 | code));
    put_be16(w.packet.data() + 2, size);
    put_be16(w.packet.data() + 4, 4088);
    if (size) std::memcpy(w.packet.data() + 8, body.data(), size);
    if (w.packet.size() > 32) {
        w.announcement.assign(32, 0);
        put_be16(w.announcement.data(), 0xCD07);
        put_be16(w.announcement.data() + 2, size);
    }
    return w;
}

wire_command security(std::uint8_t sub, std::span<const std::uint8_t> key0, std::span<const std::uint8_t> data,
                      std::uint32_t misc0, std::span<const std::uint8_t> key1 = {}) {
    qx::request_block b("Security_BlockRequest_DTS");
    auto* s = b.as<qx::protocol::Security_BlockRequest_DTS>();
    s->command = sub;
    s->format = data.empty() ? 0 : 4;
    s->address = data.empty() ? 0 : 0xFFF9F800;
    s->misc0 = misc0;
    b.set_array(offsetof(qx::protocol::Security_BlockRequest_DTS, key0), 1, key0);
    b.set_array(offsetof(qx::protocol::Security_BlockRequest_DTS, key1), 1, key1);
    b.set_array(offsetof(qx::protocol::Security_BlockRequest_DTS, data_element_size), 1, data);
    const std::uint16_t size = b.lay_out();
    return encode(qx::protocol::SECURITY_COMMAND, b.data(), size, "Security_BlockRequest_DTS");
}

void bare_round_trips(benchmark::State& state) {
    qx::bench::one_core placement;
    ecusim::virtual_ecu ecu(boot_ecu());
    // The update's exchanges as the dialog makes them: the target version, the ECU's certificate
    // against the root certificate and against the package's, keys, first block, flash device,
    // the firmware area's erases, the blocks.
    const auto validate = [](std::span<const std::uint8_t> der) {
        qx::certificate_fields f;
        qx::read_certificate(der, f);
        return security(3, f.modulus, {}, 0, f.exponent);
    };
    const ts::bytes key(128, 0x11), block(2048, 0x5A);
    std::vector<wire_command> commands = {encode(qx::protocol::GET_TARGET_VERSION, nullptr, 0, {}),
                                          validate(ecusim::certificates::root()),
                                          validate(ecusim::certificates::package()),
                                          security(6, key, {}, 0),
                                          security(7, {}, block, 0),
                                          security(11, {}, {}, 0)};
    // The firmware area's erases, sector by sector as the boot loader expects them
    // (erase_firmware_area): the eight 8 KiB sectors at once, nine of 64 KiB, three of 128 KiB.
    const auto erase = [&commands](std::uint32_t start, std::uint32_t count) {
        qx::protocol::EepromEraseRequest_TS e{start, count};
        commands.push_back(encode(qx::protocol::EEPROM_ERASE_BLOCKS, reinterpret_cast<const std::uint8_t*>(&e), sizeof e,
                                  "EepromEraseRequest_TS"));
    };
    erase(0, 8);
    for (std::uint32_t at = 0x10000; at <= 0x90000; at += 0x10000) erase(at, 1);
    for (std::uint32_t at = 0xA0000; at <= 0xE0000; at += 0x20000) erase(at, 1);
    for (std::uint32_t i = 0; i < image_blocks; ++i) commands.push_back(security(9, {}, block, i * 2048));

    const auto found = qx::platform::usb::first_present_device(qx::platform::ecu_interface_class);
    int error = 0;
    auto pipe = qx::platform::usb::open_device(found.path, error);
    if (!pipe) {
        state.SkipWithError("cannot open the virtual device");
        return;
    }
    std::vector<std::uint8_t> in(4096);
    for (auto _ : state) {
        for (const wire_command& c : commands) {
            if (!c.announcement.empty()) pipe->write(c.announcement.data(), c.announcement.size());
            pipe->write(c.packet.data(), c.packet.size());
            const auto header = pipe->read(in.data(), 8);
            const std::size_t data = header.count == 8 ? std::size_t(in[2]) << 8 | in[3] : 0;
            for (std::size_t got = 0; got < data;) {
                const auto r = pipe->read(in.data(), in.size());
                if (!r.ok || r.count == 0) break;
                got += r.count;
            }
        }
    }
    // The ECU must have taken every block, or the comparison means nothing.
    const auto taken = ecu.device().inspect([](ecusim::ecu& e) { return e.state().blocks.size(); });
    if (taken != std::size_t(image_blocks) * std::size_t(state.iterations())) {
        const auto st = ecu.device().inspect([](ecusim::ecu& e) { return e.state(); });
        std::fprintf(stderr, "blocks %zu framing errors %u commands %llu\n", taken, st.framing_errors, (unsigned long long)st.commands);
        state.SkipWithError("the ECU refused blocks");
    }
    state.counters["blocks_per_second"] = benchmark::Counter(double(image_blocks) * double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    qx::bench::register_pairs("full_update", full_update, "bare_round_trips", bare_round_trips, {.iterations = 5});
    // Twice the pairs: the difference is small beside this machine's noise.
    qx::bench::register_pairs("captured_update", captured_update, "uncaptured_update", uncaptured_update,
                              {.pairs = 20, .iterations = 5});
    qx::bench::ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\nA full update of a 1 MiB firmware image (dialog, connection manager, libTrelink) against\n"
                "the bare round trips of the same exchanges on the same socket (real time):\n");
    qx::bench::print_ratio(reporter, "update", "full_update", "bare_round_trips");
    std::printf("\nThe same update with every transfer captured into a pcapng file (TRELINK_CAPTURE) against\n"
                "the same update without (real time):\n");
    qx::bench::print_ratio(reporter, "capture", "captured_update", "uncaptured_update");
    return 0;
}
