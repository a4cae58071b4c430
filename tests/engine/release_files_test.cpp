// What a lying server or another local user can do to the files of a
// release: endless bodies stop at their bounds, unverified bytes never take a
// listed name, an earlier verified file survives a failed one, and a file
// someone else made is neither written into nor trusted.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "engine/kept_download.h"
#include "engine/private_download.h"
#include "tests/engine/signed_release_support.h"
#include "tests/support/eventually.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
// 1 GiB without a length: as good as endless, and no worse than that for a
// disk when a bound fails.
const Reply kEndless{.body = std::string(64 * 1024, 'e'), .sendLength = false, .repeat = 1 << 14};
const std::string kBody(100000, 'b');
const std::string kNobodyWarning = "needs root to make a file another user owns";

// The names below the destination other than aKept and the kept files of
// resume mode.
std::vector<std::string> Others(const std::vector<std::string>& aEntries, const std::string& aKept = "")
{
    std::vector<std::string> others;
    for (const std::string& name : aEntries)
        if (name != aKept && name.find('\n') == std::string::npos)
            others.push_back(name);
    return others;
}

struct stat StatOf(const fs::path& aPath)
{
    struct stat info {};
    EXPECT_EQ(::lstat(aPath.c_str(), &info), 0) << aPath;
    return info;
}

// ---------------------------------------------------------------------------
// Endless bodies, one bound each

enum class Bounded { InfoFile, Signature, ReleaseFile, NewerWizard };

struct BoundCase {
    const char* name;
    Bounded what;
    std::uint64_t limit;
    const char* file;  // as the reason names it
};

