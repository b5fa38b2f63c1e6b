// Image lines to dithered rows: replication, grey levels through the tone
// curve, and the 16 x 16 ordered dither into the page buffer.
#pragma once

#include <cstdint>

#include "raster/image_state.h"

namespace varnu {

// Builds the masks and the grey-to-level tables from ToneCurve; once per image.
void BuildDitherMasks();

// One host line of `count` pixels: bilevel lines have a byte per pixel (0 =
// background, else the image colour R, G, B), colour lines three. The line
// is bounded to the grid and padded with white; writes n page rows.
std::int32_t AddImageLine(std::int32_t count, const std::uint8_t* pixels, bool bilevel,
                          std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// `words` x 32 levels of row y to page words (first pixel in bit 31).
// DitherWords takes the fastest path the build has; DitherWordsPortable
// reads the masks one pixel at a time, as every build can.
void DitherWords(const std::uint8_t* levels, std::int32_t words, std::int32_t y,
                 std::uint32_t* out);
void DitherWordsPortable(const std::uint8_t* levels, std::int32_t words, std::int32_t y,
                         std::uint32_t* out);

// One colour line of `count` pixels (n = 1) dithered into page row y, white
// to W. The fast path takes a word of 32 pixels of one colour from the masks
// without levels; the portable one is a level per pixel and
// DitherWordsPortable. Both use the levels buffer.
void DitherColourLine(const std::uint8_t* pixels, std::int32_t count, std::int32_t y,
                      std::uint32_t* out);
void DitherColourLinePortable(const std::uint8_t* pixels, std::int32_t count, std::int32_t y,
                              std::uint32_t* out);

// Orders the page words stored so far before what follows, so that another
// core reads them all (the dither stores them past the caches).
void FinishPageWrites();

// True when the `pixels` colour pixels at p are all the same colour.
bool OneColour(const std::uint8_t* p, std::int32_t pixels);
bool OneColourPortable(const std::uint8_t* p, std::int32_t pixels);

}  // namespace varnu
