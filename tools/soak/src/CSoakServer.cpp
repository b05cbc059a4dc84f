#include "CSoakServer.h"

#include "CRawConnection.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

CSoakServer::CSoakServer(std::string program) : program_(std::move(program))
{
    char pattern[] = "/tmp/quorvel_soak_XXXXXX";
    if (::mkdtemp(pattern) != nullptr)
        folder_ = pattern;
}

CSoakServer::~CSoakServer()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (in_ >= 0)
        ::close(in_);
    if (reader_.joinable())
        reader_.join();
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

void CSoakServer::WriteDirectory(const std::vector<std::string>& users) const
{
    fs::create_directories(fs::path(folder_) / "config");
    std::ofstream out(fs::path(folder_) / "config/server.xml", std::ios::binary | std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<msg><neighbor/><route-server>";
    for (const auto& route : routes_)
        out << route;
    out << "</route-server><server name=\"hub\" ip=\"127.0.0.1\" port=\"" << port_ << "\" description=\"soak\">";
    for (const auto& id : users)
        out << "<talker userid=\"" << id << "\" name=\"" << id << "\" sex=\"\" tel=\"\" password=\"pw-" << id
            << "\" friends=\"\" statu=\"\"/>";
    out << "</server></msg>\n";
}

void CSoakServer::AddRouteServer(const std::string& name, int port)
{
    routes_.push_back("<server name=\"" + name + "\" ip=\"127.0.0.1\" port=\"" + std::to_string(port) +
                      "\" description=\"\"/>");
}

bool CSoakServer::Start(const std::vector<std::string>& users, std::chrono::seconds limit)
{
    if (folder_.empty())
        return false;
    port_ = FreeLoopbackPort();
    WriteDirectory(users);
    const std::string copy = folder_ + "/quorveld";
    std::error_code error;
    fs::copy_file(program_, copy, fs::copy_options::overwrite_existing, error);
    if (error)
        return false;
    int out[2];
    int in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0)
        return false;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(in[0], STDIN_FILENO);
        ::execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(in[0]);
    in_ = in[1];
    reader_ = std::thread([this, fd = out[0]] { ReadOutput(fd); });
    if (pid_ < 0 || ::write(in_, "start\n", 6) != 6)
        return false;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end && Running()) {
        CRawConnection probe;
        if (probe.Connect(port_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void CSoakServer::ReadOutput(int fd)
{
    std::string partial;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        partial.append(buffer, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1) {
            lines_.fetch_add(1);
            if (Forged(std::string_view(partial).substr(start, end - start)))
                forged_.fetch_add(1);
            if (partial.compare(start, end - start, "ERROR") == 0 ||
                partial.find(" ERROR ", start) < end)
                errors_.fetch_add(1);
        }
        partial.erase(0, start);
    }
    ::close(fd);
}

bool CSoakServer::Exit(std::chrono::seconds limit)
{
    if (pid_ <= 0 || in_ < 0 || ::write(in_, "exit\n", 5) != 5)
        return false;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool CSoakServer::Running() const
{
    siginfo_t info{};
    return pid_ > 0 && ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

long CSoakServer::RssKiB() const
{
    return StatusKiB("VmRSS:");
}

long CSoakServer::PeakRssKiB() const
{
    return StatusKiB("VmHWM:");
}

long CSoakServer::StatusKiB(const char* field) const
{
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    const std::string_view name(field);
    while (std::getline(status, line)) {
        if (line.rfind(name, 0) == 0)
            return std::strtol(line.c_str() + name.size(), nullptr, 10);
    }
    return 0;
}

bool CSoakServer::Forged(std::string_view line) const
{
    if (line.find('\x1b') != std::string_view::npos)
        return true;
    if (mark_.empty())
        return false;
    // A carriage return starts a line on a terminal as a line feed does.
    for (std::size_t start = 0;;) {
        if (line.substr(start, mark_.size()) == mark_)
            return true;
        const std::size_t cr = line.find('\r', start);
        if (cr == std::string_view::npos)
            return false;
        start = cr + 1;
    }
}

std::uint64_t CSoakServer::ForgedFileLines() const
{
    std::uint64_t forged = 0;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(folder_) / "log", error)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream file(entry.path(), std::ios::binary);
        std::string line;
        while (std::getline(file, line)) {
            forged += Forged(line) ? 1 : 0;
        }
    }
    return forged;
}
