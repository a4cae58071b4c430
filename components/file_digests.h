#pragma once
// The digests that check one downloaded file, fed once: however many
// algorithms a check needs, the file's bytes pass through one object and a
// file is read a single time. The SHA-1 always; the SHA-256 only when asked
// for (a signed release's [Checksum256]), as it costs about as much again.

#include "components/sha1.h"
#include "components/sha256.h"

#include <cstddef>
#include <optional>
#include <string>

struct TFileDigestTexts {
    std::string sha1;    // 40 upper-case hex digits, as the [Checksum] section lists them
    std::string sha256;  // 64 lower-case hex digits; empty when not asked for
};

// Update any number of times, then Final. One thread at a time.
class TFileDigests {
public:
    explicit TFileDigests(bool aWithSha256 = false)
    {
        if (aWithSha256)
            mSha256.emplace();
    }
    void Update(const void* aData, std::size_t aSize)
    {
        mSha1.Update(aData, aSize);
        if (mSha256)
            mSha256->Update(aData, aSize);
    }
    // Every digest asked for; the object then starts a new, empty message.
    TFileDigestTexts Final()
    {
        return {DigestToHex(mSha1.Final()), mSha256 ? Sha256ToHex(mSha256->Final()) : std::string()};
    }

private:
    Sha1Core mSha1;
    std::optional<Sha256Core> mSha256;
};

// The digests of the file in one read; throws as ReadFileBlocks does.
TFileDigestTexts FileDigestTexts(const std::string& aFileName, bool aWithSha256 = false);
// The same for an open file, from its current position; aName names it in an
// error. The descriptor stays open.
TFileDigestTexts DescriptorDigestTexts(int aFd, const std::string& aName, bool aWithSha256 = false);
