#include "preview/raster.h"

#include <sys/mman.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace varnu::preview {

namespace {

// One preview pixel along an axis and the raster pixels that fall on it.
struct Cell {
    int at;      // preview pixel
    int k0, k1;  // raster pixels [k0, k1)
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
        if (k0 < k1) cells.push_back({c, static_cast<int>(k0), static_cast<int>(k1)});
    }
    if (d < 0) std::reverse(cells.begin(), cells.end());
    return cells;
}

// Black pixels among bits [k0, k1) of a row (first pixel in the top bit;
// the row has 8 readable bytes beyond its end).
int CountBlack(const std::uint8_t* row, int k0, int k1) {
    int count = 0;
    while (k0 < k1) {
        const int len = std::min(k1 - k0, 56);
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = v << 8 | row[k0 / 8 + i];
        count += std::popcount((v << (k0 % 8)) >> (64 - len));
        k0 += len;
    }
    return count;
}

// Rows of a band onto the sheet, a preview row (or column) at a time.
class BandPainter {
  public:
    BandPainter(Sheet* sheet, const BandPlace& place, long width, long rows) : sheet_(sheet) {
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
        sums_.assign(pixels_.size(), 0);
    }

    void Row(long r, const std::uint8_t* bits, std::size_t bytes) {
        while (next_ < rows_.size() && rows_[next_].k1 <= r) ++next_;  // cells left behind
        if (next_ >= rows_.size() || r < rows_[next_].k0) return;
        if (std::any_of(bits, bits + bytes, [](std::uint8_t b) { return b != 0; }))
            for (std::size_t i = 0; i < pixels_.size(); ++i)
                sums_[i] += CountBlack(bits, pixels_[i].k0, pixels_[i].k1);
        if (r + 1 < rows_[next_].k1) return;
        // The cell's last row: it and every cell on the same rows are drawn.
        const Cell done = rows_[next_];
        while (next_ < rows_.size() && rows_[next_].k0 == done.k0) Paint(rows_[next_++]);
        std::fill(sums_.begin(), sums_.end(), 0);
    }

  private:
    void Paint(const Cell& row) {
        const int rowsIn = row.k1 - row.k0;
        for (std::size_t i = 0; i < pixels_.size(); ++i) {
            const int n = (pixels_[i].k1 - pixels_[i].k0) * rowsIn;
            const std::uint32_t black = sums_[i];
            if (black == 0 && !opaque_) continue;
            std::uint8_t* ink = across_ ? sheet_->Pixel(pixels_[i].at, row.at)
                                        : sheet_->Pixel(row.at, pixels_[i].at);
            const std::uint32_t below = opaque_ ? 0 : *ink;
            *ink = static_cast<std::uint8_t>((255 * black + below * (n - black) + n / 2) / n);
        }
    }

    Sheet* sheet_;
    bool opaque_ = false, across_ = false;
    std::vector<Cell> pixels_, rows_;
    std::vector<std::uint32_t> sums_;
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

void DrawBand(Input& in, std::uint64_t start, std::uint64_t coded, long width, long rows,
              const BandPlace& place, Sheet* sheet,
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
    BandPainter painter(sheet, place, width, rows);
    const std::size_t bytes = static_cast<std::size_t>(width + 7) / 8;
    std::vector<std::uint8_t> row(bytes + 8, 0);
    long r = 0;
    for (; r < rows; ++r) {
        if (TIFFReadScanline(tif, row.data(), static_cast<std::uint32_t>(r), 0) < 0) break;
        if (observe) observe(static_cast<int>(r), row.data());
        painter.Row(r, row.data(), bytes);
    }
    TIFFClose(tif);  // closes fd
    if (r < rows) throw StreamError(start, "MMR band that does not decode to its header's size");
}

}  // namespace varnu::preview
