#include "publish/info_file_writer.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/ini_reader.h"
#include "publish/output_file.h"
#include "publish/release_server.h"

namespace {

namespace fs = std::filesystem;

// Checksums from sha1sum, never from our own hasher.
constexpr const char* kSha1Abc = "A9993E364706816ABA3E25717850C26C9CD0D89D";
constexpr const char* kSha1Empty = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";
constexpr const char* kSha1A55 = "C1C8BBDC22796E28C0E15163D20899B65621D65A";  // 55 times 'a'

TReleaseDescription SampleRelease()
{
    TReleaseDescription release;
    release.wizardVersion = "3.02";
    release.wizardName = "Downloader.exe";
    release.wizardUrl = "http://example.test/wizard/";
    release.setup = "Setup.exe";
    release.baseUrl = "http://example.test/release";
    release.files = {
        {"Setup.exe.rename", kSha1Abc, 3},
        {"Data1.cab", kSha1Empty, 100},
        {"Data2.cab", kSha1A55, 125829017},
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
                                 "[Checksum]\r\n"
                                 "File1=A9993E364706816ABA3E25717850C26C9CD0D89D\r\n"
                                 "File2=DA39A3EE5E6B4B0D3255BFEF95601890AFD80709\r\n"
                                 "File3=C1C8BBDC22796E28C0E15163D20899B65621D65A\r\n"
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
    release.files = {{"a.bin", kSha1Abc, 3}};
    const std::string text = BuildInfoFile(release);
    EXPECT_EQ(text, "[General]\r\n\r\n[Downloads]\r\nPath=https://example.test/r\r\nFile1=a.bin\r\n\r\n"
                    "[Checksum]\r\nFile1=A9993E364706816ABA3E25717850C26C9CD0D89D\r\n\r\n"
                    "[Info]\r\nTotal Files=1\r\nInfo Size=1 file, 3 bytes in all\r\nSize=3\r\n");
}

// ---------------------------------------------------------------------------
// What the writer writes, the wizard's reader reads back unchanged.

class RoundTrip : public ::testing::Test {
protected:
    fs::path mPath = fs::path(::testing::TempDir()) / "publish_round_trip.ini";
    void TearDown() override { fs::remove(mPath); }

    TIniReader ReadBack(const TReleaseDescription& aRelease)
    {
        std::ofstream(mPath, std::ios::binary) << BuildInfoFile(aRelease);
        return TIniReader(mPath.string());
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
    release.files.push_back({"Data 3 \xC3\xA9t\xC3\xA9.cab", kSha1Abc, 7});
    release.files.push_back({"[x]=y;z.cab", kSha1Abc, 1});

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
    {"hidden", ".hidden", false},
    {"rename_suffix", "Setup.exe.rename", false},
    {"empty", "", true},
    {"leading_blank", " a.cab", true},
    {"trailing_blank", "a.cab ", true},
    {"slash", "sub/a.cab", true},
    {"absolute", "/etc/passwd", true},
    {"backslash", "sub\\a.cab", true},
    {"dot_dot", "..", true},
    {"dot_dot_inside", "setup..old.bin", false},
    {"dot_dot_ends", "..a..", false},
    {"three_dots", "...", false},
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
    release.files = {{c.fileName, kSha1Abc, 3}};
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
         r.files.push_back({"Setup.exe", kSha1Abc, 1});
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
             r.files.push_back({std::to_string(i) + std::string(200, 'n'), kSha1Abc, 1});
     },
     "MiB the wizard reads"},
    {"lower_case_checksum",
     [](TReleaseDescription& r) { r.files[0].sha1 = "a9993e364706816aba3e25717850c26c9cd0d89d"; },
     "upper-case"},
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
    return {{"b.cab", kSha1Abc, 1},
            {"Setup.exe.rename", kSha1Abc, 1},
            {"a.cab", kSha1Abc, 1},
            {"C.cab", kSha1Abc, 1}};
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

// ---------------------------------------------------------------------------
// The command line, on a real folder.

class PublishTool : public ::testing::Test {
protected:
    // One folder per test: ctest may run the tests side by side.
    fs::path mDir =
        fs::path(::testing::TempDir())
        / ("publish_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::path mRelease = mDir / "release";

    void SetUp() override
    {
        fs::remove_all(mDir);
        fs::create_directories(mRelease / "sub");
        Write(mRelease / "Setup.exe.rename", "abc");
        Write(mRelease / "Data1.cab", "");
        Write(mRelease / "Data2.cab", std::string(55, 'a'));
        Write(mRelease / "sub" / "inner.cab", "x");
        Write(mDir / "outside.txt", "secret");
        fs::create_symlink(mDir / "outside.txt", mRelease / "link.cab");
    }
    void TearDown() override { fs::remove_all(mDir); }

    static void Write(const fs::path& aPath, const std::string& aBytes)
    {
        std::ofstream(aPath, std::ios::binary) << aBytes;
    }
    static std::string Read(const fs::path& aPath)
    {
        std::ifstream in(aPath, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::string Quoted(const std::string& aArg) { return "'" + aArg + "'"; }

    // Runs the tool with a shell; returns its exit status, output in aOutput.
    static int Run(const std::string& aArgs, std::string& aOutput)
    {
        const std::string command = Quoted(DOWNLOADER_PUBLISH_TOOL) + " " + aArgs + " 2>&1";
        std::FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return -1;
        char buffer[4096];
        aOutput.clear();
        while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
            aOutput.append(buffer, got);
        const int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

const char* const kToolInfo = "[General]\r\n"
                              "Setup=Setup.exe\r\n"
                              "\r\n"
                              "[Downloads]\r\n"
                              "Path=http://example.test/r\r\n"
                              "File1=Setup.exe.rename\r\n"
                              "File2=Data1.cab\r\n"
                              "File3=Data2.cab\r\n"
                              "\r\n"
                              "[Checksum]\r\n"
                              "File1=A9993E364706816ABA3E25717850C26C9CD0D89D\r\n"
                              "File2=DA39A3EE5E6B4B0D3255BFEF95601890AFD80709\r\n"
                              "File3=C1C8BBDC22796E28C0E15163D20899B65621D65A\r\n"
                              "\r\n"
                              "[Info]\r\n"
                              "Line1=Sample Suite\r\n"
                              "Total Files=3\r\n"
                              "Info Size=3 files, 58 bytes in all\r\n"
                              "Size=58\r\n";

TEST_F(PublishTool, WritesTheInfoFileAndRefusesBadReleases)
{
    std::string output;
    // The info file lands in the folder it describes and must not list itself;
    // the folder and the link that leads out of the folder are left out.
    const fs::path info = mRelease / "info.ini";
    ASSERT_EQ(Run("--base-url http://example.test/r/ --setup Setup.exe --rename Setup.exe --title 'Sample "
                  "Suite' -o "
                      + Quoted(info.string()) + " " + Quoted(mRelease.string()),
                  output),
              0)
        << output;
    EXPECT_EQ(Read(info), kToolInfo);
    EXPECT_NE(output.find("link.cab"), std::string::npos) << output;
    // The same to standard output, with the "--option=value" form.
    fs::remove(info);
    ASSERT_EQ(Run("--base-url=http://example.test/r --setup=Setup.exe --title='Sample Suite' "
                      + Quoted(mRelease.string()),
                  output),
              0)
        << output;
    const std::string expected = kToolInfo;
    ASSERT_GE(output.size(), expected.size());
    EXPECT_EQ(output.substr(output.size() - expected.size()), expected);  // after the notes on stderr
    // --resume adds one key and changes nothing else.
    ASSERT_EQ(Run("--resume --base-url=http://example.test/r --setup=Setup.exe --title='Sample Suite' "
                      + Quoted(mRelease.string()),
                  output),
              0)
        << output;
    std::string resumable = kToolInfo;
    resumable.insert(resumable.find("File1="), "Resume=1\r\n");
    ASSERT_GE(output.size(), resumable.size());
    EXPECT_EQ(output.substr(output.size() - resumable.size()), resumable);

    EXPECT_EQ(Run("--base-url http://h/r --rename Data3.cab " + Quoted(mRelease.string()), output), 1);
    EXPECT_NE(output.find("Data3.cab.rename"), std::string::npos) << output;

    Write(mRelease / "a#b.cab", "x");
    EXPECT_EQ(Run("--base-url http://h/r " + Quoted(mRelease.string()), output), 1);
    EXPECT_NE(output.find("a#b.cab"), std::string::npos) << output;

    EXPECT_EQ(Run("--no-such-option " + Quoted(mRelease.string()), output), 2);
    EXPECT_EQ(Run("--help", output), 0);
    EXPECT_NE(output.find("usage: downloader-publish --base-url URL [options] RELEASE_DIR"), std::string::npos)
        << output;
}

// Serve runs until a signal: start it, fetch from it, stop it.
TEST_F(PublishTool, ServesTheFolderAndItsInfoFileOnLoopback)
{
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(DOWNLOADER_PUBLISH_TOOL, DOWNLOADER_PUBLISH_TOOL, "serve", "--base-url-from-port", "--setup",
              "Setup.exe", mRelease.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    const auto stopChild = [&] {
        kill(child, SIGTERM);
        int status = -1;
        for (int i = 0; i < 200 && waitpid(child, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (waitpid(child, &status, WNOHANG) == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        close(out[0]);
        return status;
    };

    // The first line is the info file's address.
    std::string line;
    pollfd ready{out[0], POLLIN, 0};
    for (int i = 0; i < 100 && line.find('\n') == std::string::npos && poll(&ready, 1, 100) >= 0; ++i) {
        char c;
        if ((ready.revents & (POLLIN | POLLHUP)) && read(out[0], &c, 1) == 1)
            line += c;
    }
    const std::string prefix = "http://127.0.0.1:";
    if (line.rfind(prefix, 0) != 0 || line.find("/info.ini\n") == std::string::npos) {
        stopChild();
        FAIL() << "first line: " << line;
    }
    const int port = std::stoi(line.substr(prefix.size()));

    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    const auto info = client.Get("/info.ini");
    const auto data = client.Get("/Data2.cab");
    const auto empty = client.Get("/Data1.cab");
    const auto inner = client.Get("/sub/inner.cab");
    const auto escaped = client.Get("/..%2Foutside.txt");
    const auto linked = client.Get("/link.cab");
    const int status = stopChild();

    ASSERT_TRUE(info && data && empty && inner && escaped && linked);
    EXPECT_EQ(info->status, 200);
    EXPECT_NE(info->body.find("Path=" + prefix + std::to_string(port) + "\r\n"), std::string::npos)
        << info->body;
    EXPECT_NE(info->body.find("File1=Setup.exe.rename\r\n"), std::string::npos) << info->body;
    EXPECT_EQ(data->status, 200);
    EXPECT_EQ(data->body, std::string(55, 'a'));
    EXPECT_EQ(data->get_header_value("Content-Length"), "55");
    EXPECT_EQ(empty->status, 200);
    EXPECT_EQ(empty->body, "");
    EXPECT_EQ(inner->status, 404);
    EXPECT_EQ(escaped->status, 404);
    EXPECT_EQ(linked->status, 404);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// ---------------------------------------------------------------------------
// The trial server and the -o writer, driven directly.

TEST(ReleaseServer, RefusesAPortAnotherServerHolds)
{
    TReleaseServer first({}, "first release");
    const int port = first.Bind(0);
    TReleaseServer second({}, "second release");
    try {
        second.Bind(port);
        ADD_FAILURE() << "two servers share port " << port;
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "cannot listen on 127.0.0.1:" + std::to_string(port));
    }

    std::atomic<bool> finished{false};
    std::thread serving([&] {
        first.Run();
        finished = true;
    });
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    const auto info = client.Get(TReleaseServer::kInfoPath);
    // A stop before the server listens is lost: repeat it, within bounds.
    for (int i = 0; i < 200 && !finished; ++i) {
        first.Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    serving.join();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->body, "first release");
}

std::string ReadAll(const fs::path& aPath)
{
    std::ifstream in(aPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class OutputFile : public ::testing::Test {
protected:
    fs::path mDir =
        fs::path(::testing::TempDir())
        / ("publish_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    void SetUp() override
    {
        fs::remove_all(mDir);
        fs::create_directories(mDir);
    }
    void TearDown() override { fs::remove_all(mDir); }

    std::set<std::string> Entries() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(mDir))
            names.insert(entry.path().filename().string());
        return names;
    }
};

fs::perms PermsOf(const fs::path& aPath)
{
    return fs::status(aPath).permissions() & fs::perms::mask;
}

fs::perms NewFilePerms()
{
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<fs::perms>(0644 & ~mask);
}

struct OutputCase {
    const char* name;
    void (*prepare)(const fs::path& aDir);  // aDir / "out.ini" is written
    std::set<std::string> entries;          // the folder afterwards: no temporary left
    void (*check)(const fs::path& aDir);    // the new text is "new"
};

void PrintTo(const OutputCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const OutputCase kOutputCases[] = {
    {"new_file",
     [](const fs::path&) {},
     {"out.ini"},
     [](const fs::path& aDir) {
         EXPECT_EQ(ReadAll(aDir / "out.ini"), "new");
         EXPECT_EQ(PermsOf(aDir / "out.ini"), NewFilePerms());
     }},
    {"symlink_target_updated",
     [](const fs::path& aDir) {
         fs::create_directory(aDir / "real");
         std::ofstream(aDir / "real" / "info.ini") << "old";
         fs::create_symlink("real/info.ini", aDir / "out.ini");
     },
     {"out.ini", "real"},
     [](const fs::path& aDir) {
         EXPECT_TRUE(fs::is_symlink(aDir / "out.ini"));
         EXPECT_EQ(ReadAll(aDir / "real" / "info.ini"), "new");
         EXPECT_EQ(std::distance(fs::directory_iterator(aDir / "real"), fs::directory_iterator()), 1);
     }},
    {"mode_kept",
     [](const fs::path& aDir) {
         std::ofstream(aDir / "out.ini") << "old";
         fs::permissions(aDir / "out.ini", static_cast<fs::perms>(0604));
     },
     {"out.ini"},
     [](const fs::path& aDir) {
         EXPECT_EQ(ReadAll(aDir / "out.ini"), "new");
         EXPECT_EQ(PermsOf(aDir / "out.ini"), static_cast<fs::perms>(0604));
     }},
    {"tmp_file_untouched",
     [](const fs::path& aDir) { std::ofstream(aDir / "out.ini.tmp") << "mine"; },
     {"out.ini", "out.ini.tmp"},
     [](const fs::path& aDir) {
         EXPECT_EQ(ReadAll(aDir / "out.ini"), "new");
         EXPECT_EQ(ReadAll(aDir / "out.ini.tmp"), "mine");
     }},
};

class OutputTargets : public OutputFile, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(OutputTargets, GetTheNewTextAndKeepWhatIsThere)
{
    GetParam().prepare(mDir);
    WriteOutputFile((mDir / "out.ini").string(), "new");
    EXPECT_EQ(Entries(), GetParam().entries);
    GetParam().check(mDir);
}

INSTANTIATE_TEST_SUITE_P(Targets, OutputTargets, ::testing::ValuesIn(kOutputCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(OutputFile, AFifoIsWrittenDirectly)
{
    const fs::path fifo = mDir / "out.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opened here, without waiting, so that the writer's open never blocks.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string received;
    std::thread reading([&] {
        pollfd ready{reader, POLLIN, 0};
        for (int i = 0; i < 50 && poll(&ready, 1, 100) >= 0; ++i) {
            if (!(ready.revents & (POLLIN | POLLHUP)))
                continue;  // no writer yet
            char buffer[256];
            const ssize_t got = read(reader, buffer, sizeof buffer);
            if (got <= 0)
                break;
            received.append(buffer, static_cast<std::size_t>(got));
        }
    });
    EXPECT_NO_THROW(WriteOutputFile(fifo.string(), "through the pipe"));
    reading.join();
    close(reader);
    EXPECT_EQ(received, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(Entries(), std::set<std::string>{"out.fifo"});
}

TEST_F(OutputFile, FailedWritesAreErrorsAndKeepTheOldFile)
{
    // A device behind a link: written in place, and its error reported.
    fs::create_symlink("/dev/full", mDir / "full");
    EXPECT_THROW(WriteOutputFile((mDir / "full").string(), "x"), std::system_error);
    EXPECT_TRUE(fs::is_symlink(mDir / "full"));

    // A regular file: a write cut short by the file size limit (which holds
    // for root too) leaves the old text and no temporary.
    std::ofstream(mDir / "out.ini") << "old";
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        WriteOutputFile((mDir / "out.ini").string(), std::string(4096, 'n'));
    } catch (const std::system_error&) {
        threw = true;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadAll(mDir / "out.ini"), "old");
    EXPECT_EQ(Entries(), (std::set<std::string>{"full", "out.ini"}));
}

}  // namespace
