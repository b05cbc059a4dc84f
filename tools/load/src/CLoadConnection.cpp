#include "CLoadConnection.h"

#include <corvane/CFrame.h>

#include <asio/connect.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include <cstring>

namespace quorvel::load {

using corvane::CFrame;

namespace {
constexpr std::size_t kReadChunk = 64 * 1024;
}

CLoadConnection::CLoadConnection(asio::io_context& io) : socket_(io), in_(kReadChunk) {}

void CLoadConnection::Connect(const asio::ip::tcp::endpoint& endpoint, DoneHandler done)
{
    socket_.async_connect(endpoint, [self = shared_from_this(), done = std::move(done)](const std::error_code& ec) {
        if (!ec) {
            std::error_code ignored;
            self->socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
            self->open_ = true;
            self->Read();
            if (!self->pending_.empty())
                self->ScheduleFlush();
        }
        done(ec);
    });
}

void CLoadConnection::AppendFrame(std::string& out, std::string_view payload)
{
    std::uint8_t header[CFrame::kHeaderSize];
    CFrame::BuildHeader(header, static_cast<std::uint32_t>(payload.size()));
    out.append(reinterpret_cast<const char*>(header), sizeof header);
    out.append(payload);
}

void CLoadConnection::Send(std::string_view payload)
{
    AppendFrame(pending_, payload);
    ScheduleFlush();
}

void CLoadConnection::SendFramed(std::string_view frames)
{
    pending_.append(frames);
    ScheduleFlush();
}

void CLoadConnection::ScheduleFlush()
{
    if (writing_ || !open_)
        return;
    writing_ = true;
    // The write starts after the current handler, so whatever else it sends
    // joins the same write.
    asio::post(socket_.get_executor(), [self = shared_from_this()] { self->Flush(); });
}

void CLoadConnection::Flush()
{
    inflight_.clear();
    if (!open_ || pending_.empty()) {
        writing_ = false;
        return;
    }
    inflight_.swap(pending_);
    asio::async_write(socket_, asio::buffer(inflight_),
                      [self = shared_from_this()](const std::error_code& ec, std::size_t) {
                          if (ec) {
                              self->writing_ = false;
                              self->Fail(ec);
                              return;
                          }
                          self->Flush();
                      });
}

void CLoadConnection::Read()
{
    if (in_.size() - inUsed_ < kReadChunk / 4)
        in_.resize(in_.size() + kReadChunk);
    socket_.async_read_some(asio::buffer(in_.data() + inUsed_, in_.size() - inUsed_),
                            [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
                                if (ec) {
                                    self->Fail(ec);
                                    return;
                                }
                                self->Consume(n);
                                if (self->open_)
                                    self->Read();
                            });
}

void CLoadConnection::Consume(std::size_t bytes)
{
    inUsed_ += bytes;
    std::size_t at = 0;
    while (open_) {
        CFrame::View frame;
        const auto status = CFrame::Parse(in_.data() + at, inUsed_ - at, frame);
        if (status == CFrame::Status::kNeedMore)
            break;
        if (status == CFrame::Status::kBadHeader) {
            Fail(std::make_error_code(std::errc::bad_message));
            return;
        }
        at += CFrame::kHeaderSize + frame.length;
        if (onFrame_)
            onFrame_(std::string_view(reinterpret_cast<const char*>(frame.payload), frame.length));
    }
    if (at > 0) {
        std::memmove(in_.data(), in_.data() + at, inUsed_ - at);
        inUsed_ -= at;
    }
    // Room for a whole frame whose header says it is larger than the buffer.
    if (inUsed_ >= CFrame::kHeaderSize) {
        CFrame::View frame;
        std::uint32_t length = 0;
        std::memcpy(&length, in_.data() + 12, sizeof length);
        if (CFrame::Parse(in_.data(), inUsed_, frame) == CFrame::Status::kNeedMore &&
            length <= CFrame::kMaxPayload && in_.size() < CFrame::kHeaderSize + length + kReadChunk)
            in_.resize(CFrame::kHeaderSize + length + kReadChunk);
    }
}

void CLoadConnection::Fail(const std::error_code& error)
{
    if (!open_ && !socket_.is_open())
        return;
    const bool wasOpen = open_;
    Close();
    if (wasOpen && onClose_)
        onClose_(error);
}

void CLoadConnection::Close()
{
    open_ = false;
    std::error_code ignored;
    socket_.close(ignored);
}

} // namespace quorvel::load
