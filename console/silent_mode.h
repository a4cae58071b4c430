#pragma once
// The wizard without a window: configuration, self-update, download and, on
// request, the start of setup, with progress on a terminal or a log.

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "engine/thread_downloads.h"

enum class TSilentExit : int {
    Done = 0,  // every file verified and placed (and setup started when asked)
    Usage = 1,
    NotConnected = 2,  // no info address, or the info file was not fetched
    DownloadFailed = 3,
    Cancelled = 4,
    DestinationUnusable = 5,  // the folder cannot be created or written
    SetupNotStarted = 6,      // every file verified and placed, but setup could not be started
};

struct TSilentOptions {
    std::string destination;             // empty: the usual guess
    bool install = false;                // start setup after a complete download
    bool resume = false;                 // resume and skip whatever the release says
    std::vector<std::string> arguments;  // the command line without the program name, for a newer wizard
    int terminalColumns = 0;             // 0: the width of the terminal on standard error, else 80
};

// Runs the whole job on the calling thread's behalf and returns the exit code.
// aCancelRequested is read whenever the run wakes: set it, then call
// WakeSilentMode for an answer at once (without the call it is seen within a
// second).
// aTerminal selects a redrawn one-line progress bar instead of plain lines;
// it is redrawn whenever the worker reports progress.
// A newer wizard, when one is offered, is started with the same arguments
// followed by "1" and waited for; its exit code becomes the result. A cancel
// request meanwhile is passed on to it as SIGTERM.
int RunSilent(const TSilentOptions& aOptions, TWorkerEnvironment aEnvironment, std::ostream& aOut,
              bool aTerminal, const std::atomic<bool>& aCancelRequested);

// Wakes the running RunSilent, if any. Async-signal-safe: a stop signal's
// handler sets the cancel flag and then calls this.
void WakeSilentMode() noexcept;
