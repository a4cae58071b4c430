#include "components/sha1.h"
#include "components/hex_text.h"
#include "components/file_blocks.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

constexpr std::uint32_t kInitialState[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};

// A plain memset of memory that is never read again may be dropped by the
// optimiser; the wipe must happen.
void SecureZero(void* aData, std::size_t aSize) noexcept
{
    volatile auto* bytes = static_cast<volatile std::uint8_t*>(aData);
    for (std::size_t i = 0; i < aSize; ++i)
        bytes[i] = 0;
}

inline std::uint32_t Rol(std::uint32_t aValue, int aBits)
{
    return (aValue << aBits) | (aValue >> (32 - aBits));
}

inline std::uint32_t LoadBigEndian(const std::uint8_t* aBytes)
{
    return (std::uint32_t{aBytes[0]} << 24) | (std::uint32_t{aBytes[1]} << 16)
           | (std::uint32_t{aBytes[2]} << 8) | std::uint32_t{aBytes[3]};
}

// One of the 80 rounds. The five working words never move: each round the
// roles a..e shift one place through v, so after full inlining every word
// stays in its register. The message schedule is a rolling 16-word window.
template <int I>
[[gnu::always_inline]] inline void Round(std::uint32_t (&v)[5], std::uint32_t (&w)[16],
                                         const std::uint8_t* aBlock)
{
    constexpr int a = (5 - I % 5) % 5;
    constexpr int b = (a + 1) % 5, c = (a + 2) % 5, d = (a + 3) % 5, e = (a + 4) % 5;
    std::uint32_t word;
    if constexpr (I < 16) {
        word = LoadBigEndian(aBlock + 4 * I);
        w[I] = word;
    } else {
        word = Rol(w[(I - 3) & 15] ^ w[(I - 8) & 15] ^ w[(I - 14) & 15] ^ w[I & 15], 1);
        w[I & 15] = word;
    }
    std::uint32_t f, k;
    if constexpr (I < 20) {
        f = v[d] ^ (v[b] & (v[c] ^ v[d]));  // choose
        k = 0x5A827999u;
    } else if constexpr (I < 40) {
        f = v[b] ^ v[c] ^ v[d];
        k = 0x6ED9EBA1u;
    } else if constexpr (I < 60) {
        f = (v[b] & v[c]) | (v[d] & (v[b] | v[c]));  // majority
        k = 0x8F1BBCDCu;
    } else {
        f = v[b] ^ v[c] ^ v[d];
        k = 0xCA62C1D6u;
    }
    v[e] += Rol(v[a], 5) + f + k + word;
    v[b] = Rol(v[b], 30);
}

template <int... I>
[[gnu::always_inline]] inline void AllRounds(std::uint32_t (&v)[5], std::uint32_t (&w)[16],
                                             const std::uint8_t* aBlock, std::integer_sequence<int, I...>)
{
    (Round<I>(v, w, aBlock), ...);
}

#if defined(__x86_64__) || defined(__i386__)
bool CpuHasShaExtensions()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const bool ssse3 = (ecx & bit_SSSE3) != 0;
    const bool sse41 = (ecx & bit_SSE4_1) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const bool sha = (ebx & (1u << 29)) != 0;  // CPUID.(EAX=7,ECX=0):EBX.SHA[bit 29]
    return ssse3 && sse41 && sha;
}
#endif

}  // namespace

namespace sha1_detail {

void CompressPortable(std::uint32_t* aState, const std::uint8_t* aData, std::size_t aBlocks)
{
    std::uint32_t w[16];
    for (; aBlocks > 0; --aBlocks, aData += 64) {
        std::uint32_t v[5] = {aState[0], aState[1], aState[2], aState[3], aState[4]};
        AllRounds(v, w, aData, std::make_integer_sequence<int, 80>{});
        // After 80 rounds the roles have come full circle: v[0] is a again.
        for (int i = 0; i < 5; ++i)
            aState[i] += v[i];
    }
    SecureZero(w, sizeof w);
}

bool HasShaExtensions()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool has = CpuHasShaExtensions();
    return has;
#else
    return false;
#endif
}

TCompressFn BestCompress()
{
    static const TCompressFn best = HasShaExtensions() ? CompressShaNi : CompressPortable;
    return best;
}

}  // namespace sha1_detail

Sha1Core::Sha1Core() : Sha1Core(sha1_detail::BestCompress()) {}

Sha1Core::Sha1Core(sha1_detail::TCompressFn aCompress) : mCompress(aCompress)
{
    Reset();
}

Sha1Core::~Sha1Core()
{
    Wipe();
}

void Sha1Core::Reset()
{
    std::memcpy(mState, kInitialState, sizeof mState);
    mLength = 0;
    mFill = 0;
    std::memset(mBlock, 0, sizeof mBlock);
}

void Sha1Core::Wipe()
{
    SecureZero(mState, sizeof mState);
    SecureZero(&mLength, sizeof mLength);
    SecureZero(&mFill, sizeof mFill);
    SecureZero(mBlock, sizeof mBlock);
}

