#include "tests/transfer/transfer_fixture.h"

namespace {

// ---------------------------------------------------------------------------
// Abort from another thread while the server sends nothing.

enum class Silence { AfterHeaders, NoReplyAtAll };

struct AbortCase {
    const char* name;
    Silence silence;
};

void PrintTo(const AbortCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const AbortCase kAbortCases[] = {
    {"headers_then_silence", Silence::AfterHeaders},
    {"no_reply_at_all", Silence::NoReplyAtAll},
};

class AbortFromAnotherThread : public TransferTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(AbortFromAnotherThread, ReturnsQuickly)
{
    SilentListener silent;
    mServer.SetRoute(kPath, {.body = std::string(100000, 's'), .stallAfter = 1000});
    const bool afterHeaders = GetParam().silence == Silence::AfterHeaders;
    const S lastWord = afterHeaders ? S::dsDownloadingData : S::dsSendingRequest;

    TDownLoadURL action;
    action.SetURL(afterHeaders ? mServer.Url(kPath) : silent.Url(kPath));
    action.SetFilename(mTarget);
    std::promise<void> reached;
    std::atomic<bool> signalled{false};
    action.SetOnDownloadProgress(
        [&](TDownLoadURL&, std::uint64_t, std::uint64_t, S aStatus, const std::string&, bool&) {
            if (aStatus == lastWord && !signalled.exchange(true))
                reached.set_value();
        });

    std::atomic<bool> threw{false};
    std::atomic<bool> returned{false};
    std::chrono::steady_clock::time_point returnedAt;
    std::thread worker([&] {
        try {
            action.ExecuteTarget();
        } catch (const TransferError&) {
            threw = true;
        }
        returnedAt = std::chrono::steady_clock::now();
        returned = true;
    });
    const bool wasReached = reached.get_future().wait_for(kEventuallyLimit) == std::future_status::ready;
    // Past curl's own early timers (200 ms), so only Abort can end the wait.
    std::this_thread::sleep_for(300ms);
    const auto binding = action.Binding();
    const bool runningAtAbort = !returned;
    const auto abortAt = std::chrono::steady_clock::now();
    if (binding)
        binding->Abort();
    worker.join();

    ASSERT_TRUE(wasReached);
    ASSERT_TRUE(binding);
    ASSERT_TRUE(runningAtAbort);  // else the abort had nothing to end
    EXPECT_TRUE(threw);
    const auto latency = std::chrono::duration_cast<std::chrono::microseconds>(returnedAt - abortAt);
    std::cout << "[ measured ] abort latency (" << GetParam().name << "): " << latency.count() / 1000.0
              << " ms\n";
    RecordProperty("abort_latency_us", std::to_string(latency.count()));
    // Only the silence backstop would end the wait otherwise.
    EXPECT_LT(latency, TDownLoadURL::kTransferSilenceBackstop / 4);
    binding->Abort();  // after the end: harmless
}

INSTANTIATE_TEST_SUITE_P(Cases, AbortFromAnotherThread, ::testing::ValuesIn(kAbortCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

}  // namespace
