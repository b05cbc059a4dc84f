#pragma once

#include "corvane/CEventLoop.h"

#include <thread>

namespace corvane {

// A thread that runs one CEventLoop from construction to destruction: the
// ready-made notification thread for a service (or a test). Endpoints that
// must live on it are created and destroyed by work posted to Loop().
class CEventLoopThread {
public:
    // Starts the thread; Loop() is running when the constructor returns.
    CEventLoopThread();
    // Stops the loop and joins the thread. Every endpoint created on the loop
    // must have been destroyed (by work posted to it) before. Not on the
    // loop's own thread.
    ~CEventLoopThread();
    CEventLoopThread(const CEventLoopThread&) = delete;
    CEventLoopThread& operator=(const CEventLoopThread&) = delete;

    // The loop; any thread.
    CEventLoop& Loop() { return loop_; }

private:
    CEventLoop loop_;
    std::thread thread_;
};

} // namespace corvane
