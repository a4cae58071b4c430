// Replayed signed releases: genuine info files served where they were not
// published, for another release number, or older than one accepted before.
// Signatures by the real minisign tool; the worker with a vendor key.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/release_signature.h"
#include "engine/signed_info_freshness.h"
#include "tests/engine/signed_release_support.h"

namespace {

// Known instants: 2001-09-09T01:46:40Z, 2023-11-14T22:13:20Z, 2027-01-15T08:00:00Z.
constexpr std::uint64_t kOld = 1000000000;
constexpr std::uint64_t kNew = 1700000000;
constexpr std::uint64_t kNewer = 1800000000;

std::string Comment(std::uint64_t aSeconds)
{
    return "timestamp:" + std::to_string(aSeconds) + "\tfile:info.ini\thashed";
}

class SignedReplay : public SignedRelease {
protected:
    // aInfo and its signature with aComment, at aPath of the server, which
    // INIConfig names.
    void ServeSignedAt(const std::string& aPath, const std::string& aInfo, const std::string& aComment)
    {
        mServer.SetRoute(aPath, {.body = aInfo});
        mServer.SetRoute(SignatureAddress(mServer.Url(aPath)).substr(mServer.Url("").size()),
                         {.body = sVendor->Sign(aInfo, false, aComment)});
        SetSetting("INIConfig", mServer.Url(aPath));
    }
    void Configure()
    {
        mData.SetLine1("kept");
        Run(TWebOperation::twoConfiguration);
    }
    // The newest signing time remembered for the info file at aPath.
    std::uint64_t Remembered(const std::string& aPath)
    {
        return RegReadNumber(HKEY_CURRENT_USER, SignedInfoSettingsKey(mServer.Url(aPath)), "Timestamp");
    }
    void ExpectRefusedWith(const std::string& aProblem)
    {
        EXPECT_FALSE(mData.Result());
        EXPECT_EQ(mHost.SignedInfoRefusal(), aProblem);
        EXPECT_EQ(mHost.SignatureRefusal(), "") << "the signature itself is good";
        EXPECT_EQ(mData.Line1(), "kept") << "nothing of the refused file is used";
        EXPECT_FALSE(mData.Restart());
        EXPECT_EQ(ReleaseRequests(), 0u);
    }
};

TEST_F(SignedReplay, OlderReleaseServedAtTheNewerAddressIsRefused)
{
    // The genuine 5.1 file, with a newer wizard on offer, served where 5.2's
    // file belongs.
    const std::string release = ReleaseInfo(kTwoFiles);
    const std::string older =
        WizardInfo("DownloaderSHA256=" + Sha256Text(kWizard) + "\n", mServer.Url("/5.1/info.ini"))
        + release.substr(release.find("[Downloads]"));
    ServeSignedAt("/5.2/info.ini", older, Comment(kNew));
    Configure();
    ExpectRefusedWith("it is published at " + mServer.Url("/5.1/info.ini") + ", not at "
                      + mServer.Url("/5.2/info.ini"));
    EXPECT_EQ(Remembered("/5.2/info.ini"), 0u);
    EXPECT_EQ(Remembered("/5.1/info.ini"), 0u);

    // The download finds nothing it may use either.
    mData.SetCarpetaDestino(Dest().string());
    Run(TWebOperation::twoDownload);
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(ReleaseRequests(), 0u);

    // At its own address the same file is good.
    ServeSignedAt("/5.1/info.ini", older, Comment(kNew));
    Configure();
    EXPECT_TRUE(mData.Result()) << mHost.SignedInfoRefusal();
    EXPECT_TRUE(mData.Restart());
    EXPECT_EQ(Remembered("/5.1/info.ini"), kNew);
}

TEST_F(SignedReplay, AddressesCompareExactlyOnceTheLineBreakIsDropped)
{
    // A service reply's line break and INIConfig's blanks do not count;
    // anything else in the address does.
    const std::string info = ReleaseInfo(kTwoFiles);
    ServeSignedAt("/info.ini", info, Comment(kNew));
    SetSetting("INIConfig", " " + mServer.Url("/info.ini") + "\r\n");
    Configure();
    EXPECT_TRUE(mData.Result()) << mHost.SignedInfoRefusal();

    for (const std::string path : {"/INFO.ini", "/info.ini?x=1", "//info.ini", "/info.ini/"}) {
        const std::string other = mServer.Url(path);
        ServeSignedAt(path, info, Comment(kNew));
        Configure();
        EXPECT_FALSE(mData.Result()) << other;
        EXPECT_EQ(mHost.SignedInfoRefusal(),
                  "it is published at " + mServer.Url("/info.ini") + ", not at " + other);
    }
}

struct LackCase {
    const char* name;
    bool infoAddress;     // the file names its address
    const char* comment;  // the signed trusted comment
    const char* problem;
};

void PrintTo(const LackCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const LackCase kLacks[] = {
    {"no_info_address", false, "timestamp:1700000000\tfile:info.ini", "it names no [General] InfoAddress"},
    {"no_timestamp", true, "file:info.ini", "its trusted comment does not begin with timestamp:SECONDS"},
    {"timestamp_not_first", true, "file:info.ini\ttimestamp:1700000000",
     "its trusted comment does not begin with timestamp:SECONDS"},
    {"timestamp_without_digits", true, "timestamp:soon",
     "its trusted comment does not begin with timestamp:SECONDS"},
    {"timestamp_with_letters", true, "timestamp:17e8\tfile:info.ini",
     "its trusted comment does not begin with timestamp:SECONDS"},
    {"timestamp_too_large", true, "timestamp:18446744073709551616",
     "its trusted comment does not begin with timestamp:SECONDS"},
};

class SignedLack : public SignedReplay, public ::testing::WithParamInterface<LackCase> {};

TEST_P(SignedLack, FileWithoutItsAddressOrSigningTimeIsRefused)
{
    const std::string info =
        GetParam().infoAddress ? ReleaseInfo(kTwoFiles) : EngineSandbox::ReleaseInfo(kTwoFiles);
    ServeSignedAt("/info.ini", info, GetParam().comment);
    Configure();
    ExpectRefusedWith(GetParam().problem);
    EXPECT_EQ(Remembered("/info.ini"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, SignedLack, ::testing::ValuesIn(kLacks),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

struct ReleaseCase {
    const char* name;
    const char* releaseLine;  // in [General]
    const char* problem;      // "" when accepted
};

void PrintTo(const ReleaseCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const ReleaseCase kReleases[] = {
    {"same_number", "Release=7\n", ""},
    {"quoted_number", "Release=\"7\"\n", ""},
    {"other_number", "Release=6\n", "it is for release 6, not release 7"},
    {"longer_number", "Release=77\n", "it is for release 77, not release 7"},
    {"no_number", "", "it names no [General] Release and release 7 was asked for"},
};

class SignedReleaseNumber : public SignedReplay, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(SignedReleaseNumber, FileAskedForByNumberMustNameThatNumber)
{
    // The info service turns release 7 into the info file's address.
    std::string info = ReleaseInfo(kTwoFiles);
    info.insert(info.find("[General]\n") + 10, GetParam().releaseLine);
    mServer.SetRoute("/info.ini", {.body = info});
    mServer.SetRoute("/info.ini.minisig", {.body = sVendor->Sign(info, false, Comment(kNew))});
    mServer.SetRoute("/svc?INFOFILE=7", {.body = mServer.Url("/info.ini") + "\r\n"});
    SetSetting("URLConfig", mServer.Url("/svc"));
    mEnvironment.firstArgument = "7";
    Configure();
    if (std::string(GetParam().problem).empty()) {
        EXPECT_TRUE(mData.Result()) << mHost.SignedInfoRefusal();
        EXPECT_EQ(mData.Line1(), "Sample Suite 5.2");
        mData.SetCarpetaDestino(Dest().string());
        Run(TWebOperation::twoDownload);
        EXPECT_TRUE(mData.Result()) << mHost.SignedInfoRefusal();
    } else {
        ExpectRefusedWith(GetParam().problem);
    }

    // Found through INIConfig, no number was asked for: Release is not looked at.
    mEnvironment.firstArgument.clear();
    SetSetting("INIConfig", mServer.Url("/info.ini"));
    Configure();
    EXPECT_TRUE(mData.Result()) << mHost.SignedInfoRefusal();
}

INSTANTIATE_TEST_SUITE_P(Cases, SignedReleaseNumber, ::testing::ValuesIn(kReleases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(SignedReplay, OlderSigningTimeIsRefusedTheSameOrNewerIsAcceptedAndRemembered)
{
    const std::string info = ReleaseInfo(kTwoFiles);
    ServeSignedAt("/info.ini", info, Comment(kNew));
    Configure();
    ASSERT_TRUE(mData.Result()) << mHost.SignedInfoRefusal();
    EXPECT_EQ(Remembered("/info.ini"), kNew);

    // An older genuine copy of the same file: a rollback.
    const std::string older = ReleaseInfo({kTwoFiles[0]});
    ServeSignedAt("/info.ini", older, Comment(kOld));
    Configure();
    ExpectRefusedWith("signed 2001-09-09T01:46:40Z, older than the one accepted before for this address"
                      " (signed 2023-11-14T22:13:20Z)");
    EXPECT_EQ(Remembered("/info.ini"), kNew);

    // The same file fetched again is fine, and so is a newer one.
    ServeSignedAt("/info.ini", info, Comment(kNew));
    Configure();
    EXPECT_TRUE(mData.Result()) << mHost.SignedInfoRefusal();
    ServeSignedAt("/info.ini", info, Comment(kNewer));
    Configure();
    EXPECT_TRUE(mData.Result()) << mHost.SignedInfoRefusal();
    EXPECT_EQ(Remembered("/info.ini"), kNewer);
    ServeSignedAt("/info.ini", info, Comment(kNew));
    Configure();
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(mHost.SignedInfoRefusal(), "signed 2023-11-14T22:13:20Z, older than the one accepted before for"
                                         " this address (signed 2027-01-15T08:00:00Z)");

    // Each address has its own record.
    ServeSignedAt("/other/info.ini", ReleaseInfo(kTwoFiles, "", mServer.Url("/other/info.ini")),
                  Comment(kOld));
    Configure();
    EXPECT_TRUE(mData.Result()) << mHost.SignedInfoRefusal();
    EXPECT_EQ(Remembered("/other/info.ini"), kOld);
    EXPECT_EQ(Remembered("/info.ini"), kNewer);
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, SignedInfoSettingsKey(mServer.Url("/other/info.ini")),
                            "InfoAddress"),
              mServer.Url("/other/info.ini"));
}

TEST_F(SignedReplay, NothingIsRememberedFromAFileThatWasRefused)
{
    const std::string info = ReleaseInfo(kTwoFiles);
    // Another key's signature, and a changed file under a good one: both
    // with a late signing time that would lock out every real release.
    mServer.SetRoute("/info.ini", {.body = info});
    mServer.SetRoute("/info.ini.minisig", {.body = sStranger->Sign(info, false, Comment(kNewer))});
    SetSetting("INIConfig", mServer.Url("/info.ini"));
    Configure();
    EXPECT_FALSE(mData.Result());
    EXPECT_NE(mHost.SignatureRefusal(), "");
    mServer.SetRoute("/info.ini", {.body = info + "[Info]\nLine1=changed\n"});
    mServer.SetRoute("/info.ini.minisig", {.body = sVendor->Sign(info, false, Comment(kNewer))});
    Configure();
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(Remembered("/info.ini"), 0u);

    ServeSignedAt("/info.ini", info, Comment(kNew));
    Configure();
    EXPECT_TRUE(mData.Result()) << mHost.SignatureRefusal() << mHost.SignedInfoRefusal();
    EXPECT_EQ(Remembered("/info.ini"), kNew);
}

TEST_F(SignedReplay, OlderCopySwappedInBeforeTheDownloadIsRefused)
{
    ServeSignedAt("/info.ini", ReleaseInfo(kTwoFiles), Comment(kNew));
    Configure();
    ASSERT_TRUE(mData.Result()) << mHost.SignedInfoRefusal();

    // A genuine older file of the same address and its signature, put in
    // place of the checked copy.
    const std::string older = ReleaseInfo({{"old-setup.sh", "#!/bin/sh\nexit 1\n"}});
    WriteFileBytes(mData.ArchIniLocal(), older);
    WriteFileBytes(mData.ArchIniLocal() + ".minisig", sVendor->Sign(older, false, Comment(kOld)));
    mData.SetCarpetaDestino(Dest().string());
    Run(TWebOperation::twoDownload);
    EXPECT_FALSE(mData.Result());
    EXPECT_NE(mHost.SignedInfoRefusal().find("signed 2001-09-09T01:46:40Z, older than"), std::string::npos)
        << mHost.SignedInfoRefusal();
    EXPECT_EQ(ReleaseRequests(), 0u);
}

// ---- The helpers on their own --------------------------------------------------------

struct TimestampCase {
    const char* name;
    const char* comment;
    std::optional<std::uint64_t> seconds;
};

void PrintTo(const TimestampCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const TimestampCase kTimestamps[] = {
    {"minisign_default", "timestamp:1796997442\tfile:f\thashed", 1796997442},
    {"alone", "timestamp:5", 5},
    {"blank_after", "timestamp:5 more", 5},
    {"zero", "timestamp:0", 0},
    {"largest", "timestamp:18446744073709551615", 18446744073709551615u},
    {"one_past_largest", "timestamp:18446744073709551616", std::nullopt},
    {"empty_number", "timestamp:", std::nullopt},
    {"sign", "timestamp:+5", std::nullopt},
    {"upper_case_name", "Timestamp:5", std::nullopt},
    {"blank_before", " timestamp:5", std::nullopt},
    {"suffix", "timestamp:5s", std::nullopt},
    {"later_in_the_comment", "file:f timestamp:5", std::nullopt},
};

class TrustedCommentTime : public ::testing::TestWithParam<TimestampCase> {};

TEST_P(TrustedCommentTime, IsTheNumberAtTheStartOnly)
{
    EXPECT_EQ(TrustedCommentTimestamp(GetParam().comment), GetParam().seconds);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrustedCommentTime, ::testing::ValuesIn(kTimestamps),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST(UtcDate, IsIso8601InUtc)
{
    // From `date -u -d @N +%Y-%m-%dT%H:%M:%SZ`.
    EXPECT_EQ(UtcDateText(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(UtcDateText(kOld), "2001-09-09T01:46:40Z");
    EXPECT_EQ(UtcDateText(1796997442), "2026-12-11T13:57:22Z");
    EXPECT_EQ(UtcDateText(253402300799), "9999-12-31T23:59:59Z");
    EXPECT_EQ(UtcDateText(253402300800), "timestamp 253402300800");
}

}  // namespace
