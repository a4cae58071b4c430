// Signed releases: the worker with a vendor key in its environment, against
// signatures made by the real minisign tool; and the same worker without a
// key, which must behave exactly as an unsigned build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>

#include "engine/release_key.h"
#include "engine/release_signature.h"
#include "tests/engine/signed_release_support.h"

class SignedReleaseForms : public SignedRelease, public ::testing::WithParamInterface<bool> {};

TEST_P(SignedReleaseForms, SignedReleaseDownloadsAndChecksBothDigests)
{
    const std::string info = ReleaseInfo(kTwoFiles, Checksum256(kTwoFiles));
    ServeSigned(info, sVendor->Sign(info, GetParam()));
    ConfigureAndDownload();

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mHost.SignatureRefusal(), "");
    EXPECT_EQ(mData.Line1(), "Sample Suite 5.2");
    EXPECT_EQ(mServer.RequestCount("/info.ini.minisig"), 1u);
    for (const auto& file : kTwoFiles)
        EXPECT_EQ(ReadFileBytes(Dest() / file.name), file.body) << file.name;
    // The signature comes right after the info file, before anything else.
    const auto paths = mServer.RequestedPaths();
    ASSERT_GE(paths.size(), 2u);
    EXPECT_EQ(paths[0], "/info.ini");
    EXPECT_EQ(paths[1], "/info.ini.minisig");
}

INSTANTIATE_TEST_SUITE_P(Forms, SignedReleaseForms, ::testing::Bool(),
                         [](const auto& aInfo) { return aInfo.param ? "legacy" : "prehashed"; });

struct RefusalCase {
    const char* name;
    // Makes the served signature from the signed info file; the served info
    // file is aServed.
    std::function<std::string(const std::string& aInfo, std::string& aServed)> make;
    const char* problem;  // part of SignatureProblem
};

