// The info file writer: its text, what the wizard's reader reads back, the
// names and releases it refuses, the download order and the size summary.

#include "publish/info_file_writer.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/ini_reader.h"
#include "tests/publish/sample_files.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

TReleaseDescription SampleRelease()
{
    TReleaseDescription release;
    release.wizardVersion = "3.02";
    release.wizardName = "Downloader.exe";
    release.wizardUrl = "http://example.test/wizard/";
    release.wizardSize = 4096;
    release.setup = "Setup.exe";
    release.baseUrl = "http://example.test/release";
    release.files = {
        {"Setup.exe.rename", kSha1Abc, kSha256Abc, 3},
        {"Data1.cab", kSha1Empty, kSha256Empty, 100},
        {"Data2.cab", kSha1A55, kSha256A55, 125829017},
    };
    release.title = "Sample Suite 5.2";
    release.link = "http://example.test/product";
    release.infoLink = "Version information";
    release.end1 = "Click Install to start the installation now.";
    release.end2 = "Setup can also be run later from the destination folder.";
    return release;
}

TEST(InfoFileWriter, WritesTheExpectedText)
{
    const std::string expected = "[General]\r\n"
                                 "Version=3.02\r\n"
                                 "Downloader=Downloader.exe\r\n"
                                 "Setup=Setup.exe\r\n"
                                 "Path=http://example.test/wizard\r\n"
                                 "\r\n"
                                 "[Downloads]\r\n"
                                 "Path=http://example.test/release\r\n"
                                 "File1=Setup.exe.rename\r\n"
                                 "File2=Data1.cab\r\n"
                                 "File3=Data2.cab\r\n"
                                 "\r\n"
                                 + std::string(kSampleChecksumSections)
                                 + "\r\n"
                                   "[Size]\r\n"
                                   "File1=3\r\n"
                                   "File2=100\r\n"
                                   "File3=125829017\r\n"
                                   "Downloader=4096\r\n"
                                   "\r\n"
                                   "[Info]\r\n"
                                   "Line1=Sample Suite 5.2\r\n"
                                   "Link=http://example.test/product\r\n"
                                   "Info Link=Version information\r\n"
                                   "Total Files=3\r\n"
                                   "Info Size=3 files, 120 MB in all\r\n"
                                   "Size=125829120\r\n"
                                   "End1=Click Install to start the installation now.\r\n"
                                   "End2=Setup can also be run later from the destination folder.\r\n";
    EXPECT_EQ(BuildInfoFile(SampleRelease()), expected);
}

TEST(InfoFileWriter, LeavesOutEmptyKeysAndAnAbsentWizard)
{
    TReleaseDescription release;
    release.baseUrl = "https://example.test/r";
    release.files = {{"a.bin", kSha1Abc, kSha256Abc, 3}};
    const std::string text = BuildInfoFile(release);
    EXPECT_EQ(
        text,
        "[General]\r\n\r\n[Downloads]\r\nPath=https://example.test/r\r\nFile1=a.bin\r\n\r\n"
        "[Checksum]\r\nFile1=A9993E364706816ABA3E25717850C26C9CD0D89D\r\n\r\n"
        "[Checksum256]\r\nFile1=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\r\n\r\n"
        "[Size]\r\nFile1=3\r\n\r\n"
        "[Info]\r\nTotal Files=1\r\nInfo Size=1 file, 3 bytes in all\r\nSize=3\r\n");
}

// ---------------------------------------------------------------------------
// What the writer writes, the wizard's reader reads back unchanged.

class RoundTrip : public ::testing::Test {
protected:
    ScratchFolder mScratch;

    TIniReader ReadBack(const TReleaseDescription& aRelease)
    {
        const fs::path path = mScratch.Path() / "info.ini";
        WriteFileBytes(path, BuildInfoFile(aRelease));
        return TIniReader(path.string());
    }
};

