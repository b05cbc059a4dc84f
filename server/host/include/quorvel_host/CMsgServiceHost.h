#pragma once

#include "quorvel_directory/CCoalescedSave.h"
#include "quorvel_directory/CDirectoryWriter.h"
#include "quorvel_store/CMsgCache.h"
#include "quorvel_host/CServerStatus.h"
#include "quorvel_service/CServiceCounters.h"
#include "quorvel_service/CServiceLimits.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace quorvel::service {
class CChatServer;
}
namespace quorvel::store {
class CMsgSendThread;
}
namespace scrivlet {
class CLog4c;
}

namespace quorvel::host {

// Starts and stops the message service: owns at most one running
// CChatServer, loads the directory file into it, refuses an unusable server
// name, opens the listening port, announces this server to its route
// servers and binds the delivery worker to it. The console decides when.
//
// Thread: the service loop thread (the service belongs to the loop current
// on the thread that creates it), for every method.
class CMsgServiceHost {
public:
    // What a start did.
    enum class StartResult {
        AlreadyRunning,   // a service exists; nothing changed
        Refused,          // the server name holds "@" or "/", or is too
                          // long for the message store; no service
        StartedUnloaded,  // the directory file could not be read: a service
                          // without listening, callbacks or announcement
        Started,          // loaded; listening, or without a port it
                          // refused, or retrying one another program holds
    };

    // Where the program keeps its files and how the service reads the
    // SendAllFriend setting; all outlive the host. Each service started
    // gets the limits.
    struct Settings {
        std::string moduleDir;   // the directory file is <moduleDir>/config/server.xml
        std::string dataDir;     // the delivery worker's cache folder
        std::function<bool()> sendAllFriend;
        store::CMsgCache::Limits storeLimits{}; // given to the worker's cache at each start
        service::CServiceLimits limits;
    };

    // Directory saves asked for by the service run at most this often; a
    // stop writes one still pending.
    static constexpr std::chrono::milliseconds kSaveInterval{1000};
    // While another program holds the service's port, listening is tried
    // again every kListenRetryTicks ticks of the console's timer, and a
    // failed attempt is logged at most once per kListenRetryLineTicks ticks.
    static constexpr int kListenRetryTicks = 3;
    static constexpr int kListenRetryLineTicks = 60;

    CMsgServiceHost(scrivlet::CLog4c& log, store::CMsgSendThread& worker, Settings settings);
    // Stops a service still running.
    ~CMsgServiceHost();
    CMsgServiceHost(const CMsgServiceHost&) = delete;
    CMsgServiceHost& operator=(const CMsgServiceHost&) = delete;

    // Creates the service unless one exists, loads <moduleDir>/config/server.xml
    // into it and, when that loaded and the name is usable, registers the
    // callbacks and the directory save, listens, announces and starts the
    // send thread; then binds and starts the worker (also after a failed load).
    StartResult StartMsgService();
    // Stops the worker, which waits for its current cycle to end, writes a
    // directory save still pending and waits for it, then destroys the
    // service. True when a service existed.
    bool StopMsgService();

    // Hands a copy of the running service's records to the directory
    // writer, which replaces the file on its own thread; returns at once.
    void SaveConfig();
    // Returns once the directory writer has written every copy handed to it.
    void FlushSaves();
    // Announces this server to its route servers; nothing without a service.
    void AnnounceToRouteServers();
    // One tick of the console's timer: while the running service could not
    // listen because its port was taken, tries again every
    // kListenRetryTicks ticks. True when this tick made it listen.
    bool RetryListen();
    // Whether a service runs and has its listening socket.
    bool Listening() const;
    // Why the service does not listen ("" while it does).
    std::string WhyNotListening() const;
    // The numbers of the status command and the metrics: the service's
    // connections and users, the store, the counters.
    CServerStatus::Snapshot StatusSnapshot() const;
    // What every service this host starts counts; outlives them.
    const std::shared_ptr<service::CServiceCounters>& Counters() const { return counters_; }

    // The running service, or null.
    service::CChatServer* Service() const { return service_.get(); }
    // The directory file's path.
    std::string ConfigPath() const;

    // The transport's log function: the text goes unchanged to the log of the
    // host created last. Any thread.
    static void ServiceLogEvent(const char* text);

private:
    bool NameRefused();
    void RegisterAndListen();
    // The service's first attempt to listen; a port taken by another
    // program makes the timer retry it.
    void Listen();
    void BindWorker();

    scrivlet::CLog4c& log_;
    store::CMsgSendThread& worker_;
    Settings settings_;
    std::shared_ptr<service::CServiceCounters> counters_ = std::make_shared<service::CServiceCounters>();
    std::unique_ptr<service::CChatServer> service_;
    std::unique_ptr<directory::CCoalescedSave> saves_;   // the service's directory saves
    directory::CDirectoryWriter writer_;                 // writes them off the loop
    unsigned listenPort_ = 0;     // the port the service listens or waits for
    bool loaded_ = false;         // the running service's directory file was read
    bool awaitingPort_ = false;   // listening failed for a reason that may pass
    int retryTicks_ = 0;          // ticks since the last attempt to listen
    int lineTicks_ = 0;           // ticks since the last line about the port
};

} // namespace quorvel::host
