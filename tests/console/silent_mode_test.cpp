#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cwchar>
#include <filesystem>
#include <sstream>
#include <thread>

#include <locale.h>
#include <sys/stat.h>
#include <wchar.h>

#include "console/progress_line.h"
#include "console/silent_mode.h"
#include "tests/support/engine_sandbox.h"
#include "tests/support/eventually.h"
#include "tests/support/versions.h"

class SilentMode : public EngineSandbox {
protected:
    int RunSilentTo(const std::string& aDest, bool aCancel = false, bool aInstall = false,
                    int aTerminalColumns = 0)
    {
        TSilentOptions options;
        options.destination = aDest;
        options.install = aInstall;
        options.arguments = {"--silent", "--dest", aDest};
        options.terminalColumns = aTerminalColumns;
        options.resume = mResume;
        mCancel = aCancel;
        return RunSilent(options, mEnvironment, mLog, aTerminalColumns > 0, mCancel);
    }
    std::ostringstream mLog;
    std::atomic<bool> mCancel{false};  // other threads may set it during a run
    bool mResume = false;              // --resume
};

namespace {

constexpr int Exit(TSilentExit aCode)
{
    return static_cast<int>(aCode);
}

std::size_t Utf8Characters(const std::string& aText)
{
    return static_cast<std::size_t>(std::count_if(aText.begin(), aText.end(), [](char aByte) {
        return (static_cast<unsigned char>(aByte) & 0xC0) != 0x80;
    }));
}

std::string Repeat(const std::string& aText, int aTimes)
{
    std::string result;
    for (int i = 0; i < aTimes; ++i)
        result += aText;
    return result;
}

}  // namespace

TEST_F(SilentMode, ExitCodesTellHowTheRunEnded)
{
    const std::string good = "payload";
    mServer.SetRoute("/rel/a.bin", {.body = good});
    const std::string info = "[Downloads]\nPath=" + mServer.Url("/rel") + "\nFile1=a.bin\n[Checksum]\nFile1=";

    EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::NotConnected)) << "no info address";

    ServeInfo(info + Sha1Hex(good) + "\n");
    EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::Done)) << mLog.str();
    EXPECT_EQ(ReadFileBytes(Dest() / "a.bin"), good);

    WriteFileBytes(mRoot / "plain-file", "x");
    EXPECT_EQ(RunSilentTo((mRoot / "plain-file" / "sub").string()), Exit(TSilentExit::DestinationUnusable))
        << "folder under a file";

    ServeInfo(info + std::string(40, '0') + "\n");
    EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::DownloadFailed)) << "bad checksum";
    EXPECT_NE(mLog.str().find("attempt 3 of a.bin failed: checksum mismatch for a.bin"), std::string::npos);

    EXPECT_EQ(RunSilentTo(Dest().string(), true), Exit(TSilentExit::Cancelled)) << "cancelled";
}

TEST_F(SilentMode, ResumeOptionSkipsVerifiedFilesOfAReleaseThatDoesNotAsk)
{
    const std::string good = "payload";
    mServer.SetRoute("/rel/a.bin", {.body = good});
    ServeInfo("[Downloads]\nPath=" + mServer.Url("/rel") + "\nFile1=a.bin\n[Checksum]\nFile1=" + Sha1Hex(good)
              + "\n");
    ASSERT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::Done)) << mLog.str();
    ASSERT_EQ(mServer.RequestCount("/rel/a.bin"), 1u);
    mResume = true;
    EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::Done)) << mLog.str();
    EXPECT_EQ(mServer.RequestCount("/rel/a.bin"), 1u) << "skipped";
    mResume = false;
    EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::Done)) << mLog.str();
    EXPECT_EQ(mServer.RequestCount("/rel/a.bin"), 2u) << "fetched again";
}

TEST_F(SilentMode, NewerWizardRunsInsteadAndItsExitCodeIsOurs)
{
    const std::string marker = (mRoot / "child-env").string();
    // Local files: a wizard without a key fetches no newer one over plain http.
    const std::string wizardFolder = PlaceLocally(
        "downloader", "#!/bin/sh\necho \"$DOWNLOADER_SELF_UPDATED $*\" > '" + marker + "'\nexit 7\n");
    ServeInfoLocally("[General]\nVersion=" + NewerVersion() + "\nDownloader=downloader\nPath=" + wizardFolder
                     + "\n");
    mEnvironment.shellOpen = nullptr;                          // the real launcher: the served script runs
    EXPECT_EQ(RunSilentTo(Dest().string()), 7) << mLog.str();  // the newer wizard's own
    EXPECT_EQ(ReadFileBytes(marker), "1 --silent --dest " + Dest().string() + " 1\n");
}

