#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quorvel::load {

// One client connection of the load generator, on the generator's single
// io_context: frames in, frames out. Frames sent while a write is in flight,
// or within one handler, go out together in the next single write, so a
// burst of small messages costs one system call rather than one each.
// Handlers run on the io_context's thread; every method is called there.
class CLoadConnection : public std::enable_shared_from_this<CLoadConnection> {
public:
    using FrameHandler = std::function<void(std::string_view payload)>;
    using DoneHandler = std::function<void(const std::error_code&)>;

    explicit CLoadConnection(asio::io_context& io);

    // The payload of every complete frame, in order.
    void OnFrame(FrameHandler handler) { onFrame_ = std::move(handler); }
    // Called once when the connection ends (peer closed, error, bad frame).
    void OnClose(DoneHandler handler) { onClose_ = std::move(handler); }

    // Connects (Nagle off) and starts reading; `done` gets the result.
    void Connect(const asio::ip::tcp::endpoint& endpoint, DoneHandler done);
    // Queues one frame carrying `payload`.
    void Send(std::string_view payload);
    // Queues payloads already framed (CFrame header + payload each).
    void SendFramed(std::string_view frames);
    // Appends the frame of `payload` to out.
    static void AppendFrame(std::string& out, std::string_view payload);
    void Close();

    bool Open() const { return open_; }
    // Bytes queued and not yet handed to the socket.
    std::size_t Queued() const { return pending_.size() + inflight_.size(); }

private:
    void Read();
    void Consume(std::size_t bytes);
    void ScheduleFlush();
    void Flush();
    void Fail(const std::error_code& error);

    asio::ip::tcp::socket socket_;
    FrameHandler onFrame_;
    DoneHandler onClose_;
    bool open_ = false;
    bool writing_ = false;
    std::vector<std::uint8_t> in_;
    std::size_t inUsed_ = 0;
    std::string pending_;
    std::string inflight_;
};

} // namespace quorvel::load
