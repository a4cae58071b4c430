#pragma once
// A file whose content was checked, held open from that check to its start.
// Another local user may swap the name for a file of their own or rewrite
// one they can write to, at any moment; the held descriptor stays on the file
// that was checked, and the checks here tell whether it is still as it was
// when it is about to run.

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/file_handles.h"
#include "platform/folder_handle.h"

class TVerifiedFile {
public:
    // Takes aFd, open for reading on the file that was just checked, and
    // notes what it is now. aPath names it in messages and for an opener.
    // Throws std::runtime_error("cannot read PATH: reason") when fstat fails.
    TVerifiedFile(UniqueFd aFd, std::string aPath);
    TVerifiedFile(TVerifiedFile&&) noexcept = default;
    TVerifiedFile& operator=(TVerifiedFile&&) noexcept = default;

    int Fd() const { return mFd.Get(); }
    const std::string& Path() const { return mPath; }
    const TFileIdentity& Identity() const { return mIdentity; }
    std::uint64_t Size() const { return mSize; }

    // The owner's execute bit, set through the descriptor (a download comes
    // without it), and write access for group and others taken away, so that
    // nobody else can change the program between its last check and its
    // start. The noted mode follows. "" when done, else why not.
    std::string MakeRunnable();
    // "" when the held file still has the noted identity, size and mode and
    // belongs to this user; else why not, e.g. "its size changed since it was
    // verified".
    std::string Recheck() const;
    // Whether the held file starts as a program does: ELF, or "#!". Read
    // through the descriptor, from its start.
    bool IsProgram() const;

private:
    UniqueFd mFd;
    std::string mPath;
    TFileIdentity mIdentity;
    std::uint64_t mSize = 0;
    mode_t mMode = 0;
};

// "" when the entry aName of aFolder is still the file aHeld holds; else why
// not ("it was replaced after it was verified", "it was removed after it was
// verified", or the folder's refusal).
std::string NameStillLeadsTo(const TFolderHandle& aFolder, const std::string& aName,
                             const TVerifiedFile& aHeld);
