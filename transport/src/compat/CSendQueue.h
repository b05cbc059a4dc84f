#pragma once

#include "corvane/CMyRASSocket.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane {

// The process-wide send queue of queued-mode endpoints and the one thread
// that drains it. Entries are appended by any thread; a connection that is
// destroyed takes its entries with it (Forget), waiting for a send through it
// that is in progress, so nothing is ever sent through a destroyed object.
class CSendQueue {
public:
    // Sends one entry; takes the entry's receipt (when it has one) only when
    // it returns 1.
    using SendFn =
        std::function<int(CMyRASSocket*, const std::uint8_t*, std::uint32_t, CMyRASSocket::SendDone*)>;

    // Never destroyed, so connections destroyed late at exit can still
    // leave it safely.
    static CSendQueue& Instance();

    // Appends a copy of the payload, with its receipt (may be empty). Any
    // thread.
    void Push(CMyRASSocket* socket, const void* data, std::uint32_t length, CMyRASSocket::SendDone done = {});
    // Drops every entry of socket; returns the receipts of the dropped
    // entries, for the caller to report. Any thread but the send thread.
    std::vector<CMyRASSocket::SendDone> Forget(const CMyRASSocket* socket);
    // One pass from the front: an entry whose send returns 1 is removed,
    // others stay for the next pass. Send thread.
    void SendPass(const SendFn& send);
    std::size_t Size() const;

    // Starts the thread running body unless one runs; owner identifies the
    // starter for StopThread. Returns false when one already runs.
    bool StartThread(const void* owner, std::function<void()> body);
    // Signals the stop and waits for the thread, if owner started it.
    void StopThread(const void* owner);
    // Send thread: true once a stop was signalled.
    bool StopRequested() const;
    // Send thread: waits up to d, less when the stop is signalled.
    void WaitForStop(std::chrono::milliseconds d);

private:
    struct Entry {
        CMyRASSocket* socket;
        std::vector<std::uint8_t> data;
        CMyRASSocket::SendDone done;
    };

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::list<Entry> entries_;
    const Entry* inFlight_ = nullptr;

    mutable std::mutex threadMutex_;
    std::condition_variable stopWake_;
    bool stop_ = false;
    bool running_ = false;
    const void* owner_ = nullptr;
    std::thread thread_;
};

} // namespace corvane
