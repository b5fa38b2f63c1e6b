// The sheet's vectors: strokes and polygons cut into what each tile draws,
// drawn at once on an open tile and kept as marks on any other.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "preview/sheet.h"

namespace varnu::preview {

namespace {

// Marks and styles waiting, at most, before every tile that has some is
// drawn: bounds memory whatever the drawing (20 bytes a piece in a tile).
constexpr std::size_t kMarkBytes = std::size_t{64} << 20;
// Marks of one tile at most before it is opened and drawn.
constexpr std::size_t kTileMarks = 8192;

bool Finite(const Point& p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// 1/256 pixels from `origin`, rounded to even as cairo rounds a coordinate
// to its fixed point, so a mark draws the pixels the coordinate would.
std::int32_t Fixed(double v, double origin) {
    return static_cast<std::int32_t>(std::nearbyint((v - origin) * 256));
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

// Starts a call's style; the marks waiting are drawn first when they are
// over their budget, and the styles forgotten when no mark waits.
std::uint32_t Sheet::AddStyle(Style style) {
    if (markBytes_ + styleBytes_ > kMarkBytes) DrawAllMarks();
    if (markBytes_ == 0) styles_.clear(), styleBytes_ = 0;
    styleBytes_ += sizeof(Style) + style.polygon.size() * sizeof(Point);
    styles_.push_back(std::move(style));
    return static_cast<std::uint32_t>(styles_.size() - 1);
}

void Sheet::DrawAllMarks() {
    for (std::size_t i = 0; i < tiles_.size(); ++i)
        if (!tiles_[i].marks.empty()) Open(static_cast<int>(i));
    cachedIndex_ = -1;
}

// Draws `marks` on tile `index` when it is open, or when its list is long;
// else keeps them for when it opens.
void Sheet::Draw(int index, const Mark* marks, std::size_t n) {
    Tile& t = tiles_[index];
    if (t.open == nullptr && t.marks.size() + n <= kTileMarks) {
        t.marks.insert(t.marks.end(), marks, marks + n);
        markBytes_ += n * sizeof(Mark);
        return;
    }
    cachedIndex_ = -1;
    Open(index);
    cairo_surface_mark_dirty(t.surface);
    Replay(index, t.surface, marks, n);
    cairo_surface_flush(t.surface);
}

namespace {

void StrokeMarks(cairo_t* cr, double width, std::uint8_t ink, const auto* marks, std::size_t n) {
    cairo_set_source_rgba(cr, 0, 0, 0, ink / 255.0);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_identity_matrix(cr);  // marks are in the tile's fixed point
    for (std::size_t k = 0; k < n; ++k) {
        if (!marks[k].joined) cairo_move_to(cr, marks[k].x0 / 256.0, marks[k].y0 / 256.0);
        cairo_line_to(cr, marks[k].x1 / 256.0, marks[k].y1 / 256.0);
    }
    cairo_stroke(cr);
}

void FillShape(cairo_t* cr, const std::vector<Point>& polygon, std::uint8_t ink, bool patterned,
               double dot, const std::array<std::uint16_t, 16>& cells) {
    cairo_move_to(cr, polygon[0].x, polygon[0].y);
    for (const Point& p : polygon) cairo_line_to(cr, p.x, p.y);
    cairo_close_path(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    if (!patterned) {
        cairo_set_source_rgba(cr, 0, 0, 0, ink / 255.0);
        cairo_fill(cr);
        return;
    }
    cairo_surface_t* cell = cairo_image_surface_create(CAIRO_FORMAT_A8, 16, 16);
    cairo_surface_flush(cell);
    unsigned char* data = cairo_image_surface_get_data(cell);
    const int stride = cairo_image_surface_get_stride(cell);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) data[r * stride + c] = (cells[r] >> (15 - c)) & 1 ? 255 : 0;
    cairo_surface_mark_dirty(cell);
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(cell);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
    cairo_matrix_t m;
    cairo_matrix_init_scale(&m, 1 / dot, 1 / dot);
    cairo_pattern_set_matrix(pattern, &m);
    cairo_set_source(cr, pattern);
    cairo_pattern_destroy(pattern);
    cairo_fill(cr);
    cairo_surface_destroy(cell);
}

}  // namespace

// Each call's marks on `surface`, tile `index`: translated to sheet pixels,
// clipped to the call's clip, as the call would have drawn them at once.
void Sheet::Replay(int index, cairo_surface_t* surface, const Mark* marks, std::size_t n) const {
    cairo_t* cr = cairo_create(surface);
    for (std::size_t i = 0; i < n;) {
        const Style& s = styles_[marks[i].style];
        std::size_t end = i + 1;
        while (end < n && marks[end].style == marks[i].style) ++end;
        cairo_save(cr);
        cairo_translate(cr, -(index % tilesX_) * kTile, -(index / tilesX_) * kTile);
        cairo_rectangle(cr, s.clip.x0, s.clip.y0, s.clip.x1 - s.clip.x0, s.clip.y1 - s.clip.y0);
        cairo_clip(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        if (s.polygon.empty())
            StrokeMarks(cr, s.width, s.ink, marks + i, end - i);
        else
            FillShape(cr, s.polygon, s.ink, s.patterned, s.dot, s.cell);
        cairo_restore(cr);
        i = end;
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
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
    if (touches.empty()) return;
    std::sort(touches.begin(), touches.end());
    const std::uint32_t style = AddStyle({visible, w, ink, false, 1, {}, {}});
    std::vector<Mark> marks;
    for (std::size_t i = 0; i < touches.size();) {
        const int index = touches[i].first;
        const double ox = (index % tilesX_) * kTile, oy = (index / tilesX_) * kTile;
        marks.clear();
        const Point* last = nullptr;
        for (; i < touches.size() && touches[i].first == index; ++i) {
            const auto& [p, q] = pieces[touches[i].second];
            const bool joined = last != nullptr && last->x == p.x && last->y == p.y;
            marks.push_back(
                {Fixed(p.x, ox), Fixed(p.y, oy), Fixed(q.x, ox), Fixed(q.y, oy), style, joined});
            last = &q;
        }
        Draw(index, marks.data(), marks.size());
    }
}

void Sheet::FillPolygon(const std::vector<Point>& points, const Fill& fill, const Rect& clip) {
    const Rect visible = Intersect(clip, Whole());
    if (points.size() < 3 || Empty(visible) || !std::all_of(points.begin(), points.end(), Finite))
        return;
    std::vector<Point> cut =
        ClipPolygon(points, {visible.x0 - 2, visible.y0 - 2, visible.x1 + 2, visible.y1 + 2});
    if (cut.size() < 3) return;
    Rect box{cut[0].x, cut[0].y, cut[0].x, cut[0].y};
    for (const Point& p : cut)
        box = {std::min(box.x0, p.x), std::min(box.y0, p.y), std::max(box.x1, p.x + 1),
               std::max(box.y1, p.y + 1)};
    const Rect area = Intersect(Intersect(box, visible), Whole());
    if (Empty(area)) return;
    Style style{visible, 0, fill.ink, fill.cell != nullptr, fill.dot, {}, std::move(cut)};
    if (fill.cell != nullptr) style.cell = *fill.cell;
    const Mark mark{0, 0, 0, 0, AddStyle(std::move(style)), 0};
    const int tx0 = static_cast<int>(area.x0) / kTile, ty0 = static_cast<int>(area.y0) / kTile;
    const int tx1 = (static_cast<int>(std::ceil(area.x1)) - 1) / kTile;
    const int ty1 = (static_cast<int>(std::ceil(area.y1)) - 1) / kTile;
    for (int ty = ty0; ty <= std::min(ty1, tilesY_ - 1); ++ty)
        for (int tx = tx0; tx <= std::min(tx1, tilesX_ - 1); ++tx)
            Draw(ty * tilesX_ + tx, &mark, 1);
}

}  // namespace varnu::preview
