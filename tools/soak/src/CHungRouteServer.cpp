#include "CHungRouteServer.h"

#include "quorvel_client/CSyncClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvel::soak {

using client::CSyncClient;

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kHeldConnections = 8;
constexpr int kSmallBuffer = 4096;
constexpr std::size_t kLargeMessage = 4 * 1024 * 1024;
constexpr int kLargeEvery = 5;

} // namespace

CHungRouteServer::CHungRouteServer(int pace) : pace_(pace)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return;
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &kSmallBuffer, sizeof kSmallBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(listener_, 1) == 0 &&
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port_ = ntohs(address.sin_port);
}

CHungRouteServer::~CHungRouteServer()
{
    deadline_ = {};
    Join();
    for (const int fd : held_)
        ::close(fd);
    if (listener_ >= 0)
        ::close(listener_);
}

void CHungRouteServer::Start(int serverPort, const std::string& sender, std::chrono::steady_clock::time_point deadline)
{
    deadline_ = deadline;
    if (port_ == 0)
        return;
    acceptor_ = std::thread([this] { Accept(); });
    sender_ = std::thread([this, serverPort, sender] { Send(serverPort, sender); });
}

void CHungRouteServer::Join()
{
    if (acceptor_.joinable())
        acceptor_.join();
    if (sender_.joinable())
        sender_.join();
}

// Holds a few connections unread, then leaves the queue to fill.
void CHungRouteServer::Accept()
{
    while (Running() && held_.size() < kHeldConnections) {
        pollfd ready{listener_, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        held_.push_back(connection);
        accepted_.fetch_add(1);
    }
}

void CHungRouteServer::Send(int serverPort, const std::string& sender)
{
    CSyncClient client;
    if (!client.Connect("127.0.0.1", serverPort) || !client.Login(sender, "pw-" + sender))
        return;
    for (int i = 0; Running() && !client.Closed(); ++i) {
        const std::string target = "far" + std::to_string(i) + "@" + kName;
        const std::string text = i % kLargeEvery == kLargeEvery - 1 ? std::string(kLargeMessage, 'r') : "routed " + target;
        if (client.Say(target, text))
            sent_.fetch_add(1);
        client.TakeAll();
        std::this_thread::sleep_for(500ms * pace_);
    }
}

} // namespace quorvel::soak
