#include "quorvel_store/CCacheFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::store {

CCacheFile::~CCacheFile()
{
    Close();
}

bool CCacheFile::Open(const std::string& filePath)
{
    Close();
    path_ = filePath;
    // The files hold every stored message in clear text: owner only.
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return Fail("open");
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd_);
        fd_ = -1;
        if (held) {
            lastError_ = path_ + ": in use by another opener";
            return false;
        }
        return Fail("lock");
    }
    return true;
}

void CCacheFile::Close()
{
    Unmap();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::size_t CCacheFile::ReadAt(std::uint64_t position, void* buffer, std::size_t len)
{
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = ::pread(fd_, out + done, len - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            Fail("read");
            break;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool CCacheFile::WriteAt(std::uint64_t position, const void* buffer, std::size_t len)
{
    if (const int fault = writeFault_ ? writeFault_(position, len) : 0) {
        errno = fault;
        return Fail("write");
    }
    return WriteAll(position, buffer, len);
}

bool CCacheFile::WriteAll(std::uint64_t position, const void* buffer, std::size_t len)
{
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = ::pwrite(fd_, in + done, len - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = EIO;
        if (n <= 0)
            return Fail("write");
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool CCacheFile::SetByteAt(std::uint64_t position, std::uint8_t value)
{
    if (const int fault = writeFault_ ? writeFault_(position, 1) : 0) {
        errno = fault;
        return Fail("write");
    }
    if (!Mapped(position))
        return WriteAll(position, &value, 1);
    mapped_[position] = value;
    return true;
}

bool CCacheFile::Mapped(std::uint64_t position)
{
    if (position < mappedSize_)
        return true;
    std::uint64_t size = 0;
    if (fd_ < 0 || !Size(size) || position >= size)
        return false;
    if (size > mappedLength_) {
        Unmap();
        // Room to grow: the file grows by appends, and mapping it again
        // every few records would cost more than the writes it saves.
        const std::uint64_t length = std::max<std::uint64_t>(size * 2, std::uint64_t{1} << 20);
        void* at = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (at == MAP_FAILED)
            return false;
        mapped_ = static_cast<std::uint8_t*>(at);
        mappedLength_ = length;
    }
    mappedSize_ = size;
    return true;
}

void CCacheFile::Unmap()
{
    if (mapped_ != nullptr)
        ::munmap(mapped_, mappedLength_);
    mapped_ = nullptr;
    mappedLength_ = 0;
    mappedSize_ = 0;
}

bool CCacheFile::Size(std::uint64_t& size)
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return Fail("stat");
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool CCacheFile::Truncate(std::uint64_t length)
{
    // Pages past the new end must never be touched again.
    mappedSize_ = std::min(mappedSize_, length);
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0)
        return Fail("truncate");
    return true;
}

bool CCacheFile::Sync()
{
    if (::fsync(fd_) != 0)
        return Fail("sync");
    return true;
}

bool CCacheFile::Fail(const char* what)
{
    lastError_ = path_ + ": " + what + ": " + std::strerror(errno);
    return false;
}

} // namespace quorvel::store
