#pragma once

#include "corvane/CMyRASSocket.h"

#include <asio/buffer.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace corvane {

// The bytes one connection has yet to write, in order: small frames copied
// together into buffers of its own, large payloads referenced where several
// connections send the same bytes (a file chunk relayed to every
// connection of a user), so each connection holds a reference instead of a
// copy. Referenced bytes are never changed (SharedBytes points to const).
//
// Threads: none of its own; its owner guards it.
class CByteQueue {
public:
    // Shared payloads from this size on are referenced; smaller ones are
    // copied, which keeps many small frames in one buffer for one write.
    static constexpr std::size_t kReferenceFrom = 64 * 1024;
    // The most buffers one gathered write takes.
    static constexpr std::size_t kMaxGather = 64;

    // Copies size bytes at data to the end.
    void Append(const std::uint8_t* data, std::size_t size);
    // Adds bytes[from..] to the end: referenced when large, else copied.
    void Append(const CMyRASSocket::SharedBytes& bytes, std::size_t from);

    // Bytes queued and not yet consumed.
    std::size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    // Fills up to kMaxGather entries of `out` with the queued bytes from the
    // front; returns how many it filled.
    std::size_t Gather(asio::const_buffer* out) const;
    // Drops the first n bytes (n at most Size()).
    void Consume(std::size_t n);
    // Exchanges the queued bytes and the spare buffers.
    void Swap(CByteQueue& other) noexcept;
    // Drops every byte; keeps one small buffer for the next frames.
    void Clear();
    // Drops every byte and gives back all memory.
    void Release();

private:
    // Either a buffer of its own (`shared` null) or the bytes of `shared`
    // from `from` on; `from` also counts what was consumed of an own buffer.
    struct Piece {
        std::vector<std::uint8_t> own;
        CMyRASSocket::SharedBytes shared;
        std::size_t from = 0;

        const std::uint8_t* Data() const;
        std::size_t Size() const;
    };

    Piece& OwnTail();
    void Recycle(Piece& piece);

    std::deque<Piece> pieces_;
    std::size_t size_ = 0;
    // An emptied small buffer, taken by the next copied bytes.
    std::vector<std::uint8_t> spare_;
};

} // namespace corvane
