#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

// A copy of quorveld running in a folder of its own (its config/, data/, log/
// and tmp/ live there), with standard output read through a pipe. The
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
    }
    QuorveldProcess(const QuorveldProcess&) = delete;
    QuorveldProcess& operator=(const QuorveldProcess&) = delete;

    // Starts the copy; false when it cannot be started.
    bool Start()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::execl(program_.c_str(), program_.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
        return pid_ > 0;
    }

    // Reads standard output until it holds `text` (UTF-8); false when the
    // program closes its output or `limit` passes first.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (output_.find(text) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd fd{out_, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buffer[4096];
            ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            output_.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    bool Signal(int signal) { return pid_ > 0 && ::kill(pid_, signal) == 0; }

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

private:
    std::filesystem::path program_;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};
