#pragma once
// `downloader-publish serve` run as a child process for one test: started
// with the given arguments, its address taken from the first line it prints,
// stopped with SIGTERM (SIGKILL when that is not heeded) by Stop or when the
// object goes.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/eventually.h"

class ServeRun {
public:
    static constexpr const char* kAddressStart = "http://127.0.0.1:";

    explicit ServeRun(const std::vector<std::string>& aArgs)
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        mChild = fork();
        if (mChild == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv{const_cast<char*>(DOWNLOADER_PUBLISH_TOOL), const_cast<char*>("serve")};
            for (const auto& arg : aArgs)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(DOWNLOADER_PUBLISH_TOOL, argv.data());
            _exit(127);
        }
        close(out[1]);
        mOut = out[0];
        // Bounded: at most 100 waits of 100 ms for the line.
        pollfd ready{mOut, POLLIN, 0};
        for (int i = 0; i < 100 && mFirstLine.find('\n') == std::string::npos && poll(&ready, 1, 100) >= 0;
             ++i) {
            char c;
            if ((ready.revents & (POLLIN | POLLHUP)) && read(mOut, &c, 1) == 1)
                mFirstLine += c;
        }
    }
    ~ServeRun() { Stop(); }
    ServeRun(const ServeRun&) = delete;
    ServeRun& operator=(const ServeRun&) = delete;

    // Everything printed up to the first line break (the server's address).
    const std::string& FirstLine() const { return mFirstLine; }
    // The port of that address; 0 when the line is no such address.
    int Port() const
    {
        const std::string start = kAddressStart;
        return mFirstLine.rfind(start, 0) == 0 ? std::stoi(mFirstLine.substr(start.size())) : 0;
    }

    // Stops the server; its wait status, -1 when it never ran.
    int Stop()
    {
        if (mChild > 0) {
            kill(mChild, SIGTERM);
            if (!Eventually([&] { return waitpid(mChild, &mStatus, WNOHANG) != 0; })) {
                kill(mChild, SIGKILL);
                waitpid(mChild, &mStatus, 0);
            }
            mChild = -1;
        }
        if (mOut >= 0) {
            close(mOut);
            mOut = -1;
        }
        return mStatus;
    }

private:
    pid_t mChild = -1;
    int mOut = -1;
    int mStatus = -1;
    std::string mFirstLine;
};
