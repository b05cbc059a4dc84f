#include "TestListener.h"

#include "quorvel_client/CSyncClient.h"
#include "quorvel_test_support/FreePort.h"

#include "quorvel_service/CChatServer.h"
#include <corvane/CEventLoopThread.h>
#include <marlune/Marlune.h>
#include <scrivlet/CLog4c.h>

#include <gtest/gtest.h>

#include <mutex>

using corvane::CEventLoopThread;
using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CTalker;
using quorvel::client::CSyncClient;
using quorvel::service::CChatServer;
using quorvel::testsupport::ListenOnFreePort;
using scrivlet::CLog4c;

namespace {

// The real message service named "hub" on a loop thread of its own, with
// alice and bob (friends of each other) and a store that records the types
// of the messages it is given.
class ServiceInteropTest : public ::testing::Test {
protected:
    ServiceInteropTest()
    {
        thread.Loop().Call([this] {
            service = std::make_unique<CChatServer>(log, [] { return false; });
            service->RegCallBackOnSckString(&CChatServer::OnSckString);
            service->localServer.name = "hub";
            for (const char* id : {"alice", "bob"}) {
                CTalker user;
                user.userId = id;
                user.name = id;
                user.password = "pw";
                user.serverName = "hub";
                user.friends = std::string(id) == "alice" ? "bob@hub" : "alice@hub";
                service->localServer.AddTalker(user);
            }
            service->SetMsgStore([this](const CMessageBase& msg, const char*, std::size_t) {
                std::lock_guard lock(mutex);
                stored.push_back(msg.type);
                return true;
            });
            port = ListenOnFreePort(*service);
        });
    }
    ~ServiceInteropTest() override
    {
        thread.Loop().Call([this] { service.reset(); });
    }

    std::vector<std::string> Stored()
    {
        std::lock_guard lock(mutex);
        return stored;
    }

    CLog4c log;
    CEventLoopThread thread;
    std::unique_ptr<CChatServer> service;
    unsigned port = 0;
    std::mutex mutex;
    std::vector<std::string> stored;
};

} // namespace

TEST_F(ServiceInteropTest, RequestsAreUnderstoodAndAnswered)
{
    ASSERT_NE(port, 0u);
    CSyncClient alice;
    CSyncClient bob;
    ASSERT_TRUE(alice.Connect("127.0.0.1", static_cast<int>(port)));
    ASSERT_TRUE(bob.Connect("127.0.0.1", static_cast<int>(port)));
    ASSERT_TRUE(alice.Login("alice", "pw"));
    EXPECT_EQ(alice.Identity().Address(), "alice@hub");
    EXPECT_FALSE(bob.Login("bob", "wrong"));
    ASSERT_TRUE(bob.Login("bob", "pw", "busy"));
    auto notice = alice.WaitFor(CMessageChangeStatu::kType);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(static_cast<CMessageChangeStatu&>(*notice).statu, "busy");

    ASSERT_TRUE(alice.Send(*alice.Builder().Status("away")));
    notice = bob.WaitFor(CMessageChangeStatu::kType);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(static_cast<CMessageChangeStatu&>(*notice).userId, "alice");
    EXPECT_EQ(static_cast<CMessageChangeStatu&>(*notice).statu, "away");

    ASSERT_TRUE(alice.Send(*alice.Builder().List({}, true)));
    auto list = alice.WaitFor(CMessageUserList::kType);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(static_cast<CMessageUserList&>(*list).talkers.size(), 2u);
    ASSERT_TRUE(alice.Send(*alice.Builder().Infor("bob")));
    auto info = alice.WaitFor(CMessageUserInfor::kType);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(static_cast<CMessageUserInfor&>(*info).statu, "busy");

    EXPECT_TRUE(alice.Register("carol", "Carol", "pw"));
    EXPECT_FALSE(alice.Register("carol", "Carol", "pw"));
    ASSERT_TRUE(alice.Say("bob", "hello"));
    ASSERT_TRUE(alice.Send(*alice.Builder().FriendRequest("carol@hub", "hi")));
    EXPECT_TRUE(WaitUntil([&] { return Stored().size() == 2; }));
    EXPECT_EQ(Stored(), (std::vector<std::string>{"user-talking", "user-friend"}));
}
