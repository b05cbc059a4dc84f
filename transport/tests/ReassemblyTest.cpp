#include "TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

using corvane::CFrame;
using quorvel::testsupport::WaitUntil;

namespace {

std::string Header(const char* flagBytes, std::uint32_t length)
{
    std::string header(CFrame::kHeaderSize, '\0');
    std::copy(flagBytes, flagBytes + 12, header.begin());
    for (int i = 0; i < 4; ++i)
        header[12 + i] = static_cast<char>(length >> (8 * i));
    return header;
}

class Reassembly : public ::testing::Test {
protected:
    ServerFixture fixture;
    std::size_t Connections() { return fixture.OnLoop([this] { return fixture.server->Count(); }); }
    // Sends a well-formed frame behind whatever was sent before and reports
    // whether it arrived.
    bool ProbeDelivered(RawConnection& client, std::size_t already)
    {
        client.Send(Frame("probe"));
        return WaitUntil([&] { return Recorder::Payloads().size() > already; }, std::chrono::milliseconds(300));
    }
};

TEST_F(Reassembly, TwoFramesSplitAtEveryByteArriveOnceInOrder)
{
    ASSERT_NE(fixture.port, 0u) << ::testing::PrintToString(Recorder::Lines());
    const std::string bytes = Frame("first payload") + Frame(std::string("sec\0nd", 6));
    for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
        Recorder::Clear();
        RawConnection client(fixture.port);
        ASSERT_TRUE(client.Send(bytes.substr(0, cut)));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(client.Send(bytes.substr(cut)));
        ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 2; })) << "cut at " << cut;
        EXPECT_EQ(Recorder::Payloads()[0], "first payload");
        EXPECT_EQ(Recorder::Payloads()[1], std::string("sec\0nd", 6));
    }
}

TEST_F(Reassembly, ManyFramesInOneWriteIncludingLargeThenSmall)
{
    RawConnection client(fixture.port);
    const std::string large(300000, 'L');
    ASSERT_TRUE(client.Send(Frame("a") + Frame("bb") + Frame(large) + Frame("ccc")));
    ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 4; }));
    const auto payloads = Recorder::Payloads();
    EXPECT_EQ(payloads[0], "a");
    EXPECT_EQ(payloads[1], "bb");
    EXPECT_EQ(payloads[2], large);
    EXPECT_EQ(payloads[3], "ccc");
    EXPECT_TRUE(fixture.OnLoop([this] { return fixture.server->At(0)->recvBuffer.Empty(); }));
}

TEST_F(Reassembly, LargeFrameInUnevenPiecesArrivesWholeWithTheFrameBehindIt)
{
    // Large enough to be received into a room of its own; the pieces end
    // in the header, in the body and with the next frame's first bytes.
    std::string large(5 * 1024 * 1024 + 333, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>((i * 7 + i / 4096) % 256);
    const std::string bytes = Frame(large) + Frame("after");
    RawConnection client(fixture.port);
    const std::size_t cuts[] = {10, 70000, 1500000, 2000001, bytes.size() - 20};
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
        ASSERT_TRUE(client.Send(bytes.substr(at, cut - at)));
        at = cut;
    }
    ASSERT_TRUE(client.Send(bytes.substr(at)));
    ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 2; }));
    const auto payloads = Recorder::Payloads();
    EXPECT_TRUE(payloads[0] == large);
    EXPECT_EQ(payloads[1], "after");
    EXPECT_TRUE(fixture.OnLoop([this] { return fixture.server->At(0)->recvBuffer.Empty(); }));
}

TEST_F(Reassembly, CompleteFramePlusHalfOfNextDeliversFirstAtOnce)
{
    RawConnection client(fixture.port);
    const std::string second = Frame("second");
    ASSERT_TRUE(client.Send(Frame("first") + second.substr(0, 10)));
    ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 1; }));
    ASSERT_TRUE(client.Send(second.substr(10)));
    ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 2; }));
    // A stretch in which no third payload may appear: the pause is the test.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Recorder::Payloads(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(Reassembly, BadHeadersStopDeliveryButKeepTheConnection)
{
    const std::string badFlag = Header("RAS_DATB\0\0\0\0", 5) + "hello";
    const std::string byte8 = Header("RAS_DATAX\0\0\0", 5) + "hello";
    const std::string lengthZero = Header("RAS_DATA\0\0\0\0", 0);
    for (const std::string& bad : {badFlag, byte8, lengthZero}) {
        Recorder::Clear();
        RawConnection client(fixture.port);
        ASSERT_TRUE(client.Send(Frame("before") + bad));
        ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 1; }));
        EXPECT_FALSE(ProbeDelivered(client, 1));
        EXPECT_TRUE(fixture.OnLoop([this] {
            auto* last = fixture.server->At(fixture.server->Count() - 1);
            return last->active.load() == 1 && last->IsOpen();
        }));
    }
}

TEST_F(Reassembly, HeaderOfNearlyFourGigabytesIsClosedAtTheBound)
{
    RawConnection client(fixture.port);
    ASSERT_TRUE(client.Send(Header("RAS_DATA\0\0\0\0", 0xFFFFFFF0u)));
    const std::string chunk(1024 * 1024, 'x');
    bool closed = false;
    for (int i = 0; i < 40 && !closed; ++i) {
        if (!client.Send(chunk))
            closed = true;
    }
    EXPECT_TRUE(closed || client.ClosedByPeerWithin());
    EXPECT_TRUE(WaitUntil([] { return Recorder::HasLine("INFOR [][]断开了连接"); }));
    EXPECT_TRUE(Recorder::Payloads().empty());
}

TEST_F(Reassembly, ReceiveLineShowsLengthVersionAndFlag)
{
    RawConnection client(fixture.port);
    ASSERT_TRUE(client.Send(Frame("seven", 7)));
    ASSERT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 1; }));
    EXPECT_TRUE(Recorder::HasLine("INFOR 收到数据包，长度为:5 版本为:7 标志:RAS_DATA"));
    EXPECT_EQ(Recorder::Payloads()[0].size(), 5u);
}

TEST_F(Reassembly, FewerThanHeaderBytesWaitsForMore)
{
    RawConnection client(fixture.port);
    const std::string frame = Frame("x");
    ASSERT_TRUE(client.Send(frame.substr(0, 23)));
    // A stretch in which a partial header must deliver nothing: the pause is the test.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(Recorder::Payloads().empty());
    ASSERT_TRUE(client.Send(frame.substr(23)));
    EXPECT_TRUE(WaitUntil([] { return Recorder::Payloads().size() == 1; }));
}

} // namespace
