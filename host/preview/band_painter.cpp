#include "preview/band_painter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace varnu::preview {

namespace {

using Cell = BandPainter::Cell;

// The preview pixels an axis of `n` raster pixels covers: raster pixel k
// spans [o + d k p, o + d (k + 1) p). A preview pixel takes the raster
// pixels whose centres fall on it, or the one under its own centre when
// raster pixels are larger; the cells come in raster order.
std::vector<Cell> Cells(double o, int d, double p, long n, int limit) {
    std::vector<Cell> cells;
    const double a = o, b = o + d * p * n;
    if (!std::isfinite(a) || !std::isfinite(b)) return cells;
    // Clamped before the integer cast: a raster placed far off the sheet.
    const int from = static_cast<int>(std::clamp(std::floor(std::min(a, b)), 0.0, double(limit)));
    const int to = static_cast<int>(std::clamp(std::ceil(std::max(a, b)), 0.0, double(limit)));
    for (int c = from; c < to; ++c) {
        double u0 = (c - o) / (d * p), u1 = (c + 1 - o) / (d * p);
        if (u0 > u1) std::swap(u0, u1);
        long k0 = static_cast<long>(std::ceil(u0 - 0.5)),
             k1 = static_cast<long>(std::ceil(u1 - 0.5));
        if (k0 >= k1) k0 = static_cast<long>(std::floor((u0 + u1) / 2)), k1 = k0 + 1;
        k0 = std::clamp(k0, 0L, n), k1 = std::clamp(k1, 0L, n);
        const double cover =
            std::min(c + 1.0, std::max(a, b)) - std::max(double(c), std::min(a, b));
        if (k0 < k1) cells.push_back({c, static_cast<int>(k0), static_cast<int>(k1), cover});
    }
    if (d < 0) std::reverse(cells.begin(), cells.end());
    return cells;
}

// A raster byte as eight counters of a byte each, its first pixel in the
// word's first byte in memory: adding words counts eight pixels at once.
constexpr std::array<std::uint64_t, 256> kSpread = [] {
    std::array<std::uint64_t, 256> spread{};
    for (int b = 0; b < 256; ++b) {
        std::array<std::uint8_t, 8> lanes{};
        for (int j = 0; j < 8; ++j) lanes[j] = (b >> (7 - j)) & 1;
        spread[b] = std::bit_cast<std::uint64_t>(lanes);
    }
    return spread;
}();
// Rows a byte lane holds before it must be emptied.
constexpr int kLaneRows = 255;
// The largest table of levels kept for a preview pixel's black count.
constexpr long kMaxLut = 1 << 18;

}  // namespace

BandPainter::BandPainter(Sheet* sheet, const BandPlace& place, long width, long rows,
                         BandCarry* carry)
    : sheet_(sheet), carry_(carry), place_(place), width_(width) {
    const Point origin = sheet->At(place.x, place.y);
    const double p = place.pixel * sheet->Scale();
    opaque_ = place.opaque;
    across_ = !place.longEdge;
    if (across_) {  // pixels leftwards along x, rows up (preview y down)
        pixels_ = Cells(origin.x, -1, p, width, sheet->Width());
        rows_ = Cells(origin.y, -1, p, rows, sheet->Height());
    } else {  // rows rightwards along x, pixels up
        pixels_ = Cells(origin.y, -1, p, width, sheet->Height());
        rows_ = Cells(origin.x, 1, p, rows, sheet->Width());
    }
    // Preview pixels on the same raster pixels (a raster coarser than the
    // preview) share one count.
    for (std::size_t i = 0; i < pixels_.size(); ++i) {
        const Cell& c = pixels_[i];
        const bool same = i > 0 && c.k0 == pixels_[i - 1].k0;
        counted_.push_back(same ? counted_.back() : static_cast<int>(i));
        if (!same) firsts_.push_back(static_cast<int>(i)), spans_.push_back({c.k0, c.k1});
        across1_.push_back(1.0 / (c.k1 - c.k0));
        const auto na = std::find(nas_.begin(), nas_.end(), c.k1 - c.k0);
        naClass_.push_back(static_cast<int>(na - nas_.begin()));
        if (na == nas_.end()) nas_.push_back(c.k1 - c.k0);
    }
    for (std::size_t i = 0; i < pixels_.size(); ++i)
        if (pixels_[i].cover != 1.0) partial_.push_back(i);
    sums_.assign(pixels_.size(), 0);
    lanes_.assign((static_cast<std::size_t>(width) + 7) / 8 + 8, 0);
    TakeCarry();
}

