#include "CTickTimer.h"

#include "corvane/CEventLoop.h"

#include <asio/steady_timer.hpp>

namespace quorvel::shell {

using corvane::CEventLoop;

// Shared with the pending wait, so a wait completing after Stop (or after
// the object died) finds the state alive and the generation changed.
struct CTickTimer::State {
    explicit State(CEventLoop& loop, std::function<void()> fn) : timer(loop.Context()), onTick(std::move(fn)) {}
    asio::steady_timer timer;
    std::function<void()> onTick;
    std::chrono::milliseconds period{0};
    std::chrono::steady_clock::duration lag{0};
    unsigned generation = 0;
    bool running = false;
};

CTickTimer::CTickTimer(CEventLoop& loop, std::function<void()> onTick)
    : state_(std::make_shared<State>(loop, std::move(onTick)))
{
}

CTickTimer::~CTickTimer()
{
    Stop();
}

void CTickTimer::Start(std::chrono::milliseconds period)
{
    Stop();
    state_->period = period;
    state_->running = true;
    state_->timer.expires_after(period);
    Arm();
}

void CTickTimer::Stop()
{
    state_->running = false;
    ++state_->generation;
    state_->timer.cancel();
}

bool CTickTimer::Running() const
{
    return state_->running;
}

std::chrono::steady_clock::duration CTickTimer::LastLag() const
{
    return state_->lag;
}

void CTickTimer::Arm()
{
    std::weak_ptr<State> weak = state_;
    const unsigned generation = state_->generation;
    state_->timer.async_wait([this, weak, generation](const std::error_code& error) {
        auto state = weak.lock();
        if (error || !state || !state->running || state->generation != generation)
            return;
        state->lag = std::chrono::steady_clock::now() - state->timer.expiry();
        // Like a window timer, a late tick is not made up for by a burst.
        state->timer.expires_after(state->period);
        Arm();
        state->onTick();
    });
}

} // namespace quorvel::shell
