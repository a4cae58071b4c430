#include "components/read_behind_digest.h"

#include <algorithm>
#include <cerrno>
#include <memory>

#include <unistd.h>

namespace {

// How far the reader stays behind the writer until the end. Reading the
// pages the writer has just handed over, while it writes the next ones,
// made both fight over the file's page cache: some runs spent three times
// the kernel time of a plain write. Eight blocks behind, the writer is never
// slowed, and the tail left at the end takes a few milliseconds to hash.
constexpr std::uint64_t kLag = 8 * 1024 * 1024;

}  // namespace

TReadBehindDigest::TReadBehindDigest(int aFd) : mFd(aFd), mThread([this] { Read(); }) {}

TReadBehindDigest::~TReadBehindDigest()
{
    {
        std::lock_guard lock(mMutex);
        mStop = true;
    }
    mWake.notify_all();
    mThread.join();
}

void TReadBehindDigest::Written(std::uint64_t aEnd) noexcept
{
    {
        std::lock_guard lock(mMutex);
        if (aEnd <= mWritten)
            return;
        mWritten = aEnd;
    }
    mWake.notify_all();
}

std::optional<TFileDigestTexts> TReadBehindDigest::Finish(std::uint64_t aSize)
{
    std::unique_lock lock(mMutex);
    mWritten = aSize;
    mFinal = true;
    mWake.notify_all();
    mWake.wait(lock, [this] { return mDone || mFailed; });
    if (mFailed)
        return std::nullopt;
    return mDigests.Final();
}

void TReadBehindDigest::Read()
{
    // Not value-initialised: pread fills it before it is hashed.
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kHashReadBlockSize]);
    std::uint64_t hashed = 0;
    std::unique_lock lock(mMutex);
    for (;;) {
        // A whole block at a time while the writer is running: fewer wake-ups,
        // and the block is still in the page cache when we get to it.
        mWake.wait(lock, [&] { return mStop || mFinal || mWritten - hashed >= kLag + kHashReadBlockSize; });
        if (mStop)
            return;
        if (mFinal && hashed > mWritten) {
            mFailed = true;  // more was read than the file is said to hold
            lock.unlock();
            mWake.notify_all();
            return;
        }
        if (mFinal && hashed == mWritten) {
            mDone = true;
            lock.unlock();
            mWake.notify_all();
            return;
        }
        const std::uint64_t end = mFinal ? mWritten : mWritten - kLag;
        lock.unlock();
        bool failed = false;
        while (hashed < end && !failed) {
            const std::uint64_t want = std::min<std::uint64_t>(kHashReadBlockSize, end - hashed);
            const ssize_t got =
                ::pread(mFd, buffer.get(), static_cast<std::size_t>(want), static_cast<off_t>(hashed));
            if (got < 0 && errno == EINTR)
                continue;
            // Fewer bytes than the writer put there: the file was cut behind
            // our back; its digest is no longer ours to give.
            if (got <= 0) {
                failed = true;
                break;
            }
            mDigests.Update(buffer.get(), static_cast<std::size_t>(got));
            hashed += static_cast<std::uint64_t>(got);
        }
        lock.lock();
        if (failed) {
            mFailed = true;
            lock.unlock();
            mWake.notify_all();
            return;
        }
    }
}
