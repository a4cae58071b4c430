// Another local process swaps entries of the destination folder while the
// download runs: nothing may be written outside the folder, and the swapped
// name fails its attempt with a reason.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "engine/kept_download.h"
#include "engine/private_download.h"
#include "tests/support/engine_sandbox.h"

namespace fs = std::filesystem;

namespace {

enum class When {
    Before,           // in place when the run starts
    BetweenAttempts,  // after attempt 1 failed
    DuringTransfer,   // while attempt 1 writes the file
};

enum class Swap {
    NameToLink,       // the listed name becomes a link to a file outside
    NameToDangling,   // ... a link to a missing file outside
    SubFolderToLink,  // the listed name's sub-folder becomes a link to a folder outside
};

struct SwapCase {
    const char* name;
    const char* listed;  // the [Downloads] name
    When when;
    Swap swap;
    // In every refused attempt's reason; null: the link at the listed name
    // is not written through but replaced by the verified file.
    const char* reason;
};

void PrintTo(const SwapCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const SwapCase kSwapCases[] = {
    {"plain_between_attempts", "data.cab", When::BetweenAttempts, Swap::NameToLink, nullptr},
    {"plain_during_transfer", "data.cab", When::DuringTransfer, Swap::NameToLink, nullptr},
    {"rename_between_attempts", "setup.sh.rename", When::BetweenAttempts, Swap::NameToLink, nullptr},
    {"rename_during_transfer", "setup.sh.rename", When::DuringTransfer, Swap::NameToLink, nullptr},
    {"in_sub_folder_between_attempts", "sub/data.cab", When::BetweenAttempts, Swap::NameToLink, nullptr},
    {"sub_folder_between_attempts", "sub/data.cab", When::BetweenAttempts, Swap::SubFolderToLink,
     "sub/data.cab: sub is a symbolic link"},
    // The file being written moved away with its folder: it is never read
    // back through the link, nor placed.
    {"sub_folder_during_transfer", "sub/data.cab", When::DuringTransfer, Swap::SubFolderToLink,
     ": sub is a symbolic link"},
    // Passes the check that a name stays inside (the link's target does not
    // exist); the file is written beside it and then replaces the link.
    {"dangling_link_at_start", "data.cab", When::Before, Swap::NameToDangling, nullptr},
};

class DestinationSwap : public EngineSandbox, public ::testing::WithParamInterface<SwapCase> {
protected:
    void SetUp() override
    {
        EngineSandbox::SetUp();
        // Every reading of the clock moves it on, so that data events are
        // recorded and posted while the body arrives.
        mEnvironment.tickCount = [this] { return mClock += 600; };
        fs::create_directories(Outside());
        fs::create_directories(Dest() / "sub");
        WriteFileBytes(Outside() / "victim", "precious");
    }

    fs::path Outside() const { return mRoot / "outside"; }

    void SwapNow()
    {
        const SwapCase& swapCase = GetParam();
        const fs::path entry = Dest() / swapCase.listed;
        std::error_code ignored;
        switch (swapCase.swap) {
        case Swap::NameToLink:
            fs::remove(entry, ignored);
            fs::create_symlink(Outside() / "victim", entry);
            break;
        case Swap::NameToDangling:
            fs::remove(entry, ignored);
            fs::create_symlink(Outside() / fs::path(swapCase.listed).filename(), entry);
            break;
        case Swap::SubFolderToLink:
            fs::rename(Dest() / "sub", Dest() / "sub-moved");
            fs::create_symlink(Outside(), Dest() / "sub");
            break;
        }
    }
};

TEST_P(DestinationSwap, NothingIsWrittenOutsideAndTheAttemptSaysWhy)
{
    const SwapCase& swapCase = GetParam();
    const std::string body(20000, 'b');
    const std::string route = std::string("/rel/") + swapCase.listed;
    Reply reply{.body = body, .dripDelay = std::chrono::milliseconds(2), .dripChunk = 1000};
    if (swapCase.when == When::BetweenAttempts)
        reply.failTimes = 1;  // attempt 1 ends without a reply: nothing was written
    mServer.SetRoute(route, reply);
    ServeInfo("[Downloads]\nPath=" + mServer.Url("/rel") + "\nFile1=" + swapCase.listed
              + "\n[Checksum]\nFile1=" + Sha1Hex(body) + "\n");
    Run(TWebOperation::twoConfiguration);
    ASSERT_TRUE(mData.Result());
    mData.SetCarpetaDestino(Dest().string());

    bool swapped = false;
    if (swapCase.when == When::Before) {
        SwapNow();
        swapped = true;
    } else if (swapCase.when == When::BetweenAttempts) {
        mHost.mOnAttemptFailed = [&](int aAttempt) {
            if (aAttempt == 1 && !swapped) {
                SwapNow();
                swapped = true;
            }
        };
    } else {
        mHost.mOnPost = [&] {
            if (!swapped && mData.StatusCode() == TURLDownloadStatus::dsDownloadingData
                && mData.ArchProgreso() > 0 && mData.ArchProgreso() < body.size()) {
                SwapNow();
                swapped = true;
            }
        };
    }
    Run(TWebOperation::twoDownload);

    ASSERT_TRUE(swapped);
    EXPECT_EQ(mData.Result(), swapCase.reason == nullptr);
    EXPECT_EQ(ReadFileBytes(Outside() / "victim"), "precious");
    for (const auto& entry : fs::directory_iterator(Outside()))
        EXPECT_EQ(entry.path().filename(), "victim") << "written outside";
    // The final name of a ".rename" file never becomes a link out.
    EXPECT_FALSE(fs::is_symlink(Dest() / "setup.sh"));

    const auto failures = mHost.Failures();
    const std::size_t firstRefused = swapCase.when == When::BetweenAttempts ? 1 : 0;
    if (!swapCase.reason) {
        // Only the failed first attempt of a between-attempts case.
        EXPECT_EQ(failures.size(), firstRefused);
        const fs::path placed = Dest() / FinalPathOf(swapCase.listed);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(placed))) << "the link itself was replaced";
        EXPECT_EQ(ReadFileBytes(placed), body);
        return;
    }
    EXPECT_FALSE(mData.Result());
    ASSERT_EQ(failures.size(), 3u);
    for (std::size_t i = firstRefused; i < failures.size(); ++i)
        EXPECT_THAT(failures[i], ::testing::HasSubstr(swapCase.reason));
    // The refusals need no more transfers than the attempts themselves.
    EXPECT_LE(mServer.RequestCount(route), 3u);
}

