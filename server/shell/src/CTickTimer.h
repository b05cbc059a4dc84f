#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace corvane {
class CEventLoop;
}

namespace quorvel::shell {

// A periodic timer on an event loop (the window timer of the console): each
// period it runs its handler on the loop's thread, then arms itself again.
//
// Thread: the loop's thread for every method, the destructor included.
class CTickTimer {
public:
    CTickTimer(corvane::CEventLoop& loop, std::function<void()> onTick);
    // Stops the timer.
    ~CTickTimer();
    CTickTimer(const CTickTimer&) = delete;
    CTickTimer& operator=(const CTickTimer&) = delete;

    // Starts ticking every `period`; a running timer restarts.
    void Start(std::chrono::milliseconds period);
    // Stops ticking; no tick runs after it returns.
    void Stop();
    bool Running() const;
    // How late the last tick ran after it was due (the loop was busy); zero
    // before the first tick.
    std::chrono::steady_clock::duration LastLag() const;

private:
    struct State;
    void Arm();

    std::shared_ptr<State> state_;
};

} // namespace quorvel::shell
