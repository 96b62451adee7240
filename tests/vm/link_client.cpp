// The links flashdesk does not use, driven through libTrelink.so and the program's own
// connection manager, with the library's messages shown ("ERROR!: ..." on standard error):
//
//   link_client wcsc|com session ROOT_CERT OUTFILE
//       The serial link to COM1 ($TRELINK_COM1): the WCSC link, or the link through the
//       communication functions. Connects (connection request, GET_TARGET_VERSION), checks the
//       ECU's certificate against ROOT_CERT, prints "link_client: link open" and waits for a
//       line on standard input (so that the line's settings can be read while the port is
//       open), then copies log file 0 to OUTFILE as `flashdesk logs get 0 OUTFILE` does.
//   link_client usb-can version
//       One GET_TARGET_VERSION over the USB-CAN link ($TRELINK_CAN_IF), without an answer
//       deadline: only the ECU's answer or the adapter's failure ends it.
//   link_client usb break
//       GET_TARGET_VERSION over the USB link, twice; the second one the ECU never answers.
//       After a second another thread breaks the link (what the desktop program's Stop does):
//       the waiting read ends with a failure status. Prints how long the read waited.
// Exit status 0 only when every step succeeded.
#include <chrono>
#include <cstdio>
#include <thread>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/console/logs_command.h"
#include "core/connection_manager.h"
#include "protocol/commands.h"
#include "transfer/trelink.h"

namespace {

constexpr unsigned com1 = 1u << TRELINK_SERIAL_PORT_SHIFT;
// COM1 for both serial links: the WCSC link's standard port at 0x3F8 (IRQ 4) is COM1 too.
const std::map<std::string, unsigned> serial_links = {
    {"wcsc", TRELINK_LINK_SERIAL_WCSC | TRELINK_WCSC_ALTERNATE | TRELINK_SERIAL_COMMAND_PORT | com1},
    {"com", TRELINK_LINK_SERIAL_WINCOMM | TRELINK_SERIAL_COMMAND_PORT | com1},
};

// The WCSC link waits 20 ms for the answer to its connection request, once; on an emulated
// line under load it may come later (and is flushed by the next request): three requests.
void connect(qx::connection_manager& manager) {
    for (int attempt = 1;; ++attempt) {
        try {
            manager.connect();
            return;
        } catch (const qx::connection_manager::exception_connection_failed& e) {
            if (attempt == 3) throw;
            std::printf("link_client: connection attempt %d: %s\n", attempt, e.message.c_str());
        }
    }
}

int session(unsigned flags, const std::string& root_certificate, const std::string& outfile) {
    std::ifstream in(root_certificate, std::ios::binary);
    const std::vector<std::uint8_t> root{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    qx::link_choice link;
    link.flags = flags;
    qx::connection_manager manager(link);
    EnableErrorMessages(1);  // the manager switched them off
    try {
        connect(manager);
        std::printf("link_client: GET_TARGET_VERSION: transferstructs_version %u, firmware_version 0x%08X\n",
                    manager.transferstructs_version, manager.firmware_version);
        // The certificate check a boot loader is asked for; the application answers it alike.
        const std::uint32_t mode = manager.target_mode;
        manager.target_mode = qx::connection_manager::mode_boot_loader;
        const std::string serial = manager.read_ecu_serial_number(root);
        manager.target_mode = mode;
        std::printf("link_client: the ECU's certificate checks against %s: serial number %s\n",
                    root_certificate.c_str(), serial.c_str());
        std::printf("link_client: link open\n");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
        manager.disconnect();
    } catch (const qx::exception& e) {
        manager.disconnect();
        std::printf("link_client: %s\n", e.message.c_str());
        return 1;
    }
    return qx::console::run_logs_get(manager, 0, outfile, std::cout, std::cerr);
}

int usbcan_version() {
    EnableErrorMessages(1);
    if (const int rc = KesInitializeInterfaces(TRELINK_LINK_USBCAN, nullptr); rc != 0) {
        std::printf("link_client: KesInitializeInterfaces(0x100) = %08x\n", unsigned(rc));
        return 1;
    }
    std::uint8_t version[8] = {};
    std::uint16_t returned = 0;
    const int rc = KesSendCommand(qx::protocol::GET_TARGET_VERSION, nullptr, 0, version, sizeof version, &returned);
    KesCloseInterfaces(TRELINK_LINK_USBCAN);
    std::printf("link_client: GET_TARGET_VERSION over the USB-CAN link: status %08x, %u bytes\n", unsigned(rc), returned);
    return rc == 0 && returned == sizeof version ? 0 : 1;
}

// The ECU (ecusim gadget --faults "n=2:mute") answers the first command and swallows the second.
int usb_break() {
    EnableErrorMessages(1);
    if (const int rc = KesInitializeInterfaces(TRELINK_LINK_USB, nullptr); rc != 0) {
        std::printf("link_client: KesInitializeInterfaces(USB) = %08x\n", unsigned(rc));
        return 1;
    }
    std::uint8_t version[8] = {};
    std::uint16_t returned = 0;
    const int first = KesSendCommand(qx::protocol::GET_TARGET_VERSION, nullptr, 0, version, sizeof version, &returned);
    std::printf("link_client: first GET_TARGET_VERSION: status %08x\n", unsigned(first));
    std::thread stop([] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        KesCloseInterfaces(TRELINK_BREAK_LINK);
    });
    const auto start = std::chrono::steady_clock::now();
    const int second = KesSendCommand(qx::protocol::GET_TARGET_VERSION, nullptr, 0, version, sizeof version, &returned);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    stop.join();
    KesCloseInterfaces(TRELINK_LINK_USB);
    std::printf("link_client: unanswered GET_TARGET_VERSION: status %08x after %lld ms\n", unsigned(second),
                static_cast<long long>(waited.count()));
    return first == 0 && second != 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 4 && a[1] == "session" && serial_links.count(a[0])) return session(serial_links.at(a[0]), a[2], a[3]);
    if (a.size() == 2 && a[0] == "usb-can" && a[1] == "version") return usbcan_version();
    if (a.size() == 2 && a[0] == "usb" && a[1] == "break") return usb_break();
    std::fprintf(stderr,
                 "usage: link_client wcsc|com session ROOT_CERT OUTFILE | link_client usb-can version | "
                 "link_client usb break\n");
    return 2;
}
