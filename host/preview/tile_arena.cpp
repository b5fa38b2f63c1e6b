#include "preview/tile_arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>
#include <system_error>

namespace varnu::preview {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// How far ahead of the tiles taken the pages are touched.
constexpr std::size_t kAhead = 4 * kHugePage;

}  // namespace

TileArena::TileArena(std::size_t tileBytes, int tiles) : tileBytes_(tileBytes), tiles_(tiles) {}

TileArena::~TileArena() {
    if (populator_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wanted_.notify_all();
        populator_.join();
    }
    if (mapping_ != nullptr) munmap(mapping_, tileBytes_ * (tiles_ + 1) + kHugePage);
}

void TileArena::Reserve() {
    const std::size_t bytes = tileBytes_ * (tiles_ + 1);
    void* at = mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                    -1, 0);
    if (at == MAP_FAILED) throw std::bad_alloc();
    mapping_ = at;
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(at);
    start_ = static_cast<std::uint8_t*>(at) + (-address & (kHugePage - 1));
    madvise(start_, bytes, MADV_HUGEPAGE);  // a hint: no harm when refused
    spare_.reserve(static_cast<std::size_t>(tiles_) + 1);
    try {
        populator_ = std::thread([this] { Populate(); });
    } catch (const std::system_error&) {
        // No thread: each page is zeroed when a tile first touches it.
    }
}

std::uint8_t* TileArena::Take() {
    if (!spare_.empty()) {
        std::uint8_t* tile = spare_.back();
        spare_.pop_back();
        return tile;
    }
    if (mapping_ == nullptr) Reserve();
    if (taken_ > tiles_) throw std::bad_alloc();
    std::uint8_t* tile = start_ + tileBytes_ * static_cast<std::size_t>(taken_++);
    const std::size_t want =
        std::min(tileBytes_ * static_cast<std::size_t>(taken_) + kAhead, tileBytes_ * (tiles_ + 1));
    if (populator_.joinable() && want >= want_ + kHugePage) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            want_ = want;
        }
        wanted_.notify_one();
    }
    return tile;
}

// Touches the pages up to `want_` a huge page at a time. Populating leaves
// what a tile already wrote as it is, so it may run beside the drawing;
// a kernel without it refuses, and the tiles' own writes fault as before.
void TileArena::Populate() {
    std::size_t done = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wanted_.wait(lock, [&] { return stopping_ || want_ > done; });
        if (stopping_) return;
        const std::size_t to = want_;
        lock.unlock();
        for (; done < to; done += kHugePage)
            if (madvise(start_ + done, std::min(kHugePage, to - done), MADV_POPULATE_WRITE) != 0) {
                done = tileBytes_ * (tiles_ + 1);  // refused: leave the rest to the tiles
                break;
            }
        lock.lock();
    }
}

}  // namespace varnu::preview
