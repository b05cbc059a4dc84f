#include "AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace quorvel::directory {

namespace {

std::string Failure(const char* step, const std::string& file, int code)
{
    return std::string(step) + " " + file + ": " + std::error_code(code, std::generic_category()).message();
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Makes the rename itself durable. The new file is already in place when
// this runs, so a failure here is not reported as a failed replace.
void SyncFolderOf(const std::string& path)
{
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty())
        folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes, flushes and closes `fd`, which is always closed on return.
bool FillTemporary(int fd, const std::string& temporary, std::string_view bytes, mode_t mode,
                   std::string& error)
{
    const char* step = nullptr;
    if (::fchmod(fd, mode) != 0)
        step = "chmod";
    else if (!WriteAll(fd, bytes))
        step = "write";
    else if (::fsync(fd) != 0)
        step = "fsync";
    const int code = errno;
    if (::close(fd) != 0 && step == nullptr) {
        error = Failure("close", temporary, errno);
        return false;
    }
    if (step != nullptr) {
        error = Failure(step, temporary, code);
        return false;
    }
    return true;
}

} // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                           std::string& error)
{
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        error = Failure("create", temporary, errno);
        return false;
    }
    if (!FillTemporary(fd, temporary, bytes, mode, error)) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = Failure("rename", temporary + " to " + path, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolderOf(path);
    return true;
}

} // namespace quorvel::directory
