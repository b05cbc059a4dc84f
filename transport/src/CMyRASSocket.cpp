#include "corvane/CMyRASSocket.h"

#include "CChannel.h"
#include "compat/CSendQueue.h"
#include "corvane/CEventLoop.h"
#include "corvane/CFrame.h"
#include "corvane/CMyRASServer.h"
#include "scrivlet/LogText.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace corvane {

using scrivlet::ErrorText;

namespace {

// Bytes read per notification are capped so one busy peer cannot hold the
// loop: 256 KiB a turn, so a turn with dozens of large frames arriving stays
// short for the others waiting on it.
constexpr std::size_t kMaxBytesPerNotification = 256 * 1024;
constexpr std::size_t kScratchSize = 64 * 1024;
constexpr std::size_t kMaxBuffered = CFrame::kMaxPayload + CFrame::kHeaderSize;
// Room a receive buffer may keep beyond what it holds.
constexpr std::size_t kKeptRoom = 1024 * 1024;

// One read buffer per loop thread, shared by all its connections. A nested
// use (a callback pumping a private loop on the same thread) gets its own.
class ScratchLease {
public:
    ScratchLease()
    {
        if (inUse_) {
            own_.resize(kScratchSize);
            data_ = own_.data();
            return;
        }
        inUse_ = true;
        leased_ = true;
        shared_.resize(kScratchSize);
        data_ = shared_.data();
    }
    ~ScratchLease()
    {
        if (leased_)
            inUse_ = false;
    }
    ScratchLease(const ScratchLease&) = delete;
    ScratchLease& operator=(const ScratchLease&) = delete;
    std::uint8_t* data() const { return data_; }

private:
    static thread_local std::vector<std::uint8_t> shared_;
    static thread_local bool inUse_;
    std::vector<std::uint8_t> own_;
    std::uint8_t* data_ = nullptr;
    bool leased_ = false;
};

thread_local std::vector<std::uint8_t> ScratchLease::shared_;
thread_local bool ScratchLease::inUse_ = false;

std::atomic<std::uint64_t> g_nextSerial{1};

// Connections made without an owner live on the thread's loop, or on a
// process-wide loop that is never run.
CEventLoop& LoopFor(CMyRASServer* owner)
{
    if (owner)
        return owner->Loop();
    if (CEventLoop* current = CEventLoop::Current())
        return *current;
    static CEventLoop detached;
    return detached;
}

} // namespace

CMyRASSocket::CMyRASSocket(CMyRASServer* owningEndpoint)
    : userId{}, userName{}, active(0), owner(owningEndpoint),
      channel_(std::make_shared<CChannel>(LoopFor(owningEndpoint), this)),
      serial_(g_nextSerial.fetch_add(1, std::memory_order_relaxed))
{
}

CMyRASSocket::~CMyRASSocket()
{
    channel_->PostReceipts(CSendQueue::Instance().Forget(this), false);
    channel_->socket = nullptr;
    channel_->Close();
}

bool CMyRASSocket::CreateListener(unsigned port)
{
    return channel_->OpenListener(port);
}

bool CMyRASSocket::Listen(int backlog)
{
    return channel_->Listen(backlog);
}

std::string CMyRASSocket::ListenError() const
{
    return channel_->listenError ? channel_->listenError.message() : std::string();
}

bool CMyRASSocket::Accept(CMyRASSocket& into)
{
    return channel_->AcceptInto(*into.channel_);
}

bool CMyRASSocket::Connect(const std::string& host, unsigned port, std::chrono::milliseconds limit)
{
    return channel_->Connect(host, port, limit);
}

void CMyRASSocket::Close()
{
    channel_->Close();
    if (!scanning_)
        ReleaseReceived();
}

void CMyRASSocket::ReleaseReceived()
{
    recvBuffer.Release();
    channel_->AccountReceived(0);
}

void CMyRASSocket::MarkAdmitted()
{
    channel_->admitted = true;
}

bool CMyRASSocket::Admitted() const
{
    return channel_->admitted;
}

std::size_t CMyRASSocket::HeldBytes() const
{
    return channel_->Held();
}

bool CMyRASSocket::IsOpen() const
{
    return channel_->IsOpen();
}

