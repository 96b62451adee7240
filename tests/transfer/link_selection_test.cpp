// Which link the flags choose, the serial port record they describe, and links not built in.
#include <cstring>

#include "protocol/status.h"
#include "tests/transfer/transfer_test_support.h"
#include "transfer/library_state.h"

namespace qx::test {
namespace {

using namespace qx::transfer;
using qx::protocol::STATUS_CR_NOT_CONNECTED;

struct choice_case {
    unsigned flags;
    link_kind kind;
};

class link_choice : public ::testing::TestWithParam<choice_case> {};

TEST_P(link_choice, later_rules_override_earlier_ones) {
    EXPECT_EQ(choose_link(GetParam().flags), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    flags, link_choice,
    ::testing::Values(
        choice_case{0, link_kind::none},
        // serial kinds need a port number
        choice_case{0x1000, link_kind::none}, choice_case{0x2000, link_kind::none},
        choice_case{0x3003, link_kind::none}, choice_case{0x11000, link_kind::serial_wincomm},
        choice_case{0xF2000, link_kind::serial_wcsc}, choice_case{0x13000, link_kind::serial_wcsc},
        choice_case{0x10000, link_kind::none}, choice_case{0x20, link_kind::usb},
        choice_case{0x80000020, link_kind::usb}, choice_case{0x13020, link_kind::usb},
        choice_case{0x120, link_kind::usbcan}, choice_case{0x220, link_kind::simulator},
        choice_case{0x13320, link_kind::simulator}));

struct port_case {
    unsigned flags;
    bool pci;
    std::uint8_t index;
    std::uint16_t io;
    std::uint8_t irq;
};

class command_port : public ::testing::TestWithParam<port_case> {};

TEST_P(command_port, is_described_by_the_flags) {
    const auto& c = GetParam();
    serial_port_record port;
    std::strcpy(port.name, "COM7");
    fill_command_port(port, c.flags);
    EXPECT_STREQ(port.name, "COM0");
    EXPECT_EQ(port.pci_card, c.pci);
    EXPECT_EQ(port.card_vendor, c.pci ? 0x1415 : 0);
    EXPECT_EQ(port.card_device, c.pci ? 0x9501 : 0);
    EXPECT_EQ(port.mode_word, c.pci ? 1 : 0);
    EXPECT_EQ(port.ring_word, c.pci ? 0x1000 : 0);
    EXPECT_EQ(port.port_index, c.index);
    EXPECT_EQ(port.io_address, c.io);
    EXPECT_EQ(port.irq, c.irq);
}

INSTANTIATE_TEST_SUITE_P(flags, command_port,
                         ::testing::Values(port_case{0x12000, false, 0, 0x2F8, 3},
                                           port_case{0x12080, false, 0, 0x3F8, 4},
                                           port_case{0x12008, true, 2, 0, 0},
                                           port_case{0x12088, true, 0, 0, 0}));

TEST(command_port_record, without_a_port_number_only_the_name_is_reset) {
    serial_port_record port;
    std::strcpy(port.name, "COM3");
    port.io_address = 0x2F8;
    fill_command_port(port, 0x2088);
    EXPECT_STREQ(port.name, "COM0");
    EXPECT_EQ(port.io_address, 0x2F8);
}

class link_selection : public ::testing::Test {
protected:
    void TearDown() override { KesCloseInterfaces(TRELINK_LINK_USB); }
    temporary_registry registry;  // empty: no USB device
    message_capture capture;
};

TEST_F(link_selection, initialise_resets_the_port_name) {
    std::strcpy(state().command_port.name, "COM9");
    KesInitializeInterfaces(TRELINK_LINK_USB, nullptr);
    EXPECT_STREQ(state().command_port.name, "COM0");
}

TEST_F(link_selection, usb_with_bit_31_keeps_host_order) {
    KesInitializeInterfaces(TRELINK_LINK_USB | TRELINK_HOST_ORDER_TARGET, nullptr);
    EXPECT_EQ(state().link, &usb_link);
    EXPECT_TRUE(state().host_order_target);
    KesInitializeInterfaces(TRELINK_LINK_USB, nullptr);
    EXPECT_FALSE(state().host_order_target);
}

TEST_F(link_selection, flags_naming_no_kind_initialise_the_link_chosen_before) {
    KesInitializeInterfaces(TRELINK_LINK_USB, nullptr);
    capture.texts().clear();
    EXPECT_EQ(KesInitializeInterfaces(0x80001000, nullptr), int(STATUS_CR_NOT_CONNECTED));
    EXPECT_EQ(state().link, &usb_link);
    EXPECT_TRUE(state().host_order_target);
    EXPECT_EQ(capture.texts().size(), 2u);  // the USB link's own messages
}

}  // namespace
}  // namespace qx::test
