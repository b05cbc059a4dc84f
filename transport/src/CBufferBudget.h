#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

namespace corvane {

class CEventLoop;

// The bytes all connections of one listening endpoint hold in their receive
// buffers and send queues, against one limit. Connections add and remove
// what they hold; when the total passes the limit, the endpoint's enforcer
// makes room by closing the connections that hold the most.
//
// Threads: Add, Held, Limit and SetLimit from any thread; MakeRoom and
// SetEnforcer on the endpoint's loop thread. MakeRoom asked for on another
// thread is posted to the loop (one at a time).
class CBufferBudget : public std::enable_shared_from_this<CBufferBudget> {
public:
    explicit CBufferBudget(CEventLoop& loop) : loop_(loop) {}

    void SetLimit(std::size_t bytes) { limit_.store(bytes); }
    // The limit; 0 when the budget is off.
    std::size_t Limit() const { return limit_.load(); }
    std::size_t Held() const { return held_.load(); }
    bool Over() const;
    // Adds delta (negative: removes) to the bytes held.
    void Add(std::ptrdiff_t delta);
    // When over the limit, runs the enforcer: at once on the loop thread
    // (never from inside the enforcer), else posted. Call with no
    // connection's lock held.
    void MakeRoom();
    // The endpoint's way to make room; null when the endpoint is gone.
    void SetEnforcer(std::function<void()> enforce) { enforce_ = std::move(enforce); }

private:
    void Enforce();

    CEventLoop& loop_;
    std::atomic<std::size_t> limit_{0};
    std::atomic<std::size_t> held_{0};
    std::atomic<bool> posted_{false};
    bool enforcing_ = false;             // loop thread
    std::function<void()> enforce_;      // loop thread
};

} // namespace corvane
