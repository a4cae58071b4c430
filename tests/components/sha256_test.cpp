#include "components/file_digests.h"
#include "components/sha256.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string CoreHex(const std::string& aData)
{
    Sha256Core core;
    core.Update(aData.data(), aData.size());
    return Sha256ToHex(core.Final());
}

struct Sha256Case {
    const char* name;
    std::string input;
    const char* digest;  // from sha256sum, never from our code
};

const Sha256Case kSha256Cases[] = {
    {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"two_blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"len55", std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {"len64", std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {"million", std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

void PrintTo(const Sha256Case& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class Sha256KnownAnswer : public ::testing::TestWithParam<Sha256Case> {};

TEST_P(Sha256KnownAnswer, MatchesReferenceDigestWholeAndInPieces)
{
    EXPECT_EQ(CoreHex(GetParam().input), GetParam().digest);

    // The same bytes in uneven pieces, through a core that already finished
    // one message: Final must leave it fresh.
    Sha256Core core;
    core.Update("left over", 9);
    core.Final();
    std::mt19937 random(7);
    const std::string& input = GetParam().input;
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t piece = std::min<std::size_t>(input.size() - at, random() % 200);
        core.Update(input.data() + at, piece);
        at += piece;
    }
    EXPECT_EQ(Sha256ToHex(core.Final()), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Sha256KnownAnswer, ::testing::ValuesIn(kSha256Cases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST(Sha256Text, ListedDigestMatchesInEitherCaseAndNothingElse)
{
    Sha256Core core;
    core.Update("abc", 3);
    const TSHA256Digest abc = core.Final();
    const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string upper = lower, mixed = lower;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    mixed[0] = 'B';
    EXPECT_TRUE(Sha256Matches(lower, abc));
    EXPECT_TRUE(Sha256Matches(upper, abc));
    EXPECT_TRUE(Sha256Matches(mixed, abc));

    std::string lastDigitOff = lower;
    lastDigitOff.back() = 'c';
    const std::string refused[] = {
        "",
        lastDigitOff,
        lower.substr(1),
        lower + "0",
        " " + lower,
        lower + "\r",
        lower.substr(0, 63) + "g",
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
    };
    for (const auto& text : refused)
        EXPECT_FALSE(Sha256Matches(text, abc)) << text;
    EXPECT_TRUE(IsSha256Text(upper));
    EXPECT_FALSE(IsSha256Text(lower.substr(0, 63) + "x"));
}

// ---- Both digests of a file, in one read --------------------------------------

class FileDigestsTest : public ::testing::Test {
protected:
    fs::path mDir = fs::path(::testing::TempDir()) / ("digests-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(mDir); }
    void TearDown() override { fs::remove_all(mDir); }
};

TEST_F(FileDigestsTest, GivesTheSha1AndTheSha256OfTheFile)
{
    std::ofstream(mDir / "abc.bin", std::ios::binary) << "abc";
    const auto texts = FileDigestTexts((mDir / "abc.bin").string(), true);
    EXPECT_EQ(texts.sha1, "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(texts.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(FileDigestsTest, Sha256OnlyWhenAskedFor)
{
    std::ofstream(mDir / "abc.bin", std::ios::binary) << "abc";
    const auto texts = FileDigestTexts((mDir / "abc.bin").string());
    EXPECT_EQ(texts.sha1, "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(texts.sha256, "");
}

TEST_F(FileDigestsTest, ReadsTheFileOnlyOnce)
{
    // A pipe gives its bytes to one reader once: a second read for the
    // second digest would see nothing and give the empty message's digest.
    const fs::path pipe = mDir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string data(1000000, 'a');
    std::jthread writer([&] { std::ofstream(pipe, std::ios::binary) << data; });
    const auto texts = FileDigestTexts(pipe.string(), true);
    writer.join();
    EXPECT_EQ(texts.sha1, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
    EXPECT_EQ(texts.sha256, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_F(FileDigestsTest, MissingFileOrFolderThrowsCannotOpen)
{
    for (const fs::path& path : {mDir / "missing.bin", mDir}) {
        try {
            FileDigestTexts(path.string());
            ADD_FAILURE() << path << " was hashed";
        } catch (const std::system_error& error) {
            EXPECT_EQ(std::string(error.what()).rfind("cannot open " + path.string(), 0), 0u) << error.what();
        }
    }
}

}  // namespace
