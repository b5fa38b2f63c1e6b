#include "model/bands.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace varnu::host {

PictureBands::Pixels::~Pixels() {
    std::free(words_);
}

std::uint32_t* PictureBands::Pixels::Hold(std::size_t words) {
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    const std::size_t bytes = (4 * words + kLargePage - 1) / kLargePage * kLargePage;
    if (bytes <= bytes_) return words_;
    std::free(words_);
    words_ = nullptr, bytes_ = 0;
    // From the heap, which may give back what the page's reading freed.
    void* area = std::aligned_alloc(kLargePage, bytes);
    if (area == nullptr) return nullptr;
#ifdef MADV_HUGEPAGE
    madvise(area, bytes, MADV_HUGEPAGE);  // a hint: without it, pages of 4 KB
#endif
    words_ = static_cast<std::uint32_t*>(area), bytes_ = bytes;
    return words_;
}

PictureBands::PictureBands(const Picture& source, std::size_t bandBytes)
    : source_(source), bandBytes_(bandBytes) {}

PictureBands::~PictureBands() {
    Finish();
}

void PictureBands::Finish() {
    if (worker_.joinable()) worker_.join();
}

// The band from line `index` on in the direction the driver goes: rows
// run upwards, columns rightwards.
void PictureBands::Place(Buffer& buffer, bool column, std::int32_t index) const {
    const std::size_t lineBytes =
        4 * static_cast<std::size_t>(column ? source_.height : source_.width);
    const auto lines = static_cast<std::int32_t>(std::max<std::size_t>(1, bandBytes_ / lineBytes));
    Band& band = buffer.band;
    band = Band{};
    if (column) {
        band.x = index, band.y = 0, band.height = source_.height;
        band.width = std::min(lines, source_.width - index);
    } else {
        band.x = 0, band.width = source_.width;
        band.height = std::min(lines, index + 1);
        band.y = index + 1 - band.height;
    }
    band.format = PixelFormat::Rgb24;
    // Columns drawn as rows where the picture can (the band mirrored on
    // its diagonal: a pixel's right neighbour a column further on): a
    // column read down a band of rows is a cache miss a pixel, and a
    // tall narrow band is slow to draw.
    buffer.columns = column && source_.renderColumns;
    band.step = buffer.columns ? 4 * static_cast<std::ptrdiff_t>(band.height) : 4;
    band.stride = buffer.columns ? 4 : 4 * static_cast<std::ptrdiff_t>(band.width);
}

void PictureBands::Render(Buffer& buffer) {
    Band& band = buffer.band;
    const std::size_t size = static_cast<std::size_t>(band.width) * band.height;
    buffer.error.clear();
    std::uint32_t* pixels = buffer.pixels.Hold(size);
    if (pixels == nullptr) {
        buffer.ok = false;
        buffer.error = "no memory left for a band of the picture";
        return;
    }
    if (!source_.opaque) std::fill_n(pixels, size, 0xFFFFFF);
    band.pixels = reinterpret_cast<const std::uint8_t*>(pixels);
    buffer.ok = buffer.columns ? source_.renderColumns(band.x, band.width, pixels, &buffer.error)
                               : source_.render(band.x, band.y, band.width, band.height, pixels,
                                                &buffer.error);
}

bool PictureBands::Hold(bool column, std::int32_t index, Band* band, std::string* error) {
    Finish();
    const int next = held_ < 0 ? 0 : 1 - held_;
    Buffer& buffer = buffers_[next];
    const Band& a = buffer.band;
    const bool planned =
        planned_ && plannedColumn_ == column &&
        (column ? index >= a.x && index < a.x + a.width : index >= a.y && index < a.y + a.height);
    if (!planned) Place(buffer, column, index);
    if (!planned || !drawnAhead_) Render(buffer);
    planned_ = drawnAhead_ = false;
    held_ = next;
    if (!buffer.ok) {
        *error = buffer.error;
        return false;
    }
    *band = buffer.band;
    // The band after it is the next one held if it holds the line asked
    // next, drawn ahead on a second thread where the picture allows.
    const std::int32_t following = column ? a.x + a.width : a.y - 1;
    if (following < 0 || following >= (column ? source_.width : source_.height)) return true;
    Buffer& other = buffers_[1 - held_];
    Place(other, column, following);
    planned_ = true;
    plannedColumn_ = column;
    if (!source_.renderAhead) return true;
    try {
        worker_ = std::thread([this, &other] { Render(other); });
        drawnAhead_ = true;
    } catch (const std::system_error&) {
    }  // no thread: drawn when it is asked for
    return true;
}

}  // namespace varnu::host
