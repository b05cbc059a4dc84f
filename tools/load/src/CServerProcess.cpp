#include "CServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

bool ConnectsTo(unsigned port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

} // namespace

CServerProcess::~CServerProcess()
{
    Stop();
}

unsigned CServerProcess::FreePort()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return 0;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        unsigned port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0)
            port = ntohs(addr.sin_port);
        ::close(fd);
        if (port > 2000)
            return port;
    }
    return 0;
}

std::string CServerProcess::DirectoryXml(unsigned port, unsigned users, unsigned friends)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<msg type=\"\" time=\"\" source=\"\" target=\"\" memo=\"\">\n  <neighbor/>\n  <route-server/>\n"
                      "  <server name=\"load\" ip=\"127.0.0.1\" port=\"" +
                      std::to_string(port) + "\" description=\"load\">\n";
    for (unsigned i = 0; i < users; ++i) {
        // Friends on both sides, so users logging in one after another
        // notify those before them.
        std::string list;
        for (unsigned k = 1; k <= friends && k < users; ++k) {
            const unsigned step = (k + 1) / 2;
            const unsigned other = k % 2 ? (i + step) % users : (i + users - step % users) % users;
            if (other == i)
                continue;
            if (!list.empty())
                list += "/";
            list += "l" + std::to_string(other) + "@load";
        }
        const std::string id = "l" + std::to_string(i);
        xml += "    <talker userid=\"" + id + "\" name=\"" + id + "\" sex=\"\" tel=\"\" password=\"load\" friends=\"" +
               list + "\" statu=\"\"/>\n";
    }
    xml += "  </server>\n</msg>\n";
    return xml;
}

bool CServerProcess::Start(const std::string& program, unsigned users, unsigned friends, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    char pattern[] = "/tmp/quorvel-load-XXXXXX";
    if (!::mkdtemp(pattern)) {
        error = "cannot make a temporary folder";
        return false;
    }
    folder_ = pattern;
    fs::create_directories(folder_ / "config", ec);
    fs::copy_file(program, folder_ / "quorveld", fs::copy_options::overwrite_existing, ec);
    if (ec) {
        error = "cannot copy " + program + ": " + ec.message();
        return false;
    }
    port_ = FreePort();
    std::ofstream(folder_ / "config" / "server.xml") << DirectoryXml(port_, users, friends);
    // Every simulated user connects from 127.0.0.1: the bound per remote
    // address would turn all but the first few hundred away.
    std::ofstream(folder_ / "config" / "server.ini") << "[LIMITS]\r\nMaxConnectionsPerAddress=1000000000\r\n";

    int in[2];
    if (port_ == 0 || ::pipe2(in, O_CLOEXEC) != 0) {
        error = "no free port or pipe";
        return false;
    }
    const std::string exe = (folder_ / "quorveld").string();
    const std::string out = (folder_ / "stdout.log").string();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], STDIN_FILENO);
        const int log = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0)
            ::dup2(log, STDOUT_FILENO);
        ::execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    input_ = in[1];
    if (pid_ < 0) {
        error = "cannot start the server";
        return false;
    }
    const char start[] = "start\n";
    if (::write(input_, start, sizeof start - 1) < 0) {
        error = "cannot talk to the server";
        return false;
    }
    return WaitUntilListening(error);
}

bool CServerProcess::WaitUntilListening(std::string& error)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
        if (ConnectsTo(port_))
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error = "the server ended at start-up; see " + (folder_ / "stdout.log").string();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error = "the server did not listen within 30 s";
    return false;
}

void CServerProcess::Stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
    }
    if (input_ >= 0) {
        ::close(input_);
        input_ = -1;
    }
    if (!folder_.empty() && std::getenv("QUORVEL_LOAD_KEEP") == nullptr) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        folder_.clear();
    }
}
