// Resume and skip: what crosses the wire when a release (or --resume) allows
// them, and that nothing changes when it does not.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "engine/kept_download.h"
#include "engine/progress_figures.h"
#include "tests/support/engine_sandbox.h"
#include "tests/support/eventually.h"

extern char** environ;

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr const char* kBigPath = "/rel/big.bin";

// Bytes that differ at every offset, so that a piece put at the wrong place
// fails the checksum.
std::string Pattern(std::size_t aSize, std::uint32_t aSeed)
{
    std::string bytes(aSize, '\0');
    std::uint32_t state = aSeed;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

const std::string& Big()
{
    static const std::string big = Pattern(8 * kMiB, 1);
    return big;
}

Reply FirstThen(Reply aFirst, Reply aGood, int aTimes = 1)
{
    aGood.failTimes = aTimes;
    aGood.failReply = std::make_shared<const Reply>(std::move(aFirst));
    return aGood;
}

}  // namespace

class Resume : public EngineSandbox {
protected:
    // A release of aFiles; with aKey its info file asks for resume and skip.
    void Publish(const std::vector<ServedFile>& aFiles, bool aKey)
    {
        std::string info = ReleaseInfo(aFiles);
        if (aKey)
            info.replace(info.find("[Downloads]\n"), 12, "[Downloads]\nResume=1\n");
        ServeInfo(info);
    }

    // Range and If-Range of every request for aPath since aFrom requests.
    std::vector<std::pair<std::string, std::string>> RangesAsked(const std::string& aPath,
                                                                 std::size_t aFrom = 0)
    {
        std::vector<std::pair<std::string, std::string>> asked;
        const auto requests = mServer.Requests();
        for (std::size_t i = aFrom; i < requests.size(); ++i)
            if (requests[i].path == aPath)
                asked.emplace_back(requests[i].range, requests[i].ifRange);
        return asked;
    }

    // Entries of the destination folder that are not release files.
    std::vector<std::string> KeptNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Dest()))
            if (entry.path().filename().string().find('\n') != std::string::npos)
                names.push_back(entry.path().filename().string());
        return names;
    }

    TKeptDownload KeptBig()
    {
        return TKeptDownload(Folder(), "big.bin", mServer.Url(kBigPath), Sha1Hex(Big()));
    }
    const TFolderHandle& Folder()
    {
        if (!mFolder)
            mFolder.emplace(Dest().string());
        return *mFolder;
    }
    std::optional<TFolderHandle> mFolder;
};

// A first reply that drops at 6 of 8 MiB, then replies as the server is set.
struct DropCase {
    const char* name;
    bool key;     // [Downloads] Resume=1
    bool forced;  // --resume
    std::string etag;
    std::string lastModified;
    bool ranges;             // the server honours Range
    std::string retryRange;  // Range of the second request
    std::string retryIfRange;
    std::uint64_t bytesSent;
};

void PrintTo(const DropCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class ResumeAfterDrop : public Resume, public ::testing::WithParamInterface<DropCase> {};

TEST_P(ResumeAfterDrop, SecondAttemptAsksForWhatIsMissing)
{
    const DropCase& c = GetParam();
    Publish({{"big.bin", Big()}}, c.key);
    Reply good{.body = Big(), .etag = c.etag, .lastModified = c.lastModified, .ranges = c.ranges};
    Reply drop = good;
    drop.dropAfter = 6 * kMiB;
    mServer.SetRoute(kBigPath, FirstThen(drop, good));
    mEnvironment.resume = c.forced;
    ConfigureAndDownload();

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "big.bin"), Big());
    const auto asked = RangesAsked(kBigPath);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], std::make_pair(std::string(), std::string()));
    EXPECT_EQ(asked[1], std::make_pair(c.retryRange, c.retryIfRange));
    EXPECT_EQ(mServer.BodyBytesSent(kBigPath), c.bytesSent);
    EXPECT_EQ(mData.AcumuladosEnteros(), static_cast<double>(Big().size()));
    EXPECT_TRUE(KeptNames().empty());
}

