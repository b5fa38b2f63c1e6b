#include "readers/cups_raster.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "model/fit.h"
#include "readers/cups_options.h"
#include "readers/cups_page.h"
#include "sinks/temporary.h"
#include "varnu/printer_tables.h"

namespace varnu::host {

namespace {

// A header field of an enumeration as the stream has it: any number, not
// only the enumeration's.
template <class E>
unsigned Raw(const E& field) {
    static_assert(sizeof(E) == sizeof(unsigned));
    unsigned v;
    std::memcpy(&v, &field, sizeof v);
    return v;
}

}  // namespace

RasterPages::~RasterPages() {
    if (raster_ != nullptr) cupsRasterClose(raster_);
}

bool RasterPages::Open(std::string* error) {
    if (raster_ != nullptr) cupsRasterClose(raster_);
    raster_ = cupsRasterOpen(fd_, CUPS_RASTER_READ);
    if (raster_ == nullptr) *error = "the input is not a CUPS raster stream";
    return raster_ != nullptr;
}

bool RasterPages::Next() {
    rows_.Start(1, {});  // the last page's rows let go
    if (!cupsRasterReadHeader2(raster_, &header_)) return false;
    ++page_;
    return true;
}

int RasterPages::Channels() const {
    const cups_page_header2_t& h = header_;
    if (h.cupsBitsPerColor != 8 || Raw(h.cupsColorOrder) != CUPS_ORDER_CHUNKED) return 0;
    switch (Raw(h.cupsColorSpace)) {
        case CUPS_CSPACE_W:
        case CUPS_CSPACE_SW:
        case CUPS_CSPACE_K:
            return 1;
        case CUPS_CSPACE_RGB:
        case CUPS_CSPACE_SRGB:
            return 3;
        default:
            return 0;
    }
}

bool RasterPages::Settings(int copies, ConfigureOptions* o, std::string* error) const {
    const cups_page_header2_t& h = header_;
    if (Channels() == 0 || h.cupsWidth == 0 || h.cupsHeight == 0 ||
        h.cupsBytesPerLine != std::uint64_t{h.cupsWidth} * static_cast<unsigned>(Channels())) {
        *error = "page " + std::to_string(page_) +
                 ": only 8-bit grey or RGB raster, chunked, is printed";
        return false;
    }
    return HeaderSettings(h, copies, "page " + std::to_string(page_), o, error);
}

// Fits the page from its header: the part of the raster that lands on the
// sheet, before a line is read.
bool RasterPages::Place(const Sheet& sheet, std::string* error) {
    const cups_page_header2_t& h = header_;
    const double dpi = h.HWResolution[0];
    const Area size{h.cupsWidth / dpi, h.cupsHeight / dpi};  // inches
    // The raster is the whole paper: what passes the sheet within the
    // margins, or the slack of the paper's choice, is cut.
    const unsigned marginField = h.cupsInteger[varnu::kMarginField];
    const double margin = (marginField > 0 ? marginField - 1 : 0) / 25.4;
    const auto fit = FitPage(size, sheet, {false, 1, true, margin + kSizeSlackPoints / 72 / 2});
    if (!fit) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "page %d (%.0f x %.0f mm) is larger than the sheet (%.0f x %.0f mm)", page_,
                      size.width * 25.4, size.height * 25.4, sheet.extentX * 25.4,
                      sheet.extentY * 25.4);
        *error = text;
        return false;
    }
    fit_ = *fit;
    // The sheet's x runs along the raster's rows, or down its columns when turned.
    const double cutColumns = fit_.turned ? fit_.cut.height : fit_.cut.width;
    const double cutRows = fit_.turned ? fit_.cut.width : fit_.cut.height;
    left_ = std::min<std::int64_t>(std::lround(cutColumns * dpi), (h.cupsWidth - 1) / 2);
    top_ = std::min<std::int64_t>(std::lround(cutRows * dpi), (h.cupsHeight - 1) / 2);
    keptColumns_ = h.cupsWidth - 2 * left_;
    keptRows_ = h.cupsHeight - 2 * top_;
    return true;
}

// Every line of the page, those that land on the sheet kept: in tiles of
// a strip's columns when the driver's lines will run down the raster.
bool RasterPages::ReadRows(bool down, const std::string& directory, std::string* error) {
    const cups_page_header2_t& h = header_;
    const int channels = Channels();
    rows_.Start(static_cast<std::size_t>(keptColumns_) * channels, directory,
                RowSpool::kMemoryBudget,
                down ? static_cast<std::size_t>(StripColumns() * channels) : 0);
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    const unsigned char* kept = line.data() + left_ * channels;
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
        if (cupsRasterReadPixels(raster_, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine) {
            *error = "the raster stream ends inside page " + std::to_string(page_) + " (line " +
                     std::to_string(y + 1) + " of " + std::to_string(h.cupsHeight) + ")";
            return false;
        }
        if (y >= top_ && y < top_ + keptRows_ && !rows_.Append(kept, error)) return false;
    }
    return rows_.Close(error);
}