TEST_F(RoundTrip, ReaderGetsBackEveryValue)
{
    TReleaseDescription release = SampleRelease();
    // Values the reader would otherwise trim, unquote or misread.
    release.title = "  Suite \"5.2\" for \xC3\xA9quipes \xE2\x82\xAC  ";
    release.infoLink = "\"quoted\"";
    release.end1 = "'single'";
    release.end2 = "; not a comment = still text [x]";
    release.link = std::string(2047, 'l');
    release.infoSize = "\t";
    release.files.push_back({"Data 3 \xC3\xA9t\xC3\xA9.cab", kSha1Abc, kSha256Abc, 7});
    release.files.push_back({"[x]=y;z.cab", kSha1Abc, kSha256Abc, 1});

    const TIniReader reader = ReadBack(release);
    EXPECT_EQ(reader.ReadString("General", "Version", "0"), "3.02");
    EXPECT_EQ(reader.ReadString("General", "Downloader", " "), "Downloader.exe");
    EXPECT_EQ(reader.ReadString("General", "Setup", " "), "Setup.exe");
    EXPECT_EQ(reader.ReadString("General", "Path", " "), "http://example.test/wizard");
    EXPECT_EQ(reader.ReadString("Downloads", "Path", " "), "http://example.test/release");
    int total = 0;
    while (total < 100 && reader.ValueExists("Downloads", "File" + std::to_string(total + 1)))
        ++total;
    ASSERT_EQ(total, static_cast<int>(release.files.size()));
    for (std::size_t i = 0; i < release.files.size(); ++i) {
        const std::string key = "File" + std::to_string(i + 1);
        EXPECT_EQ(reader.ReadString("Downloads", key, " "), release.files[i].name);
        EXPECT_EQ(reader.ReadString("Checksum", key, " "), release.files[i].sha1);
        EXPECT_EQ(reader.ReadString("Checksum256", key, " "), release.files[i].sha256);
    }
    EXPECT_EQ(reader.ReadString("Info", "Line1", " "), release.title);
    EXPECT_EQ(reader.ReadString("Info", "Link", " "), release.link);
    EXPECT_EQ(reader.ReadString("Info", "Info Link", " "), release.infoLink);
    EXPECT_EQ(reader.ReadString("Info", "Info Size", " "), release.infoSize);
    EXPECT_EQ(reader.ReadString("Info", "Total Files", " "), "5");
    EXPECT_EQ(reader.ReadFloat("Info", "Size"), 125829128.0);  // a whole number reads under every locale
    EXPECT_EQ(reader.ReadString("Info", "End1", " "), release.end1);
    EXPECT_EQ(reader.ReadString("Info", "End2", " "), release.end2);
}

// ---------------------------------------------------------------------------
// Names the wizard could not use.

struct NameCase {
    const char* name;
    std::string fileName;
    bool refused;
};

void PrintTo(const NameCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const NameCase kNameCases[] = {
    {"plain", "Setup.exe", false},
    {"inner_blank", "Data 1.cab", false},
    {"utf8",
     "donn\xC3\xA9"
     "es.cab",
     false},
    {"hidden", ".hidden", true},
    {"rename_suffix", "Setup.exe.rename", false},
    {"empty", "", true},
    {"leading_blank", " a.cab", true},
    {"trailing_blank", "a.cab ", true},
    {"slash", "sub/a.cab", true},
    {"absolute", "/etc/passwd", true},
    {"backslash", "sub\\a.cab", true},
    {"dot_dot", "..", true},
    {"dot_dot_inside", "setup..old.bin", false},
    {"dot_dot_ends", "a..", false},
    // A leading dot makes a hidden name, which the wizard refuses.
    {"dot_dot_starts", "..a..", true},
    {"three_dots", "...", true},
    {"dot", ".", true},
    {"rename_only", ".rename", true},
    // The wizard cannot move these to "." and "..".
    {"arrives_as_dot", "..rename", true},
    {"arrives_as_dot_dot", "...rename", true},
    {"tab", "a\tb", true},
    {"control",
     "a\x01"
     "b",
     true},
    {"delete",
     "a\x7F"
     "b",
     true},
    {"newline", "a\nb", true},
    {"c1_control",
     "a\xC2\x9B"
     "b",
     true},
    {"hash", "a#b", true},
    {"question_mark", "a?b", true},
    {"percent", "a%20b", true},
    {"not_utf8", "caf\xE9", true},
};

class FileNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNames, AreRefusedWhenTheWizardCouldNotUseThem)
{
    const NameCase& c = GetParam();
    EXPECT_EQ(RefusalOfFileName(c.fileName).has_value(), c.refused);
    TReleaseDescription release;
    release.baseUrl = "http://h/r";
    release.files = {{c.fileName, kSha1Abc, kSha256Abc, 3}};
    if (c.refused)
        EXPECT_THROW(BuildInfoFile(release), std::invalid_argument);
    else
        EXPECT_NO_THROW(BuildInfoFile(release));
}