void BandPainter::Row(long r, const std::uint8_t* bits, std::size_t bytes) {
    while (next_ < rows_.size() && rows_[next_].k1 <= r) ++next_;  // cells left behind
    if (next_ >= rows_.size() || r < rows_[next_].k0) return;
    Accumulate(bits, bytes);
    if (r + 1 < rows_[next_].k1) return;
    // The cell's last row: it and every cell on the same rows are done.
    const int k0 = rows_[next_].k0;
    const int count = rows_[next_].k1 - k0 + extraRows_;
    rows_[next_].cover = std::min(1.0, rows_[next_].cover + extraCover_);
    extraRows_ = 0, extraCover_ = 0;
    const bool alone = next_ + 1 == rows_.size() || rows_[next_ + 1].k0 != k0;
    if (!across_ && alone) {
        const Cell& cell = rows_[next_];
        if (const std::uint8_t* const* luts = Luts(count, cell.cover)) {
            QueueLevels(cell.at, count, luts);
            ++next_;
            return;
        }
    }
    Flush();
    if (next_ + 1 == rows_.size() && rows_[next_].cover < 1 - 1e-9 && Hold(rows_[next_], count))
        return;
    Chosen();
    while (next_ < rows_.size() && rows_[next_].k0 == k0) {
        const int at = rows_[next_].at;
        const double cover = rows_[next_++].cover;
        if (across_)
            PaintRow(at, count, cover);
        else
            QueueColumn(at, count, cover);
    }
    ClearSums();
}

// Adds the row's pixels to the byte lanes, skipping white words.
void BandPainter::Accumulate(const std::uint8_t* bits, std::size_t bytes) {
    for (std::size_t at = 0; at < bytes; at += 8) {
        std::uint64_t v;
        std::memcpy(&v, bits + at, 8);
        if (v == 0) continue;
        laneInk_ = true;
        const std::size_t end = std::min(bytes, at + 8);
        for (std::size_t j = at; j < end; ++j) lanes_[j] += kSpread[bits[j]];
    }
    if (++laneRows_ == kLaneRows) Flush();
}

// Sums the lanes into the preview pixels they fall on and empties them.
void BandPainter::Flush() {
    laneRows_ = 0;
    if (!laneInk_) return;
    laneInk_ = false;
    const std::uint8_t* lane = reinterpret_cast<const std::uint8_t*>(lanes_.data());
    for (std::size_t n = 0; n < firsts_.size(); ++n) {
        const auto [k0, k1] = spans_[n];
        std::uint32_t black = lane[k0];
        for (int k = k0 + 1; k < k1; ++k) black += lane[k];
        if (black == 0) continue;
        const int f = firsts_[n];
        if (sums_[f] == 0 && !opaque_) touched_.push_back(f);
        sums_[f] += black;
        summed_ = true;
    }
    std::fill(lanes_.begin(), lanes_.end(), 0);
}

// Empties the counts for the next preview row: an opaque band counted
// (nearly) everywhere, a transparent one where it lists.
void BandPainter::ClearSums() {
    if (opaque_) {
        std::fill(sums_.begin(), sums_.end(), 0);
    } else {
        for (const int t : touched_) sums_[t] = 0;
    }
    touched_.clear();
    summed_ = false;
}

