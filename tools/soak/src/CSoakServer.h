#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quorvel::testsupport {
class QuorveldProcess;
class TempFolder;
}

namespace quorvel::soak {

// A copy of quorveld in a temporary folder of its own, with a directory file
// for server "hub" on a free 127.0.0.1 port and the given users (password
// "pw-<id>"), its message service started by the "start" command. Its
// standard output is read all the time (so the program never blocks on it)
// and its lines counted. The destructor ends a program still running and
// removes the folder.
//
// Thread: the owner calls everything; the reader thread only counts.
class CSoakServer {
public:
    explicit CSoakServer(std::string program);
    ~CSoakServer();
    CSoakServer(const CSoakServer&) = delete;
    CSoakServer& operator=(const CSoakServer&) = delete;

    // A route server for the directory file; before Start.
    void AddRouteServer(const std::string& name, int port);
    // Starts the program and its service; true once the port accepts.
    bool Start(const std::vector<std::string>& users, std::chrono::seconds limit);
    // Types "exit" and waits for the program to end; true when it ended by
    // itself with status 0 within `limit` (otherwise it is killed).
    bool Exit(std::chrono::seconds limit);

    int Port() const { return port_; }
    bool Running() const;
    // Resident memory of the program in KiB (/proc), 0 when unknown.
    long RssKiB() const;
    // The most resident memory the program has had so far, in KiB (/proc),
    // 0 when unknown; read it before Exit.
    long PeakRssKiB() const;
    // Lines the program wrote to its standard output, and, after Exit, to
    // its log files, that begin with `mark` or hold an escape character:
    // lines a client forged. Set the mark before Start.
    void WatchForForgedLines(std::string mark) { mark_ = std::move(mark); }
    std::uint64_t ForgedOutputLines() const { return forged_.load(); }
    std::uint64_t ForgedFileLines() const;
    std::uint64_t OutputLines() const { return lines_.load(); }
    std::uint64_t ErrorLines() const { return errors_.load(); }

private:
    void ReadOutput();
    long StatusKiB(const char* field) const;
    bool Forged(std::string_view line) const;

    std::string program_;
    std::unique_ptr<testsupport::TempFolder> folder_;
    int port_ = 0;
    std::vector<std::pair<std::string, unsigned>> routes_;  // route servers: name, port
    std::unique_ptr<testsupport::QuorveldProcess> process_;
    std::thread reader_;
    std::atomic<std::uint64_t> lines_{0};
    std::atomic<std::uint64_t> errors_{0};
    std::string mark_;
    std::atomic<std::uint64_t> forged_{0};
};

} // namespace quorvel::soak
