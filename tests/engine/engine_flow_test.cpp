#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/ini_reader.h"
#include "tests/support/engine_sandbox.h"
#include "tests/support/eventually.h"
#include "tests/support/versions.h"

namespace {

const std::vector<ServedFile> kThreeFiles = {
    {"setup.sh", "#!/bin/sh\nexit 0\n"},
    {"data1.cab", std::string(300000, 'd')},
    {"data2.cab", std::string(70000, 'e')},
};

// aGood, except that the first request gets aFirst.
Reply FirstThen(Reply aFirst, Reply aGood)
{
    aGood.failTimes = 1;
    aGood.failReply = std::make_shared<const Reply>(std::move(aFirst));
    return aGood;
}

// Ends a run that a failed assertion leaves behind, so that the worker's
// destructor does not wait for a stalled transfer.
struct CancelAtExit {
    ThreadDownloads& worker;
    ~CancelAtExit()
    {
        if (!worker.Finished())
            worker.CancelDownload();
    }
};

}  // namespace

class EngineFlow : public EngineSandbox {};

TEST_F(EngineFlow, ThreeGoodFilesAreFetchedVerifiedAndCounted)
{
    ServeInfo(ReleaseInfo(kThreeFiles, "End1=Click Install.\n"));
    ConfigureAndDownload();

    EXPECT_EQ(mData.Line1(), "Sample Suite 5.2");
    EXPECT_EQ(mData.End1(), "Click Install.");
    EXPECT_EQ(mData.ArchSetup(), "setup.sh");
    EXPECT_TRUE(mData.Result());
    EXPECT_FALSE(mData.Cancelado());
    EXPECT_EQ(mData.Total(), 3);
    EXPECT_EQ(mData.Number(), 5);  // one past the last file, one more for the missing key
    EXPECT_EQ(mData.AcumuladosEnteros(), 300000.0 + 70000.0 + kThreeFiles[0].body.size());
    for (const auto& file : kThreeFiles) {
        EXPECT_EQ(ReadFileBytes(Dest() / file.name), file.body) << file.name;
        EXPECT_EQ(mServer.RequestCount("/rel/" + file.name), 1u) << file.name;
    }
    EXPECT_GT(mHost.mPosts.load(), 0);
    EXPECT_FALSE(mHost.mStallTimerEnabled.load());
}

TEST_F(EngineFlow, TheWholeReleaseComesOverOneConnection)
{
    mServer.SetKeepAlive(true);
    ServeInfo(ReleaseInfo(kThreeFiles));
    ConfigureAndDownload();
    ASSERT_TRUE(mData.Result());
    for (const auto& file : kThreeFiles)
        EXPECT_EQ(ReadFileBytes(Dest() / file.name), file.body) << file.name;
    // One for the configuration's info file, one for every listed file.
    EXPECT_EQ(mServer.ConnectionCount(), 2u);
}

TEST_F(EngineFlow, BadChecksumCostsThreeTransfersAndStopsTheRun)
{
    std::string info = ReleaseInfo(kThreeFiles);
    const std::string good = Sha1Hex(kThreeFiles[1].body);
    info.replace(info.find(good), good.size(), std::string(40, 'A'));
    ServeInfo(info);
    ConfigureAndDownload();

    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(mData.Number(), 2);
    EXPECT_EQ(mServer.RequestCount("/rel/data1.cab"), 3u);
    EXPECT_EQ(mServer.RequestCount("/rel/data2.cab"), 0u);
    // No unverified bytes stay under the listed name, nor under any other.
    EXPECT_FALSE(std::filesystem::exists(Dest() / "data1.cab"));
    EXPECT_THAT(DestEntries(), ::testing::ElementsAre("setup.sh"));
}

