#include "CSendQueue.h"

#include <iterator>

namespace corvane {

CSendQueue& CSendQueue::Instance()
{
    static CSendQueue* queue = new CSendQueue;
    return *queue;
}

void CSendQueue::Push(CMyRASSocket* socket, const void* data, std::uint32_t length, CMyRASSocket::SendDone done)
{
    auto* bytes = static_cast<const std::uint8_t*>(data);
    Entry entry{socket, std::vector<std::uint8_t>(bytes, bytes + (bytes ? length : 0)), std::move(done)};
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
}

std::vector<CMyRASSocket::SendDone> CSendQueue::Forget(const CMyRASSocket* socket)
{
    std::vector<CMyRASSocket::SendDone> dropped;
    std::unique_lock lock(mutex_);
    if (entries_.empty())
        return dropped;
    idle_.wait(lock, [&] { return !inFlight_ || inFlight_->socket != socket; });
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->socket != socket) {
            ++it;
            continue;
        }
        if (it->done)
            dropped.push_back(std::move(it->done));
        it = entries_.erase(it);
    }
    return dropped;
}

void CSendQueue::SendPass(const SendFn& send)
{
    std::unique_lock lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();) {
        inFlight_ = &*it;
        lock.unlock();
        const int sent =
            send(it->socket, it->data.data(), static_cast<std::uint32_t>(it->data.size()), it->done ? &it->done : nullptr);
        lock.lock();
        inFlight_ = nullptr;
        idle_.notify_all();
        it = sent == 1 ? entries_.erase(it) : std::next(it);
    }
}

std::size_t CSendQueue::Size() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

bool CSendQueue::StartThread(const void* owner, std::function<void()> body)
{
    std::unique_lock lock(threadMutex_);
    if (running_)
        return false;
    if (thread_.joinable())
        thread_.join();
    stop_ = false;
    running_ = true;
    owner_ = owner;
    thread_ = std::thread([this, body = std::move(body)] {
        body();
        std::lock_guard done(threadMutex_);
        running_ = false;
    });
    return true;
}

void CSendQueue::StopThread(const void* owner)
{
    std::thread finished;
    {
        std::lock_guard lock(threadMutex_);
        if (owner_ != owner)
            return;
        stop_ = true;
        owner_ = nullptr;
        stopWake_.notify_all();
        finished = std::move(thread_);
    }
    if (finished.joinable())
        finished.join();
}

bool CSendQueue::StopRequested() const
{
    std::lock_guard lock(threadMutex_);
    return stop_;
}

void CSendQueue::WaitForStop(std::chrono::milliseconds d)
{
    std::unique_lock lock(threadMutex_);
    stopWake_.wait_for(lock, d, [this] { return stop_; });
}

} // namespace corvane
