#pragma once

#include "corvane/CConnectionLimits.h"
#include "corvane/CMyRASServer.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace corvane {

class CConnectionGuard;

// The listening endpoint: one listening socket, the accepted connections in
// order of acceptance, and the close handling that reports each closed
// connection to the program (OnWsDisconnected, then the disconnect callback).
// Abstract: the program's class implements OnWsDisconnected.
//
// Threads: construct, listen, destroy and change `connections` on the loop
// thread (see CEventLoop); accepting, close handling, OnWsDisconnected and
// both callbacks run there.
//
// Bounds (CConnectionLimits, the defaults until SetConnectionLimits): one
// budget for the bytes all connections buffer, past which the connections
// holding the most are closed; a cap on connections per remote address; a
// time limit for connections on which nobody logs in; a bound on the frames
// one connection delivers per turn of the loop. When the process runs out of
// descriptors, a spare one lets the newest pending connection be accepted
// and closed at once, so the backlog does not fill.
//
// Reading `connections` from another thread: hold LockConnections() (a
// shared lock) for as long as you use the list or any connection taken from
// it, SendBuff included. The loop thread takes the same lock exclusively only
// while it adds or removes (and destroys) connections, so a reader never sees
// a destroyed connection. On the loop thread itself the list may be read
// without the lock. Never wait for the loop thread (CEventLoop::Call) while
// holding the lock.
class CMyRASServer_Srv : public CMyRASServer {
public:
    CMyRASServer_Srv();
    // FreeAllItems, closes the listening socket, logs "通信监听已经停止...".
    // Loop thread.
    ~CMyRASServer_Srv() override;

    // Opens the listening socket on port (all local addresses). 1 on success,
    // 0 on failure: port 2000 or lower, port in use, listen failure; a
    // failure of the system's socket calls adds an ERROR line naming the port
    // and the system's reason. A second call while listening closes the old
    // listening socket first. Loop thread.
    int BeginListen(unsigned port);
    // Tries again to listen on BeginListen's port after a failure of the
    // system's socket calls (a port another program holds): logs only the
    // success line; a failure leaves its reason in ListenError(). 1 when
    // listening (also when already listening), 0 otherwise. Loop thread.
    int ListenAgain();
    // The system's reason the last BeginListen or ListenAgain failed; empty
    // after a success or a refused port number (retrying cannot help then).
    // Loop thread.
    const std::string& ListenError() const;

    // A new connection owned by this endpoint (caller owns the object).
    CMyRASSocket* CreateClientSocket() override;
    // Marks socket active, appends it to `connections` (the list then owns
    // it), calls the accept callback and destroys every closed connection.
    // 0 (the caller keeps and destroys it) when its address already has
    // maxConnectionsPerAddress connections.
    int AddNewClientSocket(CMyRASSocket* socket) override;
    // Logs the close, calls OnWsDisconnected and the disconnect callback,
    // then closes the socket (its buffers are given back at once), clears
    // active and userId; the object stays in the list until the next accept.
    void OnSocketClosed(CMyRASSocket* socket) override;
    // Called for every closed connection, userId still readable. Loop thread.
    virtual void OnWsDisconnected(ON_WS_DISCONNECTED* para) = 0;

    // Closes and destroys every connection (no callbacks, no lines).
    void FreeAllItems();
    // Stores both callbacks (either may be null). Loop thread.
    void RegCallBackFunction(RAS_ACCEPT_CALLBACK onAccept, RAS_WS_DISCONNECT_CALLBACK onDisconnect);

    // Replaces the bounds; they apply to open connections too. Loop thread.
    void SetConnectionLimits(const CConnectionLimits& limits);
    const CConnectionLimits& ConnectionLimits() const;
    // Bytes all connections hold against the budget now. Any thread.
    std::size_t BufferedBytes() const;

    // Shared lock for reading `connections` on another thread (see above).
    std::shared_lock<std::shared_mutex> LockConnections() const;
    // The listening port actually bound (BeginListen's port), 0 when not
    // listening. Loop thread.
    unsigned ListeningPort() const;

protected:
    friend class CConnectionGuard;
    // The accepted connections in order of acceptance; owned.
    std::vector<std::unique_ptr<CMyRASSocket>> connections;

private:
    // Opens and listens on `port`; with logFailure the failure lines too.
    int OpenListening(bool logFailure);
    // Destroys the connections that closed since the last sweep.
    void SweepClosed();

    mutable std::shared_mutex connectionsLock_;
    std::shared_ptr<CConnectionGuard> guard_;
    // Connections of the list that closed since the last sweep: an accept
    // with none costs nothing, one with some a single pass.
    std::vector<CMyRASSocket*> closed_;
    std::unique_ptr<CMyRASSocket> listenSocket_;
    std::string listenError_;
    RAS_ACCEPT_CALLBACK acceptCallback_ = nullptr;
    RAS_WS_DISCONNECT_CALLBACK disconnectCallback_ = nullptr;
};

} // namespace corvane
