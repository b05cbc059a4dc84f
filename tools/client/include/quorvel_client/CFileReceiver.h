#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace marlune {
class CMessageTransFile;
}

namespace quorvel::client {

// Stores the files other users send as "trans-file" chunks (the convention
// is CFileChunker's) in one folder. A transfer is known by its sender and
// file name. Chunks may come in any order; a chunk whose offset was already
// stored is ignored, one that overlaps stored bytes otherwise is refused. The bytes go to a part file ("NAME.part") which, once
// every byte of the announced size arrived, is renamed to NAME, or to
// "NAME.1", "NAME.2"... when NAME exists: nothing is overwritten. Names from
// the peer are reduced to their last path component; ".", ".." and names
// with control characters are refused. Part files of unfinished transfers
// are removed when the receiver is destroyed. One thread at a time.
class CFileReceiver {
public:
    // Transfers in progress at once; a chunk starting another is refused.
    static constexpr std::size_t kMaxTransfers = 16;
    // Largest file size accepted (1 TiB).
    static constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 40;

    enum class Status { kStored, kSaved, kIgnored, kRefused };
    struct Outcome {
        Status status = Status::kRefused;
        std::string detail;           // why a chunk was refused
        std::filesystem::path saved;  // the finished file (kSaved)
        std::uint64_t size = 0;       // the announced file size
    };

    explicit CFileReceiver(std::filesystem::path folder);
    ~CFileReceiver();
    CFileReceiver(const CFileReceiver&) = delete;
    CFileReceiver& operator=(const CFileReceiver&) = delete;

    // Takes one chunk; its texts are GBK, as parsed.
    Outcome Accept(const marlune::CMessageTransFile& chunk);

    // The file name to store a peer's name under (UTF-8), or "" when the
    // name cannot be used.
    static std::string SafeName(std::string_view utf8Name);

private:
    struct Transfer {
        int fd = -1;
        std::filesystem::path part;
        std::string name;
        std::uint64_t size = 0;
        std::uint64_t received = 0;
        std::map<std::uint64_t, std::size_t> chunks;  // offset -> length stored
    };

    Outcome Refuse(std::string detail) const;
    Transfer* Start(const std::string& key, const std::string& name, std::uint64_t size, std::string& error);
    Outcome Finish(const std::string& key);
    // Forgets a transfer and removes its part file.
    void Drop(const std::string& key);
    static bool Overlaps(const Transfer& transfer, std::uint64_t offset, std::size_t length);

    std::filesystem::path folder_;
    std::map<std::string, Transfer> transfers_;
};

} // namespace quorvel::client
