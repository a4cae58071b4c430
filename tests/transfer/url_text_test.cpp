#include <gtest/gtest.h>

#include "transfer/url_text.h"

struct AddressCase {
    const char* name;
    const char* written;
    const char* normalized;
};

const AddressCase kAddressCases[] = {
    {"service_reply_line_break", "http://h/rel/info.ini\r\n", "http://h/rel/info.ini"},
    {"surrounding_blanks", "  http://h/a.ini  ", "http://h/a.ini"},
    {"blank_in_name", "http://h/rel/Data 1.cab", "http://h/rel/Data%201.cab"},
    {"non_ascii_name", "http://h/rel/a\xC3\xB1o.cab", "http://h/rel/a%C3%B1o.cab"},
    {"encoded_stays", "http://h/rel/Data%201.cab?x=1", "http://h/rel/Data%201.cab?x=1"},
    {"query_kept", "http://h/s.asp?INFOFILE=25?INFOFILE=7", "http://h/s.asp?INFOFILE=25?INFOFILE=7"},
    {"local_path_untouched", "/srv/rel/Data 1.cab\n", "/srv/rel/Data 1.cab"},
};

void PrintTo(const AddressCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class NormalizeAddressCase : public ::testing::TestWithParam<AddressCase> {};

TEST_P(NormalizeAddressCase, GivesWhatCurlAccepts)
{
    EXPECT_EQ(NormalizeAddress(GetParam().written), GetParam().normalized);
}

INSTANTIATE_TEST_SUITE_P(Addresses, NormalizeAddressCase, ::testing::ValuesIn(kAddressCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST(LocalPath, ControlBytesNameNoFile)
{
    EXPECT_EQ(LocalPathOf("file:///srv/rel/a%20b.cab"), "/srv/rel/a b.cab");
    for (const char* address : {"file:///srv/a%7Fb", "file:///srv/a%7fb", "file:///srv/a%01b",
                                "file:///srv/a%1Fb", "file:///srv/a%0Ab"})
        EXPECT_EQ(LocalPathOf(address), "") << address;
}

struct RedirectCase {
    const char* from;
    const char* to;
    bool losesTls;
};

TEST(Redirect, FromHttpsOnlyToHttps)
{
    const RedirectCase cases[] = {
        {"https://h/a.ini", "https://mirror/a.ini", false},
        {"HTTPS://h/a.ini", "HTTPS://mirror/a.ini", false},
        {"http://h/a.ini", "http://mirror/a.ini", false},
        {"http://h/a.ini", "https://h/a.ini", false},
        {"https://h/a.ini", "http://h/a.ini", true},
        {"HTTPS://h/a.ini", "Http://h/a.ini", true},
        {"https://h/a.ini", "", true},  // a target that could not be read
    };
    for (const auto& c : cases)
        EXPECT_EQ(LosesTls(c.from, c.to), c.losesTls) << c.from << " -> " << c.to;
    EXPECT_EQ(RefusedRedirectText("http://h/a.ini"),
              "refusing the redirect from https to http: http://h/a.ini");
}

struct LocationCase {
    const char* name;
    const char* infoAddress;
    const char* location;
    bool allowed;
};

void PrintTo(const LocationCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const LocationCase kLocationCases[] = {
    {"web_names_web", "https://h/rel/info.ini", "https://h/rel", true},
    {"web_names_other_web", "http://h/info.ini", " HTTP://cdn/rel ", true},
    {"web_names_a_path", "https://h/rel/info.ini", "/home/user/.ssh", false},
    {"web_names_a_file_address", "http://h/info.ini", "file:///home/user", false},
    {"web_names_a_relative_path", "http://h/info.ini", "rel", false},
    {"web_names_nothing", "http://h/info.ini", " ", false},
    {"path_names_a_path", "/srv/rel/info.ini", "/srv/rel", true},
    {"file_address_names_a_path", "file:///srv/rel/info.ini", "/srv/rel", true},
    {"path_names_web", "/srv/rel/info.ini", "https://h/rel", true},
};

class LocationRule : public ::testing::TestWithParam<LocationCase> {};

TEST_P(LocationRule, RemoteInfoFileNamesOnlyWebLocations)
{
    EXPECT_EQ(IsLocationAllowed(GetParam().infoAddress, GetParam().location), GetParam().allowed);
}

INSTANTIATE_TEST_SUITE_P(Locations, LocationRule, ::testing::ValuesIn(kLocationCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });
