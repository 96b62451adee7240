// Shared pieces of the library's tests: captured messages and a USB link on a fake device.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_usb_device.h"
#include "transfer/messages.h"
#include "transfer/trelink.h"

namespace qx::test {

// Collects the library's messages while alive; messages are enabled meanwhile.
class message_capture {
public:
    message_capture() {
        texts().clear();
        previous_ = transfer::set_message_sink(&collect);
        EnableErrorMessages(1);
    }
    ~message_capture() {
        transfer::set_message_sink(previous_);
        EnableErrorMessages(1);
    }
    message_capture(const message_capture&) = delete;
    message_capture& operator=(const message_capture&) = delete;

    static std::vector<std::string>& texts() {
        static std::vector<std::string> all;
        return all;
    }

private:
    static void collect(std::string_view caption, std::string_view text) {
        EXPECT_EQ(caption, "ERROR!");
        texts().emplace_back(text);
    }
    transfer::message_sink previous_;
};

// A fresh registry with one fake ECU; the USB link is closed after each test.
class usb_link_test : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("TRELINK_USB_IDS");
        device.emplace();
    }
    void TearDown() override { KesCloseInterfaces(TRELINK_LINK_USB); }
    int open(unsigned flags = TRELINK_LINK_USB) { return KesInitializeInterfaces(flags, nullptr); }
    const std::vector<std::string>& messages() const { return message_capture::texts(); }

    temporary_registry registry;
    std::optional<fake_usb_device> device;
    message_capture capture;
};

inline std::string hex8(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

inline bytes pattern(std::size_t size, std::uint8_t seed = 1) {
    bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = std::uint8_t(seed + i * 7);
    return b;
}

}  // namespace qx::test
