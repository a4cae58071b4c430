// The transfer's own bounds: a byte limit that stops an endless body while it
// is written, and the room check made once the size is known.
#include "tests/transfer/transfer_fixture.h"

namespace {

constexpr std::uint64_t kLimit = 64 * 1024;
const std::string kChunk(16 * 1024, 'z');

struct LimitCase {
    const char* name;
    Reply reply;
    bool succeeds;
    bool bodyRefusedUnread = false;  // failed before the first byte: the old file is untouched
};

void PrintTo(const LimitCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const LimitCase kLimitCases[] = {
    // 1 GiB without a length: as good as endless.
    {"endless_body_without_length", {.body = kChunk, .sendLength = false, .repeat = 1 << 16}, false},
    {"endless_chunks_that_drip",
     {.body = kChunk, .sendLength = false, .dripChunk = 4096, .repeat = 1 << 16},
     false},
    {"announced_longer_than_the_limit", {.body = kChunk, .repeat = 5}, false, true},
    {"a_length_that_lies_short", {.body = kChunk, .claimedLength = 1000, .repeat = 5}, true},
    {"exactly_the_limit", {.body = kChunk, .repeat = 4}, true},
    {"exactly_the_limit_without_length", {.body = kChunk, .sendLength = false, .repeat = 4}, true},
    {"one_byte_over_without_length", {.body = std::string(kLimit + 1, 'o'), .sendLength = false}, false},
};

class TransferBounds : public TransferTest {};

class TransferByteLimit : public TransferTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(TransferByteLimit, BodyStopsAtTheLimitWhileItIsWritten)
{
    const LimitCase& test = GetParam();
    mServer.SetRoute(kPath, test.reply);
    WriteFileBytes(mTarget, "old");
    TDownLoadURL action;
    action.SetByteLimit(kLimit);
    const std::string error = Run(action, mServer.Url(kPath), nullptr);
    const std::uint64_t written = std::filesystem::file_size(mTarget);
    EXPECT_LE(written, kLimit) << "nothing past the limit reaches the file";
    if (test.succeeds) {
        EXPECT_EQ(error, "");
        return;
    }
    EXPECT_EQ(error, "Error downloading URL: " + mServer.Url(kPath) + ": the server sent more than "
                         + std::to_string(kLimit) + " bytes for case.bin");
    // The server's side is stopped too: it gets no further than what the
    // sockets buffer hold past the limit.
    EXPECT_LT(mServer.BodyBytesSent(kPath), std::uint64_t{64} << 20);
    if (test.bodyRefusedUnread) {
        EXPECT_EQ(ReadFileBytes(mTarget), "old");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferByteLimit, ::testing::ValuesIn(kLimitCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// A limit stays for the next transfer of the action until it is lifted.
TEST_F(TransferBounds, ByteLimitStaysUntilLifted)
{
    mServer.SetRoute(kPath, {.body = std::string(kLimit * 2, 'b')});
    TDownLoadURL action;
    action.SetByteLimit(kLimit);
    EXPECT_NE(Run(action, mServer.Url(kPath), nullptr), "");
    EXPECT_NE(Run(action, mServer.Url(kPath), nullptr), "");
    action.SetByteLimit(std::nullopt);
    EXPECT_EQ(Run(action, mServer.Url(kPath), nullptr), "");
    EXPECT_EQ(std::filesystem::file_size(mTarget), kLimit * 2);
}

// The limit holds for a local source as well as for a web one.
TEST_F(TransferBounds, ByteLimitHoldsForALocalFile)
{
    const auto source = mScratch.Path() / "big.bin";
    WriteFileBytes(source, std::string(kLimit + 10, 'l'));
    TDownLoadURL action;
    action.SetByteLimit(kLimit);
    const std::string error = Run(action, source.string(), nullptr);
    EXPECT_NE(error.find("the server sent more than 65536 bytes for big.bin"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(mTarget)) << "its size is known before the target is opened";
}

struct RoomCase {
    const char* name;
    std::optional<std::uint64_t> expected;  // SetExpectedSize
    bool sendLength;
    std::uint64_t free;
    const char* refusal;  // null: the transfer succeeds
};

void PrintTo(const RoomCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

// The body is 300000 bytes.
const RoomCase kRoomCases[] = {
    {"length_fits", std::nullopt, true, 300000, nullptr},
    {"length_does_not_fit", std::nullopt, true, 299990,
     "cannot write case.bin: it needs 293.0 KB and the folder has 293.0 KB free"},
    {"expected_size_does_not_fit_without_length", 2'000'000'000, false, 200 * 1024 * 1024,
     "cannot write case.bin: it needs 1.9 GB and the folder has 200.0 MB free"},
    {"expected_size_does_not_fit", std::uint64_t{1} << 60, true, 1 << 30,
     "cannot write case.bin: it needs 1.0 EB and the folder has 1.0 GB free"},
    {"unknown_size_is_not_judged", std::nullopt, false, 10, nullptr},
};

class TransferRoom : public TransferTest, public ::testing::WithParamInterface<RoomCase> {};

TEST_P(TransferRoom, KnownSizeNeedsTheRoomBeforeTheBody)
{
    const RoomCase& test = GetParam();
    mServer.SetRoute(kPath, {.body = std::string(300000, 'r'), .sendLength = test.sendLength});
    WriteFileBytes(mTarget, "old");
    TDownLoadURL action;
    action.SetExpectedSize(test.expected);
    int probes = 0;
    action.SetFreeSpaceProbe([&](int) -> std::optional<std::uint64_t> {
        ++probes;
        return test.free;
    });
    const std::string error = Run(action, mServer.Url(kPath), nullptr);
    if (!test.refusal) {
        EXPECT_EQ(error, "");
        return;
    }
    EXPECT_EQ(error, "Error downloading URL: " + mServer.Url(kPath) + ": " + test.refusal);
    EXPECT_EQ(probes, 1);
    EXPECT_TRUE(ReadFileBytes(mTarget) == "old") << "refused before the file was given up";
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferRoom, ::testing::ValuesIn(kRoomCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// Without a probe the file system's own figure is used: a size no disk has
// is refused.
TEST_F(TransferBounds, RealFreeSpaceRefusesASizeNoDiskHas)
{
    mServer.SetRoute(kPath, {.body = "small"});
    TDownLoadURL action;
    action.SetExpectedSize(std::uint64_t{1} << 62);
    const std::string error = Run(action, mServer.Url(kPath), nullptr);
    EXPECT_NE(error.find("cannot write case.bin: it needs 4.0 EB and the folder has "), std::string::npos)
        << error;
}

}  // namespace
