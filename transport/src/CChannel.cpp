#include "CChannel.h"

#include "corvane/CEventLoop.h"
#include "corvane/CFrame.h"

#include <asio/write.hpp>

#include <cerrno>
#include <span>
#include <fcntl.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>
#include <poll.h>
#include <sys/socket.h>

namespace corvane {

namespace {

constexpr int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;
constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(100);
// Connections accepted per readiness of the listener, once a turn of the
// loop. Under a flood of connects a turn busy with other connections must
// still take more than arrive meanwhile, or the kernel's queue fills and
// every new client, a user logging in too, waits behind thousands; the
// bound keeps one turn from being spent on accepting alone.
constexpr int kAcceptsPerTurn = 512;

// Drops the first n bytes of a two-part gather list.
void Advance(iovec* iov, std::size_t n)
{
    for (int i = 0; i < 2 && n > 0; ++i) {
        std::size_t step = std::min(n, iov[i].iov_len);
        iov[i].iov_base = static_cast<std::uint8_t*>(iov[i].iov_base) + step;
        iov[i].iov_len -= step;
        n -= step;
    }
}

long WriteGather(int fd, iovec* iov)
{
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = 2;
    long n;
    do {
        n = ::sendmsg(fd, &msg, kSendFlags);
    } while (n < 0 && errno == EINTR);
    return n;
}

// Writes what `buffers` hold without waiting: the bytes the socket took, or
// -1 when it took none or failed (errno tells which).
long WriteNow(int fd, const asio::const_buffer* buffers, std::size_t count)
{
    std::array<iovec, CByteQueue::kMaxGather> iov;
    for (std::size_t i = 0; i < count; ++i)
        iov[i] = {const_cast<void*>(buffers[i].data()), buffers[i].size()};
    msghdr msg{};
    msg.msg_iov = iov.data();
    msg.msg_iovlen = count;
    long n;
    do {
        n = ::sendmsg(fd, &msg, kSendFlags);
    } while (n < 0 && errno == EINTR);
    return n;
}

int OpenReserve()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

bool OutOfDescriptors(const std::error_code& ec)
{
    return ec == asio::error::no_descriptors || (ec.category() == asio::system_category() && ec.value() == ENFILE);
}

} // namespace

CChannel::CChannel(CEventLoop& owningLoop, CMyRASSocket* owningSocket)
    : loop(owningLoop), socket(owningSocket), stream(owningLoop.Context()), acceptRetry_(owningLoop.Context())
{
}

CChannel::~CChannel()
{
    if (reserveFd_ >= 0)
        ::close(reserveFd_);
    if (budget_)
        budget_->Add(-static_cast<std::ptrdiff_t>(Held()));
}

void CChannel::MarkOpen(int fd, bool listener)
{
    std::lock_guard lock(mutex_);
    open_ = true;
    listener_ = listener;
    closeRequested_ = false;
    closeNotified_ = false;
    fd_ = fd;
    queuedEnd_ = writtenEnd_ = 0;
}

bool CChannel::OpenListener(unsigned port)
{
    listenError.clear();
    if (port > 65535)
        return false;
    std::error_code& ec = listenError;
    acceptor.emplace(loop.Context());
    acceptor->open(asio::ip::tcp::v4(), ec);
    if (!ec)
        acceptor->set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor->bind({asio::ip::address_v4::any(), static_cast<unsigned short>(port)}, ec);
    if (ec) {
        acceptor.reset();
        return false;
    }
    MarkOpen(acceptor->native_handle(), true);
    return true;
}

bool CChannel::Listen(int backlog)
{
    listenError.clear();
    if (!acceptor)
        return false;
    std::error_code& ec = listenError;
    acceptor->listen(backlog, ec);
    if (!ec)
        acceptor->non_blocking(true, ec);
    if (ec)
        return false;
    if (reserveFd_ < 0)
        reserveFd_ = OpenReserve();
    ArmAccept();
    return true;
}

bool CChannel::AcceptInto(CChannel& into)
{
    if (!acceptor)
        return false;
    std::error_code ec;
    shedPeer.clear();
    acceptor->accept(into.stream, ec);
    acceptStalled_ = ec && ec != asio::error::would_block && ec != asio::error::try_again;
    acceptTook_ = !ec;
    if (acceptStalled_ && OutOfDescriptors(ec) && ShedPending()) {
        acceptStalled_ = false;
        acceptTook_ = true;
    }
    if (ec)
        return false;
    into.stream.set_option(asio::ip::tcp::no_delay(true), ec);
    auto remote = into.stream.remote_endpoint(ec);
    into.peer = ec ? std::string() : remote.address().to_string();
    into.openedAt = std::chrono::steady_clock::now();
    into.MarkOpen(into.stream.native_handle(), false);
    into.ArmRead();
    return true;
}

bool CChannel::ShedPending()
{
    // Without a free descriptor the connection would wait in the backlog,
    // and the backlog would fill with connections nobody serves. The spare
    // descriptor makes room to take the newest one and close it, so its
    // peer learns at once and the backlog keeps moving.
    if (reserveFd_ < 0)
        return false;
    ::close(reserveFd_);
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const int fd = ::accept4(acceptor->native_handle(), reinterpret_cast<sockaddr*>(&from), &size, SOCK_CLOEXEC);
    if (fd >= 0) {
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        shedPeer = text;
        ::close(fd);
    }
    reserveFd_ = OpenReserve();
    return fd >= 0 && reserveFd_ >= 0;
}

bool CChannel::Connect(const std::string& host, unsigned port, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::error_code ec;
    asio::ip::tcp::resolver resolver(loop.Context());
    auto results = resolver.resolve(asio::ip::tcp::v4(), host, std::to_string(port), ec);
    if (ec || results.empty() || port > 65535)
        return false;
    const asio::ip::tcp::endpoint target = *results.begin();
    stream.open(asio::ip::tcp::v4(), ec);
    if (!ec)
        stream.native_non_blocking(true, ec);
    if (ec)
        return false;
    const int fd = stream.native_handle();
    int rc = ::connect(fd, target.data(), static_cast<socklen_t>(target.size()));
    if (rc != 0 && errno == EINPROGRESS) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLOUT, 0};
        int error = ETIMEDOUT;
        socklen_t len = sizeof error;
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) == 1)
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
        rc = error == 0 ? 0 : -1;
    }
    if (rc != 0) {
        stream.close(ec);
        return false;
    }
    stream.set_option(asio::ip::tcp::no_delay(true), ec);
    peer = target.address().to_string();
    openedAt = std::chrono::steady_clock::now();
    MarkOpen(fd, false);
    ArmRead();
    return true;
}

