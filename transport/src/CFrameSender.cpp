#include "corvane/CFrameSender.h"

#include "corvane/CEventLoop.h"
#include "corvane/CFrame.h"
#include "scrivlet/LogText.h"

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace corvane {

using scrivlet::FormatText;

namespace {

constexpr int kMaxPort = 65535;
constexpr std::size_t kLineSize = 1024;

} // namespace

// The state of one send. Its asynchronous handlers hold it by shared
// pointer; every asio object in it is touched on the loop's thread only.
// The result is guarded by `mutex`, since any thread may settle or read it.
struct CFrameSender::Impl : std::enable_shared_from_this<Impl> {
    Impl(CEventLoop& owningLoop, Request r)
        : loop(owningLoop), request(std::move(r)), resolver(loop.Context()), socket(loop.Context()),
          timer(loop.Context())
    {
        CFrame::BuildHeader(header.data(), static_cast<std::uint32_t>(request.payload.size()));
    }

    // Loop thread.
    void Begin();
    void Connect(const asio::ip::tcp::endpoint& target);
    void Connected();
    void WriteSome();
    void ArmTimer(std::chrono::milliseconds limit, Result onExpiry);
    void Fail(Result failure);
    void Close();
    void Log(const char* format, ...) const __attribute__((format(printf, 2, 3)));

    // Any thread. Settle is true when this call decided the result.
    bool Settle(Result final);
    bool Pending() const;

    CEventLoop& loop;
    Request request;
    asio::ip::tcp::resolver resolver;
    asio::ip::tcp::socket socket;
    asio::steady_timer timer;
    std::chrono::steady_clock::time_point deadline;
    unsigned timerGeneration = 0;
    std::array<std::uint8_t, CFrame::kHeaderSize> header{};
    std::size_t written = 0;

    mutable std::mutex mutex;
    std::condition_variable_any finished;
    Result result = Result::kPending;
};

void CFrameSender::Impl::Begin()
{
    if (!Pending())
        return;
    deadline = std::chrono::steady_clock::now() + request.limits.total;
    if (request.port <= 0 || request.port > kMaxPort) {
        Fail(Result::kConnectFailed);
        return;
    }
    ArmTimer(std::min(request.limits.connect, request.limits.total), Result::kConnectFailed);
    std::error_code ec;
    const auto address = asio::ip::make_address_v4(request.host, ec);
    if (!ec) {
        Connect({address, static_cast<unsigned short>(request.port)});
        return;
    }
    resolver.async_resolve(asio::ip::tcp::v4(), request.host, std::to_string(request.port),
                           [self = shared_from_this()](const std::error_code& error,
                                                       const asio::ip::tcp::resolver::results_type& found) {
                               if (!self->Pending())
                                   return;
                               if (error || found.empty())
                                   self->Fail(Result::kConnectFailed);
                               else
                                   self->Connect(*found.begin());
                           });
}

void CFrameSender::Impl::Connect(const asio::ip::tcp::endpoint& target)
{
    socket.async_connect(target, [self = shared_from_this()](const std::error_code& error) {
        if (!self->Pending())
            return;
        if (error)
            self->Fail(Result::kConnectFailed);
        else
            self->Connected();
    });
}

void CFrameSender::Impl::Connected()
{
    std::error_code ec;
    socket.set_option(asio::ip::tcp::no_delay(true), ec);
    Log("已经成功连接到RAS服务器:%s[%d]!", request.host.c_str(), request.port);
    if (request.onConnected)
        request.onConnected();
    if (Pending())
        WriteSome();
}

void CFrameSender::Impl::WriteSome()
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    ArmTimer(std::min(request.limits.stall, left), Result::kSendFailed);
    const std::size_t headerDone = std::min(written, header.size());
    const std::size_t payloadDone = written - headerDone;
    const std::array<asio::const_buffer, 2> buffers{asio::buffer(header) + headerDone,
                                                    asio::buffer(request.payload) + payloadDone};
    socket.async_write_some(buffers, [self = shared_from_this()](const std::error_code& error, std::size_t n) {
        if (!self->Pending())
            return;
        if (error) {
            self->Fail(Result::kSendFailed);
            return;
        }
        self->written += n;
        if (self->written < self->header.size() + self->request.payload.size()) {
            self->WriteSome();
            return;
        }
        if (self->Settle(Result::kSent))
            self->Close();
    });
}

void CFrameSender::Impl::ArmTimer(std::chrono::milliseconds limit, Result onExpiry)
{
    // A wait that already completed cannot be cancelled: the generation tells
    // a stale expiry from the current one.
    const unsigned generation = ++timerGeneration;
    timer.expires_after(std::max(limit, std::chrono::milliseconds(0)));
    timer.async_wait([self = shared_from_this(), generation, onExpiry](const std::error_code& error) {
        if (error || generation != self->timerGeneration || !self->Pending())
            return;
        self->Fail(onExpiry);
    });
}

void CFrameSender::Impl::Fail(Result failure)
{
    // The line comes before the result, so a waiter woken by the result
    // finds it logged.
    if (!Pending())
        return;
    if (failure == Result::kConnectFailed)
        Log("连接服务器%s[%d]失败,请检查服务器!", request.host.c_str(), request.port);
    else if (failure == Result::kSendFailed)
        Log("ERROR %s[%d]发送数据失败，关闭该连接", request.host.c_str(), request.port);
    if (Settle(failure))
        Close();
}

void CFrameSender::Impl::Close()
{
    std::error_code ec;
    timer.cancel();
    resolver.cancel();
    socket.close(ec);
}

void CFrameSender::Impl::Log(const char* format, ...) const
{
    if (request.log == nullptr)
        return;
    char line[kLineSize];
    va_list args;
    va_start(args, format);
    FormatText(line, sizeof line, format, args);
    va_end(args);
    request.log(line);
}

bool CFrameSender::Impl::Settle(Result final)
{
    std::lock_guard lock(mutex);
    if (result != Result::kPending)
        return false;
    result = final;
    finished.notify_all();
    return true;
}

bool CFrameSender::Impl::Pending() const
{
    std::lock_guard lock(mutex);
    return result == Result::kPending;
}

CFrameSender CFrameSender::Start(CEventLoop& loop, Request request)
{
    CFrameSender sender;
    sender.impl_ = std::make_shared<Impl>(loop, std::move(request));
    loop.Post([impl = sender.impl_] { impl->Begin(); });
    return sender;
}

void CFrameSender::Cancel() const
{
    if (!impl_ || !impl_->Settle(Result::kCancelled))
        return;
    if (impl_->loop.IsInLoopThread())
        impl_->Close();
    else
        impl_->loop.Post([impl = impl_] { impl->Close(); });
}

CFrameSender::Result CFrameSender::State() const
{
    if (!impl_)
        return Result::kCancelled;
    std::lock_guard lock(impl_->mutex);
    return impl_->result;
}

CFrameSender::Result CFrameSender::Wait(std::stop_token stop) const
{
    if (!impl_)
        return Result::kCancelled;
    {
        std::unique_lock lock(impl_->mutex);
        impl_->finished.wait(lock, stop, [&] { return impl_->result != Result::kPending; });
        if (impl_->result != Result::kPending)
            return impl_->result;
    }
    Cancel();
    return State();
}

} // namespace corvane
