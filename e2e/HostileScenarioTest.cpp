// Two users chat while other clients on the same server send garbage, a
// frame that never ends and broken headers: the chat goes on undisturbed
// and the server stays up.

#include "TwoUserHub.h"

#include "quorvel_test_support/RawConnection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using corvane::CFrame;
using quorvel::testsupport::RawConnection;

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

namespace {

// Payloads that are no message: random bytes, XML that is not well-formed,
// a document with a DTD, bytes that are not UTF-8, a message whose body
// breaks off.
std::string Garbage(std::mt19937& random)
{
    switch (random() % 6) {
    case 0: {
        std::string bytes(1 + random() % 4096, '\0');
        for (auto& byte : bytes)
            byte = static_cast<char>(random() & 0xFF);
        return bytes;
    }
    case 1:
        return "<msg type=\"user-talking\" source=\"x@hub\" target=\"nobody@nowhere\"><body>";
    case 2:
        return "<!DOCTYPE msg [<!ENTITY a \"aaaaaaaaaa\">]><msg type=\"&a;\"/>";
    case 3:
        return "<msg type=\"user-login\"><body userid=\"\xff\xfe\" password=\"\xc0\"/></msg>";
    case 4:
        return std::string(1000, '<');
    default:
        return "not a message at all";
    }
}

// Runs `body` on a thread until the scenario ends.
class Neighbour {
public:
    template <class Body>
    explicit Neighbour(Body body) : thread_([this, body] { body(stop_); })
    {
    }
    ~Neighbour() { Stop(); }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(HostileScenario, TwoUsersChatUndisturbedBesideGarbageEndlessFramesAndBadHeaders)
{
    TwoUserHub cast;
    auto& [hub, alice, bob] = cast;
    ASSERT_TRUE(cast.StartAndLogIn()) << hub.Output();

    std::atomic<int> garbageFrames{0};
    Neighbour garbage([&](const std::atomic<bool>& stop) {
        std::mt19937 random(7);
        while (!stop) {
            RawConnection raw(hub.Port());
            for (int i = 0; i < 50 && !stop && raw.Send(RawConnection::Frame(Garbage(random))); ++i)
                ++garbageFrames;
            // Kinds of garbage matter here, not volume: every frame costs the
            // server log lines that the test reads back.
            std::this_thread::sleep_for(50ms);
        }
    });

    // A frame that announces the largest payload and never completes: the
    // server waits for the rest without holding anyone else up.
    RawConnection unfinished(hub.Port());
    ASSERT_TRUE(unfinished.SendPartOfFrame(CFrame::kMaxPayload, 4 << 20));
    Neighbour trickle([&](const std::atomic<bool>& stop) {
        while (!stop && unfinished.Send("y"))
            std::this_thread::sleep_for(20ms);
    });

    // A frame that announces more than a payload may hold: the server closes
    // the connection once the limit is passed.
    std::atomic<bool> endlessCut{false};
    Neighbour endless([&](const std::atomic<bool>& stop) {
        RawConnection raw(hub.Port());
        const std::string block(64 << 10, 'z');
        bool sent = raw.Send(RawConnection::Header(0xFFFFFFFFu));
        for (std::size_t total = 0; sent && !stop && total < (64u << 20); total += block.size())
            sent = raw.Send(block);
        endlessCut = !sent || raw.ClosedByPeerWithin(10s);
    });

    // Bad headers: the server reads nothing more from such a connection, so
    // the login behind the header is never answered.
    const std::string login = "<msg type=\"user-login\" source=\"alice\"><body userid=\"alice\" "
                              "password=\"alice-pw\" statu=\"online\"/></msg>";
    RawConnection wrongFlag(hub.Port());
    ASSERT_TRUE(wrongFlag.Send(RawConnection::Header(64, "RAS_XXXX") + std::string(64, ' ') +
                               RawConnection::Frame(login)));
    RawConnection emptyFrame(hub.Port());
    ASSERT_TRUE(emptyFrame.Send(RawConnection::Header(0) + RawConnection::Frame(login)));

    // Meanwhile Alice and Bob chat both ways.
    Texts toBob;
    Texts toAlice;
    for (int i = 0; i < 15; ++i) {
        toBob.push_back("to bob " + std::to_string(i));
        toAlice.push_back("to alice " + std::to_string(i));
        ASSERT_TRUE(alice.Say("bob@hub", toBob.back()));
        ASSERT_TRUE(bob.Say("alice@hub", toAlice.back()));
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(bob.Chats(toBob.size()), toBob) << hub.Output();
    EXPECT_EQ(alice.Chats(toAlice.size()), toAlice) << hub.Output();
    EXPECT_EQ(alice.Client().Unreadable(), 0u);
    EXPECT_EQ(bob.Client().Unreadable(), 0u);

    endless.Stop();
    EXPECT_TRUE(endlessCut);
    EXPECT_FALSE(wrongFlag.ReadableWithin(500ms));
    EXPECT_FALSE(emptyFrame.ReadableWithin(500ms));
    trickle.Stop();
    garbage.Stop();
    EXPECT_GT(garbageFrames.load(), 0);

    // The server still takes new users and still delivers.
    ScenarioUser carol(hub, "carol", "carol-pw");
    ASSERT_TRUE(carol.Register());
    ASSERT_TRUE(carol.LogIn());
    ASSERT_TRUE(carol.Say("alice@hub", "all quiet again"));
    EXPECT_EQ(alice.Chats(1), Texts{"all quiet again"}) << hub.Output();
    EXPECT_TRUE(hub.Exit()) << hub.Output();
}

} // namespace
