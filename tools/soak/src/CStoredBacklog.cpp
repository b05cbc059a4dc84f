#include "CStoredBacklog.h"

#include "CRawConnection.h"
#include "SoakXml.h"

#include "quorvel_client/CSyncClient.h"

#include "corvane/CFrame.h"
#include "marlune/Marlune.h"

#include <cstdio>
#include <random>
#include <string_view>

namespace quorvel::soak {

using corvane::CFrame;
using marlune::CMessageBase;
using marlune::CMessageUserTalking;
using marlune::CXmlMsg;
using client::CSyncClient;

namespace {

using namespace std::chrono_literals;

const std::string kPrefix = "stored ";
constexpr int kPerRound = 16;
constexpr std::size_t kPadding = 128 * 1024;
// A slow session reads this much per step, a step every 20 ms: 800 KB/s.
constexpr std::size_t kStep = 16 * 1024;
constexpr int kReceiveBuffer = 4096;

std::unique_ptr<CMessageBase> Parse(const std::uint8_t* data, std::size_t length)
{
    CMessageBase head(nullptr);
    CXmlMsg xml;
    return xml.ParseXmlNew(data, length, &head);
}

} // namespace

CStoredBacklog::CStoredBacklog(int port, std::string sender, std::string absent, int pace)
    : port_(port), pace_(pace), sender_(std::move(sender)), absent_(std::move(absent))
{
}

CStoredBacklog::~CStoredBacklog()
{
    Join();
}

void CStoredBacklog::Start(std::chrono::steady_clock::time_point deadline)
{
    deadline_ = deadline;
    thread_ = std::thread([this] { Run(); });
}

void CStoredBacklog::Join()
{
    if (thread_.joinable())
        thread_.join();
}

void CStoredBacklog::Run()
{
    CSyncClient sender;
    if (!sender.Connect("127.0.0.1", port_) || !sender.Login(sender_, "pw-" + sender_)) {
        std::fprintf(stderr, "soak: %s could not log in\n", sender_.c_str());
        return;
    }
    std::mt19937 engine(11);
    const std::string padding(kPadding, 'p');
    while (std::chrono::steady_clock::now() < deadline_) {
        for (int i = 0; i < kPerRound; ++i) {
            if (sender.Say(absent_ + "@hub", kPrefix + std::to_string(sent_) + " " + padding))
                ++sent_;
        }
        sender.TakeAll();
        std::this_thread::sleep_for(300ms * pace_);
        SlowSession();
        std::this_thread::sleep_for(std::chrono::milliseconds(engine() % 500) * pace_);
    }
}

// Reads at a crawl for one to two seconds, then half-closes: the server
// ends the connection with what it never wrote still queued, and the
// session reads what the server did write until the end of the stream.
void CStoredBacklog::SlowSession()
{
    CRawConnection connection;
    if (!connection.Connect(port_, kReceiveBuffer) || !connection.SendFrame(LoginXml(absent_, "pw-" + absent_, "online", false)))
        return;
    ++slowSessions_;
    std::string buffer;
    std::int64_t last = -1;
    const auto crawlEnd = std::chrono::steady_clock::now() + 1s + std::chrono::milliseconds(sent_ % 1000);
    const auto end = crawlEnd + 20s;
    bool open = true;
    bool halfClosed = false;
    while (open && std::chrono::steady_clock::now() < end) {
        const bool crawling = std::chrono::steady_clock::now() < crawlEnd;
        if (!crawling && !halfClosed) {
            connection.ShutdownWrite();
            halfClosed = true;
        }
        open = connection.ReadSome(buffer, crawling ? kStep : 1u << 20);
        std::size_t at = 0;
        CFrame::View frame;
        while (CFrame::Parse(reinterpret_cast<const std::uint8_t*>(buffer.data()) + at, buffer.size() - at, frame) ==
               CFrame::Status::kComplete) {
            CheckOff(Parse(frame.payload, frame.length).get(), last);
            at += CFrame::kHeaderSize + frame.length;
        }
        buffer.erase(0, at);
        std::this_thread::sleep_for(crawling ? 20ms : 2ms);
    }
    connection.Close(true);
}

void CStoredBacklog::CheckOff(const CMessageBase* message, std::int64_t& last)
{
    const auto* talk = dynamic_cast<const CMessageUserTalking*>(message);
    if (talk == nullptr || talk->text.rfind(kPrefix, 0) != 0)
        return;
    const std::int64_t number = std::stoll(talk->text.substr(kPrefix.size()));
    if (number <= last)
        ++outOfOrder_;
    last = number;
    if (!seen_.insert(static_cast<std::uint64_t>(number)).second)
        ++duplicates_;
}

void CStoredBacklog::Settle(std::chrono::milliseconds limit)
{
    CSyncClient reader;
    if (!reader.Connect("127.0.0.1", port_) || !reader.Login(absent_, "pw-" + absent_))
        return;
    std::int64_t last = -1;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (seen_.size() < sent_ && std::chrono::steady_clock::now() < end) {
        if (auto message = reader.WaitFor("", 100ms))
            CheckOff(message.get(), last);
    }
    // One more delivery cycle, in which a duplicate would show.
    const auto quiet = std::chrono::steady_clock::now() + 1500ms;
    while (std::chrono::steady_clock::now() < quiet) {
        if (auto message = reader.WaitFor("", 100ms))
            CheckOff(message.get(), last);
    }
}

} // namespace quorvel::soak
