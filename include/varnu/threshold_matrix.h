// The 16 x 16 threshold matrix behind every halftone: the ordered dither of
// raster images and the VCGL halftone cells of the pen greys.
#pragma once

#include <array>
#include <cstdint>

namespace varnu {

using ThresholdRows = std::array<std::array<std::int32_t, 16>, 16>;

// As it acts on raster rows: output row y, pixel x use [y % 16][x % 16].
// Every value 1..256 occurs once.
// clang-format off
inline constexpr ThresholdRows ThresholdMatrix = {{
    //  x: 0    1    2    3    4    5    6    7    8    9   10   11   12   13   14   15
    {{   2, 210,  34, 242,  74, 154, 106, 186,   1, 209,  33, 241,  73, 153, 105, 185}},  //  0
    {{ 146,  66, 178,  98, 218,  10, 250,  42, 145,  65, 177,  97, 217,   9, 249,  41}},  //  1
    {{ 194,  18, 226,  50, 138,  90, 170, 122, 193,  17, 225,  49, 137,  89, 169, 121}},  //  2
    {{  82, 130, 114, 162,  26, 202,  58, 234,  81, 129, 113, 161,  25, 201,  57, 233}},  //  3
    {{ 110, 190,  78, 158,  38, 246,   6, 214, 109, 189,  77, 157,  37, 245,   5, 213}},  //  4
    {{ 254,  46, 222,  14, 182, 102, 150,  70, 253,  45, 221,  13, 181, 101, 149,  69}},  //  5
    {{ 174, 126, 142,  94, 230,  54, 198,  22, 173, 125, 141,  93, 229,  53, 197,  21}},  //  6
    {{  62, 238,  30, 206, 118, 166,  86, 134,  61, 237,  29, 205, 117, 165,  85, 133}},  //  7
    {{   4, 212,  36, 244,  76, 156, 108, 188,   3, 211,  35, 243,  75, 155, 107, 187}},  //  8
    {{ 148,  68, 180, 100, 220,  12, 252,  44, 147,  67, 179,  99, 219,  11, 251,  43}},  //  9
    {{ 196,  20, 228,  52, 140,  92, 172, 124, 195,  19, 227,  51, 139,  91, 171, 123}},  // 10
    {{  84, 132, 116, 164,  28, 204,  60, 236,  83, 131, 115, 163,  27, 203,  59, 235}},  // 11
    {{ 112, 192,  80, 160,  40, 248,   8, 216, 111, 191,  79, 159,  39, 247,   7, 215}},  // 12
    {{ 256,  48, 224,  16, 184, 104, 152,  72, 255,  47, 223,  15, 183, 103, 151,  71}},  // 13
    {{ 176, 128, 144,  96, 232,  56, 200,  24, 175, 127, 143,  95, 231,  55, 199,  23}},  // 14
    {{  64, 240,  32, 208, 120, 168,  88, 136,  63, 239,  31, 207, 119, 167,  87, 135}},  // 15
}};
// clang-format on

// The stored form: the two column halves of every row exchanged,
// stored [r][c] = ThresholdMatrix[r][c ^ 8]. The VCGL halftone cells are
// derived from this form; the raster dither reads it back through c ^ 8.
constexpr ThresholdRows StoredThresholds() {
    ThresholdRows stored{};
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) stored[r][c] = ThresholdMatrix[r][c ^ 8];
    return stored;
}
inline constexpr ThresholdRows ThresholdMatrixStored = StoredThresholds();

}  // namespace varnu