TEST_F(EngineFlow, LowerCaseChecksumNeverMatches)
{
    std::string info = ReleaseInfo({kThreeFiles[1]});
    const std::string good = Sha1Hex(kThreeFiles[1].body);
    std::string lower = good;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    info.replace(info.find(good), good.size(), lower);
    ServeInfo(info);
    ConfigureAndDownload();
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(mServer.RequestCount("/rel/data1.cab"), 3u);
}

TEST_F(EngineFlow, RedirectCostsOneAttemptAndTheNextGoesToTheTarget)
{
    ServeInfo(ReleaseInfo(kThreeFiles));
    for (const auto& file : kThreeFiles) {
        mServer.SetRoute("/rel/" + file.name, {.status = 302, .location = "/moved/" + file.name});
        mServer.SetRoute("/moved/" + file.name, {.body = file.body});
    }
    ConfigureAndDownload();

    EXPECT_TRUE(mData.Result());
    for (const auto& file : kThreeFiles) {
        EXPECT_EQ(mServer.RequestCount("/rel/" + file.name), 1u);
        EXPECT_EQ(mServer.RequestCount("/moved/" + file.name), 1u);
        EXPECT_EQ(ReadFileBytes(Dest() / file.name), file.body);
    }
}

TEST_F(EngineFlow, DroppedTransferIsRetried)
{
    ServeInfo(ReleaseInfo({kThreeFiles[1]}));
    mServer.SetRoute("/rel/data1.cab", FirstThen({.body = kThreeFiles[1].body, .dropAfter = 1000},
                                                 {.body = kThreeFiles[1].body}));
    ConfigureAndDownload();
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mServer.RequestCount("/rel/data1.cab"), 2u);
    EXPECT_EQ(ReadFileBytes(Dest() / "data1.cab"), kThreeFiles[1].body);
}

// The worker's own stall rule, with its clock standing still between the
// steps: a transfer is aborted once it has recorded no progress for more than
// kWorkerStallLimitMs, and not at exactly that limit.
TEST_F(EngineFlow, StalledTransferIsAbortedJustPastTheStallLimit)
{
    ServeInfo(ReleaseInfo({kThreeFiles[1], kThreeFiles[2]}));
    // The first request of each file gets the head, then silence.
    for (const ServedFile& file : {kThreeFiles[1], kThreeFiles[2]})
        mServer.SetRoute("/rel/" + file.name,
                         FirstThen({.body = file.body, .stallAfter = 0}, {.body = file.body}));
    Run(TWebOperation::twoConfiguration);
    mData.SetCarpetaDestino(Dest().string());
    mData.SetOperacion(TWebOperation::twoDownload);
    ThreadDownloads worker(true, mData, mHost, mEnvironment);
    const CancelAtExit cancelAtExit{worker};
    worker.Start();
    // Its last report before the silence: every update so far was recorded
    // at the standing clock's time, and no data comes to record another.
    const auto waitingFor = [&](const std::string& aName) {
        return Eventually([&] {
            return mData.DownloadingURL() == mServer.Url("/rel/" + aName) && mHost.mStallTimerEnabled;
        });
    };

    ASSERT_TRUE(waitingFor("data1.cab"));
    const std::uint32_t firstUpdate = mClock.load();
    mClock = firstUpdate + ThreadDownloads::kWorkerStallLimitMs;  // exactly the limit: not yet
    worker.mTickCheckTimer();
    // Had the check aborted it, the file would take a second request. The
    // server must have reached its stall first: a resume sent before it
    // counts for no stall, and the file would wait for good.
    ASSERT_TRUE(Eventually([&] { return mServer.StallCount("/rel/data1.cab") == 1; }));
    mServer.ResumeStalled("/rel/data1.cab");
    ASSERT_TRUE(waitingFor("data2.cab"));
    EXPECT_EQ(mHost.Verified(), std::vector<std::string>{"data1.cab"});

    const std::uint32_t secondUpdate = mClock.load();
    mClock = secondUpdate + ThreadDownloads::kWorkerStallLimitMs + 1;
    worker.mTickCheckTimer();
    worker.WaitFor();
    EXPECT_TRUE(mData.Result());
    const std::vector<std::string> failures = mHost.Failures();
    ASSERT_EQ(failures.size(), 1u) << ::testing::PrintToString(failures);
    EXPECT_EQ(failures[0].rfind("data2.cab #1: ", 0), 0u) << failures[0];
    EXPECT_EQ(mServer.RequestCount("/rel/data1.cab"), 1u);
    EXPECT_EQ(mServer.RequestCount("/rel/data2.cab"), 2u);
}

