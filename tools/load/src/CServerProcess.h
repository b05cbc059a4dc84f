#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

// A copy of quorveld started by the load generator in a temporary folder of
// its own, with a generated config/server.xml: server "load" on a free port
// of 127.0.0.1, and `users` users l0 .. l<users-1> (password "load"), each
// with `friends` friends, the nearest users on either side (modulo users),
// so password logins work and notify friends. Its standard output goes to
// <folder>/stdout.log. The destructor ends the process (SIGTERM, then
// SIGKILL after a while) and removes the folder. One thread.
class CServerProcess {
public:
    CServerProcess() = default;
    ~CServerProcess();
    CServerProcess(const CServerProcess&) = delete;
    CServerProcess& operator=(const CServerProcess&) = delete;

    // Copies `program`, writes the directory, starts the copy, tells it to
    // start its service and waits (bounded) until the port accepts. False
    // with `error` set on failure.
    bool Start(const std::string& program, unsigned users, unsigned friends, std::string& error);
    void Stop();

    pid_t Pid() const { return pid_; }
    unsigned Port() const { return port_; }
    const std::filesystem::path& Folder() const { return folder_; }

    // The directory file's text (UTF-8).
    static std::string DirectoryXml(unsigned port, unsigned users, unsigned friends);
    // A free TCP port above 2000 on 127.0.0.1; 0 when none was found.
    static unsigned FreePort();

private:
    bool WaitUntilListening(std::string& error);

    std::filesystem::path folder_;
    pid_t pid_ = -1;
    int input_ = -1;
    unsigned port_ = 0;
};
