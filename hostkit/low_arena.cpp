#include "low_arena.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace varnu::hostkit {

#ifdef _WIN32

// Windows has no "somewhere below 4 GiB": the first free fixed address of a
// few well below it.
LowArena::LowArena(std::size_t capacity) : capacity_(capacity) {
    for (std::uintptr_t at = 0x40000000; at < 0xC0000000 && base_ == nullptr; at += 0x10000000)
        base_ = static_cast<std::uint8_t*>(VirtualAlloc(reinterpret_cast<void*>(at), capacity,
                                                        MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base_ == nullptr) {
        std::fputs("LowArena: no free block below 4 GiB\n", stderr);
        std::abort();
    }
}

LowArena::~LowArena() {
    VirtualFree(base_, 0, MEM_RELEASE);
}

#else

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

#endif

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
