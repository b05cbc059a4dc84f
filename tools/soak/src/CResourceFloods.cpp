#include "CResourceFloods.h"

#include "CRawConnection.h"
#include "SoakXml.h"

#include "corvane/CFrame.h"
#include "marlune/Marlune.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

namespace quorvel::soak {

using corvane::CFrame;
using marlune::CMessageTransFile;

namespace {

using namespace std::chrono_literals;

// Connections sending most of a 16 MiB frame at once: at full speed
// together far more than the server's buffer budget (256 MiB by default);
// a slower attack sends fewer, as a slower server reads them slower.
constexpr int kStallers = 24;
constexpr int kFewestStallers = 4;
constexpr std::size_t kStalledBytes = CFrame::kMaxPayload - (1u << 20);
// As many connections as one user may have by default ([LIMITS]
// MaxConnectionsPerUser), each with a tiny receive buffer.
constexpr int kFanConnections = 16;
constexpr int kFanReceiveBuffer = 4096;
constexpr std::size_t kChunkBytes = 2u << 20;
// Connections the flood keeps trying to hold: more than the server allows
// one address.
constexpr std::size_t kFloodTarget = CResourceFloods::kConnectionsPerAddress + 64;

} // namespace

CResourceFloods::CResourceFloods(int port, std::string fanUser, std::string sender, int pace)
    : CAttackCrew(pace),
      port_(port),
      fanUser_(std::move(fanUser)),
      sender_(std::move(sender))
{}

CResourceFloods::~CResourceFloods()
{
    Stop();
}

void CResourceFloods::Start(std::chrono::steady_clock::time_point deadline)
{
    StartClock(deadline);
    for (int i = 0; i < std::max(kFewestStallers, kStallers / Pace()); ++i)
        Launch([this] { HalfSentFrames(); });
    Launch([this] { FanOutReaders(); });
    Launch([this] { FanOutSender(); });
    Launch([this] { ConnectionFlood(); });
}

// Most of a 16 MiB frame, then nothing for five seconds; then again on a
// new connection.
void CResourceFloods::HalfSentFrames()
{
    while (Running()) {
        CRawConnection connection;
        if (!connection.Connect(port_)) {
            Pause(50ms);
            continue;
        }
        figures_.stalledFrames.fetch_add(1);
        bool open = connection.SendPartOfFrame(CFrame::kMaxPayload, kStalledBytes);
        for (int i = 0; i < 50 && Running(); ++i)
            Pause(100ms);
        open = open && connection.Drain();
        if (!open)
            figures_.stallersClosed.fetch_add(1);
    }
}

// Keeps the fan-out user logged in on all its connections, none of which
// ever reads; a heartbeat now and then finds those the server ended.
void CResourceFloods::FanOutReaders()
{
    const std::string login = LoginXml(fanUser_, "pw-" + fanUser_, "online", false);
    const std::string heart = HeartXml();
    std::vector<CRawConnection> connections(kFanConnections);
    while (Running()) {
        for (auto& connection : connections) {
            if (connection.Open() && connection.SendFrame(heart))
                continue;
            if (connection.Open()) {
                figures_.fanOutClosed.fetch_add(1);
                connection.Close();
            }
            if (connection.Connect(port_, kFanReceiveBuffer) && connection.SendFrame(login))
                figures_.fanOutLogins.fetch_add(1);
        }
        Pause(500ms);
    }
}

// File chunks of 2 MiB for the fan-out user, relayed to each of its
// connections as they arrive.
void CResourceFloods::FanOutSender()
{
    CMessageTransFile chunk;
    chunk.type = CMessageTransFile::kType;
    chunk.source = sender_ + "@hub";
    chunk.target = fanUser_ + "@hub";
    chunk.file = "soak.bin";
    chunk.size = std::to_string(kChunkBytes);
    chunk.offset = "0";
    chunk.data = std::string(kChunkBytes, 'A');
    const std::string payload = BuildXml(chunk);
    while (Running()) {
        CRawConnection connection;
        if (!connection.Connect(port_)) {
            Pause(50ms);
            continue;
        }
        while (Running() && connection.SendFrame(payload) && connection.Drain()) {
            figures_.fanOutChunks.fetch_add(1);
            Pause(500ms);
        }
    }
}

// Opens connections from its own address until it holds more than the
// server allows one address, and keeps those the server lets it have;
// those closed at once were refused. At the end it counts what it holds.
void CResourceFloods::ConnectionFlood()
{
    std::vector<std::unique_ptr<CRawConnection>> held;
    const auto sweep = [&] {
        std::erase_if(held, [&](const auto& connection) {
            if (connection->Drain())
                return false;
            figures_.floodRefused.fetch_add(1);
            return true;
        });
    };
    while (Running()) {
        while (held.size() < kFloodTarget && Running()) {
            auto connection = std::make_unique<CRawConnection>();
            if (!connection->Connect(port_, 0, kFloodAddress))
                break;
            figures_.floodConnects.fetch_add(1);
            held.push_back(std::move(connection));
        }
        Pause(1000ms);
        sweep();
    }
    // A busy server may not have taken the last connections yet: what it
    // has not ended once nothing changed for a few seconds, it keeps.
    const auto giveUp = std::chrono::steady_clock::now() + 30s;
    for (int still = 0; still < 3 && std::chrono::steady_clock::now() < giveUp;) {
        std::this_thread::sleep_for(1s);
        const std::size_t before = held.size();
        sweep();
        still = held.size() == before ? still + 1 : 0;
    }
    figures_.floodHeld.store(held.size());
}

} // namespace quorvel::soak