void PrintTo(const RefusalCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class SignedReleaseRefusals : public SignedRelease, public ::testing::WithParamInterface<RefusalCase> {
public:
    static MinisignToolKey& Vendor() { return *sVendor; }
    static MinisignToolKey& Stranger() { return *sStranger; }
};

const RefusalCase kRefusals[] = {
    {"missing", [](const std::string&, std::string&) { return std::string(); }, "cannot fetch"},
    {"file_changed",
     [](const std::string& aInfo, std::string& aServed) {
         aServed.replace(aServed.find("Title"), 5, "Tampered");
         return SignedReleaseRefusals::Vendor().Sign(aInfo);
     },
     "does not match"},
    {"other_key",
     [](const std::string& aInfo, std::string&) { return SignedReleaseRefusals::Stranger().Sign(aInfo); },
     "another key"},
    {"trusted_comment_edited",
     [](const std::string& aInfo, std::string&) {
         std::string signature = SignedReleaseRefusals::Vendor().Sign(aInfo, false, "timestamp:1");
         signature.replace(signature.find("timestamp:1"), 11, "timestamp:2");
         return signature;
     },
     "trusted comment"},
    {"not_a_signature", [](const std::string&, std::string&) { return std::string("<html>hello</html>\n"); },
     "not a minisign signature"},
};

TEST_P(SignedReleaseRefusals, InfoFileIsNotUsedAndNothingElseIsFetched)
{
    // A newer wizard on offer too: it must not be fetched either.
    const std::string info = ReleaseInfo(kTwoFiles, Checksum256(kTwoFiles));
    std::string served = WizardInfo("") + info.substr(info.find("[Downloads]"));
    const std::string signedInfo = served;
    const std::string signature = GetParam().make(signedInfo, served);
    ServeSigned(served, signature);
    Run(TWebOperation::twoConfiguration);

    EXPECT_FALSE(mData.Result());
    EXPECT_NE(mHost.SignatureRefusal().find(GetParam().problem), std::string::npos)
        << mHost.SignatureRefusal();
    EXPECT_FALSE(mData.Restart());
    EXPECT_EQ(mData.Line1(), "kept");
    EXPECT_EQ(mServer.RequestCount("/info.ini.minisig"), 1u);
    EXPECT_EQ(ReleaseRequests(), 0u);

    // A download started all the same finds nothing it may use.
    mData.SetCarpetaDestino(Dest().string());
    Run(TWebOperation::twoDownload);
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(ReleaseRequests(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, SignedReleaseRefusals, ::testing::ValuesIn(kRefusals),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(SignedRelease, SignatureAddressKeepsTheQueryAfterThePath)
{
    const std::string info = ReleaseInfo(kTwoFiles, "", mServer.Url("/info.ini?release=7"));
    mServer.SetRoute("/info.ini?release=7", {.body = info});
    mServer.SetRoute("/info.ini.minisig?release=7", {.body = sVendor->Sign(info)});
    RegWriteString(HKEY_CURRENT_USER, "\\SOFTWARE\\Corvane\\Downloader", "INIConfig",
                   mServer.Url("/info.ini?release=7") + "\r\n");
    Run(TWebOperation::twoConfiguration);
    EXPECT_TRUE(mData.Result()) << mHost.SignatureRefusal();
    EXPECT_EQ(mServer.RequestCount("/info.ini.minisig?release=7"), 1u);

    EXPECT_EQ(SignatureAddress("http://h/a/info.ini#top"), "http://h/a/info.ini.minisig#top");
    EXPECT_EQ(SignatureAddress(" /srv/what?.ini\n"), "/srv/what?.ini.minisig");
}

TEST_F(SignedRelease, LocalCopySwappedBeforeTheDownloadIsRefused)
{
    const std::string info = ReleaseInfo(kTwoFiles);
    ServeSigned(info, sVendor->Sign(info));
    Run(TWebOperation::twoConfiguration);
    ASSERT_TRUE(mData.Result()) << mHost.SignatureRefusal();

    std::ofstream(mData.ArchIniLocal(), std::ios::binary | std::ios::trunc)
        << ReleaseInfo({{"evil.sh", "#!/bin/sh\nrm -rf ~\n"}});
    mData.SetCarpetaDestino(Dest().string());
    Run(TWebOperation::twoDownload);
    EXPECT_FALSE(mData.Result());
    EXPECT_NE(mHost.SignatureRefusal().find("does not match"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Dest() / "evil.sh"));
    EXPECT_EQ(mServer.RequestCount("/rel/evil.sh"), 0u);
}

TEST_F(SignedRelease, Sha256MismatchIsAFailedAttemptLikeASha1One)
{
    // The served data.cab keeps its SHA-1 but is listed with another SHA-256,
    // and a section with an entry missing fails that entry too.
    auto listed = kTwoFiles;
    listed[1].body += "x";
    const std::string sections[] = {
        Checksum256({kTwoFiles[0], listed[1]}),
        "[Checksum256]\nFile1=" + Sha256Text(kTwoFiles[0].body) + "\n",
    };
    for (const auto& section : sections) {
        const std::string info = ReleaseInfo(kTwoFiles, section);
        ServeSigned(info, sVendor->Sign(info));
        const std::size_t before = mServer.RequestCount("/rel/data.cab");
        ConfigureAndDownload();
        EXPECT_FALSE(mData.Result()) << section;
        EXPECT_EQ(mData.Number(), 2) << section;
        EXPECT_EQ(mServer.RequestCount("/rel/data.cab") - before, 3u) << section;
    }

    // Either case of the same digest is the same digest.
    std::string upper = "[Checksum256]\n";
    for (std::size_t i = 0; i < kTwoFiles.size(); ++i)
        upper += "File" + std::to_string(i + 1) + "=" + Upper(Sha256Text(kTwoFiles[i].body)) + "\n";
    const std::string info = ReleaseInfo(kTwoFiles, upper);
    ServeSigned(info, sVendor->Sign(info));
    ConfigureAndDownload();
    EXPECT_TRUE(mData.Result());
}

struct WizardCase {
    const char* name;
    std::string digestLine;  // the [General] DownloaderSHA256 line, or none
    bool started;
};

void PrintTo(const WizardCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class SignedWizard : public SignedRelease, public ::testing::WithParamInterface<WizardCase> {};

TEST_P(SignedWizard, NewerWizardStartsOnlyWithItsSignedDigest)
{
    const std::string info = WizardInfo(GetParam().digestLine);
    ServeSigned(info, sVendor->Sign(info));
    Run(TWebOperation::twoConfiguration);

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mServer.RequestCount("/wiz/downloader-new"), 1u);
    EXPECT_EQ(mData.Restart(), GetParam().started);
    EXPECT_EQ(mData.Line1(), "Title");
    const auto fetched = mRoot / "runtime" / "Downloader" / "downloader-new";
    if (GetParam().started) {
        EXPECT_EQ(mData.UpdateRefused(), "");
        EXPECT_EQ(ReadFileBytes(fetched), kWizard);
    } else {
        EXPECT_NE(mData.UpdateRefused().find("newer wizard downloader-new not started"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(fetched)) << "a refused wizard is not kept";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Digests, SignedWizard,
    ::testing::Values(
        WizardCase{"matching", "DownloaderSHA256=" + Sha256Text(kWizard) + "\n", true},
        WizardCase{"upper_case", "DownloaderSHA256=" + Upper(Sha256Text(kWizard)) + "\n", true},
        WizardCase{"missing", "", false},
        WizardCase{"another_file", "DownloaderSHA256=" + Sha256Text(kWizard + " ") + "\n", false},
        WizardCase{"cut_short", "DownloaderSHA256=" + Sha256Text(kWizard).substr(1) + "\n", false},
        WizardCase{"sha1_given", "DownloaderSHA256=" + Sha1Hex(kWizard) + "\n", false}),
    [](const auto& aInfo) { return std::string(aInfo.param.name); });

// ---- Without a key: exactly as before ----------------------------------------------

TEST_F(SignedRelease, WithoutAKeyNoSignatureIsAskedForAndTheNewKeysMeanNothing)
{
    mEnvironment.publicKey.clear();
    // Wrong SHA-256 digests everywhere, and a signature that would fail:
    // none of it may matter to an unsigned build.
    std::string wrong = "[Checksum256]\n";
    for (std::size_t i = 0; i < kTwoFiles.size(); ++i)
        wrong += "File" + std::to_string(i + 1) + "=" + std::string(64, '0') + "\n";
    const std::string info = ReleaseInfo(kTwoFiles, wrong);
    ServeSigned(info, "garbage\n");
    ConfigureAndDownload();
    EXPECT_TRUE(mData.Result());
    for (const auto& file : kTwoFiles)
        EXPECT_EQ(ReadFileBytes(Dest() / file.name), file.body) << file.name;

    // From local files: without a key a newer wizard never comes over plain http.
    ServeInfoLocally("[General]\nVersion=3.02\nDownloader=downloader-new\nPath="
                     + PlaceLocally("downloader-new", kWizard) + "\nDownloaderSHA256=" + std::string(64, '0')
                     + "\n");
    Run(TWebOperation::twoConfiguration);
    EXPECT_TRUE(mData.Restart());
    EXPECT_EQ(mData.UpdateRefused(), "");

    for (const auto& path : mServer.RequestedPaths())
        EXPECT_EQ(path.find(".minisig"), std::string::npos) << path;
    EXPECT_EQ(TWorkerEnvironment{}.publicKey, "") << "tests and hosts start without a key";
    EXPECT_EQ(TWorkerEnvironment::FromProcess("").publicKey, BuiltInPublicKey())
        << "the program's comes from the build";
}

TEST_F(SignedRelease, ResumeSkipsAFilePresentOnlyWhenItsSha256MatchesToo)
{
    // Both files are in the destination already, right by their SHA-1.
    for (const auto& file : kTwoFiles)
        std::ofstream(Dest() / file.name, std::ios::binary) << file.body;
    auto listed = kTwoFiles;
    listed[1].body += "x";  // data.cab listed with another SHA-256
    const std::string wrong = ReleaseInfo(kTwoFiles, Checksum256(listed) + "[Downloads]\nResume=1\n");
    ServeSigned(wrong, sVendor->Sign(wrong));
    ConfigureAndDownload();
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(mServer.RequestCount("/rel/setup.sh"), 0u) << "skipped: both digests match";
    EXPECT_EQ(mServer.RequestCount("/rel/data.cab"), 3u) << "not skipped, and no fetched copy matches";

    for (const auto& file : kTwoFiles)
        std::ofstream(Dest() / file.name, std::ios::binary | std::ios::trunc) << file.body;
    const std::string right = ReleaseInfo(kTwoFiles, Checksum256(kTwoFiles) + "[Downloads]\nResume=1\n");
    ServeSigned(right, sVendor->Sign(right));
    ConfigureAndDownload();
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mServer.RequestCount("/rel/data.cab"), 3u) << "skipped this time";
}
