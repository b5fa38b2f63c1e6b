#include "preview/raster.h"

#include <sys/mman.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "preview/band_painter.h"
#include "preview/row_decoder.h"
#include "sinks/mmr_rows.h"

namespace varnu::preview {

namespace {

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

// The band's data from the input into an unnamed file behind room for its
// TIFF head.
int SpoolBand(Input& in, std::uint64_t start, std::uint64_t coded) {
    const int fd = memfd_create("band", 0);
    if (fd < 0) throw StreamError(start, "no room for a raster band");
    const std::uint8_t head[kHeadBytes] = {};
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

// The rows the spooled band holds before its end of block, at most `limit`.
long CountRows(int fd, std::uint64_t start, std::uint64_t coded, long width, long limit) {
    if (coded == 0) return 0;
    const std::size_t length = kHeadBytes + coded;
    void* map = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
        close(fd);
        throw StreamError(start, "no room for a raster band");
    }
    const long rows =
        host::CountMmrRows(static_cast<const std::uint8_t*>(map) + kHeadBytes, coded, width, limit);
    munmap(map, length);
    if (rows < 0) {
        close(fd);
        throw StreamError(start, "MMR band whose codes are not rows of its width");
    }
    return rows;
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

long DrawBand(Input& in, std::uint64_t start, std::uint64_t coded, const BandShape& shape,
              const BandPlace& place, Sheet* sheet, BandCarry* carry,
              const std::function<void(long rows, int row, const std::uint8_t* bits)>& observe) {
    const long width = shape.width;
    long rows = shape.rows;
    if (width <= 0 || rows <= 0 || width > (1 << 17) || rows > (1 << 24))
        throw StreamError(start, "raster band of " + std::to_string(width) + " x " +
                                     std::to_string(rows) + " pixels");
    if (shape.shown <= 0 || shape.shown > width)
        throw StreamError(start, "raster band narrower than its raster");
    if (coded > kMaxBandBytes)
        throw StreamError(
            start, "raster band of " + std::to_string(coded) + " bytes, more than a band can code");
    // Every coded row takes at least one bit.
    if (!shape.upTo && static_cast<std::uint64_t>(rows) > 8 * coded + 64)
        throw StreamError(start, "raster band with more rows than its data can code");
    const int fd = SpoolBand(in, start, coded);
    if (shape.upTo) rows = CountRows(fd, start, coded, width, rows);
    if (rows == 0) {
        close(fd);
        return 0;
    }
    std::uint8_t head[kHeadBytes];
    TiffHead(head, width, rows, coded);
    if (pwrite(fd, head, kHeadBytes, 0) != static_cast<ssize_t>(kHeadBytes)) {
        close(fd);
        throw StreamError(start, "no room for a raster band");
    }
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    lseek(fd, 0, SEEK_SET);
    TIFF* tif = TIFFFdOpen(fd, "band", "r");
    if (tif == nullptr) {
        close(fd);
        throw StreamError(start, "MMR band that does not decode to its header's size");
    }
    long r = 0;
    try {
        BandPainter painter(sheet, place, shape.shown, rows, carry);
        const std::size_t bytes = static_cast<std::size_t>(width + 7) / 8;
        const std::size_t shown = static_cast<std::size_t>(shape.shown + 7) / 8;
        RowDecoder decoder(tif, rows, bytes);
        for (const std::uint8_t* row; r < rows && (row = decoder.Next()) != nullptr; ++r) {
            if (observe) observe(rows, static_cast<int>(r), row);
            painter.Row(r, row, shown);
        }
        painter.Finish();
    } catch (...) {
        TIFFClose(tif);
        throw;
    }
    TIFFClose(tif);  // closes fd
    if (r < rows) throw StreamError(start, "MMR band that does not decode to its header's size");
    return rows;
}

}  // namespace varnu::preview
