#include "preview/sheet.h"

#include <zstd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace varnu::preview {

namespace {

constexpr int kTileBytes = Sheet::kTile * Sheet::kTile;
// Open tiles at most: a memory budget (64 MiB) that holds some 18 inches of
// an E-size sheet's raster open at 400 dpi, which draws band after band
// along it; vectors wait for a closed tile rather than open it. Each page
// of it the kernel zeroes costs more than packing a tile.
constexpr std::size_t kOpenBytes = std::size_t{64} << 20;
// zstd for packed tiles: a fast level, each tile packed and unpacked about once.
constexpr int kPackLevel = -1;

}  // namespace

Sheet::Sheet(double width, double height, double scale) : Sheet(width, height, scale, kOpenBytes) {}

Sheet::Sheet(double width, double height, double scale, std::size_t openBytes)
    : width_(std::max(1, static_cast<int>(std::ceil(width * scale)))),
      height_(std::max(1, static_cast<int>(std::ceil(height * scale)))),
      tilesX_((width_ + kTile - 1) / kTile),
      tilesY_((height_ + kTile - 1) / kTile),
      scale_(scale),
      heightUnits_(height),
      tiles_(static_cast<std::size_t>(tilesX_) * tilesY_),
      maxOpen_(std::max(1, static_cast<int>(openBytes / kTileBytes))),
      arena_(kTileBytes, maxOpen_) {}

Sheet::~Sheet() {
    ZSTD_freeCCtx(packer_);
    ZSTD_freeDCtx(unpacker_);
    for (Tile& t : tiles_)
        if (t.surface != nullptr) cairo_surface_destroy(t.surface);
}

void Sheet::Unlink(int index) {
    Tile& t = tiles_[index];
    (t.prev >= 0 ? tiles_[t.prev].next : first_) = t.next;
    (t.next >= 0 ? tiles_[t.next].prev : last_) = t.prev;
    t.prev = t.next = -1;
}

Sheet::Tile& Sheet::Open(int index) {
    Tile& t = tiles_[index];
    if (t.open != nullptr) {
        if (first_ != index) {
            Unlink(index);
            t.next = first_;
            tiles_[first_].prev = index;
            first_ = index;
        }
        return t;
    }
    t.open = arena_.Take();
    if (t.packed.empty())
        std::memset(t.open, t.level, kTileBytes);
    else
        Unpack(t, t.open);
    t.packed = {};
    t.surface = cairo_image_surface_create_for_data(t.open, CAIRO_FORMAT_A8, kTile, kTile, kTile);
    if (!t.marks.empty()) {
        Replay(index, t.surface, t.marks.data(), t.marks.size());
        markBytes_ -= t.marks.size() * sizeof(Mark);
        std::vector<Mark>().swap(t.marks);
    }
    t.next = first_;
    if (first_ >= 0) tiles_[first_].prev = index;
    first_ = index;
    if (last_ < 0) last_ = index;
    if (++openCount_ > maxOpen_) Close(last_);
    return t;
}

// Packs the least recently drawn tile: one level when it is all one, else
// zstd (several times the speed of zlib's runs either way on averaged
// halftones, and smaller).
void Sheet::Close(int index) {
    Tile& t = tiles_[index];
    cairo_surface_destroy(t.surface);
    t.surface = nullptr;
    const std::uint8_t* data = t.open;
    if (std::all_of(data, data + kTileBytes, [&](std::uint8_t v) { return v == data[0]; })) {
        t.level = data[0];
    } else {
        if (packer_ == nullptr && (packer_ = ZSTD_createCCtx()) == nullptr) throw std::bad_alloc();
        scratch_.resize(ZSTD_compressBound(kTileBytes));
        const std::size_t n = ZSTD_compressCCtx(packer_, scratch_.data(), scratch_.size(), data,
                                                kTileBytes, kPackLevel);
        if (ZSTD_isError(n)) throw std::bad_alloc();
        t.packed.assign(scratch_.data(), scratch_.data() + n);
    }
    arena_.Give(t.open);
    t.open = nullptr;
    Unlink(index);
    --openCount_;
    if (cachedIndex_ == index) cachedIndex_ = -1;
}

void Sheet::Unpack(const Tile& tile, std::uint8_t* to) const {
    if (unpacker_ == nullptr && (unpacker_ = ZSTD_createDCtx()) == nullptr) throw std::bad_alloc();
    const std::size_t n =
        ZSTD_decompressDCtx(unpacker_, to, kTileBytes, tile.packed.data(), tile.packed.size());
    if (n != static_cast<std::size_t>(kTileBytes)) throw std::bad_alloc();
}