// The preview pixels a finished row draws: all of them from an opaque
// band, else those that got black, in raster order.
void BandPainter::Chosen() {
    chosen_.clear();
    if (opaque_) return;
    std::sort(touched_.begin(), touched_.end());
    for (const int t : touched_)
        for (std::size_t i = t; i < pixels_.size() && counted_[i] == t; ++i) chosen_.push_back(i);
}

// The tables for an opaque finished row of `rows` raster rows, or none.
const std::uint8_t* const* BandPainter::Luts(int rows, double cover) {
    if (!opaque_ || cover != 1.0) return nullptr;
    for (const LutSet& set : luts_)
        if (set.rows == rows) return set.at.empty() ? nullptr : set.at.data();
    LutSet set{rows, {}, {}};
    const double down = 1.0 / rows;
    const bool small = std::all_of(nas_.begin(), nas_.end(),
                                   [&](int na) { return static_cast<long>(na) * rows <= kMaxLut; });
    for (std::size_t n = 0; small && n < nas_.size(); ++n) {
        // The same arithmetic as Mix on a pixel covered whole.
        const double across1 = 1.0 / nas_[n], part = 1.0;
        std::vector<std::uint8_t> levels(static_cast<std::size_t>(nas_[n]) * rows + 1);
        for (std::size_t black = 0; black < levels.size(); ++black) {
            const double share = static_cast<std::uint32_t>(black) * across1 * down * part;
            levels[black] = static_cast<std::uint8_t>(255.0 * share + 0 * (1 - part) + 0.5);
        }
        set.levels.push_back(std::move(levels));
    }
    for (const auto& levels : set.levels) set.at.push_back(levels.data());
    luts_.push_back(std::move(set));
    return luts_.back().at.empty() ? nullptr : luts_.back().at.data();
}

// A finished preview row across the sheet (`y`), a tile span at a time.
void BandPainter::PaintRow(int y, int rows, double cover) {
    const double down = 1.0 / rows;
    const std::uint8_t* const* luts = Luts(rows, cover);
    int tile = -1;
    std::uint8_t* span = nullptr;  // the tile's row, from its first pixel
    auto paint = [&](std::size_t i) {
        const int x = pixels_[i].at;
        if (x / Sheet::kTile != tile) {
            tile = x / Sheet::kTile;
            span = sheet_->Pixel(tile * Sheet::kTile, y);
        }
        std::uint8_t* ink = span + x % Sheet::kTile;
        *ink = Mix(*ink, i, sums_[counted_[i]], down, cover, luts);
    };
    if (opaque_) {
        for (std::size_t i = 0; i < pixels_.size(); ++i) paint(i);
    } else {
        for (const std::size_t i : chosen_) paint(i);
    }
}

// A finished preview column (along the long edge), kept until a block of
// them is written: written one by one, each would touch a cache line a pixel.
// Where the band is opaque and covers the preview pixel whole, its level
// goes by the table and waits as a level; the others wait as counts.
void BandPainter::QueueColumn(int x, int rows, double cover) {
    if (columns_.size() == kBlock) Finish();
    const std::uint8_t* const* luts = Luts(rows, cover);
    const std::size_t n = pixels_.size();
    columns_.push_back({x, rows, cover, waitingEnd_, waitingEnd_, luts != nullptr});
    auto wait = [&](std::size_t i) { Wait(i, sums_[counted_[i]]); };
    if (luts != nullptr) {
        if (levels_.size() < kBlock * n) levels_.resize(kBlock * n);
        std::uint8_t* level = levels_.data() + (columns_.size() - 1);
        for (std::size_t i = 0; i < n; ++i) {
            level[i * kBlock] = luts[naClass_[i]][sums_[counted_[i]]];
            if (pixels_[i].cover != 1.0) wait(i);
        }
    } else if (opaque_) {
        for (std::size_t i = 0; i < n; ++i) wait(i);
    } else {
        for (const std::size_t i : chosen_) wait(i);
    }
}