void CChannel::Close()
{
    Settled settled;
    {
        std::lock_guard lock(mutex_);
        open_ = false;
        fd_ = -1;
        writing_ = false;
        // The loop thread runs the writes, so none is using inflight_ now:
        // a closed connection gives its buffers back at once.
        pending_.Release();
        inflight_.Release();
        SettleLocked(settled, true);
        RecountLocked();
    }
    PostSettled(std::move(settled));
    std::error_code ec;
    acceptRetry_.cancel();
    if (acceptor)
        acceptor->close(ec);
    if (stream.is_open())
        stream.close(ec);
}

void CChannel::ArmRead()
{
    if (readArmed_)
        return;
    readArmed_ = true;
    stream.async_wait(asio::socket_base::wait_read, [self = shared_from_this()](const std::error_code& ec) {
        self->readArmed_ = false;
        if (ec || !self->socket || self->CloseRequested() || self->held)
            return;
        self->socket->OnReceive(0);
        if (self->socket && self->stream.is_open() && !self->closeNotified_ && !self->CloseRequested() &&
            !self->resumePosted_ && !self->held)
            self->ArmRead();
    });
}

void CChannel::ResumeLater()
{
    if (resumePosted_)
        return;
    resumePosted_ = true;
    // Posted work runs behind the handlers already ready, so every other
    // connection gets its turn first.
    loop.Post([self = shared_from_this()] {
        self->resumePosted_ = false;
        if (!self->socket || self->closeNotified_ || self->CloseRequested() || self->held)
            return;
        self->socket->NewTurn();
        if (!self->socket->recvBuffer.Empty())
            self->socket->ReceiveBytes(nullptr, 0);
        if (self->socket && !self->resumePosted_ && !self->held && self->stream.is_open() && !self->closeNotified_ &&
            !self->CloseRequested())
            self->ArmRead();
    });
}

