#include "CTerminalOutput.h"

#include "quorvel_shell/CTerminalText.h"

#include <unistd.h>

#include <cerrno>

namespace quorvel::terminal {

using shell::CTerminalText;

CTerminalOutput::CTerminalOutput(int fd) : fd_(fd), thread_([this] { Run(); }) {}

CTerminalOutput::~CTerminalOutput()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void CTerminalOutput::WriteLine(std::string_view gbkLine, bool now)
{
    // Converted outside the lock, in a buffer each thread keeps.
    constexpr std::size_t kKeptRoom = 16384;
    thread_local std::string text;
    text.clear();
    CTerminalText::AppendLine(text, gbkLine);
    bool wake = false;
    {
        std::unique_lock<std::mutex> lock(lock_);
        room_.wait(lock, [this] { return pending_.size() < kMaxPending || stop_; });
        const bool wasEmpty = pending_.empty();
        pending_ += text;
        queued_ += text.size();
        hurry_ = hurry_ || now;
        wake = wasEmpty || now || (pending_.size() >= kGatherBytes && pending_.size() - text.size() < kGatherBytes);
    }
    if (wake)
        wake_.notify_one();
    if (text.capacity() > kKeptRoom)
        std::string().swap(text);
}

void CTerminalOutput::Flush()
{
    std::unique_lock<std::mutex> lock(lock_);
    const std::uint64_t target = queued_;
    hurry_ = true;
    wake_.notify_one();
    room_.wait(lock, [&] { return written_ >= target; });
}

void CTerminalOutput::Run()
{
    std::string batch;
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        wake_.wait(lock, [this] { return !pending_.empty() || stop_; });
        if (pending_.empty())
            break;
        // The first line of a burst waits a little for the others.
        wake_.wait_for(lock, kGatherDelay,
                       [this] { return hurry_ || stop_ || pending_.size() >= kGatherBytes; });
        hurry_ = false;
        batch.swap(pending_);
        lock.unlock();
        room_.notify_all();
        WriteAll(batch);
        lock.lock();
        written_ += batch.size();
        batch.clear();
        if (batch.capacity() > kMaxPending)
            std::string().swap(batch);
        room_.notify_all();
    }
}

void CTerminalOutput::WriteAll(const std::string& bytes) const
{
    // A descriptor that fails drops the batch: the log file keeps the lines.
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

} // namespace quorvel::terminal
