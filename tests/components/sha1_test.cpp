#include "components/sha1.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

namespace {

using sha1_detail::TCompressFn;

struct Sha1Path {
    const char* name;
    TCompressFn compress;
};

// The paths this CPU can run; the portable one always.
std::vector<Sha1Path> AvailablePaths()
{
    std::vector<Sha1Path> paths{{"portable", sha1_detail::CompressPortable}};
    if (sha1_detail::HasShaExtensions())
        paths.push_back({"sha_ni", sha1_detail::CompressShaNi});
    return paths;
}

std::string CoreHex(TCompressFn aCompress, const std::string& aData)
{
    Sha1Core core(aCompress);
    core.Update(aData.data(), aData.size());
    return DigestToHex(core.Final());
}

std::string HasherHex(const TSHA1Hasher& aHasher)
{
    TSHA1Digest digest;
    aHasher.GetDigest(digest);
    return DigestToHex(digest);
}

// OpenSSL is the independent reference for data no published vector covers.
std::string OpenSslHex(const std::string& aData)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(aData.data(), aData.size(), digest, &size, EVP_sha1(), nullptr) != 1 || size != 20)
        throw std::runtime_error("cannot hash with OpenSSL");
    TSHA1Digest result;
    std::copy_n(digest, 20, result.begin());
    return DigestToHex(result);
}

std::string RandomBytes(std::mt19937& aRandom, std::size_t aSize)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::string data(aSize, '\0');
    for (char& c : data)
        c = static_cast<char>(byte(aRandom));
    return data;
}

// ---- Published vectors ---------------------------------------------------------

struct Sha1Case {
    const char* name;  // becomes the test name
    std::string input;
    const char* digest;  // from sha1sum, never from our code
};