TEST_F(SilentMode, NewerWizardOverPlainHttpIsNotFetchedAndTheReleaseGoesOn)
{
    mServer.SetRoute("/wiz/downloader", {.body = "#!/bin/sh\nexit 7\n"});
    const std::string release = ReleaseInfo({{"a.bin", "abc"}});
    ServeInfo("[General]\nVersion=" + NewerVersion() + "\nDownloader=downloader\nPath=" + mServer.Url("/wiz")
              + "\n" + release.substr(release.find("Setup=")));
    mEnvironment.shellOpen = nullptr;  // the real launcher: nothing may run
    EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::Done)) << mLog.str();
    const std::string refusal =
        "newer wizard downloader not fetched: a wizard without a signing key starts a"
        " newer one only when it and the info file come over https or from local files";
    EXPECT_EQ(mLog.str().rfind("connecting\n" + refusal + "\nSample Suite 5.2\n", 0), 0u) << mLog.str();
    EXPECT_EQ(mServer.RequestCount("/wiz/downloader"), 0u);
    EXPECT_EQ(ReadFileBytes(Dest() / "a.bin"), "abc");
}

TEST_F(SilentMode, CancelDuringTheNewerWizardStopsIt)
{
    const std::string ready = (mRoot / "wizard-running").string();
    const std::string wizardFolder =
        PlaceLocally("downloader", "#!/bin/sh\ntouch '" + ready + "'\nexec sleep 30\n");
    ServeInfoLocally("[General]\nVersion=" + NewerVersion() + "\nDownloader=downloader\nPath=" + wizardFolder
                     + "\n");
    mEnvironment.shellOpen = nullptr;  // the real launcher: the served script runs
    std::chrono::steady_clock::time_point cancelAt;
    std::jthread signaller([&] {
        // Set even when the wizard never starts, so the run cannot hang.
        Eventually([&] { return std::filesystem::exists(ready); });
        cancelAt = std::chrono::steady_clock::now();
        mCancel = true;
    });
    const int exitCode = RunSilentTo(Dest().string());
    const auto ended = std::chrono::steady_clock::now();
    signaller.join();
    EXPECT_EQ(exitCode, 128 + SIGTERM) << mLog.str();
    EXPECT_LT(ended - cancelAt, std::chrono::seconds(5));
}

TEST_F(SilentMode, MissingInfoAddressNamesTheSourceThatFailed)
{
    mServer.SetRoute("/svc", {.body = ""});
    mServer.SetRoute("/svc?INFOFILE=7", {.body = ""});
    SetSetting("URLConfig", mServer.Url("/svc"));
    const auto runWith = [this](const std::string& aRelease, const std::string& aEmbedded) {
        mEnvironment.firstArgument = aRelease;
        mEnvironment.embeddedURL = [aEmbedded] { return aEmbedded; };
        mLog.str("");
        EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::NotConnected));
        return mLog.str();
    };
    EXPECT_NE(
        runWith("", "").find("not connected: no info file address (set INIConfig, or give a release number)"),
        std::string::npos);
    const std::string release = runWith("7", "");
    EXPECT_NE(release.find("not connected: the info service gave no info file address for release 7"),
              std::string::npos)
        << release;
    EXPECT_EQ(mServer.RequestCount("/svc?INFOFILE=7"), 1u);
    const std::string embedded = runWith("7", mServer.Url("/svc"));
    EXPECT_NE(embedded.find("not connected: the info service gave no info file address\n"), std::string::npos)
        << embedded;
}

TEST_F(SilentMode, TerminalProgressLinesFitTheWidth)
{
    const std::string name = std::string(40, 'x') + "-long-name.bin";
    ServeInfo(ReleaseInfo({{name, std::string(300000, 'x')}}));
    ASSERT_EQ(RunSilentTo(Dest().string(), false, false, 40), Exit(TSilentExit::Done)) << mLog.str();
    const std::string out = mLog.str();
    int drawn = 0;
    for (std::size_t at = out.find("\r\x1b[K"); at != std::string::npos; at = out.find("\r\x1b[K", at + 1)) {
        // A progress line is overdrawn; a line ended by "\n" is a report.
        const std::size_t begin = at + 4;
        const std::size_t end = out.find_first_of("\r\n", begin);
        const std::string line = out.substr(begin, end - begin);
        if (line.empty() || end == std::string::npos || out[end] == '\n')
            continue;
        ++drawn;
        EXPECT_LE(Utf8Characters(line), 39u) << line;
        EXPECT_NE(line.find("-long-name.bin"), std::string::npos) << line;
    }
    EXPECT_GT(drawn, 0) << out;
}

