#include "quorvel_directory/CDirectoryWriter.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quorvel::directory {

using marlune::CTalkerServer;
using scrivlet::CLog4c;

namespace {

constexpr int kWriterNice = 10;

} // namespace

std::unique_ptr<CDirectoryWriter::Snapshot> CDirectoryWriter::TakeSnapshot(const CTalkerServer& local,
                                                                           const CServerXml::ServerList& neighbors,
                                                                           const CServerXml::ServerList& routeServers)
{
    auto snapshot = std::make_unique<Snapshot>();
    snapshot->local = local;
    snapshot->neighbors.reserve(neighbors.size());
    for (const auto& server : neighbors) {
        if (server)
            snapshot->neighbors.push_back(std::make_unique<CTalkerServer>(*server));
    }
    // Route servers are written without users: copy only what is written.
    for (const auto& server : routeServers) {
        if (server)
            snapshot->routeServers.push_back(std::make_unique<CTalkerServer>(server->Identity()));
    }
    return snapshot;
}

CDirectoryWriter::CDirectoryWriter(CLog4c& log, std::string path)
    : log_(log), path_(std::move(path)), thread_([this] { Run(); })
{
}

CDirectoryWriter::~CDirectoryWriter()
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        ending_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void CDirectoryWriter::Submit(std::unique_ptr<Snapshot> snapshot)
{
    if (!snapshot)
        return;
    std::unique_ptr<Snapshot> replaced;
    {
        std::lock_guard<std::mutex> hold(lock_);
        replaced = std::move(pending_);
        pending_ = std::move(snapshot);
    }
    wake_.notify_one();
    // `replaced` is freed here, outside the lock.
}

void CDirectoryWriter::Flush()
{
    std::unique_lock<std::mutex> hold(lock_);
    idle_.wait(hold, [this] { return !pending_ && !writing_; });
}

bool CDirectoryWriter::Busy() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return pending_ || writing_;
}

std::uint64_t CDirectoryWriter::Writes() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return writes_;
}

void CDirectoryWriter::Run()
{
    // Linux nice values are per thread when addressed by thread id.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kWriterNice);
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        wake_.wait(hold, [this] { return pending_ || ending_; });
        if (!pending_)
            return;
        std::unique_ptr<Snapshot> snapshot = std::move(pending_);
        writing_ = true;
        hold.unlock();
        CServerXml(log_).SaveConfig(path_, snapshot->local, snapshot->neighbors, snapshot->routeServers);
        snapshot.reset();
        hold.lock();
        writing_ = false;
        ++writes_;
        if (!pending_)
            idle_.notify_all();
    }
}

} // namespace quorvel::directory
