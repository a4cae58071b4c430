#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "engine/destination_folder.h"
#include "engine/download_data.h"
#include "engine/progress_figures.h"
#include "engine/safe_path.h"
#include "engine/thread_downloads.h"
#include "platform/text.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace fs = std::filesystem;

struct VersionCase {
    const char* name;
    const char* text;
    std::int32_t value;
};

const VersionCase kVersionCases[] = {
    {"dotted", "2.15", 215},         {"newer", "2.16", 216},      {"short_is_older", "2.2", 22},
    {"three_parts", "10.0.2", 1002}, {"missing_default", "0", 0}, {"leading_blanks", "  2.15", 215},
    {"signed", "-2.15", -215},       {"hex_dollar", "$1.0", 16},  {"hex_0x", "0x1.F", 31},
};

void PrintTo(const VersionCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class VersionToIntCase : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionToIntCase, RemovesDotsAndParses)
{
    EXPECT_EQ(ThreadDownloads::VersionToInt(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, VersionToIntCase, ::testing::ValuesIn(kVersionCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST(VersionToInt, RejectsWhatIsNoWholeNumber)
{
    for (const char* text : {"", ".", "2.15b", "2.15 ", "beta", "99999999999", "- 3"})
        EXPECT_THROW(ThreadDownloads::VersionToInt(text), std::invalid_argument) << text;
}

TEST(ExtractURLFileName, TakesTheLastSegment)
{
    EXPECT_EQ(ThreadDownloads::ExtractURLFileName("http://host/releases/info.ini"), "info.ini");
    EXPECT_EQ(ThreadDownloads::ExtractURLFileName("http://host/releases/info.ini\r\n"), "info.ini");
    EXPECT_EQ(ThreadDownloads::ExtractURLFileName("http://host/a/\"x/y.ini\""), "\"x/y.ini\"");
    EXPECT_EQ(ThreadDownloads::ExtractURLFileName("///"), "///");
}

TEST(IsURL, ConvertsBackslashesOnlyForAddressesWithASlash)
{
    std::string converted;
    EXPECT_TRUE(ThreadDownloads::IsURL("http://h/a\\b.ini", converted));
    EXPECT_EQ(converted, "http://h/a/b.ini");
    EXPECT_FALSE(ThreadDownloads::IsURL("C:\\x\\info.ini", converted));
    EXPECT_EQ(converted, "C:\\x\\info.ini");
}

class FolderTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(mDir / "dest" / "sub"); }
    ScratchFolder mScratch;
    const fs::path mDir = mScratch.Path();
};

TEST_F(FolderTest, JoinInsideRefusesNamesThatLeaveTheFolder)
{
    const std::string dest = (mDir / "dest").string();
    fs::create_directory_symlink("/etc", mDir / "dest" / "escape");
    fs::create_directory_symlink("../escape", mDir / "dest" / "sub" / "deeper");
    fs::create_directory_symlink(mDir / "dest", mDir / "dest" / "self");
    fs::create_directory_symlink("sub", mDir / "dest" / "alias");
    EXPECT_EQ(JoinInside(dest, "setup.bin"), dest + "/setup.bin");
    EXPECT_EQ(JoinInside(dest + "/", "sub/data.cab"), dest + "/sub/data.cab");
    EXPECT_EQ(JoinInside(dest, "alias/data.cab"), dest + "/alias/data.cab") << "a link that stays inside";
    for (const char* name : {"", "/etc/passwd", "../x", "sub/../../x", "a/./b", ".", "..", "escape/passwd",
                             "sub/deeper/passwd", "self"})
        EXPECT_FALSE(JoinInside(dest, name)) << name;
}

TEST_F(FolderTest, NamesWithControlCharactersAreRefused)
{
    const std::string dest = (mDir / "dest").string();
    struct NameCase {
        std::string name;
        bool safe;
    };
    const NameCase cases[] = {
        {"caf\xC3\xA9.bin", true},
        {"caf\xE9.bin", true},               // Latin-1
        {"nb\xC2\xA0sp.bin", true},          // U+00A0 is no control
        {"quote\x9B.bin", true},             // Windows-1252: a printable quotation mark
        {"esc\x1B]0;title\x07.bin", false},  // C0
        {"tab\there.bin", false},
        {std::string("nul\0.bin", 8), false},
        {"del\x7F.bin", false},
        {"csi\xC2\x9B"
         "2J.bin",
         false},                // C1 in UTF-8
        {"c1\x81.bin", false},  // C1 in Windows-1252
        // Bidirectional controls turn the text around: "exe.txt" shown for
        // "\u202Etxt.exe".
        {"rlo\xE2\x80\xAEtxt.exe", false},
        {"lre\xE2\x80\xAA.bin", false},
        {"lrm\xE2\x80\x8E.bin", false},
        {"rlm\xE2\x80\x8F.bin", false},
        {"lri\xE2\x81\xA6.bin", false},
        {"pdi\xE2\x81\xA9.bin", false},
        {"zwj\xE2\x80\x8D.bin", true},   // U+200D joins emoji; it turns nothing round
        {"dash\xE2\x80\x94.bin", true},  // U+2014
        {"ellipsis\xE2\x80\xA6.bin", true},
    };
    for (const auto& [name, safe] : cases) {
        EXPECT_EQ(JoinInside(dest, name).has_value(), safe) << name;
        EXPECT_EQ(JoinInside(dest, "sub/" + name).has_value(), safe) << name;
        EXPECT_EQ(IsPlainFileName(name), safe) << name;
    }
}

TEST(ShownText, BidirectionalControlsAreReplaced)
{
    struct TextCase {
        std::string text;
        std::string shown;
        bool control;
    };
    const TextCase cases[] = {
        {"invoice\xE2\x80\xAEgpj.exe", "invoice?gpj.exe", true},  // U+202E: reads "invoiceexe.jpg"
        {"\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD", "????", true},
        {"\xE2\x80\x8E\xE2\x80\x8F", "??", true},
        {"\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9", "????", true},
        // Their neighbours U+200D, U+2065, U+206A... stay.
        {"\xE2\x80\x8D\xE2\x81\xA5\xE2\x81\xAA", "\xE2\x80\x8D\xE2\x81\xA5\xE2\x81\xAA", false},
        {"cut\xE2\x80", "cut\xC3\xA2\xE2\x82\xAC", false},  // not UTF-8: Windows-1252 letters
    };
    for (const auto& [text, shown, control] : cases) {
        EXPECT_EQ(PrintableText(text), shown) << text;
        EXPECT_EQ(HasControlCharacter(text), control) << text;
    }
}

// Sizes, signing times, range ends and settings numbers come from servers and
// files: digits only, and every value up to 2^64 - 1 exactly.
TEST(ServerNumbers, DecimalsAreDigitsOnlyAndFit64Bits)
{
    struct DecimalCase {
        std::string text;
        std::optional<std::uint64_t> taken;
        std::string rest;  // after the number, or all of it when none is taken
    };
    const DecimalCase cases[] = {
        {"0", 0, ""},
        {"100-199/200", 100, "-199/200"},
        {"18446744073709551615", UINT64_MAX, ""},
        {"18446744073709551616", std::nullopt, "18446744073709551616"},
        {"99999999999999999999", std::nullopt, "99999999999999999999"},
        {"", std::nullopt, ""},
        {"+5", std::nullopt, "+5"},
        {" 5", std::nullopt, " 5"},
        {"0x10", 0, "x10"},
    };
    for (const auto& [text, taken, rest] : cases) {
        std::string_view view = text;
        EXPECT_EQ(TakeDecimal(view), taken) << text;
        EXPECT_EQ(view, rest) << text;
        EXPECT_EQ(WholeDecimal(text), rest.empty() ? taken : std::nullopt) << text;
    }
}

TEST_F(FolderTest, HiddenNamesAreRefused)
{
    const std::string dest = (mDir / "dest").string();
    struct NameCase {
        std::string name;
        const char* reason;  // "" for a name JoinInside takes
    };
    const NameCase cases[] = {
        {"setup.exe.rename", ""},
        {"v1..2.bin", ""},
        {"sub/data.cab", ""},
        {".bashrc", "it names a hidden file or folder"},
        {".ssh/authorized_keys", "it names a hidden file or folder"},
        {"sub/.hidden", "it names a hidden file or folder"},
        {"..", "it leads outside the destination folder"},
        {"sub/../x", "it leads outside the destination folder"},
        {"bidi\xE2\x80\xAEnib.exe", "it holds a control character"},
    };
    for (const auto& [name, reason] : cases) {
        EXPECT_EQ(JoinInside(dest, name).has_value(), *reason == '\0') << name;
        if (*reason != '\0') {
            EXPECT_EQ(RefusedNameReason(name), reason) << name;
        }
    }
    EXPECT_FALSE(IsPlainFileName(".downloader"));
    EXPECT_TRUE(IsPlainFileName("downloader.new"));
}

TEST_F(FolderTest, RenameDownloadedReplacesTheShorterName)
{
    WriteFileBytes(mDir / "Setup.exe", "old");
    WriteFileBytes(mDir / "Setup.exe.rename", "new");
    EXPECT_TRUE(ThreadDownloads::RenameDownloaded((mDir / "Setup.exe.rename").string()));
    EXPECT_EQ(ReadFileBytes(mDir / "Setup.exe"), "new");
    EXPECT_FALSE(fs::exists(mDir / "Setup.exe.rename"));

    // A folder in the way is neither deleted nor replaced.
    fs::create_directory(mDir / "folder");
    WriteFileBytes(mDir / "folder.rename", "file");
    ThreadDownloads::RenameDownloaded((mDir / "folder.rename").string());
    EXPECT_TRUE(fs::is_directory(mDir / "folder"));
    EXPECT_EQ(ReadFileBytes(mDir / "folder.rename"), "file");

    WriteFileBytes(mDir / "data.RENAME", "kept");  // the extension matches case-sensitively
    ThreadDownloads::RenameDownloaded((mDir / "data.RENAME").string());
    EXPECT_TRUE(fs::exists(mDir / "data.RENAME"));
}

TEST(ProgressFigures, TextsAndEstimates)
{
    EXPECT_EQ(PercentText(100.0 / 3), "33.33 %");
    EXPECT_EQ(PercentText(100, ','), "100,00 %");
    EXPECT_EQ(TimeOfDayText(25 * 3600 * 1000.0), "01:00:00");
    EXPECT_EQ(TimeOfDayText(90500), "00:01:30");
    EXPECT_EQ(TimeOfDayText(86400e3 * 1e6 + 61e3), "00:01:01");
    // From an absurd announced size: beyond any integer, yet still a time of day.
    const std::string absurd = TimeOfDayText(1e300);
    EXPECT_EQ(absurd.size(), 8u);
    EXPECT_LT(absurd, "24");

    TDownloadData data;
    data.SetTStart(1000);
    data.SetArchProgreso(1ull << 32);  // beyond 32 bits on purpose
    data.SetArchProgresoMax(3ull << 32);
    EXPECT_DOUBLE_EQ(FileTimeLeftMs(data, 3000), 4000);  // a third in 2 s: 4 s left
    data.SetArchProgreso(4ull << 32);                    // more than announced
    EXPECT_LT(FileTimeLeftMs(data, 3000), 0);
    data.SetAcumulado(0);
    EXPECT_EQ(OverallTimeLeftMs(data, 3000), 0);
}

// The write probe leaves nothing behind, and a folder that cannot be made
// (a file is in the way) is told apart from one without rights.
TEST(DestinationFolderCheck, ProbesThroughTheFolderAndLeavesNothing)
{
    const ScratchFolder scratch;
    const fs::path& root = scratch.Path();
    const fs::path folder = root / "new" / "dest";
    EXPECT_EQ(PrepareDestinationFolder(folder.string()), TFolderCheck::Usable);
    EXPECT_TRUE(fs::is_empty(folder));
    WriteFileBytes(root / "file", "x");
    EXPECT_EQ(PrepareDestinationFolder((root / "file" / "sub").string()), TFolderCheck::CannotCreate);
    EXPECT_EQ(PrepareDestinationFolder("relative/dest"), TFolderCheck::CannotCreate);
}
