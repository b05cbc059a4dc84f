#pragma once

#include <corvane/CFrame.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

using corvane::CFrame;

// A plain TCP connection to 127.0.0.1 that sends whatever bytes it is given,
// well-formed or not: a hostile client. Sends give up after two seconds
// without progress. One thread at a time.
class RawConnection {
public:
    explicit RawConnection(unsigned port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        timeval limit{2, 0};
        connected_ = fd_ >= 0 && ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0 &&
                     ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawConnection()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool Connected() const { return connected_; }

    // Sends every byte; false when the peer closed the connection or took
    // nothing for two seconds.
    bool Send(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // True when the peer sends anything (or closes) within `limit`.
    bool AnswersWithin(std::chrono::milliseconds limit)
    {
        pollfd fd{fd_, POLLIN, 0};
        return ::poll(&fd, 1, static_cast<int>(limit.count())) > 0;
    }

    // True when the peer closes the connection within `limit`; what it
    // sends meanwhile is read and dropped.
    bool ClosedByPeerWithin(std::chrono::milliseconds limit)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        char buffer[4096];
        while (std::chrono::steady_clock::now() < until) {
            if (!AnswersWithin(std::chrono::milliseconds(50)))
                continue;
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                return true;
        }
        return false;
    }

    // A frame header with `flag` in place of the proper one.
    static std::string Header(std::uint32_t length, std::string_view flag = CFrame::kFlag)
    {
        std::uint8_t header[CFrame::kHeaderSize];
        CFrame::BuildHeader(header, length);
        std::memset(header, 0, 12);
        std::memcpy(header, flag.data(), std::min<std::size_t>(flag.size(), 12));
        return std::string(reinterpret_cast<const char*>(header), sizeof header);
    }
    // A well-formed frame around `payload`.
    static std::string Frame(std::string_view payload)
    {
        return Header(static_cast<std::uint32_t>(payload.size())) + std::string(payload);
    }

private:
    int fd_;
    bool connected_ = false;
};