TEST_F(EngineFlow, CancelDuringATransferEndsTheRunAtOnce)
{
    ServeInfo(ReleaseInfo(kThreeFiles));
    mServer.SetRoute("/rel/setup.sh", {.body = kThreeFiles[0].body, .stallAfter = 4});
    Run(TWebOperation::twoConfiguration);
    mData.SetCarpetaDestino(Dest().string());
    mData.SetOperacion(TWebOperation::twoDownload);
    ThreadDownloads worker(true, mData, mHost, mEnvironment);
    const CancelAtExit cancelAtExit{worker};
    worker.Start();
    ASSERT_TRUE(Eventually([&] { return mServer.StallCount("/rel/setup.sh") == 1; }));
    const auto start = std::chrono::steady_clock::now();
    worker.CancelDownload();
    worker.WaitFor();
    // Only the transfer's silence backstop would end it otherwise.
    EXPECT_LT(std::chrono::steady_clock::now() - start, TDownLoadURL::kTransferSilenceBackstop / 4);
    EXPECT_FALSE(mData.Result());
    EXPECT_TRUE(mData.Cancelado());
    EXPECT_EQ(mServer.RequestCount("/rel/setup.sh"), 1u);
    EXPECT_EQ(mServer.RequestCount("/rel/data1.cab"), 0u);
    EXPECT_TRUE(mHost.Failures().empty()) << "a cancel is no failed attempt";
}

TEST_F(EngineFlow, CancelBetweenFilesKeepsTheVerifiedResult)
{
    ServeInfo(ReleaseInfo(kThreeFiles));
    Run(TWebOperation::twoConfiguration);
    mData.SetCarpetaDestino(Dest().string());
    mData.SetOperacion(TWebOperation::twoDownload);
    ThreadDownloads worker(true, mData, mHost, mEnvironment);
    mHost.mOnVerified = [&] { worker.CancelDownload(); };
    worker.Start();
    worker.WaitFor();
    EXPECT_TRUE(mData.Result());
    EXPECT_TRUE(mData.Cancelado());
    EXPECT_EQ(mHost.Verified(), std::vector<std::string>{"setup.sh"});
    EXPECT_EQ(mServer.RequestCount("/rel/data1.cab"), 0u);
}

struct ListCase {
    const char* name;
    const char* downloads;  // the [Downloads] entries
    std::int32_t total;
    std::vector<std::string> fetched;
};

void PrintTo(const ListCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class EngineFileList : public EngineSandbox, public ::testing::WithParamInterface<ListCase> {};

TEST_P(EngineFileList, CountsAndFetchesUpToTheFirstGap)
{
    for (const char* name : {"a.bin", "b.bin", "d.bin"})
        mServer.SetRoute(std::string("/rel/") + name, {.body = name});
    ServeInfo("[Downloads]\nPath=" + mServer.Url("/rel") + "\n" + GetParam().downloads + "[Checksum]\nFile1="
              + Sha1Hex("a.bin") + "\nFile2=" + Sha1Hex("b.bin") + "\nFile4=" + Sha1Hex("d.bin") + "\n");
    ConfigureAndDownload();
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mData.Total(), GetParam().total);
    std::vector<std::string> fetched;
    for (const auto& path : mServer.RequestedPaths())
        if (path.rfind("/rel/", 0) == 0)
            fetched.push_back(path.substr(5));
    EXPECT_EQ(fetched, GetParam().fetched);
}

