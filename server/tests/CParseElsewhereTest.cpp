#include "ServiceTestSupport.h"
#include "quorvel_test_support/WaitUntil.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>

using marlune::BX_DATA;
using marlune::CMessageUserTalking;
using marlune::CXmlMsg;
using quorvel::testsupport::WaitUntil;

namespace {

// Holds the parse thread at its gate until opened.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    int entered = 0;

    void Pass()
    {
        std::unique_lock lock(mutex);
        ++entered;
        opened.wait(lock, [this] { return open; });
    }
    void Open()
    {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
    int Entered()
    {
        std::lock_guard lock(mutex);
        return entered;
    }
};

std::string TalkingXml(const std::string& text)
{
    CMessageUserTalking talking;
    talking.type = CMessageUserTalking::kType;
    talking.source = "alice@hub";
    talking.target = "bob@hub";
    talking.text = text;
    BX_DATA bx(&talking);
    CXmlMsg codec;
    codec.BuildXml(&bx);
    return bx.buff;
}

} // namespace

TEST(ParseElsewhere, OthersAreServedWhileALargePayloadIsParsedAndItsConnectionKeepsItsOrder)
{
    ServiceFixture fixture;
    fixture.AddUser("alice", "a-pw");
    fixture.AddUser("bob", "b-pw");
    auto gate = std::make_shared<Gate>();
    // Opened before the service ends (it waits for the parse), whatever fails.
    const std::shared_ptr<void> opener(nullptr, [gate](void*) { gate->Open(); });
    fixture.OnLoop([gate](CChatServer& service) { service.SetParseGate([gate] { gate->Pass(); }); });

    const std::string large = TalkingXml(std::string(CChatServer::kParseElsewhereFrom, 'x'));
    const std::string small = TalkingXml("after the large one");
    TestClient sender(fixture.Port());
    ASSERT_TRUE(sender.SendFrame(large));
    ASSERT_TRUE(sender.SendFrame(small));
    ASSERT_TRUE(WaitUntil([&] { return gate->Entered() == 1; }));

    // The loop answers another connection while the parse waits, and has
    // not handled the frame behind the large one.
    TestClient other(fixture.Port());
    EXPECT_EQ(other.Login("bob", "b-pw"), "success");
    EXPECT_TRUE(fixture.Stored().empty());

    gate->Open();
    ASSERT_TRUE(sender.Sync());
    const auto stored = fixture.Stored();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].bytes, large);
    EXPECT_EQ(stored[1].bytes, small);
}

TEST(ParseElsewhere, APayloadThatDoesNotParseIsLoggedAsOneParsedOnTheLoop)
{
    ServiceFixture fixture;
    TestClient sender(fixture.Port());
    ASSERT_TRUE(sender.SendFrame("<msg type=\"user-talking\"" + std::string(CChatServer::kParseElsewhereFrom, ' ')));
    ASSERT_TRUE(sender.Sync());
    EXPECT_EQ(ServiceLogLines::Count("无法解析的消息已丢弃:"), 1);
    EXPECT_TRUE(fixture.Stored().empty());
}
