#include "low_arena.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace varnu::hostkit {

LowArena::LowArena(std::size_t capacity) : capacity_(capacity) {
    void* p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (p == MAP_FAILED) {
        std::perror("LowArena: mmap(MAP_32BIT)");
        std::abort();
    }
    base_ = static_cast<std::uint8_t*>(p);
}

LowArena::~LowArena() {
    munmap(base_, capacity_);
}

void* LowArena::TryAllocate(std::size_t size) {
    const std::size_t start = (used_ + 15) & ~std::size_t{15};
    if (start > capacity_ || size > capacity_ - start) return nullptr;
    used_ = start + size;
    std::memset(base_ + start, 0, size);
    return base_ + start;
}

void* LowArena::Allocate(std::size_t size) {
    void* p = TryAllocate(size);
    if (p == nullptr) {
        std::fprintf(stderr, "LowArena: %zu bytes requested, %zu left\n", size, capacity_ - used_);
        std::abort();
    }
    return p;
}

void LowArena::Reset() {
    used_ = 0;
}

}  // namespace varnu::hostkit
