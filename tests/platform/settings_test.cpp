#include "platform/settings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/platform/platform_test.h"
#include "tests/support/eventually.h"

namespace fs = std::filesystem;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kProgramSection = "[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Downloader]\r\n";

// Registry editor hex form of a UTF-16LE text with its NUL, written here by
// hand for ASCII so that the test does not lean on the code under test.
std::string HexOfAsciiText(const std::string& aText)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (char c : aText + '\0') {
        const auto byte = static_cast<unsigned char>(c);
        out += std::string{kDigits[byte >> 4], kDigits[byte & 0xF]} + ",00,";
    }
    out.pop_back();
    return out;
}

// The message of the RegistryError that aCall throws; "" when none.
std::string RegistryErrorOf(const std::function<void()>& aCall)
{
    try {
        aCall();
    } catch (const RegistryError& error) {
        return error.what();
    }
    return "";
}

// Waits for a forked child without trusting it to end: bounded by aLimit.
int WaitBounded(pid_t aChild, std::chrono::seconds aLimit)
{
    int status = 0;
    if (!Eventually([&] { return waitpid(aChild, &status, WNOHANG) != 0; }, aLimit)) {
        kill(aChild, SIGKILL);
        waitpid(aChild, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ReadCase {
    const char* name;
    std::string hive;  // the file after its header
    std::string keyPath;
    std::string valueName;
    std::string expected;  // the text read, when error is empty
    std::string error;     // the RegistryError text
};

void PrintTo(const ReadCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const ReadCase kReadCases[] = {
    {"key_missing", "", kProgramSettingsKey, "Destination", "<default>", ""},
    {"value_missing", kProgramSection, kProgramSettingsKey, "Destination", "<default>", ""},
    {"value_empty", kProgramSection + "\"Destination\"=\"\"\r\n", kProgramSettingsKey, "Destination", "", ""},
    {"zero_bytes_text", kProgramSection + "\"Destination\"=hex(1):\r\n", kProgramSettingsKey, "Destination",
     "", ""},
    {"zero_bytes_dword", kProgramSection + "\"Destination\"=hex(4):\r\n", kProgramSettingsKey, "Destination",
     "", ""},
    {"zero_bytes_binary", kProgramSection + "\"Destination\"=hex:\r\n", kProgramSettingsKey, "Destination",
     "", ""},
    {"dword_is_not_text", kProgramSection + "\"Destination\"=dword:0000002a\r\n", kProgramSettingsKey,
     "Destination", "", "Invalid data type for 'Destination'"},
    {"binary_is_not_text", kProgramSection + "\"Destination\"=hex:41,00,00,00\r\n", kProgramSettingsKey,
     "Destination", "", "Invalid data type for 'Destination'"},
    {"expand_sz_unexpanded",
     "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer]\r\n\"Download Directory\"=hex(2):"
         + HexOfAsciiText("%USERPROFILE%\\Downloads") + "\r\n",
     "\\Software\\Microsoft\\Internet Explorer", "Download Directory", "%USERPROFILE%\\Downloads", ""},
    {"text_ends_at_nul", kProgramSection + "\"Destination\"=hex(1):61,00,00,00,62,00,00,00\r\n",
     kProgramSettingsKey, "Destination", "a", ""},
    {"names_ignore_case",
     "[HKEY_CURRENT_USER\\software\\CORVANE\\downloader]\r\n\"DESTINATION\"=\"/srv/x\"\r\n",
     kProgramSettingsKey, "Destination", "/srv/x", ""},
    {"escapes_and_comments",
     kProgramSection + "; a comment\r\n\"Destination\"=\"C:\\\\Users\\\\\\\"q\\\"\"\r\n", kProgramSettingsKey,
     "Destination", "C:\\Users\\\"q\"", ""},
    {"hex_over_several_lines",
     kProgramSection + "\"Destination\"=hex(1):2f,00,\\\r\n  78,00,\\\r\n  00,00\r\n", kProgramSettingsKey,
     "Destination", "/x", ""},
    {"sub_key_is_not_the_key",
     "[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Downloader\\Old]\r\n\"Destination\"=\"/old\"\r\n",
     kProgramSettingsKey, "Destination", "<default>", ""},
};

class SettingsRead : public PlatformTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(SettingsRead, GivesTextDefaultOrTypeError)
{
    const ReadCase& readCase = GetParam();
    WriteHive(kHeader + readCase.hive);
    std::string text;
    const std::string error = RegistryErrorOf(
        [&] { text = RegReadString(HKEY_CURRENT_USER, readCase.keyPath, readCase.valueName, "<default>"); });
    EXPECT_EQ(error, readCase.error);
    if (readCase.error.empty()) {
        EXPECT_EQ(text, readCase.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

class SettingsTest : public PlatformTest {};

TEST_F(SettingsTest, ReadsOlderAndUtf16Files)
{
    WriteHive(
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Downloader]\n\"Destination\"=\"caf\xE9\"\n");
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination"), "caf\xC3\xA9");

    // What the registry editor writes: UTF-16LE with its mark, CR LF.
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Downloader]\r\n"
                                u"\"Destination\"=\"/home/\u00e9t\u00e9\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text)
        bytes += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    WriteHive(bytes);
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination"),
              "/home/\xC3\xA9t\xC3\xA9");
}

TEST_F(SettingsTest, AnyBytesReadBackExactlyAndLeaveTheOthersAlone)
{
    const std::string accented = "/home/\xC3\xA9t\xC3\xA9";  // UTF-8
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "URLConfig", accented));
    const std::string values[] = {
        "/home/caf\xE9/Downloads",                   // a Latin-1 folder name
        "\xFF\xFE\x80 mixed \xC3\xA9 \xED\xA0\x80",  // stray bytes, UTF-8 and a surrogate's encoding
        std::string("\xC3", 1),                      // a cut sequence
        "plain",
    };
    for (const std::string& value : values) {
        ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", value));
        EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination"), value);
        EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "URLConfig"), accented);
        EXPECT_TRUE(IsValidUtf8(ReadFileBytes(HivePath())));
    }

    // A name is written as text: one that is not UTF-8 is refused and
    // changes nothing.
    const std::string before = ReadFileBytes(HivePath());
    EXPECT_NE(
        RegistryErrorOf([] { RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Na\xEFve", "x"); }), "");
    EXPECT_FALSE(
        RegWriteString(HKEY_CURRENT_USER, std::string(kProgramSettingsKey) + "\\Caf\xE9", "Name", "x"));
    EXPECT_EQ(ReadFileBytes(HivePath()), before);
}

TEST_F(SettingsTest, RootNotSetReadsDefaultAndWritesNothing)
{
    WriteHive(kHeader + kProgramSection + "\"Destination\"=\"/srv\"\r\n");
    EXPECT_EQ(RegReadString(0, kProgramSettingsKey, "Destination", "d"), "d");
    EXPECT_FALSE(RegWriteString(0, kProgramSettingsKey, "Destination", "/x"));
}

TEST_F(SettingsTest, WriteCreatesFoldersAndTheWholeKeyPath)
{
    fs::remove(mConfig);  // the writer makes it
    ASSERT_FALSE(fs::exists(mConfig));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "/srv/files"));

    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination"), "/srv/files");
    struct stat info {};
    ASSERT_EQ(stat(HivePath().parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_NE(ReadFileBytes(HivePath())
                  .find("[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Downloader]\n"
                        "\"Destination\"=\"/srv/files\"\n"),
              std::string::npos);

    HRegistry registry(KEY_READ);
    EXPECT_TRUE(registry.OpenKey("\\SOFTWARE\\Corvane", false));
    EXPECT_FALSE(registry.OpenKey("\\SOFTWARE\\Other", false));
}

TEST_F(SettingsTest, TextsSurviveTheRoundTripInTheFileForm)
{
    const std::vector<std::pair<std::string, std::string>> values = {
        {"Destination", "C:\\Program Files\\\"Q\""},
        {"Unicode", "/home/j\xC3\xB6rg/\xE2\x82\xAC/\xE6\x97\xA5\xF0\x9F\x98\x80"},
        {"Empty", ""},
        {"Name \"with\" \\ marks", "x"},
        {"Lines", "a\r\nb"},
    };
    for (const auto& [name, text] : values)
        ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, name, text)) << name;
    // Names with line breaks have no form in the file: refused, file intact.
    EXPECT_FALSE(RegWriteString(HKEY_CURRENT_USER, "\\SOFTWARE\\Line\nBreak", "Destination", "x"));
    EXPECT_EQ(
        RegistryErrorOf([] { RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Line\nBreak", "x"); }),
        "Failed to set data for 'Line\nBreak'");
    for (const auto& [name, text] : values)
        EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, name, "<default>"), text) << name;

    const std::string file = ReadFileBytes(HivePath());
    EXPECT_NE(file.find("\"Destination\"=\"C:\\\\Program Files\\\\\\\"Q\\\"\"\n"), std::string::npos);
    EXPECT_NE(file.find("\"Unicode\"=\"/home/j\xC3\xB6rg/"), std::string::npos);
    // An empty text is stored as its NUL alone, not as a value without data.
    EXPECT_NE(file.find("\"Empty\"=\"\"\n"), std::string::npos);
}

TEST_F(SettingsTest, WriteKeepsEveryOtherValueWithItsType)
{
    const std::string others =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Elsewhere]\r\n\"Kept\"=\"yes\"\r\n\r\n" + kProgramSection
        + "\"Count\"=dword:ffffffff\r\n\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
          "\"Big\"=hex(b):01,02,03,04,05,06,07,08\r\n\"None\"=hex(0):\r\n@=\"default\"\r\n"
          "\"Odd\"=hex(1):41,00,42\r\n\"Long\"=hex:"
        + HexOfAsciiText(std::string(60, 'z')) + "\r\n";
    WriteHive(kHeader + others);
    const TRegistryHive before = TRegistryHive::Parse(kHeader + others);

    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "/new"));

    const TRegistryHive after = TRegistryHive::Parse(ReadFileBytes(HivePath()));
    ASSERT_EQ(after.Keys().size(), 2u);
    EXPECT_EQ(after.Keys()[0].Values(), before.Keys()[0].Values());
    auto expected = before.Keys()[1].Values();
    expected.emplace_back("Destination", MakeTextValue("/new"));
    EXPECT_EQ(after.Keys()[1].Values(), expected);
}

