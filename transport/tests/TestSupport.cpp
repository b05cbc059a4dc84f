#include "TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

using corvane::CFrame;
using corvane::ON_WS_DISCONNECTED;
using corvane::RAS_CALLBACK_PARA;
using quorvel::testsupport::FreePort;

namespace {

std::mutex g_mutex;
std::vector<std::string> g_lines;
std::vector<std::string> g_payloads;

sockaddr_in Loopback(unsigned port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

void Recorder::Log(const char* text)
{
    std::lock_guard lock(g_mutex);
    g_lines.emplace_back(text);
}

void Recorder::Receive(RAS_CALLBACK_PARA* para)
{
    std::lock_guard lock(g_mutex);
    g_payloads.emplace_back(reinterpret_cast<const char*>(para->data), para->length);
}

std::vector<std::string> Recorder::Lines()
{
    std::lock_guard lock(g_mutex);
    return g_lines;
}

std::vector<std::string> Recorder::Payloads()
{
    std::lock_guard lock(g_mutex);
    return g_payloads;
}

bool Recorder::HasLine(const std::string& text)
{
    return CountLines(text) > 0;
}

int Recorder::CountLines(const std::string& text)
{
    std::lock_guard lock(g_mutex);
    return static_cast<int>(std::count(g_lines.begin(), g_lines.end(), text));
}

void Recorder::Clear()
{
    std::lock_guard lock(g_mutex);
    g_lines.clear();
    g_payloads.clear();
}

std::string Frame(const std::string& payload, std::uint8_t version)
{
    std::string frame(CFrame::kHeaderSize, '\0');
    CFrame::BuildHeader(reinterpret_cast<std::uint8_t*>(frame.data()), static_cast<std::uint32_t>(payload.size()));
    frame[16] = static_cast<char>(version);
    return frame + payload;
}

void TestServer::OnWsDisconnected(ON_WS_DISCONNECTED* para)
{
    disconnectedIds.emplace_back(para->socket->userId);
    order.emplace_back("ws");
}

ServerFixture::ServerFixture(bool withCallbacks)
{
    Recorder::Clear();
    OnLoop([this, withCallbacks] {
        server = std::make_unique<TestServer>();
        if (withCallbacks) {
            server->SetLogEvent(&Recorder::Log);
            server->RegCallBackOnSckString(&Recorder::Receive);
        }
        for (int attempt = 0; attempt < 20 && !port; ++attempt) {
            unsigned candidate = FreePort();
            if (server->BeginListen(candidate))
                port = candidate;
        }
    });
}

ServerFixture::~ServerFixture()
{
    OnLoop([this] { server.reset(); });
}

RawClient::RawClient(unsigned port, int receiveBuffer)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address = Loopback(port);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        Close();
    int one = 1;
    if (fd_ >= 0)
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

RawClient::~RawClient()
{
    Close();
}

bool RawClient::Send(const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        long n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string RawClient::Read(std::size_t n)
{
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            continue;
        char buffer[65536];
        long got = ::recv(fd_, buffer, std::min(sizeof buffer, n - out.size()), 0);
        if (got <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out.size() == n ? out : std::string();
}

bool RawClient::WaitClosed(std::size_t* received)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            continue;
        char buffer[65536];
        long got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0)
            return true;
        if (received)
            *received += static_cast<std::size_t>(got);
    }
    return false;
}

std::size_t RawClient::Unread() const
{
    int count = 0;
    return ::ioctl(fd_, FIONREAD, &count) == 0 ? static_cast<std::size_t>(count) : 0;
}

void RawClient::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}
