#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

// A copy of quorveld running in a folder of its own (its config/, data/, log/
// and tmp/ live there), with standard input and output through pipes. The
// destructor kills and reaps a copy that is still running.
class QuorveldProcess {
public:
    explicit QuorveldProcess(const std::filesystem::path& folder) : program_(folder / "quorveld")
    {
        std::filesystem::copy_file(QUORVELD_PATH, program_,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    ~QuorveldProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
        CloseInput();
    }
    QuorveldProcess(const QuorveldProcess&) = delete;
    QuorveldProcess& operator=(const QuorveldProcess&) = delete;

    // Starts the copy, with `argument` on its command line when not empty;
    // false when it cannot be started.
    bool Start(const std::string& argument = {})
    {
        int fds[2];
        int input[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        if (::pipe2(input, O_CLOEXEC) != 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return false;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            // A test program that dies (a crash, a time limit) takes its copy along.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(input[0], STDIN_FILENO);
            if (argument.empty())
                ::execl(program_.c_str(), program_.c_str(), static_cast<char*>(nullptr));
            else
                ::execl(program_.c_str(), program_.c_str(), argument.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        ::close(input[0]);
        out_ = fds[0];
        in_ = input[1];
        return pid_ > 0;
    }

    // Reads standard output until it holds `text` (UTF-8) `times` times;
    // false when the program closes its output or `limit` passes first.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit, int times = 1)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Occurrences(text) < times) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd fd{out_, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buffer[65536];
            ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            output_.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    // Reads what the program writes within `limit`; false once it has
    // closed its output.
    bool ReadOutputFor(std::chrono::milliseconds limit)
    {
        pollfd fd{out_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(limit.count())) <= 0)
            return true;
        char buffer[65536];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int Occurrences(const std::string& text) const
    {
        int count = 0;
        for (auto at = output_.find(text); at != std::string::npos; at = output_.find(text, at + text.size()))
            ++count;
        return count;
    }

    // Types one command line on the program's standard input.
    bool SendLine(const std::string& line)
    {
        const std::string text = line + "\n";
        return in_ >= 0 && ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    // Ends the program's standard input.
    void CloseInput()
    {
        if (in_ >= 0)
            ::close(in_);
        in_ = -1;
    }
    // True while the program has not ended (an ended one is left to WaitForExit).
    bool Running()
    {
        siginfo_t info{};
        return pid_ > 0 && ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == 0;
    }

    bool Signal(int signal) { return pid_ > 0 && ::kill(pid_, signal) == 0; }
    // The running program's process id; -1 before Start and after its end.
    pid_t Pid() const { return pid_; }

    // Waits for the program to end; its wait status, or -1 when `limit`
    // passes first (the program is then killed).
    int WaitForExit(std::chrono::milliseconds limit)
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

    const std::string& Output() const { return output_; }

    // The name of today's log file, "YYYY-MM-DD.txt".
    static std::string TodaysLogName()
    {
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        char name[32];
        std::snprintf(name, sizeof name, "%d-%02d-%02d.txt", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
        return name;
    }

private:
    std::filesystem::path program_;
    pid_t pid_ = -1;
    int out_ = -1;
    int in_ = -1;
    std::string output_;
};
