// A rendered band's line as the driver takes it: cairo's RGB24 words read
// backwards (the printer's raster runs right to left), R, G, B each.
#pragma once

#include <cstdint>

namespace varnu::host {

// `pixels` words read backwards from `origin` (the line's last word) into
// 3 x `pixels` bytes at `out`; the fastest way the processor has.
void PutRgb24Reversed(const std::uint8_t* origin, std::int64_t pixels, std::uint8_t* out);

// Each way on its own, for tests: a word at a time (every processor),
// four (SSSE3) and eight (AVX2); false where the processor lacks it.
enum class Rgb24Way { Words, Ssse3, Avx2 };
bool PutRgb24Reversed(Rgb24Way way, const std::uint8_t* origin, std::int64_t pixels,
                      std::uint8_t* out);

}  // namespace varnu::host
