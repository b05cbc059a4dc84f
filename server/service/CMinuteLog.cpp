#include "CMinuteLog.h"

#include <algorithm>

bool CMinuteLog::Due(std::string_view key, Clock::time_point now, std::uint64_t& skipped)
{
    skipped = 0;
    auto found = entries_.find(std::string(key));
    if (found == entries_.end()) {
        if (entries_.size() >= pruneAt_)
            Prune(now);
        entries_.emplace(std::string(key), Entry{now, 0});
        return true;
    }
    Entry& entry = found->second;
    if (now - entry.last < interval_) {
        ++entry.skipped;
        return false;
    }
    skipped = entry.skipped;
    entry = Entry{now, 0};
    return true;
}

void CMinuteLog::Prune(Clock::time_point now)
{
    // A key whose interval has passed would log its next event anyway; its
    // count of skipped events is the only thing lost.
    std::erase_if(entries_, [&](const auto& item) { return now - item.second.last >= interval_; });
    pruneAt_ = std::max(kFirstPrune, entries_.size() * 2);
}