TEST_F(SettingsTest, PointsAndNumbersFollowTheirTypeRules)
{
    WriteHive(kHeader + kProgramSection
              + "\"Short\"=hex:05,00,00,00\r\n\"Full\"=hex:ff,ff,ff,ff,02,00,00,00\r\n"
                "\"Nine\"=hex:00,00,00,00,00,00,00,00,00\r\n\"Number\"=dword:0000002a\r\n"
                "\"Zero\"=dword:00000000\r\n\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                "\"Text\"=\"\"\r\n");
    HRegistry registry;
    ASSERT_TRUE(registry.OpenKey(kProgramSettingsKey, false));

    EXPECT_EQ(registry.ReadPoint("Short").X, 5);
    EXPECT_EQ(registry.ReadPoint("Short").Y, 0);
    EXPECT_EQ(registry.ReadPointDef("Full", {}).X, -1);
    EXPECT_EQ(registry.ReadPointDef("Full", {}).Y, 2);
    EXPECT_EQ(registry.ReadPointDef("Missing", {7, 8}).Y, 8);
    EXPECT_EQ(registry.ReadIntegerDef("Number", 0), 42);
    EXPECT_EQ(registry.ReadIntegerDef("Missing", -3), -3);
    EXPECT_FALSE(registry.ReadBoolDef("Zero", true));
    EXPECT_TRUE(registry.ReadBoolDef("Number", false));
    EXPECT_EQ(registry.ReadStringDef("Missing", "d"), "d");

    EXPECT_EQ(RegistryErrorOf([&] { registry.ReadPoint("Nine"); }), "Invalid data type for 'Nine'");
    EXPECT_EQ(RegistryErrorOf([&] { registry.ReadPoint("Number"); }), "Invalid data type for 'Number'");
    EXPECT_EQ(RegistryErrorOf([&] { registry.ReadIntegerDef("Big", 0); }), "Failed to get data for 'Big'");
    EXPECT_EQ(RegistryErrorOf([&] { registry.ReadIntegerDef("Text", 0); }), "Invalid data type for 'Text'");

    registry.CloseKey();
    ASSERT_TRUE(registry.OpenKey(kProgramSettingsKey, true));
    registry.WritePoint("Window", {-640, 480});
    HRegistry reader(KEY_READ);
    ASSERT_TRUE(reader.OpenKey(kProgramSettingsKey, false));
    EXPECT_EQ(reader.ReadPoint("Window").X, -640);
    EXPECT_EQ(reader.ReadPoint("Window").Y, 480);
    EXPECT_EQ(RegistryErrorOf([&] { reader.WriteWideString("Other", "x"); }),
              "Failed to set data for 'Other'");
}

