#include "preview/raster.h"

#include <sys/mman.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace varnu::preview {

namespace {

// One preview pixel along an axis and the raster pixels that fall on it.
struct Cell {
    int at;        // preview pixel
    int k0, k1;    // raster pixels [k0, k1)
    double cover;  // how much of the preview pixel the band covers, 0 to 1
};

// The preview pixels an axis of `n` raster pixels covers: raster pixel k
// spans [o + d k p, o + d (k + 1) p). A preview pixel takes the raster
// pixels whose centres fall on it, or the one under its own centre when
// raster pixels are larger; the cells come in raster order.
std::vector<Cell> Cells(double o, int d, double p, long n, int limit) {
    std::vector<Cell> cells;
    const double a = o, b = o + d * p * n;
    const int from = std::max(0, static_cast<int>(std::floor(std::min(a, b))));
    const int to = std::min(limit, static_cast<int>(std::ceil(std::max(a, b))));
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

// Rows of a band onto the sheet. Black pixels are counted where they are
// (white runs cost a test every 64 pixels) into the preview pixel each
// falls on, and a transparent band draws only the preview pixels that got
// black: the work follows the ink, not the band's size. Along the long
// edge a preview pixel's rows make a column of the sheet: 16 columns are
// drawn together, a tile's height at a time.
class BandPainter {
  public:
    BandPainter(Sheet* sheet, const BandPlace& place, long width, long rows, BandCarry* carry)
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
        // Which preview pixel each raster pixel counts for; preview pixels
        // on the same raster pixels (a raster coarser than the preview) share.
        cellOf_.assign(static_cast<std::size_t>(width) + 64, -1);
        for (std::size_t i = 0; i < pixels_.size(); ++i) {
            const Cell& c = pixels_[i];
            const bool same = i > 0 && c.k0 == pixels_[i - 1].k0;
            counted_.push_back(same ? counted_.back() : static_cast<int>(i));
            if (!same)
                for (int k = c.k0; k < c.k1; ++k) cellOf_[k] = static_cast<int>(i);
            across1_.push_back(1.0 / (c.k1 - c.k0));
        }
        sums_.assign(pixels_.size(), 0);
        TakeCarry();
    }

    void Row(long r, const std::uint8_t* bits, std::size_t bytes) {
        while (next_ < rows_.size() && rows_[next_].k1 <= r) ++next_;  // cells left behind
        if (next_ >= rows_.size() || r < rows_[next_].k0) return;
        Count(bits, bytes);
        if (r + 1 < rows_[next_].k1) return;
        // The cell's last row: it and every cell on the same rows are done.
        // A transparent band draws only the preview pixels that got black.
        const int k0 = rows_[next_].k0;
        const double down = 1.0 / (rows_[next_].k1 - k0 + extraRows_);
        rows_[next_].cover = std::min(1.0, rows_[next_].cover + extraCover_);
        extraRows_ = 0, extraCover_ = 0;
        if (next_ + 1 == rows_.size() && rows_[next_].cover < 1 - 1e-9 && Hold(rows_[next_]))
            return;
        cells_.clear();
        if (opaque_) {
            for (std::size_t i = 0; i < pixels_.size(); ++i) cells_.push_back(i);
        } else {
            std::sort(touched_.begin(), touched_.end());
            for (const int t : touched_)
                for (std::size_t i = t; i < pixels_.size() && counted_[i] == t; ++i)
                    cells_.push_back(i);
        }
        while (next_ < rows_.size() && rows_[next_].k0 == k0) {
            const int at = rows_[next_].at;
            const double cover = rows_[next_++].cover;
            if (across_) {
                for (std::size_t i : cells_)
                    Paint(sheet_->Pixel(pixels_[i].at, at), i, sums_[counted_[i]], down, cover);
            } else {
                columns_.push_back({at, down, cover, waiting_.size()});
                for (std::size_t i : cells_)
                    waiting_.push_back({static_cast<std::uint32_t>(i), sums_[counted_[i]]});
            }
        }
        for (const int t : touched_) sums_[t] = 0;
        touched_.clear();
        if (columns_.size() >= kBlock) Finish();
    }

    // A carried preview row (or column) by itself.
    void Draw(const BandCarry& carry) {
        const double down = 1.0 / carry.rows;
        for (std::size_t i = 0; i < pixels_.size() && i < carry.black.size(); ++i)
            if (carry.black[i] != 0 || opaque_)
                Paint(across_ ? sheet_->Pixel(pixels_[i].at, carry.at)
                              : sheet_->Pixel(carry.at, pixels_[i].at),
                      i, carry.black[i], down, carry.cover);
    }

    // The columns waiting, a tile's height of the sheet at a time.
    void Finish() {
        columns_.push_back({0, 0, 0, waiting_.size()});  // where the last one ends
        const std::size_t n = columns_.size() - 1;
        std::vector<std::size_t> at(n);
        for (std::size_t c = 0; c < n; ++c) at[c] = columns_[c].from;
        for (bool more = n > 0; more;) {
            more = false;
            for (std::size_t c = 0; c < n; ++c) {
                const std::size_t end = columns_[c + 1].from;
                if (at[c] == end) continue;
                // Cells run up the sheet: one tile row of the column, then the next.
                const int tile = pixels_[waiting_[at[c]].first].at / Sheet::kTile;
                for (; at[c] < end; ++at[c]) {
                    const auto [i, black] = waiting_[at[c]];
                    if (pixels_[i].at / Sheet::kTile != tile) break;
                    Paint(sheet_->Pixel(columns_[c].x, pixels_[i].at), i, black, columns_[c].down,
                          columns_[c].cover);
                }
                more = more || at[c] < end;
            }
        }
        columns_.clear();
        waiting_.clear();
    }

  private:
    bool Same(const BandPlace& a) const {
        return a.pixel == place_.pixel && a.longEdge == place_.longEdge &&
               a.opaque == place_.opaque &&
               std::fabs((a.longEdge ? a.y : a.x) - (place_.longEdge ? place_.y : place_.x)) < 1e-6;
    }
    // The last band's part-covered preview pixels, when this band goes on from them.
    void TakeCarry() {
        if (!carry_->held) return;
        if (rows_.empty() || carry_->width != width_ || !Same(carry_->place) ||
            rows_.front().at != carry_->at || carry_->black.size() != sums_.size()) {
            DrawCarry(carry_, sheet_);
            return;
        }
        sums_ = carry_->black;
        for (std::size_t i = 0; i < sums_.size(); ++i)
            if (sums_[i] != 0) touched_.push_back(static_cast<int>(i));
        extraRows_ = carry_->rows, extraCover_ = carry_->cover;
        carry_->held = false;
    }
    // Keeps the last preview pixels for the next band instead of drawing them.
    bool Hold(const Cell& row) {
        *carry_ = {true, place_, width_, row.at, row.k1 - row.k0, row.cover, sums_};
        // Each preview pixel's count, also where preview pixels share raster pixels.
        for (std::size_t i = 0; i < sums_.size(); ++i) carry_->black[i] = sums_[counted_[i]];
        ++next_;
        for (const int t : touched_) sums_[t] = 0;
        touched_.clear();
        return true;
    }

    static constexpr std::size_t kBlock = 16;
    struct Column {
        int x;
        double down;       // 1 / raster rows in it
        double cover;      // how much of it the band covers
        std::size_t from;  // its first preview pixel in waiting_
    };

    // Adds the row's black pixels to the preview pixels they fall on.
    void Count(const std::uint8_t* bits, std::size_t bytes) {
        for (std::size_t at = 0; at < bytes; at += 8) {
            std::uint64_t v;
            std::memcpy(&v, bits + at, 8);
            if (v == 0) continue;
            if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
            while (v != 0) {
                const int z = __builtin_clzll(v);
                v &= ~(std::uint64_t{1} << (63 - z));
                const int cell = cellOf_[at * 8 + z];
                if (cell < 0) continue;
                if (sums_[cell]++ == 0) touched_.push_back(cell);
            }
        }
    }

    // The preview pixel from the black pixels of its cell, as much of it as
    // the band covers (a band's edge may end inside a preview pixel).
    void Paint(std::uint8_t* ink, std::size_t i, std::uint32_t black, double down, double cover) {
        const double part = cover * pixels_[i].cover;
        const double share = black * across1_[i] * down * part;
        *ink =
            static_cast<std::uint8_t>(255.0 * share + *ink * (1 - (opaque_ ? part : share)) + 0.5);
    }

    Sheet* sheet_;
    BandCarry* carry_;
    BandPlace place_;
    long width_;
    int extraRows_ = 0;  // the carried rows of the first preview pixel
    double extraCover_ = 0;
    bool opaque_ = false, across_ = false;
    std::vector<Cell> pixels_, rows_;
    std::vector<int> cellOf_, counted_, touched_;
    std::vector<double> across1_;      // 1 / raster pixels across each preview pixel
    std::vector<std::uint32_t> sums_;  // black pixels of each preview pixel so far
    std::vector<Column> columns_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> waiting_;  // preview pixel, black
    std::vector<std::size_t> cells_;
    std::size_t next_ = 0;
};

void Put16(std::uint8_t* at, unsigned v) {
    at[0] = v & 255, at[1] = v >> 8;
}
void Put32(std::uint8_t* at, std::uint32_t v) {
    Put16(at, v & 0xFFFF), Put16(at + 2, v >> 16);
}

// A little-endian TIFF of one Group 4 strip that starts right after it.
constexpr std::size_t kHeadBytes = 8 + 2 + 9 * 12 + 4;
void TiffHead(std::uint8_t* head, long width, long rows, std::uint64_t coded) {
    std::memset(head, 0, kHeadBytes);
    head[0] = head[1] = 'I';
    Put16(head + 2, 42);
    Put32(head + 4, 8);
    Put16(head + 8, 9);
    const std::uint32_t tags[9][3] = {{256, 4, std::uint32_t(width)},
                                      {257, 4, std::uint32_t(rows)},
                                      {258, 3, 1},
                                      {259, 3, 4},
                                      {262, 3, 0},
                                      {273, 4, kHeadBytes},
                                      {277, 3, 1},
                                      {278, 4, std::uint32_t(rows)},
                                      {279, 4, std::uint32_t(coded)}};
    for (int i = 0; i < 9; ++i) {
        std::uint8_t* e = head + 10 + 12 * i;
        Put16(e, tags[i][0]);
        Put16(e + 2, tags[i][1]);
        Put32(e + 4, 1);
        if (tags[i][1] == 3)
            Put16(e + 8, tags[i][2]);
        else
            Put32(e + 8, tags[i][2]);
    }
}

// The band's data from the input into an unnamed file behind its TIFF head.
int SpoolBand(Input& in, std::uint64_t start, std::uint64_t coded, long width, long rows) {
    const int fd = memfd_create("band", 0);
    if (fd < 0) throw StreamError(start, "no room for a raster band");
    std::uint8_t head[kHeadBytes];
    TiffHead(head, width, rows, coded);
    bool ok = write(fd, head, kHeadBytes) == static_cast<ssize_t>(kHeadBytes);
    std::vector<char> chunk(1 << 16);
    for (std::uint64_t left = coded; ok && left > 0;) {
        const std::size_t got = in.Read(chunk.data(), std::min<std::uint64_t>(left, chunk.size()));
        if (got == 0) {
            close(fd);
            throw StreamError(in.Offset(), "stream ends inside raster data");
        }
        ok = write(fd, chunk.data(), got) == static_cast<ssize_t>(got);
        left -= got;
    }
    if (!ok) {
        close(fd);
        throw StreamError(start, "no room for a raster band");
    }
    return fd;
}

}  // namespace

