#pragma once

#include "quorvel_directory/CServerXml.h"

#include <marlune/CTalkerServer.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace scrivlet {
class CLog4c;
}

namespace quorvel::directory {

// Writes the directory file on a thread of its own, so that building tens
// of megabytes of XML and flushing them to disk never holds up the service
// loop. The loop hands over a copy of the records (TakeSnapshot); the
// writer builds and replaces the file from that copy. A copy handed over
// while an earlier one still waits replaces it: only the newest state is
// worth writing.
//
// The thread runs at a low priority (nice 10): under full load the service
// loop comes first, and the copies waiting meanwhile collapse into one.
//
// Threads: Submit, Flush, Busy and the destructor from any thread but the
// writer's own (the service loop in the program); the copy belongs to the
// writer once submitted.
class CDirectoryWriter {
public:
    // What one write of the directory file needs: this server with its
    // users, the neighbours with theirs, the route servers without users.
    struct Snapshot {
        marlune::CTalkerServer local;
        CServerXml::ServerList neighbors;
        CServerXml::ServerList routeServers;
    };

    // Copies the records; to be called on the thread that owns them.
    static std::unique_ptr<Snapshot> TakeSnapshot(const marlune::CTalkerServer& local, const CServerXml::ServerList& neighbors,
                                                  const CServerXml::ServerList& routeServers);

    // Writes to `path`; lines about failures go to `log`, which outlives
    // the writer.
    CDirectoryWriter(scrivlet::CLog4c& log, std::string path);
    // Writes a copy still waiting, then ends the thread.
    ~CDirectoryWriter();
    CDirectoryWriter(const CDirectoryWriter&) = delete;
    CDirectoryWriter& operator=(const CDirectoryWriter&) = delete;

    // Queues a copy for writing; returns at once.
    void Submit(std::unique_ptr<Snapshot> snapshot);
    // Returns once every copy submitted before the call has been written
    // or replaced by a newer one that has.
    void Flush();
    // Whether a copy waits or is being written.
    bool Busy() const;
    // Files written so far (for tests and figures).
    std::uint64_t Writes() const;

private:
    void Run();

    scrivlet::CLog4c& log_;
    std::string path_;
    mutable std::mutex lock_;
    std::condition_variable wake_;   // a copy waits, or the writer must end
    std::condition_variable idle_;   // nothing waits and nothing is being written
    std::unique_ptr<Snapshot> pending_;
    bool writing_ = false;
    bool ending_ = false;
    std::uint64_t writes_ = 0;
    std::thread thread_;
};

} // namespace quorvel::directory