TEST_F(SettingsTest, UnwritableFolderOrFileMakesWriteReturnFalse)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes whatever the permissions say";
    const std::string hive = kHeader + kProgramSection + "\"Destination\"=\"/old\"\r\n";
    WriteHive(hive);
    chmod(HivePath().c_str(), 0400);
    EXPECT_FALSE(RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "/new"));
    chmod(HivePath().c_str(), 0600);
    chmod(HivePath().parent_path().c_str(), 0500);
    EXPECT_FALSE(RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "/new"));
    EXPECT_FALSE(RegWriteString(HKEY_CURRENT_USER, "\\SOFTWARE\\New", "Destination", "/new"));
    EXPECT_EQ(ReadFileBytes(HivePath()), hive);
}

TEST_F(SettingsTest, HiveBehindASymbolicLinkIsWrittenThroughIt)
{
    const fs::path kept = mRoot / "dotfiles" / "downloader.reg";
    fs::create_directories(kept.parent_path());
    WriteHive("");
    fs::remove(HivePath());
    WriteFileBytes(kept, kHeader + kProgramSection + "\"Other\"=\"kept\"\r\n");
    fs::create_symlink(kept, HivePath());

    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "/new"));

    EXPECT_TRUE(fs::is_symlink(HivePath()));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", ""), "/new");
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Other", ""), "kept");
    for (const auto& entry : fs::directory_iterator(kept.parent_path()))
        EXPECT_EQ(entry.path(), kept);  // no stray temporary file beside the real hive

    // A link that leads nowhere is the user's to mend: it stays as it is.
    fs::remove(kept);
    EXPECT_FALSE(RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "/newer"));
    EXPECT_TRUE(fs::is_symlink(HivePath()));
    EXPECT_FALSE(fs::exists(kept));
}

