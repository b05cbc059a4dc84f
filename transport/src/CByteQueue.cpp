#include "CByteQueue.h"

#include <algorithm>

namespace corvane {

namespace {

// An own buffer larger than this is given back once written, not kept.
constexpr std::size_t kKeptBufferCapacity = 1024 * 1024;

} // namespace

const std::uint8_t* CByteQueue::Piece::Data() const
{
    const std::uint8_t* base =
        shared ? reinterpret_cast<const std::uint8_t*>(shared->data()) : own.data();
    return base + from;
}

std::size_t CByteQueue::Piece::Size() const
{
    return (shared ? shared->size() : own.size()) - from;
}

CByteQueue::Piece& CByteQueue::OwnTail()
{
    if (pieces_.empty() || pieces_.back().shared) {
        pieces_.emplace_back();
        pieces_.back().own.swap(spare_);
    }
    return pieces_.back();
}

void CByteQueue::Append(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    std::vector<std::uint8_t>& own = OwnTail().own;
    own.insert(own.end(), data, data + size);
    size_ += size;
}

void CByteQueue::Append(const CMyRASSocket::SharedBytes& bytes, std::size_t from)
{
    if (!bytes || from >= bytes->size())
        return;
    const std::size_t size = bytes->size() - from;
    if (size < kReferenceFrom) {
        Append(reinterpret_cast<const std::uint8_t*>(bytes->data()) + from, size);
        return;
    }
    Piece piece;
    piece.shared = bytes;
    piece.from = from;
    pieces_.push_back(std::move(piece));
    size_ += size;
}

std::size_t CByteQueue::Gather(asio::const_buffer* out) const
{
    std::size_t count = 0;
    for (const Piece& piece : pieces_) {
        if (count == kMaxGather)
            break;
        out[count++] = asio::const_buffer(piece.Data(), piece.Size());
    }
    return count;
}

void CByteQueue::Consume(std::size_t n)
{
    n = std::min(n, size_);
    size_ -= n;
    while (n > 0) {
        Piece& front = pieces_.front();
        const std::size_t step = std::min(n, front.Size());
        front.from += step;
        n -= step;
        if (front.Size() == 0) {
            Recycle(front);
            pieces_.pop_front();
        }
    }
}

void CByteQueue::Recycle(Piece& piece)
{
    if (piece.shared || piece.own.capacity() > kKeptBufferCapacity || spare_.capacity() >= piece.own.capacity())
        return;
    piece.own.clear();
    spare_.swap(piece.own);
}

void CByteQueue::Swap(CByteQueue& other) noexcept
{
    // The spare buffer goes along: the queue that was written gave back
    // its buffers, and the one that now fills takes them.
    pieces_.swap(other.pieces_);
    spare_.swap(other.spare_);
    std::swap(size_, other.size_);
}

void CByteQueue::Clear()
{
    for (Piece& piece : pieces_)
        Recycle(piece);
    pieces_.clear();
    size_ = 0;
}

void CByteQueue::Release()
{
    std::deque<Piece>().swap(pieces_);
    std::vector<std::uint8_t>().swap(spare_);
    size_ = 0;
}

} // namespace corvane
