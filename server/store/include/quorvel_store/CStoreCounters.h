#pragma once

#include <chrono>

namespace quorvel::store {

// What the store counts; the service's counters implement it
// (CServiceCounters), so the store's numbers show with the service's.
// Any thread.
class CStoreCounters {
public:
    virtual void CountDelivered() = 0;
    virtual void CountRouted() = 0;
    // A message refused because a store bound (named by `limit`) was reached.
    virtual void CountRefused(const char* limit) = 0;
    virtual void SetWorkerCycle(std::chrono::microseconds duration) = 0;

protected:
    ~CStoreCounters() = default;
};

} // namespace quorvel::store
