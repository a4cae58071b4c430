// The install page's Install button: the setup program starts only as the
// download verified it, however long the page waited for the click.

#include <fcntl.h>
#include <unistd.h>

#include "tests/app/wizard_flow_fixture.h"
#include "tests/support/file_bytes.h"

namespace {

struct ClickCase {
    const char* name;
    // What happens to the placed setup while the page waits for the click.
    void (*change)(const std::filesystem::path& aSetup);
    bool started;
};

void PrintTo(const ClickCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

constexpr const char* kSetup = "#!/bin/sh\nexit 0\n";

const ClickCase kClickCases[] = {
    {"untouched", [](const std::filesystem::path&) {}, true},
    {"swapped",
     [](const std::filesystem::path& aSetup) {
         WriteFileBytes(aSetup.string() + ".new", "#!/bin/sh\necho planted\n");
         std::filesystem::rename(aSetup.string() + ".new", aSetup);
     },
     false},
    // Only a second hash finds this one: same file, same size, other bytes.
    {"rewritten_in_place",
     [](const std::filesystem::path& aSetup) {
         const int file = open(aSetup.c_str(), O_WRONLY);
         ASSERT_GE(file, 0);
         const std::string other = "#!/bin/sh\nexit 1\n";
         EXPECT_EQ(write(file, other.data(), other.size()), static_cast<ssize_t>(other.size()));
         close(file);
     },
     false},
};

class WizardInstall : public WizardFlow, public ::testing::WithParamInterface<ClickCase> {};

}  // namespace

TEST_P(WizardInstall, StartsSetupOnlyAsItWasVerified)
{
    Serve(Info({{"a.bin", {.body = "abc"}}, {"setup.sh", {.body = kSetup}}}));
    Open();
    const std::filesystem::path destination = Home() / "dest";
    SetFolder(destination.string());
    Click("btDownload");
    ASSERT_TRUE(WaitUntil([this] { return Page() == TfrmMain::tbInstalar && !mWindow->WorkerRunning(); }));
    GetParam().change(destination / "setup.sh");
    Click("btInstall");
    EXPECT_TRUE(mWindow->QuitRequested());  // closed either way, as after any launch
    EXPECT_EQ(Opened().size(), GetParam().started ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Clicks, WizardInstall, ::testing::ValuesIn(kClickCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });
