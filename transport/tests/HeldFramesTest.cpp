#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

using quorvel::testsupport::WaitUntil;

namespace {

// Records every payload and holds the connection of a frame that says
// "hold", as a program does that finishes such a frame elsewhere.
void HoldingReceive(RAS_CALLBACK_PARA* para)
{
    Recorder::Receive(para);
    if (std::string_view(reinterpret_cast<const char*>(para->data), para->length) == "hold")
        para->socket->HoldFrames();
}

bool Received(const std::string& payload)
{
    const auto payloads = Recorder::Payloads();
    return std::find(payloads.begin(), payloads.end(), payload) != payloads.end();
}

class HeldFrames : public ::testing::Test {
protected:
    HeldFrames()
    {
        fixture.OnLoop([this] { fixture.server->RegCallBackOnSckString(&HoldingReceive); });
    }
    CMyRASSocket* HeldConnection()
    {
        return fixture.OnLoop([this]() -> CMyRASSocket* {
            for (const auto& connection : fixture.server->List()) {
                if (connection->FramesHeld())
                    return connection.get();
            }
            return nullptr;
        });
    }
    ServerFixture fixture;
};

TEST_F(HeldFrames, LaterFramesWaitForTheResumeInOrderWhileOthersAreServed)
{
    RawConnection held(fixture.port);
    RawConnection other(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 2; }));
    // The frames behind the held one arrive in the same read.
    ASSERT_TRUE(held.Send(Frame("a") + Frame("hold") + Frame("b") + Frame("c")));
    ASSERT_TRUE(WaitUntil([] { return Received("hold"); }));
    ASSERT_TRUE(other.Send(Frame("other")));
    ASSERT_TRUE(WaitUntil([] { return Received("other"); }));
    ASSERT_TRUE(held.Send(Frame("d")));
    CMyRASSocket* connection = HeldConnection();
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(Recorder::Payloads(), (std::vector<std::string>{"a", "hold", "other"}));
    // What waits stays counted against the connection.
    EXPECT_GT(fixture.OnLoop([&] { return connection->HeldBytes(); }), 0u);

    fixture.OnLoop([&] { connection->ResumeFrames(); });
    ASSERT_TRUE(WaitUntil([] { return Received("d"); }));
    EXPECT_EQ(Recorder::Payloads(), (std::vector<std::string>{"a", "hold", "other", "b", "c", "d"}));
    EXPECT_EQ(HeldConnection(), nullptr);
}

TEST_F(HeldFrames, AHoldAfterTheTurnsBoundKeepsBothAndResumesOnce)
{
    corvane::CConnectionLimits limits;
    limits.framesPerTurn = 2;
    fixture.OnLoop([&] { fixture.server->SetConnectionLimits(limits); });
    RawConnection client(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    ASSERT_TRUE(client.Send(Frame("a") + Frame("b") + Frame("hold") + Frame("c")));
    ASSERT_TRUE(WaitUntil([] { return Received("hold"); }));
    CMyRASSocket* connection = HeldConnection();
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(Recorder::Payloads(), (std::vector<std::string>{"a", "b", "hold"}));

    fixture.OnLoop([&] { connection->ResumeFrames(); });
    ASSERT_TRUE(WaitUntil([] { return Received("c"); }));
    ASSERT_TRUE(client.Send(Frame("hold") + Frame("e")));
    ASSERT_TRUE(WaitUntil([&] { return HeldConnection() != nullptr; }));
    fixture.OnLoop([&] { connection->ResumeFrames(); });
    ASSERT_TRUE(WaitUntil([] { return Received("e"); }));
    EXPECT_EQ(Recorder::Payloads(), (std::vector<std::string>{"a", "b", "hold", "c", "hold", "e"}));
}

} // namespace