void CChannel::JoinBudget(std::shared_ptr<CBufferBudget> budget)
{
    budget_ = std::move(budget);
}

void CChannel::AccountReceived(std::size_t bytes)
{
    const std::size_t before = recvHeld_.exchange(bytes);
    if (!budget_ || before == bytes)
        return;
    budget_->Add(static_cast<std::ptrdiff_t>(bytes) - static_cast<std::ptrdiff_t>(before));
    if (bytes > before)
        budget_->MakeRoom();
}

void CChannel::DropSendBuffers()
{
    // The receipts of the dropped frames report false when the connection
    // closes, as those of every frame left unwritten then.
    std::lock_guard lock(mutex_);
    pending_.Release();
    RecountLocked();
}

void CChannel::RecountLocked()
{
    const std::size_t now = pending_.Size() + inflight_.Size();
    const std::size_t before = sendHeld_.exchange(now);
    if (budget_ && before != now)
        budget_->Add(static_cast<std::ptrdiff_t>(now) - static_cast<std::ptrdiff_t>(before));
}

void CChannel::ArmAccept()
{
    acceptor->async_wait(asio::socket_base::wait_read, [self = shared_from_this()](const std::error_code& ec) {
        if (ec || !self->socket || !self->acceptor || !self->acceptor->is_open())
            return;
        // Accept while connections are pending (each accept that took or
        // shed one), up to the bound; then wait for readiness again.
        for (int i = 0; i < kAcceptsPerTurn; ++i) {
            self->acceptTook_ = false;
            self->socket->OnAccept(0);
            if (!self->socket || !self->acceptor || !self->acceptor->is_open())
                return;
            if (!self->acceptTook_ || self->acceptStalled_)
                break;
        }
        if (!self->acceptStalled_) {
            self->ArmAccept();
            return;
        }
        // Out of descriptors or memory: the pending connection stays ready,
        // so waiting at once would spin. Try again a little later.
        self->acceptRetry_.expires_after(kAcceptRetryDelay);
        self->acceptRetry_.async_wait([self](const std::error_code& error) {
            if (!error && self->socket && self->acceptor && self->acceptor->is_open())
                self->ArmAccept();
        });
    });
}

long CChannel::ReadSome(std::uint8_t* buffer, std::size_t size)
{
    if (!stream.is_open())
        return 0;
    for (;;) {
        long n = ::recv(stream.native_handle(), buffer, size, MSG_DONTWAIT);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? -1 : 0;
    }
}

void CChannel::NotifyClosed()
{
    if (!socket || closeNotified_)
        return;
    closeNotified_ = true;
    socket->OnClose(0);
}

bool CChannel::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

bool CChannel::CloseRequested() const
{
    std::lock_guard lock(mutex_);
    return closeRequested_;
}

void CChannel::SetBlocking(bool on)
{
    std::lock_guard lock(mutex_);
    blocking_ = on;
}

void CChannel::RequestClose()
{
    std::lock_guard lock(mutex_);
    RequestCloseLocked();
}

void CChannel::RequestCloseLocked()
{
    if (closeRequested_ || !open_)
        return;
    closeRequested_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    loop.Post([self = shared_from_this()] { self->NotifyClosed(); });
}

CMyRASSocket::SendResult CChannel::Send(const std::uint8_t* header, const std::uint8_t* payload, std::uint32_t length,
                                        CMyRASSocket::SendDone* done)
{
    return SendFrame({header, payload, length, nullptr}, done);
}

