// Raster bands: MMR (ITU-T T.6) data decoded a row at a time by libtiff and
// drawn onto the sheet as the rows arrive, averaged down (or widened) to
// the preview's pixels, by the printer's transparency rule: black pixels
// print black, white ones print white only from an opaque source and leave
// what is below otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "preview/input.h"
#include "preview/sheet.h"

namespace varnu::preview {

// Where a band lands. In the normal orientation rows run up the sheet and a
// row's pixels to the left of the origin; along the long edge rows run to
// the right and pixels up.
struct BandPlace {
    double x = 0, y = 0;  // device units of the first pixel's corner
    double pixel = 1;     // device units a raster pixel
    bool longEdge = false;
    bool opaque = false;
};

// The preview pixels a band's last rows cover only in part, held until the
// next band of the same image adds its first rows to them (bands meet inside
// preview pixels: drawn apart, each would draw over the other's part).
struct BandCarry {
    bool held = false;
    BandPlace place;
    long width = 0;
    int at = 0;                        // the preview row or column
    int rows = 0;                      // raster rows in it so far
    double cover = 0;                  // how much of it they cover
    std::vector<std::uint32_t> black;  // black pixels, a preview pixel along the row
};

// Draws what `carry` holds as it is (before anything else is drawn).
void DrawCarry(BandCarry* carry, Sheet* sheet);

// The most coded bytes one band may take.
inline constexpr std::uint64_t kMaxBandBytes = std::uint64_t{256} << 20;

// A band's rows as its commands describe them.
struct BandShape {
    long width = 0;     // pixels of a coded row
    long shown = 0;     // of them printed, from the first (at most width)
    long rows = 0;      // its rows, or with `upTo` the most it may hold
    bool upTo = false;  // its end of block says how many rows it holds
};

// Reads `coded` bytes of MMR data for a band from the input and draws it;
// each decoded row also goes to `observe` when set, with the band's rows.
// Returns the rows drawn.
long DrawBand(Input& in, std::uint64_t start, std::uint64_t coded, const BandShape& shape,
              const BandPlace& place, Sheet* sheet, BandCarry* carry,
              const std::function<void(long rows, int row, const std::uint8_t* bits)>& observe);

}  // namespace varnu::preview
