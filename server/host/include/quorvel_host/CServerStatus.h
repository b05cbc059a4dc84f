#pragma once

#include "quorvel_store/CMsgCache.h"
#include "quorvel_service/CServiceCounters.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel::host {

// The operator's view of the running program, built from one snapshot: the
// console's "status" command prints it, the metrics endpoint serves the same
// numbers. The snapshot is taken on the service loop (CMsgServiceHost::
// StatusSnapshot) and is a plain copy, so it can be read on any thread.
class CServerStatus {
public:
    struct Snapshot {
        bool running = false; // a service exists
        bool listening = false;
        std::string whyNotListening; // empty while listening
        unsigned port = 0; // the port listened or waited for; 0 when none was read
        std::size_t connections = 0; // open connections
        std::size_t usersLoggedIn = 0; // distinct users bound to a connection
        store::CMsgCache::Stats store;
        std::uint64_t residentBytes = 0;
        service::CServiceCounters::Values counters;
    };

    // The snapshot as a short block of lines joined by "\n" (no final line
    // end), ASCII but for the reasons the system gives. Any thread.
    static std::string Block(const Snapshot& snapshot);
    // The process's resident memory in bytes (from /proc/self/statm); 0 when
    // it cannot be read. Any thread.
    static std::uint64_t ResidentBytes();
};

} // namespace quorvel::host
