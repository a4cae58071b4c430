#pragma once
// What the wizard keeps in the destination folder to resume a listed file in
// a later attempt or run, and the test that lets a verified file be skipped.
//
// The kept files sit next to the listed file, under its name followed by a
// line break and a tag. A listed name can never hold a line break: it is one
// line of the info file, and JoinInside refuses any name with a control
// character. So no file the wizard fetches or places can meet one of these
// names, and no listed name can reach them. Every step goes through the
// destination's folder handle: no link is followed.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/folder_handle.h"
#include "transfer/download_url.h"

class TKeptDownload {
public:
    // aLocalName: the listed file's name relative to aFolder ("/"-separated);
    // aSource and aChecksum: where it comes from and what it must hash to.
    // Kept state of another source or checksum does not fit and is never
    // used. aFolder must outlive this object.
    TKeptDownload(const TFolderHandle& aFolder, std::string aLocalName, std::string aSource,
                  std::string aChecksum);

    const std::string& PartialName() const { return mPartial; }
    const std::string& StateName() const { return mState; }
    std::string PartialPath() const { return mFolder.Path() + "/" + mPartial; }  // for messages and tests
    std::string StatePath() const { return mFolder.Path() + "/" + mState; }

    // The bytes held for the next attempt and their validator, when the kept
    // state fits and the partial file is the user's own; otherwise forgets whatever is kept and returns a point of 0
    // held bytes.
    TResumePoint Load() const;
    // Called when a reply begins to fill the partial file: with a validator
    // its bytes may be resumed later, without one they may not (and then it
    // never throws). Throws std::runtime_error when the state cannot be written.
    void Remember(const std::string& aValidator) const;
    // Removes the state and the partial bytes. Never throws.
    void Forget() const noexcept;
    // The partial file for a transfer from aPoint: with bytes held, the kept
    // file, which must still be the user's own (OwnedPrivately); without, a
    // new file made in place of whatever lay at the partial name, so that no
    // file another user made is written into. Throws std::runtime_error.
    UniqueFd OpenForTransfer(const TResumePoint& aPoint) const;
    // After the partial file's checksum matched: it takes the listed file's
    // final name (PlaceVerified) when it is still aVerified, and the state
    // goes. Throws std::runtime_error when it cannot be placed.
    void Place(const TFileIdentity& aVerified) const;

private:
    const TFolderHandle& mFolder;
    std::string mLocalName;
    std::string mSource;
    std::string mChecksum;
    std::string mPartial;
    std::string mState;
};

// The name a verified listed file ends under: aName, less a final ".rename".
std::string FinalPathOf(const std::string& aName);

// The size of aName in aFolder when it is a regular file (not reached through
// a link), owned by the user and writable by nobody else (OwnedPrivately),
// whose SHA-1 text is aChecksum and, when aSha256 is given (a signed
// release's [Checksum256] entry), whose SHA-256 matches it too, both from one
// read; nothing otherwise.
std::optional<std::uint64_t> VerifiedFileSize(const TFolderHandle& aFolder, const std::string& aName,
                                              const std::string& aChecksum,
                                              const std::string* aSha256 = nullptr);