std::string CMyRASSocket::PeerAddress() const
{
    if (!channel_->peer.empty())
        return channel_->peer;
    std::error_code ec;
    auto peer = channel_->stream.remote_endpoint(ec);
    return ec ? std::string() : peer.address().to_string();
}

unsigned CMyRASSocket::LocalPort() const
{
    std::error_code ec;
    auto local = channel_->acceptor ? channel_->acceptor->local_endpoint(ec) : channel_->stream.local_endpoint(ec);
    return ec ? 0 : local.port();
}

CMyRASSocket::SendResult CMyRASSocket::SendFrame(const std::uint8_t* header, const std::uint8_t* payload,
                                                 std::uint32_t length, SendDone* done)
{
    return channel_->Send(header, payload, length, done);
}

CMyRASSocket::SendResult CMyRASSocket::SendFrame(const std::uint8_t* header, const SharedBytes& payload, SendDone* done)
{
    return channel_->Send(header, payload, done);
}

std::size_t CMyRASSocket::UnwrittenBytes() const
{
    return channel_->UnwrittenBytes();
}

void CMyRASSocket::SetBlockingSends(bool on)
{
    channel_->SetBlocking(on);
}

void CMyRASSocket::OnReceive(int)
{
    auto channel = channel_;
    if (channel->held)
        return;
    try {
        NewTurn();
        ScratchLease scratch;
        std::size_t left = kMaxBytesPerNotification;
        while (left > 0) {
            // A frame whose room is already there is read straight into it;
            // anything else goes through the scratch buffer, so a connection
            // that holds nothing gets no room of its own.
            const bool direct = recvBuffer.Room() >= kScratchSize;
            const std::size_t want = std::min(left, direct ? recvBuffer.Room() : kScratchSize);
            long n = channel->ReadSome(direct ? recvBuffer.Tail() : scratch.data(), want);
            if (n < 0)
                return;
            if (n == 0) {
                channel->NotifyClosed();
                return;
            }
            const auto got = static_cast<std::size_t>(n);
            if (direct) {
                recvBuffer.Commit(got);
                ScanKept();
            } else {
                ReceiveBytes(scratch.data(), got);
            }
            if (!channel->socket || !channel->IsOpen() || channel->CloseRequested() || channel->ResumePending() ||
                channel->held)
                return;
            if (got < want)
                return;
            left -= got;
        }
    } catch (const std::exception&) {
        // A failed receive leaves the connection as it is; nothing is logged.
    }
}

void CMyRASSocket::ReceiveBytes(const std::uint8_t* data, std::size_t size)
{
    if (!recvBuffer.Empty()) {
        Keep(data, size);
        ScanKept();
        return;
    }
    // Fast path: frames complete within this read are delivered straight
    // from it; only what is left is kept.
    std::size_t consumed = 0;
    scanning_ = true;
    if (!ScanFrames(data, size, consumed))
        return;
    scanning_ = false;
    Keep(data + consumed, size - consumed);
    SettleKept();
}

void CMyRASSocket::ScanKept()
{
    std::size_t consumed = 0;
    scanning_ = true;
    if (!ScanFrames(recvBuffer.Data(), recvBuffer.Size(), consumed))
        return;
    scanning_ = false;
    // Once frames were taken, what is left may be a small part of a large
    // frame's room: give the room back. A frame still arriving keeps its
    // room, or each read would copy it anew.
    if (consumed > 0) {
        recvBuffer.Consume(consumed);
        if (recvBuffer.Capacity() > kKeptRoom && recvBuffer.Size() < recvBuffer.Capacity() / 2)
            recvBuffer.Shrink();
    }
    SettleKept();
}

void CMyRASSocket::SettleKept()
{
    auto channel = channel_;
    // A connection closed while its frames were delivered frees what it kept
    // at once. One never opened (bytes fed straight in) keeps reassembling.
    const bool closed = channel->openedAt != std::chrono::steady_clock::time_point{} && !channel->IsOpen();
    if (recvBuffer.Empty() || closed) {
        ReleaseReceived();
        return;
    }
    if (recvBuffer.Size() > kMaxBuffered) {
        if (owner)
            owner->LogEvent(2, "[%s]连接已缓存%u字节仍无完整数据包，关闭该连接", userId,
                            static_cast<unsigned>(recvBuffer.Size()));
        ReleaseReceived();
        channel->RequestClose();
        return;
    }
    channel->AccountReceived(recvBuffer.Size());
}

