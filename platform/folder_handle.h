#pragma once
// A folder held open for one operation. Every name below it is reached one
// component at a time from that handle, and no component is followed when it
// is a symbolic link, so another local process that swaps an entry for a link
// (or a sub-folder for a link to elsewhere) makes the operation fail at that
// step instead of leading it out of the folder. Renaming or replacing the
// folder itself meanwhile changes nothing: the handle stays on the folder
// that was opened.
//
// Names are relative and "/"-separated; an empty, "." or ".." component, or a
// leading "/", is refused. Sub-folders are never created. Every refusal and
// failure throws std::runtime_error with a message such as
// "cannot write sub/data.cab: sub is a symbolic link".

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/file_handles.h"

// Which file an entry is, to tell whether it was swapped between two steps.
struct TFileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const TFileIdentity&) const = default;
};

// The identity of an open file; nullopt when fstat fails.
std::optional<TFileIdentity> IdentityOf(int aFd);

class TFolderHandle {
public:
    // Follows links in aFolder itself: the folder is what the user chose.
    // Throws std::runtime_error("cannot open folder PATH: reason").
    explicit TFolderHandle(const std::string& aFolder);
    // Takes a folder already opened (and checked) by the caller; aFolder is
    // its path, for messages only.
    TFolderHandle(UniqueFd aFd, std::string aFolder);

    const std::string& Path() const { return mPath; }
    int Fd() const { return mFd.Get(); }

    // A regular file open for writing, created (mode 0666 less the umask) when
    // missing, not truncated, close-on-exec. Refuses a link, a folder, a pipe
    // or a device at the name, without blocking or truncating it.
    UniqueFd OpenForWriting(const std::string& aName) const;
    // A regular file open for reading.
    UniqueFd OpenForReading(const std::string& aName) const;
    // A new file with a name no other file has, for proving that files can be
    // created here; aName receives its name.
    UniqueFd CreateUnique(const std::string& aPrefix, std::string& aName) const;

    // A new regular file beside aName (in the folder that holds aName's last
    // component), under a name no entry has, made of aPrefix and six random
    // letters; mode 0666 less the umask, open for writing, close-on-exec.
    // aName need not exist; refusals name it ("cannot write sub/x: sub is a
    // symbolic link"). aTaken may refuse a name, which is then not used.
    // aCreated receives the new file's name relative to this folder.
    UniqueFd CreateBeside(const std::string& aName, const std::string& aPrefix, std::string& aCreated,
                          const std::function<bool(const std::string&)>& aTaken = {}) const;
    // A regular file that did not exist, created at aName (mode 0666 less
    // the umask); refused when any entry is there.
    UniqueFd CreateNew(const std::string& aName) const;

    // The entry at aName as it is (a link is not followed); nullopt when there
    // is none.
    std::optional<TFileIdentity> EntryIdentity(const std::string& aName) const;
    // Whether the entry at aName is a folder (a link to one is not).
    bool IsFolder(const std::string& aName) const;
    // Whether the entry at aName is a regular file (a link to one is not).
    bool IsRegularFile(const std::string& aName) const;
    // Removes the entry at aName, a link itself rather than its target; a
    // folder is refused.
    void Remove(const std::string& aName) const;
    // Gives aFrom the name aTo; refused when aTo is taken.
    void RenameNoReplace(const std::string& aFrom, const std::string& aTo) const;
    // Gives aFrom the name aTo in one step, replacing a file or a link at
    // aTo (the link itself); refused when aTo is a folder.
    void RenameReplace(const std::string& aFrom, const std::string& aTo) const;

private:
    // The folder that holds aName's last component, and that component.
    struct TParent {
        UniqueFd owned;  // empty when the parent is the folder itself
        int fd = -1;
        std::string leaf;
    };
    TParent ParentOf(const std::string& aName, const std::string& aVerb) const;

    std::string mPath;
    UniqueFd mFd;
};
