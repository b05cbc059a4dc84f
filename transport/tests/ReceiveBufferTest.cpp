#include "corvane/CReceiveBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using corvane::CReceiveBuffer;

namespace {

std::string Pattern(std::size_t size, std::size_t seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed) % 251);
    return bytes;
}

std::string Held(const CReceiveBuffer& buffer)
{
    return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

const std::uint8_t* Bytes(const std::string& text)
{
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

} // namespace

TEST(ReceiveBuffer, BytesSurviveGrowthIntoAMappedBlockAndBack)
{
    CReceiveBuffer buffer;
    std::string expected;
    // Pieces of odd sizes, appended and written straight into the room, in
    // turn, until the block is a mapped one several large pages long.
    for (std::size_t i = 0; expected.size() < 3 * CReceiveBuffer::kMappedFrom; ++i) {
        const std::string piece = Pattern(40000 + i * 977, i);
        if (i % 2 == 0) {
            buffer.Append(Bytes(piece), piece.size());
        } else {
            buffer.Reserve(buffer.Size() + piece.size());
            ASSERT_GE(buffer.Room(), piece.size());
            std::memcpy(buffer.Tail(), piece.data(), piece.size());
            buffer.Commit(piece.size());
        }
        expected += piece;
        ASSERT_EQ(buffer.Size(), expected.size());
    }
    EXPECT_GE(buffer.Capacity(), CReceiveBuffer::kMappedFrom);
    EXPECT_EQ(Held(buffer), expected);

    // Dropping the front keeps the rest in order; shrinking keeps it too,
    // in a block of its own size.
    const std::size_t dropped = expected.size() - 12345;
    buffer.Consume(dropped);
    buffer.Shrink();
    EXPECT_EQ(buffer.Capacity(), 12345u);
    EXPECT_EQ(Held(buffer), expected.substr(dropped));

    buffer.Release();
    EXPECT_TRUE(buffer.Empty());
    EXPECT_EQ(buffer.Capacity(), 0u);
    buffer.Append(Bytes("again"), 5);
    EXPECT_EQ(Held(buffer), "again");
}

TEST(ReceiveBuffer, MappedBlocksAreAlignedToLargePagesAndKeepBytesWhenMoved)
{
    CReceiveBuffer buffer;
    const std::string head = Pattern(1000, 7);
    buffer.Append(Bytes(head), head.size());
    buffer.Reserve(CReceiveBuffer::kMappedFrom + 1);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.Data()) % CReceiveBuffer::kMappedFrom, 0u);
    EXPECT_EQ(buffer.Capacity() % CReceiveBuffer::kMappedFrom, 0u);
    buffer.Reserve(5 * CReceiveBuffer::kMappedFrom);
    EXPECT_EQ(Held(buffer), head);
    // Every byte of the room is usable.
    std::memset(buffer.Tail(), 'z', buffer.Room());
    buffer.Commit(buffer.Room());
    EXPECT_EQ(buffer.Size(), buffer.Capacity());
    EXPECT_EQ(Held(buffer).substr(0, head.size()), head);
}