TEST_F(SilentMode, ServerTextNeverReachesTheTerminalRaw)
{
    std::string hostile = ReleaseInfo({{"good.bin", std::string(1000, 'g')}});
    hostile.insert(hostile.find("[Checksum]"), "File2=bad\x1b[31m.bin\n");
    hostile.replace(hostile.find("Line1=Sample Suite 5.2"), 22, "Line1=\x1b]0;pwned\x07Suite");
    hostile.replace(hostile.find("Info Size=3 files"), 17, "Info Size=\x1b[2J5 MB\xC2\x9B\xE2\x80\xAE");
    ServeInfo(hostile);
    for (const int columns : {0, 200}) {  // plain lines for a log, then the progress line
        mLog.str("");
        EXPECT_EQ(RunSilentTo(Dest().string(), false, false, columns), Exit(TSilentExit::DownloadFailed))
            << mLog.str();
        std::string out = mLog.str();
        for (std::size_t at; (at = out.find("\r\x1b[K")) != std::string::npos;)
            out.erase(at, 4);  // the progress line's own redraw
        for (const char c : out)
            EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << columns << ": " << out;
        EXPECT_EQ(out.find("\xC2\x9B"), std::string::npos) << out;
        EXPECT_NE(out.find("?]0;pwned?Suite\n"), std::string::npos) << out;
        EXPECT_NE(out.find("?[2J5 MB??\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("\xE2\x80\xAE"), std::string::npos) << out;
        EXPECT_NE(out.find("refusing file name bad?[31m.bin: it holds a control character"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("download failed at bad?[31m.bin"), std::string::npos) << out;
    }
    EXPECT_FALSE(std::filesystem::exists(Dest() / "bad\x1b[31m.bin"));
}

TEST_F(SilentMode, InstallSucceedsOnlyWhenSetupStarted)
{
    const std::string marker = (mRoot / "setup-ran").string();
    const std::string info = ReleaseInfo({{"setup.sh", "#!/bin/sh\ntouch '" + marker + "'\n"}});
    mEnvironment.shellOpen = nullptr;  // the real launcher: the downloaded script runs

    ServeInfo(info);
    EXPECT_EQ(RunSilentTo(Dest().string(), false, true), Exit(TSilentExit::Done)) << mLog.str();
    EXPECT_NE(mLog.str().find("started " + (Dest() / "setup.sh").string()), std::string::npos) << mLog.str();
    EXPECT_TRUE(Eventually([&] { return std::filesystem::exists(marker); }));  // it runs on its own

    // Placed files but no setup: a refused name never reaches the launcher.
    ServeInfo(std::string(info).replace(info.find("Setup=setup.sh"), 14, "Setup=../setup.sh"));
    mLog.str("");
    EXPECT_EQ(RunSilentTo(Dest().string(), false, true), Exit(TSilentExit::SetupNotStarted)) << mLog.str();
    EXPECT_NE(mLog.str().find("cannot start the setup program ../setup.sh"), std::string::npos) << mLog.str();
    EXPECT_EQ(mLog.str().find("started "), std::string::npos) << mLog.str();
}

// A setup program that this run did not verify is not started, and the line
// says why.
TEST_F(SilentMode, UnverifiedSetupIsNotStartedAndTheLineSaysWhy)
{
    const std::string info = ReleaseInfo({{"a.bin", "a"}});
    ServeInfo(std::string(info).replace(info.find("Setup=setup.sh"), 14, "Setup=other.sh"));
    WriteFileBytes(Dest() / "other.sh", "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(RunSilentTo(Dest().string(), false, true), Exit(TSilentExit::SetupNotStarted)) << mLog.str();
    EXPECT_NE(mLog.str().find("cannot start the setup program " + (Dest() / "other.sh").string()
                              + ": it is not a file this run verified\n"),
              std::string::npos)
        << mLog.str();
    EXPECT_TRUE(mLaunches.empty());
}

// A cancel is told as a cancel: no failed attempt before it.
TEST_F(SilentMode, CancelDuringATransferSaysCancelledOnly)
{
    ServeInfo(ReleaseInfo({{"a.bin", std::string(4096, 'a')}}));
    mServer.SetRoute("/rel/a.bin", {.body = std::string(4096, 'a'), .stallAfter = 16});
    std::jthread canceller([&](std::stop_token aStop) {
        // Set even when the transfer never starts, so the run cannot hang.
        Eventually([&] { return aStop.stop_requested() || mServer.StallCount("/rel/a.bin") > 0; });
        mCancel = true;
    });
    EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::Cancelled)) << mLog.str();
    EXPECT_EQ(mServer.RequestCount("/rel/a.bin"), 1u);
    EXPECT_EQ(mLog.str().find("failed"), std::string::npos) << mLog.str();
    EXPECT_TRUE(mLog.str().ends_with("downloading a.bin (1 of 1)\ncancelled\n")) << mLog.str();
}

// A private temporary folder that cannot be trusted is named with the reason,
// not taken for an unreachable info file.
TEST_F(SilentMode, RefusedPrivateFolderSaysWhy)
{
    ServeInfo(ReleaseInfo({{"a.bin", "a"}}));
    std::filesystem::create_directories(mRoot / "elsewhere");
    std::filesystem::create_symlink(mRoot / "elsewhere", mRoot / "runtime" / "Downloader");
    EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::NotConnected));
    EXPECT_NE(
        mLog.str().find("not connected: refusing the private temporary folder: cannot use private folder "
                        + (mRoot / "runtime" / "Downloader").string() + ": it is a symbolic link\n"),
        std::string::npos)
        << mLog.str();
    EXPECT_EQ(mLog.str().find("cannot fetch the info file"), std::string::npos) << mLog.str();
    EXPECT_EQ(mServer.RequestCount("/info.ini"), 0u);

    // A folder above it that others may write to: the folder is as good as theirs.
    std::filesystem::remove(mRoot / "runtime" / "Downloader");
    chmod((mRoot / "runtime").c_str(), 0770);
    mLog.str("");
    EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::NotConnected));
    EXPECT_NE(
        mLog.str().find("not connected: refusing the private temporary folder: cannot use private folder "
                        + (mRoot / "runtime" / "Downloader").string() + ": " + (mRoot / "runtime").string()
                        + " is writable by others without the sticky bit\n"),
        std::string::npos)
        << mLog.str();
    EXPECT_EQ(mServer.RequestCount("/info.ini"), 0u);
}

