#pragma once

#include "corvane/CReceiveBuffer.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

class CMyRASServer;
class CChannel;

// One TCP connection (or the listening socket) of an endpoint. It receives
// bytes, reassembles frames from any chunking and hands each payload to its
// owner; it sends whole frames without ever blocking the loop thread.
//
// Threads: the object is created, operated and destroyed on its owner's loop
// thread, where all its notifications run. Exceptions: SendFrame (and the
// owner's SendBuff) may be called from any thread, and other threads may read
// userId/userName/active of a connection they reached under the owner's
// connections lock (CMyRASServer_Srv::LockConnections).
//
// Sending: a frame is written whole or not at all and frames of concurrent
// senders never interleave (a per-connection lock). Another thread writes
// what the socket takes at once; the rest, and every frame sent on the loop
// thread, is queued and written by the loop after the current handler, one
// write in flight, the queue gathering every frame sent meanwhile into the
// next write. A queue
// that would pass kMaxQueuedBytes refuses the frame and the connection is
// closed as a slow consumer. A connection switched to blocking sends (the
// outbound client) instead waits on the calling thread until the frame is
// written, at most kBlockingSendLimit.
//
// Receipts: a frame may be sent with a `SendDone`, which tells its sender
// whether the frame reached the socket: it runs once on the loop thread,
// true when the frame's last byte was written to the socket, false when the
// connection closed (or was destroyed) before that, its queue thrown away.
// Frames queued behind an unwritten one are never written either, so the
// receipts of one connection report in the order of their frames.
class CMyRASSocket {
public:
    static constexpr std::size_t kMaxQueuedBytes = 16u * 1024 * 1024;
    static constexpr std::chrono::seconds kBlockingSendLimit{10};

    explicit CMyRASSocket(CMyRASServer* owner);
    // Closes the socket; queued outbound bytes are dropped.
    virtual ~CMyRASSocket();
    CMyRASSocket(const CMyRASSocket&) = delete;
    CMyRASSocket& operator=(const CMyRASSocket&) = delete;

    // Account of the user logged in over this connection (set by the
    // program), zero-terminated; cleared by the listening server on close.
    char userId[50];
    // That user's name, zero-terminated; never cleared by the library.
    char userName[100];
    // 1 while usable: set on accept/connect, 0 once the peer closed.
    std::atomic<int> active;
    // Received bytes not yet consumed as frames.
    CReceiveBuffer recvBuffer;
    // The endpoint that created the connection.
    CMyRASServer* owner;

    // Socket operations, loop thread. Each returns true on success.
    // Opens a listening socket bound to port on all local addresses.
    bool CreateListener(unsigned port);
    // Puts the listening socket into listening state.
    bool Listen(int backlog);
    // The system's reason the last CreateListener or Listen failed, empty
    // when it was no system error (a port past 65535) or nothing failed.
    std::string ListenError() const;
    // Takes one pending incoming connection into `into`.
    bool Accept(CMyRASSocket& into);
    // Connects to host (dotted address or name) and port; returns when the
    // connection is made, has failed, or `limit` has passed.
    bool Connect(const std::string& host, unsigned port, std::chrono::milliseconds limit);
    // Closes the socket (no notification) and gives back its receive and
    // send buffers at once. Safe to repeat.
    void Close();
    // True while a socket is open.
    bool IsOpen() const;
    // "a.b.c.d" of the peer, or empty.
    std::string PeerAddress() const;
    // The program keeps this connection although no user logs in on it (a
    // peer server that announced itself): the listening server's login
    // time limit spares it. Any thread.
    void MarkAdmitted();
    bool Admitted() const;
    // Bytes the connection holds: received and not yet consumed, accepted
    // for sending and not yet written. Any thread.
    std::size_t HeldBytes() const;
    // The locally bound port (useful after binding port 0), or 0.
    unsigned LocalPort() const;

