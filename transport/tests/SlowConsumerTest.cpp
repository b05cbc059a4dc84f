#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(SlowConsumer, PeerThatNeverReadsIsClosedWithoutStallingOthers)
{
    ServerFixture fixture;
    RawClient stuck(fixture.port);
    RawClient healthy(fixture.port);
    ASSERT_TRUE(Eventually([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 2; }));

    const std::string chunk(1024 * 1024, 'z');
    const int accepted = fixture.OnLoop([&] {
        int sent = 0;
        while (sent < 64 && fixture.server->SendBuff(fixture.server->At(0), chunk.data(), 1024 * 1024) == 1)
            ++sent;
        return sent;
    });
    EXPECT_GE(accepted, 15);
    EXPECT_LT(accepted, 64);
    EXPECT_TRUE(Eventually([] {
        for (const std::string& line : Recorder::Lines())
            if (line.find("作为慢速连接关闭") != std::string::npos)
                return true;
        return false;
    }));
    EXPECT_TRUE(Eventually([] { return Recorder::HasLine("INFOR [][]断开了连接"); }));

    EXPECT_EQ(fixture.OnLoop([&] { return fixture.server->SendBuff(fixture.server->At(1), "ok", 2); }), 1);
    EXPECT_EQ(healthy.Read(26), Frame("ok"));
}

TEST(SlowConsumer, ConcurrentSendersNeverInterleaveFrames)
{
    ServerFixture fixture;
    RawClient reader(fixture.port);
    ASSERT_TRUE(Eventually([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    const std::string a(5000, 'a');
    const std::string b(7000, 'b');
    constexpr int kRounds = 200;
    auto sender = [&](const std::string& payload) {
        for (int i = 0; i < kRounds; ++i) {
            auto lock = fixture.server->LockConnections();
            auto& list = fixture.server->List();
            fixture.server->SendBuff(list.at(0).get(), payload.data(), static_cast<std::uint32_t>(payload.size()));
        }
    };
    std::thread one(sender, a);
    std::thread two(sender, b);
    std::string received = reader.Read(kRounds * (a.size() + 24 + b.size() + 24));
    one.join();
    two.join();
    ASSERT_FALSE(received.empty());
    int as = 0;
    int bs = 0;
    for (std::size_t at = 0; at < received.size();) {
        const std::string& expected = received[at + 24] == 'a' ? a : b;
        ASSERT_EQ(received.substr(at, 24 + expected.size()), Frame(expected)) << "at " << at;
        (&expected == &a ? as : bs)++;
        at += 24 + expected.size();
    }
    EXPECT_EQ(as, kRounds);
    EXPECT_EQ(bs, kRounds);
}

} // namespace
