#pragma once
// The file one attempt writes a listed file into: a new file under a private
// name beside the listed one, which takes the listed (or final) name only
// once its checksum has matched. Until then no unverified byte lies under a
// name the release lists, an earlier verified copy stays as it was, and no
// file another user made is ever written into. Every way out that does not
// place the file removes it again.
//
// Private names are kPrivatePrefix and six random letters. A listed name
// never meets one: the release's own names are avoided when one is picked,
// and the file is created only where no entry has that name. One left
// behind by a crash is recognisable by its prefix, and only ever holds bytes
// nobody verified.

#include <functional>
#include <optional>
#include <string>

#include "platform/file_handles.h"
#include "platform/folder_handle.h"

inline constexpr const char* kPrivatePrefix = ".downloader-";

class TPrivateDownload {
public:
    // Creates the file beside aLocalName in aFolder (which must outlive this
    // object), avoiding every name aListed calls taken. Throws
    // std::runtime_error naming aLocalName when the file cannot be created.
    TPrivateDownload(const TFolderHandle& aFolder, const std::string& aLocalName,
                     const std::function<bool(const std::string&)>& aListed = {});
    // Removes the private name unless the file was placed; never throws.
    ~TPrivateDownload();
    TPrivateDownload(const TPrivateDownload&) = delete;
    TPrivateDownload& operator=(const TPrivateDownload&) = delete;

    // Relative to the folder, and as a path (the transfer's Filename).
    const std::string& Name() const { return mName; }
    std::string Path() const { return mFolder.Path() + "/" + mName; }
    const TFileIdentity& Identity() const { return mIdentity; }
    // The descriptor made with the file, handed over once to the transfer.
    // Throws when it was taken before.
    UniqueFd TakeForWriting();

private:
    const TFolderHandle& mFolder;
    std::string mLocalName;
    std::string mName;
    UniqueFd mFd;
    TFileIdentity mIdentity;
    bool mPlaced = false;
    friend void PlaceVerified(const TFolderHandle&, const std::string&, const std::string&,
                              const TFileIdentity&, TPrivateDownload*);
};

// Gives the verified file at aFrom (relative to aFolder) the name a file
// listed as aLocalName ends under: aLocalName less a final ".rename", in one
// step that replaces a file or link there; when that name is a folder, the
// file takes aLocalName itself (its ".rename" name, as a refused move always
// left it). Throws std::runtime_error when the entry at aFrom is no longer
// aVerified, the file whose checksum was checked, or when no name could be
// given. aPrivate, when the file is one, no longer removes it once placed.
void PlaceVerified(const TFolderHandle& aFolder, const std::string& aFrom, const std::string& aLocalName,
                   const TFileIdentity& aVerified, TPrivateDownload* aPrivate = nullptr);

// Whether a file of the destination may be trusted as the user's own: a
// regular file owned by the user that neither the group nor others may
// write, so that nobody else can have put or changed its bytes.
bool OwnedPrivately(int aFd);
