#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace quorvel::soak {

// The threads of one group of attackers in the soak, sharing a deadline and
// a pace. A derived crew launches its attackers with Launch and must call
// Stop in its destructor, so no attacker outlives the members it uses.
//
// Threads: Launch, Stop and Join on the soak's main thread; Running and
// Pause on the attackers' threads.
class CAttackCrew {
public:
    CAttackCrew(const CAttackCrew&) = delete;
    CAttackCrew& operator=(const CAttackCrew&) = delete;

    // Waits for every attacker (each ends at the deadline).
    void Join();

protected:
    // Every pause is `pace` times as long as asked.
    explicit CAttackCrew(int pace) : pace_(pace) {}
    ~CAttackCrew();

    void StartClock(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }
    void Launch(std::function<void()> attacker) { threads_.emplace_back(std::move(attacker)); }
    // Ends the attacks at once and waits for them.
    void Stop();

    bool Running() const { return std::chrono::steady_clock::now() < deadline_.load(); }
    void Pause(std::chrono::milliseconds length) const;
    int Pace() const { return pace_; }

private:
    int pace_;
    std::atomic<std::chrono::steady_clock::time_point> deadline_{};
    std::vector<std::thread> threads_;
};

} // namespace quorvel::soak
