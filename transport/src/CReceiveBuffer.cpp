#include "corvane/CReceiveBuffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace corvane {

namespace {

constexpr std::size_t kLargePage = 2u * 1024 * 1024;

std::size_t RoundUp(std::size_t value, std::size_t step)
{
    return (value + step - 1) / step * step;
}

// Maps `size` bytes (a multiple of kLargePage) at an address aligned to
// kLargePage: maps a large page more and unmaps the unaligned ends.
std::uint8_t* MapAligned(std::size_t size)
{
    void* raw = ::mmap(nullptr, size + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = RoundUp(start, kLargePage);
    if (aligned > start)
        ::munmap(raw, aligned - start);
    const std::uintptr_t end = start + size + kLargePage;
    if (end > aligned + size)
        ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    auto* block = reinterpret_cast<std::uint8_t*>(aligned);
    // Only advice: without large pages the block works the same.
    ::madvise(block, size, MADV_HUGEPAGE);
    return block;
}

} // namespace

CReceiveBuffer::~CReceiveBuffer()
{
    Free(data_, capacity_);
}

std::uint8_t* CReceiveBuffer::Allocate(std::size_t& capacity)
{
    if (capacity >= kMappedFrom) {
        capacity = RoundUp(capacity, kLargePage);
        return MapAligned(capacity);
    }
    auto* block = static_cast<std::uint8_t*>(std::malloc(capacity));
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void CReceiveBuffer::Free(std::uint8_t* block, std::size_t capacity)
{
    if (block == nullptr)
        return;
    if (capacity >= kMappedFrom)
        ::munmap(block, capacity);
    else
        std::free(block);
}

void CReceiveBuffer::Move(std::size_t capacity)
{
    std::uint8_t* block = capacity == 0 ? nullptr : Allocate(capacity);
    if (size_ > 0)
        std::memcpy(block, data_, size_);
    Free(data_, capacity_);
    data_ = block;
    capacity_ = capacity;
}

void CReceiveBuffer::Reserve(std::size_t capacity)
{
    if (capacity > capacity_)
        Move(capacity);
}

void CReceiveBuffer::Append(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    if (size_ + size > capacity_)
        Reserve(std::max(size_ + size, 2 * capacity_));
    std::memcpy(data_ + size_, data, size);
    size_ += size;
}

void CReceiveBuffer::Consume(std::size_t n)
{
    n = std::min(n, size_);
    size_ -= n;
    if (size_ > 0 && n > 0)
        std::memmove(data_, data_ + n, size_);
}

void CReceiveBuffer::Shrink()
{
    if (capacity_ != size_)
        Move(size_);
}

void CReceiveBuffer::Release()
{
    Free(data_, capacity_);
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}

} // namespace corvane
