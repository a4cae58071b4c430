// The worker's progress handler on its own with a fake clock, and the parts
// of the download operation that hang on it: start times and byte counts
// across retries, the pause after the configuration, a redirect whose
// target then fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/engine_sandbox.h"

namespace {

using S = TURLDownloadStatus;

struct HandlerCall {
    std::uint32_t after;  // ms after the worker was made (its first tick)
    S status;
    std::uint64_t progress;
    bool recorded;  // figures stored and the progress message posted
    bool cancel;    // the handler's cancel answer
};

struct HandlerCase {
    const char* name;
    std::uint32_t startTick;
    bool cancelled;  // the record's cancel flag during the calls
    std::vector<HandlerCall> calls;
};

void PrintTo(const HandlerCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

constexpr std::uint32_t kNearTheWrap = std::numeric_limits<std::uint32_t>::max() - 499;

const HandlerCase kHandlerCases[] = {
    {"data_strictly_more_than_a_second_after",
     5000,
     false,
     {{1000, S::dsDownloadingData, 10, false, false},
      {1001, S::dsDownloadingData, 20, true, false},
      {2001, S::dsDownloadingData, 30, false, false},
      {2002, S::dsDownloadingData, 40, true, false}}},
    {"data_400_ms_apart_records_every_third",
     5000,
     false,
     {{400, S::dsDownloadingData, 1, false, false},
      {800, S::dsDownloadingData, 2, false, false},
      {1200, S::dsDownloadingData, 3, true, false},
      {1600, S::dsDownloadingData, 4, false, false},
      {2000, S::dsDownloadingData, 5, false, false},
      {2400, S::dsDownloadingData, 6, true, false},
      {2800, S::dsDownloadingData, 7, false, false},
      {3200, S::dsDownloadingData, 8, false, false},
      {3600, S::dsDownloadingData, 9, true, false}}},
    {"the_32_bit_wrap",
     kNearTheWrap,
     false,
     {{1000, S::dsDownloadingData, 10, false, false},
      {1001, S::dsDownloadingData, 20, true, false},
      {1401, S::dsDownloadingData, 30, false, false},
      {2001, S::dsDownloadingData, 40, false, false},
      {2002, S::dsDownloadingData, 50, true, false}}},
    {"other_statuses_at_once",
     5000,
     false,
     {{1001, S::dsDownloadingData, 10, true, false},
      {1011, S::dsEndDownloadData, 10, true, false},
      {1012, S::dsSendingRequest, 0, true, false}}},
    {"special_statuses_record_nothing",
     5000,
     false,
     {{5000, S::dsBeginDownloadData, 0, false, false},
      {6000, S::dsCacheFileNameAvailable, 0, false, false},
      {7000, S::dsRedirecting, 0, false, true}}},
    {"cancel_flag_answers_all_but_the_special_statuses",
     5000,
     true,
     {{10, S::dsBeginDownloadData, 0, false, false},
      {20, S::dsCacheFileNameAvailable, 0, false, false},
      {30, S::dsDownloadingData, 5, false, true},
      {1031, S::dsDownloadingData, 6, true, true},
      {1040, S::dsEndDownloadData, 6, true, true},
      {1050, S::dsRedirecting, 0, false, true}}},
};

class ProgressHandler : public EngineSandbox, public ::testing::WithParamInterface<HandlerCase> {};

TEST_P(ProgressHandler, RecordsAndAnswersAsTheThrottleSays)
{
    const HandlerCase& test = GetParam();
    mClock = test.startTick;
    ThreadDownloads worker(true, mData, mHost, mEnvironment);  // never started: the calls come from here
    mData.SetCancelado(test.cancelled);
    TDownLoadURL action;
    std::uint64_t lastRecorded = 0;
    for (const HandlerCall& call : test.calls) {
        SCOPED_TRACE(std::to_string(call.after) + " ms");
        mClock = test.startTick + call.after;  // wraps as the tick counter does
        const int postsBefore = mHost.mPosts;
        bool cancel = false;
        worker.DownloadProgress(action, call.progress, 1000, call.status, "text", cancel);
        EXPECT_EQ(mHost.mPosts - postsBefore, call.recorded ? 1 : 0);
        EXPECT_EQ(cancel, call.cancel);
        if (call.recorded)
            lastRecorded = call.progress;
        EXPECT_EQ(mData.ArchProgreso(), lastRecorded);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressHandler, ::testing::ValuesIn(kHandlerCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// What the record held at each posted update, and how many attempts had
// failed by then.
class SnapshotHost : public RecordingHost {
public:
    struct Snapshot {
        int failedAttempts;
        double tStart;
        double acumulado;
        double acumuladosEnteros;
        std::uint64_t archProgreso;
    };

    explicit SnapshotHost(const TDownloadData& aData) : mData(aData) {}

    void PostProgress() noexcept override
    {
        RecordingHost::PostProgress();
        std::lock_guard lock(mSnapshotMutex);
        try {
            mSnapshots.push_back({mFailed, mData.TStart(), mData.Acumulado(), mData.AcumuladosEnteros(),
                                  mData.ArchProgreso()});
        } catch (...) {
            // The test then misses a snapshot and says so.
        }
    }
    void AttemptFailed(const std::string&, int, const std::string&) noexcept override
    {
        std::lock_guard lock(mSnapshotMutex);
        ++mFailed;
    }
    std::vector<Snapshot> Snapshots()
    {
        std::lock_guard lock(mSnapshotMutex);
        return mSnapshots;
    }

private:
    const TDownloadData& mData;
    std::mutex mSnapshotMutex;
    int mFailed = 0;
    std::vector<Snapshot> mSnapshots;
};

class ProgressAcrossAttempts : public EngineSandbox {};

TEST_F(ProgressAcrossAttempts, RetryKeepsTheStartTimeAndDropsTheFailedBytes)
{
    const std::string first(40000, 'a');
    const std::string second(400000, 'b');
    ServeInfo(ReleaseInfo({{"first.bin", first}, {"second.bin", second}}));
    Reply good{.body = second};
    good.failTimes = 1;
    good.failReply = std::make_shared<const Reply>(Reply{.body = second, .dropAfter = 300000});
    mServer.SetRoute("/rel/second.bin", good);
    // Every reading of the clock moves it on, so that data calls get recorded.
    mEnvironment.tickCount = [this] { return mClock.fetch_add(300); };

    Run(TWebOperation::twoConfiguration);
    ASSERT_TRUE(mData.Result());
    mData.SetCarpetaDestino(Dest().string());
    SnapshotHost host(mData);
    mData.SetOperacion(TWebOperation::twoDownload);
    {
        ThreadDownloads worker(true, mData, host, mEnvironment);
        worker.Start();
        worker.WaitFor();
    }
    ASSERT_TRUE(mData.Result());
    EXPECT_EQ(mServer.RequestCount("/rel/second.bin"), 2u);

    std::vector<SnapshotHost::Snapshot> secondFile;
    for (const auto& snapshot : host.Snapshots())
        if (snapshot.acumuladosEnteros == static_cast<double>(first.size()))
            secondFile.push_back(snapshot);
    ASSERT_FALSE(secondFile.empty());
    const auto retry = std::find_if(secondFile.begin(), secondFile.end(),
                                    [](const auto& aSnapshot) { return aSnapshot.failedAttempts == 1; });
    ASSERT_NE(retry, secondFile.begin()) << "no update in the first attempt";
    ASSERT_NE(retry, secondFile.end()) << "no update in the retry";
    const auto& lastOfFirstAttempt = *(retry - 1);
    EXPECT_GT(lastOfFirstAttempt.archProgreso, retry->archProgreso);
    for (const auto& snapshot : secondFile) {
        EXPECT_EQ(snapshot.tStart, secondFile.front().tStart) << "start time lost on the retry";
        EXPECT_EQ(snapshot.acumulado, static_cast<double>(first.size() + snapshot.archProgreso));
    }
    EXPECT_EQ(mData.AcumuladosEnteros(), static_cast<double>(first.size() + second.size()));
}

TEST_F(ProgressAcrossAttempts, ConfigurationPausesASecondByDefault)
{
    ServeInfo(ReleaseInfo({}));
    mEnvironment.configurationPause = TWorkerEnvironment{}.configurationPause;
    EXPECT_EQ(mEnvironment.configurationPause, std::chrono::milliseconds(1000));
    const auto begun = std::chrono::steady_clock::now();
    Run(TWebOperation::twoConfiguration);
    EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(1000));
    EXPECT_TRUE(mData.Result());
}

struct RedirectCase {
    const char* name;
    int targetFailures;  // failed requests of the target before it serves the file
    bool result;
    std::size_t targetRequests;
};

void PrintTo(const RedirectCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class RedirectedTarget : public EngineSandbox, public ::testing::WithParamInterface<RedirectCase> {};

// The redirect costs the first attempt; a failing target may then fail once
// more and still be fetched by the third, but not twice.
TEST_P(RedirectedTarget, HasOneAttemptLeftAfterAFailure)
{
    const std::string body(5000, 'r');
    ServeInfo(ReleaseInfo({{"a.bin", body}}));
    mServer.SetRoute("/rel/a.bin", {.status = 302, .location = "/moved/a.bin"});
    Reply target{.body = body};
    target.failTimes = GetParam().targetFailures;
    mServer.SetRoute("/moved/a.bin", target);
    ConfigureAndDownload();
    EXPECT_EQ(mData.Result(), GetParam().result);
    EXPECT_EQ(mServer.RequestCount("/rel/a.bin"), 1u);
    EXPECT_EQ(mServer.RequestCount("/moved/a.bin"), GetParam().targetRequests);
}

const RedirectCase kRedirectCases[] = {
    {"target_good_at_once", 0, true, 1},
    {"target_fails_once", 1, true, 2},
    {"target_fails_twice", 2, false, 2},
};

INSTANTIATE_TEST_SUITE_P(Cases, RedirectedTarget, ::testing::ValuesIn(kRedirectCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

}  // namespace
