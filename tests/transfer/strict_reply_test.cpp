// What a transfer makes of a server's range reply and of addresses it must
// not follow: a reply that is not exactly the rest asked for is no rest.
#include "tests/transfer/transfer_fixture.h"

namespace {

constexpr std::size_t kHeld = 100;

struct RangeCase {
    const char* name;
    std::string contentRange;  // "" the true one
    bool appended;
};

void PrintTo(const RangeCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const RangeCase kRangeCases[] = {
    {"true_range", "", true},
    {"total_unknown", "bytes 100-999/*", true},
    {"last_past_the_total", "bytes 100-199/10", false},
    {"last_before_first", "bytes 100-50/1000", false},
    {"not_numbers", "bytes 100-x/y", false},
    {"shorter_than_the_body", "bytes 100-499/1000", false},
};

class RangeAnswer : public TransferTest, public ::testing::WithParamInterface<RangeCase> {
protected:
    static std::string Body()
    {
        std::string body(1000, '\0');
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>('a' + i % 26);
        return body;
    }
};

TEST_P(RangeAnswer, OnlyAWellFormedMatchingRangeIsAppended)
{
    const std::string body = Body();
    mServer.SetRoute(kPath, {.body = body, .etag = "\"v1\"", .contentRange = GetParam().contentRange});
    WriteFileBytes(mTarget, body.substr(0, kHeld));
    TDownLoadURL action;
    action.SetResume(TResumePoint{kHeld, "\"v1\""});
    const std::string error = Run(action, mServer.Url(kPath), nullptr);
    ASSERT_EQ(mServer.Requests().size(), 1u);
    EXPECT_EQ(mServer.Requests()[0].range, "bytes=100-");
    if (GetParam().appended) {
        EXPECT_EQ(error, "");
        EXPECT_EQ(ReadFileBytes(mTarget), body);
        EXPECT_EQ(action.ResumedAt(), kHeld);
    } else {
        EXPECT_NE(error, "");
        EXPECT_TRUE(action.RangeRefused());
        EXPECT_EQ(ReadFileBytes(mTarget), body.substr(0, kHeld)) << "the held bytes stay as they were";
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, RangeAnswer, ::testing::ValuesIn(kRangeCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// Its own name: TransferTest's tests live in another file of this binary.
class StrictReply : public TransferTest {};

TEST_F(StrictReply, TagThatIsNoQuotedStringLeavesTheDate)
{
    const std::string date = "Wed, 09 Dec 2026 10:00:00 GMT";
    for (const char* tag : {"abc", "\"x"}) {
        mServer.SetRoute(kPath, {.body = "whole", .etag = tag, .lastModified = date});
        TDownLoadURL action;
        action.SetResume(TResumePoint{});
        ASSERT_EQ(Run(action, mServer.Url(kPath), nullptr), "") << tag;
        EXPECT_EQ(action.ReplyValidator(), date) << tag;
    }
}

TEST_F(StrictReply, LocalAddressWithDelIsRefused)
{
    // Decoded, each would name a file that is there.
    WriteFileBytes(mScratch.Path() / "a\177b", "secret");  // octal: DEL, then "b"
    WriteFileBytes(mScratch.Path() / "a\001b", "secret");
    for (const char* name : {"a%7Fb", "a%7fb", "a%01b"}) {
        TDownLoadURL action;
        EXPECT_NE(Run(action, "file://" + mScratch.Path().string() + "/" + name, nullptr), "") << name;
        EXPECT_FALSE(std::filesystem::exists(mTarget)) << name;
    }
    TDownLoadURL action;
    WriteFileBytes(mScratch.Path() / "aAb", "fine");
    EXPECT_EQ(Run(action, "file://" + mScratch.Path().string() + "/a%41b", nullptr), "")
        << "an encoded letter is no control byte";
}

}  // namespace
