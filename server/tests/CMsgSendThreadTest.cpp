#include "CacheTestSupport.h"
#include "WorkerTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using marlune::BX_DATA;
using marlune::CMessageBase;
using marlune::CMessageUserReg;
using marlune::CMessageUserTalking;
using marlune::CXmlMsg;
using quorvel::service::CChatServer;
using quorvel::store::CDeliveryLedger;
using quorvel::store::CMsgSendThread;
using quorvel::testsupport::WaitUntil;

namespace {

using namespace std::chrono_literals;

class Worker : public ::testing::Test {
protected:
    Worker()
    {
        fixture.AddUser("alice", "a-pw");
        fixture.AddUser("bob", "b-pw");
    }

    // Sends a chat from alice to bob@hub and waits until it is stored.
    void TalkToBob(TestClient& client, const std::string& text)
    {
        auto talk = MakeTalk("alice@hub", "bob@hub", text);
        ASSERT_TRUE(client.Send(talk));
        ASSERT_TRUE(client.Sync());
    }

    // Stores bytes for bob@hub directly in the cache.
    void StoreForBob(const std::string& bytes)
    {
        ASSERT_EQ(run.Cache().AddMsg(bytes.data(), bytes.size(), "alice", "hub", "bob", "hub"), 1);
    }

    static std::string Built(CMessageBase& message)
    {
        BX_DATA bx(&message);
        CXmlMsg codec;
        codec.BuildXml(&bx);
        return bx.buff;
    }

    // Texts of the chat messages received: waits (bounded) for `expected`
    // of them, then a little longer for any extra one.
    static std::vector<std::string> ChatsReceived(TestClient& client, std::size_t expected)
    {
        std::vector<std::string> texts;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (texts.size() < expected && std::chrono::steady_clock::now() < deadline) {
            auto message = client.ReceiveMessage(500ms);
            if (auto* talk = dynamic_cast<CMessageUserTalking*>(message.get()))
                texts.push_back(talk->text);
        }
        while (auto message = client.ReceiveMessage(300ms)) {
            if (auto* talk = dynamic_cast<CMessageUserTalking*>(message.get()))
                texts.push_back(talk->text);
        }
        return texts;
    }

    static bool LinesReach(const std::string& text, int count)
    {
        return WaitUntil([&] { return ServiceLogLines::Count(text) >= count; });
    }

    ServiceFixture fixture;
    WorkerRun run{fixture};
};

} // namespace

TEST_F(Worker, StoredMessageIsDeliveredAfterLoginAndMarkedSent)
{
    ASSERT_TRUE(run.Started());
    EXPECT_EQ(ServiceLogLines::Count("检索到待发消息共 0 条"), 1);
    TestClient alice(fixture.Port());
    TalkToBob(alice, "hello");
    ASSERT_TRUE(WaitUntil([&] { return run.HasPendingFor("bob", "hub"); }));
    ASSERT_TRUE(run.WaitForCycles(2));  // a whole cycle while bob is away
    EXPECT_TRUE(run.HasPendingFor("bob", "hub")) << "nobody to deliver to yet";

    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    auto talk = bob.ReceiveAs<CMessageUserTalking>(5s);
    ASSERT_TRUE(talk);
    EXPECT_EQ(talk->text, "hello");
    EXPECT_EQ(talk->source, "alice@hub");
    EXPECT_TRUE(WaitUntil([&] { return !run.HasPendingFor("bob", "hub"); }));
    EXPECT_TRUE(ServiceLogLines::WaitFor("已发送缓存消息,时间:2026-12-07 21:30:00 长度:"));
    EXPECT_EQ(ServiceLogLines::Count("用户: bob@hub"), 1);
}