// An opaque preview column the band covers whole, straight from the lanes
// (and what an earlier flush or the last band counted): its levels by the
// table, the counts only of its part-covered preview pixels.
void BandPainter::QueueLevels(int x, int rows, const std::uint8_t* const* luts) {
    if (columns_.size() == kBlock) Finish();
    const std::size_t n = pixels_.size();
    columns_.push_back({x, rows, 1.0, waitingEnd_, waitingEnd_, true});
    if (levels_.size() < kBlock * n) levels_.resize(kBlock * n);
    std::uint8_t* level = levels_.data() + (columns_.size() - 1);  // every kBlock-th
    const std::uint8_t* lane = reinterpret_cast<const std::uint8_t*>(lanes_.data());
    const Cell* cell = pixels_.data();
    const int* na = naClass_.data();
    const std::uint32_t* prior = summed_ ? sums_.data() : nullptr;
    auto black = [&](std::size_t i) {
        std::uint32_t b = prior != nullptr ? prior[counted_[i]] : 0;
        for (int k = cell[i].k0; k < cell[i].k1; ++k) b += lane[k];
        return b;
    };
    if (prior == nullptr) {  // the usual case, kept tight: nothing else aliases
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t b = lane[cell[i].k0];
            for (int k = cell[i].k0 + 1; k < cell[i].k1; ++k) b += lane[k];
            level[i * kBlock] = luts[na[i]][b];
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) level[i * kBlock] = luts[na[i]][black(i)];
    }
    for (const std::size_t i : partial_) Wait(i, black(i));
    if (laneInk_) std::fill(lanes_.begin(), lanes_.end(), 0);
    laneInk_ = false, laneRows_ = 0;
    if (summed_) ClearSums();
}

void BandPainter::Wait(std::size_t i, std::uint32_t black) {
    if (waiting_.size() == waitingEnd_) waiting_.resize(2 * waitingEnd_ + pixels_.size());
    waiting_[waitingEnd_++] = {static_cast<std::uint32_t>(i), black};
}

void BandPainter::Finish() {
    if (columns_.empty()) return;
    FinishLevels();
    FinishCounts();
    columns_.clear();
    waitingEnd_ = 0;
}

// The levels waiting, a tile at a time and in it a row at a time: the
// block's levels of a preview pixel lie side by side, as the columns do
// when they follow each other.
void BandPainter::FinishLevels() {
    const std::size_t n = columns_.size(), cells = pixels_.size();
    for (std::size_t c0 = 0; c0 < n;) {  // columns in the same tile column
        const int tx = columns_[c0].x / Sheet::kTile;
        std::size_t c1 = c0;
        bool side = true;  // all with levels, one beside the other
        bool any = false;  // levels were kept for one of them at least
        for (; c1 < n && columns_[c1].x / Sheet::kTile == tx; ++c1) {
            side = side && columns_[c1].levels &&
                   columns_[c1].x == columns_[c0].x + static_cast<int>(c1 - c0);
            any = any || columns_[c1].levels;
        }
        if (!any) {
            c0 = c1;
            continue;
        }
        const int x0 = columns_[c0].x % Sheet::kTile;
        for (std::size_t i0 = 0; i0 < cells;) {  // preview pixels in the same tile row
            const int ty = pixels_[i0].at / Sheet::kTile;
            std::uint8_t* tile = sheet_->Pixel(tx * Sheet::kTile, ty * Sheet::kTile);
            for (; i0 < cells && pixels_[i0].at / Sheet::kTile == ty; ++i0) {
                if (pixels_[i0].cover != 1.0) continue;
                std::uint8_t* row = tile + (pixels_[i0].at % Sheet::kTile) * Sheet::kTile;
                const std::uint8_t* level = levels_.data() + i0 * kBlock;
                if (side) {
                    std::memcpy(row + x0, level + c0, c1 - c0);
                    continue;
                }
                for (std::size_t c = c0; c < c1; ++c)
                    if (columns_[c].levels) row[columns_[c].x % Sheet::kTile] = level[c];
            }
        }
        c0 = c1;
    }
}