    using SendDone = std::function<void(bool written)>;
    // Payload bytes several connections may send: never changed once made,
    // so each connection's queue can hold them by reference.
    using SharedBytes = std::shared_ptr<const std::string>;

    enum class SendResult {
        kDone,      // the whole frame was written or queued
        kClosed,    // no open socket, or the connection is being closed
        kQueueFull, // slow consumer: refused, the connection is being closed
        kFailed,    // socket error or blocking time limit: being closed
    };
    // Sends header + payload as one frame. Any thread. When `done` is given,
    // it is taken (moved from) only when the result is kDone and then runs
    // as described above; otherwise the caller keeps it, never run.
    SendResult SendFrame(const std::uint8_t* header, const std::uint8_t* payload, std::uint32_t length,
                         SendDone* done = nullptr);
    // The same for a shared payload (its length must fit a frame): a large
    // one is queued by reference instead of copied. It counts whole against
    // this connection's queue bound and buffer budget, as a copy would.
    SendResult SendFrame(const std::uint8_t* header, const SharedBytes& payload, SendDone* done = nullptr);
    // Bytes accepted for sending and not yet written to the socket. Any
    // thread.
    std::size_t UnwrittenBytes() const;
    // A number naming this connection object for the whole process run,
    // never reused (addresses are). Any thread.
    std::uint64_t Serial() const { return serial_; }
    // Switches sends to blocking on the calling thread (see above).
    void SetBlockingSends(bool on);

    // Appends received bytes to recvBuffer and delivers the complete frames
    // to the owner. Loop thread (called by OnReceive; tests and benchmarks
    // feed bytes through it directly). A connection of a listening server
    // delivers at most CConnectionLimits::framesPerTurn frames per turn of
    // the loop: the rest stay in recvBuffer, no more is read meanwhile, and
    // they are delivered in later turns, after the other connections had
    // theirs.
    void ReceiveBytes(const std::uint8_t* data, std::size_t size);

    // Holds the connection's frames, so that the program may finish the
    // frame being delivered elsewhere (on another thread) and still take
    // the connection's frames in order: called while a frame is delivered
    // (in the string callback), no later frame of this connection is
    // delivered and nothing more is read from it until ResumeFrames. What
    // already arrived stays in recvBuffer, counted against the buffer
    // budget; a peer that goes on sending meets TCP's flow control. The
    // other connections are served meanwhile. Loop thread.
    void HoldFrames();
    // Ends a hold: the held frames are delivered in a later turn of the
    // loop, then reading goes on. Loop thread.
    void ResumeFrames();
    bool FramesHeld() const;

    // Notifications, loop thread. OnReceive reads what has arrived and scans;
    // OnAccept (listening socket only) accepts into a connection made by the
    // owner; OnClose reports the peer's close to the owner, then clears active.
    virtual void OnReceive(int errorCode);
    virtual void OnAccept(int errorCode);
    virtual void OnClose(int errorCode);

private:
    friend class CChannel;
    friend class CConnectionGuard;
    // Delivers the complete frames at data; returns the bytes consumed, or
    // false when the connection was destroyed by a callback.
    bool ScanFrames(const std::uint8_t* data, std::size_t size, std::size_t& consumed);
    void DeliverFrame(const std::uint8_t* payload, std::uint32_t length, std::uint8_t version);
    // Keeps size bytes of an incomplete frame (or held-back frames) at the
    // end of recvBuffer, sized for the frame they begin when known.
    void Keep(const std::uint8_t* data, std::size_t size);
    // Delivers the complete frames at the front of recvBuffer and drops them.
    void ScanKept();
    // After a scan: frees, bounds and accounts what recvBuffer still holds.
    void SettleKept();
    void ReleaseReceived();
    // Starts a turn of the loop: the frame bound counts from zero.
    void NewTurn() { turnFrames_ = 0; }

    std::size_t turnFrames_ = 0;
    bool scanning_ = false;

    std::shared_ptr<CChannel> channel_;
    const std::uint64_t serial_;
};

} // namespace corvane
