#include "quorvel_test_support/RawConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quorvel::testsupport {

using corvane::CFrame;

namespace {

sockaddr_in Loopback(unsigned port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Milliseconds left until deadline, 0 when it has passed.
int Left(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

bool WouldBlock(ssize_t n)
{
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

} // namespace

RawConnection::~RawConnection()
{
    Close();
}

bool RawConnection::Connect(unsigned port, const Options& options)
{
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    // The send time limit bounds the connect too.
    const auto stall = options.stall.count();
    timeval limit{static_cast<time_t>(stall / 1000), static_cast<suseconds_t>(stall % 1000 * 1000)};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (options.receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer, sizeof options.receiveBuffer);
    if (options.from != nullptr) {
        sockaddr_in local = Loopback(0);
        if (::inet_pton(AF_INET, options.from, &local.sin_addr) != 1 ||
            ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            Close();
            return false;
        }
    }
    const sockaddr_in address = Loopback(port);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Close();
        return false;
    }
    // What a test sends goes out at once, not held back to fill a segment.
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

bool RawConnection::Send(std::string_view bytes)
{
    while (fd_ >= 0 && !bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return fd_ >= 0;
}

bool RawConnection::SendFrame(std::string_view payload)
{
    return Send(Frame(payload));
}

bool RawConnection::SendPartOfFrame(std::uint32_t length, std::size_t sent)
{
    static const std::string filler(1 << 20, 'x');
    bool open = Send(Header(length));
    while (open && sent > 0) {
        const std::size_t n = std::min(sent, filler.size());
        open = Send(std::string_view(filler).substr(0, n));
        sent -= n;
    }
    return open;
}

bool RawConnection::Buffer(std::size_t size, std::chrono::steady_clock::time_point deadline)
{
    char chunk[65536];
    while (fd_ >= 0 && received_.size() < size) {
        pollfd ready{fd_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, Left(deadline));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return false;
        const ssize_t n = ::recv(fd_, chunk, std::min(sizeof chunk, size - received_.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        received_.append(chunk, static_cast<std::size_t>(n));
    }
    return received_.size() >= size;
}

std::string RawConnection::Take(std::size_t n)
{
    std::string taken = received_.substr(0, n);
    received_.erase(0, n);
    return taken;
}

std::optional<std::string> RawConnection::ReceiveFrame(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (!Buffer(CFrame::kHeaderSize, deadline))
        return std::nullopt;
    std::uint32_t length = 0;
    std::memcpy(&length, received_.data() + 12, sizeof length);
    if (!Buffer(CFrame::kHeaderSize + std::size_t{length}, deadline))
        return std::nullopt;
    received_.erase(0, CFrame::kHeaderSize);
    return Take(length);
}

std::string RawConnection::Read(std::size_t n, std::chrono::milliseconds limit)
{
    if (!Buffer(n, std::chrono::steady_clock::now() + limit))
        return {};
    return Take(n);
}

bool RawConnection::ReadableWithin(std::chrono::milliseconds limit)
{
    if (!received_.empty())
        return true;
    pollfd ready{fd_, POLLIN, 0};
    return fd_ >= 0 && ::poll(&ready, 1, static_cast<int>(limit.count())) > 0;
}

bool RawConnection::ClosedByPeerWithin(std::chrono::milliseconds limit, std::size_t* received)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (received)
        *received += received_.size();
    received_.clear();
    char chunk[65536];
    while (fd_ >= 0) {
        pollfd ready{fd_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, Left(deadline));
        if (polled == 0)
            return false;
        if (polled < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
        if (received)
            *received += static_cast<std::size_t>(n);
    }
    return false;
}

std::size_t RawConnection::Unread() const
{
    int count = 0;
    const bool known = fd_ >= 0 && ::ioctl(fd_, FIONREAD, &count) == 0;
    return received_.size() + (known ? static_cast<std::size_t>(count) : 0);
}

bool RawConnection::Drain()
{
    received_.clear();
    char chunk[65536];
    while (fd_ >= 0) {
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n <= 0)
            return WouldBlock(n);
    }
    return false;
}

bool RawConnection::ReadSome(std::string& into, std::size_t limit)
{
    const std::size_t buffered = std::min(limit, received_.size());
    into += Take(buffered);
    limit -= buffered;
    char chunk[65536];
    while (fd_ >= 0 && limit > 0) {
        const ssize_t n = ::recv(fd_, chunk, std::min(limit, sizeof chunk), MSG_DONTWAIT);
        if (n <= 0)
            return WouldBlock(n);
        into.append(chunk, static_cast<std::size_t>(n));
        limit -= static_cast<std::size_t>(n);
    }
    return fd_ >= 0;
}

void RawConnection::ShutdownWrite()
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

void RawConnection::Close(bool reset)
{
    received_.clear();
    if (fd_ < 0)
        return;
    if (reset) {
        const linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(fd_);
    fd_ = -1;
}

std::string RawConnection::Header(std::uint32_t length, std::string_view flag)
{
    std::string header(CFrame::kHeaderSize, '\0');
    auto* bytes = reinterpret_cast<std::uint8_t*>(header.data());
    CFrame::BuildHeader(bytes, length);
    if (flag != CFrame::kFlag) {
        std::memset(bytes, 0, 12);
        std::memcpy(bytes, flag.data(), std::min<std::size_t>(flag.size(), 12));
    }
    return header;
}

std::string RawConnection::Frame(std::string_view payload)
{
    return Header(static_cast<std::uint32_t>(payload.size())).append(payload);
}

} // namespace quorvel::testsupport
