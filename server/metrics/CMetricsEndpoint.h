#pragma once

#include "quorvel_host/CServerStatus.h"
#include "quorvel_service/CServiceCounters.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>


namespace httplib {
class Server;
}

namespace quorvel::shell {
class CServerApp;
}
namespace scrivlet {
class CLog4c;
}

namespace quorvel::metrics {

// The metrics endpoint: an HTTP server on a thread of its own that answers
// GET /metrics with the Prometheus text of the latest status snapshot, its
// counters read afresh at each request. It never touches the service: the
// service loop hands it a snapshot (Publish) once a second, and the counters
// are atomics. Off unless [METRICS] Port is set.
//
// Threads: Start, Stop and the destructor on any thread, one at a time (the
// shell starts it on the service loop and destroys it at the end); Publish
// and Scrape on any thread.
class CMetricsEndpoint {
public:
    // [METRICS] of server.ini.
    struct Settings {
        unsigned port = 0;                  // Port: 1 to 65535; 0 (absent, unusable) is off
        std::string address = "127.0.0.1"; // Address: the address to bind
    };
    // The settings read from the program's server.ini; an absent or
    // unusable Port leaves the endpoint off, an absent Address keeps
    // 127.0.0.1.
    static Settings ReadSettings(const shell::CServerApp& app);

    // `log` outlives the endpoint; `counters` are read at every request.
    CMetricsEndpoint(scrivlet::CLog4c& log, std::shared_ptr<const service::CServiceCounters> counters);
    // Stops the server.
    ~CMetricsEndpoint();
    CMetricsEndpoint(const CMetricsEndpoint&) = delete;
    CMetricsEndpoint& operator=(const CMetricsEndpoint&) = delete;

    // Binds the address and port and serves on a thread of its own. False
    // (with an ERROR line) when the port cannot be bound, and without a
    // port (nothing logged). A running endpoint is stopped first.
    bool Start(const Settings& settings);
    // Stops serving and joins the thread; requests in progress end first.
    void Stop();
    // The port served, 0 when stopped.
    unsigned Port() const { return port_; }

    // The snapshot answered from now on. Any thread.
    void Publish(const host::CServerStatus::Snapshot& snapshot);
    // The body of GET /metrics. Any thread.
    std::string Scrape() const;

private:
    scrivlet::CLog4c& log_;
    std::shared_ptr<const service::CServiceCounters> counters_;
    mutable std::mutex mutex_;  // guards latest_ only, held for a pointer copy
    std::shared_ptr<const host::CServerStatus::Snapshot> latest_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<bool> serving_{false};
    unsigned port_ = 0;
};

} // namespace quorvel::metrics
