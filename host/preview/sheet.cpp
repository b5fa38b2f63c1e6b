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
// Open tiles at most: a memory budget (176 MiB) that holds most of a sheet
// at 400 dpi open, so packing is rare, and bounds the longest at 600 dpi.
constexpr std::size_t kOpenBytes = std::size_t{176} << 20;
constexpr int kMaxOpen = static_cast<int>(kOpenBytes / kTileBytes);
// zstd for packed tiles: a fast level, each tile packed and unpacked about once.
constexpr int kPackLevel = -1;

Rect Intersect(const Rect& a, const Rect& b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}
bool Empty(const Rect& r) {
    return !(r.x1 > r.x0) || !(r.y1 > r.y0);
}
bool Finite(const Point& p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// Cuts the segment a-b to `r`; false when nothing lies inside.
bool ClipSegment(Point& a, Point& b, const Rect& r) {
    double t0 = 0, t1 = 1;
    if (!SegmentInside(a, b, r, &t0, &t1)) return false;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const Point start{a.x + t0 * dx, a.y + t0 * dy};
    b = {a.x + t1 * dx, a.y + t1 * dy};
    a = start;
    return true;
}

// The polygon cut to `r` edge by edge (Sutherland-Hodgman), which keeps
// every point inside `r` in or out of the polygon as it was.
std::vector<Point> ClipPolygon(std::vector<Point> points, const Rect& r) {
    for (int side = 0; side < 4 && !points.empty(); ++side) {
        auto inside = [&](const Point& p) {
            switch (side) {
                case 0:
                    return p.x >= r.x0;
                case 1:
                    return p.x <= r.x1;
                case 2:
                    return p.y >= r.y0;
                default:
                    return p.y <= r.y1;
            }
        };
        auto cross = [&](const Point& a, const Point& b) {
            const double edge = side == 0 ? r.x0 : side == 1 ? r.x1 : side == 2 ? r.y0 : r.y1;
            const double t = side < 2 ? (edge - a.x) / (b.x - a.x) : (edge - a.y) / (b.y - a.y);
            return Point{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
        };
        std::vector<Point> out;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const Point& a = points[i];
            const Point& b = points[(i + 1) % points.size()];
            if (inside(a)) out.push_back(a);
            if (inside(a) != inside(b)) out.push_back(cross(a, b));
        }
        points = std::move(out);
    }
    return points;
}

}  // namespace

bool SegmentInside(const Point& a, const Point& b, const Rect& r, double* t0, double* t1) {
    *t0 = 0, *t1 = 1;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x - r.x0, r.x1 - a.x, a.y - r.y0, r.y1 - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            *t0 = std::max(*t0, t);
        else
            *t1 = std::min(*t1, t);
        if (*t0 > *t1) return false;
    }
    return true;
}

Sheet::Sheet(double width, double height, double scale)
    : width_(std::max(1, static_cast<int>(std::ceil(width * scale)))),
      height_(std::max(1, static_cast<int>(std::ceil(height * scale)))),
      tilesX_((width_ + kTile - 1) / kTile),
      tilesY_((height_ + kTile - 1) / kTile),
      scale_(scale),
      heightUnits_(height),
      tiles_(static_cast<std::size_t>(tilesX_) * tilesY_),
      arena_(kTileBytes, kMaxOpen) {}

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
    t.next = first_;
    if (first_ >= 0) tiles_[first_].prev = index;
    first_ = index;
    if (last_ < 0) last_ = index;
    if (++openCount_ > kMaxOpen) Close(last_);
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

