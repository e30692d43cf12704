#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace tarnic::test {

/// A fixture whose test gets a fresh folder of its own, `folder_`, named by the process
/// and the test so that suites running at once never share one. It is removed after
/// the test, whatever permissions the test left on it.
class FolderTest : public ::testing::Test {
protected:
    explicit FolderTest(std::string prefix) : prefix_(std::move(prefix)) {}

    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  (prefix_ + "-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(folder_, ignored);
    }

    std::filesystem::path folder_;

private:
    std::string prefix_;
};

}  // namespace tarnic::test
