// The setup program and the newer wizard start from the descriptor held since
// their check, and only while that file is still the one at their name, ours,
// of the size and mode it had, and (after a wait for a click) of the same
// digest.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/file_handles.h"
#include "platform/shell_open.h"
#include "tests/engine/signed_release_support.h"
#include "tests/support/engine_sandbox.h"
#include "tests/support/eventually.h"
#include "tests/support/versions.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSetup = "#!/bin/sh\nexit 0\n";
constexpr uid_t kOtherUser = 65534;  // nobody

// What happens to the placed file between the download and the install.
struct SetupChange {
    const char* name;
    std::function<void(const fs::path& aSetup)> change;
    bool rehash;          // the window's way: a click came between
    const char* problem;  // "" when setup starts
    bool needsRoot = false;
};

void PrintTo(const SetupChange& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

void RenameOver(const fs::path& aSetup, const std::string& aBody)
{
    const fs::path other = aSetup.parent_path() / "planted";
    WriteFileBytes(other, aBody);
    fs::rename(other, aSetup);
}

void Overwrite(const fs::path& aSetup, const std::string& aBody, int aFlags)
{
    UniqueFd file{open(aSetup.c_str(), O_WRONLY | aFlags)};
    ASSERT_TRUE(file);
    ASSERT_EQ(write(file.Get(), aBody.data(), aBody.size()), static_cast<ssize_t>(aBody.size()));
}

const SetupChange kSetupChanges[] = {
    {"untouched", [](const fs::path&) {}, true, ""},
    {"untouched_silent", [](const fs::path&) {}, false, ""},
    {"other_program_renamed_over",
     [](const fs::path& aSetup) { RenameOver(aSetup, "#!/bin/sh\necho evil\n"); }, false,
     "it was replaced after it was verified"},
    // Even the same bytes: the name no longer leads to the file that was checked.
    {"same_bytes_renamed_over", [](const fs::path& aSetup) { RenameOver(aSetup, kSetup); }, true,
     "it was replaced after it was verified"},
    {"rewritten_in_place", [](const fs::path& aSetup) { Overwrite(aSetup, "#!/bin/sh\nexit 1\n", 0); }, true,
     "it no longer matches its checksum"},
    {"removed", [](const fs::path& aSetup) { fs::remove(aSetup); }, false,
     "it was removed after it was verified"},
    {"grown", [](const fs::path& aSetup) { Overwrite(aSetup, "echo more\n", O_APPEND); }, false,
     "its size changed since it was verified"},
    {"given_to_another_user",
     [](const fs::path& aSetup) { ASSERT_EQ(chown(aSetup.c_str(), kOtherUser, kOtherUser), 0); }, false,
     "it belongs to another user", true},
};

}  // namespace

class SetupLaunch : public EngineSandbox, public ::testing::WithParamInterface<SetupChange> {};

