#include "CRawConnection.h"

#include "corvane/CFrame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quorvel::soak {

using corvane::CFrame;

namespace {

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

CRawConnection::~CRawConnection()
{
    Close();
}

bool CRawConnection::Connect(int port, int receiveBuffer, const char* from)
{
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    timeval second{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second);
    if (receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (from != nullptr) {
        sockaddr_in local = Loopback(0);
        if (::inet_pton(AF_INET, from, &local.sin_addr) != 1 ||
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
    return true;
}

bool CRawConnection::Send(std::string_view bytes)
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

bool CRawConnection::SendFrame(std::string_view payload)
{
    return Send(Header(static_cast<std::uint32_t>(payload.size())) + std::string(payload));
}

bool CRawConnection::SendPartOfFrame(std::uint32_t length, std::size_t sent)
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

bool CRawConnection::Drain()
{
    char buffer[65536];
    while (fd_ >= 0) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
    return false;
}

bool CRawConnection::ReadSome(std::string& into, std::size_t limit)
{
    char buffer[65536];
    while (fd_ >= 0 && limit > 0) {
        const ssize_t n = ::recv(fd_, buffer, std::min(limit, sizeof buffer), MSG_DONTWAIT);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            limit -= static_cast<std::size_t>(n);
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
    return fd_ >= 0;
}

void CRawConnection::ShutdownWrite()
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

void CRawConnection::Close(bool reset)
{
    if (fd_ < 0)
        return;
    if (reset) {
        linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(fd_);
    fd_ = -1;
}

std::string CRawConnection::Header(std::uint32_t length)
{
    std::string header(CFrame::kHeaderSize, '\0');
    CFrame::BuildHeader(reinterpret_cast<std::uint8_t*>(header.data()), length);
    return header;
}

} // namespace quorvel::soak
