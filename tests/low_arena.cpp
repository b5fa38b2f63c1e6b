#include "low_arena.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace varnu::testing {

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

void* LowArena::Allocate(std::size_t size) {
    const std::size_t start = (used_ + 15) & ~std::size_t{15};
    if (start + size > capacity_) {
        std::fprintf(stderr, "LowArena: %zu bytes requested, %zu left\n", size, capacity_ - start);
        std::abort();
    }
    used_ = start + size;
    std::memset(base_ + start, 0, size);
    return base_ + start;
}

void LowArena::Reset() {
    used_ = 0;
}

}  // namespace varnu::testing