// A Version that cannot be read is said in one line; the release goes on.
TEST_F(SilentMode, UnreadableVersionIsToldAndTheReleaseIsFetched)
{
    const std::string info = ReleaseInfo({{"a.bin", "payload"}});
    const std::string own = "Version=" + std::string(kDownloaderVersion);
    ServeInfo(std::string(info).replace(info.find(own), own.size(), "Version=3.02b"));
    EXPECT_EQ(RunSilentTo(Dest().string()), Exit(TSilentExit::Done)) << mLog.str();
    EXPECT_EQ(ReadFileBytes(Dest() / "a.bin"), "payload");
    EXPECT_NE(
        mLog.str().find("connecting\nthe info file's Version \"3.02b\" could not be read: no newer wizard "
                        "is looked for\nSample Suite 5.2\n"),
        std::string::npos)
        << mLog.str();
}

namespace {

struct ProgressLineCase {
    const char* name;
    int columns;
    TProgressLine figures;
    std::string expected;
};

void PrintTo(const ProgressLineCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

// File 3 of 12 at 45.20 % with 1 min 2 s left, the whole at 12.34 % with 10 min left.
TProgressLine Figures(const std::string& aName, double aFileLeftMs = 62000, double aTotalLeftMs = 600000)
{
    return {3, 12, aName, 45.2, aFileLeftMs, 12.34, aTotalLeftMs};
}

const std::string kLongName = "release-disc-image-part-07.bin";  // 30 characters
const std::string kAccented = Repeat("\xC3\xA9", 40) + ".bin";   // 44 characters, 84 bytes
const std::string kWide = Repeat("\xE6\xBC\xA2", 20) + ".bin";   // 24 characters, 44 cells
// Two cells each, from symbol, emoji and historic blocks: U+2614, U+26A1,
// U+2B50, U+4DC0, U+1F200, U+1F680, U+1FA70, Tangut U+17000, Kana U+1B000.
const std::string kNineWide =
    "\xE2\x98\x94\xE2\x9A\xA1\xE2\xAD\x90\xE4\xB7\x80\xF0\x9F\x88\x80\xF0\x9F\x9A\x80\xF0\x9F\xA9\xB0"
    "\xF0\x97\x80\x80\xF0\x9B\x80\x80";
const std::string kFirstTwoWide = "\xE2\x98\x94\xE2\x9A\xA1";
const std::string kSymbols = kNineWide + kNineWide + kFirstTwoWide + ".bin";  // 24 characters, 44 cells

// Cells as the C library counts them under a UTF-8 locale: a second opinion
// on the line's own count.
int TerminalCells(const std::string& aText)
{
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (utf8 == locale_t{})
        return -1;
    const locale_t previous = uselocale(utf8);
    int cells = 0;
    std::mbstate_t state{};
    for (std::size_t at = 0; at < aText.size();) {
        wchar_t code = 0;
        const std::size_t length = std::mbrtowc(&code, aText.data() + at, aText.size() - at, &state);
        if (length == 0 || length > aText.size() - at) {
            cells = -1;
            break;
        }
        cells += std::max(0, wcwidth(code));
        at += length;
    }
    uselocale(previous);
    freelocale(utf8);
    return cells;
}

const ProgressLineCase kProgressLineCases[] = {
    {"wide_shows_everything", 200, Figures(kLongName),
     "[##..................] 3/12 release-disc-image-part-07.bin  file 45.20 % (00:01:02 left)"
     "  total 12.34 % (00:10:00 left)"},
    {"eighty_drops_file_estimate_and_bar", 80, Figures(kLongName),
     "3/12 ...ase-disc-image-part-07.bin  file 45.20 %  total 12.34 % (00:10:00 left)"},
    {"forty_keeps_the_name_end_and_total", 40, Figures(kLongName), "3/12 ...mage-part-07.bin  total 12.34 %"},
    {"utf8_name_counted_in_characters", 80, Figures(kAccented),
     "3/12 ..." + Repeat("\xC3\xA9", 22) + ".bin  file 45.20 %  total 12.34 % (00:10:00 left)"},
    {"no_estimate_yet", 80, Figures("a.bin", 0, 0),
     "[##..................] 3/12 a.bin  file 45.20 %  total 12.34 %"},
    {"estimate_of_days_is_no_estimate", 80, Figures("a.bin", 0, 3 * 86400000.0),
     "[##..................] 3/12 a.bin  file 45.20 %  total 12.34 %"},
    {"control_characters_neutralised", 200,
     Figures("a\x1b[2J\x07\xC2\x9B"
             "b.bin",
             0, 0),
     "[##..................] 3/12 a?[2J??b.bin  file 45.20 %  total 12.34 %"},
    {"narrower_than_the_total", 10, Figures(kLongName), "total 12."},
    {"wide_characters_take_two_cells", 40, Figures(kWide),
     "3/12 ..." + Repeat("\xE6\xBC\xA2", 6) + ".bin  total 12.34 %"},
    {"wide_characters_at_eighty", 80, Figures(kWide),
     "3/12 ..." + Repeat("\xE6\xBC\xA2", 11) + ".bin  file 45.20 %  total 12.34 % (00:10:00 left)"},
    {"symbols_and_emoji_take_two_cells", 80, Figures(kSymbols),
     "3/12 ..." + kNineWide + kFirstTwoWide + ".bin  file 45.20 %  total 12.34 % (00:10:00 left)"},
    {"combining_marks_take_none", 40, Figures(Repeat("e\xCC\x81", 20) + ".bin"),
     "3/12 ..." + Repeat("e\xCC\x81", 12) + ".bin  total 12.34 %"},
    {"total_percent_not_a_number",
     200,
     {3, 12, "a.bin", 45.2, 0, std::nan(""), 0},
     "[....................] 3/12 a.bin  file 45.20 %  total 0.00 %"},
};

class ProgressLineFormat : public ::testing::TestWithParam<ProgressLineCase> {};

TEST_P(ProgressLineFormat, FitsTheTerminalAndKeepsWhatMatters)
{
    const std::string line = FormatProgressLine(GetParam().figures, GetParam().columns);
    EXPECT_EQ(line, GetParam().expected);
    const int cells = TerminalCells(line);
    if (cells >= 0) {
        EXPECT_LE(cells, GetParam().columns - 1) << line;
    } else {
        EXPECT_LE(Utf8Characters(line), static_cast<std::size_t>(GetParam().columns - 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressLineFormat, ::testing::ValuesIn(kProgressLineCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

}  // namespace