void PrintTo(const BoundCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const BoundCase kBoundCases[] = {
    {"info_file", Bounded::InfoFile, 4 * kMiB + 1, "info.ini"},
    {"signature", Bounded::Signature, 16 * 1024, "info.ini.minisig"},
    {"release_file_with_size", Bounded::ReleaseFile, kBody.size(), "data.cab"},
    {"newer_wizard_with_size", Bounded::NewerWizard, kWizard.size(), "downloader-new"},
};

class EndlessBody : public SignedRelease, public ::testing::WithParamInterface<BoundCase> {};

TEST_P(EndlessBody, StopsAtItsBoundWhileWriting)
{
    const BoundCase& test = GetParam();
    if (test.what != Bounded::Signature)
        mEnvironment.publicKey.clear();
    const std::string sizes = "[Size]\nFile1=" + std::to_string(kBody.size())
                              + "\nDownloader=" + std::to_string(kWizard.size()) + "\n";
    std::string info = ReleaseInfo({{"data.cab", kBody}}, sizes);
    if (test.what == Bounded::NewerWizard)
        info = WizardInfo("") + info.substr(info.find("[Downloads]"));
    std::string path;
    switch (test.what) {
    case Bounded::InfoFile:
        path = "/info.ini";
        ServeInfo(info);
        break;
    case Bounded::Signature:
        path = "/info.ini.minisig";
        ServeSigned(info, "x");
        break;
    case Bounded::ReleaseFile:
        path = "/rel/data.cab";
        ServeInfo(info);
        break;
    case Bounded::NewerWizard:
        path = "/wiz/downloader-new";
        ServeInfo(info);
        break;
    }
    mServer.SetRoute(path, kEndless);
    Run(TWebOperation::twoConfiguration);
    const std::string reason =
        "the server sent more than " + std::to_string(test.limit) + " bytes for " + test.file;
    if (test.what == Bounded::ReleaseFile) {
        ASSERT_TRUE(mData.Result());
        mData.SetCarpetaDestino(Dest().string());
        Run(TWebOperation::twoDownload);
        const auto failures = mHost.Failures();
        ASSERT_EQ(failures.size(), 3u);
        for (const std::string& failure : failures)
            EXPECT_THAT(failure, ::testing::HasSubstr(reason));
        EXPECT_THAT(DestEntries(), ::testing::IsEmpty()) << "neither the listed name nor a private one";
    } else if (test.what == Bounded::NewerWizard) {
        EXPECT_FALSE(mData.Restart());
        const fs::path wizard =
            fs::path(ThreadDownloads::GetTempFolder(ThreadDownloads::kTempSubFolder)) / "downloader-new";
        EXPECT_LE(fs::exists(wizard) ? fs::file_size(wizard) : 0, test.limit);
    } else {
        EXPECT_FALSE(mData.Result());
        EXPECT_THAT(mHost.EarlyEnd(), ::testing::HasSubstr(reason));
        EXPECT_LE(fs::file_size(mData.ArchIniLocal() + (test.what == Bounded::Signature ? ".minisig" : "")),
                  test.limit);
    }
    // What the sockets buffer past the bound, and no more.
    EXPECT_LT(mServer.BodyBytesSent(path), 64 * kMiB);
}

INSTANTIATE_TEST_SUITE_P(Cases, EndlessBody, ::testing::ValuesIn(kBoundCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

class ReleaseFiles : public EngineSandbox {
protected:
    // Configures a one-file release of aName (served with aBody and listed
    // with aChecksum's digest), plus aExtra after [Info].
    void Configure(const std::string& aName, const std::string& aBody, const std::string& aExtra = "",
                   const std::string& aListedBody = kBody)
    {
        ServeInfo(ReleaseInfo({{aName, aListedBody}}, aExtra));
        mServer.SetRoute("/rel/" + aName, {.body = aBody});
        Run(TWebOperation::twoConfiguration);
        ASSERT_TRUE(mData.Result());
        mData.SetCarpetaDestino(Dest().string());
    }
};

// ---------------------------------------------------------------------------
// A failed file: nothing unverified under the listed name, the earlier file
// as it was

enum class Failure { Checksum, Dropped, OverSize };

struct FailedCase {
    const char* name;
    const char* listed;
    Failure failure;
    bool earlier;  // a verified copy of an earlier run lies at the final name
    bool resume = false;
};

void PrintTo(const FailedCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const FailedCase kFailedCases[] = {
    {"checksum_over_earlier", "data.cab", Failure::Checksum, true},
    {"checksum_over_earlier_rename", "setup.sh.rename", Failure::Checksum, true},
    {"checksum_without_earlier", "data.cab", Failure::Checksum, false},
    {"checksum_without_earlier_rename", "setup.sh.rename", Failure::Checksum, false},
    {"dropped_over_earlier", "data.cab", Failure::Dropped, true},
    {"over_size_over_earlier", "data.cab", Failure::OverSize, true},
    {"checksum_over_earlier_resume", "data.cab", Failure::Checksum, true, true},
    {"dropped_without_earlier_resume", "data.cab", Failure::Dropped, false, true},
};

class FailedFile : public ReleaseFiles, public ::testing::WithParamInterface<FailedCase> {};

TEST_P(FailedFile, LeavesNoUnverifiedBytesAndTheEarlierFileAsItWas)
{
    const FailedCase& test = GetParam();
    mEnvironment.resume = test.resume;
    const std::string finalName = FinalPathOf(test.listed);
    std::string served = std::string(kBody.size(), 'x');  // the attacker's bytes
    std::string extra;
    if (test.failure == Failure::OverSize) {
        served = kBody + "tail";
        extra = "[Size]\nFile1=" + std::to_string(kBody.size()) + "\n";
    }
    Configure(test.listed, served, extra);
    if (test.failure == Failure::Dropped)
        mServer.SetRoute(std::string("/rel/") + test.listed, {.body = served, .dropAfter = 5000});
    std::optional<struct stat> before;
    if (test.earlier) {
        WriteFileBytes(Dest() / finalName, "verified by an earlier run");
        before = StatOf(Dest() / finalName);
    }
    Run(TWebOperation::twoDownload);

    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(mHost.Failures().size(), 3u);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Dest() / test.listed)) && finalName != test.listed);
    if (test.earlier) {
        EXPECT_EQ(ReadFileBytes(Dest() / finalName), "verified by an earlier run");
        EXPECT_EQ(StatOf(Dest() / finalName).st_ino, before->st_ino);
        EXPECT_THAT(Others(DestEntries()), ::testing::ElementsAre(finalName));
    } else {
        EXPECT_THAT(Others(DestEntries()), ::testing::IsEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FailedFile, ::testing::ValuesIn(kFailedCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// A good file replaces the earlier one in one step, and nothing else is left.
TEST_F(ReleaseFiles, VerifiedFileReplacesTheEarlierOneAndLeavesNoPrivateName)
{
    for (const char* listed : {"data.cab", "setup.sh.rename"}) {
        SCOPED_TRACE(listed);
        fs::remove_all(Dest());
        fs::create_directories(Dest());
        Configure(listed, kBody, "[Size]\nFile1=" + std::to_string(kBody.size()) + "\n");
        WriteFileBytes(Dest() / FinalPathOf(listed), "older release");
        Run(TWebOperation::twoDownload);
        EXPECT_TRUE(mData.Result());
        EXPECT_EQ(ReadFileBytes(Dest() / FinalPathOf(listed)), kBody);
        EXPECT_THAT(DestEntries(), ::testing::ElementsAre(FinalPathOf(listed)));
        const struct stat info = StatOf(Dest() / FinalPathOf(listed));
        const mode_t umask = ::umask(0);
        ::umask(umask);
        EXPECT_EQ(info.st_mode & 0777, 0666 & ~umask) << "the mode comes from the umask";
    }
}

// A folder at the final name is never replaced: the file keeps its listed
// ".rename" name, as a refused move always left it.
TEST_F(ReleaseFiles, FolderAtTheFinalNameLeavesTheRenameName)
{
    Configure("setup.sh.rename", kBody);
    fs::create_directories(Dest() / "setup.sh");
    Run(TWebOperation::twoDownload);
    EXPECT_TRUE(mData.Result());
    EXPECT_TRUE(fs::is_directory(Dest() / "setup.sh"));
    EXPECT_EQ(ReadFileBytes(Dest() / "setup.sh.rename"), kBody);
    EXPECT_THAT(DestEntries(), ::testing::ElementsAre("setup.sh", "setup.sh.rename"));
}

TEST_F(ReleaseFiles, CancelInMidDownloadLeavesNothingUnderAnyName)
{
    Configure("data.cab", kBody);
    WriteFileBytes(Dest() / "data.cab", "earlier");
    mServer.SetRoute("/rel/data.cab", {.body = kBody, .stallAfter = 20000});
    {
        mData.SetOperacion(TWebOperation::twoDownload);
        ThreadDownloads worker(true, mData, mHost, mEnvironment);
        worker.Start();
        EXPECT_TRUE(Eventually([&] { return mServer.StallCount("/rel/data.cab") > 0; }));
        // The private file is there while the body arrives.
        EXPECT_TRUE(Eventually([&] { return DestEntries().size() == 2; }));
        worker.CancelDownload();
        worker.WaitFor();
    }
    EXPECT_TRUE(mData.Cancelado());
    EXPECT_FALSE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "data.cab"), "earlier");
    EXPECT_THAT(DestEntries(), ::testing::ElementsAre("data.cab"));
}

// A private name is never one the release lists, and goes with its owner.
TEST_F(ReleaseFiles, PrivateNameAvoidsListedNames)
{
    const ScratchFolder scratch;
    const TFolderHandle folder(scratch.Path().string());
    std::vector<std::string> refused;
    {
        const TPrivateDownload file(folder, "data.cab", [&](const std::string& aName) {
            if (refused.size() == 5)
                return false;
            refused.push_back(aName);
            return true;
        });
        EXPECT_EQ(refused.size(), 5u);
        EXPECT_THAT(refused, ::testing::Not(::testing::Contains(file.Name())));
        EXPECT_EQ(file.Name().rfind(kPrivatePrefix, 0), 0u) << file.Name();
        EXPECT_EQ(file.Name().size(), std::string(kPrivatePrefix).size() + 6);
        EXPECT_TRUE(fs::is_regular_file(scratch.Path() / file.Name()));
    }
    EXPECT_TRUE(fs::is_empty(scratch.Path())) << "gone with its owner";
}

// ---------------------------------------------------------------------------
// Sizes

TEST_F(ReleaseFiles, SizeLargerThanTheFreeSpaceFailsAtOnce)
{
    Configure("data.cab", kBody, "[Size]\nFile1=1152921504606846976\n");
    Run(TWebOperation::twoDownload);
    EXPECT_FALSE(mData.Result());
    const auto failures = mHost.Failures();
    ASSERT_EQ(failures.size(), 3u);
    for (const std::string& failure : failures)
        EXPECT_THAT(failure,
                    ::testing::HasSubstr("cannot write data.cab: it needs 1.0 EB and the folder has "));
    EXPECT_THAT(DestEntries(), ::testing::IsEmpty());
}

class MalformedSize : public ReleaseFiles, public ::testing::WithParamInterface<const char*> {};

TEST_P(MalformedSize, IsRefusedBeforeAnyTransfer)
{
    Configure("data.cab", kBody, std::string("[Size]\nFile1=") + GetParam() + "\n");
    Run(TWebOperation::twoDownload);
    EXPECT_FALSE(mData.Result());
    EXPECT_THAT(mHost.Failures(),
                ::testing::ElementsAre("data.cab #1: refusing the size of data.cab: \""
                                       + std::string(GetParam()) + "\" is not a whole number of bytes"));
    EXPECT_EQ(mServer.RequestCount("/rel/data.cab"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedSize,
                         ::testing::Values("12abc", "-1", "1e9", "0x10", "18446744073709551616"),
                         [](const auto& aInfo) {
                             std::string name;
                             for (const char c : std::string(aInfo.param))
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// Without [Size] nothing changes; with it, a shorter body still fails only by
// its checksum, and the right size passes.
TEST_F(ReleaseFiles, SizeThatFitsChangesNothing)
{
    ServeInfo(
        ReleaseInfo({{"a.bin", "alpha"}, {"b.bin", kBody}}, "[Size]\nFile2=" + std::to_string(kBody.size())));
    Run(TWebOperation::twoConfiguration);
    mData.SetCarpetaDestino(Dest().string());
    Run(TWebOperation::twoDownload);
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadFileBytes(Dest() / "a.bin"), "alpha");
    EXPECT_EQ(ReadFileBytes(Dest() / "b.bin"), kBody);
}

// ---------------------------------------------------------------------------
// Files another user made

struct OwnerCase {
    const char* name;
    bool nobody;  // owned by uid 65534 (needs root)
    mode_t mode;
    bool trusted;  // by the resume skip
};

void PrintTo(const OwnerCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const OwnerCase kOwnerCases[] = {
    {"another_users_0777", true, 0777, false},
    {"another_users_0644", true, 0644, false},
    {"ours_group_writable", false, 0664, false},
    {"ours_world_writable", false, 0666, false},
    {"ours_0644", false, 0644, true},
    {"ours_0755", false, 0755, true},
};

class PreCreatedFile : public ReleaseFiles, public ::testing::WithParamInterface<OwnerCase> {
protected:
    // setup.sh with aBytes, as the case has it made; its descriptor stays
    // open so that its inode can be read afterwards.
    UniqueFd Plant(const std::string& aBytes)
    {
        const fs::path path = Dest() / "setup.sh";
        WriteFileBytes(path, aBytes);
        EXPECT_EQ(::chmod(path.c_str(), GetParam().mode), 0);
        if (GetParam().nobody) {
            EXPECT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        }
        return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    }
    static std::string ReadAll(int aFd)
    {
        std::string bytes(4096, '\0');
        const ssize_t count = ::pread(aFd, bytes.data(), bytes.size(), 0);
        bytes.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
        return bytes;
    }
};

TEST_P(PreCreatedFile, IsNeverWrittenIntoAndReplacedByOurOwn)
{
    if (GetParam().nobody && ::geteuid() != 0) {
        GTEST_SKIP() << kNobodyWarning;
    }
    Configure("setup.sh", kBody);
    const UniqueFd planted = Plant("#!/bin/sh\necho theirs\n");
    const ino_t plantedInode = StatOf(Dest() / "setup.sh").st_ino;
    Run(TWebOperation::twoDownload);
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(ReadAll(planted.Get()), "#!/bin/sh\necho theirs\n") << "their inode was not written into";
    const struct stat now = StatOf(Dest() / "setup.sh");
    EXPECT_NE(now.st_ino, plantedInode);
    EXPECT_EQ(now.st_uid, ::geteuid());
    EXPECT_EQ(ReadFileBytes(Dest() / "setup.sh"), kBody);
}

TEST_P(PreCreatedFile, IsTrustedByTheResumeSkipOnlyWhenItIsOurOwn)
{
    if (GetParam().nobody && ::geteuid() != 0) {
        GTEST_SKIP() << kNobodyWarning;
    }
    mEnvironment.resume = true;
    Configure("setup.sh", kBody);
    const UniqueFd planted = Plant(kBody);  // the right bytes, for now
    const ino_t plantedInode = StatOf(Dest() / "setup.sh").st_ino;
    Run(TWebOperation::twoDownload);
    EXPECT_TRUE(mData.Result());
    EXPECT_EQ(mServer.RequestCount("/rel/setup.sh"), GetParam().trusted ? 0u : 1u);
    const struct stat now = StatOf(Dest() / "setup.sh");
    EXPECT_EQ(now.st_ino == plantedInode, GetParam().trusted);
    EXPECT_EQ(now.st_uid, ::geteuid());
    EXPECT_EQ(ReadFileBytes(Dest() / "setup.sh"), kBody);
}

INSTANTIATE_TEST_SUITE_P(Cases, PreCreatedFile, ::testing::ValuesIn(kOwnerCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// Kept bytes of resume mode that another user made are not resumed into: the
// whole file is fetched into a new file of ours.
TEST_F(ReleaseFiles, KeptPartialOfAnotherUserIsNotResumed)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << kNobodyWarning;
    }
    mEnvironment.resume = true;
    Configure("data.cab", kBody);
    mServer.SetRoute("/rel/data.cab", {.body = kBody, .etag = "\"v1\""});
    const TFolderHandle folder(Dest().string());
    TKeptDownload kept(folder, "data.cab", mData.CarpetaOrigen() + "/data.cab", Sha1Hex(kBody));
    kept.Remember("\"v1\"");
    WriteFileBytes(kept.PartialPath(), kBody.substr(0, 5000));
    ASSERT_EQ(::chown(kept.PartialPath().c_str(), 65534, 65534), 0);
    Run(TWebOperation::twoDownload);
    EXPECT_TRUE(mData.Result());
    ASSERT_FALSE(mServer.Requests().empty());
    EXPECT_EQ(mServer.Requests().back().range, "") << "the whole file was asked for";
    EXPECT_EQ(StatOf(Dest() / "data.cab").st_uid, ::geteuid());
    EXPECT_EQ(ReadFileBytes(Dest() / "data.cab"), kBody);
}

}  // namespace
