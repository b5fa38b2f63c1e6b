// An HP-RTL raster image as its rows arrive: rows held packed as the file
// gives them (a bit a pixel for one-bit images), a run of equal rows held
// once, and served to the driver as a picture of the sheet a band of lines
// at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/plot.h"

namespace varnu::host::hpgl {

enum class PixelKind {
    Mono,     // a bit a pixel, 1 black
    Indexed,  // a byte a pixel, through the palette
    Rgb,      // three bytes a pixel
};

class RasterImage {
  public:
    RasterImage(std::int32_t width, PixelKind kind,
                const std::array<std::array<std::uint8_t, 3>, 256>& palette);

    std::int32_t width() const { return width_; }
    std::int32_t rows() const { return static_cast<std::int32_t>(rowAt_.size()); }
    PixelKind kind() const { return kind_; }
    std::size_t RowBytes() const { return rowBytes_; }
    // Bytes held for the rows.
    std::size_t HeldBytes() const { return pool_.size() + rowAt_.size() * sizeof(std::int64_t); }

    // A row of RowBytes() bytes; one equal to the row before is not held again.
    void AddRow(const std::uint8_t* bytes);
    // The last row again.
    void RepeatRow() { rowAt_.push_back(rowAt_.back()); }
    // Rows of zeros (skipped rows).
    void AddZeroRows(std::int64_t count);
    // The rows of `next`, of the same width and kind, after these.
    void Append(const RasterImage& next);
    // Whether `next` can go on after these rows.
    bool SameKind(const RasterImage& next) const;

    // Pixels p0 to p0 + n - 1 of `row`, a byte each (1 black) for Mono and
    // three (RGB) otherwise, pixel p0 + i at out + i * step.
    void Expand(std::int32_t row, std::int32_t p0, std::int32_t n, std::uint8_t* out,
                std::ptrdiff_t step) const;

  private:
    const std::uint8_t* Row(std::int32_t row) const;

    std::int32_t width_;
    PixelKind kind_;
    std::size_t rowBytes_;
    std::array<std::array<std::uint8_t, 3>, 256> palette_;
    std::vector<std::int64_t> rowAt_;  // into pool_; -1 for a row of zeros
    std::vector<std::uint8_t> pool_;
    std::vector<std::uint8_t> zeros_;
};

// How the image lies on the sheet: the picture's columns (left to right)
// are the image's rows or its pixels, either way round, and its rows (top
// to bottom) the other; only the part from (x0, y0), w x h, is served.
struct PictureWay {
    bool columnsAreRows = false;
    bool columnsReversed = false, rowsReversed = false;
    std::int32_t x0 = 0, y0 = 0, w = 0, h = 0;
};

// The picture the driver draws.
Picture RasterPicture(std::shared_ptr<const RasterImage> image, const PictureWay& way);

}  // namespace varnu::host::hpgl
