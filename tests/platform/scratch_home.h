#pragma once
// A fixture that gives every test a home and configuration folder of its own
// under ::testing::TempDir(), set in the environment before the test runs, so
// that no test reads or writes the real user's files.

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

class ScratchHome : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path HivePath() const { return mConfig / "Corvane" / "user.reg"; }
    // Writes aText as the hive file, creating its folder.
    void WriteHive(const std::string& aText) const;

    std::filesystem::path mRoot;    // removed after the test
    std::filesystem::path mHome;    // $HOME
    std::filesystem::path mConfig;  // $XDG_CONFIG_HOME
};

std::string ReadWholeFile(const std::filesystem::path& aPath);
void WriteWholeFile(const std::filesystem::path& aPath, const std::string& aBytes);
