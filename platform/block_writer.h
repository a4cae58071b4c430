#pragma once
// Writes a stream of pieces of any size to a file descriptor in large blocks:
// a transfer hands over tens of kilobytes at a time, and each write call to a
// file costs about the same whether it carries 8 KiB or half a megabyte.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class TBlockWriter {
public:
    // Not larger: the kernel sizes its page-cache folios by the write, and
    // on a virtual machine that hands freed memory back to its host, folios
    // of a megabyte came from memory the host had to fault in again page by
    // page. Writing 1 GiB there took 2.1 s in 1 MiB writes and 0.2 s in
    // 512 KiB ones (dd, three rounds each); where memory stays with the
    // machine both take 0.2 s.
    static constexpr std::size_t kBlockSize = 512 * 1024;

    // aFd is not owned and may have been opened in any way that allows
    // writing; writing starts at its current offset.
    explicit TBlockWriter(int aFd) : mFd(aFd) {}
    TBlockWriter(const TBlockWriter&) = delete;
    TBlockWriter& operator=(const TBlockWriter&) = delete;

    // Sees each block once it is written, in file order (its first aSize
    // bytes), and returns a block of kBlockSize bytes to fill next: a digest
    // that hashes the blocks beside the writer keeps them meanwhile.
    using TBlock = std::unique_ptr<std::uint8_t[]>;
    using TBlockSink = std::function<TBlock(TBlock aWritten, std::size_t aSize)>;
    // Before the first Append. Every byte then goes through a block.
    void SetBlockSink(TBlockSink aSink) { mSink = std::move(aSink); }

    // False when a write failed; errno tells why and the writer stays failed.
    bool Append(const void* aData, std::size_t aSize);
    // Hands every buffered byte to the kernel.
    bool Flush();
    // Bytes handed to the kernel so far, so readers of the file may go this far.
    std::uint64_t Written() const { return mWritten; }

private:
    bool WriteOut(const std::uint8_t* aData, std::size_t aSize);

    const int mFd;
    TBlockSink mSink;
    TBlock mBuffer;  // made at the first piece that is kept
    std::size_t mFill = 0;
    std::uint64_t mWritten = 0;
    bool mFailed = false;
};
