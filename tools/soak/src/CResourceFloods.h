#pragma once

#include "CAttackCrew.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel::soak {

class CRawConnection;

// Attacks on what the server holds for its clients rather than on its
// time: many connections each sending most of a 16 MiB frame and then
// stalling; large file chunks fanned out to every connection of one user,
// none of which reads; and a flood of connections from an address of its
// own that keeps every connection the server lets it have.
//
// Thread: the owner calls Start and Join; the figures are read after Join.
class CResourceFloods : public CAttackCrew {
public:
    // The address the connection flood comes from (the others come from
    // 127.0.0.1), and the connections the server keeps for one address by
    // default ([LIMITS] MaxConnectionsPerAddress).
    static constexpr const char* kFloodAddress = "127.0.0.3";
    static constexpr std::size_t kConnectionsPerAddress = 256;

    struct Figures {
        std::atomic<std::uint64_t> stalledFrames{0}; // half-sent 16 MiB frames
        std::atomic<std::uint64_t> stallersClosed{0}; // of them, ended by the server
        std::atomic<std::uint64_t> fanOutChunks{0}; // chunks sent to the fan-out user
        std::atomic<std::uint64_t> fanOutLogins{0}; // logins of its connections
        std::atomic<std::uint64_t> fanOutClosed{0}; // of them, ended by the server
        std::atomic<std::uint64_t> floodConnects{0}; // connections the flood opened
        std::atomic<std::uint64_t> floodRefused{0}; // closed by the server at once
        std::atomic<std::uint64_t> floodHeld{0}; // still open at the end
    };

    // `fanUser` logs in on as many connections as a user may have and reads
    // none; `sender` sends it the chunks.
    CResourceFloods(int port, std::string fanUser, std::string sender, int pace);
    ~CResourceFloods();

    void Start(std::chrono::steady_clock::time_point deadline);
    const Figures& Counts() const { return figures_; }

private:
    void HalfSentFrames();
    void FanOutReaders();
    void FanOutSender();
    void ConnectionFlood();

    int port_;
    std::string fanUser_;
    std::string sender_;
    Figures figures_;
};

} // namespace quorvel::soak
