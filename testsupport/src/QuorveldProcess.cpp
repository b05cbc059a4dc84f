#include "quorvel_test_support/QuorveldProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <system_error>
#include <thread>

namespace quorvel::testsupport {

namespace {

bool Accepts(unsigned port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

void ClosePair(int fds[2])
{
    ::close(fds[0]);
    ::close(fds[1]);
}

} // namespace

QuorveldProcess::QuorveldProcess(const std::filesystem::path& folder, const std::filesystem::path& program)
    : program_(folder / "quorveld")
{
    std::error_code error;
    copied_ = std::filesystem::copy_file(program, program_, std::filesystem::copy_options::overwrite_existing, error) &&
              !error;
}

QuorveldProcess::~QuorveldProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0)
        ::close(out_);
    CloseInput();
}

bool QuorveldProcess::Start(const std::string& argument, const std::filesystem::path& outputFile)
{
    if (!copied_ || pid_ > 0)
        return false;
    int output[2];
    int input[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(input, O_CLOEXEC) != 0) {
        ClosePair(output);
        return false;
    }
    // Everything the child needs is made before the fork: between fork and
    // exec it may only make system calls.
    const std::string file = outputFile.string();
    const int fileFd = file.empty() ? -1 : ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (!file.empty() && fileFd < 0) {
        ClosePair(output);
        ClosePair(input);
        return false;
    }
    const char* const path = program_.c_str();
    const char* const arg = argument.empty() ? nullptr : argument.c_str();
    pid_ = ::fork();
    if (pid_ == 0) {
        // A program that dies (a crash, a time limit) takes its copy along.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(fileFd >= 0 ? fileFd : output[1], STDOUT_FILENO);
        ::dup2(input[0], STDIN_FILENO);
        ::execl(path, path, arg, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (fileFd >= 0)
        ::close(fileFd);
    ::close(output[1]);
    ::close(input[0]);
    out_ = output[0];
    in_ = input[1];
    return pid_ > 0;
}

bool QuorveldProcess::Append(std::string& into)
{
    char buffer[65536];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    into.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool QuorveldProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds limit, int times)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Occurrences(text) < times) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fd{out_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        if (!Append(output_))
            return false;
    }
    return true;
}

bool QuorveldProcess::ReadOutputFor(std::chrono::milliseconds limit)
{
    pollfd fd{out_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(limit.count())) <= 0)
        return true;
    return Append(output_);
}

bool QuorveldProcess::ReadOutput(std::string& into)
{
    return out_ >= 0 && Append(into);
}

int QuorveldProcess::Occurrences(const std::string& text) const
{
    int count = 0;
    for (auto at = output_.find(text); at != std::string::npos; at = output_.find(text, at + text.size()))
        ++count;
    return count;
}

bool QuorveldProcess::WaitUntilAccepting(unsigned port, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Running() && std::chrono::steady_clock::now() < end) {
        if (Accepts(port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool QuorveldProcess::SendLine(const std::string& line)
{
    const std::string text = line + "\n";
    return in_ >= 0 && ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void QuorveldProcess::CloseInput()
{
    if (in_ >= 0)
        ::close(in_);
    in_ = -1;
}

bool QuorveldProcess::Running() const
{
    siginfo_t info{};
    return pid_ > 0 && ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

bool QuorveldProcess::Signal(int signal)
{
    return pid_ > 0 && ::kill(pid_, signal) == 0;
}

int QuorveldProcess::WaitForExit(std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return status;
        }
        if (std::chrono::steady_clock::now() > end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

int QuorveldProcess::Stop(std::chrono::milliseconds grace)
{
    if (pid_ <= 0)
        return -1;
    Signal(SIGTERM);
    const int status = WaitForExit(grace);
    if (status != -1)
        return status;
    Signal(SIGKILL);
    return WaitForExit(std::chrono::seconds(10));
}

std::string QuorveldProcess::TodaysLogName()
{
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char name[32];
    std::snprintf(name, sizeof name, "%d-%02d-%02d.txt", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return name;
}

} // namespace quorvel::testsupport