void DrawCarry(BandCarry* carry, Sheet* sheet) {
    if (!carry->held) return;
    carry->held = false;
    BandPlace place = carry->place;
    BandCarry none;
    BandPainter painter(sheet, place, carry->width, 1, &none);
    painter.Draw(*carry);
}

void DrawBand(Input& in, std::uint64_t start, std::uint64_t coded, long width, long rows,
              const BandPlace& place, Sheet* sheet, BandCarry* carry,
              const std::function<void(int row, const std::uint8_t* bits)>& observe) {
    if (width <= 0 || rows <= 0 || width > (1 << 17) || rows > (1 << 24))
        throw StreamError(start, "raster band of " + std::to_string(width) + " x " +
                                     std::to_string(rows) + " pixels");
    // Every coded row takes at least one bit.
    if (static_cast<std::uint64_t>(rows) > 8 * coded + 64)
        throw StreamError(start, "raster band with more rows than its data can code");
    if (coded > kMaxBandBytes)
        throw StreamError(
            start, "raster band of " + std::to_string(coded) + " bytes, more than a band can code");
    const int fd = SpoolBand(in, start, coded, width, rows);
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    lseek(fd, 0, SEEK_SET);
    TIFF* tif = TIFFFdOpen(fd, "band", "r");
    if (tif == nullptr) {
        close(fd);
        throw StreamError(start, "MMR band that does not decode to its header's size");
    }
    BandPainter painter(sheet, place, width, rows, carry);
    const std::size_t bytes = static_cast<std::size_t>(width + 7) / 8;
    std::vector<std::uint8_t> row(bytes + 8, 0);
    long r = 0;
    for (; r < rows; ++r) {
        if (TIFFReadScanline(tif, row.data(), static_cast<std::uint32_t>(r), 0) < 0) break;
        if (observe) observe(static_cast<int>(r), row.data());
        painter.Row(r, row.data(), bytes);
    }
    painter.Finish();
    TIFFClose(tif);  // closes fd
    if (r < rows) throw StreamError(start, "MMR band that does not decode to its header's size");
}

}  // namespace varnu::preview