TEST_F(Worker, TwoConnectionsOfOneUserEachGetTheMessageOnce)
{
    TestClient first(fixture.Port());
    TestClient second(fixture.Port());
    ASSERT_EQ(first.Login("bob", "b-pw"), "success");
    ASSERT_EQ(second.Login("bob", "b-pw"), "success");
    TestClient alice(fixture.Port());
    TalkToBob(alice, "twice");

    EXPECT_EQ(ChatsReceived(first, 1), std::vector<std::string>{"twice"});
    EXPECT_EQ(ChatsReceived(second, 1), std::vector<std::string>{"twice"});
    EXPECT_TRUE(LinesReach("已发送缓存消息", 1));
    ASSERT_TRUE(run.WaitForCycles(2));  // a whole cycle after the delivery
    EXPECT_EQ(ServiceLogLines::Count("已发送缓存消息"), 1);
    EXPECT_FALSE(run.HasPendingFor("bob", "hub"));
}

TEST_F(Worker, ThreeMessagesArriveInOrder)
{
    TestClient alice(fixture.Port());
    for (const char* text : {"one", "two", "three"})
        TalkToBob(alice, text);
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    EXPECT_EQ(ChatsReceived(bob, 3), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_TRUE(LinesReach("已发送缓存消息", 3));
}

TEST_F(Worker, AReaderThatFallsBehindIsFedInStepsAndLosesNothingWhenItGoes)
{
    // Forty file-sized messages wait for bob: 20 MiB, more than a
    // connection may queue.
    constexpr int kPieces = 40;
    constexpr std::size_t kPiece = 512 * 1024;
    std::vector<std::string> numbers;
    for (int i = 0; i < kPieces; ++i) {
        numbers.push_back(std::to_string(i));
        auto talk = MakeTalk("alice@hub", "bob@hub", numbers.back() + ":" + std::string(kPiece, 'x'));
        StoreForBob(Built(talk));
    }
    // bob logs in on a connection that reads nothing after the login reply.
    TestClient stalled(fixture.Port(), 4096);
    ASSERT_EQ(stalled.Login("bob", "b-pw"), "success");
    const auto unwritten = [&] {
        return fixture.OnLoop([](CChatServer& service) { return service.LinksOf("bob").unwritten; });
    };
    // The worker hands over until the backlog bound stops it, and two more
    // cycles hand over nothing past it.
    ASSERT_TRUE(WaitUntil([&] { return unwritten() >= CDeliveryLedger::kUserBacklog; }, 30s));
    ASSERT_TRUE(run.WaitForCycles(2));
    EXPECT_EQ(ServiceLogLines::Count("作为慢速连接关闭"), 0);
    EXPECT_LE(unwritten(), CDeliveryLedger::kUserBacklog + kPiece + 1024) << "handed over up to a bound";

    // bob logs in again elsewhere: the new connection must not get later
    // pieces ahead of those the stalled one may never write.
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    ASSERT_TRUE(run.WaitForCycles(2));  // a whole cycle with both connections

    // The stalled connection goes: the server ends it, still holding what it
    // could not write; what it wrote still reaches this reader.
    stalled.ShutdownWrite();
    std::vector<std::string> received;
    while (auto message = stalled.ReceiveMessage(3s)) {
        if (auto* talk = dynamic_cast<CMessageUserTalking*>(message.get()))
            received.push_back(talk->text.substr(0, talk->text.find(':')));
    }
    EXPECT_LT(received.size(), numbers.size());
    for (const auto& text : ChatsReceived(bob, kPieces - received.size()))
        received.push_back(text.substr(0, text.find(':')));
    EXPECT_EQ(received, numbers) << "every piece, in order, once";
    EXPECT_TRUE(LinesReach("已发送缓存消息", kPieces));
    EXPECT_TRUE(WaitUntil([&] { return !run.HasPendingFor("bob", "hub"); }));
}

// A reader that stopped reading is offered one batch a cycle and refuses it
// at its first message: the worker must not read and parse the user's next
// batch meanwhile, every cycle, only to put it back.
TEST_F(Worker, AStalledReaderHasOnlyTheOfferedBatchReadEachCycle)
{
    constexpr int kPieces = 60;
    constexpr std::size_t kPiece = 256 * 1024;  // four to a batch
    for (int i = 0; i < kPieces; ++i) {
        auto talk = MakeTalk("alice@hub", "bob@hub", std::to_string(i) + ":" + std::string(kPiece, 'x'));
        StoreForBob(Built(talk));
    }
    TestClient stalled(fixture.Port(), 4096);
    ASSERT_EQ(stalled.Login("bob", "b-pw"), "success");
    ASSERT_TRUE(WaitUntil(
        [&] {
            return fixture.OnLoop([](CChatServer& service) { return service.LinksOf("bob").unwritten; }) >=
                   CDeliveryLedger::kUserBacklog;
        },
        30s));
    ASSERT_TRUE(run.WaitForCycles(1));
    auto reads = std::make_shared<std::atomic<int>>(0);
    run.Cache().InjectFaults({.beforeRead = [reads] { ++*reads; }});
    ASSERT_TRUE(run.WaitForCycles(3));
    // Three whole cycles and at most a part of a fourth, one batch each.
    EXPECT_LE(reads->load(), 4 * static_cast<int>(CMsgSendThread::kBatchBytes / kPiece));
    EXPECT_GT(reads->load(), 0) << "offered again every cycle";
}

TEST_F(Worker, AFailedFirstDeliveryHoldsBackTheLaterOnes)
{
    // A stored type the delivery dispatch does not know: never delivered.
    CMessageUserReg stuck;
    stuck.type = CMessageUserReg::kType;
    stuck.source = "alice@hub";
    stuck.target = "bob@hub";
    StoreForBob(Built(stuck));
    auto talk = MakeTalk("alice@hub", "bob@hub", "behind");
    StoreForBob(Built(talk));

    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    ASSERT_TRUE(ServiceLogLines::WaitFor("HandleMsgCache type:user-reg"));
    EXPECT_TRUE(LinesReach("HandleMsgCache type:user-reg", 2)) << "offered again each cycle";
    EXPECT_TRUE(ChatsReceived(bob, 0).empty());
    EXPECT_EQ(ServiceLogLines::Count("HandleMsgCache type:user-talking"), 0);
    EXPECT_TRUE(run.HasPendingFor("bob", "hub"));
}

TEST_F(Worker, AStoredMessageThatNoLongerParsesIsRetired)
{
    StoreForBob("<msg type=\"user-talking\" broken");
    auto talk = MakeTalk("alice@hub", "bob@hub", "after the damage");
    StoreForBob(Built(talk));

    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    EXPECT_EQ(ChatsReceived(bob, 1), std::vector<std::string>{"after the damage"});
    EXPECT_EQ(ServiceLogLines::Count("缓存消息无法解析,已标记为已发送"), 1);
    EXPECT_TRUE(WaitUntil([&] { return !run.HasPendingFor("bob", "hub"); }));
}

TEST_F(Worker, AFailedSentMarkDeliversTheMessageOnceAndTheWorkerGoesOn)
{
    run.Cache().InjectFaults({.indexWrite = FailSentMarks});
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    auto one = MakeTalk("alice@hub", "bob@hub", "one");
    StoreForBob(Built(one));
    ASSERT_EQ(ChatsReceived(bob, 1), std::vector<std::string>{"one"});
    // A later cycle delivers the next message, and still not the first again.
    auto two = MakeTalk("alice@hub", "bob@hub", "two");
    StoreForBob(Built(two));
    EXPECT_EQ(ChatsReceived(bob, 1), std::vector<std::string>{"two"});
    EXPECT_EQ(ServiceLogLines::Count("标记缓存消息已发送失败"), 2);
}

TEST_F(Worker, AnExceptionOutOfACycleIsLoggedAndTheWorkerResumes)
{
    struct ReadFailure {};
    run.Cache().InjectFaults({.beforeRead = [] { throw ReadFailure{}; }});
    auto talk = MakeTalk("alice@hub", "bob@hub", "survives");
    StoreForBob(Built(talk));
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    ASSERT_TRUE(ServiceLogLines::WaitFor("ERROR 消息发送线程异常:unknown exception,2 秒后继续"));
    EXPECT_TRUE(run.Worker().IsRunning());
    run.Cache().InjectFaults({});
    EXPECT_EQ(ChatsReceived(bob, 1), std::vector<std::string>{"survives"});
}

TEST_F(Worker, ARestartDeliversWhatTheLastRunLeft)
{
    run.Stop();
    TestClient alice(fixture.Port());
    TalkToBob(alice, "kept");
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    // No worker runs, so no cycle to wait for: a stretch as long as one in
    // which nothing arrives is what this checks.
    std::this_thread::sleep_for(1200ms);
    EXPECT_TRUE(ChatsReceived(bob, 0).empty());

    ASSERT_TRUE(fixture.OnLoop([&](CChatServer& service) {
        return run.Worker().InitThread(&service, "unused: the cache is open") && run.Worker().StartService();
    }));
    EXPECT_EQ(ChatsReceived(bob, 1), std::vector<std::string>{"kept"});
    EXPECT_EQ(ServiceLogLines::Count("检索到待发消息共 0 条"), 2) << "the opening scan's count again";
}

TEST(WorkerWithoutService, OnlySleeps)
{
    ServiceFixture fixture;
    fixture.AddUser("bob", "b-pw");
    WorkerRun run(fixture, false);
    ASSERT_TRUE(run.Started());
    auto talk = MakeTalk("alice@hub", "bob@hub", "waits");
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    ASSERT_TRUE(bob.Send(talk));
    ASSERT_TRUE(bob.Sync());
    EXPECT_TRUE(bob.ReceiveFrame(1500ms) == std::nullopt);
    EXPECT_EQ(ServiceLogLines::Count("HandleMsgCache"), 0);
    EXPECT_TRUE(run.HasPendingFor("bob", "hub"));
}

TEST(WorkerStop, DuringDeliveriesNeitherDeadlocksNorOutlivesTheService)
{
    ServiceFixture fixture;
    fixture.AddUser("bob", "b-pw");
    WorkerRun run(fixture);
    CMessageUserTalking talk = MakeTalk("alice@hub", "bob@hub", "many");
    BX_DATA bx(&talk);
    CXmlMsg codec;
    ASSERT_GT(codec.BuildXml(&bx), 0u);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(run.Cache().AddMsg(bx.Data(), bx.Length(), "alice", "hub", "bob", "hub"), 1);

    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    ASSERT_TRUE(ServiceLogLines::WaitFor("已发送缓存消息"));
    // The stop and the service's end in one job on the loop, while the
    // worker is in the middle of its deliveries and waiting on this loop.
    fixture.DestroyAfter([&](CChatServer&) { run.Worker().StopService(); });
    run.MarkServiceGone();
    EXPECT_FALSE(run.Worker().IsRunning());
    EXPECT_TRUE(run.HasPendingFor("bob", "hub")) << "the rest waits for the next run";

    const auto linesAfterStop = ServiceLogLines::Count("已发送缓存消息");
    // The worker has stopped: a stretch in which nothing more is sent is
    // what this checks.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ServiceLogLines::Count("已发送缓存消息"), linesAfterStop);
}

namespace {

// Stores `count` chats for bob@hub numbered from 0, each padded with `pad`
// bytes after a colon, and returns the numbers.
std::vector<std::string> StoreNumberedForBob(WorkerRun& run, int count, std::size_t pad = 0)
{
    std::vector<std::string> numbers;
    for (int i = 0; i < count; ++i) {
        numbers.push_back(std::to_string(i));
        auto talk = MakeTalk("alice@hub", "bob@hub", pad ? numbers.back() + ":" + std::string(pad, 'x') : numbers.back());
        BX_DATA bx(&talk);
        CXmlMsg codec;
        codec.BuildXml(&bx);
        EXPECT_EQ(run.Cache().AddMsg(bx.Data(), bx.Length(), "alice", "hub", "bob", "hub"), 1);
    }
    return numbers;
}

// The chat texts one connection receives until `expected` came or nothing
// more comes for a while (bounded).
std::vector<std::string> Chats(TestClient& client, std::size_t expected)
{
    std::vector<std::string> texts;
    while (texts.size() < expected) {
        auto message = client.ReceiveMessage(8s);
        if (!message)
            break;
        if (auto* talk = dynamic_cast<CMessageUserTalking*>(message.get()))
            texts.push_back(talk->text.substr(0, talk->text.find(':')));
    }
    while (auto message = client.ReceiveMessage(300ms)) {
        if (auto* talk = dynamic_cast<CMessageUserTalking*>(message.get()))
            texts.push_back(talk->text.substr(0, talk->text.find(':')));
    }
    return texts;
}

} // namespace

// Stored messages cross to the loop in batches. Whatever way a batch ends
// early, the records it took from the cache and did not hand over must go
// back to pending: a record left taken would never be offered again and
// would hold back everything behind it, through every later run.
TEST(WorkerBatches, AStopInTheMiddleOfABacklogLeavesTheRestForTheNextRunInOrder)
{
    ServiceFixture fixture;
    fixture.AddUser("bob", "b-pw");
    WorkerRun run(fixture);
    const auto numbers = StoreNumberedForBob(run, 5000);
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    ASSERT_TRUE(ServiceLogLines::WaitFor("已发送缓存消息"));
    run.Stop();
    ASSERT_TRUE(fixture.OnLoop([&](CChatServer& service) {
        return run.Worker().InitThread(&service, "unused: the cache is open") && run.Worker().StartService();
    }));
    EXPECT_EQ(Chats(bob, numbers.size()), numbers);
    EXPECT_TRUE(WaitUntil([&] { return !run.HasPendingFor("bob", "hub"); }));
}

TEST(WorkerBatches, AnExceptionInTheMiddleOfABatchLosesAndRepeatsNothing)
{
    ServiceFixture fixture;
    fixture.AddUser("bob", "b-pw");
    WorkerRun run(fixture);
    const auto numbers = StoreNumberedForBob(run, 2 * CMsgSendThread::kBatchMessages + 50);
    // One read in the second batch fails (once).
    struct ReadFailure {};
    auto reads = std::make_shared<std::atomic<std::size_t>>(0);
    run.Cache().InjectFaults({.beforeRead = [reads] {
        if (++*reads == CMsgSendThread::kBatchMessages + 40)
            throw ReadFailure{};
    }});
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    EXPECT_EQ(Chats(bob, numbers.size()), numbers);
    EXPECT_EQ(ServiceLogLines::Count("消息发送线程异常"), 1);
    EXPECT_TRUE(WaitUntil([&] { return !run.HasPendingFor("bob", "hub"); }));
}

TEST(WorkerBatches, ALoginIsAnsweredWhileABacklogIsDelivered)
{
    ServiceFixture fixture;
    fixture.AddUser("bob", "b-pw");
    fixture.AddUser("carol", "c-pw");
    WorkerRun run(fixture);
    const auto numbers = StoreNumberedForBob(run, 20000);
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    ASSERT_TRUE(ServiceLogLines::WaitFor("已发送缓存消息"));
    TestClient carol(fixture.Port());
    EXPECT_EQ(carol.Login("carol", "c-pw"), "success");
    EXPECT_EQ(Chats(bob, numbers.size()), numbers);
}

// A backlog several times what a user's connections may hold unwritten backs
// the user up again and again; each time the connection drains, the worker
// resumes with the next message: nothing is skipped, repeated or reordered
// across the resumptions.
TEST(WorkerBatches, ABacklogOverTheUserBoundResumesAsTheReaderDrainsLosingNothing)
{
    ServiceFixture fixture;
    fixture.AddUser("bob", "b-pw");
    WorkerRun run(fixture);
    constexpr std::size_t kPad = 8 * 1024;
    const int count = static_cast<int>(3 * CDeliveryLedger::kUserBacklog / kPad);
    const auto numbers = StoreNumberedForBob(run, count, kPad);
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    EXPECT_EQ(Chats(bob, numbers.size()), numbers);
    EXPECT_TRUE(WaitUntil([&] { return !run.HasPendingFor("bob", "hub"); }));
    EXPECT_EQ(ServiceLogLines::Count("已发送缓存消息"), count);
}

// Several users' messages share a batch: one user's failure stops only that
// user's later messages; the others' go on in order.
TEST(WorkerBatches, AFailureInASharedBatchHoldsBackOnlyThatUser)
{
    ServiceFixture fixture;
    fixture.AddUser("bob", "b-pw");
    fixture.AddUser("carol", "c-pw");
    WorkerRun run(fixture);
    const auto store = [&](CMessageBase& message, const char* target) {
        BX_DATA bx(&message);
        CXmlMsg codec;
        codec.BuildXml(&bx);
        ASSERT_EQ(run.Cache().AddMsg(bx.Data(), bx.Length(), "alice", "hub", target, "hub"), 1);
    };
    // A stored type the delivery dispatch does not know: never delivered.
    CMessageUserReg stuck;
    stuck.type = CMessageUserReg::kType;
    stuck.source = "alice@hub";
    stuck.target = "bob@hub";
    auto c1 = MakeTalk("alice@hub", "carol@hub", "c1");
    auto behind = MakeTalk("alice@hub", "bob@hub", "behind");
    auto c2 = MakeTalk("alice@hub", "carol@hub", "c2");
    store(c1, "carol");
    store(stuck, "bob");
    store(behind, "bob");
    store(c2, "carol");

    TestClient bob(fixture.Port());
    TestClient carol(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    ASSERT_EQ(carol.Login("carol", "c-pw"), "success");
    EXPECT_EQ(Chats(carol, 2), (std::vector<std::string>{"c1", "c2"}));
    EXPECT_TRUE(ServiceLogLines::WaitFor("HandleMsgCache type:user-reg"));
    EXPECT_TRUE(Chats(bob, 0).empty());
    EXPECT_EQ(ServiceLogLines::Count("HandleMsgCache type:user-talking source:alice@hub target:bob@hub"), 0);
    EXPECT_TRUE(run.HasPendingFor("bob", "hub"));
    EXPECT_TRUE(WaitUntil([&] { return !run.HasPendingFor("carol", "hub"); }));
}

// While the loop offers one batch the worker already takes the next (once
// the user took a whole batch): when a user's message in the second fails,
// the user's later messages the third batch took must go back to pending
// unoffered, not overtake it.
TEST(WorkerBatches, AFailureHoldsBackWhatTheNextBatchAlreadyTook)
{
    ServiceFixture fixture;
    fixture.AddUser("bob", "b-pw");
    WorkerRun run(fixture);
    const auto numbers = StoreNumberedForBob(run, 3 * static_cast<int>(CMsgSendThread::kBatchMessages) / 2);
    // A stored type the delivery dispatch does not know: never delivered.
    CMessageUserReg stuck;
    stuck.type = CMessageUserReg::kType;
    stuck.source = "alice@hub";
    stuck.target = "bob@hub";
    BX_DATA stuckBytes(&stuck);
    CXmlMsg().BuildXml(&stuckBytes);
    ASSERT_EQ(run.Cache().AddMsg(stuckBytes.Data(), stuckBytes.Length(), "alice", "hub", "bob", "hub"), 1);
    StoreNumberedForBob(run, 3 * static_cast<int>(CMsgSendThread::kBatchMessages));

    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    EXPECT_EQ(Chats(bob, numbers.size()), numbers);
    // Offered again in the next cycle: the first cycle is over.
    EXPECT_TRUE(WaitUntil([] { return ServiceLogLines::Count("HandleMsgCache type:user-reg") >= 2; }));
    EXPECT_TRUE(Chats(bob, 0).empty());
    EXPECT_EQ(ServiceLogLines::Count("已发送缓存消息"), static_cast<int>(numbers.size()));
}
