#include "transfer/fetch_url_text.h"

#include <chrono>
#include <functional>
#include <future>
#include <memory>

#include <gtest/gtest.h>

#include "tests/support/eventually.h"
#include "tests/support/loopback_server.h"
#include "tests/transfer/test_helpers.h"

namespace {

using namespace std::chrono_literals;

struct FetchCase {
    const char* name;
    Reply reply;  // served at /info
    std::size_t bufferSize;
    std::string text;  // expected
    TFetchResult result;
};

void PrintTo(const FetchCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const FetchCase kFetchCases[] = {
    {"one_line_with_line_break",
     {.body = "http://example.com/r/info.ini\r\n"},
     10000,
     "http://example.com/r/info.ini\r\n",
     TFetchResult::Ok},
    {"longer_than_buffer_is_cut",
     {.body = std::string(100, 'x') + "tail"},
     10,
     std::string(10, 'x'),
     TFetchResult::Ok},
    {"exactly_the_buffer", {.body = "12345"}, 5, "12345", TFetchResult::Ok},
    {"zero_buffer", {.body = "abc"}, 0, "", TFetchResult::Ok},
    {"empty_body", {.body = ""}, 10000, "", TFetchResult::Ok},
    {"error_page_body_is_text",
     {.status = 404, .body = "<html>missing</html>", .contentType = "text/html"},
     10000,
     "<html>missing</html>",
     TFetchResult::Ok},
    {"bytes_unchanged",
     {.body = std::string("caf\xC3\xA9 \xE9\0end", 11)},
     10000,
     std::string("caf\xC3\xA9 \xE9\0end", 11),
     TFetchResult::Ok},
    {"redirect_is_followed", {.status = 302, .location = "/final"}, 10000, "followed\n", TFetchResult::Ok},
    {"body_breaks_off",
     {.body = std::string(100, 'b'), .dropAfter = 10},
     10000,
     "",
     TFetchResult::ReadFailed},
    {"closed_without_reply", {.failTimes = 1}, 10000, "", TFetchResult::OpenFailed},
};

class FetchScenario : public ::testing::TestWithParam<FetchCase> {
protected:
    LoopbackServer mServer{{{"/final", {.body = "followed\n"}}}};
};

TEST_P(FetchScenario, ReturnsTextAndCode)
{
    mServer.SetRoute("/info", GetParam().reply);
    std::string text = "stale";
    EXPECT_EQ(FetchURLText(mServer.Url("/info"), text, GetParam().bufferSize, 0, 0), GetParam().result);
    EXPECT_EQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, FetchScenario, ::testing::ValuesIn(kFetchCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

struct AddressCase {
    const char* name;
    std::function<std::string()> url;
};

void PrintTo(const AddressCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const AddressCase kUnopenable[] = {
    {"refused_port", [] { return "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/info"; }},
    // .invalid never resolves (RFC 6761); the lookup stays on this machine.
    {"unresolvable_name", [] { return std::string("http://nonexistent.invalid/"); }},
    {"malformed_address", [] { return std::string("http://[oops/info"); }},
    {"empty_address", [] { return std::string(); }},
    {"file_scheme_refused", [] { return std::string("file:///etc/hostname"); }},
};

class FetchUnopenable : public ::testing::TestWithParam<AddressCase> {};

TEST_P(FetchUnopenable, ReturnsOpenFailedAndNoText)
{
    std::string text = "stale";
    EXPECT_EQ(FetchURLText(GetParam().url(), text, 10000, 0, 0), TFetchResult::OpenFailed);
    EXPECT_EQ(text, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, FetchUnopenable, ::testing::ValuesIn(kUnopenable),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST(FetchURLTextTimes, WaitPausesAfterTheHeadersAndTimeoutAllowsTheConnect)
{
    LoopbackServer server{{{"/info", {.body = "answer"}}}};
    std::string text;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FetchURLText(server.Url("/info"), text, 10000, 2000, 150), TFetchResult::Ok);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    EXPECT_EQ(text, "answer");
}

// The server going away while its reply stalls: the fetch ends as a failed
// read, and the server's destructor does not wait for the stalled reply.
TEST(FetchURLTextTimes, ServerStoppingMidBodyIsAReadFailure)
{
    auto server = std::make_unique<LoopbackServer>(
        std::map<std::string, Reply>{{"/info", {.body = std::string(1000, 'z'), .stallAfter = 10}}});
    const std::string url = server->Url("/info");
    auto fetch = std::async(std::launch::async, [url] {
        std::string text;
        const TFetchResult result = FetchURLText(url, text, 10000, 0, 0);
        return std::make_pair(result, text);
    });
    // The head and the first bytes are with the client before the server goes.
    ASSERT_TRUE(Eventually([&] { return server->StallCount("/info") == 1; }));
    ASSERT_EQ(fetch.wait_for(0s), std::future_status::timeout);
    const auto start = std::chrono::steady_clock::now();
    server.reset();
    // Waiting for the stalled reply would last until the fetch's 60 s silence limit.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    ASSERT_EQ(fetch.wait_for(kEventuallyLimit), std::future_status::ready);
    const auto [result, text] = fetch.get();
    EXPECT_EQ(result, TFetchResult::ReadFailed);
    EXPECT_EQ(text, "");
}

}  // namespace
