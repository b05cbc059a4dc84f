#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quorvel::store {

// One cache file opened for reading and writing, created when missing (with
// mode 0600: it holds messages in clear text), never truncated on opening, and locked against every other opener (another
// process or another CCacheFile) for as long as it stays open. Reads and
// writes name their position; nothing depends on a shared file position.
// Not thread-safe: the owner serialises every call.
class CCacheFile {
public:
    CCacheFile() = default;
    ~CCacheFile();
    CCacheFile(const CCacheFile&) = delete;
    CCacheFile& operator=(const CCacheFile&) = delete;

    // Returns false with LastError() set when the file cannot be opened or is
    // held by another opener.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fd >= 0; }

    // Reads up to len bytes at position; returns how many were read (fewer at
    // the end of the file or on an error).
    std::size_t ReadAt(std::uint64_t position, void* buffer, std::size_t len);
    // Writes all len bytes at position or returns false.
    bool WriteAt(std::uint64_t position, const void* buffer, std::size_t len);
    // Current length in bytes; false with LastError() set on an error.
    bool Size(std::uint64_t& size);
    bool Truncate(std::uint64_t length);
    // Makes what was written reach the disk.
    bool Sync();

    const std::string& LastError() const { return lastError; }

    // Tells, for each write (position, length), the error number it fails
    // with, as a failing disk would; 0 lets it through. Tests inject I/O
    // errors with it; empty: no fault.
    using WriteFault = std::function<int(std::uint64_t position, std::size_t len)>;
    void SetWriteFault(WriteFault fault) { writeFault = std::move(fault); }

private:
    bool Fail(const char* what);

    int fd = -1;
    std::string path;
    std::string lastError;
    WriteFault writeFault;
};

} // namespace quorvel::store
