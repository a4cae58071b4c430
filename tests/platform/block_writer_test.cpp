// The writer's blocks and what a sink beside it sees of them.

#include "platform/block_writer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/file_handles.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace {

constexpr std::size_t kBlock = TBlockWriter::kBlockSize;

struct PiecesCase {
    const char* name;
    std::vector<std::size_t> pieces;  // sizes of the pieces appended, in order
};

void PrintTo(const PiecesCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const PiecesCase kPiecesCases[] = {
    {"nothing", {}},
    {"a_few_bytes", {3}},
    {"transfer_sized_pieces", {512 << 10, 512 << 10, 512 << 10}},
    {"exactly_a_block", {kBlock}},
    // Pieces of a block or more went straight to the file once: the sink
    // must see them all the same.
    {"one_piece_bigger_than_a_block", {2 * kBlock + 3}},
    {"small_then_big_then_small", {5, kBlock + 1, 7}},
};

class BlockWriterPieces : public ::testing::TestWithParam<PiecesCase> {};

TEST_P(BlockWriterPieces, FileAndSinkGetEveryByteInOrder)
{
    for (const bool withSink : {false, true}) {
        SCOPED_TRACE(withSink ? "with a sink" : "no sink");
        ScratchFolder scratch;
        const auto path = scratch.Path() / "out.bin";
        const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        ASSERT_TRUE(fd);
        std::string seen;
        std::size_t biggest = 0;
        TBlockWriter writer(fd.Get());
        if (withSink) {
            writer.SetBlockSink([&](TBlockWriter::TBlock aBlock, std::size_t aSize) {
                seen.append(reinterpret_cast<const char*>(aBlock.get()), aSize);
                biggest = std::max(biggest, aSize);
                // The writer must fill the block it gets back, not read old bytes from it.
                std::fill_n(aBlock.get(), kBlock, std::uint8_t{0xEE});
                return aBlock;
            });
        }
        std::string appended;
        for (const std::size_t size : GetParam().pieces) {
            std::string piece(size, '\0');
            for (std::size_t i = 0; i < size; ++i)
                piece[i] = static_cast<char>('a' + (appended.size() + i) % 23);
            ASSERT_TRUE(writer.Append(piece.data(), piece.size()));
            appended += piece;
        }
        ASSERT_TRUE(writer.Flush());
        EXPECT_EQ(writer.Written(), appended.size());
        EXPECT_EQ(ReadFileBytes(path), appended);
        if (withSink) {
            EXPECT_EQ(seen, appended);
            EXPECT_LE(biggest, kBlock);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pieces, BlockWriterPieces, ::testing::ValuesIn(kPiecesCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST(BlockWriter, FullDeviceFailsAndTheSinkSeesNothingUnwritten)
{
    const UniqueFd fd(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    TBlockWriter writer(fd.Get());
    std::size_t seen = 0;
    writer.SetBlockSink([&](TBlockWriter::TBlock aBlock, std::size_t aSize) {
        seen += aSize;
        return aBlock;
    });
    const std::string piece(kBlock, 'x');
    EXPECT_FALSE(writer.Append(piece.data(), piece.size()));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(writer.Append("y", 1)) << "a failed writer stays failed";
    EXPECT_EQ(seen, 0u);
}

}  // namespace
