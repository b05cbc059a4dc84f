#include "CLoadConnection.h"

#include <corvane/CFrame.h>

#include <asio/read.hpp>
#include <asio/write.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using corvane::CFrame;
using quorvel::load::CLoadConnection;

namespace {

// A peer on a blocking socket of its own thread.
struct Peer {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor{io, {asio::ip::address_v4::loopback(), 0}};
    asio::ip::tcp::socket socket{io};
};

std::string Frame(const std::string& payload)
{
    std::string out;
    CLoadConnection::AppendFrame(out, payload);
    return out;
}

} // namespace

TEST(LoadConnectionTest, ReassemblesSplitFramesAndCoalescesSends)
{
    Peer peer;
    const std::string big(200000, 'b');
    std::thread server([&] {
        peer.acceptor.accept(peer.socket);
        const std::string wire = Frame("one") + Frame(big) + Frame("three");
        // Odd pieces, so frames are split across reads.
        for (std::size_t at = 0; at < wire.size(); at += 7777) {
            asio::write(peer.socket, asio::buffer(wire.data() + at, std::min<std::size_t>(7777, wire.size() - at)));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        std::string in(1000 * (CFrame::kHeaderSize + 5), '\0');
        asio::read(peer.socket, asio::buffer(in));
        EXPECT_EQ(in.substr(0, CFrame::kHeaderSize + 5), Frame("hello"));
    });

    asio::io_context io;
    auto connection = std::make_shared<CLoadConnection>(io);
    std::vector<std::string> got;
    connection->OnFrame([&](std::string_view payload) { got.emplace_back(payload); });
    std::error_code connected = asio::error::would_block;
    connection->Connect(peer.acceptor.local_endpoint(), [&](const std::error_code& ec) { connected = ec; });
    for (int i = 0; i < 1000; ++i)
        connection->Send("hello");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < 3 && std::chrono::steady_clock::now() < end)
        io.run_one_for(std::chrono::milliseconds(50));
    server.join();
    EXPECT_FALSE(connected);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "one");
    EXPECT_EQ(got[1], big);
    EXPECT_EQ(got[2], "three");
    connection->Close();
    io.poll();
}

TEST(LoadConnectionTest, BadHeaderEndsTheConnectionOnce)
{
    Peer peer;
    std::thread server([&] {
        peer.acceptor.accept(peer.socket);
        std::string wire = Frame("ok") + std::string(24, 'x') + Frame("never");
        asio::write(peer.socket, asio::buffer(wire));
    });
    asio::io_context io;
    auto connection = std::make_shared<CLoadConnection>(io);
    int frames = 0;
    int closes = 0;
    connection->OnFrame([&](std::string_view) { ++frames; });
    connection->OnClose([&](const std::error_code&) { ++closes; });
    connection->Connect(peer.acceptor.local_endpoint(), [](const std::error_code&) {});
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (closes == 0 && std::chrono::steady_clock::now() < end)
        io.run_one_for(std::chrono::milliseconds(50));
    server.join();
    io.poll();
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(connection->Open());
}
