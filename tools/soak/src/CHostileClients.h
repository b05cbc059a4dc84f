#pragma once

#include "CAttackCrew.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::soak {

class CRawConnection;

// Clients that try to hurt the server, each kind on a thread of its own
// until the deadline: connections opened and dropped, random bytes, bad
// headers, length 0, a never-finished 16 MiB frame, random valid XML of
// every type, heartbeat floods, wrong-password logins, 10,000-character
// ids, and slow readers that never read.
//
// Thread: the owner calls Start and Join; the counters are read after Join.
class CHostileClients : public CAttackCrew {
public:
    struct Figures {
        std::atomic<std::uint64_t> connections{0};     // opened
        std::atomic<std::uint64_t> failedConnects{0};
        std::atomic<std::uint64_t> frames{0};          // whole frames sent
        std::atomic<std::uint64_t> bytes{0};           // bytes sent, frames or not
        std::atomic<std::uint64_t> closedByServer{0};  // connections the server ended
    };

    // `victims` are real users whose passwords the hostile logins get wrong;
    // `slowUsers` log in and never read; `xmlUser` sends the random XML
    // logged in half of the time. Every pause between attacks is `pace`
    // times as long as normal (a slower server under test needs a slower
    // attack to keep its backlog bounded).
    CHostileClients(int port, std::vector<std::string> victims, std::vector<std::string> slowUsers,
                    std::string xmlUser, int pace = 1);
    ~CHostileClients();
    CHostileClients(const CHostileClients&) = delete;
    CHostileClients& operator=(const CHostileClients&) = delete;

    void Start(std::chrono::steady_clock::time_point deadline);
    const Figures& Counts() const { return figures_; }

private:
    bool Connect(CRawConnection& connection, int receiveBuffer = 0);
    bool Frame(CRawConnection& connection, const std::string& payload);
    void Closed(CRawConnection& connection);
    bool Login(CRawConnection& connection, const std::string& user, const std::string& password);

    void Churn();
    void RandomBytes();
    void BadHeaders();
    void UnfinishedFrame();
    void RandomXml();
    void HeartbeatFlood();
    void WrongPasswords();
    void LongIds();
    void SlowReader(const std::string& user);

    int port_;
    std::vector<std::string> victims_;
    std::vector<std::string> slowUsers_;
    std::string xmlUser_;
    Figures figures_;
};

} // namespace quorvel::soak