INSTANTIATE_TEST_SUITE_P(Cases, DestinationSwap, ::testing::ValuesIn(kSwapCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// A ".rename" file replaced by a link between its check and its move is not
// moved: only the file that was checked gets the final name.
TEST(PlaceVerifiedInFolder, MovesOnlyTheCheckedFile)
{
    const ScratchFolder scratch;
    const fs::path& root = scratch.Path();
    const fs::path folder = root / "dest";
    fs::create_directories(folder);
    WriteFileBytes(folder / "setup.sh.rename", "checked");
    WriteFileBytes(folder / "setup.sh", "old");
    WriteFileBytes(root / "outside", "outside");

    const TFolderHandle handle(folder.string());
    // Held open, as the worker holds the file it checked.
    const UniqueFd open = handle.OpenForReading("setup.sh.rename");
    const auto checked = IdentityOf(open.Get());
    ASSERT_TRUE(checked);
    fs::remove(folder / "setup.sh.rename");
    fs::create_symlink(root / "outside", folder / "setup.sh.rename");
    EXPECT_THROW(PlaceVerified(handle, "setup.sh.rename", "setup.sh.rename", *checked), std::runtime_error);
    EXPECT_TRUE(fs::is_symlink(folder / "setup.sh.rename"));
    EXPECT_FALSE(fs::is_symlink(folder / "setup.sh"));

    fs::remove(folder / "setup.sh.rename");
    WriteFileBytes(folder / "setup.sh.rename", "checked");
    const UniqueFd reopened = handle.OpenForReading("setup.sh.rename");
    PlaceVerified(handle, "setup.sh.rename", "setup.sh.rename", *IdentityOf(reopened.Get()));
    EXPECT_EQ(ReadFileBytes(folder / "setup.sh"), "checked");
    EXPECT_FALSE(fs::exists(folder / "setup.sh.rename"));
}

}  // namespace

// ---------------------------------------------------------------------------
// Names written Windows-style

class EngineBackslashNames : public EngineSandbox {};

TEST_F(EngineBackslashNames, BackslashSeparatesFoldersLocallyAndInTheAddress)
{
    const std::string body = "cab";
    mServer.SetRoute("/rel/sub/data.cab", {.body = body});
    mServer.SetRoute("/rel/sub/deeper/more.cab", {.body = body});
    fs::create_directories(Dest() / "sub" / "deeper");
    ServeInfo("[Downloads]\nPath=" + mServer.Url("/rel")
              + "\nFile1=sub\\data.cab\nFile2=sub\\deeper\\more.cab" + "\n[Checksum]\nFile1=" + Sha1Hex(body)
              + "\nFile2=" + Sha1Hex(body) + "\n");
    ConfigureAndDownload();
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "sub" / "data.cab"), body);
    EXPECT_EQ(ReadFileBytes(Dest() / "sub" / "deeper" / "more.cab"), body);
    EXPECT_EQ(mServer.RequestCount("/rel/sub/data.cab"), 1u);
    EXPECT_FALSE(fs::exists(Dest() / "sub\\data.cab"));
}

