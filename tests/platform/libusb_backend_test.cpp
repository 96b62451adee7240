// The libusb back-end's pure parts, on descriptor data.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/usb/ecu_usb_interface.h"
#include "platform/usb/libusb_backend.h"

namespace qx::platform::usb {
namespace {

struct ids_case {
    const char* text;
    std::optional<std::vector<usb_id>> ids;
};

class usb_ids : public ::testing::TestWithParam<ids_case> {};

TEST_P(usb_ids, parse) {
    EXPECT_EQ(parse_usb_ids(GetParam().text), GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(
    texts, usb_ids,
    ::testing::Values(ids_case{"1234:abcd", std::vector<usb_id>{{0x1234, 0xABCD}}},
                      ids_case{"1234:ABCD, 0483:5740",
                               std::vector<usb_id>{{0x1234, 0xABCD}, {0x0483, 0x5740}}},
                      ids_case{" ffff:0000 ", std::vector<usb_id>{{0xFFFF, 0x0000}}},
                      ids_case{"", std::nullopt}, ids_case{"1234", std::nullopt},
                      ids_case{"123:4567", std::nullopt}, ids_case{"12345:6789", std::nullopt},
                      ids_case{"12g4:5678", std::nullopt}, ids_case{"1234:5678,", std::nullopt},
                      ids_case{"+123:4567", std::nullopt},
                      ids_case{"1234:5678:9abc", std::nullopt}));

TEST(usb_ids, name_devices_by_vendor_and_product) {
    const std::vector<usb_id> ids{{0x1234, 0xABCD}, {0x0483, 0x5740}};
    libusb_device_descriptor device{};
    device.idVendor = 0x0483;
    device.idProduct = 0x5740;
    EXPECT_TRUE(names_device(ids, device));
    device.idProduct = 0xABCD;
    EXPECT_FALSE(names_device(ids, device));
}

// Builds configuration descriptors from endpoint lists.
struct config_builder {
    std::vector<std::vector<libusb_endpoint_descriptor>> endpoints;
    std::vector<libusb_interface_descriptor> settings;
    std::vector<libusb_interface> interfaces;
    libusb_config_descriptor config{};

    static libusb_endpoint_descriptor endpoint(std::uint8_t address, std::uint8_t type) {
        libusb_endpoint_descriptor e{};
        e.bEndpointAddress = address;
        e.bmAttributes = type;
        return e;
    }
    // One interface per entry, each with a single setting of the ECU's interface class.
    const libusb_config_descriptor& build(
        std::vector<std::vector<libusb_endpoint_descriptor>> per_interface) {
        endpoints = std::move(per_interface);
        settings.resize(endpoints.size());
        interfaces.resize(endpoints.size());
        for (std::size_t i = 0; i < endpoints.size(); ++i) {
            settings[i] = {};
            settings[i].bInterfaceNumber = std::uint8_t(i);
            settings[i].bInterfaceClass = ecu_usb_class;
            settings[i].bInterfaceSubClass = ecu_usb_subclass;
            settings[i].bInterfaceProtocol = ecu_usb_protocol;
            settings[i].bNumEndpoints = std::uint8_t(endpoints[i].size());
            settings[i].endpoint = endpoints[i].data();
            interfaces[i].altsetting = &settings[i];
            interfaces[i].num_altsetting = 1;
        }
        config.bNumInterfaces = std::uint8_t(interfaces.size());
        config.interface = interfaces.data();
        return config;
    }
};

constexpr std::uint8_t bulk = LIBUSB_ENDPOINT_TRANSFER_TYPE_BULK;
constexpr std::uint8_t interrupt = LIBUSB_ENDPOINT_TRANSFER_TYPE_INTERRUPT;

TEST(bulk_interface_choice, first_interface_with_one_bulk_pipe_each_way) {
    config_builder b;
    const auto& config = b.build({
        {config_builder::endpoint(0x83, interrupt)},  // no bulk
        {config_builder::endpoint(0x81, bulk), config_builder::endpoint(0x82, bulk),
         config_builder::endpoint(0x01, bulk)},  // two IN
        {config_builder::endpoint(0x84, interrupt), config_builder::endpoint(0x02, bulk),
         config_builder::endpoint(0x85, bulk)},  // chosen
        {config_builder::endpoint(0x86, bulk), config_builder::endpoint(0x03, bulk)},
    });
    EXPECT_EQ(find_bulk_interface(config), (bulk_interface{2, 0, 0x85, 0x02}));
}

TEST(bulk_interface_choice, none_without_both_directions) {
    config_builder b;
    EXPECT_EQ(find_bulk_interface(b.build(
                  {{config_builder::endpoint(0x81, bulk)},
                   {config_builder::endpoint(0x01, bulk), config_builder::endpoint(0x02, bulk),
                    config_builder::endpoint(0x82, bulk)},
                   {}})),
              std::nullopt);
}

// A bulk pair of another class (mass storage, CDC data, a vendor interface of another
// subclass or protocol) is not the ECU's: the udev rule opens only the ECU's class to plugdev.
struct other_class {
    std::uint8_t cls, subclass, protocol;
};
class bulk_interface_of_another_class : public ::testing::TestWithParam<other_class> {};

TEST_P(bulk_interface_of_another_class, is_passed_over) {
    config_builder b;
    b.build({{config_builder::endpoint(0x81, bulk), config_builder::endpoint(0x01, bulk)},
             {config_builder::endpoint(0x82, bulk), config_builder::endpoint(0x02, bulk)}});
    b.settings[0].bInterfaceClass = GetParam().cls;
    b.settings[0].bInterfaceSubClass = GetParam().subclass;
    b.settings[0].bInterfaceProtocol = GetParam().protocol;
    EXPECT_EQ(find_bulk_interface(b.config), (bulk_interface{1, 0, 0x82, 0x02}));
    b.config.bNumInterfaces = 1;
    EXPECT_EQ(find_bulk_interface(b.config), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(classes, bulk_interface_of_another_class,
                         ::testing::Values(other_class{0x08, 0x06, 0x50}, other_class{0x0a, 0x00, 0x00},
                                           other_class{0xff, 0x01, 0x00}, other_class{0xff, 0x00, 0x01},
                                           other_class{0x00, 0x00, 0x00}));

TEST(bulk_interface_choice, alternate_settings_are_considered_in_order) {
    config_builder b;
    b.build({{config_builder::endpoint(0x81, interrupt)}});
    std::vector<libusb_endpoint_descriptor> second{config_builder::endpoint(0x01, bulk),
                                                   config_builder::endpoint(0x81, bulk)};
    libusb_interface_descriptor settings[2] = {b.settings[0], b.settings[0]};
    settings[1].bAlternateSetting = 1;
    settings[1].bNumEndpoints = 2;
    settings[1].endpoint = second.data();
    b.interfaces[0].altsetting = settings;
    b.interfaces[0].num_altsetting = 2;
    EXPECT_EQ(find_bulk_interface(b.config), (bulk_interface{0, 1, 0x81, 0x01}));
}

TEST(libusb_paths, round_trip_and_reject_other_paths) {
    const std::string path = libusb_device_path(3, 17);
    EXPECT_EQ(path, "libusb:3:17");
    ASSERT_TRUE(parse_libusb_device_path(path));
    EXPECT_EQ(parse_libusb_device_path(path)->bus, 3);
    EXPECT_EQ(parse_libusb_device_path(path)->address, 17);
    EXPECT_FALSE(parse_libusb_device_path("/run/trelink/ecu0"));
    EXPECT_FALSE(parse_libusb_device_path("libusb:3"));
    EXPECT_FALSE(parse_libusb_device_path("libusb:3:256"));
    EXPECT_FALSE(parse_libusb_device_path("libusb:x:1"));
}

}  // namespace
}  // namespace qx::platform::usb