const std::string kDate = "Wed, 09 Dec 2026 10:00:00 GMT";
INSTANTIATE_TEST_SUITE_P(
    Cases, ResumeAfterDrop,
    ::testing::Values(
        DropCase{"etag", true, false, "\"v1\"", kDate, true, "bytes=6291456-", "\"v1\"", 8 * kMiB},
        DropCase{"forced_by_option", false, true, "\"v1\"", "", true, "bytes=6291456-", "\"v1\"", 8 * kMiB},
        DropCase{"last_modified_only", true, false, "", kDate, true, "bytes=6291456-", kDate, 8 * kMiB},
        DropCase{"weak_etag_guards_nothing", true, false, "W/\"v1\"", kDate, true, "", "", 14 * kMiB},
        DropCase{"no_validator", true, false, "", "", true, "", "", 14 * kMiB},
        DropCase{"server_ignores_ranges", true, false, "\"v1\"", "", false, "bytes=6291456-", "\"v1\"",
                 14 * kMiB},
        DropCase{"without_the_key", false, false, "\"v1\"", kDate, true, "", "", 14 * kMiB}),
    [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(Resume, ThreeDropsNoLongerEndTheRun)
{
    Publish({{"big.bin", Big()}}, true);
    Reply good{.body = Big(), .etag = "\"v1\""};
    Reply drop = good;
    drop.dropAfter = 3 * kMiB;  // of each reply: three of them bring all 8 MiB
    mServer.SetRoute(kBigPath, drop);
    ConfigureAndDownload();

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "big.bin"), Big());
    const auto asked = RangesAsked(kBigPath);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[1].first, "bytes=3145728-");
    EXPECT_EQ(asked[2].first, "bytes=6291456-");
    EXPECT_EQ(mServer.BodyBytesSent(kBigPath), 8 * kMiB);
}

TEST_F(Resume, RerunAfterSuccessAsksForNoReleaseFile)
{
    const std::vector<ServedFile> files = {{"setup.sh.rename", "#!/bin/sh\nexit 0\n"}, {"big.bin", Big()}};
    const double size = static_cast<double>(files[0].body.size() + files[1].body.size());
    for (const bool key : {true, false}) {
        SCOPED_TRACE(key ? "with the key" : "without the key");
        std::filesystem::remove_all(Dest());
        std::filesystem::create_directories(Dest());
        Publish(files, key);
        ConfigureAndDownload();
        ASSERT_TRUE(mData.Result());
        const std::size_t before = mServer.Requests().size();
        ConfigureAndDownload();

        EXPECT_TRUE(mData.Result());
        EXPECT_EQ(ReadFileBytes(Dest() / "setup.sh"), files[0].body);
        EXPECT_EQ(ReadFileBytes(Dest() / "big.bin"), Big());
        EXPECT_EQ(mData.AcumuladosEnteros(), size);
        const std::size_t release =
            RangesAsked("/rel/setup.sh.rename", before).size() + RangesAsked(kBigPath, before).size();
        if (key) {
            EXPECT_EQ(release, 0u);
            EXPECT_EQ(mData.AcumHeld(), size);  // done, but not by this run
            EXPECT_EQ(OverallTimeLeftMs(mData, mClock.load() + 1000), 0);
        } else {
            EXPECT_EQ(release, 2u);
            EXPECT_EQ(mData.AcumHeld(), 0);
        }
        EXPECT_TRUE(KeptNames().empty());
    }
}

