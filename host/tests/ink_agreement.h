// Two pictures of a sheet compared by their ink: pixel for pixel where the
// sheet is the same, and fitted, each cut to its ink and brought to one
// size, where it is not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnu::host::testing {

struct GreyPicture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> grey;  // rows top to bottom, 0 black
    std::uint8_t At(int x, int y) const {
        return grey[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                    static_cast<std::size_t>(x)];
    }
};

// An 8-bit PNG read as grey; empty when it cannot be read.
GreyPicture ReadGreyPng(const std::string& path);
bool WriteGreyPng(const std::string& path, const GreyPicture& picture);
// Each `factor` x `factor` block averaged.
GreyPicture Reduce(const GreyPicture& picture, int factor);
// Turned a quarter counter-clockwise (a portrait page's picture on its long side).
GreyPicture TurnLeft(const GreyPicture& picture);

// The share of each side's ink (darker than `threshold`) that has ink of
// the other within `reach` pixels: ours against the reference (precision)
// and the reference against ours (recall).
struct Agreement {
    double precision = 0, recall = 0;
    double Score() const { return precision < recall ? precision : recall; }
};
Agreement InkAgreement(const GreyPicture& reference, const GreyPicture& ours, int reach,
                       int threshold = 160);
// The same after each is cut to the box of its ink and brought to the
// reference's box at `size` pixels on its longer side (each cell as dark as
// its darkest pixel).
Agreement FittedInkAgreement(const GreyPicture& reference, const GreyPicture& ours, int size,
                             int reach, int threshold = 160);

}  // namespace varnu::host::testing
