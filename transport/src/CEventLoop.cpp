#include "corvane/CEventLoop.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

namespace corvane {

namespace {

thread_local CEventLoop* t_current = nullptr;

// Marks the calling thread as the loop's runner for the duration of a scope;
// with `current` set the loop is also the thread's current loop.
class RunnerScope {
public:
    RunnerScope(CEventLoop* loop, bool current, std::atomic<std::thread::id>& runner)
        : previous_(t_current), runner_(runner), previousRunner_(runner.load())
    {
        if (current)
            t_current = loop;
        runner_.store(std::this_thread::get_id());
    }
    ~RunnerScope()
    {
        runner_.store(previousRunner_);
        t_current = previous_;
    }
    RunnerScope(const RunnerScope&) = delete;
    RunnerScope& operator=(const RunnerScope&) = delete;

private:
    CEventLoop* previous_;
    std::atomic<std::thread::id>& runner_;
    std::thread::id previousRunner_;
};

} // namespace

CEventLoop::CEventLoop() : context_(std::make_unique<asio::io_context>(1)) {}

CEventLoop::~CEventLoop()
{
    // Destroys handlers that never ran first, so pending Calls give up while
    // the loop object is still whole.
    context_.reset();
}

CEventLoop* CEventLoop::Current()
{
    return t_current;
}

void CEventLoop::Run()
{
    RunnerScope scope(this, true, runner_);
    auto guard = asio::make_work_guard(*context_);
    context_->run();
}

void CEventLoop::Poll()
{
    // A pumped loop stays private: endpoints created inside its handlers
    // get loops of their own.
    RunnerScope scope(this, false, runner_);
    context_->restart();
    context_->poll();
}

void CEventLoop::Stop()
{
    context_->stop();
}

bool CEventLoop::IsInLoopThread() const
{
    return runner_.load() == std::this_thread::get_id();
}

void CEventLoop::Post(std::function<void()> fn)
{
    asio::post(*context_, std::move(fn));
}

asio::io_context& CEventLoop::Context()
{
    return *context_;
}

} // namespace corvane
