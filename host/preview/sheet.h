// The sheet being printed, at the preview's dpi: ink levels (0 paper, 255
// black) in tiles of 256 x 256 pixels. A tile nothing touched is one level;
// tiles drawn on are kept open up to a memory budget, and the least recently
// drawn beyond it are packed (zstd), so memory stays bounded whatever the
// sheet's size.
#pragma once

#include <cairo.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "preview/tile_arena.h"

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;

namespace varnu::preview {

struct Point {
    double x, y;  // preview pixels, y downward
};

struct Rect {
    double x0, y0, x1, y1;  // preview pixels
};

// The part of segment a-b inside `r` as fractions [t0, t1] of it
// (Liang-Barsky); false when nothing lies inside.
bool SegmentInside(const Point& a, const Point& b, const Rect& r, double* t0, double* t1);

// How a fill paints: one ink level, or a 16 x 16 cell of device dots
// (bit set = ink) repeated from the sheet's origin every `dot` pixels.
struct Fill {
    std::uint8_t ink = 255;
    const std::array<std::uint16_t, 16>* cell = nullptr;
    double dot = 1;
};

class Sheet {
  public:
    static constexpr int kTile = 256;

    // A sheet of `width` x `height` device units at `scale` preview pixels a unit.
    Sheet(double width, double height, double scale);
    ~Sheet();
    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    double Scale() const { return scale_; }
    // Device units (y upward) to preview pixels (y downward).
    Point At(double x, double y) const { return {x * scale_, (heightUnits_ - y) * scale_}; }
    Rect Whole() const { return {0, 0, double(width_), double(height_)}; }

    // A solid polyline of `width` pixels with round ends and joins, cut to `clip`.
    void Stroke(const std::vector<Point>& points, double width, std::uint8_t ink, const Rect& clip);
    // A polygon filled by the even-odd rule, cut to `clip`.
    void FillPolygon(const std::vector<Point>& points, const Fill& fill, const Rect& clip);
    // A rectangle of one ink level, in whole pixels.
    void FillRect(const Rect& area, std::uint8_t ink);
    // The pixel at (x, y) for raster drawing; the pointer holds until the next call.
    std::uint8_t* Pixel(int x, int y) {
        const int index = (y / kTile) * tilesX_ + x / kTile;
        if (index != cachedIndex_) Reopen(index);
        return cachedData_ + (y % kTile) * kTile + x % kTile;
    }

    // The sheet's rows top to bottom, grey (0 black, 255 white).
    void ForEachRow(const std::function<void(const std::uint8_t* grey)>& row) const;

  private:
    struct Tile {
        std::uint8_t* open = nullptr;  // or packed, or neither
        std::vector<std::uint8_t> packed;
        std::uint8_t level = 0;  // when neither
        cairo_surface_t* surface = nullptr;
        int prev = -1, next = -1;  // the list of open tiles, most recent first
    };
    Tile& Open(int index);
    void Reopen(int index);
    void Close(int index);
    void Unlink(int index);
    void DrawTile(int index, const Rect& clip, const std::function<void(cairo_t*)>& draw);
    void Tiles(const Rect& box, const Rect& clip, const std::function<void(cairo_t*)>& draw);
    void Unpack(const Tile& tile, std::uint8_t* to) const;

    int width_, height_, tilesX_, tilesY_;
    double scale_, heightUnits_;
    mutable std::vector<Tile> tiles_;
    int first_ = -1, last_ = -1, openCount_ = 0;
    TileArena arena_;
    std::vector<std::uint8_t> scratch_;
    ZSTD_CCtx_s* packer_ = nullptr;
    mutable ZSTD_DCtx_s* unpacker_ = nullptr;
    int cachedIndex_ = -1;
    std::uint8_t* cachedData_ = nullptr;
};

}  // namespace varnu::preview
