#pragma once

#include "corvane/CReceiveBuffer.h"
#include "marlune/CMessageBase.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace corvane {
class CEventLoop;
}

namespace quorvel::service {

// A received payload and what it parsed into.
struct CParsedFrame {
    // The payload, when it was copied for the parse thread: into a block
    // that takes the system's large pages, as a payload of megabytes
    // otherwise costs the loop a page fault every 4 KiB.
    std::unique_ptr<corvane::CReceiveBuffer> bytes;
    marlune::CMessageBase head;  // filled for any well-formed message
    std::unique_ptr<marlune::CMessageBase> message;  // null unless of a known type
    std::string error;  // why it did not parse
    bool ownLayout = false;  // in the message library's own layout (CXmlMsg::LastParseInOwnLayout)
};

// Parses large payloads on a thread of its own, so that the service loop
// serves the other connections while a payload of megabytes is parsed.
// Results come back to the loop in the order the payloads were offered.
// The bytes waiting or being parsed are bounded (kMaxQueuedBytes). The
// thread keeps the loop's priority: at nice 10 it was preempted while it
// held the allocator's locks, which the loop then waited for (logins
// under attack took twice as long).
//
// Threads: constructed, used and destroyed on the service loop's thread,
// where every result's handler runs. The parser's thread touches only the
// bytes of its job and the message it builds from them.
class CParseThread {
public:
    using Done = std::function<void(CParsedFrame& parsed)>;
    // Two frames of the largest size: what the parser holds beside the
    // buffer budget of the connections.
    static constexpr std::size_t kMaxQueuedBytes = std::size_t{32} << 20;

    explicit CParseThread(corvane::CEventLoop& loop);
    // Ends the thread once its current parse (if any) ends; results not yet
    // handed back are dropped.
    ~CParseThread();
    CParseThread(const CParseThread&) = delete;
    CParseThread& operator=(const CParseThread&) = delete;

    // Parses `length` bytes on the calling thread. Any thread.
    static void Parse(const std::uint8_t* data, std::size_t length, CParsedFrame& into);

    // Queues a copy of the bytes for the thread (started at the first
    // offer); `done` runs later on the loop with the result, unless the
    // parser was destroyed first. False, with nothing queued, when the
    // bytes would pass kMaxQueuedBytes or the thread cannot start. May
    // throw std::bad_alloc.
    bool Offer(const std::uint8_t* data, std::size_t length, Done done);
    // Runs on the parser's thread before each parse; tests hold the thread
    // there. Set before the first Offer.
    void SetGate(std::function<void()> gate) { gate_ = std::move(gate); }

private:
    struct Job {
        std::unique_ptr<corvane::CReceiveBuffer> bytes;
        Done done;
    };
    // What the thread and the results posted to the loop share.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Job> jobs;
        std::size_t queuedBytes = 0;  // from the offer until the result was handled
        bool stopping = false;
    };

    static void Run(const std::shared_ptr<State>& state, corvane::CEventLoop& loop,
                    const std::function<void()>& gate);

    corvane::CEventLoop& loop_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::function<void()> gate_;
    std::thread thread_;
};

} // namespace quorvel::service
