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

// A stand-in for another server: listens on a free 127.0.0.1 port and
// records the payload of every frame it receives, one connection at a time.
class FramePeer {
public:
    FramePeer()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
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

    // A free port with nobody listening on it (probed, then released).
    static unsigned FreePort()
    {
        FramePeer probe;
        const unsigned port = probe.Port();
        return port;
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
        while (received.size() >= CFrame::kHeaderSize) {
            std::uint32_t length = 0;
            std::memcpy(&length, received.data() + 12, sizeof length);
            if (received.size() < CFrame::kHeaderSize + length)
                return;
            std::lock_guard lock(mutex_);
            payloads_.push_back(received.substr(CFrame::kHeaderSize, length));
            received.erase(0, CFrame::kHeaderSize + length);
        }
    }

    int listener_ = -1;
    unsigned port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> payloads_;
};
