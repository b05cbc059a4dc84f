#include "quorvel_directory/CCoalescedSave.h"

#include "corvane/CEventLoop.h"

#include <asio/steady_timer.hpp>

namespace quorvel::directory {

using corvane::CEventLoop;

struct CCoalescedSave::State {
    State(asio::io_context& context, std::function<void()> fn, std::chrono::milliseconds every)
        : timer(context), save(std::move(fn)), interval(every)
    {
    }
    void SaveNow()
    {
        pending = false;
        last = std::chrono::steady_clock::now();
        saved = true;
        save();
    }

    asio::steady_timer timer;
    std::function<void()> save;
    std::chrono::milliseconds interval;
    std::chrono::steady_clock::time_point last{};
    bool saved = false;    // a save has run
    bool pending = false;  // a save is armed
    bool dropped = false;  // the owner is gone
};

CCoalescedSave::CCoalescedSave(std::function<void()> save, std::chrono::milliseconds interval)
    : state_(std::make_shared<State>(CEventLoop::Current()->Context(), std::move(save), interval))
{
}

CCoalescedSave::~CCoalescedSave()
{
    state_->dropped = true;
    state_->timer.cancel();
}

void CCoalescedSave::Request()
{
    State& state = *state_;
    if (state.pending)
        return;
    const auto due = state.last + state.interval;
    if (!state.saved || std::chrono::steady_clock::now() >= due) {
        state.SaveNow();
        return;
    }
    state.pending = true;
    state.timer.expires_at(due);
    state.timer.async_wait([state = state_](const std::error_code& error) {
        if (!error && !state->dropped && state->pending)
            state->SaveNow();
    });
}

void CCoalescedSave::Flush()
{
    if (!state_->pending)
        return;
    state_->timer.cancel();
    state_->SaveNow();
}

} // namespace quorvel::directory
