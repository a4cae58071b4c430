#include "engine/ini_reader.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class IniFileTest : public ::testing::Test {
protected:
    ScratchFolder mScratch;
    const fs::path mDir = mScratch.Path();

    TIniReader ReaderOf(const std::string& aBytes)
    {
        const fs::path path = mDir / "info.ini";
        WriteFileBytes(path, aBytes);
        return TIniReader(path.string());
    }
};

// ---------------------------------------------------------------------------
// One lookup against one file: the profile-string rules the wizard relies on.

struct ReadCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    const char* fallback;
    std::optional<std::string> expected;  // nullopt: the key must be missing and read the default
    std::string expectedMissing = "";     // what a missing key reads
};

void PrintTo(const ReadCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const std::string kLongAscii(2048, 'x');
std::string Repeat(const std::string& aText, int aCount)
{
    std::string out;
    for (int i = 0; i < aCount; ++i)
        out += aText;
    return out;
}

const ReadCase kReadCases[] = {
    {"double_quotes_removed", "[General]\r\nSetup=\"Setup.exe\"\r\n", "General", "Setup", " ", "Setup.exe"},
    {"single_quotes_removed", "[General]\r\nSetup='My Setup.exe'\r\n", "General", "Setup", " ",
     "My Setup.exe"},
    {"blanks_inside_quotes_kept", "[I]\r\nLine1=\" x \"\r\n", "I", "Line1", " ", " x "},
    {"mismatched_quotes_kept", "[I]\r\nLine1=\"abc'\r\n", "I", "Line1", " ", "\"abc'"},
    {"lone_quote_kept", "[I]\r\nLine1=\"\r\n", "I", "Line1", " ", "\""},
    {"blanks_around_key_and_value", "[I]\r\n \tLine1 \t=  \t Sample Suite 5.2 \t \r\n", "I", "Line1", " ",
     "Sample Suite 5.2"},
    {"value_after_first_equals", "[Info]\r\nLink=http://h/p?a=b=c\r\n", "Info", "Link", " ",
     "http://h/p?a=b=c"},
    {"names_ignore_case", "[gEnErAl]\r\nsetup=s.exe\r\n", "GENERAL", "Setup", " ", "s.exe"},
    {"non_ascii_names_ignore_case",
     "[\xC3\x9C"
     "bersicht]\r\n\xC3\x84nderung=1\r\n",
     "\xC3\xBC"
     "bersicht",
     "\xC3\xA4NDERUNG", " ", "1"},
    {"section_with_blanks", "  [ Info ]  trailing\r\nEnd1=e\r\n", "Info", "End1", " ", "e"},
    {"section_without_bracket", "[Info\r\nEnd1=e\r\n", "Info", "End1", " ", "e"},
    {"empty_value_present", "[Downloads]\r\nFile1=\r\n", "Downloads", "File1", " ", ""},
    {"quoted_empty_value", "[Downloads]\r\nFile1=\"\"\r\n", "Downloads", "File1", " ", ""},
    {"first_duplicate_wins", "[S]\r\nA=1\r\na=2\r\nA=3\r\n", "S", "A", " ", "1"},
    {"sections_merged", "[S]\r\nA=1\r\n[T]\r\nB=2\r\n[s]\r\nC=3\r\nA=4\r\n", "s", "C", " ", "3"},
    {"merged_section_keeps_first", "[S]\r\nA=1\r\n[T]\r\nB=2\r\n[s]\r\nC=3\r\nA=4\r\n", "S", "A", " ", "1"},
    {"same_key_other_section", "[General]\r\nPath=w\r\n[Downloads]\r\nPath=r\r\n", "Downloads", "Path", " ",
     "r"},
    {"comment_ignored", "[S]\r\n;A=1\r\n", "S", "A", " ", std::nullopt},
    {"indented_comment_ignored", "[S]\r\n  ;A=1\r\n", "S", "A", " ", std::nullopt},
    {"key_before_any_section_ignored", "A=1\r\n[S]\r\n", "S", "A", " ", std::nullopt},
    {"line_without_equals_ignored", "[S]\r\nA\r\nB=2\r\n", "S", "A", " ", std::nullopt},
    {"missing_key_blank_default_is_empty", "[S]\r\nA=1\r\n", "S", "Line1", " ", std::nullopt},
    {"missing_key_default_trimmed_at_end", "[S]\r\n", "S", "Version", " 0 \t", std::nullopt, " 0"},
    {"missing_section", "[S]\r\nA=1\r\n", "T", "A", "0", std::nullopt, "0"},
    {"lf_lines", "[S]\nA=1\nB=2\n", "S", "B", " ", "2"},
    {"cr_only_lines", "[S]\rA=1\rB=2\r", "S", "B", " ", "2"},
    {"mixed_line_ends", "[S]\r\n\r\rA=1\n\rB=2", "S", "B", " ", "2"},
    {"utf8_bom_dropped", "\xEF\xBB\xBF[S]\r\nA=1\r\n", "S", "A", " ", "1"},
    {"utf8_kept", "[I]\r\nLine1=Caf\xC3\xA9 \xE2\x82\xAC\r\n", "I", "Line1", " ", "Caf\xC3\xA9 \xE2\x82\xAC"},
    {"windows1252_converted", "[I]\r\nLine1=Caf\xE9 \x80\r\n", "I", "Line1", " ", "Caf\xC3\xA9 \xE2\x82\xAC"},
    {"nul_ends_the_line", "[S]\r\nA=ab\0cd\r\n"s, "S", "A", " ", "ab"},
    {"value_of_2047_kept", "[S]\r\nA=" + kLongAscii.substr(1) + "\r\n", "S", "A", " ", kLongAscii.substr(1)},
    {"value_cut_to_2047", "[S]\r\nA=" + kLongAscii + "\r\n", "S", "A", " ", kLongAscii.substr(1)},
    // Characters, not bytes: 2048 two-byte characters keep 2047 whole ones.
    {"multibyte_value_cut_to_2047_chars", "[S]\r\nA=" + Repeat("\xC3\xA9", 2048) + "\r\n", "S", "A", " ",
     Repeat("\xC3\xA9", 2047)},
    // The quotes go before the cut: 2047 characters between them stay whole.
    {"quoted_value_of_2047_kept", "[S]\r\nA=\"" + kLongAscii.substr(1) + "\"\r\n", "S", "A", " ",
     kLongAscii.substr(1)},
};

class IniReadRules : public IniFileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(IniReadRules, ReadsAsTheProfileRulesSay)
{
    const ReadCase& c = GetParam();
    const TIniReader reader = ReaderOf(c.file);
    EXPECT_EQ(reader.ValueExists(c.section, c.key), c.expected.has_value());
    EXPECT_EQ(reader.ReadString(c.section, c.key, c.fallback), c.expected.value_or(c.expectedMissing));
    EXPECT_FALSE(reader.Truncated());
}

INSTANTIATE_TEST_SUITE_P(Rules, IniReadRules, ::testing::ValuesIn(kReadCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// ---------------------------------------------------------------------------
// File entries: the engine counts File1, File2, ... up to the first missing key.

int CountFileEntries(const TIniReader& aReader)
{
    int total = 0;
    while (total < 100000 && aReader.ValueExists("Downloads", "File" + std::to_string(total + 1)))
        ++total;
    return total;
}

TEST_F(IniFileTest, FileEntriesStopAtTheFirstGap)
{
    const TIniReader reader = ReaderOf("[Downloads]\r\nPath=http://h/r\r\nFile1=a.cab\r\nFile2=b.cab\r\n"
                                       "File4=d.cab\r\n[Checksum]\r\nFile3=X\r\n");
    EXPECT_EQ(CountFileEntries(reader), 2);
    EXPECT_EQ(reader.ReadString("Downloads", "File4", " "), "d.cab");
}

TEST_F(IniFileTest, EmptyFirstEntryIsCounted)
{
    const TIniReader reader = ReaderOf("[Downloads]\r\nFile1=\r\n");
    EXPECT_EQ(CountFileEntries(reader), 1);
    EXPECT_EQ(reader.ReadString("Downloads", "File1", " "), "");
}

TEST_F(IniFileTest, ThousandsOfEntriesReadBack)
{
    std::string file = "[Downloads]\r\n";
    std::string checksums = "[Checksum]\r\n";
    for (int n = 1; n <= 5000; ++n) {
        file += "File" + std::to_string(n) + "=part" + std::to_string(n) + ".cab\r\n";
        checksums += "file" + std::to_string(n) + "=H" + std::to_string(n) + "\r\n";
    }
    const TIniReader reader = ReaderOf(file + checksums);
    ASSERT_EQ(CountFileEntries(reader), 5000);
    for (int n = 1; n <= 5000; ++n) {
        const std::string key = "File" + std::to_string(n);
        ASSERT_EQ(reader.ReadString("Downloads", key, " "), "part" + std::to_string(n) + ".cab");
        ASSERT_EQ(reader.ReadString("Checksum", key, " "), "H" + std::to_string(n));
    }
}

TEST_F(IniFileTest, MissingFileOrFolderReadsAsEmpty)
{
    for (const fs::path& path : {mDir / "absent.ini", mDir}) {
        const TIniReader reader(path.string());
        EXPECT_FALSE(reader.ValueExists("General", "Version")) << path;
        EXPECT_EQ(reader.ReadString("General", "Version", "0"), "0") << path;
        EXPECT_EQ(reader.ReadFloat("Info", "Size"), 0) << path;
        EXPECT_EQ(CountFileEntries(reader), 0) << path;
    }
}

// ---------------------------------------------------------------------------
// UTF-16 little-endian files, recognised by their byte-order mark.

std::string Utf16LeBytes(const std::u16string& aText)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : aText) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST_F(IniFileTest, Utf16LittleEndianFileIsRead)
{
    const TIniReader reader = ReaderOf(Utf16LeBytes(
        u"[Info]\r\nLine1=Caf\u00E9 \u20AC \U0001F600\r\n[downloads]\r\nfile1=\"Setup.exe.rename\"\r\n"));
    EXPECT_EQ(reader.ReadString("Info", "Line1", " "), "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(reader.ReadString("Downloads", "File1", " "), "Setup.exe.rename");
}

TEST_F(IniFileTest, InvalidUtf16IsReplacedNotFatal)
{
    // A lone high surrogate, a lone low one and an odd last byte.
    std::string bytes = Utf16LeBytes(u"[S]\r\nA=x") + "\x00\xD8"s + Utf16LeBytes(u"y").substr(2) + "\x00\xDC"s
                        + Utf16LeBytes(u"\r\nB=2").substr(2) + "\x41"s;
    const TIniReader reader = ReaderOf(bytes);
    EXPECT_EQ(reader.ReadString("S", "A", " "), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
    EXPECT_EQ(reader.ReadString("S", "B", " "), "2");
    EXPECT_TRUE(IsValidUtf8(reader.ReadString("S", "A", " ")));
}

// ---------------------------------------------------------------------------
// Hostile files: large, long-lined, full of NUL bytes.

TEST_F(IniFileTest, HugeFileIsReadUpToTheLimitOnly)
{
    const fs::path path = mDir / "huge.ini";
    const long limit = static_cast<long>(TIniReader::kMaxFileBytes);
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        const std::string head =
            "[S]\r\nA=1\r\nLong=" + std::string(TIniReader::kMaxFileBytes / 2, 'x') + "\r\nB=2\r\n";
        std::fwrite(head.data(), 1, head.size(), file);
        // Megabytes of NUL bytes (a sparse hole), then a line that straddles
        // the limit and a key wholly past it; the file ends at 100 MB.
        const std::string straddling = "\r\nCut=" + std::string(100, 'c') + "\r\n";
        std::fseek(file, limit - 50, SEEK_SET);
        std::fwrite(straddling.data(), 1, straddling.size(), file);
        const std::string after = "Late=1\r\n";
        std::fwrite(after.data(), 1, after.size(), file);
        std::fseek(file, 100L << 20, SEEK_SET);
        std::fputc('\n', file);
        ASSERT_EQ(std::fclose(file), 0);
    }
    const TIniReader reader(path.string());
    EXPECT_TRUE(reader.Truncated());
    EXPECT_EQ(reader.ReadString("S", "A", " "), "1");
    EXPECT_EQ(reader.ReadString("S", "Long", " "), std::string(2047, 'x'));
    EXPECT_EQ(reader.ReadString("S", "B", " "), "2");
    EXPECT_FALSE(reader.ValueExists("S", "Cut"));  // a cut value is never handed out
    EXPECT_FALSE(reader.ValueExists("S", "Late"));
}

TEST_F(IniFileTest, FileCutInsideAUtf8CharacterStaysUtf8)
{
    // Without dropping the cut line, the broken last character would make the
    // whole file read as Windows-1252.
    std::string file = "[S]\r\nA=\xC3\xA9\r\nPad=";
    file += std::string(TIniReader::kMaxFileBytes - file.size() - 1, 'p');
    file += "\xC3\xA9";
    const TIniReader reader = ReaderOf(file);
    EXPECT_TRUE(reader.Truncated());
    EXPECT_EQ(reader.ReadString("S", "A", " "), "\xC3\xA9");
    EXPECT_FALSE(reader.ValueExists("S", "Pad"));
}

// ---------------------------------------------------------------------------
// Numbers: "Size" with an explicit separator, and with the user's own.

struct FloatCase {
    const char* name;
    const char* text;
    char separator;
    bool ok;
    double value;
};

void PrintTo(const FloatCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const FloatCase kFloatCases[] = {
    {"whole_bytes_point", "120000000", '.', true, 120000000},
    {"whole_bytes_comma", "120000000", ',', true, 120000000},
    {"point_separator", "1234.5", '.', true, 1234.5},
    {"comma_separator", "1234,5", ',', true, 1234.5},
    {"comma_under_point_locale", "1234,5", '.', false, 0},
    {"point_under_comma_locale", "1234.5", ',', false, 0},
    {"thousands_separator_refused", "1.234,5", ',', false, 0},
    {"two_separators_refused", "1.2.3", '.', false, 0},
    {"blanks_sign_exponent", " \t-2.5e+3 ", '.', true, -2500},
    {"plus_sign", "+3", '.', true, 3},
    {"leading_separator", ",5", ',', true, 0.5},
    {"trailing_separator", "5.", '.', true, 5},
    {"large_whole_number", "9007199254740993", '.', true, 9007199254740992.0},
    {"empty", "", '.', false, 0},
    {"blank", "  ", '.', false, 0},
    {"separator_only", ".", '.', false, 0},
    {"letters", "12MB", '.', false, 0},
    {"exponent_without_digits", "1e", '.', false, 0},
    {"hex", "0x10", '.', false, 0},
    {"nan", "nan", '.', false, 0},
    {"infinity", "inf", '.', false, 0},
    {"out_of_range", "1e999", '.', false, 0},
};

class FloatConversion : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatConversion, IsStrict)
{
    const FloatCase& c = GetParam();
    bool ok = !c.ok;
    EXPECT_EQ(StrToFloatWithSeparator(c.text, c.separator, ok), c.value);
    EXPECT_EQ(ok, c.ok);
}

INSTANTIATE_TEST_SUITE_P(Size, FloatConversion, ::testing::ValuesIn(kFloatCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// Sets one environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* aName, const char* aValue) : mName(aName)
    {
        if (const char* old = std::getenv(aName))
            mOld = old;
        setenv(aName, aValue, 1);
    }
    ~ScopedEnv()
    {
        if (mOld)
            setenv(mName, mOld->c_str(), 1);
        else
            unsetenv(mName);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* mName;
    std::optional<std::string> mOld;
};

TEST_F(IniFileTest, SizeUsesTheUserSeparator)
{
    const ScopedEnv locale("LC_ALL", "C");
    ASSERT_EQ(UserDecimalSeparator(), '.');
    const TIniReader reader = ReaderOf("[Info]\r\nSize=120000000\r\nHalf=1234.5\r\nComma=1234,5\r\n"
                                       "Words=about 120 MB\r\nEmpty=\r\n");
    EXPECT_EQ(reader.ReadFloat("Info", "Size"), 120000000);
    EXPECT_EQ(reader.ReadFloat("info", "half"), 1234.5);
    EXPECT_EQ(reader.ReadFloat("Info", "Comma"), 0);  // another locale's separator
    EXPECT_EQ(reader.ReadFloat("Info", "Words"), 0);
    EXPECT_EQ(reader.ReadFloat("Info", "Empty"), 0);
    EXPECT_EQ(reader.ReadFloat("Info", "Missing"), 0);
}

TEST(UserDecimalSeparatorTest, UnknownLocaleFallsBackToPoint)
{
    const ScopedEnv locale("LC_ALL", "xx_NOWHERE.UTF-8");
    EXPECT_EQ(UserDecimalSeparator(), '.');
}

}  // namespace
