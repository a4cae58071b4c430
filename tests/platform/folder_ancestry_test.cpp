#include "platform/folder_ancestry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "platform/temp_folder.h"
#include "tests/platform/platform_test.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 65534;  // nobody

// mRoot/top/middle/private, each folder with the mode and owner a case gives.
struct AncestryCase {
    const char* name;
    mode_t top = 0755;
    mode_t middle = 0755;
    bool topOwnedByOther = false;    // needs root to set up
    bool stopAtMiddle = false;       // the user's home is mRoot/top/middle
    const char* problemFolder = "";  // "" for none: "top" or "top/middle"
    const char* problem = "";
};

void PrintTo(const AncestryCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const AncestryCase kAncestryCases[] = {
    {"all_ours"},
    {"group_writable_parent", 0755, 0775, false, false, "top/middle",
     " is writable by others without the sticky bit"},
    {"world_writable_grandparent", 0777, 0755, false, false, "top",
     " is writable by others without the sticky bit"},
    {"sticky_world_writable_parent", 0755, 01777},
    {"parent_of_another_user", 0755, 0755, true, false, "top", " is owned by another user"},
    // Above the user's home the walk ends: what lies there is not ours to judge.
    {"others_above_the_home", 0777, 0755, true, true},
};

class FolderAncestry : public PlatformTest, public ::testing::WithParamInterface<AncestryCase> {
protected:
    fs::path Top() const { return mRoot / "top"; }
    fs::path Middle() const { return Top() / "middle"; }
    fs::path Private() const { return Middle() / "private"; }

    void SetUpLayout()
    {
        fs::create_directories(Private());
        chmod(Private().c_str(), 0700);
        chmod(Middle().c_str(), GetParam().middle);
        chmod(Top().c_str(), GetParam().top);
        if (GetParam().topOwnedByOther)
            ASSERT_EQ(chown(Top().c_str(), kOtherUser, kOtherUser), 0);
    }
};

}  // namespace

TEST_P(FolderAncestry, RefusesAFolderBelowOneSomeoneElseControls)
{
    if (GetParam().topOwnedByOther && geteuid() != 0)
        GTEST_SKIP() << "only root can hand a folder to another user";
    SetUpLayout();
    const std::string expected = *GetParam().problemFolder == '\0'
                                     ? ""
                                     : (mRoot / GetParam().problemFolder).string() + GetParam().problem;
    const std::string home = GetParam().stopAtMiddle ? Middle().string() : mHome.string();

    UniqueFd folder{open(Private().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    ASSERT_TRUE(folder);
    EXPECT_EQ(FolderAncestryProblem(folder.Get(), home), expected);

    // The private folder itself says the same, with its path in front.
    setenv("HOME", home.c_str(), 1);
    std::string message;
    try {
        EnsurePrivateFolder(Private());
    } catch (const std::runtime_error& error) {
        message = error.what();
    }
    EXPECT_EQ(message,
              expected.empty() ? "" : "cannot use private folder " + Private().string() + ": " + expected);
    setenv("HOME", mHome.c_str(), 1);
}

INSTANTIATE_TEST_SUITE_P(Layouts, FolderAncestry, ::testing::ValuesIn(kAncestryCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// The walk judges the folder that is held, not whatever its path leads to
// once a parent has been renamed.
class HeldFolderAncestry : public PlatformTest {};

TEST_F(HeldFolderAncestry, IsThatOfTheHeldFolderNotOfItsOldPath)
{
    fs::create_directories(mRoot / "safe" / "private");
    fs::create_directories(mRoot / "open");
    chmod((mRoot / "open").c_str(), 0777);
    UniqueFd folder{open((mRoot / "safe" / "private").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    ASSERT_TRUE(folder);
    fs::rename(mRoot / "safe", mRoot / "open" / "safe");
    EXPECT_EQ(FolderAncestryProblem(folder.Get(), mHome.string()),
              (mRoot / "open").string() + " is writable by others without the sticky bit");
}
