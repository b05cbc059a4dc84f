#include "COrderChecker.h"

namespace quorvel::load {

COrderChecker::Verdict COrderChecker::Record(std::uint64_t stream, std::uint64_t seq)
{
    Stream& s = streams_[stream];
    if (seq == s.next) {
        ++s.next;
        ++received_;
        return Verdict::kInOrder;
    }
    if (seq > s.next) {
        // A gap: the numbers in between are either lost or will come late.
        // A huge jump is a corrupt number; only the start of the gap is kept
        // so memory stays bounded, and the rest counts as missing.
        constexpr std::uint64_t kMaxGap = 1u << 20;
        const std::uint64_t from = seq - s.next > kMaxGap ? seq - kMaxGap : s.next;
        for (std::uint64_t n = from; n < seq; ++n)
            s.skipped.insert(n);
        s.next = seq + 1;
        ++received_;
        return Verdict::kInOrder;
    }
    if (s.skipped.erase(seq) != 0) {
        ++received_;
        ++reordered_;
        return Verdict::kLate;
    }
    ++duplicates_;
    return Verdict::kDuplicate;
}

void COrderChecker::Sent(std::uint64_t stream, std::uint64_t count)
{
    Stream& s = streams_[stream];
    s.sent = count;
    s.sentKnown = true;
}

std::uint64_t COrderChecker::Missing() const
{
    std::uint64_t missing = 0;
    for (const auto& [key, s] : streams_) {
        if (!s.sentKnown)
            continue;
        // Gaps below what was sent, plus everything never reached.
        for (auto n : s.skipped)
            if (n < s.sent)
                ++missing;
        if (s.next < s.sent)
            missing += s.sent - s.next;
    }
    return missing;
}

std::uint64_t COrderChecker::Unexpected() const
{
    // Numbers above what the stream's sender sent (all of them when the
    // sender is unknown).
    std::uint64_t unexpected = 0;
    for (const auto& [key, s] : streams_) {
        const std::uint64_t sent = s.sentKnown ? s.sent : 0;
        if (s.next > sent)
            unexpected += s.next - sent;
    }
    return unexpected;
}

} // namespace quorvel::load
