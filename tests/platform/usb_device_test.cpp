// The USB pipe's registry back-end against a fake device: one packet per read and write.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <poll.h>

#include <cerrno>
#include <cstdlib>

#include "platform/registry/device_registry.h"
#include "platform/usb/usb_device.h"
#include "tests/support/fake_usb_device.h"

// Counts this program's calls of poll() on each thread, then makes the call.
thread_local int polls_on_this_thread = 0;
extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
    ++polls_on_this_thread;
    using poll_function = int (*)(pollfd*, nfds_t, int);
    static const auto real = reinterpret_cast<poll_function>(::dlsym(RTLD_NEXT, "poll"));
    return real(fds, count, timeout);
}

namespace qx::platform::usb {
namespace {

using qx::test::bytes;

class registry_pipe : public ::testing::Test {
protected:
    void SetUp() override { ::unsetenv("TRELINK_USB_IDS"); }
    std::unique_ptr<pipe> open_first() {
        const device_search found = first_present_device(ecu_interface_class);
        EXPECT_EQ(found.outcome, device_search::found);
        int error = -1;
        auto p = open_device(found.path, error);
        EXPECT_EQ(error, 0);
        return p;
    }
    qx::test::temporary_registry registry;
};

TEST_F(registry_pipe, reads_one_packet_and_refuses_a_longer_one) {
    qx::test::fake_usb_device device;
    device.serve([](qx::test::fake_usb_session& s) {
        s.send(bytes(12, 1));
        s.send(bytes(5, 2));
        while (s.receive()) {
        }
    });
    auto p = open_first();
    ASSERT_TRUE(p);
    std::uint8_t buffer[8];
    const io_result longer = p->read(buffer, 8);
    EXPECT_FALSE(longer.ok);
    EXPECT_EQ(longer.error, EMSGSIZE);
    const io_result shorter = p->read(buffer, 8);
    ASSERT_TRUE(shorter.ok);
    EXPECT_EQ(shorter.count, 5u);
    ASSERT_TRUE(p->write(buffer, 5).ok);
    p.reset();
    device.wait_for_ended_connections(1);
    EXPECT_EQ(device.received(), std::vector<bytes>{bytes(5, 2)});
}

TEST_F(registry_pipe, device_going_away_fails_reads_and_writes) {
    qx::test::fake_usb_device device;
    device.serve([&device](qx::test::fake_usb_session& s) {
        if (s.receive()) device.unplug();
    });
    auto p = open_first();
    ASSERT_TRUE(p);
    std::uint8_t buffer[8] = {};
    ASSERT_TRUE(p->write(buffer, 8).ok);
    const io_result read = p->read(buffer, 8);  // blocked until the device left
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, ENODEV);
    device.wait_for_ended_connections(1);
    const io_result write = p->write(buffer, 8);
    EXPECT_FALSE(write.ok);
    EXPECT_EQ(write.error, ENODEV);
    EXPECT_EQ(first_present_device(ecu_interface_class).outcome, device_search::no_device);
}

TEST_F(registry_pipe, with_an_answer_deadline_a_silent_device_counts_as_gone) {
    ::setenv("TRELINK_ANSWER_TIMEOUT_MS", "100", 1);
    qx::test::fake_usb_device device;
    device.serve([](qx::test::fake_usb_session& s) {
        if (s.receive()) s.send(bytes(3, 7));  // the first command is answered in time
        while (s.receive()) {
        }
    });
    auto p = open_first();
    ::unsetenv("TRELINK_ANSWER_TIMEOUT_MS");
    ASSERT_TRUE(p);
    std::uint8_t buffer[8] = {};
    ASSERT_TRUE(p->write(buffer, 8).ok);
    polls_on_this_thread = 0;
    const io_result answered = p->read(buffer, 8);
    ASSERT_TRUE(answered.ok);
    EXPECT_EQ(answered.count, 3u);
    EXPECT_EQ(polls_on_this_thread, 0);  // the deadline costs the read no wait of its own
    ASSERT_TRUE(p->write(buffer, 8).ok);
    const io_result silent = p->read(buffer, 8);
    EXPECT_FALSE(silent.ok);
    EXPECT_EQ(silent.error, ENODEV);
    // As after an unplug: the connection is over.
    device.wait_for_ended_connections(1);
    EXPECT_EQ(p->write(buffer, 8).error, ENODEV);
    EXPECT_EQ(p->read(buffer, 8).error, ENODEV);
}

TEST_F(registry_pipe, first_device_by_name_is_chosen) {
    qx::test::fake_usb_device later("ecu-b");
    qx::test::fake_usb_device first("ecu-a");
    EXPECT_EQ(first_present_device(ecu_interface_class).path, first.path());
}

TEST_F(registry_pipe, without_devices_or_ids_nothing_is_found) {
    const device_search none = first_present_device(ecu_interface_class);
    EXPECT_EQ(none.outcome, device_search::no_device);
    EXPECT_EQ(none.error, ENODEV);
    int error = 0;
    EXPECT_EQ(open_device(registry_root() + "/missing", error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

TEST_F(registry_pipe, malformed_usb_ids_fail_the_enumeration) {
    ::setenv("TRELINK_USB_IDS", "12:34", 1);
    const device_search bad = first_present_device(ecu_interface_class);
    EXPECT_EQ(bad.outcome, device_search::enumeration_failed);
    EXPECT_EQ(bad.error, EINVAL);
    // Other interface classes never reach libusb.
    EXPECT_EQ(first_present_device("{00000000-0000-0000-0000-000000000000}").outcome,
              device_search::no_device);
    ::unsetenv("TRELINK_USB_IDS");
}

TEST_F(registry_pipe, the_named_device_is_the_only_one_found) {
    qx::test::fake_usb_device first("ecu-a");
    qx::test::fake_usb_device second("ecu-b");
    for (const std::string& selector : std::vector<std::string>{second.path(), "serial:1A2B3C4D", "1-2", registry_root() + "/ecu-a"}) {
        ::setenv("TRELINK_DEVICE", selector.c_str(), 1);
        const device_search found = first_present_device(ecu_interface_class);
        const bool named = selector == second.path();  // registry devices carry no serial or bus-port
        EXPECT_EQ(found.outcome, named ? device_search::found : device_search::no_device) << selector;
        EXPECT_EQ(found.path, named ? second.path() : "") << selector;
        EXPECT_EQ(chosen_device(ecu_interface_class, second.path()), named) << selector;
        EXPECT_FALSE(chosen_device(ecu_interface_class, first.path())) << selector;
    }
    ::unsetenv("TRELINK_DEVICE");
    EXPECT_TRUE(chosen_device(ecu_interface_class, second.path()));
}

struct selector_case {
    const char* selector;
    device_selector::kind_t kind;
    bool matches;  // the libusb device below
};

TEST(device_selector, names_a_device_by_path_bus_port_or_serial) {
    const present_device real{"libusb:1:7", "1-2.3", "ecusim", "ECU", "0A0B0C0D"};
    const selector_case cases[] = {
        {"serial:0a0b0c0d", device_selector::serial, true}, {"serial:0A0B0C0E", device_selector::serial, false},
        {"serial:", device_selector::serial, false},        {"1-2.3", device_selector::bus_port, true},
        {"1-2", device_selector::bus_port, false},          {"1-2.3.4", device_selector::bus_port, false},
        {"libusb:1:7", device_selector::path, true},        {"1-", device_selector::path, false},
        {"1-2..3", device_selector::path, false},           {"-2.3", device_selector::path, false},
        {"1.2-3", device_selector::path, false},
    };
    for (const selector_case& c : cases) {
        const device_selector selector = device_selector::parse(c.selector);
        EXPECT_EQ(selector.kind, c.kind) << c.selector;
        EXPECT_EQ(selector.matches(real), c.matches) << c.selector;
    }
    // Paths compare in their normal form.
    present_device registry_device;
    registry_device.path = "/r/ecu0";
    EXPECT_TRUE(device_selector::parse("/r/./ecu0").matches(registry_device));
}

}  // namespace
}  // namespace qx::platform::usb