// The counts waiting, a tile's height of the sheet at a time: each column's
// preview pixels run up the sheet, one tile row of it and then the next.
void BandPainter::FinishCounts() {
    const std::size_t n = columns_.size();
    columns_.push_back({0, 0, 0, waitingEnd_, waitingEnd_, false});  // where the last one ends
    for (bool more = n > 0; more;) {
        more = false;
        for (std::size_t c = 0; c < n; ++c) {
            Column& column = columns_[c];
            const std::size_t end = columns_[c + 1].from;
            std::size_t at = column.next;
            if (at == end) continue;
            const double down = 1.0 / column.rows;
            const std::uint8_t* const* luts = Luts(column.rows, column.cover);
            const int tile = pixels_[waiting_[at].first].at / Sheet::kTile;
            // The column in the tile, from the tile's first row.
            std::uint8_t* top = sheet_->Pixel(column.x, tile * Sheet::kTile);
            for (; at < end; ++at) {
                const auto [i, black] = waiting_[at];
                const int y = pixels_[i].at;
                if (y / Sheet::kTile != tile) break;
                std::uint8_t* ink = top + (y % Sheet::kTile) * Sheet::kTile;
                *ink = Mix(*ink, i, black, down, column.cover, luts);
            }
            column.next = at;
            more = more || at < end;
        }
    }
}

void BandPainter::Draw(const BandCarry& carry) {
    const double down = 1.0 / carry.rows;
    for (std::size_t i = 0; i < pixels_.size() && i < carry.black.size(); ++i)
        if (carry.black[i] != 0 || opaque_) {
            std::uint8_t* ink = across_ ? sheet_->Pixel(pixels_[i].at, carry.at)
                                        : sheet_->Pixel(carry.at, pixels_[i].at);
            *ink = Mix(*ink, i, carry.black[i], down, carry.cover, nullptr);
        }
}

bool BandPainter::Same(const BandPlace& a) const {
    return a.pixel == place_.pixel && a.longEdge == place_.longEdge && a.opaque == place_.opaque &&
           std::fabs((a.longEdge ? a.y : a.x) - (place_.longEdge ? place_.y : place_.x)) < 1e-6;
}

// The last band's part-covered preview pixels, when this band goes on from them.
void BandPainter::TakeCarry() {
    if (!carry_->held) return;
    if (rows_.empty() || carry_->width != width_ || !Same(carry_->place) ||
        rows_.front().at != carry_->at || carry_->black.size() != sums_.size()) {
        DrawCarry(carry_, sheet_);
        return;
    }
    // Each count goes back to the preview pixel that counts for it.
    for (std::size_t i = 0; i < sums_.size(); ++i)
        if (counted_[i] == static_cast<int>(i) && carry_->black[i] != 0) {
            sums_[i] = carry_->black[i];
            summed_ = true;
            touched_.push_back(static_cast<int>(i));
        }
    extraRows_ = carry_->rows, extraCover_ = carry_->cover;
    carry_->held = false;
}

// Keeps the last preview pixels for the next band instead of drawing them:
// their `rows` count those an earlier band carried in too.
bool BandPainter::Hold(const Cell& row, int rows) {
    *carry_ = {true, place_, width_, row.at, rows, row.cover, sums_};
    // Each preview pixel's count, also where preview pixels share raster pixels.
    for (std::size_t i = 0; i < sums_.size(); ++i) carry_->black[i] = sums_[counted_[i]];
    ++next_;
    ClearSums();
    return true;
}

}  // namespace varnu::preview