INSTANTIATE_TEST_SUITE_P(Names, FileNames, ::testing::ValuesIn(kNameCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// Descriptions that would give the wizard a file it cannot act on.
struct BadRelease {
    const char* name;
    void (*spoil)(TReleaseDescription&);
    const char* message;  // part of the error text
};

void PrintTo(const BadRelease& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const BadRelease kBadReleases[] = {
    {"two_files_arrive_as_one",
     [](TReleaseDescription& r) {
         r.files.push_back({"Setup.exe", kSha1Abc, kSha256Abc, 1});
     },
     "also arrives as \"Setup.exe\""},
    {"setup_not_listed", [](TReleaseDescription& r) { r.setup = "Install.exe"; }, "Install.exe"},
    {"version_with_letters", [](TReleaseDescription& r) { r.wizardVersion = "3.0b"; }, "3.0b"},
    {"version_without_digits", [](TReleaseDescription& r) { r.wizardVersion = "."; }, "no digit"},
    {"version_too_large", [](TReleaseDescription& r) { r.wizardVersion = "2147.48.3648"; }, "too large"},
    {"wizard_without_address", [](TReleaseDescription& r) { r.wizardUrl.clear(); }, "go together"},
    {"wizard_name_with_folder", [](TReleaseDescription& r) { r.wizardName = "bin/Downloader.exe"; },
     "folder"},
    {"base_url_missing", [](TReleaseDescription& r) { r.baseUrl.clear(); }, "release address"},
    {"base_url_not_web", [](TReleaseDescription& r) { r.baseUrl = "ftp://example.test/r"; }, "ftp://"},
    {"base_url_with_blank", [](TReleaseDescription& r) { r.baseUrl = "http://example.test/my release"; },
     "without blanks"},
    {"text_with_line_break", [](TReleaseDescription& r) { r.end1 = "one\r\ntwo"; }, "line break"},
    {"text_too_long", [](TReleaseDescription& r) { r.title = std::string(2048, 't'); }, "2048 characters"},
    {"too_large_to_read",
     [](TReleaseDescription& r) {
         for (int i = 0; i < 20000; ++i)
             r.files.push_back({std::to_string(i) + std::string(200, 'n'), kSha1Abc, kSha256Abc, 1});
     },
     "MiB the wizard reads"},
    {"lower_case_checksum",
     [](TReleaseDescription& r) { r.files[0].sha1 = "a9993e364706816aba3e25717850c26c9cd0d89d"; },
     "upper-case"},
    {"sha256_cut_short", [](TReleaseDescription& r) { r.files[1].sha256.pop_back(); }, "SHA-256"},
    {"sha256_missing", [](TReleaseDescription& r) { r.files[2].sha256.clear(); }, "SHA-256"},
    {"wizard_sha256_not_hex", [](TReleaseDescription& r) { r.wizardSha256 = std::string(64, 'g'); },
     "64 hexadecimal"},
    {"wizard_sha256_without_wizard",
     [](TReleaseDescription& r) {
         r.wizardVersion = r.wizardName = r.wizardUrl = "";
         r.wizardSha256 = kSha256Abc;
     },
     "without offering a wizard"},
};

class BadReleases : public ::testing::TestWithParam<BadRelease> {};

TEST_P(BadReleases, AreRefusedWithAMessage)
{
    TReleaseDescription release = SampleRelease();
    GetParam().spoil(release);
    try {
        BuildInfoFile(release);
        ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().message), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Releases, BadReleases, ::testing::ValuesIn(kBadReleases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// ---------------------------------------------------------------------------
// Download order.

std::vector<std::string> NamesOf(const std::vector<TReleaseFile>& aFiles)
{
    std::vector<std::string> names;
    for (const TReleaseFile& file : aFiles)
        names.push_back(file.name);
    return names;
}

std::vector<TReleaseFile> Unordered()
{
    return {{"b.cab", kSha1Abc, kSha256Abc, 1},
            {"Setup.exe.rename", kSha1Abc, kSha256Abc, 1},
            {"a.cab", kSha1Abc, kSha256Abc, 1},
            {"C.cab", kSha1Abc, kSha256Abc, 1}};
}

TEST(OrderReleaseFiles, NameOrderWithTheSetupFirst)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(NamesOf(OrderReleaseFiles(Unordered(), {}, "")),
              (V{"C.cab", "Setup.exe.rename", "a.cab", "b.cab"}));
    // The setup program is named as it arrives, after the move from ".rename".
    EXPECT_EQ(NamesOf(OrderReleaseFiles(Unordered(), {}, "Setup.exe")),
              (V{"Setup.exe.rename", "C.cab", "a.cab", "b.cab"}));
    EXPECT_EQ(NamesOf(OrderReleaseFiles(Unordered(), {}, "b.cab")),
              (V{"b.cab", "C.cab", "Setup.exe.rename", "a.cab"}));
}

TEST(OrderReleaseFiles, GivenOrderComesFirstAndOverridesTheSetup)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(NamesOf(OrderReleaseFiles(Unordered(), {"b.cab", "a.cab"}, "Setup.exe")),
              (V{"b.cab", "a.cab", "C.cab", "Setup.exe.rename"}));
    EXPECT_EQ(NamesOf(OrderReleaseFiles(Unordered(), {"a.cab", "b.cab", "C.cab", "Setup.exe.rename"}, "")),
              (V{"a.cab", "b.cab", "C.cab", "Setup.exe.rename"}));
}

TEST(OrderReleaseFiles, UnknownOrRepeatedNamesAreRefused)
{
    EXPECT_THROW(OrderReleaseFiles(Unordered(), {"a.cab", "missing.cab"}, ""), std::invalid_argument);
    EXPECT_THROW(OrderReleaseFiles(Unordered(), {"a.cab", "a.cab"}, ""), std::invalid_argument);
    // Names as served: the arrival name does not name a ".rename" file.
    EXPECT_THROW(OrderReleaseFiles(Unordered(), {"Setup.exe"}, ""), std::invalid_argument);
}

TEST(DescribeTotalSize, ReadsNaturally)
{
    EXPECT_EQ(DescribeTotalSize(1, 1), "1 file, 1 byte in all");
    EXPECT_EQ(DescribeTotalSize(2, 1023), "2 files, 1023 bytes in all");
    EXPECT_EQ(DescribeTotalSize(1, 1536), "1 file, 1.5 KB in all");
    EXPECT_EQ(DescribeTotalSize(3, 125829120), "3 files, 120 MB in all");
    EXPECT_EQ(DescribeTotalSize(4, 10 * 1048576 - 1), "4 files, 10 MB in all");
    EXPECT_EQ(DescribeTotalSize(5, 5ull << 30), "5 files, 5.0 GB in all");
}

}  // namespace
