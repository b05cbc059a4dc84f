#pragma once

#include <cstdint>
#include <optional>

namespace quorvel::load {

// Reads a process's figures from /proc: resident memory, and the CPU time of
// its low-priority threads (the delivery worker, the routing thread and the
// directory writer run at nice 10).
// Any thread; no state.
class CProcessProbe {
public:
    // VmRSS in kB; nullopt when the process cannot be read.
    static std::optional<std::uint64_t> ResidentKb(int pid);
    // User + system CPU time, in milliseconds, of the process's threads that
    // run at nice 10 or weaker, or under SCHED_IDLE; nullopt when it cannot
    // be read.
    static std::optional<double> LowPriorityThreadsCpuMs(int pid);
    // Total CPU time of the process in milliseconds.
    static std::optional<double> CpuMs(int pid);
};

} // namespace quorvel::load
