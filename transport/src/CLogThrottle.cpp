#include "corvane/CLogThrottle.h"

namespace corvane {

bool CLogThrottle::Allow(std::string_view cause, std::string_view address, Clock::time_point now)
{
    std::string key;
    key.reserve(cause.size() + 1 + address.size());
    key.append(cause).push_back('\n');
    key.append(address);
    std::lock_guard lock(mutex_);
    const auto found = last_.find(key);
    if (found != last_.end()) {
        if (now - found->second < pause_)
            return false;
        found->second = now;
        return true;
    }
    if (last_.size() >= kRemembered)
        std::erase_if(last_, [&](const auto& entry) { return now - entry.second >= pause_; });
    if (last_.size() >= kRemembered)
        return false;
    last_.emplace(std::move(key), now);
    return true;
}

} // namespace corvane
