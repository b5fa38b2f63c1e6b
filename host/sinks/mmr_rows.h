// The rows of one MMR (T.6) block, up to its end of block. A raster of
// several blocks states only its height as a whole, and libtiff reads on
// past a block's end as white rows, so the readers count a block's rows
// here before it is drawn.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnu::host {

// How many rows of `width` pixels `coded` holds before its end of block (or
// before its data ends), at most `limit`; -1 when its codes are not rows of
// that width.
long CountMmrRows(const std::uint8_t* coded, std::size_t bytes, long width, long limit);

}  // namespace varnu::host
