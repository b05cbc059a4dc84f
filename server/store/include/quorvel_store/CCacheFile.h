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
    bool IsOpen() const { return fd_ >= 0; }

    // Reads up to len bytes at position; returns how many were read (fewer at
    // the end of the file or on an error).
    std::size_t ReadAt(std::uint64_t position, void* buffer, std::size_t len);
    // Writes all len bytes at position or returns false.
    bool WriteAt(std::uint64_t position, const void* buffer, std::size_t len);
    // Writes one byte of what the file already holds (position inside the
    // file) through a shared mapping of the file: no system call once the
    // file is mapped, for small marks written often. The byte reaches the
    // disk as a written one does; without a mapping it is written by
    // WriteAt. False as WriteAt.
    bool SetByteAt(std::uint64_t position, std::uint8_t value);
    // Current length in bytes; false with LastError() set on an error.
    bool Size(std::uint64_t& size);
    bool Truncate(std::uint64_t length);
    // Makes what was written reach the disk.
    bool Sync();

    const std::string& LastError() const { return lastError_; }

    // Tells, for each write (position, length), the error number it fails
    // with, as a failing disk would; 0 lets it through. Tests inject I/O
    // errors with it; empty: no fault.
    using WriteFault = std::function<int(std::uint64_t position, std::size_t len)>;
    void SetWriteFault(WriteFault fault) { writeFault_ = std::move(fault); }

private:
    bool Fail(const char* what);
    bool WriteAll(std::uint64_t position, const void* buffer, std::size_t len);
    // Makes `position` lie inside the mapped part of the file; false when it
    // lies past the file's end or the file cannot be mapped.
    bool Mapped(std::uint64_t position);
    void Unmap();

    int fd_ = -1;
    std::uint8_t* mapped_ = nullptr;
    std::uint64_t mappedLength_ = 0;  // the mapping, which may pass the file's end
    std::uint64_t mappedSize_ = 0;    // the part of it inside the file: the only part touched
    std::string path_;
    std::string lastError_;
    WriteFault writeFault_;
};

} // namespace quorvel::store
