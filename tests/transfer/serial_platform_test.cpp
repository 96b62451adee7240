// The termios stand-in and the WCSC driver roles on pseudo-terminals.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "platform/serial/port_names.h"
#include "platform/serial/pty.h"
#include "platform/serial/serial_port.h"
#include "platform/serial/wcsc_driver.h"
#include "tests/transfer/serial_test_support.h"
#include "transfer/serial/serial_common.h"

namespace qx::test {
namespace {

namespace pl = qx::platform::serial;
using namespace pl::wcsc;

struct name_case {
    const char* name;
    const char* mapped;  // $TRELINK_COMn, or null
    std::string expected;
};

class com_names : public ::testing::TestWithParam<name_case> {};

TEST_P(com_names, resolve_to_the_environment_or_the_ttyS_device) {
    const auto& c = GetParam();
    ::unsetenv("TRELINK_COM3");
    ::unsetenv("TRELINK_COM12");
    std::optional<scoped_env> env;
    if (c.mapped) env.emplace(std::string("TRELINK_") + c.name, c.mapped);
    EXPECT_EQ(pl::device_path_of(c.name), c.expected);
}

INSTANTIATE_TEST_SUITE_P(names, com_names,
                         ::testing::Values(name_case{"COM3", nullptr, "/dev/ttyS2"},
                                           name_case{"COM1", nullptr, "/dev/ttyS0"},
                                           name_case{"COM12", "/tmp/line12", "/tmp/line12"},
                                           name_case{"COM3", "/tmp/line3", "/tmp/line3"},
                                           name_case{"COM0", nullptr, ""}, name_case{"COM", nullptr, ""},
                                           name_case{"COM01", nullptr, ""}, name_case{"COM1x", nullptr, ""},
                                           name_case{"LPT1", nullptr, ""}, name_case{"", nullptr, ""}));

// Three lines, standing for COM1, COM2 and card ports 0 and 2.
class wcsc_driver_test : public ::testing::Test {
protected:
    wcsc_driver_test() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "wcsc-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        dir_ = tmpl;
        com1.emplace(dir_ + "/com1");
        com2.emplace(dir_ + "/com2");
        card2.emplace(dir_ + "/card2");
        env_com1.emplace("TRELINK_COM1", com1->link_path());
        env_com2.emplace("TRELINK_COM2", com2->link_path());
        env_card2.emplace("TRELINK_WCSC_CARD2", card2->link_path());
        ::unsetenv("TRELINK_WCSC_CARD0");
        WCSCVxDInit();
    }
    ~wcsc_driver_test() override {
        for (int id = 0; id < max_ports; ++id) WCSCVxDCleanup(id);
        com1.reset();
        com2.reset();
        card2.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    int open_standard(std::uint16_t base, std::uint16_t irq) { return WCSCVxDOpenPort(0, base, irq, 0, 0, 0, 0); }
    int open_card(std::uint16_t index) { return WCSCVxDOpenPort(0, card_vendor, card_device, 1, index, 0x1000, 0); }
    // What the far end received, up to `size` bytes.
    static std::string far_end_reads(const pl::pty& line, std::size_t size) {
        std::string got(size, '\0');
        const ssize_t n = ::read(line.master(), got.data(), size);
        got.resize(n > 0 ? std::size_t(n) : 0);
        return got;
    }
    termios line_settings(const pl::pty& line) const {
        const int fd = ::open(line.slave_path().c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        ::tcgetattr(fd, &t);
        ::close(fd);
        return t;
    }

    std::string dir_;
    std::optional<pl::pty> com1, com2, card2;
    std::optional<scoped_env> env_com1, env_com2, env_card2;
};

struct mapping_case {
    const char* name;
    std::uint16_t base, irq, mode, index;
    int line;  // 1: COM1, 2: COM2, 3: card port 2; 0: refused
};

class wcsc_mapping : public wcsc_driver_test, public ::testing::WithParamInterface<mapping_case> {};

TEST_P(wcsc_mapping, open_words_choose_the_line) {
    const auto& c = GetParam();
    const int id = WCSCVxDOpenPort(0, c.base, c.irq, c.mode, c.index, 0, 0);
    if (c.line == 0) {
        EXPECT_EQ(id, -EINVAL);
        return;
    }
    ASSERT_GE(id, 0);
    ASSERT_EQ(WCSCVxDPutPacket(id, 3, "abc"), 3);
    const pl::pty* lines[] = {&*com1, &*com2, &*card2};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(far_end_reads(*lines[i], 16), i + 1 == c.line ? "abc" : "") << "line " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(
    words, wcsc_mapping,
    ::testing::Values(mapping_case{"standard_3f8_irq4", 0x3F8, 4, 0, 0, 1},
                      mapping_case{"standard_2f8_irq3", 0x2F8, 3, 0, 0, 2},
                      mapping_case{"card_port_2", card_vendor, card_device, 1, 2, 3},
                      mapping_case{"standard_3f8_irq3", 0x3F8, 3, 0, 0, 0},
                      mapping_case{"card_of_another_vendor", 0x1234, card_device, 1, 2, 0},
                      mapping_case{"card_port_without_device", card_vendor, card_device, 1, 0, 0},
                      mapping_case{"unknown_mode", 0x3F8, 4, 2, 0, 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(wcsc_driver_test, a_line_opens_only_once) {
    const int first = open_standard(0x3F8, 4);
    ASSERT_GE(first, 0);
    EXPECT_EQ(open_standard(0x3F8, 4), -EBUSY);
    EXPECT_EQ(WCSCVxDCleanup(first), 0);
    EXPECT_GE(open_standard(0x3F8, 4), 0);
}

struct characteristics_case {
    const char* name;
    bool card;
    int baud, parity, length, stop, protocol;
    int result;
    speed_t speed;
    tcflag_t cflags_set;  // among CSIZE, CSTOPB, PARENB, PARODD, CMSPAR, CRTSCTS
    tcflag_t iflags_set;  // among IXON, IXOFF
};

class wcsc_characteristics : public wcsc_driver_test,
                             public ::testing::WithParamInterface<characteristics_case> {};

TEST_P(wcsc_characteristics, reach_the_line) {
    const auto& c = GetParam();
    const int id = c.card ? open_card(2) : open_standard(0x3F8, 4);
    ASSERT_GE(id, 0);
    if (c.card) {
        ASSERT_EQ(WCSCVxDSetBaudDiv(c.baud, *transfer::serial::wcsc_divisor(unsigned(c.baud))), 0);
    }
    EXPECT_EQ(WCSCVxDSetPortCharacteristics(id, c.baud, c.parity, c.length, c.stop, c.protocol), c.result);
    if (c.result != 0) return;
    const termios t = line_settings(c.card ? *card2 : *com1);
    EXPECT_EQ(::cfgetospeed(&t), c.speed);
    // A pseudo-terminal always keeps 8 bits without parity; the other bits stay as set.
    const tcflag_t c_mask = CSTOPB | PARODD | CMSPAR | CRTSCTS;
    EXPECT_EQ(t.c_cflag & c_mask, c.cflags_set & c_mask);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.iflags_set);
}

INSTANTIATE_TEST_SUITE_P(
    codes, wcsc_characteristics,
    ::testing::Values(
        characteristics_case{"defaults_57600_8n1", false, 10, 0, 3, 0, 4, 0, B57600, CS8, 0},
        characteristics_case{"card_1200_by_divisor_960", true, 4, 0, 3, 0, 4, 0, B1200, CS8, 0},
        characteristics_case{"card_115200", true, 11, 0, 3, 0, 4, 0, B115200, CS8, 0},
        characteristics_case{"odd_7_bits_two_stop", false, 7, 1, 2, 2, 4, 0, B9600, CS7 | CSTOPB | PARENB | PARODD, 0},
        characteristics_case{"even", false, 8, 2, 3, 0, 4, 0, B19200, CS8 | PARENB, 0},
        characteristics_case{"mark", false, 9, 3, 3, 0, 4, 0, B38400, CS8 | PARENB | PARODD | CMSPAR, 0},
        characteristics_case{"space", false, 5, 4, 3, 0, 4, 0, B2400, CS8 | PARENB | CMSPAR, 0},
        characteristics_case{"five_bits_one_and_a_half_stop", false, 2, 0, 0, 1, 4, 0, B300, CS5 | CSTOPB, 0},
        characteristics_case{"hardware_handshake", false, 10, 0, 3, 0, 0, 0, B57600, CS8 | CRTSCTS, 0},
        characteristics_case{"software_handshake", false, 10, 0, 3, 0, 7, 0, B57600, CS8, IXON | IXOFF},
        characteristics_case{"one_and_a_half_stop_with_8_bits", false, 10, 0, 3, 1, 4, -EINVAL, 0, 0, 0},
        characteristics_case{"unknown_handshake", false, 10, 0, 3, 0, 5, -EINVAL, 0, 0, 0},
        characteristics_case{"unknown_baud_code", false, 1, 0, 3, 0, 4, -EINVAL, 0, 0, 0},
        characteristics_case{"unknown_parity", false, 10, 5, 3, 0, 4, -EINVAL, 0, 0, 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(wcsc_divisors, are_1152000_by_the_bit_rate) {
    const unsigned rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (unsigned code = 2; code <= 11; ++code)
        EXPECT_EQ(transfer::serial::wcsc_divisor(code), 1152000 / rates[code - 2]) << "code " << code;
    EXPECT_EQ(transfer::serial::wcsc_divisor(4), 960u);
    EXPECT_FALSE(transfer::serial::wcsc_divisor(1));
    EXPECT_FALSE(transfer::serial::wcsc_divisor(12));
}

TEST_F(wcsc_driver_test, metrics_count_what_went_through_the_port) {
    const int id = open_standard(0x3F8, 4);
    ASSERT_GE(id, 0);
    ASSERT_EQ(WCSCVxDSetPortCharacteristics(id, 10, 0, 3, 0, 4), 0);
    ASSERT_EQ(WCSCVxDPutPacket(id, 5, "hello"), 5);
    ASSERT_EQ(::write(com1->master(), "wxyz", 4), 4);
    char got[3];
    int n = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (n == 0 && std::chrono::steady_clock::now() < give_up) n = WCSCVxDGetPacket(id, 3, got);
    ASSERT_EQ(n, 3);
    ASSERT_EQ(WCSCVxDFlush(id, flush_receive), 0);

    port_metrics m{};
    ASSERT_EQ(WCSCVxDGetPort(id, &m, 1), 0);
    EXPECT_EQ(m.VBytesWrite, 5u);
    EXPECT_EQ(m.VTotalOut, 5u);
    EXPECT_EQ(m.VBytesRead, 3u);
    EXPECT_EQ(m.VInBufCnt, 0u);  // the fourth byte was flushed
    EXPECT_EQ(m.VIFlushCnt, 1u);
    EXPECT_EQ(m.VOFlushCnt, 0u);
    EXPECT_EQ(m.VBase, 0x3F8u);
    EXPECT_EQ(m.VIrq, 4u);
    EXPECT_EQ(m.VBaud, 10u);
    EXPECT_EQ(m.VLength, 3u);
    EXPECT_EQ(m.VProtocol, 4u);
    EXPECT_EQ(m.VPort, unsigned(id));
    EXPECT_EQ(WCSCVxDGetPort(id, &m, 0), -EINVAL);
    EXPECT_EQ(WCSCVxDGetPort(id + 1, &m, 1), -EBADF);
}

TEST_F(wcsc_driver_test, a_line_that_hangs_up_fails_reads_and_writes) {
    const int id = open_standard(0x2F8, 3);
    ASSERT_GE(id, 0);
    char b;
    EXPECT_EQ(WCSCVxDGetPacket(id, 1, &b), 0);  // nothing waiting yet
    com2->hang_up();
    EXPECT_EQ(WCSCVxDGetPacket(id, 1, &b), -EPIPE);
    EXPECT_LT(WCSCVxDPutPacket(id, 1, "x"), 0);
}

TEST_F(wcsc_driver_test, with_an_answer_deadline_a_line_that_stays_silent_hangs_up) {
    std::optional<scoped_env> deadline;
    deadline.emplace("TRELINK_ANSWER_TIMEOUT_MS", "200");
    const int id = open_standard(0x3F8, 4);
    deadline.reset();
    ASSERT_GE(id, 0);
    // Polls as the link does, until something other than "nothing yet" comes.
    auto poll_one = [&](char& b) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int n = 0;
        while (n == 0 && std::chrono::steady_clock::now() < give_up) {
            n = WCSCVxDGetPacket(id, 1, &b);
            if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return n;
    };
    char b = 0;
    ASSERT_EQ(WCSCVxDPutPacket(id, 1, "?"), 1);
    ASSERT_EQ(::write(com1->master(), "a", 1), 1);
    ASSERT_EQ(poll_one(b), 1);
    EXPECT_EQ(b, 'a');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(poll_one(b), -EPIPE);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    // A late answer is never read, and nothing more goes out.
    ASSERT_EQ(::write(com1->master(), "b", 1), 1);
    EXPECT_EQ(WCSCVxDGetPacket(id, 1, &b), -EPIPE);
    EXPECT_LT(WCSCVxDPutPacket(id, 1, "?"), 0);
}

TEST_F(wcsc_driver_test, cleaning_up_a_port_that_is_not_open_is_harmless) {
    EXPECT_EQ(WCSCVxDCleanup(1), 0);
    EXPECT_EQ(WCSCVxDCleanup(-1), -EBADF);
    EXPECT_EQ(WCSCVxDCleanup(max_ports), -EBADF);
}

}  // namespace
}  // namespace qx::test
