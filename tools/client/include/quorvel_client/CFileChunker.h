#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace quorvel::client {

// Reads a file as the chunks of a "trans-file" transfer.
//
// The convention (shared with CFileReceiver): every chunk carries the file's
// base name in `file`, the whole file size in `size`, the chunk's byte
// offset in `offset` (both decimal), `action` "data" on every chunk but the
// last and "end" on the last, and the chunk's bytes in base64 as the text.
// A chunk holds at most kChunkBytes bytes, whose base64 text is at most
// 256 KiB; chunks are sent in order, and an empty file is one "end" chunk
// without data. One thread at a time.
class CFileChunker {
public:
    static constexpr std::size_t kChunkBytes = 192 * 1024;
    static constexpr const char* kActionData = "data";
    static constexpr const char* kActionEnd = "end";

    struct Chunk {
        std::uint64_t offset = 0;
        std::string bytes;
        bool last = false;
        const char* Action() const { return last ? kActionEnd : kActionData; }
    };

    // Opens a regular file; false with `error` set when it cannot be read.
    bool Open(const std::filesystem::path& path, std::string& error);
    // The file's base name (as the file system spells it).
    const std::string& Name() const { return name_; }
    std::uint64_t Size() const { return size_; }
    // Reads the next chunk into `chunk`. False when every chunk was read, or
    // on a read error (then `error` is set).
    bool Next(Chunk& chunk, std::string& error);

private:
    std::ifstream in_;
    std::string name_;
    std::uint64_t size_ = 0;
    std::uint64_t offset_ = 0;
    bool done_ = true;
};

} // namespace quorvel::client
