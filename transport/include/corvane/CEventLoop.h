#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>

namespace asio {
class io_context;
}

namespace corvane {

// CEventLoop: one notification thread's loop (one asio::io_context).
//
// How an endpoint finds "its" thread: every thread may have a current loop, a
// thread-local pointer set while CEventLoop::Run() executes on it (so inside
// any handler the loop runs, CEventLoop::Current() is that loop). An endpoint
// (CMyRASServer and its derived classes) captures CEventLoop::Current() when
// it is constructed, and every notification of its sockets (OnReceive,
// OnAccept, OnClose), hence every string callback and every close handler,
// runs on that loop's thread. An endpoint constructed on a thread without a
// current loop gets a private loop of its own; the outbound client pumps it
// inside its own calls (connect, send, IsConnected, DisConnect), so a client
// used on a worker thread sees its peer's close on that worker thread.
//
// Before Run() starts, the thread has no current loop: an endpoint meant for
// a loop that the thread is about to run is created by work posted to it
// (loop.Post([&] { ... }); loop.Run();), not directly.
//
// Typical program: a CEventLoopThread (or a thread that calls Run()) is the
// service loop; the service object is created, used and destroyed by work
// posted to it; other threads reach it with Post (fire and forget) or Call
// (post and wait for the result, giving up when their own stop is requested).
//
//   CEventLoopThread serviceThread;              // or: CEventLoop loop; loop.Run();
//   CEventLoop& loop = serviceThread.Loop();
//   loop.Call([&] { service = std::make_unique<CChatServer>(); return service->BeginListen(8801); });
//   // on a worker (CMyThreadBase::RunCycle), waiting at most until its stop;
//   // the job finds the service on the loop, since a job given up on may run
//   // after the service is gone:
//   auto sent = loop.Call([&console] { auto* s = console.Service(); return s && s->Deliver(...); },
//                         StopToken());
//   if (!sent) { /* stopped, or the loop is gone: the delivery stays pending */ }
//   loop.Call([&] { service.reset(); });          // destroyed on its loop
class CEventLoop {
public:
    CEventLoop();
    ~CEventLoop();
    CEventLoop(const CEventLoop&) = delete;
    CEventLoop& operator=(const CEventLoop&) = delete;

    // The loop running on the calling thread, or null. Any thread.
    static CEventLoop* Current();

    // Runs the loop on the calling thread until Stop(); the loop is the
    // thread's current loop meanwhile. Call on one thread only, once.
    void Run();
    // Runs the handlers that are ready now, without waiting, on the calling
    // thread (used to pump a private loop; it does not become the thread's
    // current loop). Not while Run() is active elsewhere.
    void Poll();
    // Makes Run() return soon, or at once if it has not started yet; handlers
    // not yet run stay queued and are destroyed with the loop. Any thread.
    void Stop();
    // True when the calling thread is the one inside Run() or Poll().
    bool IsInLoopThread() const;

    // Queues fn to run on the loop thread. Any thread; never blocks.
    void Post(std::function<void()> fn);

    // Runs fn on the loop thread and waits for its result. Any thread; on the
    // loop thread itself fn runs at once. Gives up (empty result, or false
    // for a void fn) when stop is requested on `stop` or the loop is
    // destroyed before fn ran; fn may still run later in that case, so it
    // must capture nothing that dies with the caller's frame, and must look
    // up on the loop any object that may be destroyed meanwhile (never
    // capture a raw pointer to it). Exceptions thrown by fn count as "no
    // result". fn must be copyable.
    template <class F>
    auto Call(F fn, std::stop_token stop = {});

    // The underlying context, for timers (asio::steady_timer) on this loop.
    asio::io_context& Context();

private:
    template <class R>
    struct CallState {
        std::mutex mutex;
        std::condition_variable_any ready;
        bool done = false;
        std::optional<R> value;
        void Finish(std::optional<R> v)
        {
            std::lock_guard lock(mutex);
            if (!done) {
                done = true;
                value = std::move(v);
            }
            ready.notify_all();
        }
    };

    std::unique_ptr<asio::io_context> context_;
    std::atomic<std::thread::id> runner_{};
};

template <class F>
auto CEventLoop::Call(F fn, std::stop_token stop)
{
    using Raw = std::invoke_result_t<F&>;
    constexpr bool isVoid = std::is_void_v<Raw>;
    using R = std::conditional_t<isVoid, bool, Raw>;
    auto invoke = [](F& f) -> std::optional<R> {
        try {
            if constexpr (isVoid) {
                f();
                return true;
            } else {
                return f();
            }
        } catch (...) {
            return std::nullopt;
        }
    };
    auto unwrap = [](std::optional<R> v) {
        if constexpr (isVoid)
            return v.has_value();
        else
            return v;
    };
    if (IsInLoopThread())
        return unwrap(invoke(fn));

    auto state = std::make_shared<CallState<R>>();
    // Finishes the call whether the job runs or is destroyed unrun.
    struct Completer {
        explicit Completer(std::shared_ptr<CallState<R>> s) : state(std::move(s)) {}
        Completer(const Completer&) = delete;
        Completer& operator=(const Completer&) = delete;
        ~Completer() { state->Finish(std::move(value)); }
        std::shared_ptr<CallState<R>> state;
        std::optional<R> value;
    };
    auto completer = std::make_shared<Completer>(state);
    Post([completer, fn = std::move(fn), invoke]() mutable { completer->value = invoke(fn); });
    completer.reset();

    std::unique_lock lock(state->mutex);
    state->ready.wait(lock, stop, [&] { return state->done; });
    if (!state->done)
        return unwrap(std::nullopt);
    return unwrap(std::move(state->value));
}

} // namespace corvane