INSTANTIATE_TEST_SUITE_P(Lists, EngineFileList,
                         ::testing::Values(ListCase{"gap_after_two",
                                                    "File1=a.bin\nFile2=b.bin\nFile4=d.bin\n",
                                                    2,
                                                    {"a.bin", "b.bin"}},
                                           ListCase{"empty_section", "", 0, {}},
                                           ListCase{"first_entry_empty", "File1=\nFile2=b.bin\n", 2, {}}),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(EngineFlow, RenamedFileReplacesAnExistingOne)
{
    const std::string body = "#!/bin/sh\necho new\n";
    mServer.SetRoute("/rel/Setup.sh.rename", {.body = body});
    ServeInfo("[Downloads]\nPath=" + mServer.Url("/rel")
              + "\nFile1=Setup.sh.rename\n[Checksum]\nFile1=" + Sha1Hex(body) + "\n");
    WriteFileBytes(Dest() / "Setup.sh", "old");
    ConfigureAndDownload();
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "Setup.sh"), body);
    EXPECT_FALSE(std::filesystem::exists(Dest() / "Setup.sh.rename"));
}

TEST_F(EngineFlow, NamesLeadingOutOfTheDestinationAreRefused)
{
    const std::string body = "x";
    for (const char* name : {"../evil.sh", "/tmp/evil.sh", "sub/../../evil.sh"}) {
        ServeInfo("[Downloads]\nPath=" + mServer.Url("/rel") + "\nFile1=" + name
                  + "\n[Checksum]\nFile1=" + Sha1Hex(body) + "\n");
        ConfigureAndDownload();
        EXPECT_FALSE(mData.Result()) << name;
        EXPECT_EQ(mData.Number(), 1) << name;
    }
    for (const auto& path : mServer.RequestedPaths())
        EXPECT_EQ(path.rfind("/rel/", 0), std::string::npos) << path;
    EXPECT_FALSE(std::filesystem::exists(mRoot / "evil.sh"));
}

TEST_F(EngineFlow, UnreachableInfoFileLeavesTheTextsAlone)
{
    mData.SetLine1("kept");
    SetSetting("INIConfig", mServer.Url("/missing.ini"));
    Run(TWebOperation::twoConfiguration);
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(mData.Line1(), "kept");
    EXPECT_EQ(mData.ArchIniRemoto(), mServer.Url("/missing.ini"));
}

TEST_F(EngineFlow, InfoFileTooLargeToReadWholeIsNotUsed)
{
    std::string info = ReleaseInfo({{"a.bin", "payload"}});
    info += "[Padding]\n";
    while (info.size() <= TIniReader::kMaxFileBytes)
        info += "Filler" + std::to_string(info.size()) + "=" + std::string(100, 'x') + "\n";
    mData.SetLine1("kept");
    ServeInfo(info);
    Run(TWebOperation::twoConfiguration);
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(mData.Line1(), "kept");
}

struct UpdateCase {
    const char* name;
    std::string general;  // the [General] lines
    bool allowed;
    bool fetched;
    const char* line1;        // read after Version
    bool unreadable = false;  // the Version is reported as not readable
};

