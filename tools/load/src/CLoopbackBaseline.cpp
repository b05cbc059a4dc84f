#include "CLoopbackBaseline.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace quorvel::load {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

} // namespace

double CLoopbackBaseline::Measure(double seconds, int perSend)
{
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (listener.Get() < 0 || ::bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener.Get(), 1) != 0 || ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&addr), &size) != 0)
        return 0;
    Fd writer(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (writer.Get() < 0 || ::connect(writer.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return 0;
    Fd reader(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (reader.Get() < 0)
        return 0;
    int one = 1;
    ::setsockopt(writer.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    const auto limit = std::chrono::duration<double>(seconds);
    std::thread sender([&writer, perSend, limit] {
        std::vector<char> chunk(static_cast<std::size_t>(kMessageSize * perSend), 'x');
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(limit);
        for (unsigned n = 0;; ++n) {
            if ((n & 255) == 0 && std::chrono::steady_clock::now() >= end)
                break;
            if (::send(writer.Get(), chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0)
                break;
        }
        ::shutdown(writer.Get(), SHUT_WR);
    });
    std::vector<char> buffer(256 * 1024);
    std::uint64_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const long n = ::recv(reader.Get(), buffer.data(), buffer.size(), 0);
        if (n <= 0)
            break;
        bytes += static_cast<std::uint64_t>(n);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sender.join();
    return elapsed > 0 ? static_cast<double>(bytes / kMessageSize) / elapsed : 0;
}

} // namespace quorvel::load
