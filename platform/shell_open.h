#pragma once
// Starts a program, or opens a document or address with the desktop's default
// application, as the "open" verb of a file manager does. No shell is
// involved, so names with blanks or quotes need no care.

#include <atomic>
#include <string>
#include <vector>

struct TShellOpenOptions {
    bool wait = false;                     // wait for the started program and report its exit code
    std::vector<std::string> environment;  // extra NAME=VALUE entries for the child
    std::string opener = "xdg-open";       // the desktop's default opener
    bool runPrograms = true;               // false: even a program goes to the opener
    // With wait: once this turns true the program gets SIGTERM (once) and is
    // then waited for to its end as usual. Null: wait without being stopped.
    const std::atomic<bool>* stopRequested = nullptr;
};

struct TShellOpenResult {
    bool started = false;
    int exitCode = -1;  // with wait only: the exit status, or 128 + signal number
};

// A regular file that IsExecutableImage gets its owner's execute bit (a
// downloaded file comes without it) and runs with aArgs, argv[0] being aPath.
// Anything else, addresses included, goes to aOptions.opener; aArgs are then
// not used. Without wait the child's stdin is /dev/null and it is reaped in
// the background, so it never lingers as a zombie. With wait and
// stopRequested the flag is looked at every few tens of milliseconds.
// Threads: any.
TShellOpenResult ShellOpen(const std::string& aPath, const std::vector<std::string>& aArgs,
                           const TShellOpenOptions& aOptions = {});

// The program open at aFd is started from that descriptor
// (execveat(aFd, "", ..., AT_EMPTY_PATH)), so whatever has been put at aPath
// since it was opened is never run; aPath is only argv[0]. It gets its
// owner's execute bit through aFd when it lacks it. A script's descriptor
// stays open in the child, for its interpreter reads /dev/fd/N. A file that
// IsDescriptorImage does not take for a program, or any file with
// runPrograms false, goes to aOptions.opener by aPath instead, as ShellOpen
// does. Not started when the exec fails. Threads: any.
TShellOpenResult ShellOpenDescriptor(int aFd, const std::string& aPath, const std::vector<std::string>& aArgs,
                                     const TShellOpenOptions& aOptions = {});

// An ELF program or a script that starts with "#!". false when unreadable.
bool IsExecutableImage(const std::string& aPath);
// The same for an open file, read from its start whatever its offset.
bool IsDescriptorImage(int aFd);
