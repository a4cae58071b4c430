#include "platform/block_writer.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

bool TBlockWriter::Append(const void* aData, std::size_t aSize)
{
    if (mFailed)
        return false;
    const auto* data = static_cast<const std::uint8_t*>(aData);
    // A piece as big as a block goes out as it is, without a copy, unless
    // the sink must see it.
    if (mFill == 0 && aSize >= kBlockSize && !mSink)
        return WriteOut(data, aSize);
    while (aSize > 0) {
        if (!mBuffer)
            mBuffer.reset(new std::uint8_t[kBlockSize]);  // written before it is read
        const std::size_t room = kBlockSize - mFill;
        const std::size_t take = aSize < room ? aSize : room;
        std::memcpy(mBuffer.get() + mFill, data, take);
        mFill += take;
        data += take;
        aSize -= take;
        if (mFill == kBlockSize && !Flush())
            return false;
    }
    return true;
}

bool TBlockWriter::Flush()
{
    if (mFailed)
        return false;
    const std::size_t fill = mFill;
    mFill = 0;
    if (fill == 0)
        return true;
    if (!WriteOut(mBuffer.get(), fill))
        return false;
    if (mSink)
        mBuffer = mSink(std::move(mBuffer), fill);
    return true;
}

bool TBlockWriter::WriteOut(const std::uint8_t* aData, std::size_t aSize)
{
    while (aSize > 0) {
        const ssize_t count = ::write(mFd, aData, aSize);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = ENOSPC;  // a regular file that takes nothing is full
            mFailed = true;
            return false;
        }
        aData += count;
        aSize -= static_cast<std::size_t>(count);
        mWritten += static_cast<std::uint64_t>(count);
    }
    return true;
}
