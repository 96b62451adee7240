// libTrelink.so as a program sees it: loaded fresh, through its six exports only.
#include <dlfcn.h>

#include "protocol/commands.h"
#include "protocol/status.h"
#include "tests/transfer/transfer_test_support.h"

namespace qx::test {
namespace {

using qx::protocol::STATUS_CR_NO_INTERFACE;

// A private, freshly loaded copy of the library (nothing selected yet).
class fresh_trelink : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::dlopen(TRELINK_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr)
            << "a previous test leaked the library";
        handle = ::dlopen(TRELINK_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << ::dlerror();
        enable = entry<decltype(&::EnableErrorMessages)>("EnableErrorMessages");
        initialize = entry<decltype(&::KesInitializeInterfaces)>("KesInitializeInterfaces");
        connect = entry<decltype(&::KesConnectCommandResponseInterface)>(
            "KesConnectCommandResponseInterface");
        send = entry<decltype(&::KesSendCommand)>("KesSendCommand");
        close = entry<decltype(&::KesCloseInterfaces)>("KesCloseInterfaces");
        append = entry<decltype(&::KesAppendPlayback)>("KesAppendPlayback");
    }
    void TearDown() override {
        if (handle) ::dlclose(handle);
    }
    template <typename F>
    F entry(const char* name) {
        auto f = reinterpret_cast<F>(::dlsym(handle, name));
        EXPECT_NE(f, nullptr) << name;
        return f;
    }

    void* handle = nullptr;
    decltype(&::EnableErrorMessages) enable = nullptr;
    decltype(&::KesInitializeInterfaces) initialize = nullptr;
    decltype(&::KesConnectCommandResponseInterface) connect = nullptr;
    decltype(&::KesSendCommand) send = nullptr;
    decltype(&::KesCloseInterfaces) close = nullptr;
    decltype(&::KesAppendPlayback) append = nullptr;
};

TEST_F(fresh_trelink, send_before_any_selection_touches_neither_buffer) {
    bytes request = pattern(16, 1), response = pattern(16, 2);
    std::uint16_t returned = 0x7777;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(send(1, request.data(), 16, response.data(), 16, &returned),
              int(STATUS_CR_NO_INTERFACE));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "ERROR!: KesSendCommand Error ! No interface initialized\n");
    EXPECT_EQ(request, pattern(16, 1));
    EXPECT_EQ(response, pattern(16, 2));
    EXPECT_EQ(returned, 0x7777);

    enable(0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(send(1, request.data(), 16, response.data(), 16, &returned),
              int(STATUS_CR_NO_INTERFACE));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(fresh_trelink, other_calls_before_any_selection_return_1) {
    EXPECT_EQ(close(TRELINK_LINK_USB), 1);
    EXPECT_EQ(connect(), 1);
    EXPECT_EQ(append("x", 1), 1);
}

class fresh_trelink_no_kind : public fresh_trelink,
                              public ::testing::WithParamInterface<unsigned> {};

TEST_P(fresh_trelink_no_kind, initialise_has_no_interface) {
    EXPECT_EQ(initialize(GetParam(), nullptr), int(STATUS_CR_NO_INTERFACE));
    EXPECT_EQ(close(GetParam()), 1);
}

// Serial kind bits without a port number choose no serial link.
INSTANTIATE_TEST_SUITE_P(flags, fresh_trelink_no_kind,
                         ::testing::Values(0u, 0x1000u, 0x2000u, 0x3003u, 0x80000000u, 0x10000u));

TEST_F(fresh_trelink, exchange_over_usb) {
    temporary_registry registry;
    fake_usb_device device;
    device.serve([](fake_usb_session& s) {
        while (s.receive_command()) {
            s.send(response_header(0xCD00, 8, 0));
            s.send(concat({be32(0x0102), be32(95)}));
        }
    });
    ASSERT_EQ(initialize(TRELINK_LINK_USB, nullptr), 0);
    EXPECT_EQ(connect(), 0);
    std::uint32_t version[2] = {};
    std::uint16_t returned = 0;
    EXPECT_EQ(send(qx::protocol::GET_TARGET_VERSION, nullptr, 0, version, 8, &returned), 0);
    EXPECT_EQ(returned, 8);
    EXPECT_EQ(version[0], 0x0102u);
    EXPECT_EQ(version[1], 95u);
    EXPECT_EQ(close(TRELINK_LINK_USB), 0);
}

}  // namespace
}  // namespace qx::test
