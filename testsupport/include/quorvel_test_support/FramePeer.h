#pragma once

#include "corvane/CFrame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::testsupport {

// A stand-in for another server: listens on a free 127.0.0.1 port and
// records the payload of every frame it receives, one connection at a time.
class FramePeer {
public:
    // port 0: a free port chosen at random.
    explicit FramePeer(unsigned port = 0)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int reuse = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FramePeer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            ::close(listener_);
    }
    FramePeer(const FramePeer&) = delete;
    FramePeer& operator=(const FramePeer&) = delete;

    unsigned Port() const { return port_; }
    std::vector<std::string> Payloads()
    {
        std::lock_guard lock(mutex_);
        return payloads_;
    }

private:
    bool Readable(int fd)
    {
        pollfd ready{fd, POLLIN, 0};
        return ::poll(&ready, 1, 50) > 0;
    }
    void Serve()
    {
        while (!stop_) {
            if (!Readable(listener_))
                continue;
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0)
                continue;
            std::string received;
            while (!stop_) {
                if (!Readable(connection))
                    continue;
                char chunk[4096];
                const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
                if (n <= 0)
                    break;
                received.append(chunk, static_cast<std::size_t>(n));
                TakeFrames(received);
            }
            ::close(connection);
        }
    }
    void TakeFrames(std::string& received)
    {
        while (received.size() >= corvane::CFrame::kHeaderSize) {
            std::uint32_t length = 0;
            std::memcpy(&length, received.data() + 12, sizeof length);
            if (received.size() < corvane::CFrame::kHeaderSize + length)
                return;
            std::lock_guard lock(mutex_);
            payloads_.push_back(received.substr(corvane::CFrame::kHeaderSize, length));
            received.erase(0, corvane::CFrame::kHeaderSize + length);
        }
    }

    int listener_ = -1;
    unsigned port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> payloads_;
};

// A stand-in for a hung server on a free 127.0.0.1 port. kNeverAccepts: its
// queue of connections is full and nobody accepts, so a connect gets no
// answer at all. kNeverReads: it accepts every connection and never reads,
// with a small receive buffer, so a large frame stalls half-way.
class HungPeer {
public:
    enum class Mode { kNeverAccepts, kNeverReads };

    explicit HungPeer(Mode mode)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int smallBuffer = 4096;
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &smallBuffer, sizeof smallBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        const int backlog = mode == Mode::kNeverAccepts ? 0 : 64;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listener_, backlog) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
        if (mode == Mode::kNeverAccepts)
            FillQueue(address);
        else
            thread_ = std::thread([this] { Accept(); });
    }
    ~HungPeer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        for (const int fd : held_)
            ::close(fd);
        if (listener_ >= 0)
            ::close(listener_);
    }
    HungPeer(const HungPeer&) = delete;
    HungPeer& operator=(const HungPeer&) = delete;

    unsigned Port() const { return port_; }

private:
    // Connects until a connect stays unanswered: the queue is full then.
    void FillQueue(const sockaddr_in& address)
    {
        for (int i = 0; i < 16; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            held_.push_back(fd);
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            pollfd done{fd, POLLOUT, 0};
            if (::poll(&done, 1, 500) == 0)
                return;
        }
    }
    void Accept()
    {
        while (!stop_) {
            pollfd ready{listener_, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0)
                continue;
            const int connection = ::accept(listener_, nullptr, nullptr);
            std::lock_guard lock(mutex_);
            if (connection >= 0)
                held_.push_back(connection);
        }
    }

    int listener_ = -1;
    unsigned port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<int> held_;
};

} // namespace quorvel::testsupport
