// Hashing the writer's blocks on a thread of their own: the digests must be
// those of the bytes handed over, in order, however the blocks go round.

#include "components/block_digest.h"
#include "components/hex_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <openssl/evp.h>

namespace {

constexpr std::size_t kBlockSize = 4096;

// OpenSSL's digest, in the case each text is listed in.
std::string ReferenceHex(const EVP_MD* aType, const std::string& aData, bool aUpper)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(aData.data(), aData.size(), digest, &length, aType, nullptr);
    return HexText(digest, length, aUpper ? THexCase::Upper : THexCase::Lower);
}

struct BlockCase {
    const char* name;
    std::vector<std::size_t> sizes;  // of the blocks handed over, in order
};

void PrintTo(const BlockCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

std::vector<std::size_t> Repeated(std::size_t aSize, std::size_t aCount)
{
    return std::vector<std::size_t>(aCount, aSize);
}

const BlockCase kBlockCases[] = {
    {"nothing", {}},
    {"one_short_block", {3}},
    {"one_full_block", {kBlockSize}},
    {"full_blocks_then_a_short_one", {kBlockSize, kBlockSize, kBlockSize, 17}},
    // Far more blocks than go round: the writer must wait for hashed ones.
    {"many_more_blocks_than_in_flight", Repeated(kBlockSize, 257)},
    {"blocks_of_odd_sizes", {1, 63, 64, 65, kBlockSize - 1, 55, 56, kBlockSize}},
};

class BlockDigestOf : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockDigestOf, EqualsTheDigestOfTheBytesInOrder)
{
    for (const bool withSha256 : {false, true}) {
        SCOPED_TRACE(withSha256 ? "with SHA-256" : "SHA-1 only");
        std::mt19937 random(7);
        std::string handed;
        TBlockDigest digest(kBlockSize, withSha256);
        TBlockDigest::TBlock block(new std::uint8_t[kBlockSize]);
        for (const std::size_t size : GetParam().sizes) {
            for (std::size_t i = 0; i < size; ++i)
                block[i] = static_cast<std::uint8_t>(random());
            handed.append(reinterpret_cast<const char*>(block.get()), size);
            block = digest.Exchange(std::move(block), size);
            ASSERT_NE(block, nullptr);
            // The writer fills the block it gets back at once: a block still
            // being hashed must never be handed out.
            std::memset(block.get(), 0xEE, kBlockSize);
        }
        const TFileDigestTexts texts = digest.Finish();
        EXPECT_EQ(texts.sha1, ReferenceHex(EVP_sha1(), handed, true));
        EXPECT_EQ(texts.sha256, withSha256 ? ReferenceHex(EVP_sha256(), handed, false) : "");
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, BlockDigestOf, ::testing::ValuesIn(kBlockCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST(BlockDigest, GoesAwayWithBlocksStillWaiting)
{
    // A failed transfer drops its digest mid-way: nothing may hang or leak.
    TBlockDigest digest(kBlockSize, true);
    TBlockDigest::TBlock block(new std::uint8_t[kBlockSize]());
    for (std::size_t i = 0; i < TBlockDigest::kBlocksInFlight; ++i)
        block = digest.Exchange(std::move(block), kBlockSize);
}

}  // namespace