CMyRASSocket::SendResult CChannel::Send(const std::uint8_t* header, const CMyRASSocket::SharedBytes& payload,
                                        CMyRASSocket::SendDone* done)
{
    if (!payload)
        return SendFrame({header, nullptr, 0, nullptr}, done);
    return SendFrame({header, reinterpret_cast<const std::uint8_t*>(payload->data()),
                      static_cast<std::uint32_t>(payload->size()), &payload},
                     done);
}

CMyRASSocket::SendResult CChannel::SendFrame(const Outgoing& frame, CMyRASSocket::SendDone* done)
{
    CMyRASSocket::SendResult result;
    {
        std::lock_guard lock(mutex_);
        if (!open_ || closeRequested_ || listener_)
            return CMyRASSocket::SendResult::kClosed;
        result = blocking_ ? SendBlockingLocked(frame, done) : SendQueuedLocked(frame, done);
        RecountLocked();
    }
    if (budget_)
        budget_->MakeRoom();
    return result;
}

std::size_t CChannel::UnwrittenBytes() const
{
    std::lock_guard lock(mutex_);
    return pending_.Size() + inflight_.Size();
}

void CChannel::PostReceipts(std::vector<CMyRASSocket::SendDone> receipts, bool written)
{
    Settled settled;
    for (auto& done : receipts)
        settled.emplace_back(std::move(done), written);
    PostSettled(std::move(settled));
}

void CChannel::PostSettled(Settled settled)
{
    if (!settled.empty())
        loop.Post([settled = std::move(settled)]() mutable { Run(settled); });
}

CMyRASSocket::SendResult CChannel::SendBlockingLocked(const Outgoing& frame, CMyRASSocket::SendDone* done)
{
    iovec iov[2] = {{const_cast<std::uint8_t*>(frame.header), CFrame::kHeaderSize},
                    {const_cast<std::uint8_t*>(frame.payload), frame.length}};
    std::size_t left = CFrame::kHeaderSize + static_cast<std::size_t>(frame.length);
    const auto deadline = std::chrono::steady_clock::now() + CMyRASSocket::kBlockingSendLimit;
    while (left > 0) {
        long n = WriteGather(fd_, iov);
        if (n > 0) {
            Advance(iov, static_cast<std::size_t>(n));
            left -= static_cast<std::size_t>(n);
            continue;
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLOUT, 0};
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || wait.count() <= 0 ||
            ::poll(&p, 1, static_cast<int>(wait.count())) != 1) {
            RequestCloseLocked();
            return CMyRASSocket::SendResult::kFailed;
        }
    }
    if (done != nullptr && *done)
        PostSettled(Settled{{std::move(*done), true}});
    return CMyRASSocket::SendResult::kDone;
}

CMyRASSocket::SendResult CChannel::SendQueuedLocked(const Outgoing& frame, CMyRASSocket::SendDone* done)
{
    iovec iov[2] = {{const_cast<std::uint8_t*>(frame.header), CFrame::kHeaderSize},
                    {const_cast<std::uint8_t*>(frame.payload), frame.length}};
    const std::size_t total = CFrame::kHeaderSize + static_cast<std::size_t>(frame.length);
    std::size_t written = 0;
    if (!writing_ && pending_.Empty() && !loop.IsInLoopThread()) {
        long n = WriteGather(fd_, iov);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            RequestCloseLocked();
            return CMyRASSocket::SendResult::kFailed;
        }
        if (n == static_cast<long>(total)) {
            if (done != nullptr && *done)
                PostSettled(Settled{{std::move(*done), true}});
            return CMyRASSocket::SendResult::kDone;
        }
        // Part of the frame is on the wire: the rest must follow whatever the
        // size, or the stream would be corrupt.
        written = static_cast<std::size_t>(std::max(n, 0L));
    } else if (pending_.Size() + inflight_.Size() + total > CMyRASSocket::kMaxQueuedBytes) {
        RequestCloseLocked();
        return CMyRASSocket::SendResult::kQueueFull;
    }
    QueueRestLocked(frame, written);
    queuedEnd_ += total - written;
    if (done != nullptr && *done)
        receipts_.push_back({queuedEnd_, std::move(*done)});
    if (!writing_)
        StartWriteLocked();
    return CMyRASSocket::SendResult::kDone;
}

