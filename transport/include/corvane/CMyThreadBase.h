#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

namespace corvane {

// Base of a background worker: one thread (low priority, nice 10) that
// calls RunCycle over and over until told to stop. The base adds no pause;
// RunCycle paces itself, best with SleepFor so a stop cuts the sleep short.
//
// The process keeps one current worker (the last constructed, or the last
// to call InitInstance); StartService and StopService fail (0) when there is
// none. The thread runs the cycles of the object that started it.
//
// Threads: StartService, StopService, InitInstance and the destructor on
// one controlling thread (the program's loop thread); RunCycle, SleepFor and
// StopToken on the worker thread.
class CMyThreadBase {
public:
    CMyThreadBase();
    // StopService, then waits for the thread to end. A derived class whose
    // RunCycle uses its own members must call StopService() and
    // WaitForThread() in its own destructor, before those members die.
    virtual ~CMyThreadBase();
    CMyThreadBase(const CMyThreadBase&) = delete;
    CMyThreadBase& operator=(const CMyThreadBase&) = delete;

    // Makes this object the current worker.
    virtual void InitInstance();
    // One cycle of work; on the worker thread. An exception ends the thread
    // quietly.
    virtual void RunCycle() = 0;
    // Signals the stop when running; the cycle in progress finishes and no
    // other starts. Does not wait. 1, or 0 without a current worker.
    virtual int StopService();
    // Starts the thread. 1 on success or when already running (nothing new
    // is started); 0 without a current worker. A thread still finishing
    // after a stop is waited for first.
    virtual int StartService();

    // Waits until the thread (if any) has ended. Not on the worker thread.
    void WaitForThread();
    // True between StartService and StopService.
    bool IsRunning() const { return running_.load(); }
    // The current worker, or null.
    static CMyThreadBase* Current();

protected:
    // Sleeps up to d; returns false at once when a stop is requested (true
    // when the full time passed). Worker thread.
    bool SleepFor(std::chrono::milliseconds d);
    // The stop of the running thread, e.g. for CEventLoop::Call, so a wait
    // on another thread gives up when the worker is told to stop.
    std::stop_token StopToken() const;

private:
    void ThrHandle(std::stop_token stop);

    std::atomic<bool> running_{false};
    std::stop_source stopSource_;
    std::thread thread_;
    mutable std::mutex sleepMutex_;
    std::condition_variable_any sleepWake_;
};

} // namespace corvane
