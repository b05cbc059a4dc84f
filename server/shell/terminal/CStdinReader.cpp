#include "CStdinReader.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace quorvel::terminal {

CStdinReader::CStdinReader(std::function<void(std::string)> onLine) : onLine_(std::move(onLine))
{
    if (::pipe2(wake_, O_CLOEXEC) == 0)
        thread_ = std::thread([this] { Run(); });
}

CStdinReader::~CStdinReader()
{
    if (wake_[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
    }
    if (thread_.joinable())
        thread_.join();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

void CStdinReader::Run()
{
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            Deliver(pending, true);
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        Deliver(pending, false);
    }
}

void CStdinReader::Deliver(std::string& pending, bool flushAll)
{
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = pending.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        onLine_(line.substr(0, kMaxLine));
    }
    pending.erase(0, start);
    if (pending.size() > kMaxLine)
        pending.resize(kMaxLine);
    if (flushAll && !pending.empty()) {
        onLine_(pending);
        pending.clear();
    }
}

} // namespace quorvel::terminal
