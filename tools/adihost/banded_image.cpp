#include "adihost/banded_image.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "adihost/host.h"
#include "varnu/adi_abi.h"
#include "varnu/byte_order.h"
#include "varnu/config_record.h"

namespace adihost {

namespace {

using varnu::HostAddress;
using varnu::LoadLe;
using varnu::StoreLe;

// The picture the driver is drawing and the band of it we hold.
struct Drawing {
    const BandedPicture* picture = nullptr;
    Placement placement{};
    std::int32_t bandX = 0, bandY = 0, bandW = 0, bandH = 0;  // empty: bandW == 0
    std::vector<std::uint32_t> band;                          // 0x00RRGGBB
    bool failed = false;
    std::string error;
    bool progress = false;
    int shownPercent = -1;
};
Drawing Current;

// Low memory for the reply and one line, kept from picture to picture.
std::uint8_t* Reply = nullptr;
std::uint8_t* Line = nullptr;
std::size_t LineCapacity = 0;

void ShowProgress(std::int32_t done, std::int32_t total) {
    if (!Current.progress || total <= 0) return;
    const int percent = static_cast<int>(100LL * done / total);
    if (percent == Current.shownPercent) return;
    Current.shownPercent = percent;
    std::fprintf(stderr, "\r%s %3d%% [%-40.*s]", Current.picture->progressLabel.c_str(), percent,
                 percent * 40 / 100, "########################################");
    if (percent >= 100) std::fputs("\n", stderr);
}

void* Fail(const std::string& message) {
    if (!Current.failed) Current.error = message;
    Current.failed = true;
    StoreLe<std::int16_t>(Reply, 14, 1);
    return Reply;
}

// Makes the band hold picture row y (rows run upwards) or column x (columns
// run rightwards), rendering the next band in the direction the driver goes.
bool HoldLine(bool column, std::int32_t index) {
    const BandedPicture& pic = *Current.picture;
    if (column
            ? (Current.bandW > 0 && index >= Current.bandX && index < Current.bandX + Current.bandW)
            : (Current.bandW > 0 && index >= Current.bandY &&
               index < Current.bandY + Current.bandH))
        return true;
    const std::size_t lineBytes = 4 * static_cast<std::size_t>(column ? pic.height : pic.width);
    const auto lines = static_cast<std::int32_t>(std::max<std::size_t>(1, kBandBytes / lineBytes));
    if (column) {
        Current.bandX = index, Current.bandY = 0, Current.bandH = pic.height;
        Current.bandW = std::min(lines, pic.width - index);
    } else {
        Current.bandX = 0, Current.bandW = pic.width;
        Current.bandH = std::min(lines, index + 1);
        Current.bandY = index + 1 - Current.bandH;
    }
    Current.band.assign(static_cast<std::size_t>(Current.bandW) * Current.bandH, 0xFFFFFF);
    std::string error;
    if (!pic.render(Current.bandX, Current.bandY, Current.bandW, Current.bandH, Current.band.data(),
                    &error)) {
        Current.bandW = 0;
        Current.error = error;
        Current.failed = true;
        return false;
    }
    return true;
}

// Our row fetch routine. Lines are counted from the bottom (or left) of the
// area; along a line the printer's raster runs right to left across the
// sheet and upwards along its long edge. Each line's pixels are the
// nearest of the picture's, so a grid a pixel off the picture still fits.
void* FetchRow(void* request) {
    std::memset(Reply, 0, 16);
    if (Current.failed) return Fail(Current.error);
    const BandedPicture& pic = *Current.picture;
    const Placement& at = Current.placement;
    const bool column = LoadLe<std::int32_t>(request, 40) == 7;
    const std::int32_t first = LoadLe<std::int32_t>(request, column ? 4 : 0);
    const std::int32_t last = LoadLe<std::int32_t>(request, column ? 12 : 8);
    const std::int64_t pixels = static_cast<std::int64_t>(last) - first + 1;
    if (pixels <= 0 || static_cast<std::size_t>(pixels) * 3 > LineCapacity)
        return Fail("the driver asked for a line of " + std::to_string(pixels) + " pixels");
    const double mid = column ? (LoadLe<std::int32_t>(request, 16) +
                                 static_cast<double>(LoadLe<std::int32_t>(request, 24))) /
                                    2.0
                              : (LoadLe<std::int32_t>(request, 20) +
                                 static_cast<double>(LoadLe<std::int32_t>(request, 28))) /
                                    2.0;
    double fraction = column ? (mid - at.x0) / (static_cast<double>(at.x1) - at.x0)
                             : (mid - at.y0) / (static_cast<double>(at.y1) - at.y0);
    fraction = std::clamp(fraction, 0.0, 0.999999);
    const std::int32_t index =
        column ? static_cast<std::int32_t>(fraction * pic.width)
               : pic.height - 1 - static_cast<std::int32_t>(fraction * pic.height);
    if (!HoldLine(column, index)) return Fail(Current.error);
    const std::size_t stride = static_cast<std::size_t>(Current.bandW);
    for (std::int64_t p = 0; p < pixels; ++p) {
        const double along = (p + 0.5) / static_cast<double>(pixels);
        std::size_t source;
        if (column) {
            const std::int32_t y = pic.height - 1 - static_cast<std::int32_t>(along * pic.height);
            source = static_cast<std::size_t>(y) * stride + (index - Current.bandX);
        } else {
            const std::int32_t x = pic.width - 1 - static_cast<std::int32_t>(along * pic.width);
            source = static_cast<std::size_t>(index - Current.bandY) * stride + x;
        }
        const std::uint32_t v = Current.band[source];
        Line[3 * p] = static_cast<std::uint8_t>(v >> 16);
        Line[3 * p + 1] = static_cast<std::uint8_t>(v >> 8);
        Line[3 * p + 2] = static_cast<std::uint8_t>(v);
    }
    HostAddress address = 0;
    varnu::ToHostAddress(Line, &address);
    StoreLe<HostAddress>(Reply, 0, address);
    StoreLe<std::int32_t>(Reply, 4, static_cast<std::int32_t>(pixels * 3));
    const std::int32_t lines = column ? pic.width : pic.height;
    ShowProgress(column ? index + 1 : lines - index, lines);
    return Reply;
}

std::int32_t ReleaseRow(void*) {
    return 0;
}

}  // namespace

int ConfiguredDpi() {
    switch (StoredConfig().modeFlags & varnu::kModeResolutionMask) {
        case varnu::kResolution400:
            return 400;
        case varnu::kResolution300:
            return 300;
        case varnu::kResolution200:
            return 200;
        default:
            return 600;
    }
}

bool SendBandedPicture(const BandedPicture& picture, const Placement& placement,
                       std::string* error) {
    if (picture.width <= 0 || picture.height <= 0) {
        *error = "the picture is empty";
        return false;
    }
    // A line of the grid is at most the longer side, and the driver's grid
    // may be a little larger than the picture.
    const std::size_t needed =
        3 * (2 * static_cast<std::size_t>(std::max(picture.width, picture.height)) + 64);
    if (Reply == nullptr) Reply = static_cast<std::uint8_t*>(LowAllocate(16));
    if (needed > LineCapacity) {
        Line = static_cast<std::uint8_t*>(LowAllocate(needed));
        LineCapacity = Line != nullptr ? needed : 0;
    }
    if (Reply == nullptr || Line == nullptr) {
        *error = "out of memory below 4 GiB for the image lines";
        return false;
    }
    Current = Drawing{};
    Current.picture = &picture;
    Current.placement = placement;
    Current.progress = !picture.progressLabel.empty() && isatty(STDERR_FILENO);

    Packet p =
        ImageRequest(placement, &FetchRow, &ReleaseRow, picture.width, picture.height, false);
    if (SendPlot(p) != 52) {
        *error = "the driver refused the image";
        return false;
    }
    // Drawn now, by the next plot request, while the picture is ours.
    Packet drawIt(0);
    SendPlot(drawIt);
    const bool ok = !Current.failed;
    if (!ok) *error = Current.error;
    if (Current.progress && Current.shownPercent < 100) std::fputs("\n", stderr);
    Current = Drawing{};
    return ok;
}

}  // namespace adihost
