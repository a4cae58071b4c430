#pragma once
// The digests that check one downloaded file, fed once: however many
// algorithms a check needs, the file's bytes pass through one object. Today
// that is the SHA-1 of the [Checksum] section; a second algorithm joins in
// Update and Final and fills its own text.

#include "components/sha1.h"

#include <cstddef>
#include <string>

struct TFileDigestTexts {
    std::string sha1;  // 40 upper-case hex digits, as the [Checksum] section lists them
};

// Update any number of times, then Final. One thread at a time.
class TFileDigests {
public:
    void Update(const void* aData, std::size_t aSize) { mSha1.Update(aData, aSize); }
    // Every digest; the object then starts a new, empty message.
    TFileDigestTexts Final() { return {DigestToHex(mSha1.Final())}; }

private:
    Sha1Core mSha1;
};

// Every digest of the file in one read; throws std::system_error ("cannot open
// FILE: reason") when it cannot be opened or is a folder.
TFileDigestTexts FileDigestTexts(const std::string& aFileName);