// As the registry editor imports a file: a key or value named again, in any
// case, is the one met first, keeps its place and its first spelling, and
// takes the last data.
TEST(RegistryHive, NamesMetAgainInAnyCaseKeepTheirFirstPlace)
{
    TRegistryHive hive = TRegistryHive::Parse(kHeader
                                              + "[HKEY_CURRENT_USER\\A]\r\n\"X\"=\"1\"\r\n\"y\"=\"2\"\r\n"
                                                "[HKEY_CURRENT_USER\\B]\r\n\"Z\"=\"3\"\r\n"
                                                "[hkey_current_user\\a]\r\n\"x\"=\"4\"\r\n@=\"5\"\r\n");
    hive.CreateKey("HKEY_CURRENT_USER\\b").Set("z", MakeTextValue("6"));
    hive.CreateKey("HKEY_CURRENT_USER\\C").Set("Y", MakeTextValue("7"));

    EXPECT_EQ(hive.Format(), "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_CURRENT_USER\\A]\n\"X\"=\"4\"\n\"y\"=\"2\"\n@=\"5\"\n\n"
                             "[HKEY_CURRENT_USER\\B]\n\"Z\"=\"6\"\n\n"
                             "[HKEY_CURRENT_USER\\C]\n\"Y\"=\"7\"\n\n");
    ASSERT_NE(hive.FindKey("hkey_current_user\\C"), nullptr);
    EXPECT_EQ(hive.FindKey("hkey_current_user\\C")->Find("y"), &hive.Keys()[2].Values()[0].second);
    EXPECT_EQ(hive.FindKey("HKEY_CURRENT_USER\\D"), nullptr);
}

const std::string kBrokenHive = kHeader + kProgramSection + "\"Destination\"=\"/kept\"\r\ngarbage\r\n";