void PrintTo(const UpdateCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class EngineSelfUpdate : public EngineSandbox, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(EngineSelfUpdate, FetchesOnlyAStrictlyNewerWizard)
{
    // Local files: a wizard without a key fetches no newer one over plain http.
    const std::string wizardFolder = PlaceLocally("downloader-new", "#!/bin/sh\nexit 0\n");
    ServeInfoLocally("[General]\n" + GetParam().general + "Downloader=downloader-new\nPath=" + wizardFolder
                     + "\n[Info]\nLine1=Title\n");
    mEnvironment.selfUpdateAllowed = GetParam().allowed;
    Run(TWebOperation::twoConfiguration);

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mData.Restart(), GetParam().fetched);
    EXPECT_EQ(std::filesystem::exists(mRoot / "runtime" / "Downloader" / "downloader-new"),
              GetParam().fetched);
    EXPECT_EQ(mData.UpdateRefused(), "");
    EXPECT_EQ(mData.Line1(), GetParam().line1);
    EXPECT_EQ(mData.CarpetaDownloader(), wizardFolder);
    EXPECT_EQ(mHost.UnreadableVersions().size(), GetParam().unreadable ? 1u : 0u);
    if (GetParam().fetched) {
        EXPECT_EQ(mData.Mensaje(), std::string("Downloader Update ") + kDownloaderVersion);
        Run(TWebOperation::twoDownloader);
        ASSERT_EQ(mLaunches.size(), 1u);
        EXPECT_EQ(mLaunches[0].path, mRoot / "runtime" / "Downloader" / "downloader-new");
        EXPECT_EQ(mLaunches[0].args, std::vector<std::string>{"1"});
        EXPECT_EQ(mLaunches[0].environment, std::vector<std::string>{"DOWNLOADER_SELF_UPDATED=1"});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, EngineSelfUpdate,
    ::testing::Values(
        UpdateCase{"newer", "Version=" + NewerVersion() + "\n", true, true, "Title"},
        UpdateCase{"same", "Version=" + std::string(kDownloaderVersion) + "\n", true, false, "Title"},
        UpdateCase{"short_is_older", "Version=3.1\n", true, false, "Title"},
        UpdateCase{"missing", "", true, false, "Title"},
        UpdateCase{"started_by_an_update", "Version=" + NewerVersion() + "\n", false, false, "Title"},
        // Well-formed in other ways: hexadecimal, a sign, blanks.
        UpdateCase{"hex_dollar_newer", "Version=$" + HexDigits(OwnVersionNumber() + 1) + "\n", true, true,
                   "Title"},
        UpdateCase{"hex_0x_same", "Version=0x" + HexDigits(OwnVersionNumber()) + "\n", true, false, "Title"},
        UpdateCase{"plus_sign_newer", "Version=+" + NewerVersion() + "\n", true, true, "Title"},
        UpdateCase{"negative_is_older", "Version=-" + NewerVersion() + "\n", true, false, "Title"},
        UpdateCase{"quoted_blanks_newer", "Version=\"  " + NewerVersion() + "\"\n", true, true, "Title"},
        // Not a whole number that fits: no newer wizard, and the
        // rest of the release is read as usual.
        UpdateCase{"empty_reads_on", "Version=\n", true, false, "Title", true},
        UpdateCase{"letters_read_on", "Version=abc\n", true, false, "Title", true},
        UpdateCase{"suffix_reads_on", "Version=" + NewerVersion() + "b\n", true, false, "Title", true},
        UpdateCase{"too_large_reads_on", "Version=2147483648\n", true, false, "Title", true},
        UpdateCase{"far_too_large_reads_on", "Version=99999999999.9\n", true, false, "Title", true}),
    [](const auto& aInfo) { return std::string(aInfo.param.name); });

class EngineInfoSource : public EngineSandbox {
protected:
    void SetUp() override
    {
        EngineSandbox::SetUp();
        mServer.SetRoute("/info.ini", {.body = "[Info]\nLine1=Served\n"});
        mServer.SetRoute("/service", {.body = mServer.Url("/info.ini") + "\r\n"});
    }
};

TEST_F(EngineInfoSource, EmbeddedAddressWinsEvenWhenItsFetchFails)
{
    SetSetting("INIConfig", mServer.Url("/info.ini"));
    mEnvironment.firstArgument = "12";
    mEnvironment.embeddedURL = [this] { return mServer.Url("/gone"); };
    Run(TWebOperation::twoConfiguration);
    // The 404 page's body is the reply; it names no reachable info file.
    EXPECT_EQ(mServer.RequestedPaths().front(), "/gone");
    EXPECT_EQ(mServer.RequestCount("/info.ini"), 0u);
    EXPECT_FALSE(mData.Result());
}

TEST_F(EngineInfoSource, ServiceReplyIsTheAddressUntrimmed)
{
    mEnvironment.embeddedURL = [this] { return mServer.Url("/service"); };
    Run(TWebOperation::twoConfiguration);
    EXPECT_EQ(mData.ArchIniRemoto(), mServer.Url("/info.ini") + "\r\n");
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mData.Line1(), "Served");
    EXPECT_EQ(std::filesystem::path(mData.ArchIniLocal()).filename(), "info.ini");
}

