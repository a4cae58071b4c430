// The transfer's target: opened only once the server has answered, never
// through a link, and every failure to open or write it is named.

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/file_bytes.h"
#include "tests/support/loopback_server.h"
#include "tests/support/scratch_folder.h"
#include "tests/transfer/test_helpers.h"
#include "transfer/download_url.h"

namespace {

class TargetTest : public ::testing::Test {
protected:
    static constexpr const char* kPath = "/dir/target.bin";

    LoopbackServer mServer;
    ScratchFolder mScratch;
    std::string mTarget = (mScratch.Path() / "target.bin").string();

    // "" on success, else the TransferError's text.
    std::string Run(TDownLoadURL& aAction, const std::string& aUrl, std::nullptr_t)
    {
        aAction.SetURL(aUrl);
        aAction.SetFilename(mTarget);
        try {
            aAction.ExecuteTarget();
            return "";
        } catch (const TransferError& aError) {
            return aError.what();
        }
    }
};

// ---------------------------------------------------------------------------
// Targets that cannot or must not be written: the attempt fails, says why, and
// nothing is written anywhere else.

struct TargetCase {
    const char* name;
    // Makes the target at aTarget; aOutside is a file outside the scratch
    // folder's target name that must stay as it is.
    std::function<void(const std::filesystem::path& aTarget, const std::filesystem::path& aOutside)> make;
    const char* reason;
};

void PrintTo(const TargetCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const TargetCase kTargetCases[] = {
    {"missing_folder",
     [](const auto& aTarget, const auto&) { std::filesystem::remove_all(aTarget.parent_path()); },
     "No such file or directory"},
    {"link_to_a_file",
     [](const auto& aTarget, const auto& aOutside) { std::filesystem::create_symlink(aOutside, aTarget); },
     "it is a symbolic link"},
    {"dangling_link",
     [](const auto& aTarget, const auto& aOutside) {
         std::filesystem::create_symlink(aOutside.parent_path() / "created-through-link", aTarget);
     },
     "it is a symbolic link"},
    {"folder", [](const auto& aTarget, const auto&) { std::filesystem::create_directory(aTarget); },
     "it is not a regular file"},
    {"pipe", [](const auto& aTarget, const auto&) { ASSERT_EQ(mkfifo(aTarget.c_str(), 0600), 0); },
     "it is not a regular file"},
};

class TransferTargetRefused : public TargetTest, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(TransferTargetRefused, FailsWithTheReasonAndWritesNothingElsewhere)
{
    mServer.SetRoute(kPath, {.body = "data"});
    const auto folder = mScratch.Path() / "folder";
    const auto outside = mScratch.Path() / "outside" / "kept.bin";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(outside.parent_path());
    WriteFileBytes(outside, "outside");
    mTarget = (folder / "target.bin").string();
    GetParam().make(mTarget, outside);

    TDownLoadURL action;
    const std::string message = Run(action, mServer.Url(kPath), nullptr);
    EXPECT_THAT(message, ::testing::StartsWith("Error downloading URL: " + mServer.Url(kPath) + ": cannot "));
    EXPECT_THAT(message, ::testing::EndsWith(GetParam().reason));
    EXPECT_EQ(ReadFileBytes(outside), "outside");
    EXPECT_FALSE(std::filesystem::exists(outside.parent_path() / "created-through-link"));
}

INSTANTIATE_TEST_SUITE_P(Targets, TransferTargetRefused, ::testing::ValuesIn(kTargetCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// Whatever lay at the name before, the file ends as exactly the new body.
TEST_F(TargetTest, OlderFileAtTheNameEndsAsTheNewBody)
{
    const std::string body(3 * 512 * 1024 + 5, 'n');
    mServer.SetRoute(kPath, {.body = body});
    const std::string olds[] = {"", "old", std::string(body.size() * 2, 'o')};
    for (const std::string& old : olds) {
        SCOPED_TRACE(old.size());
        WriteFileBytes(mTarget, old);
        TDownLoadURL action;
        ASSERT_EQ(Run(action, mServer.Url(kPath), nullptr), "");
        EXPECT_EQ(ReadFileBytes(mTarget), body);
    }
}

// The opener's refusal is the reason; the transfer adds the address.
TEST_F(TargetTest, OpenerRefusalIsTheReason)
{
    mServer.SetRoute(kPath, {.body = "data"});
    TDownLoadURL action;
    action.SetTargetOpener([]() -> UniqueFd { throw std::runtime_error("cannot write x: it is a link"); });
    EXPECT_EQ(Run(action, mServer.Url(kPath), nullptr),
              "Error downloading URL: " + mServer.Url(kPath) + ": cannot write x: it is a link");
}

// A full disk is named, whether the write or the final flush finds it out.
TEST_F(TargetTest, FullDiskNamesTheSystemsError)
{
    for (const std::size_t size : {std::size_t{10}, std::size_t{3 * 1024 * 1024}}) {
        SCOPED_TRACE(size);
        mServer.SetRoute(kPath, {.body = std::string(size, 'f')});
        TDownLoadURL action;
        action.SetTargetOpener([] {
            UniqueFd full{::open("/dev/full", O_WRONLY | O_CLOEXEC)};
            if (!full)
                throw std::runtime_error("no /dev/full");
            return full;
        });
        EXPECT_EQ(Run(action, mServer.Url(kPath), nullptr), "Error downloading URL: " + mServer.Url(kPath)
                                                                + ": cannot write " + mTarget
                                                                + ": No space left on device");
    }
}

}  // namespace
