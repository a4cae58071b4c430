// The program's entry: the window, or with --silent the same job on a terminal.

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#ifdef DOWNLOADER_WINDOW_BY_EXEC
#include "app/window_program.h"
#else
#include "app/wizard_window.h"
#endif
#include "console/silent_mode.h"
#include "engine/thread_downloads.h"
#include "transfer/curl_global.h"

namespace {

std::atomic<bool> gCancelRequested{false};

extern "C" void OnStopSignal(int)
{
    gCancelRequested = true;
    WakeSilentMode();  // the silent run answers at once, not at its next look
}

void InstallStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

const char* const kUsage = "Usage: downloader [RELEASE]\n"
                           "       downloader --silent [--dest DIR] [--install] [--resume] [RELEASE]\n"
                           "\n"
                           "Downloads the files of a product release, checks each against its SHA-1\n"
                           "and offers to start the release's setup program.\n"
                           "\n"
                           "  --silent      run without a window; progress goes to standard error\n"
                           "  --dest DIR    download into DIR (created when missing)\n"
                           "  --install     start the setup program once every file is verified\n"
                           "  --resume      resume broken transfers and skip files already verified\n"
                           "                in the destination, for any release\n"
                           "  --help        show this text\n"
                           "  --version     show the version\n"
                           "\n"
                           "RELEASE is a release number for the vendor's info service.\n"
                           "\n"
                           "Exit codes of --silent: 0 done, 1 usage error, 2 not connected,\n"
                           "3 download failed, 4 cancelled, 5 destination folder not usable,\n"
                           "6 files placed but setup not started.\n";

struct CommandLine {
    bool silent = false;
    bool help = false;
    bool version = false;
    TSilentOptions options;
    std::string release;
    std::string error;
};

CommandLine ParseCommandLine(int argc, char** argv)
{
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        line.options.arguments.push_back(argument);
        if (optionsEnded || (argument.rfind("--", 0) != 0 && argument != "-h")) {
            // Later words are for a newer wizard (it gets ours and "1").
            if (line.release.empty())
                line.release = argument;
        } else if (argument == "--") {
            optionsEnded = true;  // a release number that starts with "--" follows
        } else if (argument == "--silent") {
            line.silent = true;
        } else if (argument == "--install") {
            line.options.install = true;
        } else if (argument == "--resume") {
            line.options.resume = true;
        } else if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version") {
            line.version = true;
        } else if (argument == "--dest" || argument.rfind("--dest=", 0) == 0) {
            if (argument == "--dest") {
                if (i + 1 >= argc) {
                    line.error = "--dest needs a folder";
                    break;
                }
                line.options.destination = argv[++i];
                line.options.arguments.push_back(line.options.destination);
            } else {
                line.options.destination = argument.substr(7);
            }
            if (line.options.destination.empty())
                line.error = "--dest needs a folder";
        } else {
            line.error = "unknown option " + argument;
        }
    }
    if (line.error.empty() && !line.silent
        && (line.options.install || line.options.resume || !line.options.destination.empty()))
        line.error = "--dest, --install and --resume go with --silent";
    return line;
}

}  // namespace

int main(int argc, char** argv)
{
    const CommandLine line = ParseCommandLine(argc, argv);
    if (!line.error.empty()) {
        std::cerr << "downloader: " << line.error << "\n" << kUsage;
        return static_cast<int>(TSilentExit::Usage);
    }
    if (line.help) {
        std::cout << kUsage;
        return 0;
    }
    if (line.version) {
        std::cout << "downloader " << ThreadDownloads::kVersion << "\n";
        return 0;
    }

#ifdef DOWNLOADER_WINDOW_BY_EXEC
    if (!line.silent)
        return ExecWindowProgram(argv);
#endif
    const CurlGlobal curl;
    TWorkerEnvironment environment = TWorkerEnvironment::FromProcess(line.release, line.options.arguments);
#ifndef DOWNLOADER_WINDOW_BY_EXEC
    if (!line.silent)
        return RunWizardWindow(argc, argv, std::move(environment));
#endif

    InstallStopSignals();
    return RunSilent(line.options, std::move(environment), std::cerr, isatty(STDERR_FILENO) == 1,
                     gCancelRequested);
}