TEST_F(Resume, RerunAfterAKilledRunAsksOnlyForTheMissingPart)
{
    Publish({{"big.bin", Big()}}, true);
    mServer.SetRoute(kBigPath, {.body = Big(), .stallAfter = 5 * kMiB, .etag = "\"v1\""});
    Run(TWebOperation::twoConfiguration);
    ASSERT_TRUE(mData.Result());
    mData.SetCarpetaDestino(Dest().string());
    const TKeptDownload kept = KeptBig();

    // The killed program: this test binary again, running only the download
    // below until SIGKILL ends it. A fresh process, not a fork: a forked
    // child of a threaded process must not start threads of its own.
    const std::string info = "DOWNLOADER_TEST_KILLED_INFO=" + mData.ArchIniLocal();
    const std::string dest = "DOWNLOADER_TEST_KILLED_DEST=" + Dest().string();
    const std::string origin = "DOWNLOADER_TEST_KILLED_ORIGIN=" + mData.CarpetaOrigen();
    std::vector<std::string> environment = {info, dest, origin};
    for (char** entry = environ; *entry != nullptr; ++entry)
        environment.emplace_back(*entry);
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=ResumeChild.DownloadsUntilKilled";
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);

    const auto partialSize = [&] {
        std::error_code error;
        const auto size = std::filesystem::file_size(kept.PartialPath(), error);
        return error ? 0 : size;
    };
    int status = 0;
    bool ended = false;  // by itself: then it will not get far
    const bool reached = Eventually(
        [&] {
            ended = ended || waitpid(child, &status, WNOHANG) == child;
            return ended || (std::filesystem::exists(kept.StatePath()) && partialSize() >= 4 * kMiB);
        },
        std::chrono::seconds(60));
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_FALSE(ended);
    ASSERT_TRUE(reached);
    ASSERT_TRUE(WIFSIGNALED(status));

    const std::uint64_t held = partialSize();
    const std::uint64_t sentBefore = mServer.BodyBytesSent(kBigPath);
    const std::size_t before = mServer.Requests().size();
    mServer.SetRoute(kBigPath, {.body = Big(), .etag = "\"v1\""});
    std::atomic<std::uint64_t> lowest{UINT64_MAX};
    mHost.mOnPost = [&] {
        if (mData.MostrarProgreso())
            lowest = std::min<std::uint64_t>(lowest, mData.ArchProgreso());
    };
    Run(TWebOperation::twoDownload);
    mHost.mOnPost = nullptr;

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "big.bin"), Big());
    const auto asked = RangesAsked(kBigPath, before);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::make_pair("bytes=" + std::to_string(held) + "-", std::string("\"v1\"")));
    EXPECT_EQ(mServer.BodyBytesSent(kBigPath) - sentBefore, Big().size() - held);
    EXPECT_GE(lowest.load(), held);  // the file's figure starts at what was held
    EXPECT_EQ(mData.AcumHeld(), static_cast<double>(held));
    EXPECT_TRUE(KeptNames().empty());
}

TEST_F(Resume, CancelKeepsTheBytesForTheRetry)
{
    Publish({{"big.bin", Big()}}, true);
    mServer.SetRoute(kBigPath, {.body = Big(), .stallAfter = 3 * kMiB, .etag = "\"v1\""});
    Run(TWebOperation::twoConfiguration);
    ASSERT_TRUE(mData.Result());
    mData.SetCarpetaDestino(Dest().string());
    const TKeptDownload kept = KeptBig();
    {
        mData.SetOperacion(TWebOperation::twoDownload);
        ThreadDownloads worker(true, mData, mHost, mEnvironment);
        worker.Start();
        EXPECT_TRUE(Eventually([&] { return mServer.BodyBytesSent(kBigPath) >= 3 * kMiB; },
                               std::chrono::seconds(60)));
        worker.CancelDownload();
        worker.WaitFor();
    }
    ASSERT_TRUE(mData.Cancelado());
    ASSERT_FALSE(mData.Result());
    EXPECT_EQ(mServer.RequestCount(kBigPath), 1u);  // a cancel ends the attempts
    // Some of the 3 MiB may still have been in the socket buffers.
    const std::uint64_t held = std::filesystem::file_size(kept.PartialPath());
    EXPECT_GT(held, 0u);
    EXPECT_LE(held, 3 * kMiB);

    mServer.SetRoute(kBigPath, {.body = Big(), .etag = "\"v1\""});
    const std::uint64_t sentBefore = mServer.BodyBytesSent(kBigPath);
    Run(TWebOperation::twoDownload);
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "big.bin"), Big());
    EXPECT_EQ(RangesAsked(kBigPath).back().first, "bytes=" + std::to_string(held) + "-");
    EXPECT_EQ(mServer.BodyBytesSent(kBigPath) - sentBefore, 8 * kMiB - held);
}

