#include <dlfcn.h>
#include <gtest/gtest.h>

#include "platform/dynload/dynamic_library.h"

namespace qx::platform {
namespace {

bool is_loaded(const char* path) {
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle) ::dlclose(handle);
    return handle != nullptr;
}

TEST(dynamic_library, finds_entry_points_by_name_and_unloads) {
    dynamic_library library;
    ASSERT_TRUE(library.load(DYNLOAD_SAMPLE_PATH)) << library.last_error();
    auto answer = library.entry<int (*)()>("sample_answer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(library.symbol("no_such_entry"), nullptr);
    EXPECT_FALSE(library.last_error().empty());
    EXPECT_TRUE(library.unload());
    EXPECT_FALSE(is_loaded(DYNLOAD_SAMPLE_PATH));
    EXPECT_FALSE(library.unload());
    EXPECT_EQ(library.symbol("sample_answer"), nullptr);
}

TEST(dynamic_library, missing_or_empty_names_do_not_load) {
    dynamic_library library;
    EXPECT_FALSE(library.load("/nonexistent/libnothing.so"));
    EXPECT_FALSE(library.last_error().empty());
    EXPECT_FALSE(library.load(""));
    EXPECT_FALSE(library.load(nullptr));
    EXPECT_FALSE(library.loaded());
}

TEST(dynamic_library, destruction_and_reloading_release_the_library) {
    {
        dynamic_library library;
        ASSERT_TRUE(library.load(DYNLOAD_SAMPLE_PATH));
        ASSERT_TRUE(library.load(DYNLOAD_SAMPLE_PATH));  // the first load is released
        EXPECT_TRUE(library.unload());
        EXPECT_FALSE(is_loaded(DYNLOAD_SAMPLE_PATH));
        ASSERT_TRUE(library.load(DYNLOAD_SAMPLE_PATH));
    }
    EXPECT_FALSE(is_loaded(DYNLOAD_SAMPLE_PATH));
}

}  // namespace
}  // namespace qx::platform
