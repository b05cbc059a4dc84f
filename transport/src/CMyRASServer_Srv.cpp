#include "corvane/CMyRASServer_Srv.h"

#include "CConnectionGuard.h"

#include "corvane/CMyRASSocket.h"
#include "scrivlet/LogText.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace corvane {

using scrivlet::ErrorText;

namespace {

constexpr unsigned kLowestPort = 2001;
// The queue of connections completed by the kernel and not yet accepted. A
// queue of 5 drops the handshakes of a burst of clients (thousands logging in
// after a restart), which then wait a second or more to retry; the system's
// maximum (SOMAXCONN) takes such bursts at no cost.
constexpr int kBacklog = SOMAXCONN;
// LogEvent's level for an "ERROR" line.
constexpr int kErrorLevel = 2;

} // namespace

CMyRASServer_Srv::CMyRASServer_Srv() : guard_(std::make_shared<CConnectionGuard>(*this))
{
    guard_->Start();
}

CMyRASServer_Srv::~CMyRASServer_Srv()
{
    guard_->Stop();
    FreeAllItems();
    if (listenSocket_) {
        listenSocket_->Close();
        listenSocket_.reset();
    }
    OnLogEvent("通信监听已经停止...");
}

int CMyRASServer_Srv::BeginListen(unsigned listenPort)
{
    port = static_cast<int>(listenPort);
    listenError_.clear();
    if (listenPort < kLowestPort) {
        LogEvent(0, "服务器侦听端口号 %d 太小...", port);
        return 0;
    }
    if (!HasStringCallback())
        OnLogEvent("CMyRASServer_Srv类未注册消息事件回调函数,将无法处理接收到的信息,请调用方法 SetOnSckString() "
                   "注册消息处理函数. ");
    return OpenListening(true);
}

int CMyRASServer_Srv::ListenAgain()
{
    listenError_.clear();
    if (listenSocket_ || port < static_cast<int>(kLowestPort))
        return listenSocket_ ? 1 : 0;
    return OpenListening(false);
}

int CMyRASServer_Srv::OpenListening(bool logFailure)
{
    try {
        listenSocket_.reset();
        auto listener = std::make_unique<CMyRASSocket>(this);
        const bool created = listener->CreateListener(static_cast<unsigned>(port));
        if (!created || !listener->Listen(kBacklog)) {
            listenError_ = listener->ListenError();
            if (logFailure) {
                OnLogEvent(created ? "设置监听端口失败!" : "生成监听套接字错误!");
                if (!listenError_.empty())
                    LogEvent(kErrorLevel, "监听端口 %d 失败: %s", port, ErrorText(listenError_).c_str());
            }
            return 0;
        }
        listenSocket_ = std::move(listener);
        LogLine("成功开始监听(端口号:%d)!", port);
        return 1;
    } catch (const std::exception& error) {
        LogException(error);
        return 0;
    }
}

const std::string& CMyRASServer_Srv::ListenError() const
{
    return listenError_;
}

CMyRASSocket* CMyRASServer_Srv::CreateClientSocket()
{
    try {
        return new CMyRASSocket(this);
    } catch (const std::exception&) {
        return nullptr;
    }
}

int CMyRASServer_Srv::AddNewClientSocket(CMyRASSocket* socket)
{
    try {
        if (!guard_->Admit(*socket))
            return 0;
        socket->active = 1;
        {
            std::unique_lock lock(connectionsLock_);
            connections.emplace_back(socket);
        }
        try {
            if (acceptCallback_)
                acceptCallback_(socket);
            SweepClosed();
        } catch (...) {
            // The caller destroys the object on failure: it must leave the list.
            std::unique_lock lock(connectionsLock_);
            auto it = std::find_if(connections.begin(), connections.end(),
                                   [&](const auto& held) { return held.get() == socket; });
            if (it != connections.end()) {
                it->release();
                connections.erase(it);
            }
            guard_->Leave(*socket);
            throw;
        }
        return 1;
    } catch (const std::exception& error) {
        LogException(error);
        return 0;
    }
}

void CMyRASServer_Srv::SweepClosed()
{
    // Nothing to do unless a connection closed since the last sweep; then
    // one pass removes all of them under one lock.
    if (closed_.empty())
        return;
    const std::size_t before = connections.size();
    {
        std::unique_lock lock(connectionsLock_);
        std::erase_if(connections, [](const auto& connection) { return connection->active == 0; });
    }
    closed_.clear();
    for (std::size_t i = connections.size(); i < before; ++i)
        OnLogEvent("删除了一个已经断开的连接对象!");
}

void CMyRASServer_Srv::OnSocketClosed(CMyRASSocket* socket)
{
    try {
        LogEvent(0, "[%s][%s]断开了连接", socket->userId, socket->userName);
        ON_WS_DISCONNECTED para{socket};
        OnWsDisconnected(&para);
        if (disconnectCallback_)
            disconnectCallback_(&para);
        if (socket->active != 0 && socket->owner == this) {
            guard_->Leave(*socket);
            socket->Close();
            socket->active = 0;
            std::memset(socket->userId, 0, sizeof socket->userId);
            closed_.push_back(socket);
        }
    } catch (const std::exception& error) {
        LogException(error);
    }
}

void CMyRASServer_Srv::FreeAllItems()
{
    std::unique_lock lock(connectionsLock_);
    for (auto& connection : connections) {
        connection->Close();
        connection.reset();
    }
    connections.clear();
    closed_.clear();
    guard_->Clear();
}

void CMyRASServer_Srv::SetConnectionLimits(const CConnectionLimits& limits)
{
    guard_->SetLimits(limits);
}

const CConnectionLimits& CMyRASServer_Srv::ConnectionLimits() const
{
    return guard_->Limits();
}

std::size_t CMyRASServer_Srv::BufferedBytes() const
{
    return guard_->Held();
}

void CMyRASServer_Srv::RegCallBackFunction(RAS_ACCEPT_CALLBACK onAccept, RAS_WS_DISCONNECT_CALLBACK onDisconnect)
{
    acceptCallback_ = onAccept;
    disconnectCallback_ = onDisconnect;
}

std::shared_lock<std::shared_mutex> CMyRASServer_Srv::LockConnections() const
{
    return std::shared_lock(connectionsLock_);
}

unsigned CMyRASServer_Srv::ListeningPort() const
{
    return listenSocket_ ? listenSocket_->LocalPort() : 0;
}

} // namespace corvane