void CChannel::QueueRestLocked(const Outgoing& frame, std::size_t written)
{
    if (written < CFrame::kHeaderSize)
        pending_.Append(frame.header + written, CFrame::kHeaderSize - written);
    const std::size_t from = written > CFrame::kHeaderSize ? written - CFrame::kHeaderSize : 0;
    if (frame.shared != nullptr)
        pending_.Append(*frame.shared, from);
    else
        pending_.Append(frame.payload + from, frame.length - from);
}

void CChannel::StartWriteLocked()
{
    // The write starts after the current handler, so every frame the loop
    // sends meanwhile on this connection joins the same write.
    writing_ = true;
    loop.Post([self = shared_from_this()] {
        Settled settled;
        {
            std::lock_guard lock(self->mutex_);
            self->WriteNextLocked(settled);
        }
        Run(settled);
    });
}

void CChannel::WriteNextLocked(Settled& settled)
{
    inflight_.Clear();
    if (!open_ || pending_.Empty()) {
        writing_ = false;
        pending_.Clear();
        SettleLocked(settled, !open_);
        RecountLocked();
        return;
    }
    inflight_.Swap(pending_);
    RecountLocked();
    WriteRestLocked(settled);
}

void CChannel::WriteRestLocked(Settled& settled)
{
    // One system write at a time, each accounted as it completes: the frames
    // the socket took whole are reported written then, so a connection that
    // closes in the middle of a large gathered write reports exactly the
    // frames it never wrote. The write is tried at once first: the socket
    // mostly takes it whole, and then no asynchronous write is started and
    // no completion waits for a later turn of the loop, which with many
    // connections and a few frames each was a second handler per frame.
    // What the socket does not take, or a failure, is left to the
    // asynchronous write.
    std::size_t count = inflight_.Gather(gather_.data());
    for (;;) {
        std::size_t gathered = 0;
        for (std::size_t i = 0; i < count; ++i)
            gathered += gather_[i].size();
        const long n = WriteNow(fd_, gather_.data(), count);
        if (n <= 0)
            break;
        writtenEnd_ += static_cast<std::size_t>(n);
        inflight_.Consume(static_cast<std::size_t>(n));
        SettleLocked(settled, false);
        if (inflight_.Empty()) {
            WriteNextLocked(settled);
            return;
        }
        count = inflight_.Gather(gather_.data());
        // A short write means the socket is full: waiting is the reactor's.
        if (static_cast<std::size_t>(n) < gathered)
            break;
    }
    RecountLocked();
    stream.async_write_some(std::span<const asio::const_buffer>(gather_.data(), count),
                            [self = shared_from_this()](const std::error_code& ec, std::size_t written) {
                                self->OnWritten(ec, written);
                            });
}

void CChannel::OnWritten(const std::error_code& error, std::size_t written)
{
    Settled settled;
    {
        std::lock_guard lock(mutex_);
        writtenEnd_ += written;
        inflight_.Consume(written);
        if (error) {
            writing_ = false;
            pending_.Clear();
            if (open_)
                inflight_.Clear();
            else
                inflight_.Release();
            SettleLocked(settled, true);
            if (error != asio::error::operation_aborted)
                RequestCloseLocked();
        } else {
            SettleLocked(settled, false);
            if (!inflight_.Empty())
                WriteRestLocked(settled);
            else
                WriteNextLocked(settled);
        }
        RecountLocked();
    }
    Run(settled);
}

void CChannel::SettleLocked(Settled& settled, bool dropped)
{
    while (!receipts_.empty() && (dropped || receipts_.front().end <= writtenEnd_)) {
        settled.emplace_back(std::move(receipts_.front().done), receipts_.front().end <= writtenEnd_);
        receipts_.pop_front();
    }
    if (dropped)
        queuedEnd_ = writtenEnd_ = 0;
}

void CChannel::Run(Settled& settled)
{
    for (auto& [done, written] : settled) {
        try {
            done(written);
        } catch (const std::exception&) {
            // A receipt's own failure concerns its owner, not the connection.
        }
    }
}

} // namespace corvane