TEST_F(SettingsTest, BrokenHiveIsNeverOverwritten)
{
    WriteHive(kBrokenHive);
    EXPECT_FALSE(RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "/new"));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "<default>"), "<default>");
    EXPECT_EQ(ReadFileBytes(HivePath()), kBrokenHive);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(HivePath().parent_path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"user.reg", "user.reg.lock"}));  // no stray temporary file
}

TEST_F(SettingsTest, BrokenHiveIsReportedOncePerProcess)
{
    // A freshly started process: the notice may have been given in this one.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    WriteHive(kBrokenHive);
    EXPECT_EXIT(
        {
            RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination");
            RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "/x");
            RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Other");
            fs::remove_all(mRoot);
            _exit(0);
        },
        ::testing::ExitedWithCode(0),
        ::testing::MatchesRegex("downloader: cannot read settings file /[^\n]*/config/Corvane/user\\.reg: "
                                "line 5: unexpected text\n"));
}

struct WrongKindCase {
    const char* name;
    std::function<void(const fs::path&)> make;  // puts the thing at the hive's name
    std::string reason;                         // as the notice tells it
};

void PrintTo(const WrongKindCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const WrongKindCase kWrongKindCases[] = {
    {"fifo", [](const fs::path& aHive) { ASSERT_EQ(mkfifo(aHive.c_str(), 0600), 0); }, "not a regular file"},
    // A sound hive, but for its size: the rest is one long comment of NULs
    // (sparse, so nothing is written to disk).
    {"over_the_size_limit",
     [](const fs::path& aHive) {
         WriteFileBytes(aHive, kHeader + kProgramSection + "\"Destination\"=\"/kept\"\r\n;");
         ASSERT_EQ(truncate(aHive.c_str(), static_cast<off_t>(kMaxHiveBytes + 1)), 0);
     },
     "larger than " + std::to_string(kMaxHiveBytes) + " bytes"},
};

class HiveOfWrongKind : public PlatformTest, public ::testing::WithParamInterface<WrongKindCase> {};

// Exit codes of the child below.
enum WrongKindFault { kLeftAlone = 0, kReadNotDefault, kWritten, kFileChanged };

bool SameFile(const struct stat& aLeft, const struct stat& aRight)
{
    return aLeft.st_ino == aRight.st_ino && aLeft.st_mode == aRight.st_mode && aLeft.st_size == aRight.st_size
           && aLeft.st_mtim.tv_sec == aRight.st_mtim.tv_sec
           && aLeft.st_mtim.tv_nsec == aRight.st_mtim.tv_nsec;
}

TEST_P(HiveOfWrongKind, IsUnreadableAndLeftAlone)
{
    // A freshly started process, so that the once-per-process notice is this
    // test's own; the alarm ends it should a call block.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(10);
            fs::create_directories(HivePath().parent_path());
            GetParam().make(HivePath());
            struct stat before {};
            struct stat after {};
            lstat(HivePath().c_str(), &before);
            const bool readDefault =
                RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "<default>")
                == "<default>";
            const bool written =
                RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", "/new");
            const bool same = lstat(HivePath().c_str(), &after) == 0 && SameFile(before, after);
            fs::remove_all(mRoot);
            _exit(!readDefault ? kReadNotDefault : written ? kWritten : !same ? kFileChanged : kLeftAlone);
        },
        ::testing::ExitedWithCode(kLeftAlone),
        ::testing::MatchesRegex("downloader: cannot read settings file /[^\n]*/config/Corvane/user\\.reg: "
                                + GetParam().reason + "\n"));
}

