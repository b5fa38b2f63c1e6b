// An independent check of our MMR bytes: libtiff's CCITT Group 4 decoder.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace varnu::testing {

// The tags of one bilevel Group 4 strip of `rows` rows of `width` pixels,
// 1 = black, first pixel in the most significant bit.
void SetGroup4Tags(TIFF* tif, std::int32_t width, std::int32_t rows);

// Decodes `coded` as one Group 4 strip of `rows` rows of `width` pixels.
// Rows come back packed, first pixel in the most significant bit of the
// first byte, 1 = black. Empty on a decoding error.
std::vector<std::uint8_t> DecodeGroup4(const std::string& coded, std::int32_t width,
                                       std::int32_t rows);

// Our row layout (native 32-bit words, first pixel in bit 31) to the packed
// byte layout above.
std::vector<std::uint8_t> PackRows(const std::uint8_t* rows, std::int32_t width, std::int32_t count,
                                   std::int32_t stride);

}  // namespace varnu::testing
