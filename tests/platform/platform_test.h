#pragma once
// The platform tests' fixture: a private home per test (see ScratchHome), and
// where the settings file lives in it.

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

class PlatformTest : public ::testing::Test {
protected:
    std::filesystem::path HivePath() const { return mConfig / "Corvane" / "user.reg"; }
    // Writes aText as the hive file, creating its folder.
    void WriteHive(const std::string& aText) const
    {
        std::filesystem::create_directories(HivePath().parent_path());
        WriteFileBytes(HivePath(), aText);
    }

    ScratchHome mScratch;
    const std::filesystem::path mRoot = mScratch.Root();      // removed after the test
    const std::filesystem::path mHome = mScratch.Home();      // $HOME
    const std::filesystem::path mConfig = mScratch.Config();  // $XDG_CONFIG_HOME
};
