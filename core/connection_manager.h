// The program's one connection to the ECU: opens the link through Trelink, checks the ECU's
// command-set version, learns a few facts about it, and carries every command through one
// locked exchange that turns every failure into an exception.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/exception.h"
#include "protocol/description.h"
#include "protocol/structs.h"

namespace qx {

// The link connect opens: USB unless told otherwise (tests and demos use the simulator link,
// whose data block names the simulator library). On a serial link connect also makes the
// connection request the serial links need.
struct link_choice {
    unsigned flags = 0x20;
    std::vector<unsigned char> data;
};

class connection_manager : public connection_manager_exceptions {
public:
    // target_mode values
    static constexpr std::uint32_t mode_application = 0;
    static constexpr std::uint32_t mode_boot_loader = 1;
    static constexpr std::uint32_t mode_not_connected = 2;

    std::array<float, 65535> channel_values{};  // last value read per channel number
    protocol::lazy_description description;     // the structure description tree, built when first read
    std::recursive_mutex exchange_lock;         // held for the whole of one library call
    std::vector<std::uint16_t> status_channels;
    std::vector<float> status_values;
    std::uint32_t transferstructs_version = 0;
    std::uint32_t firmware_version = 0;
    std::uint32_t target_mode = mode_not_connected;
    std::uint16_t time_high_channel = 0xFFFF;
    std::uint16_t time_low_channel = 0xFFFF;
    std::uint16_t max_configuration_channels = 0;
    std::string board_model;
    std::uint32_t interface_flags = 0;
    bool cache_channel_values = true;

    explicit connection_manager(link_choice link = {});
    ~connection_manager();
    connection_manager(const connection_manager&) = delete;
    connection_manager& operator=(const connection_manager&) = delete;

    void connect();
    void disconnect();
    // Ends the link as an unplug does, from any thread, also while another thread waits for the
    // ECU's answer: that exchange and every later one of this connection fail at once, and so
    // does a connect under way. Nothing is closed; disconnect as usual afterwards.
    void break_link();
    // The one USB device later connects open: a device arrival's path. Empty (the default):
    // the library's choice (TRELINK_DEVICE, else the one device present).
    void use_device(std::string path) { device_ = std::move(path); }
    // Read without the exchange lock (dialogs ask while a worker exchanges); connect and
    // disconnect store the flags through the same atomic view.
    std::uint32_t is_connected() const {
        return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(interface_flags)).load();
    }

    // One exchange: the request in host order (or null), the response laid out in host order
    // into `response`. Throws on every failure.
    void send_command(std::uint32_t code, void* request, std::uint16_t request_size, void* response,
                      std::uint16_t response_size);
    // The same, returning the number of response bytes that arrived.
    std::uint16_t exchange(std::uint32_t code, void* request, std::uint16_t request_size, void* response,
                           std::uint16_t response_size);
    // One KesSendCommand under the exchange lock, for the tools that read the library's status
    // themselves; timed like every exchange. Returns the library's result.
    int library_exchange(std::uint32_t code, void* request, std::uint16_t request_size, void* response,
                         std::uint16_t response_size, std::uint16_t& returned);

    // How long the library waits for an answer (TRELINK_ANSWER_TIMEOUT_MS, which whoever sets
    // it also tells here); zero: no limit. An exchange that fails in the link after waiting at
    // least that long failed for want of an answer, and any manager notes that for the process.
    static void set_answer_deadline(std::chrono::milliseconds deadline);
    static bool answer_missed();
    // How many exchanges failed for want of an answer since the deadline was set.
    static unsigned long missed_answers();
    // From then on no exchange of any manager in this process starts: each fails at once with
    // STATUS_CR_NOT_CONNECTED, as if the link had gone, and never reaches the ECU. An exchange
    // under way still gets its answer. For a front-end that was told to stop (a signal).
    static void stop_exchanges();
    static bool exchanges_stopped();
    // Whether a connect in this process found its link not connected (no device to open).
    static bool link_missed();
    // (transferstructs version, firmware version)
    std::pair<std::uint32_t, std::uint32_t> read_target_version();

    // Service operations.
    void execute_command(std::uint8_t code);
    bool is_configuration_running();
    std::uint16_t find_channel(const std::string& name);
    float read_channel(std::uint16_t channel);
    std::uint32_t logging_mode();
    // The request's trailing array must follow it in the same block.
    void open_log_file(protocol::LogOpenFileRequest_DTS* request, protocol::LogOpenFileResponse_TS* response);

    struct security_request {
        std::uint8_t sub_function = 0;
        std::span<const std::uint8_t> key0, key1, data;  // data: the trailing array
        unsigned format_selector = 0;                     // 1..4 give format 2, 4, 6, 8
        std::uint16_t size = 0;
        std::uint32_t address = 0;
        std::uint32_t misc0 = 0;
    };
    // Copies the returned bytes into `output` (as many as fit) and returns how many the ECU
    // returned.
    std::size_t security_command(const security_request& r, std::span<std::uint8_t> output = {});
    std::string read_ecu_serial_number(std::span<const std::uint8_t> root_certificate);
    // Same contract for the output as security_command.
    std::size_t send_peripheral_packet(std::span<const std::uint8_t> packet, std::span<std::uint8_t> output = {});
    void peripheral_io_control(std::uint32_t pin_kind, std::uint32_t value);

private:
    link_choice link_;
    std::string device_;
    std::atomic<unsigned> breaks_{0};  // break_link calls so far
    unsigned breaks_at_connect_ = 0;    // under the exchange lock: breaks_ as connect began
};

// Sub-function numbers of SECURITY_COMMAND.
enum security_function : std::uint8_t {
    SECURITY_TEST_FUNCTION_VALIDATE_CRYPTO_CERT = 3,
    SECURITY_TEST_FUNCTION_SEND_SYMMETRIC_KEYS = 6,
    SECURITY_TEST_FUNCTION_CHECK_FIRST_BLOCK = 7,
    SECURITY_TEST_FUNCTION_AES_DECRYPT_DYNAMIC_BLOCK = 8,
    SECURITY_TEST_FUNCTION_AES_DECRYPT_BLOCK_TO_MEMORY = 9,
    SECURITY_TEST_FUNCTION_READ_SERIAL_NUMBER = 10,
    SECURITY_TEST_FUNCTION_GET_FLASH_DEVICE = 11,
    SECURITY_TEST_FUNCTION_READ_DUMP = 12,
    SECURITY_TEST_FUNCTION_PREPARE_DUMP = 13,
};

}  // namespace qx