void CMyRASSocket::Keep(const std::uint8_t* data, std::size_t size)
{
    // The buffer grows by doubling, never past the size of the frame at its
    // front when the header tells it. A large frame takes kKeptRoom once a
    // scratch buffer's worth of it arrived, and its whole room once
    // kKeptRoom arrived, so it is copied twice at most however it is cut;
    // the reads then go straight into the room. Room not yet written is
    // only address space (pages are taken as bytes arrive), at most 16
    // times the bytes the peer sent, and the budget counts the bytes kept.
    const std::size_t total = recvBuffer.Size() + size;
    if (total > recvBuffer.Capacity()) {
        const std::uint8_t* front = recvBuffer.Empty() ? data : recvBuffer.Data();
        const std::size_t frontSize = recvBuffer.Empty() ? size : recvBuffer.Size();
        std::size_t want = std::max(total, 2 * recvBuffer.Capacity());
        if (frontSize >= CFrame::kHeaderSize && std::memcmp(front, CFrame::kFlag, 9) == 0) {
            std::uint32_t length = 0;
            std::memcpy(&length, front + 12, sizeof length);
            const std::size_t frame = CFrame::kHeaderSize + length;
            if (length <= CFrame::kMaxPayload) {
                const std::size_t step = total >= kKeptRoom     ? frame
                                         : total >= kScratchSize ? std::min(frame, kKeptRoom)
                                                                 : std::min(want, frame);
                want = std::max(total, step);
            }
        }
        recvBuffer.Reserve(want);
    }
    recvBuffer.Append(data, size);
}

bool CMyRASSocket::ScanFrames(const std::uint8_t* data, std::size_t size, std::size_t& consumed)
{
    auto channel = channel_;
    consumed = 0;
    CFrame::View frame;
    while (CFrame::Parse(data + consumed, size - consumed, frame) == CFrame::Status::kComplete) {
        const std::size_t bound = channel->framesPerTurn;
        if (bound != 0 && turnFrames_ >= bound) {
            if (owner)
                owner->LogLimit(RAS_LIMIT::kFramesPerTurn, 0, channel->peer, "连接 %s [%s] 一轮处理的数据包已达 %zu 个，其余稍后处理",
                                channel->peer.c_str(), userId, bound);
            channel->ResumeLater();
            break;
        }
        ++turnFrames_;
        consumed += CFrame::kHeaderSize + frame.length;
        DeliverFrame(frame.payload, frame.length, frame.version);
        if (!channel->socket)
            return false;
        if (channel->held)
            break;
    }
    return true;
}

void CMyRASSocket::HoldFrames()
{
    channel_->held = true;
}

void CMyRASSocket::ResumeFrames()
{
    if (!channel_->held)
        return;
    channel_->held = false;
    channel_->ResumeLater();
}

bool CMyRASSocket::FramesHeld() const
{
    return channel_->held;
}

void CMyRASSocket::DeliverFrame(const std::uint8_t* payload, std::uint32_t length, std::uint8_t version)
{
    if (!owner)
        return;
    owner->LogEvent(0, "收到数据包，长度为:%d 版本为:%d 标志:%s", static_cast<int>(length), version, CFrame::kFlag);
    owner->ReceivedString(payload, length, 1, this);
}

void CMyRASSocket::OnAccept(int)
{
    if (!owner)
        return;
    try {
        std::unique_ptr<CMyRASSocket> fresh(owner->CreateClientSocket());
        if (!fresh)
            return;
        if (!Accept(*fresh)) {
            const std::string& shed = channel_->shedPeer;
            if (!shed.empty())
                owner->LogLimit(RAS_LIMIT::kDescriptors, 2, shed, "可用文件描述符已耗尽，来自 %s 的新连接被立即关闭", shed.c_str());
            return;
        }
        if (owner->AddNewClientSocket(fresh.get()))
            fresh.release();
    } catch (const std::exception& error) {
        owner->LogEvent(0, "%s", ErrorText(error.what()).c_str());
    }
}

void CMyRASSocket::OnClose(int)
{
    auto channel = channel_;
    if (owner)
        owner->OnSocketClosed(this);
    if (channel->socket)
        active = 0;
}

} // namespace corvane