bool RasterPages::ReadPage(const Sheet& sheet, const std::string& directory, Plot* plot,
                           std::string* error) {
    // The driver takes columns along a sheet's long edge, rows across it.
    const bool columns = sheet.extentX > sheet.extentY;
    if (!Place(sheet, error) || !ReadRows(fit_.turned != columns, directory, error)) return false;
    Picture picture;
    picture.width = static_cast<std::int32_t>(fit_.turned ? keptRows_ : keptColumns_);
    picture.height = static_cast<std::int32_t>(fit_.turned ? keptColumns_ : keptRows_);
    picture.hold = [this](bool column, std::int32_t index, Band* band, std::string* e) {
        return Hold(column, index, band, e);
    };
    picture.label = "page " + std::to_string(page_);
    *plot = Plot(picture.label);
    plot->DrawPicture(std::move(picture), fit_.placement);
    return true;
}

// Raster columns in a strip across every kept row: at most 64 MB.
std::int64_t RasterPages::StripColumns() const {
    constexpr std::int64_t kStripBytes = std::int64_t{64} << 20;
    return std::clamp<std::int64_t>(kStripBytes / (keptRows_ * Channels()), 1, keptColumns_);
}

// Line `index` of the picture from the kept rows: a block of them where
// the line is a raster row, else a strip of raster columns across every
// row, held column by column (a tile of each block, where they were kept
// in tiles).
bool RasterPages::Hold(bool column, std::int32_t index, Band* band, std::string* error) {
    const cups_page_header2_t& h = header_;
    const int channels = Channels();
    const PixelFormat format = channels == 3                            ? PixelFormat::Rgb
                               : Raw(h.cupsColorSpace) == CUPS_CSPACE_K ? PixelFormat::Ink
                                                                        : PixelFormat::Grey;
    const auto rowBytes = static_cast<std::ptrdiff_t>(rows_.rowBytes());
    const bool turned = fit_.turned;
    const std::uint8_t* block = nullptr;
    std::int64_t first = 0, count = 0;
    auto i32 = [](std::int64_t v) { return static_cast<std::int32_t>(v); };
    if (turned == column) {  // a raster row
        const std::int64_t row = turned ? keptRows_ - 1 - index : index;
        if (!rows_.Block(row, &block, &first, &count, error)) return false;
        // Turned, the picture's x runs up the raster's rows.
        if (turned) {
            *band = {block + (count - 1) * rowBytes, format, channels,   -rowBytes,
                     i32(keptRows_ - first - count), 0,      i32(count), i32(keptColumns_)};
        } else {
            *band = {block, format, rowBytes, 0, 0, i32(first), i32(keptColumns_), i32(count)};
        }
        return true;
    }
    // Raster columns [from, from + m): a tile, or else in the driver's
    // direction, rightwards along the raster's rows, upwards when turned.
    const bool tiled = rows_.tileBytes() < rows_.rowBytes();
    std::int64_t m = StripColumns();
    const std::int64_t from = tiled    ? index / m * m
                              : turned ? std::max<std::int64_t>(0, index - m + 1)
                                       : std::min<std::int64_t>(index, keptColumns_ - m);
    const auto tile = static_cast<std::size_t>(from / m);
    m = std::min(m, keptColumns_ - from);
    strip_.resize(static_cast<std::size_t>(m * keptRows_ * channels));
    for (std::int64_t r = 0; r < keptRows_; r += count) {
        if (tiled ? !rows_.Tile(r, tile, &block, &first, &count, error)
                  : !rows_.Block(r, &block, &first, &count, error))
            return false;
        if (!tiled) block += from * channels;
        const std::int64_t rowPixels = tiled ? m : keptColumns_;
        // Rows of rowPixels, m of each: transposed with the row length as m.
        for (std::int64_t c = 0; c < m; ++c) {
            std::uint8_t* to = &strip_[static_cast<std::size_t>((c * keptRows_ + r) * channels)];
            const std::uint8_t* px = block + c * channels;
            if (channels == 1) {
                for (std::int64_t k = 0; k < count; ++k) to[k] = px[k * rowPixels];
            } else {
                for (std::int64_t k = 0; k < count; ++k)
                    std::memcpy(to + 3 * k, px + 3 * k * rowPixels, 3);
            }
        }
    }
    const std::ptrdiff_t down = keptRows_ * channels;  // bytes a raster column
    // Unturned, a raster column is a picture column from the top; turned,
    // a picture row from the right.
    if (turned) {
        *band = {strip_.data() + (keptRows_ - 1) * channels,
                 format,
                 down,
                 -channels,
                 0,
                 i32(from),
                 i32(keptRows_),
                 i32(m)};
    } else {
        *band = {strip_.data(), format, channels, down, i32(from), 0, i32(m), i32(keptRows_)};
    }
    return true;
}

}  // namespace varnu::host
