#include "quorvel_service/CRequestBudget.h"

#include <gtest/gtest.h>

using quorvel::service::CRequestBudget;

namespace {

using namespace std::chrono_literals;
using Verdict = CRequestBudget::Verdict;

const CRequestBudget::Clock::time_point kStart{};

} // namespace

TEST(RequestBudget, AConnectionSpendsAMinutesWorthAtOnceThenWhatRefills)
{
    CRequestBudget budget(60, 1000);
    for (int i = 0; i < 60; ++i)
        ASSERT_EQ(budget.Admit(1, "10.0.0.1", kStart), Verdict::kAdmitted) << i;
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart), Verdict::kConnection);
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart + 500ms), Verdict::kConnection) << "half a token";
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart + 1s), Verdict::kAdmitted) << "one a second refills";
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart + 1s), Verdict::kConnection);
    // Another connection from the same address is not held back by it.
    EXPECT_EQ(budget.Admit(2, "10.0.0.1", kStart + 1s), Verdict::kAdmitted);
    // A long pause refills no more than a minute's worth.
    for (int i = 0; i < 60; ++i)
        ASSERT_EQ(budget.Admit(1, "10.0.0.1", kStart + 1h), Verdict::kAdmitted) << i;
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart + 1h), Verdict::kConnection);
}

TEST(RequestBudget, AnAddressIsBoundedAcrossItsConnectionsAndOthersAreNot)
{
    CRequestBudget budget(10, 25);
    int admitted = 0;
    for (std::uint64_t connection = 1; connection <= 5; ++connection) {
        for (int i = 0; i < 10; ++i)
            admitted += budget.Admit(connection, "10.0.0.1", kStart) == Verdict::kAdmitted;
    }
    EXPECT_EQ(admitted, 25);
    EXPECT_EQ(budget.Admit(6, "10.0.0.1", kStart), Verdict::kAddress);
    EXPECT_EQ(budget.Admit(7, "10.0.0.2", kStart), Verdict::kAdmitted) << "another address";
    // A request refused by its address takes nothing from its connection.
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(budget.Admit(6, "10.0.0.1", kStart), Verdict::kAddress);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(budget.Admit(6, "10.0.0.1", kStart + 1h), Verdict::kAdmitted) << i;
}

TEST(RequestBudget, BucketsThatRefilledAreForgottenSoTheTablesStaySmall)
{
    CRequestBudget budget(6, 6);
    for (std::uint64_t connection = 0; connection < 100000; ++connection) {
        // Every connection from its own address, each minute a new crowd.
        const auto now = kStart + std::chrono::minutes(connection / 1000);
        ASSERT_EQ(budget.Admit(connection, "a" + std::to_string(connection), now), Verdict::kAdmitted);
    }
    EXPECT_LT(budget.TrackedConnections(), 5000u);
    EXPECT_LT(budget.TrackedAddresses(), 5000u);
}

TEST(RequestBudget, ACostlierRequestTakesMoreAndOneBeyondTheBucketTakesItWhole)
{
    CRequestBudget budget(120, 1200);
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart, 101), Verdict::kAdmitted);
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart, 101), Verdict::kConnection);
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart, 19), Verdict::kAdmitted);
    EXPECT_EQ(budget.Admit(2, "10.0.0.2", kStart, 5000), Verdict::kAdmitted) << "never refused for good";
    EXPECT_EQ(budget.Admit(2, "10.0.0.2", kStart, 1), Verdict::kConnection);
    EXPECT_EQ(budget.Admit(3, "10.0.0.2", kStart, 1), Verdict::kAddress);
}

TEST(RequestBudget, ALargeAnswerIsPaidAfterwardsAndItsDebtIsAtMostAMinutesWorth)
{
    CRequestBudget budget(60, 100);
    ASSERT_EQ(budget.Admit(1, "10.0.0.1", kStart), Verdict::kAdmitted);
    budget.Spend(1, kStart, 20);
    // 39 tokens left on the connection; its address paid the same 21.
    for (int i = 0; i < 39; ++i)
        ASSERT_EQ(budget.Admit(1, "10.0.0.1", kStart), Verdict::kAdmitted) << i;
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart), Verdict::kConnection);
    EXPECT_EQ(budget.Admit(2, "10.0.0.1", kStart, 40), Verdict::kAdmitted);
    EXPECT_EQ(budget.Admit(3, "10.0.0.1", kStart), Verdict::kAddress);

    // However large, an answer leaves a debt of a minute's worth at most: a
    // minute and a second later the connection is served again.
    budget.Spend(1, kStart, 1000000);
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart + 60s), Verdict::kConnection);
    EXPECT_EQ(budget.Admit(1, "10.0.0.1", kStart + 61s), Verdict::kAdmitted);
    // A connection the budget never admitted owes nothing.
    budget.Spend(99, kStart, 50);
    EXPECT_EQ(budget.Admit(99, "10.0.0.9", kStart), Verdict::kAdmitted);
}

TEST(RequestBudget, ACheckTakesNothingAndRefusesWhereAdmitWould)
{
    CRequestBudget budget(2, 3);
    std::string address;
    const auto addressOf = [] { return std::string("10.0.0.9"); };
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(budget.Check(1, addressOf, kStart, address), Verdict::kAdmitted) << i;
    EXPECT_EQ(address, "10.0.0.9");
    ASSERT_EQ(budget.Admit(1, "10.0.0.9", kStart, 2), Verdict::kAdmitted);
    EXPECT_EQ(budget.Check(1, addressOf, kStart, address), Verdict::kConnection);
    // The address has one token left for another connection, then none.
    EXPECT_EQ(budget.Check(2, addressOf, kStart, address), Verdict::kAdmitted);
    ASSERT_EQ(budget.Admit(2, "10.0.0.9", kStart), Verdict::kAdmitted);
    EXPECT_EQ(budget.Check(2, addressOf, kStart, address), Verdict::kAddress);
    EXPECT_EQ(budget.Check(2, addressOf, kStart + 20s, address), Verdict::kAdmitted) << "a token refilled";
}
