#include "quorvel_client/CFileChunker.h"

#include <algorithm>
#include <system_error>

namespace quorvel::client {

bool CFileChunker::Open(const std::filesystem::path& path, std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "not a readable file: " + path.string();
        return false;
    }
    const auto size = std::filesystem::file_size(path, ec);
    in_.close();
    in_.clear();
    in_.open(path, std::ios::binary);
    if (ec || !in_) {
        error = "cannot open " + path.string();
        return false;
    }
    name_ = path.filename().string();
    size_ = size;
    offset_ = 0;
    done_ = false;
    return true;
}

bool CFileChunker::Next(Chunk& chunk, std::string& error)
{
    if (done_)
        return false;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, size_ - offset_));
    chunk.offset = offset_;
    chunk.bytes.resize(want);
    if (want > 0 && !in_.read(chunk.bytes.data(), static_cast<std::streamsize>(want))) {
        error = "reading " + name_ + " failed at byte " + std::to_string(offset_);
        done_ = true;
        return false;
    }
    offset_ += want;
    chunk.last = offset_ >= size_;
    done_ = chunk.last;
    return true;
}

} // namespace quorvel::client