void Sheet::Reopen(int index) {
    Tile& t = Open(index);
    cairo_surface_mark_dirty(t.surface);
    cachedIndex_ = index;
    cachedData_ = t.open;
}

// Pixels the rectangle covers only in part take the level in that part.
void Sheet::FillRect(const Rect& area, std::uint8_t ink) {
    const Rect r = Intersect(area, Whole());
    if (Empty(r)) return;
    const int x0 = static_cast<int>(std::floor(r.x0)), x1 = static_cast<int>(std::ceil(r.x1));
    const int y0 = static_cast<int>(std::floor(r.y0)), y1 = static_cast<int>(std::ceil(r.y1));
    auto cover = [](int p, double lo, double hi) {
        return std::min(p + 1.0, hi) - std::max(double(p), lo);
    };
    for (int ty = y0 / kTile; ty <= (y1 - 1) / kTile; ++ty)
        for (int tx = x0 / kTile; tx <= (x1 - 1) / kTile; ++tx) {
            const int index = ty * tilesX_ + tx;
            const int cx0 = std::max(x0, tx * kTile), cx1 = std::min(x1, (tx + 1) * kTile);
            const int cy0 = std::max(y0, ty * kTile), cy1 = std::min(y1, (ty + 1) * kTile);
            const bool whole =
                cx0 > r.x0 - 1e-9 && cx1 < r.x1 + 1e-9 && cy0 > r.y0 - 1e-9 && cy1 < r.y1 + 1e-9;
            if (whole && cx1 - cx0 == kTile && cy1 - cy0 == kTile) {
                // A whole tile: one level, whatever it held.
                Tile& t = tiles_[index];
                if (t.open != nullptr) Close(index);
                t.packed = {};
                t.level = ink;
                markBytes_ -= t.marks.size() * sizeof(Mark);
                std::vector<Mark>().swap(t.marks);
                continue;
            }
            for (int y = cy0; y < cy1; ++y)
                for (int x = cx0; x < cx1; ++x) {
                    const double c = cover(x, r.x0, r.x1) * cover(y, r.y0, r.y1);
                    std::uint8_t* p = Pixel(x, y);
                    *p = static_cast<std::uint8_t>(ink * c + *p * (1 - c) + 0.5);
                }
        }
}

// Rows as grey (255 - ink), a tile row at a time.
void Sheet::ForEachRow(const std::function<void(const std::uint8_t* grey)>& row) const {
    std::vector<std::uint8_t> band(static_cast<std::size_t>(kTile) * tilesX_ * kTile);
    std::vector<std::uint8_t> unpacked(kTileBytes);
    const std::size_t stride = static_cast<std::size_t>(tilesX_) * kTile;
    for (int ty = 0; ty < tilesY_; ++ty) {
        for (int tx = 0; tx < tilesX_; ++tx) {
            const Tile& t = tiles_[ty * tilesX_ + tx];
            const std::uint8_t* data = t.open;
            if (data == nullptr && (!t.packed.empty() || !t.marks.empty())) {
                if (t.packed.empty())
                    std::memset(unpacked.data(), t.level, kTileBytes);
                else
                    Unpack(t, unpacked.data());
                if (!t.marks.empty()) {
                    cairo_surface_t* surface = cairo_image_surface_create_for_data(
                        unpacked.data(), CAIRO_FORMAT_A8, kTile, kTile, kTile);
                    Replay(ty * tilesX_ + tx, surface, t.marks.data(), t.marks.size());
                    cairo_surface_destroy(surface);
                }
                data = unpacked.data();
            }
            for (int r = 0; r < kTile; ++r) {
                std::uint8_t* to = band.data() + r * stride + tx * kTile;
                if (data == nullptr) {
                    std::memset(to, 255 - t.level, kTile);
                    continue;
                }
                for (int i = 0; i < kTile; i += 8) {  // 255 - v is v ^ 255
                    std::uint64_t v;
                    std::memcpy(&v, data + r * kTile + i, 8);
                    v = ~v;
                    std::memcpy(to + i, &v, 8);
                }
            }
        }
        for (int r = 0; r < kTile && ty * kTile + r < height_; ++r) row(band.data() + r * stride);
    }
}

}  // namespace varnu::preview
