#pragma once
// A private home for one test: HOME, XDG_CONFIG_HOME (the settings file) and
// XDG_RUNTIME_DIR (the private temporary folder, mode 0700) point into a
// fresh folder under the test's temporary directory. Call it before any
// thread of the test starts; the environment is process-wide.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

inline std::filesystem::path EnterSandbox(const std::string& aPrefix)
{
    const auto root = std::filesystem::path(::testing::TempDir())
                      / (aPrefix + "-" + std::to_string(::getpid()) + "-"
                         + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root);
    for (const char* folder : {"home", "config", "runtime"})
        std::filesystem::create_directories(root / folder);
    std::filesystem::permissions(root / "runtime", std::filesystem::perms::owner_all);
    setenv("HOME", (root / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
    return root;
}
