// Memory for the sheet's open tiles: one reserved stretch of huge pages (a
// page fault each rather than 512 a tile), taken as tiles open and kept for
// the next ones. The kernel zeroes each page as it is first touched; a
// thread of the arena's own touches them a few pages ahead of the tiles
// taking them, so drawing does not wait for it, and pages no tile will take
// are never touched.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace varnu::preview {

class TileArena {
  public:
    // Room for `tiles` of `tileBytes` (a tile more: one opens before the
    // oldest closes).
    TileArena(std::size_t tileBytes, int tiles);
    ~TileArena();
    TileArena(const TileArena&) = delete;
    TileArena& operator=(const TileArena&) = delete;

    // A tile's memory, its contents undefined; throws std::bad_alloc when
    // all are taken or none can be reserved.
    std::uint8_t* Take();
    void Give(std::uint8_t* tile) { spare_.push_back(tile); }

  private:
    void Reserve();
    void Populate();

    const std::size_t tileBytes_;
    const int tiles_;
    void* mapping_ = nullptr;
    std::uint8_t* start_ = nullptr;
    int taken_ = 0;
    std::vector<std::uint8_t*> spare_;

    std::mutex mutex_;
    std::condition_variable wanted_;
    std::size_t want_ = 0;  // bytes from `start_` to have touched
    bool stopping_ = false;
    std::thread populator_;
};

}  // namespace varnu::preview