// Calls `draw` with a cairo context on tile `index`, translated to sheet
// pixels and clipped to `clip`.
void Sheet::DrawTile(int index, const Rect& clip, const std::function<void(cairo_t*)>& draw) {
    cachedIndex_ = -1;
    Tile& t = Open(index);
    cairo_surface_mark_dirty(t.surface);
    cairo_t* cr = cairo_create(t.surface);
    cairo_translate(cr, -(index % tilesX_) * kTile, -(index / tilesX_) * kTile);
    cairo_rectangle(cr, clip.x0, clip.y0, clip.x1 - clip.x0, clip.y1 - clip.y0);
    cairo_clip(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(t.surface);
}

// The same on every tile that `box` touches.
void Sheet::Tiles(const Rect& box, const Rect& clip, const std::function<void(cairo_t*)>& draw) {
    const Rect area = Intersect(Intersect(box, clip), Whole());
    if (Empty(area)) return;
    const int tx0 = static_cast<int>(area.x0) / kTile, ty0 = static_cast<int>(area.y0) / kTile;
    const int tx1 = (static_cast<int>(std::ceil(area.x1)) - 1) / kTile;
    const int ty1 = (static_cast<int>(std::ceil(area.y1)) - 1) / kTile;
    for (int ty = ty0; ty <= std::min(ty1, tilesY_ - 1); ++ty)
        for (int tx = tx0; tx <= std::min(tx1, tilesX_ - 1); ++tx)
            DrawTile(ty * tilesX_ + tx, clip, draw);
}

void Sheet::Stroke(const std::vector<Point>& points, double width, std::uint8_t ink,
                   const Rect& clip) {
    const double w = std::clamp(width, 0.5, 1e5), reach = w / 2 + 2;
    const Rect visible = Intersect(clip, Whole());
    if (points.size() < 2 || Empty(visible)) return;
    const Rect reached{visible.x0 - reach, visible.y0 - reach, visible.x1 + reach,
                       visible.y1 + reach};
    // Pieces of at most a tile's length, each listed with the tiles it touches.
    std::vector<std::pair<Point, Point>> pieces;
    std::vector<std::pair<int, int>> touches;  // tile, piece
    for (std::size_t i = 1; i < points.size(); ++i) {
        Point a = points[i - 1], b = points[i];
        if (!Finite(a) || !Finite(b) || !ClipSegment(a, b, reached)) continue;
        const int n = std::max(1, static_cast<int>(std::hypot(b.x - a.x, b.y - a.y) / kTile) + 1);
        for (int k = 0; k < n; ++k) {
            const Point p{a.x + (b.x - a.x) * k / n, a.y + (b.y - a.y) * k / n};
            const Point q{a.x + (b.x - a.x) * (k + 1) / n, a.y + (b.y - a.y) * (k + 1) / n};
            const Rect box = Intersect({std::min(p.x, q.x) - reach, std::min(p.y, q.y) - reach,
                                        std::max(p.x, q.x) + reach, std::max(p.y, q.y) + reach},
                                       visible);
            if (Empty(box)) continue;
            const int piece = static_cast<int>(pieces.size());
            pieces.push_back({p, q});
            for (int ty = static_cast<int>(box.y0) / kTile; ty <= static_cast<int>(box.y1) / kTile;
                 ++ty)
                for (int tx = static_cast<int>(box.x0) / kTile;
                     tx <= static_cast<int>(box.x1) / kTile; ++tx)
                    if (tx < tilesX_ && ty < tilesY_) touches.push_back({ty * tilesX_ + tx, piece});
        }
    }
    std::sort(touches.begin(), touches.end());
    for (std::size_t i = 0; i < touches.size();) {
        std::size_t end = i;
        while (end < touches.size() && touches[end].first == touches[i].first) ++end;
        DrawTile(touches[i].first, visible, [&](cairo_t* cr) {
            cairo_set_source_rgba(cr, 0, 0, 0, ink / 255.0);
            cairo_set_line_width(cr, w);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
            const Point* last = nullptr;
            for (std::size_t k = i; k < end; ++k) {
                const auto& [p, q] = pieces[touches[k].second];
                if (last == nullptr || last->x != p.x || last->y != p.y)
                    cairo_move_to(cr, p.x, p.y);
                cairo_line_to(cr, q.x, q.y);
                last = &pieces[touches[k].second].second;
            }
            cairo_stroke(cr);
        });
        i = end;
    }
}

void Sheet::FillPolygon(const std::vector<Point>& points, const Fill& fill, const Rect& clip) {
    const Rect visible = Intersect(clip, Whole());
    if (points.size() < 3 || Empty(visible) || !std::all_of(points.begin(), points.end(), Finite))
        return;
    const std::vector<Point> cut =
        ClipPolygon(points, {visible.x0 - 2, visible.y0 - 2, visible.x1 + 2, visible.y1 + 2});
    if (cut.size() < 3) return;
    Rect box{cut[0].x, cut[0].y, cut[0].x, cut[0].y};
    for (const Point& p : cut)
        box = {std::min(box.x0, p.x), std::min(box.y0, p.y), std::max(box.x1, p.x + 1),
               std::max(box.y1, p.y + 1)};
    cairo_surface_t* cell = nullptr;
    if (fill.cell != nullptr) {
        cell = cairo_image_surface_create(CAIRO_FORMAT_A8, 16, 16);
        cairo_surface_flush(cell);
        unsigned char* data = cairo_image_surface_get_data(cell);
        const int stride = cairo_image_surface_get_stride(cell);
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 16; ++c)
                data[r * stride + c] = ((*fill.cell)[r] >> (15 - c)) & 1 ? 255 : 0;
        cairo_surface_mark_dirty(cell);
    }
    Tiles(box, visible, [&](cairo_t* cr) {
        cairo_move_to(cr, cut[0].x, cut[0].y);
        for (const Point& p : cut) cairo_line_to(cr, p.x, p.y);
        cairo_close_path(cr);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        if (cell == nullptr) {
            cairo_set_source_rgba(cr, 0, 0, 0, fill.ink / 255.0);
        } else {
            cairo_pattern_t* pattern = cairo_pattern_create_for_surface(cell);
            cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
            cairo_matrix_t m;
            cairo_matrix_init_scale(&m, 1 / fill.dot, 1 / fill.dot);
            cairo_pattern_set_matrix(pattern, &m);
            cairo_set_source(cr, pattern);
            cairo_pattern_destroy(pattern);
        }
        cairo_fill(cr);
    });
    if (cell != nullptr) cairo_surface_destroy(cell);
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
                if (tiles_[index].open != nullptr) Close(index);
                tiles_[index].packed = {};
                tiles_[index].level = ink;
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
            if (data == nullptr && !t.packed.empty()) {
                Unpack(t, unpacked.data());
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