const Sha1Case kSha1Cases[] = {
    {"empty", "", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
    {"abc", "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
    {"fips448bit", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
    {"millionA", std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    // 55 bytes leave room for the end marker and length; 56 and 63 push them
    // into one more block; 64 fill a block exactly.
    {"len55", std::string(55, 'a'), "C1C8BBDC22796E28C0E15163D20899B65621D65A"},
    {"len56", std::string(56, 'a'), "C2DB330F6083854C99D4B5BFB6E8F29F201BE699"},
    {"len63", std::string(63, 'a'), "03F09F5B158A7A8CDAD920BDDC29B81C18A551F5"},
    {"len64", std::string(64, 'a'), "0098BA824B5C16427BD7A1122A5A442A25EC644D"},
};

void PrintTo(const Sha1Case& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class Sha1KnownAnswer : public ::testing::TestWithParam<Sha1Case> {};

TEST_P(Sha1KnownAnswer, HasherMatchesReferenceDigest)
{
    TSHA1Hasher hasher;
    hasher.HashBuffer(GetParam().input.data(), GetParam().input.size());
    EXPECT_EQ(HasherHex(hasher), GetParam().digest);
}

TEST_P(Sha1KnownAnswer, EveryCompressionPathMatchesReferenceDigest)
{
    for (const Sha1Path& path : AvailablePaths()) {
        SCOPED_TRACE(path.name);
        EXPECT_EQ(CoreHex(path.compress, GetParam().input), GetParam().digest);
    }
}

INSTANTIATE_TEST_SUITE_P(Vectors, Sha1KnownAnswer, ::testing::ValuesIn(kSha1Cases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// ---- Streaming core against OpenSSL ----------------------------------------------

TEST(Sha1Core, RandomDataInRandomPiecesMatchesOpenSsl)
{
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> smallLength(0, 300);
    std::uniform_int_distribution<std::size_t> largeLength(0, 70000);

    for (const Sha1Path& path : AvailablePaths()) {
        SCOPED_TRACE(path.name);
        for (int round = 0; round < 60; ++round) {
            const std::size_t length = round % 2 ? smallLength(random) : largeLength(random);
            const std::string data = RandomBytes(random, length);
            // Pieces of 0 to 200 bytes cross block edges at every offset; now and
            // then one large piece takes the multi-block path mid-message.
            Sha1Core core(path.compress);
            std::uniform_int_distribution<std::size_t> piece(0, round % 3 ? 200 : 5000);
            std::size_t offset = 0;
            while (offset < data.size()) {
                const std::size_t take = std::min(piece(random), data.size() - offset);
                core.Update(data.data() + offset, take);
                offset += take;
            }
            ASSERT_EQ(DigestToHex(core.Final()), OpenSslHex(data)) << "length " << length;
        }
    }
}

TEST(Sha1Core, FinalStartsAFreshMessage)
{
    Sha1Core core;
    core.Update("something else", 14);
    core.Final();
    core.Update("abc", 3);
    EXPECT_EQ(DigestToHex(core.Final()), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST(Sha1Compress, PortableAndShaExtensionsAgree)
{
    if (!sha1_detail::HasShaExtensions())
        GTEST_SKIP() << "this CPU has no SHA extensions";
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::uint32_t> word;
    for (std::size_t blocks = 1; blocks <= 40; ++blocks) {
        SCOPED_TRACE("blocks " + std::to_string(blocks));
        // Random chaining words too, not only the standard start values.
        std::uint32_t portable[5], shaNi[5];
        for (int i = 0; i < 5; ++i)
            portable[i] = shaNi[i] = word(random);
        const std::string data = RandomBytes(random, blocks * 64);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        sha1_detail::CompressPortable(portable, bytes, blocks);
        sha1_detail::CompressShaNi(shaNi, bytes, blocks);
        EXPECT_TRUE(std::equal(portable, portable + 5, shaNi));
    }
}

// ---- Hasher ---------------------------------------------------------------------

TEST(Sha1Hasher, DigestIsZeroBeforeTheFirstHash)
{
    TSHA1Hasher hasher;
    TSHA1Digest digest;
    digest.fill(0xAA);
    hasher.GetDigest(digest);
    EXPECT_EQ(digest, TSHA1Digest{});
}

TEST(Sha1Hasher, EachCallStartsAFreshDigest)
{
    TSHA1Hasher hasher;
    hasher.HashStringA("first");
    hasher.HashString("abc");
    EXPECT_EQ(HasherHex(hasher), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST(Sha1Hasher, DigestToHexWritesTwoUpperCaseDigitsPerByte)
{
    TSHA1Digest digest{};
    const std::uint8_t head[] = {0x00, 0x01, 0x0A, 0x0F, 0x10, 0x9B, 0xA0, 0xFF};
    std::copy(std::begin(head), std::end(head), digest.begin());
    EXPECT_EQ(DigestToHex(digest), "00010A0F109BA0FF000000000000000000000000");

    TSHA1Hasher hasher;
    hasher.HashStringA("abc");
    hasher.GetDigest(digest);
    EXPECT_EQ(DigestToHex(digest), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST(Sha1Hasher, WideStringHashesLittleEndianCodeUnits)
{
    TSHA1Hasher hasher;
    hasher.HashStringW(u"abc");
    const std::string wide = HasherHex(hasher);
    hasher.HashStringA("abc");
    EXPECT_NE(wide, HasherHex(hasher));
    // sha1sum of the UTF-16LE bytes; the non-ASCII units catch a swapped byte order.
    EXPECT_EQ(wide, "9F04F41A848514162050E3D68C1A7ABB441DC2B5");
    hasher.HashStringW(u"A\u00E9\u4E2D\U0001F600");
    EXPECT_EQ(HasherHex(hasher), "0BE0BD7F4134223F38FC1E3D3F5E77041BEB8C74");
    // Longer than the conversion buffer.
    const std::u16string longText(1000, u'\u0102');
    hasher.HashStringW(longText);
    std::string bytes;
    for (std::size_t i = 0; i < longText.size(); ++i)
        bytes += "\x02\x01";
    EXPECT_EQ(HasherHex(hasher), OpenSslHex(bytes));
}

TEST(Sha1Hasher, StreamIsHashedFromItsCurrentPosition)
{
    std::mt19937 random(7);
    const std::string payload = RandomBytes(random, 2 * kHashReadBlockSize + 77);
    std::istringstream stream("header:" + payload);
    stream.seekg(7);
    TSHA1Hasher hasher;
    hasher.HashStream(stream);
    EXPECT_EQ(HasherHex(hasher), OpenSslHex(payload));
}

// Delivers its text, then fails as a broken disk or connection would.
class FailingBuffer : public std::streambuf {
public:
    explicit FailingBuffer(std::string aText) : mText(std::move(aText)) {}

protected:
    int_type underflow() override
    {
        if (mDelivered)
            throw std::runtime_error("read error");
        mDelivered = true;
        setg(mText.data(), mText.data(), mText.data() + mText.size());
        return traits_type::to_int_type(mText[0]);
    }

private:
    std::string mText;
    bool mDelivered = false;
};

TEST(Sha1Hasher, FailedStreamReadEndsWithTheBytesReadBeforeIt)
{
    // One whole read succeeds; the next fails and must end hashing, not hang or throw.
    std::mt19937 random(3);
    const std::string delivered = RandomBytes(random, kHashReadBlockSize);
    FailingBuffer buffer(delivered);
    std::istream stream(&buffer);
    TSHA1Hasher hasher;
    hasher.HashStream(stream);
    EXPECT_EQ(HasherHex(hasher), OpenSslHex(delivered));
}

class Sha1FileTest : public ::testing::Test {
protected:
    ScratchFolder mScratch;
    const std::filesystem::path mDir = mScratch.Path();

    std::filesystem::path Write(const std::string& aName, const std::string& aContent)
    {
        const std::filesystem::path path = mDir / aName;
        WriteFileBytes(path, aContent);
        return path;
    }
};

TEST_F(Sha1FileTest, EmptyFileGivesTheEmptyDigest)
{
    TSHA1Hasher hasher;
    hasher.HashFile(Write("empty.bin", "").string());
    EXPECT_EQ(HasherHex(hasher), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
}

TEST_F(Sha1FileTest, BytesAndFileGiveTheSameText)
{
    std::mt19937 random(5);
    const std::string content = RandomBytes(random, kHashReadBlockSize + 77);
    EXPECT_EQ(Sha1Hex("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(Sha1Hex(content), OpenSslHex(content));
    EXPECT_EQ(FileSha1Hex(Write("content.bin", content).string()), Sha1Hex(content));
}

TEST_F(Sha1FileTest, FileLongerThanOneReadIsHashedWhole)
{
    // Several reads, the last one short and not a whole number of blocks.
    std::mt19937 random(11);
    const std::string content = RandomBytes(random, 3 * kHashReadBlockSize + 1234);
    TSHA1Hasher hasher;
    hasher.HashFile(Write("large.bin", content).string());
    EXPECT_EQ(HasherHex(hasher), OpenSslHex(content));
}

TEST_F(Sha1FileTest, UnopenableFileThrowsAndKeepsTheDigest)
{
    const std::string missing = (mDir / "missing.bin").string();
    const std::string folder = mDir.string();
    for (const std::string& path : {missing, folder}) {
        SCOPED_TRACE(path);
        TSHA1Hasher hasher;
        hasher.HashStringA("abc");
        try {
            hasher.HashFile(path);
            ADD_FAILURE() << "no exception";
        } catch (const std::system_error& aError) {
            EXPECT_EQ(std::string(aError.what()).rfind("cannot open " + path + ": ", 0), 0u) << aError.what();
        }
        EXPECT_EQ(HasherHex(hasher), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    }
}

}  // namespace
