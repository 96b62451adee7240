// Temporary files and in-memory streams for the package tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>

#include "tests/support/pak_writer.h"

namespace pak_tests {

using qx::test_support::bytes;

inline std::istringstream stream_of(const bytes& data) {
    return std::istringstream(std::string(data.begin(), data.end()), std::ios::in | std::ios::binary);
}

// A folder of its own for each test, removed afterwards.
class temp_folder : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (auto& c : name)
            if (c == '/') c = '_';
        folder_ = std::filesystem::temp_directory_path() / ("flashdesk-pak-" + std::to_string(::getpid())) / name;
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string file(const std::string& name, const bytes& data) const {
        const auto path = (folder_ / name).string();
        qx::test_support::save_file(path, data);
        return path;
    }
    std::string missing(const std::string& name) const { return (folder_ / name).string(); }

private:
    std::filesystem::path folder_;
};

}  // namespace pak_tests
