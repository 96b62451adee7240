// The capture (TRELINK_CAPTURE): on every link, the transfers of real exchanges with the
// virtual ECU, read back as the exchanges they were; the file's creation; a file cut anywhere.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "app/console/capture_exchanges.h"
#include "ecusim/can_peer.h"
#include "ecusim/usb_device.h"
#include "flashdesk_version.h"
#include "platform/capture/pcapng.h"
#include "platform/environment.h"
#include "protocol/wire_fields.h"
#include "tests/transfer/serial_test_support.h"
#include "transfer/capture.h"

namespace qx::test {
namespace {

namespace pc = platform::pcapng;
namespace fs = std::filesystem;
using protocol::wire_order;

constexpr unsigned wcsc_com1 = TRELINK_LINK_SERIAL_WCSC | TRELINK_SERIAL_COMMAND_PORT | TRELINK_WCSC_ALTERNATE |
                               (1u << TRELINK_SERIAL_PORT_SHIFT);
constexpr unsigned wincomm_com1 =
    TRELINK_LINK_SERIAL_WINCOMM | TRELINK_SERIAL_COMMAND_PORT | (1u << TRELINK_SERIAL_PORT_SHIFT);

bytes pattern(std::size_t n, std::uint8_t seed) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t(seed + i * 7);
    return b;
}

// SECURITY_COMMAND 6 (the session key) in host order: the 48-byte fixed part, the key behind it.
bytes key_request(const bytes& key) {
    bytes b(48 + key.size(), 0);
    b[0] = 6;
    protocol::set_descriptor(&b[8], 1, std::uint16_t(key.size()));
    protocol::set_descriptor(&b[16], 1, 0);
    protocol::set_descriptor(&b[40], 1, 0);
    std::copy(key.begin(), key.end(), b.begin() + 48);
    protocol::set_pointers(*protocol::find_layout("Security_BlockRequest_DTS"), b.data(), b.size());
    return b;
}

std::string field(const protocol::wire_structure& s, const std::string& name) {
    for (const auto& f : s.fields)
        if (f.name == name) return f.value;
    return "<none>";
}

// A link, the virtual ECU on it and how the library opens it.
struct link_case {
    const char* name;
    std::uint16_t linktype;
    wire_order order;
    // Starts the ECU in `dir`; returns what keeps it alive and the flags that open the link.
    std::function<std::shared_ptr<void>(const std::string& dir, unsigned& flags, std::vector<std::uint8_t>& data)> start;
};

void PrintTo(const link_case& c, std::ostream* os) { *os << c.name; }

std::shared_ptr<void> environment(const std::string& name, const std::string& value) {
    return std::make_shared<scoped_env>(name, value);
}

ecusim::ecu_config boot_ecu() {
    ecusim::ecu_config cfg;
    cfg.mode = ecusim::ecu_mode::boot;
    return cfg;
}

const link_case links[] = {
    {"usb", pc::linktype_usb_packets, wire_order::big,
     [](const std::string&, unsigned& flags, std::vector<std::uint8_t>&) -> std::shared_ptr<void> {
         flags = TRELINK_LINK_USB;
         return std::make_shared<ecusim::virtual_ecu>(boot_ecu());
     }},
    {"usb_can", pc::linktype_can_socketcan, wire_order::big,
     [](const std::string& dir, unsigned& flags, std::vector<std::uint8_t>&) -> std::shared_ptr<void> {
         flags = TRELINK_LINK_USBCAN;
         auto bus = environment("TRELINK_VCAN", dir + "/bus");
         auto peer = std::make_shared<ecusim::can_peer>(boot_ecu(), dir + "/bus", 4);
         peer->start();
         return std::make_shared<std::pair<std::shared_ptr<void>, std::shared_ptr<ecusim::can_peer>>>(bus, peer);
     }},
    {"serial_wcsc", pc::linktype_serial_bytes, wire_order::big,
     [](const std::string& dir, unsigned& flags, std::vector<std::uint8_t>&) -> std::shared_ptr<void> {
         flags = wcsc_com1;
         auto line = environment("TRELINK_COM1", dir + "/line");
         auto peer = std::make_shared<ecusim::serial_peer>(boot_ecu(), dir + "/line", false);
         peer->start();
         return std::make_shared<std::pair<std::shared_ptr<void>, std::shared_ptr<ecusim::serial_peer>>>(line, peer);
     }},
    {"serial_wincomm", pc::linktype_serial_bytes, wire_order::little,
     [](const std::string& dir, unsigned& flags, std::vector<std::uint8_t>&) -> std::shared_ptr<void> {
         flags = wincomm_com1;
         auto line = environment("TRELINK_COM1", dir + "/line");
         auto peer = std::make_shared<ecusim::serial_peer>(boot_ecu(), dir + "/line", true);
         peer->start();
         return std::make_shared<std::pair<std::shared_ptr<void>, std::shared_ptr<ecusim::serial_peer>>>(line, peer);
     }},
    {"simulator", pc::linktype_simulator, wire_order::little,
     [](const std::string&, unsigned& flags, std::vector<std::uint8_t>& data) -> std::shared_ptr<void> {
         flags = TRELINK_LINK_SIMULATOR;
         const std::string text = std::string(1, '\0') + ECUSIM_SIMULATOR_PATH + '\0' + "--mode boot" + '\0';
         data.assign(text.begin(), text.end());
         return nullptr;
     }},
};

class capture_folder : public ::testing::Test {
protected:
    capture_folder() {
        std::string tmpl = (fs::temp_directory_path() / "capture-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        dir = tmpl;
    }
    ~capture_folder() override {
        // Whatever a test left open is closed before its file goes.
        ::unsetenv(platform::environment::capture_variable);
        transfer::capture::start_from_environment();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

class capture_link : public capture_folder, public ::testing::WithParamInterface<link_case> {};

TEST_P(capture_link, every_transfer_is_read_back_as_the_exchange_that_crossed_the_link) {
    const link_case& link = GetParam();
    box_capture boxes;  // the serial port's metrics
    unsigned flags = 0;
    std::vector<std::uint8_t> data;
    std::shared_ptr<void> ecu = link.start(dir.string(), flags, data);
    const std::string file = path("link.pcapng");
    {
        scoped_env capture(platform::environment::capture_variable, file);
        ASSERT_EQ(KesInitializeInterfaces(flags, data.empty() ? nullptr : data.data()), 0);
    }
    ASSERT_EQ(KesConnectCommandResponseInterface(), 0);
    target_version v;
    std::uint16_t version_size = 0;
    ASSERT_EQ(get_target_version(v, version_size), 0);
    const bytes key = pattern(128, 5);
    bytes request = key_request(key);
    bytes response(4088, 0);
    std::uint16_t returned = 0;
    ASSERT_EQ(KesSendCommand(6, request.data(), std::uint16_t(request.size()), response.data(), 4088, &returned), 0);
    KesCloseInterfaces(flags | TRELINK_SERIAL_CLOSE_ALL);
    ecu.reset();

    struct stat st{};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const pc::capture c = pc::read_file(file);
    EXPECT_EQ(c.damage, "");
    ASSERT_EQ(c.interfaces.size(), 1u);
    EXPECT_EQ(c.interfaces[0].linktype, link.linktype);
    EXPECT_EQ(c.interfaces[0].description, "Trelink " FLASHDESK_VERSION);
    EXPECT_NE(c.interfaces[0].comment.find("transfer_tests"), std::string::npos) << c.interfaces[0].comment;

    const console::capture_reading r = console::read_exchanges(c);
    EXPECT_EQ(r.notes, std::vector<std::string>{});
    ASSERT_EQ(r.exchanges.size(), 2u);
    const console::captured_exchange& version = r.exchanges[0];
    EXPECT_EQ(version.command_type, 0xCD00);
    EXPECT_TRUE(version.answered);
    EXPECT_EQ(version.order, link.order);
    const auto decoded = protocol::decode_wire({protocol::structure_ref::none, "NULL"}, version.request, version.order);
    EXPECT_EQ(decoded.fields.size(), 0u);
    const auto answer = protocol::decode_wire(protocol::commands[0].response, version.response, version.order);
    EXPECT_EQ(field(answer, "firmware_version"), std::to_string(v.firmware_version));
    EXPECT_EQ(version.response.size(), version_size);

    // The request as the ECU got it: its key where the layout puts it, its numbers in the ECU's order.
    const console::captured_exchange& keyed = r.exchanges[1];
    EXPECT_EQ(keyed.command_type, 0xCD06);
    EXPECT_EQ(keyed.request.size(), request.size());
    const auto sent = protocol::decode_wire(protocol::commands[6].request, keyed.request, keyed.order);
    EXPECT_EQ(sent.note, "");
    EXPECT_EQ(field(sent, "command"), "6");
    EXPECT_EQ(field(sent, "key0.count"), "128");
    EXPECT_EQ(field(sent, "key0"), protocol::bytes_text(key));
    EXPECT_EQ(field(sent, "data.count"), "0");
    ASSERT_TRUE(keyed.answered);
    EXPECT_EQ(keyed.status, 0);
    EXPECT_EQ(keyed.response.size(), returned);
    const auto got = protocol::decode_wire(protocol::commands[6].response, keyed.response, keyed.order);
    std::uint32_t ecu_status = 0;
    std::memcpy(&ecu_status, response.data(), 4);
    EXPECT_EQ(field(got, "status"), std::to_string(ecu_status));
    EXPECT_GE(keyed.answered_ns, keyed.sent_ns);
    EXPECT_GE(keyed.sent_ns, version.answered_ns);
}

INSTANTIATE_TEST_SUITE_P(links, capture_link, ::testing::ValuesIn(links),
                         [](const ::testing::TestParamInfo<link_case>& p) { return std::string(p.param.name); });

TEST_F(capture_folder, without_the_variable_nothing_is_captured) {
    ecusim::virtual_ecu ecu(boot_ecu());
    ::unsetenv(platform::environment::capture_variable);
    ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_USB, nullptr), 0);
    EXPECT_FALSE(transfer::capture::on());
    target_version v;
    std::uint16_t returned = 0;
    EXPECT_EQ(get_target_version(v, returned), 0);
    KesCloseInterfaces(TRELINK_LINK_USB);
    EXPECT_TRUE(fs::is_empty(dir));
}

// A name that is taken is never written: not a file, not through a link, whatever it points at;
// the exchanges go on uncaptured and the library says why.
TEST_F(capture_folder, a_name_that_exists_is_refused_and_left_as_it_was) {
    ecusim::virtual_ecu ecu(boot_ecu());
    std::ofstream(path("taken")) << "a technician's notes\n";
    fs::create_symlink(path("elsewhere"), path("dangling"));
    fs::create_symlink(path("taken"), path("linked"));
    box_capture boxes;
    for (const std::string name : {"taken", "dangling", "linked"}) {
        scoped_env capture(platform::environment::capture_variable, path(name));
        ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_USB, nullptr), 0);
        EXPECT_FALSE(transfer::capture::on()) << name;
        target_version v;
        std::uint16_t returned = 0;
        EXPECT_EQ(get_target_version(v, returned), 0);
        KesCloseInterfaces(TRELINK_LINK_USB);
    }
    EXPECT_EQ(box_capture::errors(),
              (std::vector<std::string>{
                  "Trelink capture: cannot create " + path("taken") + " (File exists); nothing is captured",
                  "Trelink capture: cannot create " + path("dangling") + " (File exists); nothing is captured",
                  "Trelink capture: cannot create " + path("linked") + " (File exists); nothing is captured"}));
    EXPECT_FALSE(fs::exists(path("elsewhere")));
    std::ifstream in(path("taken"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a technician's notes\n");
}

TEST_F(capture_folder, the_file_is_made_0600_whatever_the_umask) {
    ecusim::virtual_ecu ecu(boot_ecu());
    const mode_t previous = ::umask(0);
    {
        scoped_env capture(platform::environment::capture_variable, path("open.pcapng"));
        EXPECT_EQ(KesInitializeInterfaces(TRELINK_LINK_USB, nullptr), 0);
    }
    ::umask(previous);
    KesCloseInterfaces(TRELINK_LINK_USB);
    struct stat st{};
    ASSERT_EQ(::stat(path("open.pcapng").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A program that dies leaves its capture as it is while open: whole, every transfer up to the
// last in it, the space reserved for more a block that readers skip. A file cut at any byte
// reads up to the block the cut goes through, and the cut is named; zeros behind the blocks
// too.
TEST_F(capture_folder, a_file_left_open_or_cut_anywhere_reads_up_to_its_last_whole_block) {
    ecusim::virtual_ecu ecu(boot_ecu());
    const std::string file = path("cut.pcapng");
    {
        scoped_env capture(platform::environment::capture_variable, file);
        ASSERT_EQ(KesInitializeInterfaces(TRELINK_LINK_USB, nullptr), 0);
    }
    bytes request = key_request(pattern(128, 9)), response(4088, 0);
    std::uint16_t returned = 0;
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(KesSendCommand(6, request.data(), std::uint16_t(request.size()), response.data(), 4088, &returned), 0);
    const pc::capture open = pc::read_file(file);
    EXPECT_EQ(open.packets.size(), 3u * 4u);  // announcement, command, header, data
    EXPECT_EQ(open.damage, "");
    EXPECT_GE(fs::file_size(file), 1u << 20);  // the space reserved

    KesCloseInterfaces(TRELINK_LINK_USB);
    transfer::capture::start_from_environment();  // unset: the capture ends, the file is cut to its blocks
    std::ifstream in(file, std::ios::binary);
    const bytes whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_LT(whole.size(), 1u << 20);
    const pc::capture all = pc::read_bytes(whole);
    EXPECT_EQ(all.damage, "");
    ASSERT_EQ(all.packets.size(), 3u * 4u);
    for (std::size_t k = 0; k < all.packets.size(); ++k) EXPECT_EQ(all.packets[k].data, open.packets[k].data);
    bytes zeros = whole;
    zeros.resize(whole.size() + 1000, 0);
    EXPECT_EQ(pc::read_bytes(zeros).damage, "followed by 1000 zero bytes behind its last block");
    EXPECT_EQ(pc::read_bytes(zeros).packets.size(), all.packets.size());

    // The ends of the blocks, to tell a cut between blocks from one inside a block.
    std::vector<std::size_t> ends;
    for (std::size_t at = 0; at < whole.size();) {
        std::uint32_t length;
        std::memcpy(&length, whole.data() + at + 4, 4);
        ASSERT_GE(length, 12u);
        at += length;
        ends.push_back(at);
    }
    for (std::size_t cut = 12; cut <= whole.size(); ++cut) {
        const pc::capture part = pc::read_bytes(std::span(whole).first(cut));
        const bool between = std::find(ends.begin(), ends.end(), cut) != ends.end();
        EXPECT_EQ(part.damage.empty(), between) << cut << ": " << part.damage;
        ASSERT_LE(part.packets.size(), all.packets.size());
        for (std::size_t k = 0; k < part.packets.size(); ++k) ASSERT_EQ(part.packets[k].data, all.packets[k].data) << cut;
        // Only the block being written is lost.
        const std::size_t whole_blocks = std::size_t(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
        EXPECT_EQ(part.packets.size(), whole_blocks < 2 ? 0 : whole_blocks - 2) << cut;
    }
}

}  // namespace
}  // namespace qx::test
