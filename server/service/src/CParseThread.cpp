#include "CParseThread.h"

#include "corvane/CEventLoop.h"
#include "marlune/CXmlMsg.h"

#include <exception>
#include <system_error>

namespace quorvel::service {

using corvane::CEventLoop;
using marlune::CXmlMsg;

CParseThread::CParseThread(CEventLoop& loop) : loop_(loop) {}

CParseThread::~CParseThread()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->jobs.clear();
    }
    state_->wake.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void CParseThread::Parse(const std::uint8_t* data, std::size_t length, CParsedFrame& into)
{
    CXmlMsg codec;
    into.message = codec.ParseXmlNew(data, length, &into.head);
    into.error = codec.LastError();
    into.ownLayout = codec.LastParseInOwnLayout();
}

bool CParseThread::Offer(const std::uint8_t* data, std::size_t length, Done done)
{
    {
        std::lock_guard lock(state_->mutex);
        if (state_->queuedBytes + length > kMaxQueuedBytes)
            return false;
    }
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([state = state_, &loop = loop_, gate = gate_] { Run(state, loop, gate); });
        } catch (const std::system_error&) {
            return false;
        }
    }
    // Only the loop adds to or takes from the count, so it still holds
    // after the copy, which is made without the lock.
    auto bytes = std::make_unique<corvane::CReceiveBuffer>();
    bytes->Reserve(length);
    bytes->Append(data, length);
    {
        std::lock_guard lock(state_->mutex);
        state_->jobs.push_back({std::move(bytes), std::move(done)});
        state_->queuedBytes += length;
    }
    state_->wake.notify_one();
    return true;
}

void CParseThread::Run(const std::shared_ptr<State>& state, CEventLoop& loop, const std::function<void()>& gate)
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
            if (state->stopping)
                return;
            job = std::move(state->jobs.front());
            state->jobs.pop_front();
        }
        if (gate)
            gate();
        auto parsed = std::make_shared<CParsedFrame>();
        try {
            parsed->bytes = std::move(job.bytes);
            Parse(parsed->bytes->Data(), parsed->bytes->Size(), *parsed);
        } catch (const std::exception& error) {
            // Out of memory while parsing: the loop logs it as a payload
            // that did not parse.
            parsed->message.reset();
            parsed->error = error.what();
        }
        loop.Post([state, parsed, done = std::move(job.done)] {
            {
                std::lock_guard lock(state->mutex);
                if (state->stopping)
                    return;
                state->queuedBytes -= parsed->bytes->Size();
            }
            done(*parsed);
        });
    }
}

} // namespace quorvel::service
