#include "quorvel_test_support/FreePort.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvel::testsupport {

namespace {

constexpr unsigned kLowestPort = 2000;
constexpr int kAttempts = 100;

// Binds fd to 127.0.0.1 at a port the kernel picks; the port, 0 on failure.
unsigned BindAnyPort(int fd)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

} // namespace

ListeningSocket::ListeningSocket() : fd_(::socket(AF_INET, SOCK_STREAM, 0))
{
    const unsigned port = BindAnyPort(fd_);
    if (port != 0 && ::listen(fd_, 16) == 0)
        port_ = port;
}

ListeningSocket::~ListeningSocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

unsigned FreePort()
{
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const unsigned port = BindAnyPort(fd);
        if (fd >= 0)
            ::close(fd);
        if (port > kLowestPort)
            return port;
    }
    return 0;
}

} // namespace quorvel::testsupport
