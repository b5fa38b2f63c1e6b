// Decoded rows of a raster band onto the sheet, averaged down (or widened)
// to the preview's pixels. Black pixels are counted eight to a 64-bit word
// (a byte lane each) as the rows of a preview pixel arrive, and summed into
// the preview pixels once their last row is in; a finished preview row is
// written a tile span at a time. A transparent band draws only the preview
// pixels that got black, so its work follows the ink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "preview/raster.h"
#include "preview/sheet.h"

namespace varnu::preview {

class BandPainter {
  public:
    BandPainter(Sheet* sheet, const BandPlace& place, long width, long rows, BandCarry* carry);

    // Raster row `r` (rows come in order), `bytes` of pixels and at least
    // 8 more readable past them.
    void Row(long r, const std::uint8_t* bits, std::size_t bytes);
    // A carried preview row (or column) by itself.
    void Draw(const BandCarry& carry);
    // Writes the preview columns that wait; call after the last row.
    void Finish();

    // One preview pixel along an axis and the raster pixels that fall on it.
    struct Cell {
        int at;        // preview pixel
        int k0, k1;    // raster pixels [k0, k1)
        double cover;  // how much of the preview pixel the band covers, 0 to 1
    };

  private:
    static constexpr std::size_t kBlock = 16;  // columns written together
    // A finished preview column (along the long edge) waiting to be written.
    struct Column {
        int x;
        int rows;          // raster rows in it
        double cover;      // how much of it the band covers
        std::size_t from;  // its first preview pixel in waiting_
        std::size_t next;  // the first not yet written
        bool levels;       // its whole preview pixels wait in levels_
    };
    // The levels of an opaque preview pixel the band covers whole, by its
    // black pixels, for each number of raster pixels across (nas_).
    struct LutSet {
        int rows;
        std::vector<std::vector<std::uint8_t>> levels;
        std::vector<const std::uint8_t*> at;  // empty when too large to tabulate
    };

    bool Same(const BandPlace& a) const;
    void TakeCarry();
    bool Hold(const Cell& row, int rows);
    void Accumulate(const std::uint8_t* bits, std::size_t bytes);
    void Flush();
    void Chosen();
    void PaintRow(int y, int rows, double cover);
    void QueueColumn(int x, int rows, double cover);
    void QueueLevels(int x, int rows, const std::uint8_t* const* luts);
    void Wait(std::size_t i, std::uint32_t black);
    void FinishLevels();
    void FinishCounts();
    void ClearSums();
    const std::uint8_t* const* Luts(int rows, double cover);
    std::uint8_t Mix(std::uint8_t ink, std::size_t i, std::uint32_t black, double down,
                     double cover, const std::uint8_t* const* luts) const {
        if (luts != nullptr && pixels_[i].cover == 1.0) return luts[naClass_[i]][black];
        const double part = cover * pixels_[i].cover;
        const double share = black * across1_[i] * down * part;
        return static_cast<std::uint8_t>(255.0 * share + ink * (1 - (opaque_ ? part : share)) +
                                         0.5);
    }

    Sheet* sheet_;
    BandCarry* carry_;
    BandPlace place_;
    long width_;
    int extraRows_ = 0;  // the carried rows of the first preview pixel
    double extraCover_ = 0;
    bool opaque_ = false, across_ = false;
    std::vector<Cell> pixels_, rows_;
    std::vector<int> counted_;                // the preview pixel whose count each one shares
    std::vector<int> firsts_;                 // the preview pixels that count
    std::vector<std::pair<int, int>> spans_;  // and their raster pixels
    std::vector<double> across1_;             // 1 / raster pixels across each preview pixel
    std::vector<std::size_t> partial_;        // the preview pixels the band covers in part
    std::vector<int> naClass_;                // which of nas_ its raster pixels across are
    std::vector<int> nas_;                    // the different numbers of raster pixels across
    std::vector<std::uint32_t> sums_;         // black pixels of each preview pixel so far
    std::vector<int> touched_;                // preview pixels whose sum is not 0
    std::vector<std::size_t> chosen_;         // the preview pixels a finished row draws
    std::vector<std::uint64_t> lanes_;        // black pixels of the rows since the last flush
    int laneRows_ = 0;
    bool laneInk_ = false;
    bool summed_ = false;  // sums_ holds a count
    std::vector<LutSet> luts_;
    std::vector<Column> columns_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> waiting_;  // preview pixel, black
    std::size_t waitingEnd_ = 0;
    std::vector<std::uint8_t> levels_;  // a block of columns' levels
    std::size_t next_ = 0;
};

}  // namespace varnu::preview
