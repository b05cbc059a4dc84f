#include "TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <utility>
#include <vector>

using corvane::CMyRASSocket;
using quorvel::testsupport::WaitUntil;

namespace {

// What the receipts of numbered frames reported, in the order they ran.
class Receipts {
public:
    std::function<void(bool)> For(int frame)
    {
        return [this, frame](bool written) {
            std::lock_guard lock(mutex_);
            reports_.emplace_back(frame, written);
        };
    }
    std::vector<std::pair<int, bool>> Reports() const
    {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    std::size_t Count() const { return Reports().size(); }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<int, bool>> reports_;
};

TEST(SendReceipt, WrittenFramesReportTrueInTheirOrder)
{
    ServerFixture fixture;
    RawConnection client(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    Receipts receipts;
    const std::string big(300 * 1024, 'b');
    fixture.OnLoop([&] {
        CMyRASSocket* socket = fixture.server->At(0);
        EXPECT_EQ(fixture.server->SendBuff(socket, "one", 3, receipts.For(1)), 1);
        EXPECT_EQ(fixture.server->SendBuff(socket, big.data(), static_cast<std::uint32_t>(big.size()), receipts.For(2)),
                  1);
        EXPECT_EQ(fixture.server->SendBuff(socket, "three", 5, receipts.For(3)), 1);
        EXPECT_GT(socket->UnwrittenBytes(), big.size()) << "queued on the loop, not yet written";
    });
    EXPECT_EQ(client.Read(27 + 24 + big.size() + 29), Frame("one") + Frame(big) + Frame("three"));
    ASSERT_TRUE(WaitUntil([&] { return receipts.Count() == 3; }));
    EXPECT_EQ(receipts.Reports(), (std::vector<std::pair<int, bool>>{{1, true}, {2, true}, {3, true}}));
    EXPECT_EQ(fixture.OnLoop([&] { return fixture.server->At(0)->UnwrittenBytes(); }), 0u);
}

TEST(SendReceipt, FramesAClosingConnectionNeverWroteReportFalseOnceEach)
{
    ServerFixture fixture;
    RawConnection client(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    Receipts receipts;
    const std::string piece(512 * 1024, 'p');
    constexpr int kPieces = 30;  // 15 MiB: more than the socket buffers take, less than the queue's bound
    fixture.OnLoop([&] {
        for (int i = 0; i < kPieces; ++i)
            EXPECT_EQ(fixture.server->SendBuff(fixture.server->At(0), piece.data(),
                                               static_cast<std::uint32_t>(piece.size()), receipts.For(i)),
                      1);
    });
    // The peer reads nothing and goes away.
    client.Close();
    ASSERT_TRUE(WaitUntil([&] { return receipts.Count() == kPieces; }));

    const auto reports = receipts.Reports();
    int written = 0;
    for (int i = 0; i < kPieces; ++i) {
        EXPECT_EQ(reports[i].first, i) << "in the order of the frames";
        if (reports[i].second) {
            EXPECT_EQ(written, i) << "written frames come first";
            ++written;
        }
    }
    EXPECT_LT(written, kPieces) << "the queue was thrown away, not reported written";

    // A refused send keeps its receipt: it never runs.
    fixture.OnLoop([&] { EXPECT_EQ(fixture.server->SendBuff(fixture.server->At(0), "late", 4, receipts.For(99)), 0); });
    const auto settled = fixture.OnLoop([&] { return receipts.Count(); });
    EXPECT_EQ(settled, static_cast<std::size_t>(kPieces));
}

TEST(SendReceipt, AConnectionDestroyedWithQueuedFramesReportsThemUnwritten)
{
    ServerFixture fixture;
    RawConnection client(fixture.port);
    ASSERT_TRUE(WaitUntil([&] { return fixture.OnLoop([&] { return fixture.server->Count(); }) == 1; }));
    Receipts receipts;
    fixture.OnLoop([&] {
        EXPECT_EQ(fixture.server->SendBuff(fixture.server->At(0), "gone", 4, receipts.For(1)), 1);
        // Destroyed in the same job: the write had no chance to start.
        fixture.server->FreeAllItems();
    });
    ASSERT_TRUE(WaitUntil([&] { return receipts.Count() == 1; }));
    EXPECT_EQ(receipts.Reports(), (std::vector<std::pair<int, bool>>{{1, false}}));
}

} // namespace
