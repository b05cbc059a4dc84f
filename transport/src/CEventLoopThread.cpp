#include "corvane/CEventLoopThread.h"

namespace corvane {

CEventLoopThread::CEventLoopThread()
{
    thread_ = std::thread([this] { loop_.Run(); });
    // Returns once the loop has run a handler, i.e. is running.
    loop_.Call([] {});
}

CEventLoopThread::~CEventLoopThread()
{
    loop_.Stop();
    if (thread_.joinable())
        thread_.join();
}

} // namespace corvane
