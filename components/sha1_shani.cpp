// SHA-1 block compression with the Intel SHA extensions (SHA-NI). Only this
// file's functions are built for those instructions, through target
// attributes, so the rest of the program runs on any x86-64; the caller picks
// this path at run time when the CPU reports the extensions.

#include "components/sha1.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <utility>

#define DOWNLOADER_SHA_TARGET __attribute__((target("sha,sse4.1")))

namespace {

// Four rounds (group aGroup of 20). Round function and constant change every
// five groups, and the instruction wants them as an immediate.
template <int aGroup>
[[gnu::always_inline]] DOWNLOADER_SHA_TARGET inline __m128i FourRounds(__m128i aAbcd, __m128i aE)
{
    return _mm_sha1rnds4_epu32(aAbcd, aE, aGroup / 5);
}

// Next four message words: w[i] = rol1(w[i-3] ^ w[i-8] ^ w[i-14] ^ w[i-16]),
// from the four previous groups (oldest first).
[[gnu::always_inline]] DOWNLOADER_SHA_TARGET inline __m128i NextMessage(__m128i aW0, __m128i aW1, __m128i aW2,
                                                                        __m128i aW3)
{
    return _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(aW0, aW1), aW2), aW3);
}

// Groups 1..19. aMsg holds the four latest message groups, aMsg[aGroup % 4]
// being the one for this group; aPrev is a..d before the previous group, from
// which sha1nexte derives this group's e.
template <int aGroup>
[[gnu::always_inline]] DOWNLOADER_SHA_TARGET inline void Group(__m128i& aAbcd, __m128i& aPrev,
                                                               __m128i (&aMsg)[4])
{
    if constexpr (aGroup >= 4)
        aMsg[aGroup % 4] = NextMessage(aMsg[aGroup % 4], aMsg[(aGroup + 1) % 4], aMsg[(aGroup + 2) % 4],
                                       aMsg[(aGroup + 3) % 4]);
    const __m128i e = _mm_sha1nexte_epu32(aPrev, aMsg[aGroup % 4]);
    aPrev = aAbcd;
    aAbcd = FourRounds<aGroup>(aAbcd, e);
}

template <int... aGroups>
[[gnu::always_inline]] DOWNLOADER_SHA_TARGET inline void
Groups(__m128i& aAbcd, __m128i& aPrev, __m128i (&aMsg)[4], std::integer_sequence<int, aGroups...>)
{
    (Group<aGroups + 1>(aAbcd, aPrev, aMsg), ...);
}

}  // namespace

namespace sha1_detail {

DOWNLOADER_SHA_TARGET void CompressShaNi(std::uint32_t* aState, const std::uint8_t* aData,
                                         std::size_t aBlocks)
{
    // The instructions keep a in the top lane: a..d reversed, e alone on top.
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(aState)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(aState[4]), 0, 0, 0);

    for (; aBlocks > 0; --aBlocks, aData += 64) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        __m128i msg[4];
        for (int i = 0; i < 4; ++i)
            msg[i] =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(aData + 16 * i)), byteSwap);

        __m128i prev = abcd;
        abcd = FourRounds<0>(abcd, _mm_add_epi32(e0, msg[0]));
        Groups(abcd, prev, msg, std::make_integer_sequence<int, 19>{});

        // e after 80 rounds is rol30 of a before the last group; add the saved e.
        e0 = _mm_sha1nexte_epu32(prev, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(aState), _mm_shuffle_epi32(abcd, 0x1B));
    aState[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

}  // namespace sha1_detail

#else

namespace sha1_detail {

void CompressShaNi(std::uint32_t* aState, const std::uint8_t* aData, std::size_t aBlocks)
{
    CompressPortable(aState, aData, aBlocks);
}

}  // namespace sha1_detail

#endif
