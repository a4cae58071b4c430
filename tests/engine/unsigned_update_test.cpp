// A wizard without a vendor key and a newer wizard on offer: started only
// when neither it nor the info file came over plain http.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/update_source.h"
#include "tests/support/engine_sandbox.h"
#include "tests/support/versions.h"

namespace {

const std::string kWizard = "#!/bin/sh\nexit 0\n";
const std::string kRefusal = "newer wizard downloader-new not fetched: ";
const std::string kOverHttp =
    "a wizard without a signing key starts a newer one only when it and the info file"
    " come over https or from local files";
const std::string kLocalFromWeb = ": an info file from the web may name only web addresses";

struct SourceCase {
    const char* name;
    bool localInfo;    // else over http from the loopback server
    bool localWizard;  // likewise
    bool started;
};

void PrintTo(const SourceCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const SourceCase kSources[] = {
    {"both_over_http", false, false, false},
    {"wizard_over_http", true, false, false},
    {"info_over_http_names_a_local_wizard", false, true, false},
    {"both_local", true, true, true},
};

class UnsignedUpdate : public EngineSandbox, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(UnsignedUpdate, NewerWizardStartsOnlyWhenNothingCameOverPlainHttp)
{
    mServer.SetRoute("/wiz/downloader-new", {.body = kWizard});
    const std::string wizardFolder =
        GetParam().localWizard ? PlaceLocally("downloader-new", kWizard) : mServer.Url("/wiz");
    const std::string release = ReleaseInfo({{"a.bin", "abc"}});
    const std::string info = "[General]\nVersion=" + NewerVersion() + "\nDownloader=downloader-new\nPath="
                             + wizardFolder + "\n" + release.substr(release.find("Setup="));
    if (GetParam().localInfo)
        ServeInfoLocally(info);
    else
        ServeInfo(info);
    Run(TWebOperation::twoConfiguration);

    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mData.Restart(), GetParam().started);
    EXPECT_EQ(mData.Line1(), "Sample Suite 5.2");
    const auto fetched = mRoot / "runtime" / "Downloader" / "downloader-new";
    if (GetParam().started) {
        EXPECT_EQ(mData.UpdateRefused(), "");
        Run(TWebOperation::twoDownloader);
        ASSERT_EQ(mLaunches.size(), 1u);
        EXPECT_EQ(mLaunches[0].path, fetched.string());
        return;
    }
    // A web info file may not name a local wizard at all, key or no key.
    const bool localFromWeb = GetParam().localWizard && !GetParam().localInfo;
    EXPECT_EQ(mData.UpdateRefused(), localFromWeb
                                         ? kRefusal + "refusing location " + wizardFolder + kLocalFromWeb
                                         : kRefusal + kOverHttp);
    EXPECT_EQ(mServer.RequestCount("/wiz/downloader-new"), 0u) << "not even fetched";
    EXPECT_FALSE(std::filesystem::exists(fetched));
    // The release goes on with this wizard.
    mData.SetCarpetaDestino(Dest().string());
    Run(TWebOperation::twoDownload);
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "a.bin"), "abc");
    EXPECT_TRUE(mLaunches.empty());
}

INSTANTIATE_TEST_SUITE_P(Sources, UnsignedUpdate, ::testing::ValuesIn(kSources),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(EngineSandbox, UnsignedReleaseWithoutANewerWizardIsNotTold)
{
    ServeInfo(ReleaseInfo({{"a.bin", "abc"}}));
    Run(TWebOperation::twoConfiguration);
    EXPECT_TRUE(mData.Result());
    EXPECT_FALSE(mData.Restart());
    EXPECT_EQ(mData.UpdateRefused(), "");
}

struct AddressCase {
    const char* name;
    const char* info;
    const char* wizard;
    bool allowed;
};

void PrintTo(const AddressCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const AddressCase kAddresses[] = {
    {"https_both", "https://h.example/i.ini", "https://h.example/w/d", true},
    {"https_any_case_and_line_break", "HTTPS://h.example/i.ini\r\n", "Https://h.example/w/d", true},
    {"local_both", "/srv/rel/i.ini", "/srv/wiz/d", true},
    {"file_urls", "file:///srv/rel/i.ini", "FILE:///srv/wiz/d", true},
    {"local_info_https_wizard", "/srv/rel/i.ini", "https://h.example/w/d", true},
    {"http_info", "http://h.example/i.ini", "https://h.example/w/d", false},
    {"http_wizard", "https://h.example/i.ini", "http://h.example/w/d", false},
    {"http_both", "http://h.example/i.ini", "http://h.example/w/d", false},
    {"https_info_local_wizard", "https://h.example/i.ini", "/tmp/d", false},
    {"https_info_file_url_wizard", "https://h.example/i.ini", "file:///tmp/d", false},
    {"ftp", "ftp://h.example/i.ini", "ftp://h.example/w/d", false},
    {"https_lookalike", "https:/h.example/i.ini", "https://h.example/w/d", true},  // a local path
    {"blank_info", " \r\n", "https://h.example/w/d", false},
    {"other_scheme", "httpsx://h.example/i.ini", "https://h.example/w/d", false},
};

class UnsignedUpdateSource : public ::testing::TestWithParam<AddressCase> {};

TEST_P(UnsignedUpdateSource, HttpsOrLocalOnly)
{
    EXPECT_EQ(UnsignedUpdateAllowed(GetParam().info, GetParam().wizard), GetParam().allowed);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnsignedUpdateSource, ::testing::ValuesIn(kAddresses),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

}  // namespace
