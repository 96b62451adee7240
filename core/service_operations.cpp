// The ECU service operations of the connection manager: each builds a request, sends it,
// checks the answer and turns an ECU failure into the exception of its status.
#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "core/certificate_reader.h"
#include "core/connection_manager.h"
#include "core/request_block.h"
#include "core/response_view.h"
#include "core/status_errors.h"
#include "protocol/commands.h"
#include "protocol/defines.h"

namespace qx {

namespace {

using namespace protocol;
using response_buffer = std::array<std::uint8_t, MAX_TRANSFERSTRUCTS_SIZE>;

constexpr std::uint16_t max_response = MAX_TRANSFERSTRUCTS_SIZE;

// The elements of a GenericArray_DTS response.
response_array generic_array(std::span<const std::uint8_t> received) {
    return view_array(received, offsetof(GenericArray_DTS, element_size), offsetof(GenericArray_DTS, data),
                      sizeof(GenericArray_DTS));
}

// Copies what fits; returns the number of bytes there were.
std::size_t copy_out(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> output) {
    std::copy_n(bytes.begin(), std::min(bytes.size(), output.size()), output.begin());
    return bytes.size();
}

}  // namespace

void connection_manager::execute_command(std::uint8_t code) {
    response_buffer response{};
    const std::uint16_t got = exchange(code, nullptr, 0, response.data(), max_response);
    check_status_response({response.data(), got});
}

bool connection_manager::is_configuration_running() {
    if (!interface_flags || target_mode != mode_application) return false;
    try {
        ConfigurationQueryStateResponse_TS state{};
        exchange(CONFIGURATION_QUERY_STATE, nullptr, 0, &state, sizeof state);
        return state.state == STATE_RUNNING;
    } catch (const qx::exception&) {
        return false;
    }
}

std::uint16_t connection_manager::find_channel(const std::string& name) {
    request_block request("ConfigurationFindChannelByNameRequest_TS");
    const auto* chars = reinterpret_cast<const std::uint8_t*>(name.c_str());
    request.set_array(offsetof(ConfigurationFindChannelByNameRequest_TS, channel_name), 1,
                      {chars, name.size() + 1});  // with its terminating zero
    const std::uint16_t size = request.lay_out();
    ConfigurationFindChannelResponse_TS response{INVALID_CHANNEL};
    exchange(CONFIGURATION_FIND_CHANNEL_BY_NAME, request.data(), size, &response, sizeof response);
    if (response.channel == INVALID_CHANNEL) {
        exception_invalid_channel e;
        e.channel_name = name;
        throw e;
    }
    return response.channel;
}

float connection_manager::read_channel(std::uint16_t channel) {
    request_block request("GenericArray_DTS");
    std::uint8_t element[2];
    std::memcpy(element, &channel, sizeof element);
    request.set_array(offsetof(GenericArray_DTS, element_size), 2, element);
    const std::uint16_t size = request.lay_out();
    response_buffer response{};
    const std::uint16_t got = exchange(READ_CHANNEL_LIST, request.data(), size, response.data(), max_response);
    const response_array values = generic_array({response.data(), got});
    if (values.count == 0 || values.element_size != sizeof(float)) malformed_response();
    const float value = load<float>(values.bytes, 0);
    if (cache_channel_values) channel_values[channel] = value;
    return value;
}

std::uint32_t connection_manager::logging_mode() {
    try {
        if (read_channel(find_channel("HostUsbDevicePresent")) == 0.0f) return 3;
    } catch (const exception&) {
        return 3;
    }
    float mode = 0.0f;
    try {
        mode = read_channel(find_channel("LoggingMode"));
    } catch (const exception&) {
        return 2;
    }
    if (mode < 0.5f) return 0;
    if (mode < 1.5f) return 1;
    return 2;
}

void connection_manager::open_log_file(LogOpenFileRequest_DTS* request, LogOpenFileResponse_TS* response) {
    const std::uint32_t count = descriptor_count(&request->data_element_size);
    const std::uint32_t size = 12 + count * request->data_element_size;
    if (size > MAX_TRANSFERSTRUCTS_SIZE) throw exception_argument("Request too large");
    exchange(LOG_OPEN_FILE, request, std::uint16_t(size), response, sizeof *response);
}

std::size_t connection_manager::security_command(const security_request& r, std::span<std::uint8_t> output) {
    request_block request("Security_BlockRequest_DTS");
    auto* s = request.as<Security_BlockRequest_DTS>();
    s->command = r.sub_function <= 13 ? r.sub_function : 0;
    s->size = r.size;
    s->format = r.format_selector >= 1 && r.format_selector <= 4 ? std::uint16_t(2 * r.format_selector) : 0;
    s->address = r.address;
    s->misc0 = r.misc0;
    request.set_array(offsetof(Security_BlockRequest_DTS, key0), 1, r.key0);
    request.set_array(offsetof(Security_BlockRequest_DTS, key1), 1, r.key1);
    request.set_array(offsetof(Security_BlockRequest_DTS, data_element_size), 1, r.data);
    const std::uint16_t size = request.lay_out();

    response_buffer response{};
    const std::uint16_t got = exchange(SECURITY_COMMAND, request.data(), size, response.data(), max_response);
    const std::span<const std::uint8_t> received(response.data(), got);
    check_security_status_response(received);
    const response_array str =
        view_array(received, offsetof(GenericStatusStringResponse_DTS, str),
                   offsetof(GenericStatusStringResponse_DTS, str) + offsetof(GenericArray_DTS, data),
                   sizeof(GenericStatusStringResponse_DTS));
    return copy_out(str.bytes, output);
}

std::string connection_manager::read_ecu_serial_number(std::span<const std::uint8_t> root_certificate) {
    std::array<std::uint8_t, MAX_TRANSFERSTRUCTS_SIZE> returned{};
    std::size_t length = 0;
    std::array<std::uint8_t, ecu_serial_size> serial{};
    if (target_mode == mode_application) {
        security_request r;
        r.sub_function = SECURITY_TEST_FUNCTION_READ_SERIAL_NUMBER;
        length = security_command(r, returned);
        if (length < serial.size()) malformed_response();
        std::copy_n(returned.begin(), serial.size(), serial.begin());
    } else {
        if (root_certificate.empty()) throw exception_invalid_buffer("Empty certificate");
        certificate_fields key;
        if (read_certificate(root_certificate, key) != 0) throw exception_invalid_buffer("Invalid certificate");
        security_request r;
        r.sub_function = SECURITY_TEST_FUNCTION_VALIDATE_CRYPTO_CERT;
        r.key0 = key.modulus;
        r.key1 = key.exponent;
        length = security_command(r, returned);
        certificate_fields device;
        if (length > returned.size() || read_ecu_certificate({returned.data(), length}, device) != 0)
            throw exception_communication_error("Invalid certificate returned by the ECU");
        std::copy_n(device.serial.begin(), serial.size(), serial.begin());
    }
    char text[9];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X", serial[0], serial[1], serial[2], serial[3]);
    return text;
}

std::size_t connection_manager::send_peripheral_packet(std::span<const std::uint8_t> packet,
                                                       std::span<std::uint8_t> output) {
    request_block request("SH_Peripheral_Request_TS");
    request.as<SH_Peripheral_Request_TS>()->peripheral_command = 10;
    request.set_array(offsetof(SH_Peripheral_Request_TS, peripheral_command_packet), 1, packet);
    const std::uint16_t size = request.lay_out();
    response_buffer response{};
    const std::uint16_t got = exchange(SH_TO_PERIPHERAL_COMMAND, request.data(), size, response.data(), max_response);
    return copy_out(generic_array({response.data(), got}).bytes, output);
}

void connection_manager::peripheral_io_control(std::uint32_t pin_kind, std::uint32_t value) {
    PeripheralIoControlRequest_TS io{};
    io.function = 1;
    switch (pin_kind) {
    case 1: io = {1, 1, 1, value}; break;
    case 4: io = {1, 4, 1, 0}; break;
    case 5: io = {1, 5, 0, 0}; break;
    default: throw exception_invalid_pin("Given pin is invalid.");
    }
    std::array<std::uint8_t, sizeof io> packet;
    std::memcpy(packet.data(), &io, sizeof io);
    std::array<std::uint8_t, sizeof(PeripheralIoControlResponse_TS)> returned{};
    const std::size_t got = send_peripheral_packet(packet, returned);
    if (got < sizeof(std::uint32_t)) malformed_response();
    if (const auto status = load<std::uint32_t>(returned, 0)) throw exception_command_error("SomeErrorHere", status);
}

}  // namespace qx
