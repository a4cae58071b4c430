// What a release may name: no hidden file or folder in the destination.
#include <gtest/gtest.h>

#include "engine/safe_path.h"
#include "tests/support/engine_sandbox.h"

namespace {

namespace fs = std::filesystem;

struct HiddenCase {
    const char* name;
    std::string listed;
};

void PrintTo(const HiddenCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const HiddenCase kHiddenCases[] = {
    {"shell_profile", ".bashrc"},       {"windows_style_folder", ".ssh\\authorized_keys"},
    {"folder", ".ssh/authorized_keys"}, {"below_a_folder", "sub/.hidden"},
    {"rename_suffix_alone", ".rename"},
};

class HiddenNames : public EngineSandbox, public ::testing::WithParamInterface<HiddenCase> {};

TEST_P(HiddenNames, AreRefusedBeforeAnyTransfer)
{
    const std::string& listed = GetParam().listed;
    fs::create_directories(Dest() / ".ssh");
    fs::create_directories(Dest() / "sub");
    ServeInfo(ReleaseInfo({{listed, "ssh-ed25519 AAAA attacker"}}));
    ConfigureAndDownload();

    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(mHost.Failures(), std::vector<std::string>{listed + " #1: refusing file name " + listed
                                                         + ": it names a hidden file or folder"});
    for (const auto& path : mServer.RequestedPaths())
        EXPECT_EQ(path.rfind("/rel/", 0), std::string::npos) << path;
    EXPECT_FALSE(fs::exists(Dest() / LocalFileName(listed)));
}

INSTANTIATE_TEST_SUITE_P(Names, HiddenNames, ::testing::ValuesIn(kHiddenCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

class ListedPlaces : public EngineSandbox {};

TEST_F(ListedPlaces, NamesOnTheDotsThatAreNotHiddenStayAllowed)
{
    ServeInfo(ReleaseInfo({{"setup.exe.rename", "a"}, {"v1..2.bin", "b"}, {"sub/data.cab", "c"}}));
    fs::create_directories(Dest() / "sub");
    ConfigureAndDownload();
    EXPECT_TRUE(mData.Result()) << ::testing::PrintToString(mHost.Failures());
    EXPECT_TRUE(fs::exists(Dest() / "setup.exe"));
    EXPECT_TRUE(fs::exists(Dest() / "v1..2.bin"));
}

TEST_F(ListedPlaces, SetupNameThatIsHiddenIsNotStarted)
{
    WriteFileBytes(Dest() / ".profile", "#!/bin/sh\n");
    mData.SetCarpetaDestino(Dest().string());
    for (const char* setup : {".profile", "sub/.setup.sh"}) {
        mData.SetArchSetup(setup);
        Run(TWebOperation::twoInstall);
    }
    EXPECT_TRUE(mLaunches.empty());
}

}  // namespace
