#pragma once
// The SHA-1 and the SHA-256 of one stream of bytes, fed once: a file is read
// a single time however many digests its check needs.

#include "components/sha1.h"
#include "components/sha256.h"

#include <cstddef>
#include <string>

struct TFileDigestTexts {
    std::string sha1;    // 40 upper-case hex digits, as the [Checksum] section lists them
    std::string sha256;  // 64 lower-case hex digits
};

// Update any number of times, then Final. One thread at a time.
class TFileDigests {
public:
    void Update(const void* aData, std::size_t aSize)
    {
        mSha1.Update(aData, aSize);
        mSha256.Update(aData, aSize);
    }
    // Both digests; the object then starts a new, empty message.
    TFileDigestTexts Final() { return {DigestToHex(mSha1.Final()), Sha256ToHex(mSha256.Final())}; }

private:
    Sha1Core mSha1;
    Sha256Core mSha256;
};

// Both digests of the file in one read; throws as ReadFileBlocks does.
TFileDigestTexts FileDigestTexts(const std::string& aFileName);
// The same for an open file, from its current position; aName names it in an
// error. The descriptor stays open.
TFileDigestTexts DescriptorDigestTexts(int aFd, const std::string& aName);
