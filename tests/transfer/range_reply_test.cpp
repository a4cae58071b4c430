#include <gtest/gtest.h>

#include "transfer/range_reply.h"

namespace {

// A reply to "Range: bytes=100-" for a file of 1000 bytes; bodyLength is the
// reply's Content-Length (-1: none sent).
struct PartialCase {
    const char* name;
    const char* contentRange;
    std::int64_t bodyLength;
    bool partial;
};

void PrintTo(const PartialCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const PartialCase kPartialCases[] = {
    {"the_rest", "bytes 100-999/1000", 900, true},
    {"unit_in_capitals", "BYTES 100-999/1000", 900, true},
    {"total_unknown", "bytes 100-999/*", 900, true},
    {"no_length_announced", "bytes 100-999/1000", -1, true},
    {"last_past_the_total", "bytes 100-199/10", 100, false},
    {"last_before_first", "bytes 100-50/1000", -1, false},
    {"last_not_a_number", "bytes 100-x/y", -1, false},
    {"total_not_a_number", "bytes 100-999/1000x", 900, false},
    {"another_start", "bytes 0-999/1000", 1000, false},
    {"not_to_the_end", "bytes 100-499/1000", 400, false},
    {"length_other_than_the_range", "bytes 100-999/1000", 500, false},
    {"empty_body", "bytes 100-999/*", 0, false},
    {"what_a_416_says", "bytes */1000", -1, false},
    {"no_first", "bytes -999/1000", -1, false},
    {"no_total", "bytes 100-999", 900, false},
    {"slash_before_dash", "bytes 100/999-1000", -1, false},
    {"blank_inside", "bytes 100 -999/1000", 900, false},
    {"sign_in_a_number", "bytes +100-999/1000", 900, false},
    {"other_unit", "items 100-999/1000", 900, false},
    {"empty", "", -1, false},
};

class PartialReply : public ::testing::TestWithParam<PartialCase> {};

TEST_P(PartialReply, IsUsedOnlyWhenTheWholeHeaderFits)
{
    const PartialCase& c = GetParam();
    const auto length =
        c.bodyLength < 0 ? std::nullopt : std::optional(static_cast<std::uint64_t>(c.bodyLength));
    EXPECT_EQ(IsPartialReplyFrom(c.contentRange, 100, length), c.partial) << c.contentRange;
}

INSTANTIATE_TEST_SUITE_P(Replies, PartialReply, ::testing::ValuesIn(kPartialCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

struct ValidatorCase {
    const char* etag;
    const char* lastModified;
    const char* validator;
};

}  // namespace

TEST(RangeReply, NumbersUpTo64BitsExactly)
{
    // 2^64 - 1 is the largest; one more does not fit.
    const auto largest =
        ParseContentRange("bytes 18446744073709551614-18446744073709551614/18446744073709551615");
    ASSERT_TRUE(largest.has_value());
    EXPECT_EQ(largest->first, UINT64_MAX - 1);
    EXPECT_EQ(largest->total, UINT64_MAX);
    EXPECT_TRUE(IsPartialReplyFrom("bytes 18446744073709551610-18446744073709551614/18446744073709551615",
                                   UINT64_MAX - 5, 5));
    EXPECT_TRUE(ParseContentRange("bytes 0-18446744073709551615/*").has_value());
    EXPECT_FALSE(ParseContentRange("bytes 0-18446744073709551616/*").has_value());
    EXPECT_FALSE(ParseContentRange("bytes 99999999999999999999-1/2").has_value());
    // The whole 64-bit range is 2^64 bytes: no length says that, and none
    // may wrap round to match it.
    EXPECT_FALSE(IsPartialReplyFrom("bytes 0-18446744073709551615/*", 0, 0));
}

TEST(RangeReply, OnlyAStrongTagOrALoneDateGuardsARange)
{
    const ValidatorCase cases[] = {
        {"\"v1\"", "Wed, 09 Dec 2026 10:00:00 GMT", "\"v1\""},
        {"\"\"", "", "\"\""},
        {"", "Wed, 09 Dec 2026 10:00:00 GMT", "Wed, 09 Dec 2026 10:00:00 GMT"},
        {"W/\"v1\"", "Wed, 09 Dec 2026 10:00:00 GMT", ""},  // a weak tag, and then no date either
        {"w/\"v1\"", "", ""},
        {"\"a\rb\"", "", ""},  // would split the request's header
        // Not a quoted string: no tag at all, so the date (if any) decides.
        {"abc", "Wed, 09 Dec 2026 10:00:00 GMT", "Wed, 09 Dec 2026 10:00:00 GMT"},
        {"abc", "", ""},
        {"\"x", "", ""},
        {"x\"", "", ""},
        {"\"a\"b\"", "", ""},
        {"\"a b\"", "", ""},
        {"", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RangeValidator(c.etag, c.lastModified), c.validator) << c.etag << " / " << c.lastModified;
    EXPECT_TRUE(IsUsableValidator(std::string(512, 'x')));
    EXPECT_FALSE(IsUsableValidator(std::string(513, 'x')));
}
