#include "platform/system_helpers.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/temp_folder.h"
#include "tests/platform/platform_test.h"

extern const std::size_t kEmbeddedUrlSize;

namespace fs = std::filesystem;

namespace {

std::string Utf16(const std::u16string& aText, bool aBigEndian)
{
    std::string bytes = aBigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : aText) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        bytes += aBigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::string expected;
};

void PrintTo(const DecodeCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const std::string kAddress = "http://info.example/scripts/Downloader_GetInfo.asp?INFOFILE=27";

const DecodeCase kDecodeCases[] = {
    {"trailing_crlf_and_blanks", kAddress + "\r\n   \t", kAddress},
    {"leading_blanks", "  \n" + kAddress, kAddress},
    {"utf8_mark", "\xEF\xBB\xBF" + kAddress, kAddress},
    {"utf16le_mark", Utf16(u"http://info.example/a\r\n", false), "http://info.example/a"},
    {"utf16be_mark", Utf16(u"http://info.example/a", true), "http://info.example/a"},
    {"two_lines_joined_by_crlf", "http://a.example/\nhttp://b.example/\r",
     "http://a.example/\r\nhttp://b.example/"},
    {"lone_cr_ends_a_line", "a\rb\r\n\r\nc", "a\r\nb\r\n\r\nc"},
    {"only_blanks", " \r\n\t \n ", ""},
    {"nul_ends_the_text", std::string("http://a.example/\0junk", 22), "http://a.example/"},
    {"windows_1252", "http://a.example/caf\xE9", "http://a.example/caf\xC3\xA9"},
};

class DecodeEmbedded : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeEmbedded, GivesTrimmedText)
{
    EXPECT_EQ(DecodeEmbeddedText(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeEmbedded, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST(EmbeddedUrl, MissingResourceThrows)
{
    if (kEmbeddedUrlSize != 0)
        GTEST_SKIP() << "this build carries an address";
    try {
        ReadEmbeddedURL();
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Resource URL not found");
    }
}

class SystemHelpersTest : public PlatformTest {};

TEST_F(SystemHelpersTest, ProfileFolderIsHomeWithoutTrailingSlash)
{
    setenv("HOME", (mHome.string() + "/").c_str(), 1);
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_PROFILE), mHome.string());
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_APPDATA), mConfig.string());
}

TEST_F(SystemHelpersTest, UnknownFolderNumberThrows)
{
    try {
        GetSpecialFolderPath(0x7FFF);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "SHGetSpecialFolderLocation error: The parameter is incorrect");
    }
}

TEST_F(SystemHelpersTest, UserFoldersComeFromUserDirsFile)
{
    fs::create_directories(mConfig);
    WriteFileBytes(mConfig / "user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                               "XDG_DOWNLOAD_DIR=\"$HOME/Down loads\"\n"
                                               "XDG_DOCUMENTS_DIR=\"/srv/docs/\"\n"
                                               "XDG_MUSIC_DIR=\"relative/music\"\n"
                                               "XDG_VIDEOS_DIR=\"$HOMEx/videos\"\n"
                                               "XDG_PICTURES_DIR=\"/first\"\n"
                                               "XDG_PICTURES_DIR=\"/second\"\n");
    EXPECT_EQ(XdgUserDir("DOWNLOAD"), mHome.string() + "/Down loads");
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_PERSONAL), "/srv/docs");
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_MYPICTURES), "/second");
    // Not valid entries, or none at all: no file-system path, and no error.
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_MYMUSIC), "");
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_MYVIDEO), "");
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_DESKTOPDIRECTORY), "");
}

TEST_F(SystemHelpersTest, TaskbarProgressNeedsASessionBus)
{
    const fs::path runtime = mRoot / "run";
    fs::create_directories(runtime);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    EXPECT_FALSE(IsWindows7OrLater());

    setenv("DBUS_SESSION_BUS_ADDRESS", "", 1);
    EXPECT_FALSE(IsWindows7OrLater());
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus", 1);
    EXPECT_TRUE(IsWindows7OrLater());
    unsetenv("DBUS_SESSION_BUS_ADDRESS");

    WriteFileBytes(runtime / "bus", "not a socket");
    EXPECT_FALSE(IsWindows7OrLater());
    fs::remove(runtime / "bus");
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string bus = (runtime / "bus").string();
    ASSERT_LT(bus.size(), sizeof address.sun_path);
    bus.copy(address.sun_path, bus.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_TRUE(IsWindows7OrLater());
    close(listener);
}

TEST_F(SystemHelpersTest, TempFolderIsTheUsersOwn)
{
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(UserTempFolder(), mHome.string() + "/.cache/");
    setenv("XDG_CACHE_HOME", (mRoot / "cache").c_str(), 1);
    EXPECT_EQ(UserTempFolder(), (mRoot / "cache").string() + "/");
    setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(UserTempFolder(), (mRoot / "cache").string() + "/");
    setenv("XDG_RUNTIME_DIR", "/run/user/1000/", 1);
    EXPECT_EQ(UserTempFolder(), "/run/user/1000/");
}

mode_t ModeOf(const fs::path& aPath)
{
    struct stat info {};
    return lstat(aPath.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST_F(SystemHelpersTest, PrivateFolderIsCreatedOrTightenedToOwnerOnly)
{
    const fs::path folder = mRoot / "cache" / "Downloader";
    EnsurePrivateFolder(folder.string() + "/");
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(folder.parent_path()), 0700u);

    chmod(folder.c_str(), 0777);
    EnsurePrivateFolder(folder);
    EXPECT_EQ(ModeOf(folder), 0700u);
}

TEST_F(SystemHelpersTest, PrivateFolderRefusesLinksFilesAndOthersFolders)
{
    const fs::path target = mRoot / "elsewhere";
    fs::create_directories(target);
    chmod(target.c_str(), 0755);
    const fs::path link = mRoot / "link";
    fs::create_directory_symlink(target, link);
    const fs::path file = mRoot / "file";
    WriteFileBytes(file, "x");
    auto messageOf = [](const fs::path& aFolder) {
        try {
            EnsurePrivateFolder(aFolder);
        } catch (const std::runtime_error& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    EXPECT_EQ(messageOf(link), "cannot use private folder " + link.string() + ": it is a symbolic link");
    EXPECT_EQ(messageOf(link.string() + "/"),
              "cannot use private folder " + link.string() + ": it is a symbolic link");
    EXPECT_EQ(ModeOf(target), 0755u);  // the link's target is left alone
    EXPECT_EQ(messageOf(file), "cannot use private folder " + file.string() + ": it is not a folder");

    if (geteuid() == 0) {  // only root can hand a folder to another user
        const fs::path foreign = mRoot / "foreign";
        fs::create_directories(foreign);
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
        EXPECT_EQ(messageOf(foreign),
                  "cannot use private folder " + foreign.string() + ": it belongs to another user");
    }
}

}  // namespace
