// The sheet being printed, at the preview's dpi: ink levels (0 paper, 255
// black) in tiles of 256 x 256 pixels. A tile nothing touched is one level;
// tiles drawn on are kept open up to a memory budget, and the least recently
// drawn beyond it are packed (zstd), so memory stays bounded whatever the
// sheet's size. Vectors that reach a tile not open wait in its list of marks
// until raster, the rows or a long list open it, so a drawing all over the
// sheet does not pack and unpack tiles line after line.
#pragma once

#include <cairo.h>

#include <array>
#include <cstddef>
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

inline Rect Intersect(const Rect& a, const Rect& b) {
    return {a.x0 > b.x0 ? a.x0 : b.x0, a.y0 > b.y0 ? a.y0 : b.y0, a.x1 < b.x1 ? a.x1 : b.x1,
            a.y1 < b.y1 ? a.y1 : b.y1};
}
inline bool Empty(const Rect& r) {
    return !(r.x1 > r.x0) || !(r.y1 > r.y0);
}

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

    // Open tiles at most (`openBytes` of memory), for the tests.
    Sheet(double width, double height, double scale, std::size_t openBytes);

  private:
    // A piece of a stroke in a tile (1/256 pixels from the tile's corner, as
    // cairo rounds), or the tile's share of a filled polygon.
    struct Mark {
        std::int32_t x0, y0, x1, y1;
        std::uint32_t style : 31, joined : 1;  // joined: continues the last piece
    };
    // What one Stroke or FillPolygon draws with.
    struct Style {
        Rect clip;
        double width = 0;  // a stroke's
        std::uint8_t ink = 255;
        bool patterned = false;  // a polygon filled with `cell`
        double dot = 1;
        std::array<std::uint16_t, 16> cell{};
        std::vector<Point> polygon;  // none for a stroke
    };
    struct Tile {
        std::uint8_t* open = nullptr;  // or packed, or neither
        std::vector<std::uint8_t> packed;
        std::uint8_t level = 0;   // when neither
        std::vector<Mark> marks;  // waiting to be drawn, when not open
        cairo_surface_t* surface = nullptr;
        int prev = -1, next = -1;  // the list of open tiles, most recent first
    };
    Tile& Open(int index);
    void Reopen(int index);
    void Close(int index);
    void Unlink(int index);
    void Unpack(const Tile& tile, std::uint8_t* to) const;
    // Vectors (sheet_vectors.cpp).
    std::uint32_t AddStyle(Style style);
    void Draw(int index, const Mark* marks, std::size_t n);
    void Replay(int index, cairo_surface_t* surface, const Mark* marks, std::size_t n) const;
    void DrawAllMarks();

    int width_, height_, tilesX_, tilesY_;
    double scale_, heightUnits_;
    mutable std::vector<Tile> tiles_;
    int first_ = -1, last_ = -1, openCount_ = 0, maxOpen_;
    std::vector<Style> styles_;
    std::size_t markBytes_ = 0, styleBytes_ = 0;  // the marks waiting, their styles
    TileArena arena_;
    std::vector<std::uint8_t> scratch_;
    ZSTD_CCtx_s* packer_ = nullptr;
    mutable ZSTD_DCtx_s* unpacker_ = nullptr;
    int cachedIndex_ = -1;
    std::uint8_t* cachedData_ = nullptr;
};

}  // namespace varnu::preview