INSTANTIATE_TEST_SUITE_P(Cases, HiveOfWrongKind, ::testing::ValuesIn(kWrongKindCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(SettingsTest, ConcurrentWritersKeepEachOthersValues)
{
    constexpr int kThreads = 2;
    constexpr int kWrites = 10;
    // Two processes with two threads each, all writing different values.
    auto writeAll = [](char aProcess) {
        std::atomic<bool> ok{true};
        std::vector<std::thread> threads;
        for (int thread = 0; thread < kThreads; ++thread)
            threads.emplace_back([&ok, aProcess, thread] {
                for (int write = 0; write < kWrites; ++write) {
                    const std::string name =
                        std::string(1, aProcess) + std::to_string(thread * kWrites + write);
                    if (!RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, name, name))
                        ok = false;
                }
            });
        for (auto& thread : threads)
            thread.join();
        return ok.load();
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(writeAll('c') ? 0 : 1);
    EXPECT_TRUE(writeAll('p'));
    ASSERT_EQ(WaitBounded(child, std::chrono::seconds(60)), 0);

    HRegistry registry(KEY_READ);
    ASSERT_TRUE(registry.OpenKey(kProgramSettingsKey, false));
    for (const char process : {'c', 'p'})
        for (int index = 0; index < kThreads * kWrites; ++index) {
            const std::string name = std::string(1, process) + std::to_string(index);
            EXPECT_EQ(registry.ReadStringDef(name, "<lost>"), name);
        }
}

TEST_F(SettingsTest, RaisedNumberOnlyGrowsAndLeavesTheOtherValues)
{
    const std::string key = std::string(kProgramSettingsKey) + "\\Seen\\abc";
    WriteHive(kHeader + kProgramSection + "\"Destination\"=\"/kept\"\r\n");
    EXPECT_EQ(RegReadNumber(HKEY_CURRENT_USER, key, "Timestamp"), 0u) << "missing reads as 0";
    EXPECT_EQ(RegRaiseNumber(HKEY_CURRENT_USER, key, "Timestamp", 2000), std::optional<std::uint64_t>(2000));
    EXPECT_EQ(RegRaiseNumber(HKEY_CURRENT_USER, key, "Timestamp", 1000), std::optional<std::uint64_t>(2000))
        << "a smaller number leaves the larger one";
    EXPECT_EQ(RegRaiseNumber(HKEY_CURRENT_USER, key, "Timestamp", 2000), std::optional<std::uint64_t>(2000));
    EXPECT_EQ(RegRaiseNumber(HKEY_CURRENT_USER, key, "Timestamp", 18446744073709551615u),
              std::optional<std::uint64_t>(18446744073709551615u));
    EXPECT_EQ(RegReadNumber(HKEY_CURRENT_USER, key, "Timestamp"), 18446744073709551615u);
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key, "Timestamp"), "18446744073709551615") << "decimal text";
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination"), "/kept");

    // What is no number counts as 0, and is replaced by the first raise.
    for (const std::string stored : {"\"12x\"", "\"-5\"", "\"18446744073709551616\"", "dword:00000009"}) {
        WriteHive(kHeader + "[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Downloader\\Seen\\abc]\r\n\"Timestamp\"="
                  + stored + "\r\n");
        EXPECT_EQ(RegReadNumber(HKEY_CURRENT_USER, key, "Timestamp"), 0u) << stored;
        EXPECT_EQ(RegRaiseNumber(HKEY_CURRENT_USER, key, "Timestamp", 3), std::optional<std::uint64_t>(3))
            << stored;
    }

    WriteHive(kBrokenHive);
    EXPECT_EQ(RegRaiseNumber(HKEY_CURRENT_USER, key, "Timestamp", 5), std::nullopt);
    EXPECT_EQ(ReadFileBytes(HivePath()), kBrokenHive);
    EXPECT_EQ(RegRaiseNumber(HKEY_CURRENT_USER, "no leading separator", "Timestamp", 5), std::nullopt);
}

TEST_F(SettingsTest, ConcurrentRaisersKeepTheLargestNumber)
{
    const std::string key = std::string(kProgramSettingsKey) + "\\Seen\\abc";
    // Two processes raise in opposite orders: the largest must stand.
    auto raiseAll = [&](bool aUpward) {
        bool ok = true;
        for (std::uint64_t i = 1; i <= 40; ++i)
            ok = RegRaiseNumber(HKEY_CURRENT_USER, key, "Timestamp", aUpward ? i : 41 - i).has_value() && ok;
        return ok;
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(raiseAll(false) ? 0 : 1);
    EXPECT_TRUE(raiseAll(true));
    ASSERT_EQ(WaitBounded(child, std::chrono::seconds(60)), 0);
    EXPECT_EQ(RegReadNumber(HKEY_CURRENT_USER, key, "Timestamp"), 40u);
}

}  // namespace
