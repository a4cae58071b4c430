#pragma once
// Owners of open files: each closes its file on every way out.

#include <unistd.h>

#include <cstdio>
#include <memory>

struct FileCloser {
    void operator()(std::FILE* aFile) const noexcept { std::fclose(aFile); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int aFd) noexcept : mFd(aFd) {}
    UniqueFd(UniqueFd&& aOther) noexcept : mFd(aOther.Release()) {}
    UniqueFd& operator=(UniqueFd&& aOther) noexcept
    {
        if (this != &aOther) {
            Close();
            mFd = aOther.Release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Close(); }

    int Get() const noexcept { return mFd; }
    explicit operator bool() const noexcept { return mFd >= 0; }
    int Release() noexcept
    {
        const int fd = mFd;
        mFd = -1;
        return fd;
    }
    // Closes now and reports the result: for written files a late write error
    // shows up here. Linux releases the descriptor even when close reports
    // EINTR, so there is no retry.
    bool Close() noexcept { return mFd < 0 || ::close(Release()) == 0; }

private:
    int mFd = -1;
};
