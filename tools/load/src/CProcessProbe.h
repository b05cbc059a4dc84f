#pragma once

#include <cstdint>
#include <optional>

// Reads a process's figures from /proc: resident memory, and the CPU time of
// its idle-priority threads (the delivery worker runs at idle priority).
// Any thread; no state.
class CProcessProbe {
public:
    // VmRSS in kB; nullopt when the process cannot be read.
    static std::optional<std::uint64_t> ResidentKb(int pid);
    // User + system CPU time, in milliseconds, of the process's threads that
    // run under SCHED_IDLE or at nice 19; nullopt when it cannot be read.
    static std::optional<double> IdleThreadsCpuMs(int pid);
    // Total CPU time of the process in milliseconds.
    static std::optional<double> CpuMs(int pid);
};
