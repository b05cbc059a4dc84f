#pragma once

#include "CAttackCrew.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::soak {

class CRawConnection;

// Hostile clients that aim at the requests costing the server far more
// than their bytes, each on a thread of its own until the deadline:
// announcements of ever new servers with more users than the server keeps,
// list requests from users with long statuses that never read the answers,
// friendships offered to the well-behaved users by the thousand, and
// messages whose addresses carry line ends and terminal escapes meant to
// forge lines in the server's log (kForgedMark starts each forged line).
//
// Thread: the owner calls Start and Join; the counters are read after Join.
class CCostlyFloods : public CAttackCrew {
public:
    // Begins every line the forging messages try to plant in the log.
    static constexpr const char* kForgedMark = "FORGED-SOAK-LINE";

    struct Figures {
        std::atomic<std::uint64_t> announcements{0};
        std::atomic<std::uint64_t> listRequests{0};
        std::atomic<std::uint64_t> friendOffers{0};
        std::atomic<std::uint64_t> forgeries{0};
    };

    // `listUsers` log in (password "pw-<id>") and flood list requests;
    // `victims` are offered friendships by `hostileUser`. Every pause is
    // `pace` times as long as normal.
    CCostlyFloods(int port, std::vector<std::string> listUsers, std::vector<std::string> victims,
                  std::string hostileUser, int pace = 1);
    ~CCostlyFloods();
    CCostlyFloods(const CCostlyFloods&) = delete;
    CCostlyFloods& operator=(const CCostlyFloods&) = delete;

    void Start(std::chrono::steady_clock::time_point deadline);
    const Figures& Counts() const { return figures_; }

private:

    void AnnouncementFlood();
    void ListAmplification(const std::string& user);
    void FriendFlood();
    void ForgedFields();

    int port_;
    std::vector<std::string> listUsers_;
    std::vector<std::string> victims_;
    std::string hostileUser_;
    Figures figures_;
};

} // namespace quorvel::soak