TEST_F(EngineInfoSource, InfoFileBehindARedirectIsFetched)
{
    mServer.SetRoute("/old.ini", {.status = 301, .location = "/info.ini"});
    SetSetting("INIConfig", mServer.Url("/old.ini"));
    Run(TWebOperation::twoConfiguration);
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mData.Line1(), "Served");
}

TEST_F(EngineInfoSource, CancelEndsASilentServiceQuery)
{
    mServer.SetRoute("/silent", {.body = "http://x/info.ini", .stallAfter = 0});
    mEnvironment.embeddedURL = [this] { return mServer.Url("/silent"); };
    mData.SetOperacion(TWebOperation::twoConfiguration);
    ThreadDownloads worker(true, mData, mHost, mEnvironment);
    const CancelAtExit cancelAtExit{worker};
    worker.Start();
    // The cancel must meet the query itself, not a run that has not asked yet.
    ASSERT_TRUE(Eventually([&] { return mServer.StallCount("/silent") == 1; }));
    const auto start = std::chrono::steady_clock::now();
    worker.CancelDownload();
    worker.WaitFor();
    // Only the text fetch's 60 s silence limit would end it otherwise.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(mData.ArchIniRemoto(), "");
}

TEST_F(EngineInfoSource, InfoFileSettingIsUsedAsItStands)
{
    SetSetting("INIConfig", "  " + mServer.Url("/info.ini") + "  ");
    mEnvironment.firstArgument = "12";
    Run(TWebOperation::twoConfiguration);
    EXPECT_EQ(mData.ArchIniRemoto(), "  " + mServer.Url("/info.ini") + "  ");
    EXPECT_EQ(mServer.RequestCount("/service"), 0u);
}

TEST_F(EngineInfoSource, ReleaseNumberAsksTheConfiguredService)
{
    SetSetting("URLConfig", mServer.Url("/service"));
    mServer.SetRoute("/service?INFOFILE=12", {.body = mServer.Url("/info.ini")});
    mEnvironment.firstArgument = "12";
    Run(TWebOperation::twoConfiguration);
    EXPECT_EQ(mServer.RequestedPaths().front(), "/service?INFOFILE=12");
    EXPECT_EQ(mData.Line1(), "Served");
}

TEST_F(EngineInfoSource, NoSourceGivesTheBlankSettingAndFetchesNothing)
{
    SetSetting("INIConfig", "   ");
    Run(TWebOperation::twoConfiguration);
    EXPECT_EQ(mData.ArchIniRemoto(), "   ");
    EXPECT_TRUE(mServer.RequestedPaths().empty());
}

TEST_F(EngineFlow, InstallStartsSetupInsideTheDestination)
{
    ServeInfo(ReleaseInfo({{"setup.sh", "#!/bin/sh\n"}}));
    ConfigureAndDownload();
    ASSERT_TRUE(mData.Result());
    Run(TWebOperation::twoInstall);
    ASSERT_EQ(mLaunches.size(), 1u);
    EXPECT_EQ(mLaunches[0].path, (Dest() / "setup.sh").string());
    EXPECT_TRUE(mLaunches[0].environment.empty());
    EXPECT_GE(mLaunches[0].fd, 0);  // started from the verified descriptor

    for (const char* setup : {" ", "../../bin/sh"}) {
        mData.SetArchSetup(setup);
        Run(TWebOperation::twoInstall);
    }
    EXPECT_EQ(mLaunches.size(), 1u);
}
