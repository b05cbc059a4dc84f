#include "corvane/CMyRASServer_Client.h"

#include "corvane/CMyRASSocket.h"

#include <cstdlib>

namespace corvane {

namespace {

constexpr auto kSendPumpInterval = std::chrono::milliseconds(1);

} // namespace

CMyRASServer_Client::CMyRASServer_Client(const std::string& server, int firstPort, int lastPort)
    : firstPort_(firstPort), lastPort_(lastPort)
{
    if (!server.empty())
        servers_.push_back(server);
}

CMyRASServer_Client::~CMyRASServer_Client()
{
    if (socket_) {
        if (connected_)
            socket_->Close();
        socket_.reset();
    }
    servers_.clear();
}

void CMyRASServer_Client::AddServer(const std::string& text)
{
    servers_.push_back(text);
}

void CMyRASServer_Client::SetServerPort(int firstPort, int lastPort)
{
    firstPort_ = firstPort;
    lastPort_ = lastPort;
}

int CMyRASServer_Client::ConnectToServer()
{
    for (const std::string& server : servers_) {
        if (ConnectToServer(server))
            return 1;
    }
    return 0;
}

int CMyRASServer_Client::ConnectToServer(const std::string& server)
{
    auto colon = server.find(':');
    if (colon != std::string::npos) {
        const int explicitPort = std::atoi(server.c_str() + colon + 1);
        return ConnectToServer(server.substr(0, colon), explicitPort);
    }
    for (int p = firstPort_; p <= lastPort_; ++p) {
        if (ConnectToServer(server, p))
            return 1;
    }
    return 0;
}

int CMyRASServer_Client::ConnectToServer(const std::string& host, int peerPort)
{
    PumpPrivateLoop();
    if (connected_)
        return 1;
    try {
        socket_.reset();
        auto fresh = std::make_unique<CMyRASSocket>(this);
        fresh->SetBlockingSends(true);
        connected_ = 0;
        if (peerPort <= 0 || !fresh->Connect(host, static_cast<unsigned>(peerPort), kConnectLimit)) {
            LogLine("连接服务器%s[%d]失败,请检查服务器!", host.c_str(), peerPort);
            return 0;
        }
        fresh->active = 1;
        socket_ = std::move(fresh);
        connected_ = 1;
        LogLine("已经成功连接到RAS服务器:%s[%d]!", host.c_str(), peerPort);
        return 1;
    } catch (const std::exception& error) {
        LogException(error);
        return 0;
    }
}

void CMyRASServer_Client::DisConnect()
{
    PumpPrivateLoop();
    if (socket_) {
        if (socket_->active)
            socket_->Close();
        socket_.reset();
    }
    connected_ = 0;
}

int CMyRASServer_Client::IsConnected()
{
    PumpPrivateLoop();
    return connected_;
}

int CMyRASServer_Client::SendBuff(const void* data, std::uint32_t length)
{
    // A close that arrived is noticed before sending; in a burst of sends
    // the check runs once per kSendPumpInterval, as each costs a system call.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSendPump_ >= kSendPumpInterval) {
        lastSendPump_ = now;
        PumpPrivateLoop();
    }
    return CMyRASServer::SendBuff(socket_.get(), data, length);
}

void CMyRASServer_Client::RegCallBackOnSckDisconnected(RAS_SCK_DISCONNECT_CALLBACK callback)
{
    disconnectCallback_ = callback;
}

void CMyRASServer_Client::OnSocketClosed(CMyRASSocket*)
{
    OnLogEvent("套接字已经断开连接...");
    connected_ = 0;
    if (disconnectCallback_) {
        ON_SCK_DISCONNECTED para{0};
        disconnectCallback_(&para);
    }
}

} // namespace corvane
