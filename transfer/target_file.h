#pragma once
// The file one transfer writes its body into: written in large blocks and,
// when asked, hashed beside the writing, so that when the last byte is in
// the file its digests are ready too. They are handed out only when they are
// those of the file that stands at its name.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "components/block_digest.h"
#include "components/file_digests.h"
#include "platform/block_writer.h"
#include "platform/file_handles.h"
#include "platform/folder_handle.h"

class TTargetFile {
public:
    enum class TDigest { None, Sha1, Sha1AndSha256 };

    // aFd: open for writing, at the offset where the body goes. Only a body
    // written from the file's first byte can be hashed: pass TDigest::None
    // for a rest appended to bytes already there.
    TTargetFile(UniqueFd aFd, TDigest aDigest);
    TTargetFile(const TTargetFile&) = delete;
    TTargetFile& operator=(const TTargetFile&) = delete;

    // False when a write failed; errno tells why.
    bool Append(const void* aData, std::size_t aSize) { return mWriter.Append(aData, aSize); }
    bool Flush() { return mWriter.Flush(); }

    struct TDigested {
        TFileDigestTexts digests;
        TFileIdentity identity;
    };
    // After the last byte is flushed: the digests of the aSize bytes written,
    // when aName still names this file at that size and nobody else may
    // write to it, so that they are the file's as it stands. Waits for the
    // last blocks' hashing.
    std::optional<TDigested> TakeDigests(const std::string& aName, std::uint64_t aSize);

    // Closes the file; false when the close failed (the bytes may not all be
    // there). Nothing may be appended after it.
    bool Close();

private:
    UniqueFd mFd;
    std::unique_ptr<TBlockDigest> mDigest;
    TBlockWriter mWriter;  // hands its blocks to mDigest: declared after it, so it goes first
};
