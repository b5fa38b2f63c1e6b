// Memory below 4 GiB for everything a host hands the driver by a 4-byte
// address (vertex arrays, row replies, pixel lines).
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnu::hostkit {

// Bump allocation from one block below 4 GiB (MAP_32BIT on Linux, a fixed
// address on Windows); Reset() gives it all back.
class LowArena {
  public:
    explicit LowArena(std::size_t capacity = std::size_t{64} << 20);
    ~LowArena();
    LowArena(const LowArena&) = delete;
    LowArena& operator=(const LowArena&) = delete;

    // Zero-filled, 16-byte aligned; nullptr when the arena is exhausted.
    void* TryAllocate(std::size_t size);
    // As TryAllocate, but aborts the program when exhausted (tests, benchmarks).
    void* Allocate(std::size_t size);
    void Reset();
    // What is in use now; ReleaseTo(mark) gives back everything allocated since.
    std::size_t Mark() const { return used_; }
    void ReleaseTo(std::size_t mark) {
        if (mark < used_) used_ = mark;
    }
    const void* base() const { return base_; }

  private:
    std::uint8_t* base_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
};

}  // namespace varnu::hostkit
