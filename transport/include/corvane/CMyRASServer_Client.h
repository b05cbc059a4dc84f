#pragma once

#include "corvane/CMyRASServer.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

// The outbound endpoint: at most one connection to a peer at a time, a list
// of server addresses ("host" or "host:port") and a port range tried for
// addresses without a port. Connect and send block the calling thread: the
// connect gives up after kConnectLimit, a send after
// CMyRASSocket::kBlockingSendLimit.
//
// Threads: a client lives on the thread that creates it and is never shared.
// Created on a loop thread it delivers its peer's close through that loop;
// created elsewhere it pumps a private loop inside its own calls, so the
// close is seen at the next ConnectToServer, SendBuff, IsConnected or
// DisConnect on that thread.
class CMyRASServer_Client : public CMyRASServer {
public:
    static constexpr std::chrono::seconds kConnectLimit{3};

    // A non-empty server text becomes the first entry of the list, and the
    // port range is set from firstPort..lastPort (both included). Without a
    // server text the range is 8801..8810 as well.
    explicit CMyRASServer_Client(const std::string& server = {}, int firstPort = 8801, int lastPort = 8810);
    // Closes and destroys the connection and the server list.
    ~CMyRASServer_Client() override;

    // Appends a server text (no duplicate check).
    void AddServer(const std::string& text);
    // Sets the port range for addresses without a port.
    void SetServerPort(int firstPort, int lastPort);

    // Tries every listed server in order; 1 at the first success.
    int ConnectToServer();
    // "host:port" makes one attempt; a bare host walks the port range upward.
    int ConnectToServer(const std::string& server);
    // One attempt; 1 at once while already connected (whatever the target).
    int ConnectToServer(const std::string& host, int port);
    // Closes and destroys the connection; connected becomes 0.
    void DisConnect();
    // 1 while the connection is up.
    int IsConnected();
    // Sends one frame on the connection; 1 when the whole frame was sent.
    // A peer close that arrived before is seen first (in a burst of sends,
    // one that arrived within the last millisecond may be seen only by the
    // next call).
    int SendBuff(const void* data, std::uint32_t length);
    // Stores the disconnect callback.
    void RegCallBackOnSckDisconnected(RAS_SCK_DISCONNECT_CALLBACK callback);

    // Logs "套接字已经断开连接...", clears connected, calls the callback.
    void OnSocketClosed(CMyRASSocket* socket) override;

private:
    int connected_ = 0;
    std::unique_ptr<CMyRASSocket> socket_;
    std::vector<std::string> servers_;
    int firstPort_;
    int lastPort_;
    RAS_SCK_DISCONNECT_CALLBACK disconnectCallback_ = nullptr;
    std::chrono::steady_clock::time_point lastSendPump_{};
};

} // namespace corvane
