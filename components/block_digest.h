#pragma once
// Digests of a file taken from the blocks its writer hands to the kernel, on
// a thread of their own: hashing runs beside the transfer, and when the last
// byte is written only the last blocks are left. The writer gives each
// written block over and takes an empty one back, so the same few blocks go
// round and no byte is copied.
//
// These are the digests of the bytes written, which are the file's bytes as
// long as nobody else writes to it: the caller makes sure of that before it
// takes them for the file's.
//
// Threads: everything here belongs to the writer's thread; the hashing runs
// on the object's own, started at the first full block. A file smaller than
// a block is hashed on the writer's thread: for a few kilobytes a thread's
// start and hand-over cost more than the hashing.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "components/file_digests.h"

class TBlockDigest {
public:
    using TBlock = std::unique_ptr<std::uint8_t[]>;

    // Blocks handed out are aBlockSize bytes long. The writer's own first
    // block and kBlocksInFlight - 1 more go round at most.
    static constexpr std::size_t kBlocksInFlight = 4;
    TBlockDigest(std::size_t aBlockSize, bool aWithSha256);
    // Stops the hashing and throws the partial digest away.
    ~TBlockDigest();
    TBlockDigest(const TBlockDigest&) = delete;
    TBlockDigest& operator=(const TBlockDigest&) = delete;

    // aBlock's first aSize bytes are the file's next bytes. Returns an empty
    // block to fill next; waits while every other block is being hashed.
    TBlock Exchange(TBlock aBlock, std::size_t aSize);
    // Waits for the blocks handed over and returns the digests of all their
    // bytes in the order given.
    TFileDigestTexts Finish();

private:
    struct THandedBlock {
        TBlock block;
        std::size_t size = 0;
    };
    void Hash();

    const std::size_t mBlockSize;
    std::mutex mMutex;
    std::condition_variable mWake;
    std::deque<THandedBlock> mWaiting;  // guarded: written, not yet hashed
    std::vector<TBlock> mEmpty;         // guarded: hashed, free for the writer
    std::size_t mMade = 0;              // guarded: blocks allocated here
    bool mHashing = false;              // guarded: the thread holds a block
    bool mStop = false;                 // guarded
    TFileDigests mDigests;              // the hashing thread's while it runs
    std::thread mThread;                // started by the writer's thread, which alone looks at it
};
