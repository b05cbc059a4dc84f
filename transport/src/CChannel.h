#pragma once

#include "corvane/CMyRASSocket.h"

#include "CBufferBudget.h"
#include "CByteQueue.h"

#include <asio/buffer.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

class CEventLoop;

// The socket state behind one CMyRASSocket. Pending asynchronous handlers
// hold it by shared pointer, so they outlive the CMyRASSocket safely: the
// connection clears `socket` (on the loop thread) when it dies and every
// handler checks it first.
//
// The send side (open/broken flags, queue, one write in flight, the receipts
// of queued frames) is guarded by `mutex`, since any thread may send;
// everything else is loop-thread only. Receipts (the `done` of a send) run
// on the loop thread, never under the mutex.
class CChannel : public std::enable_shared_from_this<CChannel> {
public:
    CChannel(CEventLoop& loop, CMyRASSocket* socket);
    // Gives back what the connection still counted against its budget.
    ~CChannel();
    CChannel(const CChannel&) = delete;
    CChannel& operator=(const CChannel&) = delete;

    CEventLoop& loop;
    CMyRASSocket* socket;  // null once the connection object is destroyed
    asio::ip::tcp::socket stream;
    std::optional<asio::ip::tcp::acceptor> acceptor;
    // Why OpenListener or Listen failed last (loop thread).
    std::error_code listenError;
    // Loop thread: the peer's "a.b.c.d" (set at accept or connect), when
    // the connection was opened, and for a listener the address of the last
    // connection it had to close at once for want of descriptors (empty
    // when the last accept did not).
    std::string peer;
    std::chrono::steady_clock::time_point openedAt{};
    std::string shedPeer;
    // Loop thread: frames delivered per turn of the loop (0: no bound).
    std::size_t framesPerTurn = 0;
    // Loop thread: the program holds this connection's frames (no
    // delivery, no reads) until it resumes them.
    bool held = false;
    // Set by the program for a connection it keeps without a login.
    std::atomic<bool> admitted{false};
    // Loop thread: counted among its address's connections.
    bool perAddressCounted = false;

    // Loop thread.
    bool OpenListener(unsigned port);
    bool Listen(int backlog);
    bool AcceptInto(CChannel& into);
    bool Connect(const std::string& host, unsigned port, std::chrono::milliseconds limit);
    void Close();
    void ArmRead();
    void ArmAccept();
    // Reads up to size bytes without waiting: the count, 0 when the peer
    // closed or the read failed, -1 when nothing is pending.
    long ReadSome(std::uint8_t* buffer, std::size_t size);
    // Delivers OnClose once (loop thread).
    void NotifyClosed();
    // Serves the frames a turn's bound or a hold kept back, then waits for
    // more data (loop thread; see CMyRASSocket::ReceiveBytes). Does nothing
    // while the connection is held.
    void ResumeLater();
    bool ResumePending() const { return resumePosted_; }
    // Counts this connection's bytes against `budget` (loop thread, before
    // any send).
    void JoinBudget(std::shared_ptr<CBufferBudget> budget);
    // Sets the receive buffer's bytes held and makes room in the budget if
    // that passed it (loop thread, no lock held).
    void AccountReceived(std::size_t bytes);
    // Throws away what waits to be written (the connection is being
    // closed); receipts report false. Loop thread.
    void DropSendBuffers();