TEST_P(SetupLaunch, StartsOnlyTheFileThatWasVerified)
{
    if (GetParam().needsRoot && geteuid() != 0)
        GTEST_SKIP() << "only root can hand a file to another user";
    ServeInfo(ReleaseInfo({{"setup.sh", kSetup}}));
    ConfigureAndDownload();
    ASSERT_TRUE(mData.Result());
    GetParam().change(Dest() / "setup.sh");
    mEnvironment.rehashSetup = GetParam().rehash;
    Run(TWebOperation::twoInstall);

    EXPECT_EQ(mData.LaunchProblem(), GetParam().problem);
    if (*GetParam().problem == '\0') {
        ASSERT_EQ(mLaunches.size(), 1u);
        EXPECT_GE(mLaunches[0].fd, 0);
        EXPECT_NE(fs::status(Dest() / "setup.sh").permissions() & fs::perms::owner_exec, fs::perms::none);
    } else {
        EXPECT_TRUE(mLaunches.empty());
        EXPECT_FALSE(mData.Result());
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, SetupLaunch, ::testing::ValuesIn(kSetupChanges),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

class ProgramLaunch : public EngineSandbox {};

TEST_F(ProgramLaunch, SetupThatNoDownloadVerifiedIsNotStarted)
{
    // Listed, but not downloaded by this run; and one not listed at all.
    WriteFileBytes(Dest() / "setup.sh", kSetup);
    mData.SetCarpetaDestino(Dest().string());
    mData.SetArchSetup("setup.sh");
    Run(TWebOperation::twoInstall);
    EXPECT_EQ(mData.LaunchProblem(), "it is not a file this run verified");

    ServeInfo(ReleaseInfo({{"a.bin", "a"}}));
    ConfigureAndDownload();
    ASSERT_TRUE(mData.Result());
    WriteFileBytes(Dest() / "setup.sh", kSetup);
    Run(TWebOperation::twoInstall);
    EXPECT_EQ(mData.LaunchProblem(), "it is not a file this run verified");
    EXPECT_TRUE(mLaunches.empty());
}

// The real launcher: the held script runs, and a document goes to the opener
// by its name after the same checks.
TEST_F(ProgramLaunch, HeldSetupScriptRunsFromItsDescriptor)
{
    const fs::path marker = mRoot / "setup-ran";
    ServeInfo(ReleaseInfo({{"setup.sh", "#!/bin/sh\nprintf '%s' \"$#\" > '" + marker.string() + "'\n"}}));
    ConfigureAndDownload();
    ASSERT_TRUE(mData.Result());
    mEnvironment.shellOpen = nullptr;
    Run(TWebOperation::twoInstall);
    EXPECT_EQ(mData.LaunchProblem(), "");
    ASSERT_TRUE(Eventually([&] { return fs::exists(marker) && ReadFileBytes(marker) == "0"; }));
}

TEST_F(ProgramLaunch, SetupDocumentGoesToTheOpenerAfterTheSameChecks)
{
    const fs::path record = mRoot / "opened.txt";
    const fs::path opener = mRoot / "fake-opener";
    WriteFileBytes(opener, "#!/bin/sh\nprintf '%s' \"$*\" > \"$RECORD\"\n");
    chmod(opener.c_str(), 0700);
    std::string info = ReleaseInfo({{"manual.pdf", "%PDF-1.4\n"}});
    info.replace(info.find("Setup=setup.sh"), 14, "Setup=manual.pdf");
    ServeInfo(info);
    ConfigureAndDownload();
    ASSERT_TRUE(mData.Result());
    bool started = false;
    mEnvironment.shellOpen = [&](const std::string& aPath, const std::vector<std::string>& aArgs,
                                 const std::vector<std::string>&, int aFd) {
        started = ShellOpenDescriptor(
                      aFd, aPath, aArgs,
                      {.wait = true, .environment = {"RECORD=" + record.string()}, .opener = opener.string()})
                      .started;
    };
    Run(TWebOperation::twoInstall);
    EXPECT_TRUE(started);
    EXPECT_EQ(ReadFileBytes(record), (Dest() / "manual.pdf").string());
    // A document is not made a program.
    EXPECT_EQ(fs::status(Dest() / "manual.pdf").permissions() & fs::perms::owner_exec, fs::perms::none);

    RenameOver(Dest() / "manual.pdf", "%PDF-1.4\n");
    started = false;
    mData.SetArchSetup("manual.pdf");  // the install leaves its full path there
    Run(TWebOperation::twoInstall);
    EXPECT_FALSE(started);
    EXPECT_EQ(mData.LaunchProblem(), "it was replaced after it was verified");
}

class WizardLaunch : public EngineSandbox {
protected:
    fs::path Wizard() const { return mRoot / "runtime" / "Downloader" / "downloader-new"; }
    void ServeNewerWizard(const std::string& aBody, const std::string& aName = "downloader-new")
    {
        // Local files: a wizard without a key takes a newer one only from
        // local files or over https.
        const std::string folder = PlaceLocally(aName, aBody);
        ServeInfoLocally("[General]\nVersion=" + NewerVersion() + "\nDownloader=" + aName + "\nPath=" + folder
                         + "\n[Info]\nLine1=Title\n");
        Run(TWebOperation::twoConfiguration);
        ASSERT_TRUE(mData.Restart());
    }
};

TEST_F(WizardLaunch, SwappedAfterItsFetchIsNotStarted)
{
    ServeNewerWizard("#!/bin/sh\nexit 0\n");
    RenameOver(Wizard(), "#!/bin/sh\necho evil\n");
    Run(TWebOperation::twoDownloader);
    EXPECT_TRUE(mLaunches.empty());
    EXPECT_EQ(mData.LaunchProblem(), "it was replaced after it was verified");
    EXPECT_EQ(mData.ArchivoDownloader(), Wizard().string());
}

TEST_F(WizardLaunch, HeldWizardRunsFromItsDescriptorWithItsArguments)
{
    const fs::path marker = mRoot / "wizard-ran";
    ServeNewerWizard("#!/bin/sh\nprintf '%s|%s' \"$*\" \"$DOWNLOADER_SELF_UPDATED\" > '" + marker.string()
                     + "'\n");
    mEnvironment.shellOpen = nullptr;
    mEnvironment.wizardArguments = {"--dest", "/x y", "1"};
    Run(TWebOperation::twoDownloader);
    EXPECT_EQ(mData.LaunchProblem(), "");
    ASSERT_TRUE(Eventually([&] { return fs::exists(marker) && ReadFileBytes(marker) == "--dest /x y 1|1"; }))
        << (fs::exists(marker) ? ReadFileBytes(marker) : "");
}

// A wizard listed with ".rename" is placed under its final name and started
// from there, from the descriptor held across the move.
TEST_F(WizardLaunch, RenamedWizardStartsUnderItsFinalName)
{
    ServeNewerWizard("#!/bin/sh\nexit 0\n", "downloader-new.rename");
    Run(TWebOperation::twoDownloader);
    ASSERT_EQ(mLaunches.size(), 1u);
    EXPECT_EQ(mLaunches[0].path, Wizard().string());
    EXPECT_GE(mLaunches[0].fd, 0);
    EXPECT_FALSE(fs::exists(Wizard().string() + ".rename"));
}

// A wizard whose private folder lies below one another user may write to is
// never fetched: the configuration ends at the folder.
TEST_F(WizardLaunch, PrivateFolderBelowAnOpenFolderIsRefused)
{
    chmod((mRoot / "runtime").c_str(), 0775);
    ServeInfo(ReleaseInfo({{"a.bin", "a"}}));
    Run(TWebOperation::twoConfiguration);
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(mServer.RequestCount("/info.ini"), 0u);
}

// A signed build: the wizard's SHA-256 is taken through the descriptor it is
// started from, so a same-user racer who swaps the name after the check,
// even for the same bytes, gets nothing started.
class SignedLaunch : public SignedRelease {};

TEST_F(SignedLaunch, WizardSwappedAfterItsSha256CheckIsNotStarted)
{
    const std::string info = WizardInfo("DownloaderSHA256=" + Sha256Text(kWizard) + "\n");
    ServeSigned(info, sVendor->Sign(info));
    Run(TWebOperation::twoConfiguration);
    ASSERT_TRUE(mData.Restart());
    RenameOver(mRoot / "runtime" / "Downloader" / "downloader-new", kWizard);
    Run(TWebOperation::twoDownloader);
    EXPECT_TRUE(mLaunches.empty());
    EXPECT_EQ(mData.LaunchProblem(), "it was replaced after it was verified");
}

// After a wait for a click, the setup's SHA-256 is taken again as well.
TEST_F(SignedLaunch, SetupRewrittenBeforeTheClickIsNotStarted)
{
    const std::vector<ServedFile> files{{"setup.sh", kSetup}};
    const std::string info = ReleaseInfo(files, Checksum256(files));
    ServeSigned(info, sVendor->Sign(info));
    ConfigureAndDownload();
    ASSERT_TRUE(mData.Result());
    Run(TWebOperation::twoInstall);
    ASSERT_EQ(mLaunches.size(), 1u);

    Overwrite(Dest() / "setup.sh", "#!/bin/sh\nexit 1\n", 0);
    mData.SetArchSetup("setup.sh");
    Run(TWebOperation::twoInstall);
    EXPECT_EQ(mLaunches.size(), 1u);
    EXPECT_EQ(mData.LaunchProblem(), "it no longer matches its checksum");
}
