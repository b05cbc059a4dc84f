#include "corvane/CMyThreadBase.h"

#include "ThreadPriority.h"

#include <exception>

namespace corvane {

namespace {

std::atomic<CMyThreadBase*> g_current{nullptr};

} // namespace

CMyThreadBase::CMyThreadBase()
{
    g_current.store(this);
}

CMyThreadBase::~CMyThreadBase()
{
    StopService();
    WaitForThread();
    CMyThreadBase* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

void CMyThreadBase::InitInstance()
{
    g_current.store(this);
}

CMyThreadBase* CMyThreadBase::Current()
{
    return g_current.load();
}

int CMyThreadBase::StartService()
{
    if (!Current())
        return 0;
    if (running_.load())
        return 1;
    WaitForThread();
    stopSource_ = std::stop_source();
    running_.store(true);
    thread_ = std::thread([this, stop = stopSource_.get_token()] { ThrHandle(stop); });
    return 1;
}

int CMyThreadBase::StopService()
{
    if (!Current())
        return 0;
    if (running_.exchange(false))
        stopSource_.request_stop();
    return 1;
}

void CMyThreadBase::WaitForThread()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void CMyThreadBase::ThrHandle(std::stop_token stop)
{
    SetLowPriority();
    try {
        while (!stop.stop_requested())
            RunCycle();
    } catch (...) {
        // A failing cycle ends the worker quietly; StopService still works.
    }
}

bool CMyThreadBase::SleepFor(std::chrono::milliseconds d)
{
    std::stop_token stop = StopToken();
    std::unique_lock lock(sleepMutex_);
    sleepWake_.wait_for(lock, stop, d, [] { return false; });
    return !stop.stop_requested();
}

std::stop_token CMyThreadBase::StopToken() const
{
    return stopSource_.get_token();
}

} // namespace corvane