    // Any thread.
    bool IsOpen() const;
    bool CloseRequested() const;
    // Takes `done` (when not null) only when the result is kDone; it then
    // runs once on the loop: true when the frame's last byte was written,
    // false when the connection closed first.
    CMyRASSocket::SendResult Send(const std::uint8_t* header, const std::uint8_t* payload, std::uint32_t length,
                                  CMyRASSocket::SendDone* done = nullptr);
    // The same for a payload other connections may send too: a large one is
    // queued by reference, not copied, and counts whole against this
    // connection's bounds as a copy would.
    CMyRASSocket::SendResult Send(const std::uint8_t* header, const CMyRASSocket::SharedBytes& payload,
                                  CMyRASSocket::SendDone* done = nullptr);
    // Bytes queued and not yet written.
    std::size_t UnwrittenBytes() const;
    // Bytes this connection holds against its budget: receive buffer and
    // send queue.
    std::size_t Held() const { return recvHeld_.load() + sendHeld_.load(); }
    // Runs each receipt with `written` later on the loop.
    void PostReceipts(std::vector<CMyRASSocket::SendDone> receipts, bool written);
    void SetBlocking(bool on);
    // Shuts the socket down and posts the close notification to the loop.
    void RequestClose();

private:
    // A queued frame's receipt: it is settled once the queue's written
    // bytes reach `end` (a position in everything ever queued).
    struct Receipt {
        std::uint64_t end;
        CMyRASSocket::SendDone done;
    };
    using Settled = std::vector<std::pair<CMyRASSocket::SendDone, bool>>;
    // One frame to send: header, payload, and the payload's owner when it
    // is shared (then payload points into it).
    struct Outgoing {
        const std::uint8_t* header;
        const std::uint8_t* payload;
        std::uint32_t length;
        const CMyRASSocket::SharedBytes* shared;
    };

    void MarkOpen(int fd, bool listener);
    // Brings sendHeld_ (and the budget) up to the queue's bytes.
    void RecountLocked();
    // Accepts the pending connection and closes it at once, using the
    // reserve descriptor; true when one was shed.
    bool ShedPending();
    void RequestCloseLocked();
    CMyRASSocket::SendResult SendFrame(const Outgoing& frame, CMyRASSocket::SendDone* done);
    CMyRASSocket::SendResult SendBlockingLocked(const Outgoing& frame, CMyRASSocket::SendDone* done);
    CMyRASSocket::SendResult SendQueuedLocked(const Outgoing& frame, CMyRASSocket::SendDone* done);
    // Queues what the socket did not take of the frame: its first `written`
    // bytes are on the wire.
    void QueueRestLocked(const Outgoing& frame, std::size_t written);
    void StartWriteLocked();
    void WriteNextLocked(Settled& settled);
    void WriteRestLocked(Settled& settled);
    void OnWritten(const std::error_code& error, std::size_t written);
    // Moves out the receipts of written frames, and with `dropped` every
    // other one too (their frames were thrown away), resetting the count.
    void SettleLocked(Settled& settled, bool dropped);
    // Runs settled receipts (loop thread, mutex not held).
    static void Run(Settled& settled);
    void PostSettled(Settled settled);

    // Loop thread: the last accept failed for want of resources; the last
    // accept took a pending connection (kept or shed).
    bool acceptStalled_ = false;
    bool acceptTook_ = false;
    // Loop thread: a listener's spare descriptor, given up for a moment to
    // shed a connection when descriptors run out.
    int reserveFd_ = -1;
    bool resumePosted_ = false;
    // Loop thread: a wait for readable data is pending, so a second one is
    // never started beside it.
    bool readArmed_ = false;
    std::shared_ptr<CBufferBudget> budget_;
    std::atomic<std::size_t> recvHeld_{0};
    std::atomic<std::size_t> sendHeld_{0};
    asio::steady_timer acceptRetry_;

    mutable std::mutex mutex_;
    bool open_ = false;
    bool closeRequested_ = false;
    bool closeNotified_ = false;
    bool blocking_ = false;
    bool listener_ = false;
    bool writing_ = false;
    int fd_ = -1;
    CByteQueue pending_;
    // The bytes of the write in progress; written ones are consumed.
    CByteQueue inflight_;
    // The buffers of the write in progress (asio keeps a view of them).
    std::array<asio::const_buffer, CByteQueue::kMaxGather> gather_;
    std::deque<Receipt> receipts_;
    std::uint64_t queuedEnd_ = 0;
    std::uint64_t writtenEnd_ = 0;
};

} // namespace corvane
