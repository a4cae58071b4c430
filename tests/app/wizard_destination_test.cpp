// The destination folder: the first guess, and folders Start refuses.

#include "tests/app/wizard_flow_fixture.h"

#include "tests/support/file_bytes.h"

namespace {

struct GuessCase {
    const char* name;
    std::vector<std::string> folders;  // below HOME
    std::string stored;                // "Destination", below HOME; "" for none
    std::string browser;               // "Download Directory", below HOME; "" for none
    std::string xdgDownload;           // DOWNLOAD in user-dirs.dirs, below HOME; "" for none
    std::string expected;              // below HOME
};

void PrintTo(const GuessCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const GuessCase kGuessCases[] = {
    {"stored_folder_wins", {"mine", "web"}, "mine", "web", "", "mine"},
    {"stored_but_gone_skips_browser", {"web", "Downloads"}, "gone", "web", "", "Downloads"},
    {"browser_folder", {"web", "Downloads"}, "", "web", "", "web"},
    {"browser_folder_gone", {"Descargas"}, "", "gone", "", "Descargas"},
    {"desktop_download_folder", {"Bajadas"}, "", "", "Bajadas", "Bajadas"},
    {"browser_before_desktop", {"web", "Bajadas"}, "", "web", "Bajadas", "web"},
    {"downloads_and_descargas", {"Downloads", "Descargas"}, "", "", "", "Downloads"},
    {"descargas_inside_downloads", {"Downloads/Descargas", "Descargas"}, "", "", "", "Downloads/Descargas"},
    {"neither", {}, "", "", "", ""},
};

class DestinationGuess : public WizardFlow, public ::testing::WithParamInterface<GuessCase> {};

TEST_P(DestinationGuess, PicksTheFirstFolderThatExists)
{
    const GuessCase& guess = GetParam();
    for (const std::string& folder : guess.folders)
        std::filesystem::create_directories(Home() / folder);
    const auto underHome = [this](const std::string& aPath) { return (Home() / aPath).string(); };
    if (!guess.stored.empty())
        RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination", underHome(guess.stored));
    if (!guess.browser.empty())
        RegWriteString(HKEY_CURRENT_USER, "\\Software\\Microsoft\\Internet Explorer", "Download Directory",
                       underHome(guess.browser));
    if (!guess.xdgDownload.empty())
        WriteFileBytes(mRoot / "config" / "user-dirs.dirs",
                       "XDG_DOWNLOAD_DIR=\"$HOME/" + guess.xdgDownload + "\"\n");

    mWindow = std::make_unique<TfrmMain>(mEnvironment);
    ASSERT_TRUE(mWindow->Inicializa());
    const std::filesystem::path expected = guess.expected.empty() ? Home() : Home() / guess.expected;
    EXPECT_EQ(Text("txtFolder").toStdString(), expected.string());
    EXPECT_TRUE(Find("btDownload")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Cases, DestinationGuess, ::testing::ValuesIn(kGuessCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

struct FolderCase {
    const char* name;
    std::string folder;
    bool belowRoot;  // folder is relative to the test's scratch root
    const char* warning;
};

void PrintTo(const FolderCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class WizardUnusableFolder : public WizardFlow, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(WizardUnusableFolder, WarnsAndStaysOnTheDestinationPage)
{
    Serve(Info({{"a.bin", {.body = "abc"}}}));
    Open();
    ASSERT_EQ(Page(), TfrmMain::tbDestino);
    WriteFileBytes(mRoot / "plain-file", "x");  // nothing can be created below a file, not even by root
    const std::string folder =
        GetParam().belowRoot ? (mRoot / GetParam().folder).string() : GetParam().folder;
    SetFolder(folder);
    Click("btDownload");
    ASSERT_EQ(mMessages.size(), 1u);
    EXPECT_EQ(mMessages[0].kind, TMessageKind::Warning);
    EXPECT_EQ(mMessages[0].caption, "Warning");
    EXPECT_EQ(mMessages[0].text, GetParam().warning);
    EXPECT_EQ(Page(), TfrmMain::tbDestino);
    EXPECT_FALSE(mWindow->WorkerRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WizardUnusableFolder,
    ::testing::Values(
        FolderCase{"below_a_file", "plain-file/sub", true,
                   "Downloader can't create the specified destination folder"},
        FolderCase{"relative", "relative/x", false,
                   "Downloader can't create the specified destination folder"},
        FolderCase{"blanks", "   ", false, "Downloader can't create the specified destination folder"},
        // /proc takes no new files, whoever asks.
        FolderCase{
            "no_files_allowed", "/proc", false,
            "Downloader doesn't have sufficient rights to perform this operation in destination folder."}),
    [](const auto& aInfo) { return std::string(aInfo.param.name); });

}  // namespace