TEST_F(EngineBackslashNames, MissingSubFolderIsNotCreated)
{
    const std::string body = "cab";
    mServer.SetRoute("/rel/nosub/data.cab", {.body = body});
    ServeInfo("[Downloads]\nPath=" + mServer.Url("/rel")
              + "\nFile1=nosub\\data.cab\n[Checksum]\nFile1=" + Sha1Hex(body) + "\n");
    ConfigureAndDownload();
    EXPECT_FALSE(mData.Result());
    EXPECT_FALSE(fs::exists(Dest() / "nosub"));
    EXPECT_FALSE(fs::exists(Dest() / "nosub\\data.cab"));
    for (const auto& path : mServer.RequestedPaths())
        EXPECT_EQ(path.find("%5C"), std::string::npos) << path;
}

TEST_F(EngineBackslashNames, BackslashCannotLeadOutOfTheDestination)
{
    const std::string body = "x";
    ServeInfo("[Downloads]\nPath=" + mServer.Url("/rel")
              + "\nFile1=..\\evil.sh\n[Checksum]\nFile1=" + Sha1Hex(body) + "\n");
    mServer.SetRoute("/evil.sh", {.body = body});
    ConfigureAndDownload();
    EXPECT_FALSE(mData.Result());
    EXPECT_FALSE(fs::exists(mRoot / "evil.sh"));
    EXPECT_EQ(mServer.RequestCount("/evil.sh"), 0u);
}

TEST_F(EngineBackslashNames, SetupNamedWithABackslashStartsInsideItsSubFolder)
{
    const std::string body = "#!/bin/sh\n";
    fs::create_directories(Dest() / "bin");
    mServer.SetRoute("/rel/bin/setup.sh", {.body = body});
    ServeInfo("[General]\nSetup=bin\\setup.sh\n[Downloads]\nPath=" + mServer.Url("/rel")
              + "\nFile1=bin\\setup.sh\n[Checksum]\nFile1=" + Sha1Hex(body) + "\n");
    ConfigureAndDownload();
    ASSERT_TRUE(mData.Result());
    Run(TWebOperation::twoInstall);
    ASSERT_EQ(mLaunches.size(), 1u);
    EXPECT_EQ(mLaunches[0].path, (Dest() / "bin" / "setup.sh").string());
}

// The setup program is looked at without following links: one planted at its
// name (or at its folder) since the download is not started.
TEST_F(EngineBackslashNames, SetupBehindALinkIsNotStarted)
{
    fs::create_directories(mRoot / "outside");
    WriteFileBytes(mRoot / "outside" / "setup.sh", "#!/bin/sh\n");
    fs::create_symlink(mRoot / "outside" / "setup.sh", Dest() / "setup.sh");
    fs::create_symlink(mRoot / "outside", Dest() / "bin");
    mData.SetCarpetaDestino(Dest().string());
    for (const char* setup : {"setup.sh", "bin/setup.sh", "bin\\setup.sh"}) {
        mData.SetArchSetup(setup);
        Run(TWebOperation::twoInstall);
    }
    EXPECT_TRUE(mLaunches.empty());
}
