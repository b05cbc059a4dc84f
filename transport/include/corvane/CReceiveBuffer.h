#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// The received bytes of one connection not yet taken as frames: one block
// that grows as a frame arrives, with its free room at the end open to a
// read that puts the bytes there directly.
//
// Blocks from kMappedFrom bytes on are mapped on their own, aligned to and
// marked for the system's 2 MiB pages where it has them: a 16 MiB frame
// then takes a few page faults instead of thousands, and a freed block
// goes back to the system at once instead of staying in the heap.
// Untouched room is only address space either way.
//
// Threads: none of its own; the connection's loop thread uses it.
class CReceiveBuffer {
public:
    static constexpr std::size_t kMappedFrom = 2u * 1024 * 1024;

    CReceiveBuffer() = default;
    ~CReceiveBuffer();
    CReceiveBuffer(const CReceiveBuffer&) = delete;
    CReceiveBuffer& operator=(const CReceiveBuffer&) = delete;

    const std::uint8_t* Data() const { return data_; }
    std::size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    std::size_t Capacity() const { return capacity_; }

    // Makes room for at least `capacity` bytes in all, keeping those held.
    // Throws std::bad_alloc when the memory cannot be had.
    void Reserve(std::size_t capacity);
    // Copies `size` bytes to the end, making room as needed.
    void Append(const std::uint8_t* data, std::size_t size);
    // The free room at the end; Commit(n) adds the first n bytes written
    // there (n at most Room()).
    std::uint8_t* Tail() { return data_ + size_; }
    std::size_t Room() const { return capacity_ - size_; }
    void Commit(std::size_t n) { size_ += n; }
    // Drops the first n bytes (n at most Size()); the rest move to the front.
    void Consume(std::size_t n);
    // Moves what it holds into a block of just that size.
    void Shrink();
    // Drops every byte and gives back the block.
    void Release();

private:
    // A block of at least `capacity` bytes; sets it to the block's size.
    static std::uint8_t* Allocate(std::size_t& capacity);
    static void Free(std::uint8_t* block, std::size_t capacity);
    void Move(std::size_t capacity);

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

} // namespace corvane
