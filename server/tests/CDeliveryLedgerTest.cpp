#include "quorvel_store/CDeliveryLedger.h"
#include "CacheTestSupport.h"
#include "quorvel_store/CDeliveryReceipt.h"
#include "quorvel_store/CDeliveryTarget.h"
#include "quorvel_store/CMsgCache.h"

#include "corvane/CEventLoopThread.h"
#include "marlune/Marlune.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using corvane::CEventLoop;
using corvane::CEventLoopThread;
using marlune::CMessageBase;
using marlune::CMessageUserTalking;
using quorvel::store::CDeliveryLedger;
using quorvel::store::CDeliveryReceipt;
using quorvel::store::CDeliveryTarget;
using quorvel::store::CMsgCache;
using quorvel::store::CServiceSnapshot;

namespace {

// A service with one connection for every user that keeps each send's
// report, so a test decides when and how each written report comes.
class HeldSends : public CDeliveryTarget {
public:
    CEventLoop& ServiceLoop() const override { return loop_.Loop(); }
    CServiceSnapshot TakeSnapshot() const override { return {}; }
    UserLinks LinksOf(std::string_view) const override { return {{1}, 0}; }
    bool HandleMsgCache(CMessageBase*, CDeliveryReceipt* receipt) override
    {
        reports.push_back(receipt->Track());
        return true;
    }

    std::vector<std::function<void(bool written)>> reports;

private:
    mutable CEventLoopThread loop_;
};

class DeliveryLedgerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(cache.OpenCache(folder.Path()), 1);
        for (const char* text : {"m0", "m1"}) {
            const std::string bytes = std::string("<chat>") + text + "</chat>";
            ASSERT_EQ(cache.AddMsg(bytes.data(), bytes.size(), "alice", "hub", "bob", "hub"), 1);
        }
    }

    CDeliveryLedger::Pending Take()
    {
        std::string bytes;
        std::uint32_t record = 0;
        EXPECT_EQ(cache.GetUserMsg(bytes, record, "bob", "hub"), 1);
        return {record, bytes.size(), "2026-12-07 21:30:00", "bob", "hub"};
    }

    CacheTestFolder folder;
    CMsgCache cache{folder.Log()};
    std::shared_ptr<CDeliveryLedger> ledger = std::make_shared<CDeliveryLedger>(cache, folder.Log());
    HeldSends service;
    CMessageUserTalking message;
};

// The worker takes a cycle's messages before offering them. A message of the
// previous cycle whose connection closes after the new cycle took the user's
// next one goes back to pending; the next one must then wait, not overtake it.
TEST_F(DeliveryLedgerTest, AFailureSettledAfterTheNextCycleTookALaterMessageHoldsTheLaterOneBack)
{
    ledger->BeginCycle(1);
    const auto first = Take();
    ASSERT_EQ(ledger->Hand(service, message, first, 1, nullptr), CDeliveryLedger::Offer::kHandedOver);

    ledger->BeginCycle(2);
    const auto second = Take();
    service.reports.at(0)(false);
    EXPECT_EQ(ledger->Hand(service, message, second, 2, nullptr), CDeliveryLedger::Offer::kHeldBack);
    EXPECT_EQ(service.reports.size(), 1u);

    // Released by the worker, both are handed out again in order next cycle.
    cache.ReleaseMsg(second.record);
    ledger->BeginCycle(3);
    EXPECT_EQ(Take().record, first.record);
    EXPECT_EQ(Take().record, second.record);
}

} // namespace
