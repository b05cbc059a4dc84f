#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::soak {

// A route server that hangs, for the server under soak to forward to: it
// accepts a few connections and never reads them (a large forwarded message
// stalls half-way), then accepts no more, so its queue fills and later
// connects get no answer at all. Alongside, a user of the soaked server
// sends chat messages to users of the hung server at a slow pace, every
// fifth one large, so the server keeps forwarding to it all along.
//
// Thread: the owner calls everything; the two threads only count.
class CHungRouteServer {
public:
    static constexpr const char* kName = "hung";

    // `pace` stretches the pause between forwarded messages, as for the
    // hostile clients.
    explicit CHungRouteServer(int pace = 1);
    ~CHungRouteServer();
    CHungRouteServer(const CHungRouteServer&) = delete;
    CHungRouteServer& operator=(const CHungRouteServer&) = delete;

    // The port it listens on, 0 when it could not listen.
    int Port() const { return port_; }
    // Starts accepting, and the user `sender` (password "pw-<id>") of the
    // server on serverPort sending messages to it, until the deadline.
    void Start(int serverPort, const std::string& sender, std::chrono::steady_clock::time_point deadline);
    void Join();

    std::uint64_t Accepted() const { return accepted_.load(); }
    std::uint64_t MessagesSent() const { return sent_.load(); }

private:
    void Accept();
    void Send(int serverPort, const std::string& sender);
    bool Running() const { return std::chrono::steady_clock::now() < deadline_; }

    int pace_;
    int listener_ = -1;
    int port_ = 0;
    std::chrono::steady_clock::time_point deadline_;
    std::vector<int> held_;
    std::atomic<std::uint64_t> accepted_{0};
    std::atomic<std::uint64_t> sent_{0};
    std::thread acceptor_;
    std::thread sender_;
};

} // namespace quorvel::soak
