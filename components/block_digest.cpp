#include "components/block_digest.h"

TBlockDigest::TBlockDigest(std::size_t aBlockSize, bool aWithSha256)
    : mBlockSize(aBlockSize), mDigests(aWithSha256)
{
}

TBlockDigest::~TBlockDigest()
{
    if (!mThread.joinable())
        return;
    {
        std::lock_guard lock(mMutex);
        mStop = true;
    }
    mWake.notify_all();
    mThread.join();
}

TBlockDigest::TBlock TBlockDigest::Exchange(TBlock aBlock, std::size_t aSize)
{
    if (!mThread.joinable()) {
        // Nothing is waiting to be hashed before it, so the order holds.
        if (aSize < mBlockSize) {
            if (aBlock && aSize > 0)
                mDigests.Update(aBlock.get(), aSize);
            return aBlock ? std::move(aBlock) : TBlock(new std::uint8_t[mBlockSize]);
        }
        mThread = std::thread([this] { Hash(); });
    }
    std::unique_lock lock(mMutex);
    if (aBlock && aSize > 0)
        mWaiting.push_back({std::move(aBlock), aSize});
    else if (aBlock)
        mEmpty.push_back(std::move(aBlock));
    mWake.notify_all();
    if (mEmpty.empty() && mMade + 1 < kBlocksInFlight) {
        ++mMade;
        lock.unlock();
        return TBlock(new std::uint8_t[mBlockSize]);  // filled before it is read
    }
    mWake.wait(lock, [this] { return !mEmpty.empty(); });
    TBlock block = std::move(mEmpty.back());
    mEmpty.pop_back();
    return block;
}

TFileDigestTexts TBlockDigest::Finish()
{
    if (!mThread.joinable())
        return mDigests.Final();
    std::unique_lock lock(mMutex);
    mWake.wait(lock, [this] { return mWaiting.empty() && !mHashing; });
    return mDigests.Final();
}

void TBlockDigest::Hash()
{
    std::unique_lock lock(mMutex);
    for (;;) {
        mWake.wait(lock, [this] { return mStop || !mWaiting.empty(); });
        if (mStop)
            return;
        THandedBlock handed = std::move(mWaiting.front());
        mWaiting.pop_front();
        mHashing = true;
        lock.unlock();
        mDigests.Update(handed.block.get(), handed.size);
        lock.lock();
        mHashing = false;
        mEmpty.push_back(std::move(handed.block));
        mWake.notify_all();
    }
}
