#include "CBufferBudget.h"

#include "corvane/CEventLoop.h"

namespace corvane {

bool CBufferBudget::Over() const
{
    const std::size_t limit = limit_.load();
    return limit != 0 && held_.load() > limit;
}

void CBufferBudget::Add(std::ptrdiff_t delta)
{
    if (delta >= 0)
        held_.fetch_add(static_cast<std::size_t>(delta));
    else
        held_.fetch_sub(static_cast<std::size_t>(-delta));
}

void CBufferBudget::MakeRoom()
{
    if (!Over())
        return;
    if (loop_.IsInLoopThread()) {
        Enforce();
        return;
    }
    if (posted_.exchange(true))
        return;
    loop_.Post([self = shared_from_this()] {
        self->posted_ = false;
        self->Enforce();
    });
}

void CBufferBudget::Enforce()
{
    if (enforcing_ || !enforce_ || !Over())
        return;
    enforcing_ = true;
    try {
        enforce_();
    } catch (...) {
        enforcing_ = false;
        throw;
    }
    enforcing_ = false;
}

} // namespace corvane
