#include "quorvel_client/CBase64.h"
#include "quorvel_client/CFileChunker.h"
#include "quorvel_client/CFileReceiver.h"

#include "TestText.h"

#include "quorvel_test_support/TempFolder.h"

#include <marlune/CMessageTransFile.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

using marlune::CMessageTransFile;
using quorvel::client::CBase64;
using quorvel::client::CFileChunker;
using quorvel::client::CFileReceiver;
using quorvel::testsupport::TempFolder;

namespace fs = std::filesystem;

namespace {

class FileTransferTest : public ::testing::Test {
protected:
    FileTransferTest() { fs::create_directories(folder / "in"); }

    fs::path Write(const std::string& name, std::size_t size)
    {
        std::string bytes(size, '\0');
        std::mt19937 random(static_cast<unsigned>(size));
        for (char& c : bytes)
            c = static_cast<char>(random());
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }


    // The chunks of a file as the client sends them.
    std::vector<CMessageTransFile> Chunks(const fs::path& path, const std::string& source = "alice@hub")
    {
        CFileChunker chunker;
        std::string error;
        EXPECT_TRUE(chunker.Open(path, error)) << error;
        std::vector<CMessageTransFile> out;
        CFileChunker::Chunk chunk;
        while (chunker.Next(chunk, error)) {
            CMessageTransFile& m = out.emplace_back();
            m.source = source;
            m.file = chunker.Name();
            m.size = std::to_string(chunker.Size());
            m.offset = std::to_string(chunk.offset);
            m.action = chunk.Action();
            m.data = CBase64::Encode(chunk.bytes);
        }
        EXPECT_EQ(error, "");
        return out;
    }

    TempFolder temp{"quorvel-client-files"};
    const fs::path& folder = temp.Path();
};

} // namespace

TEST_F(FileTransferTest, ChunksCoverTheFileInOrderWithinTheSizeLimit)
{
    const std::size_t sizes[] = {0, 1, CFileChunker::kChunkBytes, CFileChunker::kChunkBytes + 1, 1024 * 1024};
    for (std::size_t size : sizes) {
        const auto chunks = Chunks(Write("f", size));
        ASSERT_FALSE(chunks.empty());
        EXPECT_EQ(chunks.size(), size == 0 ? 1 : (size + CFileChunker::kChunkBytes - 1) / CFileChunker::kChunkBytes);
        std::uint64_t next = 0;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(chunks[i].offset, std::to_string(next));
            EXPECT_LE(chunks[i].data.size(), 256u * 1024);
            EXPECT_EQ(chunks[i].action, i + 1 == chunks.size() ? "end" : "data");
            std::string bytes;
            ASSERT_TRUE(CBase64::Decode(chunks[i].data, bytes));
            next += bytes.size();
        }
        EXPECT_EQ(next, size);
    }
}

TEST_F(FileTransferTest, ReceiverRebuildsTheFileInAnyOrder)
{
    const fs::path source = Write("report.bin", 1024 * 1024 + 5);
    auto chunks = Chunks(source);
    std::swap(chunks.front(), chunks.back());
    CFileReceiver receiver(folder / "in");
    for (std::size_t i = 0; i + 1 < chunks.size(); ++i)
        EXPECT_EQ(receiver.Accept(chunks[i]).status, CFileReceiver::Status::kStored);
    EXPECT_EQ(receiver.Accept(chunks[0]).status, CFileReceiver::Status::kIgnored);
    const auto done = receiver.Accept(chunks.back());
    ASSERT_EQ(done.status, CFileReceiver::Status::kSaved) << done.detail;
    EXPECT_EQ(done.saved, folder / "in" / "report.bin");
    EXPECT_EQ(ReadFile(done.saved), ReadFile(source));
    EXPECT_FALSE(fs::exists(folder / "in" / "report.bin.part"));
}

TEST_F(FileTransferTest, ReceiverNeverOverwritesAndDropsUnfinishedParts)
{
    const auto chunks = Chunks(Write("same.txt", 10));
    CFileReceiver receiver(folder / "in");
    std::ofstream(folder / "in" / "same.txt") << "mine";
    const auto first = receiver.Accept(chunks[0]);
    EXPECT_EQ(first.saved, folder / "in" / "same.txt.1");
    EXPECT_EQ(receiver.Accept(chunks[0]).saved, folder / "in" / "same.txt.2");
    EXPECT_EQ(ReadFile(folder / "in" / "same.txt"), "mine");
    {
        CFileReceiver partial(folder / "in");
        const auto big = Chunks(Write("big.bin", CFileChunker::kChunkBytes * 2));
        EXPECT_EQ(partial.Accept(big[0]).status, CFileReceiver::Status::kStored);
        EXPECT_TRUE(fs::exists(folder / "in" / "big.bin.part"));
    }
    EXPECT_FALSE(fs::exists(folder / "in" / "big.bin.part"));
}

TEST_F(FileTransferTest, ReceiverRefusesHostileChunks)
{
    CFileReceiver receiver(folder / "in");
    CMessageTransFile chunk;
    chunk.source = "mallory@hub";
    chunk.size = "4";
    chunk.offset = "0";
    chunk.data = CBase64::Encode("evil");
    for (const char* name : {"", ".", "..", "bad\nname"}) {
        chunk.file = name;
        EXPECT_EQ(receiver.Accept(chunk).status, CFileReceiver::Status::kRefused) << name;
    }
    chunk.file = "../../escape.txt";
    const auto saved = receiver.Accept(chunk);
    ASSERT_EQ(saved.status, CFileReceiver::Status::kSaved);
    EXPECT_EQ(saved.saved, folder / "in" / "escape.txt");

    chunk.file = "x";
    chunk.size = "3";
    EXPECT_EQ(receiver.Accept(chunk).detail, "chunk lies beyond the announced size");
    chunk.size = "-1";
    EXPECT_EQ(receiver.Accept(chunk).status, CFileReceiver::Status::kRefused);
    chunk.size = "8";
    chunk.data = "not base64!";
    EXPECT_EQ(receiver.Accept(chunk).detail, "chunk is not base64");
    chunk.data = CBase64::Encode("abcd");
    EXPECT_EQ(receiver.Accept(chunk).status, CFileReceiver::Status::kStored);
    chunk.offset = "2";
    EXPECT_EQ(receiver.Accept(chunk).detail, "chunk overlaps bytes already received");
}
