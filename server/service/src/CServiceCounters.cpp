#include "quorvel_service/CServiceCounters.h"

#include <cstring>

namespace quorvel::service {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr std::size_t kOtherType = CServiceCounters::kTypes.size() - 2;
constexpr std::size_t kUnparsedType = CServiceCounters::kTypes.size() - 1;

} // namespace

CServiceCounters::CServiceCounters() : started_(std::chrono::steady_clock::now())
{}

void CServiceCounters::CountReceived(std::string_view type)
{
    if (type.empty()) {
        Add(received_[kUnparsedType]);
        return;
    }
    for (std::size_t i = 0; i < kOtherType; ++i) {
        if (type == kTypes[i]) {
            Add(received_[i]);
            return;
        }
    }
    Add(received_[kOtherType]);
}

void CServiceCounters::CountRefused(const char* limit)
{
    SlotFor(limit ? limit : kOtherLimit).count.fetch_add(1, kRelaxed);
}

// The slot named `limit`, claiming a free one for a new name. The last slot
// is kept for kOtherLimit, so the table never overflows.
CServiceCounters::LimitSlot& CServiceCounters::SlotFor(const char* limit)
{
    LimitSlot& other = limits_.back();
    for (std::size_t i = 0; i + 1 < limits_.size(); ++i) {
        const char* name = limits_[i].name.load(std::memory_order_acquire);
        if (name == nullptr) {
            const char* expected = nullptr;
            if (limits_[i].name.compare_exchange_strong(expected, limit, std::memory_order_acq_rel))
                return limits_[i];
            name = expected;
        }
        if (name == limit || std::strcmp(name, limit) == 0)
            return limits_[i];
    }
    const char* expected = nullptr;
    other.name.compare_exchange_strong(expected, kOtherLimit, std::memory_order_acq_rel);
    return other;
}

void CServiceCounters::SetWorkerCycle(std::chrono::microseconds duration)
{
    workerCycleMicros_.store(duration.count(), kRelaxed);
    Add(workerCycles_);
}

void CServiceCounters::SetLoopLag(std::chrono::microseconds lag)
{
    loopLagMicros_.store(lag.count() > 0 ? lag.count() : 0, kRelaxed);
}

CServiceCounters::Values CServiceCounters::Read() const
{
    Values values;
    values.connections = connections_.load(kRelaxed);
    values.loginsOk = loginsOk_.load(kRelaxed);
    values.loginsFailed = loginsFailed_.load(kRelaxed);
    for (std::size_t i = 0; i < received_.size(); ++i)
        values.received[i] = received_[i].load(kRelaxed);
    values.relayed = relayed_.load(kRelaxed);
    values.stored = stored_.load(kRelaxed);
    values.delivered = delivered_.load(kRelaxed);
    values.routed = routed_.load(kRelaxed);
    for (const LimitSlot& slot : limits_) {
        if (const char* name = slot.name.load(std::memory_order_acquire))
            values.refused.emplace_back(name, slot.count.load(kRelaxed));
    }
    values.workerCycles = workerCycles_.load(kRelaxed);
    values.workerCycle = std::chrono::microseconds(workerCycleMicros_.load(kRelaxed));
    values.loopLag = std::chrono::microseconds(loopLagMicros_.load(kRelaxed));
    values.uptime = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_);
    return values;
}

} // namespace quorvel::service