// The child process of RerunAfterAKilledRunAsksOnlyForTheMissingPart; skipped
// in every other run.
TEST(ResumeChild, DownloadsUntilKilled)
{
    const char* info = std::getenv("DOWNLOADER_TEST_KILLED_INFO");
    const char* dest = std::getenv("DOWNLOADER_TEST_KILLED_DEST");
    const char* origin = std::getenv("DOWNLOADER_TEST_KILLED_ORIGIN");
    if (info == nullptr || dest == nullptr || origin == nullptr)
        GTEST_SKIP() << "runs only as the killed program of another test";
    TDownloadData data;
    data.SetArchIniLocal(info);
    data.SetCarpetaDestino(dest);
    // As the parent's configuration read them from the info file.
    data.SetCarpetaOrigen(origin);
    data.SetResume(true);
    data.SetOperacion(TWebOperation::twoDownload);
    struct : RecordingHost {
        void AttemptFailed(const std::string&, int, const std::string& aReason) noexcept override
        {
            std::lock_guard lock(mReasonsMutex);
            mReasons += aReason + "\n";
        }
        std::mutex mReasonsMutex;
        std::string mReasons;
    } host;
    ThreadDownloads worker(true, data, host, TWorkerEnvironment{});
    worker.Start();
    worker.WaitFor();
    ADD_FAILURE() << "not killed: the download ended with Result " << data.Result() << " after entry "
                  << data.Number() << " of " << data.Total() << ":\n"
                  << host.mReasons;
}

// Run 1 ends with 3 MiB kept (three drops after 1 MiB each); then the
// server's file changes before run 2.
struct ChangeCase {
    const char* name;
    bool newContent;  // and so a new checksum in the info file
    std::string rerunRange;
    std::string rerunIfRange;
};

