#pragma once
// Digests of a file while it is being written: a thread of its own reads the
// file back through the writer's descriptor, behind the writer, so that when
// the last byte is written only the tail is left to hash. What is hashed is
// what the file holds (read from it), not what the writer meant to write.
//
// Threads: the constructor, Written, Finish and the destructor belong to the
// writer's thread; the reading runs on the object's own thread.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "components/file_digests.h"

class TReadBehindDigest {
public:
    // aFd: open for reading, not owned; it must stay open until Finish or the
    // destructor has returned. Reading starts at offset 0.
    explicit TReadBehindDigest(int aFd);
    // Stops the reading thread and throws its partial digest away.
    ~TReadBehindDigest();
    TReadBehindDigest(const TReadBehindDigest&) = delete;
    TReadBehindDigest& operator=(const TReadBehindDigest&) = delete;

    // The file's bytes [0, aEnd) are written (handed to the kernel).
    void Written(std::uint64_t aEnd) noexcept;
    // The writer is done and the file has aSize bytes: hashes the rest and
    // returns the digests of exactly those aSize bytes as read from the file.
    // Empty when the file did not give them back (it was cut shorter behind
    // our back, or a read failed): the caller must then read the file anew.
    std::optional<TFileDigestTexts> Finish(std::uint64_t aSize);

private:
    void Read();

    const int mFd;
    std::mutex mMutex;
    std::condition_variable mWake;
    std::uint64_t mWritten = 0;  // guarded: how far the writer has got
    bool mFinal = false;         // guarded: mWritten is the file's size
    bool mStop = false;          // guarded: leave now, the digest is not wanted
    bool mFailed = false;        // guarded: a read came back short or failed
    bool mDone = false;          // guarded: the reader has hashed up to the final size
    TFileDigests mDigests;       // the reading thread's until mDone
    std::thread mThread;         // last: starts after everything above exists
};
