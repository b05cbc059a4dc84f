#include "quorvel_store/CDeliveryReceipt.h"

#include <utility>

namespace quorvel::store {

struct CDeliveryReceipt::State {
    Done done;
    int tracked = 0;
    int reported = 0;
    bool written = false;
    bool sealed = false;
    bool handled = false;

    void Report(bool frameWritten)
    {
        ++reported;
        written = written || frameWritten;
        TellWhenComplete();
    }

    void TellWhenComplete()
    {
        if (!sealed || reported < tracked || !done)
            return;
        Done tell = std::move(done);
        done = nullptr;
        tell(handled && (written || tracked == 0));
    }
};

namespace {

// Reports once: when run, or as "not written" when the last copy of the
// send's report is dropped unrun.
template <class State>
class Once {
public:
    explicit Once(std::shared_ptr<State> state) : state_(std::move(state)) {}
    ~Once()
    {
        if (state_)
            state_->Report(false);
    }
    Once(const Once&) = delete;
    Once& operator=(const Once&) = delete;
    void Run(bool written)
    {
        if (auto state = std::move(state_))
            state->Report(written);
    }

private:
    std::shared_ptr<State> state_;
};

} // namespace

CDeliveryReceipt::CDeliveryReceipt(Done done) : state_(std::make_shared<State>())
{
    state_->done = std::move(done);
}

CDeliveryReceipt::~CDeliveryReceipt()
{
    if (!state_->sealed)
        Seal(false);
}

std::function<void(bool)> CDeliveryReceipt::Track()
{
    ++state_->tracked;
    auto once = std::make_shared<Once<State>>(state_);
    return [once](bool written) { once->Run(written); };
}

void CDeliveryReceipt::Seal(bool handled)
{
    state_->sealed = true;
    state_->handled = handled;
    state_->TellWhenComplete();
}

} // namespace quorvel::store
