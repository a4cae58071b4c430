// The digest a transfer takes of its file while writing it, and the one
// connection that a release's transfers share.

#include "transfer/download_url.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "components/file_digests.h"
#include "tests/support/file_bytes.h"
#include "tests/support/loopback_server.h"
#include "tests/support/scratch_folder.h"
#include "tests/transfer/test_helpers.h"

namespace {

using S = TURLDownloadStatus;

class WrittenDigest : public ::testing::Test {
protected:
    LoopbackServer mServer;
    ScratchFolder mScratch;
    std::string mTarget = (mScratch.Path() / "target.bin").string();

    // Runs one transfer into mTarget; true when ExecuteTarget returned.
    bool Fetch(TDownLoadURL& aAction, const std::string& aPath)
    {
        aAction.SetURL(mServer.Url(aPath));
        aAction.SetFilename(mTarget);
        try {
            aAction.ExecuteTarget();
            return true;
        } catch (const TransferError&) {
            return false;
        }
    }
};

struct DigestCase {
    const char* name;
    std::string body;
    std::uint64_t repeat;
    const char* sha1;  // from sha1sum
};

void PrintTo(const DigestCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

// Lengths around the writer's 512 KiB block, and more blocks than the digest
// keeps in flight.
const DigestCase kDigestCases[] = {
    {"empty", "", 1, "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
    {"abc", "abc", 1, "A9993E364706816ABA3E25717850C26C9CD0D89D"},
    {"million_a", "a", 1000000, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    {"one_mebibyte", "a", 1048576, "454027D64E3B855735552D42230EEA1CBD645FA0"},
    {"three_mebibytes_and_one", "a", 3145729, "B50A3128DE1196B1382946D9A62CDFF54A559632"},
};

class WrittenDigestOf : public WrittenDigest, public ::testing::WithParamInterface<DigestCase> {};

TEST_P(WrittenDigestOf, EqualsTheFileOnDisk)
{
    mServer.SetRoute("/f.bin", {.body = GetParam().body, .repeat = GetParam().repeat});
    TDownLoadURL action;
    action.SetDigestWhileWriting(true);
    ASSERT_TRUE(Fetch(action, "/f.bin"));
    const auto digest = action.TakeWrittenDigest();
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(digest->sha1, GetParam().sha1);
    EXPECT_EQ(FileDigestTexts(mTarget).sha1, GetParam().sha1);
    EXPECT_FALSE(action.TakeWrittenDigest().has_value()) << "handed out once";
}

INSTANTIATE_TEST_SUITE_P(Lengths, WrittenDigestOf, ::testing::ValuesIn(kDigestCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(WrittenDigest, SignedReleaseGetsTheSha256FromTheSameBlocks)
{
    mServer.SetRoute("/f.bin", {.body = "a", .repeat = 1000000});
    TDownLoadURL action;
    action.SetDigestWhileWriting(true, true);
    ASSERT_TRUE(Fetch(action, "/f.bin"));
    const auto digest = action.TakeWrittenDigest();
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(digest->sha1, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
    EXPECT_EQ(digest->sha256, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_F(WrittenDigest, FileOthersMayWriteToGivesNoDigest)
{
    // Someone else could have changed bytes of it behind the writer: the
    // digest of what we wrote is not the file's, so the caller reads it.
    WriteFileBytes(mTarget, "old");
    std::filesystem::permissions(mTarget, std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::add);
    mServer.SetRoute("/f.bin", {.body = "abc"});
    TDownLoadURL action;
    action.SetDigestWhileWriting(true);
    ASSERT_TRUE(Fetch(action, "/f.bin"));
    EXPECT_EQ(ReadFileBytes(mTarget), "abc");
    EXPECT_FALSE(action.TakeWrittenDigest().has_value());

    std::filesystem::permissions(mTarget, std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    ASSERT_TRUE(Fetch(action, "/f.bin"));
    EXPECT_TRUE(action.TakeWrittenDigest().has_value()) << "only the owner may write to it now";
}

TEST_F(WrittenDigest, LocalSourceIsDigestedToo)
{
    const auto source = mScratch.Path() / "source.bin";
    WriteFileBytes(source, "abc");
    TDownLoadURL action;
    action.SetDigestWhileWriting(true);
    action.SetURL(source.string());
    action.SetFilename(mTarget);
    ASSERT_NO_THROW(action.ExecuteTarget());
    const auto digest = action.TakeWrittenDigest();
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(digest->sha1, "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST_F(WrittenDigest, FailedOrCancelledTransferThrowsItsPartialDigestAway)
{
    mServer.SetRoute("/good.bin", {.body = "abc"});
    mServer.SetRoute("/cut.bin", {.body = std::string(3 << 20, 'c'), .dropAfter = 1 << 20});
    mServer.SetRoute("/long.bin", {.body = std::string(1 << 20, 'l'), .repeat = 8});
    TDownLoadURL action;
    action.SetDigestWhileWriting(true);

    // A digest left from an earlier good file must not pass for a later one.
    ASSERT_TRUE(Fetch(action, "/good.bin"));
    EXPECT_FALSE(Fetch(action, "/cut.bin"));
    EXPECT_FALSE(action.TakeWrittenDigest().has_value()) << "dropped mid-body";

    bool cancelled = false;
    action.SetOnDownloadProgress([&](TDownLoadURL&, std::uint64_t aProgress, std::uint64_t, S aStatus,
                                     const std::string&, bool& aCancel) {
        if (aStatus == S::dsDownloadingData && aProgress >= (2u << 20))
            aCancel = cancelled = true;
    });
    EXPECT_FALSE(Fetch(action, "/long.bin"));
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(action.TakeWrittenDigest().has_value()) << "cancelled mid-body";
}

TEST_F(WrittenDigest, AbortAfterTheLastByteStillGivesTheDigest)
{
    mServer.SetRoute("/f.bin", {.body = "a", .repeat = 1000000});
    TDownLoadURL action;
    action.SetDigestWhileWriting(true);
    // The end of data is the last word of a complete transfer: a cancel from
    // here on waits for the digest instead of losing the file.
    action.SetOnDownloadProgress(
        [](TDownLoadURL& aSender, std::uint64_t, std::uint64_t, S aStatus, const std::string&, bool&) {
            if (aStatus == S::dsEndDownloadData)
                aSender.Binding()->Abort();
        });
    ASSERT_TRUE(Fetch(action, "/f.bin"));
    const auto digest = action.TakeWrittenDigest();
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(digest->sha1, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
}

TEST_F(WrittenDigest, FileSwappedDuringTheTransferGivesNoDigest)
{
    mServer.SetRoute("/f.bin", {.body = std::string(1 << 20, 's'), .repeat = 4});
    TDownLoadURL action;
    action.SetDigestWhileWriting(true);
    const auto moved = mScratch.Path() / "moved.bin";
    bool swapped = false;
    // Another process puts a file of its own where ours was being written.
    action.SetOnDownloadProgress(
        [&](TDownLoadURL&, std::uint64_t aProgress, std::uint64_t, S aStatus, const std::string&, bool&) {
            if (!swapped && aStatus == S::dsDownloadingData && aProgress >= (1u << 20)) {
                std::filesystem::rename(mTarget, moved);
                WriteFileBytes(mTarget, "abc");
                swapped = true;
            }
        });
    ASSERT_TRUE(Fetch(action, "/f.bin"));
    ASSERT_TRUE(swapped);
    EXPECT_FALSE(action.TakeWrittenDigest().has_value()) << "the caller must read the file at the path";
}

TEST_F(WrittenDigest, OffByDefault)
{
    mServer.SetRoute("/f.bin", {.body = "abc"});
    TDownLoadURL action;
    ASSERT_TRUE(Fetch(action, "/f.bin"));
    EXPECT_FALSE(action.TakeWrittenDigest().has_value());
    EXPECT_EQ(ReadFileBytes(mTarget), "abc");
}

// ---------------------------------------------------------------------------

TEST_F(WrittenDigest, OneActionKeepsItsConnectionFromFileToFile)
{
    mServer.SetKeepAlive(true);
    mServer.SetRoute("/one.bin", {.body = "one"});
    mServer.SetRoute("/two.bin", {.body = std::string(1 << 20, '2'), .repeat = 2});
    mServer.SetRoute("/old.bin", {.status = 302, .location = "/three.bin"});
    mServer.SetRoute("/three.bin", {.body = "three"});
    TDownLoadURL action;
    action.SetDigestWhileWriting(true);
    ASSERT_TRUE(Fetch(action, "/one.bin"));
    ASSERT_TRUE(Fetch(action, "/two.bin"));
    EXPECT_EQ(mServer.ConnectionCount(), 1u);
    // A redirect ends its reply early, which costs that connection; the
    // target and what follows share the next one.
    ASSERT_TRUE(Fetch(action, "/old.bin")) << "the redirect is followed without a handler";
    EXPECT_EQ(ReadFileBytes(mTarget), "three");
    ASSERT_TRUE(Fetch(action, "/one.bin"));
    EXPECT_EQ(mServer.RequestedPaths(),
              (std::vector<std::string>{"/one.bin", "/two.bin", "/old.bin", "/three.bin", "/one.bin"}))
        << "every attempt is its own request";
    EXPECT_EQ(mServer.ConnectionCount(), 2u);
}

TEST_F(WrittenDigest, ActionsDoNotShareConnections)
{
    mServer.SetKeepAlive(true);
    mServer.SetRoute("/one.bin", {.body = "one"});
    for (int i = 0; i < 2; ++i) {
        TDownLoadURL action;
        ASSERT_TRUE(Fetch(action, "/one.bin"));
    }
    EXPECT_EQ(mServer.ConnectionCount(), 2u);
}

}  // namespace
