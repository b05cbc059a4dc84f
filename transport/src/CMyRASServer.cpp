#include "corvane/CMyRASServer.h"

#include "compat/CSendQueue.h"
#include "corvane/CEventLoop.h"
#include "corvane/CFrame.h"
#include "corvane/CMyRASSocket.h"
#include "scrivlet/LogText.h"

#include <cstdarg>
#include <cstdio>

namespace corvane {

using scrivlet::ErrorText;
using scrivlet::FormatText;
using scrivlet::LogLevelName;

namespace {

constexpr std::size_t kFormatBuffer = 1024;

// One log line: the level's name and a blank (no level name: nothing), then
// the message formatted by printf rules (FormatText).
struct LogLineText {
    char text[8 + kFormatBuffer];

    LogLineText(const char* levelName, const char* format, va_list args)
    {
        const int prefix = levelName ? std::snprintf(text, sizeof text, "%s ", levelName) : 0;
        FormatText(text + prefix, kFormatBuffer, format, args);
    }
};

} // namespace

const char* LimitKey(RAS_LIMIT limit)
{
    switch (limit) {
    case RAS_LIMIT::kBufferBudget:
        return "BufferBudgetBytes";
    case RAS_LIMIT::kConnectionsPerAddress:
        return "MaxConnectionsPerAddress";
    case RAS_LIMIT::kLoginTimeout:
        return "LoginTimeoutSeconds";
    case RAS_LIMIT::kFramesPerTurn:
        return "FramesPerTurn";
    case RAS_LIMIT::kDescriptors:
        return "Descriptors";
    }
    return "other";
}

CMyRASServer::CMyRASServer() : loop_(CEventLoop::Current())
{
    if (!loop_) {
        privateLoop_ = std::make_unique<CEventLoop>();
        loop_ = privateLoop_.get();
    }
}

CMyRASServer::~CMyRASServer()
{
    StopService();
}

CMyRASSocket* CMyRASServer::CreateClientSocket()
{
    return nullptr;
}

int CMyRASServer::AddNewClientSocket(CMyRASSocket*)
{
    return 0;
}

void CMyRASServer::RegCallBackOnSckString(RAS_STRING_CALLBACK callback)
{
    stringCallback_ = callback;
}

void CMyRASServer::SetLogEvent(RAS_LOG_CALLBACK callback)
{
    logCallback_.store(callback);
}

void CMyRASServer::RegCallBackOnLimit(RAS_LIMIT_CALLBACK callback)
{
    limitCallback_ = callback;
}

void CMyRASServer::OnLogEvent(const char* text) const
{
    RAS_LOG_CALLBACK callback = logCallback_.load();
    if (callback && text)
        callback(text);
}

void CMyRASServer::LogEvent(int level, const char* format, ...) const
{
    if (!logCallback_.load())
        return;
    va_list args;
    va_start(args, format);
    const LogLineText line(LogLevelName(level), format, args);
    va_end(args);
    OnLogEvent(line.text);
}

void CMyRASServer::LogLimit(RAS_LIMIT limit, int level, const std::string& address, const char* format, ...)
{
    if (limitCallback_) {
        RAS_LIMIT_PARA para{this, limit};
        limitCallback_(&para);
    }
    if (!logCallback_.load() || !limitLog_.Allow(LimitKey(limit), address))
        return;
    va_list args;
    va_start(args, format);
    const LogLineText line(LogLevelName(level), format, args);
    va_end(args);
    OnLogEvent(line.text);
}

void CMyRASServer::LogLine(const char* format, ...) const
{
    if (!logCallback_.load())
        return;
    va_list args;
    va_start(args, format);
    const LogLineText line(nullptr, format, args);
    va_end(args);
    OnLogEvent(line.text);
}

void CMyRASServer::LogException(const std::exception& error) const
{
    OnLogEvent(ErrorText(error.what()).c_str());
}

int CMyRASServer::SendBuff(CMyRASSocket* socket, const void* data, std::uint32_t length)
{
    return SendBuff(socket, data, length, nullptr);
}

int CMyRASServer::SendBuff(CMyRASSocket* socket, const void* data, std::uint32_t length,
                           std::function<void(bool)> done)
{
    try {
        if (!useSendQueue)
            return TestChunk(socket, data, length, nullptr, done ? &done : nullptr);
        CSendQueue::Instance().Push(socket, data, length, std::move(done));
        return 1;
    } catch (const std::exception& error) {
        LogException(error);
        return 0;
    }
}

int CMyRASServer::SendShared(CMyRASSocket* socket, const CMyRASSocket::SharedBytes& payload,
                             std::function<void(bool)> done)
{
    try {
        const std::uint32_t length = payload ? static_cast<std::uint32_t>(payload->size()) : 0;
        if (!useSendQueue)
            return TestChunk(socket, payload ? payload->data() : nullptr, length, &payload, done ? &done : nullptr);
        CSendQueue::Instance().Push(socket, payload ? payload->data() : nullptr, length, std::move(done));
        return 1;
    } catch (const std::exception& error) {
        LogException(error);
        return 0;
    }
}

int CMyRASServer::TestChunk(CMyRASSocket* socket, const void* data, std::uint32_t length,
                            const CMyRASSocket::SharedBytes* shared, std::function<void(bool)>* done)
{
    static const char* const kDisconnected = "CMyRASSocket 网络连接已断开，停止发送数据...";
    if (!socket || !socket->active || (!data && length > 0)) {
        LogEvent(0, "%s", kDisconnected);
        return 0;
    }
    try {
        std::uint8_t header[CFrame::kHeaderSize];
        CFrame::BuildHeader(header, length);
        const auto result = shared != nullptr
                                ? socket->SendFrame(header, *shared, done)
                                : socket->SendFrame(header, static_cast<const std::uint8_t*>(data), length, done);
        switch (result) {
        case CMyRASSocket::SendResult::kDone:
            return 1;
        case CMyRASSocket::SendResult::kClosed:
            LogEvent(0, "%s", kDisconnected);
            return 0;
        case CMyRASSocket::SendResult::kQueueFull:
            LogEvent(2, "[%s]连接的待发送数据超过%u字节，作为慢速连接关闭", socket->userId,
                     static_cast<unsigned>(CMyRASSocket::kMaxQueuedBytes));
            return 0;
        case CMyRASSocket::SendResult::kFailed:
            LogEvent(2, "[%s]发送数据失败，关闭该连接", socket->userId);
            return 0;
        }
    } catch (const std::exception& error) {
        LogException(error);
    }
    return 0;
}

void CMyRASServer::ReceivedString(const std::uint8_t* data, std::uint32_t length, int last, CMyRASSocket* socket)
{
    try {
        if (last && stage_.empty()) {
            Deliver(data, length, socket);
            return;
        }
        if (data)
            stage_.insert(stage_.end(), data, data + length);
        if (!last)
            return;
        std::vector<std::uint8_t> content;
        content.swap(stage_);
        Deliver(content.data(), static_cast<std::uint32_t>(content.size()), socket);
    } catch (const std::exception& error) {
        LogException(error);
    }
}

void CMyRASServer::Deliver(const std::uint8_t* data, std::uint32_t length, CMyRASSocket* socket)
{
    if (!stringCallback_)
        return;
    RAS_CALLBACK_PARA para{data, length, this, socket};
    stringCallback_(&para);
}

void CMyRASServer::PumpPrivateLoop()
{
    if (privateLoop_)
        privateLoop_->Poll();
}

} // namespace corvane
