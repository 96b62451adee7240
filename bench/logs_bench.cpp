// A 16 MB file-system log download through LogTestDlg (listing excluded) against the bare
// round trips of the same reads: LOG_OPEN_FILE, LOG_READ_FILE of 3584 bytes until the empty
// answer, LOG_CLOSE_FILE, written as wire bytes straight onto the same kind of USB device.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cstdio>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/connection_manager.h"
#include "ecusim/usb_device.h"
#include "filetool/log_test_dlg.h"
#include "platform/ui/headless_renderer.h"
#include "platform/usb/usb_device.h"

namespace {

using bytes = std::vector<std::uint8_t>;
constexpr std::size_t file_size = 16u << 20;
constexpr std::uint16_t chunk = 3584;

ecusim::ecu_config ecu_with_big_log() {
    ecusim::ecu_config c;
    bytes data(file_size);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(i * 13 + (i >> 12));
    c.log_files.push_back({"BIG.LOG", u"big.log", 0x20, std::move(data)});
    return c;
}

void settle(qx::ui::dialog& d) {
    auto done = std::make_shared<std::promise<void>>();
    auto handled = done->get_future();
    d.post([done] { done->set_value(); });
    handled.wait();
}

void dialog_download(benchmark::State& state) {
    qx::bench::one_core placement;
    ecusim::virtual_ecu ecu(ecu_with_big_log());
    qx::connection_manager manager;
    manager.connect();
    qx::ui::headless_renderer ui;
    qx::LogTestDlg d(manager);
    std::thread runner([&] { d.run_modal(ui); });
    ui.wait_until([&] { return d.running(); });
    d.click(qx::filetool::IDC_GETDIRLISTING);
    settle(d);
    const std::string out = (std::filesystem::temp_directory_path() / "logs_bench.qxlog").string();
    for (auto _ : state) {
        ui.answer_menu(0);
        ui.answer_file(out);
        d.context_menu(qx::filetool::IDC_FILE_LIST, 0);
        settle(d);
    }
    if (std::filesystem::file_size(out) != file_size) state.SkipWithError("download incomplete");
    std::filesystem::remove(out);
    d.cancel();
    runner.join();
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file_size));
}

void be16(bytes& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}
void be32(bytes& b, std::uint32_t v) {
    be16(b, std::uint16_t(v >> 16));
    be16(b, std::uint16_t(v));
}

// One exchange as the USB link carries it: command packet, response header
// and (when there is one) the response data. Returns the data.
class bare_link {
public:
    explicit bare_link(const std::string& path) {
        int error = 0;
        pipe_ = qx::platform::usb::open_device(path, error);
    }
    bool ok() const { return pipe_ != nullptr; }
    bool exchange(std::uint8_t code, const bytes& request, std::uint16_t response_size, bytes& response) {
        bytes announcement;
        be16(announcement, 0xCD07);
        be16(announcement, std::uint16_t(request.size()));
        announcement.resize(32, 0);
        bytes command;
        be16(command, std::uint16_t(0xCD00 | code));
        be16(command, std::uint16_t(request.size()));
        be16(command, response_size);
        be16(command, 0);
        command.insert(command.end(), request.begin(), request.end());
        std::uint8_t header[8];
        // Packets longer than 32 bytes are announced with their data size first.
        if (command.size() > 32 && !pipe_->write(announcement.data(), announcement.size()).ok) return false;
        if (!pipe_->write(command.data(), command.size()).ok) return false;
        if (!pipe_->read(header, sizeof header).ok) return false;
        const std::size_t length = std::size_t(header[2] << 8 | header[3]);
        response.resize(4096);
        if (length == 0) {
            response.clear();
            return true;
        }
        const auto got = pipe_->read(response.data(), response.size());
        response.resize(got.ok ? got.count : 0);
        return got.ok;
    }

private:
    std::unique_ptr<qx::platform::usb::pipe> pipe_;
};

void bare_round_trips(benchmark::State& state) {
    qx::bench::one_core placement;
    ecusim::virtual_ecu ecu(ecu_with_big_log());
    bare_link link(ecu.device().path());
    if (!link.ok()) {
        state.SkipWithError("cannot open the virtual ECU");
        return;
    }
    bytes open;  // LogOpenFileRequest_DTS: mode 1, the name as 20 bytes behind the fixed part
    be32(open, 1);
    open.push_back(1);
    be16(open, 20);
    open.push_back(0);
    be32(open, 12);
    const char name[20] = "BIG.LOG";
    open.insert(open.end(), name, name + sizeof name);
    bytes response;
    std::size_t total = 0;
    for (auto _ : state) {
        total = 0;
        if (!link.exchange(37, open, 8, response) || response.size() < 8) {
            state.SkipWithError("open failed");
            break;
        }
        const bytes handle(response.begin(), response.begin() + 4);
        bytes read = handle;  // LogReadFileRequest_TS: handle, read_count
        be16(read, chunk);
        be16(read, 0);
        for (;;) {
            if (!link.exchange(39, read, 4096, response) || response.size() < 16) {
                state.SkipWithError("read failed");
                break;
            }
            const std::size_t n = std::size_t(response[0] << 8 | response[1]);
            if (n == 0) break;
            total += n;
        }
        link.exchange(38, handle, 4, response);
    }
    if (total != file_size) state.SkipWithError("download incomplete");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file_size));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    qx::bench::register_pairs("dialog_download", dialog_download, "bare_round_trips", bare_round_trips,
                              {.iterations = 3});
    qx::bench::ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\nA 16 MB file-system log download (3584-byte reads, real time):\n");
    qx::bench::print_ratio(reporter, "download", "dialog_download", "bare_round_trips");
    return 0;
}
