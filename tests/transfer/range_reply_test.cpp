#include <gtest/gtest.h>

#include "transfer/range_reply.h"

namespace {

struct StartCase {
    const char* contentRange;
    std::optional<std::uint64_t> start;
};

struct ValidatorCase {
    const char* etag;
    const char* lastModified;
    const char* validator;
};

}  // namespace

TEST(RangeReply, StartOfAPartialReply)
{
    const StartCase cases[] = {
        {"bytes 6291456-8388607/8388608", 6291456},
        {"BYTES 0-0/1", 0},
        {"bytes 5-9/*", 5},
        {"bytes */10", std::nullopt},  // what a 416 says
        {"bytes -9/10", std::nullopt},
        {"bytes 5-9", std::nullopt},
        {"bytes 5/9-10", std::nullopt},
        {"bytes 5x-9/10", std::nullopt},
        {"items 5-9/10", std::nullopt},
        {"bytes 99999999999999999999-1/2", std::nullopt},  // past 64 bits
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RangeStart(c.contentRange), c.start) << c.contentRange;
}

TEST(RangeReply, OnlyAStrongTagOrALoneDateGuardsARange)
{
    const ValidatorCase cases[] = {
        {"\"v1\"", "Wed, 09 Dec 2026 10:00:00 GMT", "\"v1\""},
        {"", "Wed, 09 Dec 2026 10:00:00 GMT", "Wed, 09 Dec 2026 10:00:00 GMT"},
        {"W/\"v1\"", "Wed, 09 Dec 2026 10:00:00 GMT", ""},  // a weak tag, and then no date either
        {"w/\"v1\"", "", ""},
        {"\"a\rb\"", "", ""},  // would split the request's header
        {"", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RangeValidator(c.etag, c.lastModified), c.validator) << c.etag << " / " << c.lastModified;
    EXPECT_TRUE(IsUsableValidator(std::string(512, 'x')));
    EXPECT_FALSE(IsUsableValidator(std::string(513, 'x')));
}
