// Queued sending and the INI reader: kept for programs built against the endpoint; this system runs neither.
#include "corvane/CMyRASServer.h"

#include "ThreadPriority.h"
#include "compat/CProfileReader.h"
#include "compat/CSendQueue.h"

#include <chrono>
#include <exception>
#include <string>

namespace corvane {

namespace {

constexpr auto kSendPassPause = std::chrono::milliseconds(50);

} // namespace

void CMyRASServer::StartSendThread()
{
    if (!useSendQueue)
        return;
    if (CSendQueue::Instance().StartThread(this, [this] { ThrHandleMessageQueue(); }))
        sendThreadOwner_ = true;
}

void CMyRASServer::StopService()
{
    if (!sendThreadOwner_)
        return;
    CSendQueue::Instance().StopThread(this);
    sendThreadOwner_ = false;
}

void CMyRASServer::ThrHandleMessageQueue()
{
    SetLowPriority();
    CSendQueue& queue = CSendQueue::Instance();
    try {
        while (!queue.StopRequested()) {
            queue.SendPass([this](CMyRASSocket* socket, const std::uint8_t* data, std::uint32_t length,
                                  CMyRASSocket::SendDone* done) { return TestChunk(socket, data, length, nullptr, done); });
            queue.WaitForStop(kSendPassPause);
        }
    } catch (const std::exception& error) {
        LogException(error);
    }
}

std::string CMyRASServer::ReadStrFromProFile(const std::string& file, const std::string& section,
                                             const std::string& key, const std::string& defaultValue) const
{
    try {
        return CProfileReader::Read(file, section, key, defaultValue);
    } catch (const std::exception& error) {
        LogException(error);
        return defaultValue;
    }
}

} // namespace corvane
