#include "quorvel_store/CDeliveryBatch.h"

#include "quorvel_store/CMsgCache.h"

#include "corvane/CEventLoop.h"
#include "marlune/CMessageBase.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace quorvel::store {

using corvane::CEventLoop;

// The batch while the loop has it. The offer holds the mutex for its whole
// run, so a worker that gives up waiting either finds the offer done or
// keeps it from starting (abandoned).
struct CDeliveryBatch::Job {
    std::mutex mutex;
    std::condition_variable_any finished;
    bool done = false;  // offered, or dropped unrun by the loop
    bool abandoned = false;
    std::vector<Item> items;
    Stops stops;
};

CDeliveryBatch::CDeliveryBatch(CMsgCache& cache, std::size_t maxMessages, std::size_t maxBytes)
    : cache_(cache), maxMessages_(maxMessages), maxBytes_(maxBytes)
{
}

CDeliveryBatch::~CDeliveryBatch()
{
    try {
        Await();
    } catch (...) {
        // Await only allocates; what it could not take back stays handed out
        // until the next opening of the cache.
    }
    Clear();
}

void CDeliveryBatch::Add(Item item)
{
    bytes_ += item.pending.length;
    items_.push_back(std::move(item));
}

void CDeliveryBatch::DropUsers(const std::unordered_set<const User*>& users)
{
    std::erase_if(items_, [&](const Item& item) {
        if (users.count(item.user) == 0)
            return false;
        cache_.ReleaseMsg(item.pending.record);
        bytes_ -= item.pending.length;
        return true;
    });
}

void CDeliveryBatch::Post(CEventLoop& loop, Offerer offer, std::stop_token stop)
{
    // Tells the worker when the offer ran, or when the loop dropped it unrun
    // (a loop destroyed with its queue).
    struct Finisher {
        explicit Finisher(std::shared_ptr<Job> j) : job(std::move(j)) {}
        Finisher(const Finisher&) = delete;
        Finisher& operator=(const Finisher&) = delete;
        ~Finisher()
        {
            std::lock_guard lock(job->mutex);
            job->done = true;
            job->finished.notify_all();
        }
        std::shared_ptr<Job> job;
    };
    lastUserOnLoop_ = items_.empty() ? nullptr : items_.back().user;
    auto job = std::make_shared<Job>();
    job->items = std::move(items_);
    items_.clear();
    bytes_ = 0;
    job_ = job;
    stop_ = std::move(stop);
    auto finisher = std::make_shared<Finisher>(std::move(job));
    loop.Post([finisher = std::move(finisher), offer = std::move(offer)]() mutable {
        {
            Job& job = *finisher->job;
            std::lock_guard lock(job.mutex);
            if (!job.abandoned) {
                try {
                    offer(job.items, job.stops);
                } catch (...) {
                    // What was not given stops its user (Await).
                }
            }
        }
        finisher.reset();
    });
}

CDeliveryBatch::Stops CDeliveryBatch::Await()
{
    if (!job_)
        return {};
    const std::shared_ptr<Job> job = std::move(job_);
    lastUserOnLoop_ = nullptr;
    Stops stops;
    {
        std::unique_lock lock(job->mutex);
        job->finished.wait(lock, stop_, [&] { return job->done; });
        job->abandoned = true;
        items_ = std::move(job->items);
        stops = std::move(job->stops);
    }
    // A user with a message not given and no stop was never offered it (the
    // offer did not run, or broke off): its later messages must wait too.
    for (const Item& item : items_)
        if (!item.given && std::none_of(stops.begin(), stops.end(), [&](const auto& s) { return s.first == item.user; }))
            stops.emplace_back(item.user, Offer::kHeldBack);
    Clear();
    return stops;
}

void CDeliveryBatch::Clear()
{
    for (const Item& item : items_)
        if (!item.given)
            cache_.ReleaseMsg(item.pending.record);
    items_.clear();
    bytes_ = 0;
}

} // namespace quorvel::store
