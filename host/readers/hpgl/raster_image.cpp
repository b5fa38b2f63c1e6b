#include "readers/hpgl/raster_image.h"

#include <algorithm>
#include <cstring>

namespace varnu::host::hpgl {

namespace {

// Bytes a band of lines may take.
constexpr std::size_t kBandBytes = std::size_t{16} << 20;

std::size_t BytesOfRow(std::int32_t width, PixelKind kind) {
    const auto w = static_cast<std::size_t>(width);
    return kind == PixelKind::Mono ? (w + 7) / 8 : kind == PixelKind::Indexed ? w : 3 * w;
}

}  // namespace

RasterImage::RasterImage(std::int32_t width, PixelKind kind,
                         const std::array<std::array<std::uint8_t, 3>, 256>& palette)
    : width_(width),
      kind_(kind),
      rowBytes_(BytesOfRow(width, kind)),
      palette_(palette),
      zeros_(rowBytes_, 0) {}

void RasterImage::AddRow(const std::uint8_t* bytes) {
    const bool zero = std::all_of(bytes, bytes + rowBytes_, [](std::uint8_t b) { return b == 0; });
    if (zero) {
        rowAt_.push_back(-1);
        return;
    }
    if (!rowAt_.empty() && rowAt_.back() >= 0 &&
        std::memcmp(pool_.data() + rowAt_.back(), bytes, rowBytes_) == 0) {
        rowAt_.push_back(rowAt_.back());
        return;
    }
    rowAt_.push_back(static_cast<std::int64_t>(pool_.size()));
    pool_.insert(pool_.end(), bytes, bytes + rowBytes_);
}

void RasterImage::AddZeroRows(std::int64_t count) {
    rowAt_.insert(rowAt_.end(), static_cast<std::size_t>(count), -1);
}

bool RasterImage::SameKind(const RasterImage& next) const {
    return next.width_ == width_ && next.kind_ == kind_ && next.palette_ == palette_;
}

void RasterImage::Append(const RasterImage& next) {
    const auto base = static_cast<std::int64_t>(pool_.size());
    pool_.insert(pool_.end(), next.pool_.begin(), next.pool_.end());
    for (const std::int64_t at : next.rowAt_) rowAt_.push_back(at < 0 ? -1 : at + base);
}

const std::uint8_t* RasterImage::Row(std::int32_t row) const {
    const std::int64_t at = rowAt_[static_cast<std::size_t>(row)];
    return at < 0 ? zeros_.data() : pool_.data() + at;
}

void RasterImage::Expand(std::int32_t row, std::int32_t p0, std::int32_t n, std::uint8_t* out,
                         std::ptrdiff_t step) const {
    const std::uint8_t* bytes = Row(row);
    for (std::int32_t i = 0; i < n; ++i, out += step) {
        const std::int32_t p = p0 + i;
        switch (kind_) {
            case PixelKind::Mono:
                *out = (bytes[p >> 3] >> (7 - (p & 7))) & 1;
                break;
            case PixelKind::Indexed:
                std::memcpy(out, palette_[bytes[p]].data(), 3);
                break;
            case PixelKind::Rgb:
                std::memcpy(out, bytes + 3 * static_cast<std::size_t>(p), 3);
                break;
        }
    }
}

namespace {

// The band a picture is served from, and how its lines map to the image's.
struct Server {
    std::shared_ptr<const RasterImage> image;
    PictureWay way;
    std::size_t bytes = 1;  // a pixel
    std::vector<std::uint8_t> band;

    // The image's row and pixel of the full picture's column x and row y.
    std::int32_t ImageRow(std::int32_t x, std::int32_t y) const {
        const std::int32_t i = way.columnsAreRows ? x : y;
        const bool reversed = way.columnsAreRows ? way.columnsReversed : way.rowsReversed;
        return reversed ? image->rows() - 1 - i : i;
    }
    std::int32_t ImagePixel(std::int32_t x, std::int32_t y) const {
        const std::int32_t i = way.columnsAreRows ? y : x;
        const bool reversed = way.columnsAreRows ? way.rowsReversed : way.columnsReversed;
        return reversed ? image->width() - 1 - i : i;
    }
    bool Hold(bool column, std::int32_t index, Band* out);
};

// Lines first to first + k - 1 of the picture (columns when `column`),
// each `length` pixels, at band + line * lineStep + pixel * pixelStep.
bool Server::Hold(bool column, std::int32_t index, Band* out) {
    const std::int32_t length = column ? way.h : way.w, count = column ? way.w : way.h;
    const auto k = static_cast<std::int32_t>(
        std::clamp<std::size_t>(kBandBytes / (static_cast<std::size_t>(length) * bytes), 1, 256));
    const std::int32_t first = index / k * k, lines = std::min(k, count - first);
    band.resize(static_cast<std::size_t>(lines) * static_cast<std::size_t>(length) * bytes);
    const std::ptrdiff_t lineStep = static_cast<std::ptrdiff_t>(length * bytes);
    const auto pixelStep = static_cast<std::ptrdiff_t>(bytes);
    // Each line of the band either runs along one image row, or crosses
    // the image's rows: then each row gives a pixel to every line.
    const bool alongRow = column == way.columnsAreRows;
    for (std::int32_t l = 0; alongRow && l < lines; ++l) {
        const std::int32_t x = column ? way.x0 + first + l : way.x0,
                           y = column ? way.y0 : way.y0 + first + l;
        const std::int32_t r = ImageRow(x, y);
        const std::int32_t pa = ImagePixel(x, y), pb = column ? ImagePixel(x, y + length - 1)
                                                              : ImagePixel(x + length - 1, y);
        std::uint8_t* line = band.data() + l * lineStep;
        if (pa <= pb)
            image->Expand(r, pa, length, line, pixelStep);
        else
            image->Expand(r, pb, length, line + (length - 1) * pixelStep, -pixelStep);
    }
    for (std::int32_t i = 0; !alongRow && i < length; ++i) {
        const std::int32_t x = column ? way.x0 + first : way.x0 + i,
                           y = column ? way.y0 + i : way.y0 + first;
        const std::int32_t r = ImageRow(x, y);
        const std::int32_t pa = ImagePixel(x, y), pb = column ? ImagePixel(x + lines - 1, y)
                                                              : ImagePixel(x, y + lines - 1);
        std::uint8_t* at = band.data() + i * pixelStep;
        if (pa <= pb)
            image->Expand(r, pa, lines, at, lineStep);
        else
            image->Expand(r, pb, lines, at + (lines - 1) * lineStep, -lineStep);
    }
    *out = Band{};
    out->pixels = band.data();
    out->format = bytes == 1 ? PixelFormat::Bilevel : PixelFormat::Rgb;
    if (column) {  // columns held one after another
        out->step = lineStep, out->stride = pixelStep;
        out->x = first, out->y = 0, out->width = lines, out->height = way.h;
    } else {
        out->stride = lineStep, out->step = pixelStep;
        out->x = 0, out->y = first, out->width = way.w, out->height = lines;
    }
    return true;
}

}  // namespace

Picture RasterPicture(std::shared_ptr<const RasterImage> image, const PictureWay& way) {
    auto server = std::make_shared<Server>();
    server->bytes = image->kind() == PixelKind::Mono ? 1 : 3;
    server->image = std::move(image);
    server->way = way;
    Picture picture;
    picture.width = way.w;
    picture.height = way.h;
    picture.bilevel = server->bytes == 1;
    picture.hold = [server](bool column, std::int32_t index, Band* band, std::string*) {
        return server->Hold(column, index, band);
    };
    return picture;
}

}  // namespace varnu::host::hpgl