void PrintTo(const ChangeCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class ResumeAfterChange : public Resume, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ResumeAfterChange, FileChangedOnTheServerEndsCorrect)
{
    const ChangeCase& c = GetParam();
    Publish({{"big.bin", Big()}}, true);
    Reply drop{.body = Big(), .dropAfter = kMiB, .etag = "\"v1\""};
    mServer.SetRoute(kBigPath, drop);
    ConfigureAndDownload();
    ASSERT_FALSE(mData.Result());
    ASSERT_EQ(std::filesystem::file_size(KeptBig().PartialPath()), 3 * kMiB);

    const std::string changed = c.newContent ? Pattern(8 * kMiB, 2) : Big();
    Publish({{"big.bin", changed}}, true);
    mServer.SetRoute(kBigPath, {.body = changed, .etag = "\"v2\""});
    const std::size_t before = mServer.Requests().size();
    const std::uint64_t sentBefore = mServer.BodyBytesSent(kBigPath);
    ConfigureAndDownload();

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "big.bin"), changed);
    const auto asked = RangesAsked(kBigPath, before);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::make_pair(c.rerunRange, c.rerunIfRange));
    EXPECT_EQ(mServer.BodyBytesSent(kBigPath) - sentBefore, 8 * kMiB);
    EXPECT_TRUE(KeptNames().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, ResumeAfterChange,
                         ::testing::Values(ChangeCase{"new_content_and_checksum", true, "", ""},
                                           ChangeCase{"same_checksum_new_validator", false, "bytes=3145728-",
                                                      "\"v1\""}),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// Kept files that must not be trusted: each run ends with the right file, and
// the requests show what was made of the kept bytes.
struct KeptCase {
    const char* name;
    std::string source;    // "" the file's own
    std::string checksum;  // "" the file's own
    std::string partial;
    std::vector<std::string> ranges;  // of each request, in order
};

void PrintTo(const KeptCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class ResumeKept : public Resume, public ::testing::WithParamInterface<KeptCase> {};

TEST_P(ResumeKept, KeptBytesThatDoNotFitAreNotTrusted)
{
    const KeptCase& c = GetParam();
    Publish({{"big.bin", Big()}}, true);
    mServer.SetRoute(kBigPath, {.body = Big(), .etag = "\"v1\""});
    const TKeptDownload kept(Folder(), "big.bin", c.source.empty() ? mServer.Url(kBigPath) : c.source,
                             c.checksum.empty() ? Sha1Hex(Big()) : c.checksum);
    WriteFileBytes(kept.PartialPath(), c.partial);
    kept.Remember("\"v1\"");
    ConfigureAndDownload();

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "big.bin"), Big());
    std::vector<std::string> ranges;
    for (const auto& [range, ifRange] : RangesAsked(kBigPath))
        ranges.push_back(range);
    EXPECT_EQ(ranges, c.ranges);
    EXPECT_TRUE(KeptNames().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResumeKept,
    ::testing::Values(
        KeptCase{"fits", "", "", Big().substr(0, 5 * kMiB), {"bytes=5242880-"}},
        KeptCase{"another_server", "http://127.0.0.1:9/rel/big.bin", "", Big().substr(0, 5 * kMiB), {""}},
        KeptCase{"another_checksum", "", std::string(40, 'A'), Big().substr(0, 5 * kMiB), {""}},
        KeptCase{"past_the_end_gets_416", "", "", Big() + "x", {"bytes=8388609-", ""}},
        KeptCase{"wrong_bytes_fail_the_checksum", "", "", Pattern(3 * kMiB, 7), {"bytes=3145728-", ""}}),
    [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(Resume, SkipNeedsTheRightBytesUnderTheFinalName)
{
    const std::vector<ServedFile> files = {{"setup.sh.rename", "#!/bin/sh\nexit 0\n"}, {"data.cab", "cab"}};
    Publish(files, true);
    WriteFileBytes((Dest() / "setup.sh").string(), files[0].body);    // verified: skipped
    WriteFileBytes((Dest() / "data.cab").string(), "cab but older");  // wrong: fetched
    ConfigureAndDownload();

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mServer.RequestCount("/rel/setup.sh.rename"), 0u);
    EXPECT_EQ(mServer.RequestCount("/rel/data.cab"), 1u);
    EXPECT_EQ(ReadFileBytes(Dest() / "data.cab"), "cab");
    EXPECT_EQ(mHost.Verified(), (std::vector<std::string>{"setup.sh.rename", "data.cab"}));
}

TEST_F(Resume, SkipDoesNotFollowALink)
{
    const std::vector<ServedFile> files = {{"data.cab", "cab"}};
    Publish(files, true);
    WriteFileBytes((Dest() / "other.cab").string(), "cab");
    std::filesystem::create_symlink("other.cab", Dest() / "data.cab");
    ConfigureAndDownload();

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mServer.RequestCount("/rel/data.cab"), 1u);
    EXPECT_FALSE(std::filesystem::is_symlink(Dest() / "data.cab"));  // the fetched file took its place
    EXPECT_EQ(ReadFileBytes(Dest() / "other.cab"), "cab");
}

// Estimates go by this run's bytes: held bytes count as done, not as speed.
struct EstimateCase {
    const char* name;
    std::uint64_t held;
    double fileLeftMs;
};

TEST(ResumeEstimates, HeldBytesDoNotSpeedUpTheEstimate)
{
    const EstimateCase cases[] = {
        {"nothing_held", 0, 1000.0 / 7},  // 7 MiB in 1 s: 1 MiB takes 1/7 s
        {"six_held", 6 * kMiB, 1000.0},   // 1 MiB in 1 s: 1 MiB takes 1 s
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDownloadData data;
        data.SetTStart(1000);
        data.SetTAcumStart(1000);
        data.SetArchProgreso(7 * kMiB);
        data.SetArchProgresoMax(8 * kMiB);
        data.SetArchHeld(c.held);
        data.SetAcumulado(7.0 * kMiB);
        data.SetSize(8.0 * kMiB);
        EXPECT_DOUBLE_EQ(FileTimeLeftMs(data, 2000), c.fileLeftMs);
        EXPECT_DOUBLE_EQ(OverallTimeLeftMs(data, 2000), c.fileLeftMs);
    }
}
