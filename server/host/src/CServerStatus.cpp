#include "quorvel_host/CServerStatus.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <fstream>

namespace quorvel::host {

using service::CServiceCounters;

namespace {

std::string Format(const char* format, auto... args)
{
    char line[256];
    const int n = std::snprintf(line, sizeof line, format, args...);
    return n < 0 ? std::string()
                 : std::string(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
}

std::string Uptime(std::chrono::seconds uptime)
{
    const auto total = static_cast<long long>(uptime.count());
    const long long days = total / 86400;
    const std::string clock = Format("%02lld:%02lld:%02lld", total / 3600 % 24, total / 60 % 60, total % 60);
    return days > 0 ? Format("%lldd ", days) + clock : clock;
}

std::uint64_t Sum(const std::array<std::uint64_t, CServiceCounters::kTypes.size()>& received)
{
    std::uint64_t sum = 0;
    for (const std::uint64_t n : received)
        sum += n;
    return sum;
}

std::string Refusals(const CServiceCounters::Values& counters)
{
    std::string line;
    for (const auto& [limit, count] : counters.refused) {
        if (count == 0)
            continue;
        line += (line.empty() ? "refused: " : ", ") + limit + Format(" %" PRIu64, count);
    }
    return line;
}

} // namespace

std::string CServerStatus::Block(const Snapshot& s)
{
    const CServiceCounters::Values& c = s.counters;
    std::string block;
    if (s.listening)
        block = Format("status: listening on port %u", s.port);
    else
        block = "status: not listening: " + s.whyNotListening;
    block += Format("\nconnections: %zu open, %" PRIu64 " accepted since start; users logged in: %zu; logins: %" PRIu64
                    " ok, %" PRIu64 " failed",
                    s.connections, c.connections, s.usersLoggedIn, c.loginsOk, c.loginsFailed);
    block += Format("\npending stored messages: %" PRIu32 " for local users (%" PRIu64 " bytes), %" PRIu32
                    " for other servers (%" PRIu64 " bytes)",
                    s.store.local.messages, s.store.local.bytes, s.store.other.messages, s.store.other.bytes);
    block += Format("\nstore files: msg_index.dat %" PRIu64 " bytes, msg_data.dat %" PRIu64 " bytes",
                    s.store.indexFileBytes, s.store.dataFileBytes);
    block += Format("\nmemory: %.1f MiB resident; uptime ", static_cast<double>(s.residentBytes) / (1024.0 * 1024.0)) +
             Uptime(c.uptime);
    block += Format("\nmessages since start: %" PRIu64 " received, %" PRIu64 " relayed, %" PRIu64 " stored, %" PRIu64
                    " delivered, %" PRIu64 " routed",
                    Sum(c.received), c.relayed, c.stored, c.delivered, c.routed);
    if (const std::string refused = Refusals(c); !refused.empty())
        block += "\n" + refused;
    return block;
}

std::uint64_t CServerStatus::ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0;
    std::uint64_t resident = 0;
    if (!(statm >> size >> resident))
        return 0;
    const long page = ::sysconf(_SC_PAGESIZE);
    return page > 0 ? resident * static_cast<std::uint64_t>(page) : 0;
}

} // namespace quorvel::host