void Sha1Core::Update(const void* aData, std::size_t aSize)
{
    if (aSize == 0)
        return;  // aData may then be null, which memcpy must not see
    auto* bytes = static_cast<const std::uint8_t*>(aData);
    mLength += aSize;
    if (mFill > 0) {
        const std::size_t take = std::min(aSize, sizeof mBlock - mFill);
        std::memcpy(mBlock + mFill, bytes, take);
        mFill += take;
        bytes += take;
        aSize -= take;
        if (mFill < sizeof mBlock)
            return;
        mCompress(mState, mBlock, 1);
        mFill = 0;
        SecureZero(mBlock, sizeof mBlock);
    }
    // Whole blocks are hashed straight from the caller's memory: copying them
    // through mBlock would cost as much as the hash itself on the fast path.
    const std::size_t blocks = aSize / 64;
    if (blocks > 0) {
        mCompress(mState, bytes, blocks);
        bytes += blocks * 64;
        aSize -= blocks * 64;
    }
    if (aSize > 0) {
        std::memcpy(mBlock, bytes, aSize);
        mFill = aSize;
    }
}

TSHA1Digest Sha1Core::Final()
{
    const std::uint64_t bits = mLength * 8;  // FIPS 180-1: length modulo 2^64 bits
    mBlock[mFill++] = 0x80;
    if (mFill > 56) {
        // No room for the length: it goes into one more block.
        std::memset(mBlock + mFill, 0, sizeof mBlock - mFill);
        mCompress(mState, mBlock, 1);
        mFill = 0;
    }
    std::memset(mBlock + mFill, 0, 56 - mFill);
    for (int i = 0; i < 8; ++i)
        mBlock[56 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    mCompress(mState, mBlock, 1);

    TSHA1Digest digest;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<std::uint8_t>(mState[i] >> (24 - 8 * j));
    Wipe();
    Reset();
    return digest;
}

void TSHA1Hasher::HashBuffer(const void* aBuf, std::size_t aBufSize)
{
    Sha1Core core;
    core.Update(aBuf, aBufSize);
    mDigest = core.Final();
}

void TSHA1Hasher::HashFile(const std::string& aFileName)
{
    Sha1Core core;
    ReadFileBlocks(aFileName,
                   [&core](const std::uint8_t* aData, std::size_t aSize) { core.Update(aData, aSize); });
    mDigest = core.Final();
}

void TSHA1Hasher::HashDescriptor(int aFd, const std::string& aName)
{
    Sha1Core core;
    ReadDescriptorBlocks(
        aFd, aName, [&core](const std::uint8_t* aData, std::size_t aSize) { core.Update(aData, aSize); });
    mDigest = core.Final();
}

void TSHA1Hasher::HashStream(std::istream& aStream)
{
    const std::unique_ptr<char[]> buffer(new char[kHashReadBlockSize]);
    Sha1Core core;
    for (;;) {
        aStream.read(buffer.get(), static_cast<std::streamsize>(kHashReadBlockSize));
        const std::streamsize got = aStream.gcount();
        if (got <= 0)
            break;
        core.Update(buffer.get(), static_cast<std::size_t>(got));
    }
    mDigest = core.Final();
}

void TSHA1Hasher::HashStringA(std::string_view aStr)
{
    HashBuffer(aStr.data(), aStr.size());
}

void TSHA1Hasher::HashStringW(std::u16string_view aStr)
{
    // Pieces of the text go through a small buffer so that the byte order is
    // little-endian whatever the machine's own order is.
    Sha1Core core;
    std::uint8_t bytes[512];
    while (!aStr.empty()) {
        const std::size_t units = std::min(aStr.size(), sizeof bytes / 2);
        for (std::size_t i = 0; i < units; ++i) {
            bytes[2 * i] = static_cast<std::uint8_t>(aStr[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<std::uint8_t>(aStr[i] >> 8);
        }
        core.Update(bytes, units * 2);
        aStr.remove_prefix(units);
    }
    SecureZero(bytes, sizeof bytes);
    mDigest = core.Final();
}

void TSHA1Hasher::GetDigest(TSHA1Digest& aDigest) const
{
    aDigest = mDigest;
}

std::string DigestToHex(const TSHA1Digest& aDigest)
{
    return HexText(aDigest.data(), aDigest.size(), THexCase::Upper);
}

std::string Sha1Hex(std::string_view aBytes)
{
    TSHA1Hasher hasher;
    hasher.HashStringA(aBytes);
    TSHA1Digest digest;
    hasher.GetDigest(digest);
    return DigestToHex(digest);
}

std::string FileSha1Hex(const std::string& aFileName)
{
    TSHA1Hasher hasher;
    hasher.HashFile(aFileName);
    TSHA1Digest digest;
    hasher.GetDigest(digest);
    return DigestToHex(digest);
}

std::string DescriptorSha1Hex(int aFd, const std::string& aName)
{
    TSHA1Hasher hasher;
    hasher.HashDescriptor(aFd, aName);
    TSHA1Digest digest;
    hasher.GetDigest(digest);
    return DigestToHex(digest);
}
