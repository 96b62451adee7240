// The virtual ECU on a CAN bus: the virtual bus, or a SocketCAN interface (vcan0, can0).
//
// On SocketCAN the ECU binds a CAN_RAW socket to the interface and takes the frames with the
// command identifier; there is no connection, so "dropping" it only forgets the exchange, as
// does the interface going down (the ECU answers again once it is up).
//
// The bus is a SOCK_SEQPACKET Unix socket at a path ($TRELINK_VCAN on the host side): the ECU
// creates it (binds and listens), the host's adapter connects; one host connection at a time,
// another is served once the previous one ends. One CAN frame per message, 16 bytes:
//   bytes 0..3  identifier word, little-endian; bit 31 set for a 29-bit identifier
//   byte  4     data length; bytes 5..7 zero; bytes 8..15 data
//
// The ECU side of the segmentation, all frames 29-bit with data length 8:
//   command from 0x16666666: first frame (0x1L LL + 6 bytes), answered by a flow control frame
//   (0x30, the configured block size); then consecutive frames 0x21, 0x22, .. 0x2F, 0x20, ..
//   of 7 bytes each. A frame out of sequence drops the packet; a new first frame restarts.
//   response from 0x16666667: a first frame, then, after the host's flow control, consecutive
//   frames; a non-zero block size from the host makes the ECU wait for a flow control frame
//   after each block. A host that does not send one within a second loses the response.
// Packets are big-endian: the 8-byte header, then the data.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ecusim/ecu_model.h"

namespace ecusim {

inline constexpr std::uint32_t can_command_id = 0x16666666;
inline constexpr std::uint32_t can_response_id = 0x16666667;

class can_peer {
public:
    can_peer(ecu_config cfg, std::string bus_path, std::uint8_t block_size = 0);
    struct socketcan_interface {
        std::string name;
    };
    can_peer(ecu_config cfg, socketcan_interface interface, std::uint8_t block_size = 0);
    ~can_peer();
    can_peer(const can_peer&) = delete;
    can_peer& operator=(const can_peer&) = delete;

    // Creates the bus socket and serves on a thread of its own until stop().
    void start();
    void stop();
    const std::string& path() const { return path_; }

    template <class F>
    auto inspect(F f) {
        std::lock_guard lock(mutex_);
        return f(model_);
    }
    // Waits until pred holds for the model (checked after every command).
    bool wait_for(const std::function<bool(const ecu&)>& pred, std::chrono::milliseconds timeout);

private:
    struct frame {
        std::uint32_t id = 0;
        bool extended = false;
        std::uint8_t length = 0;
        std::uint8_t data[8] = {};
    };
    void serve();
    void on_frame(const frame& f);
    void on_first_frame(const frame& f);
    void on_consecutive_frame(const frame& f);
    void on_flow_control(const frame& f);
    void complete_command();
    void send_consecutive_frames(std::size_t block_size);
    bool send_frame(const std::uint8_t (&data)[8]);
    void drop_connection();
    bool receive_frame(frame& f);  // false once the bus connection has ended
    void framing_error();

    std::string path_;
    std::string interface_;  // SocketCAN when set
    std::uint8_t block_size_;
    ecu model_;
    mutable std::mutex mutex_;  // the model
    std::condition_variable changed_;
    std::thread thread_;
    int wake_fd_ = -1;
    int listen_fd_ = -1;
    int conn_fd_ = -1;
    bool running_ = false;

    // The command being received.
    bool receiving_ = false;
    bytes command_;
    std::size_t command_length_ = 0;
    std::size_t command_sequence_ = 0;
    // The response being sent.
    bytes response_;
    std::size_t response_sent_ = 0;  // packet bytes in frames already sent
    std::size_t response_sequence_ = 0;
    std::optional<std::chrono::steady_clock::time_point> flow_control_due_;
    bool drop_after_response_ = false;
};

}  // namespace ecusim
