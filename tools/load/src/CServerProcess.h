#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>

namespace quorvel::testsupport {
class QuorveldProcess;
class TempFolder;
}

namespace quorvel::load {

// A copy of quorveld started by the load generator in a temporary folder of
// its own, with a generated config/server.xml: server "load" on a free port
// of 127.0.0.1, and `users` users l0 .. l<users-1> (password "load"), each
// with `friends` friends, the nearest users on either side (modulo users),
// so password logins work and notify friends. Its standard output goes to
// <folder>/stdout.log. The destructor ends the process (SIGTERM, then
// SIGKILL after a while) and removes the folder (kept when the environment
// sets QUORVEL_LOAD_KEEP). One thread.
class CServerProcess {
public:
    CServerProcess();
    ~CServerProcess();
    CServerProcess(const CServerProcess&) = delete;
    CServerProcess& operator=(const CServerProcess&) = delete;

    // Copies `program`, writes the directory, starts the copy, tells it to
    // start its service and waits (bounded) until the port accepts. False
    // with `error` set on failure.
    bool Start(const std::string& program, unsigned users, unsigned friends, std::string& error);
    void Stop();

    pid_t Pid() const;
    unsigned Port() const { return port_; }
    std::filesystem::path Folder() const;

    // The directory file's text (UTF-8).
    static std::string DirectoryXml(unsigned port, unsigned users, unsigned friends);

private:
    std::unique_ptr<testsupport::TempFolder> folder_;
    std::unique_ptr<testsupport::QuorveldProcess> process_;
    unsigned port_ = 0;
};

} // namespace quorvel::load
