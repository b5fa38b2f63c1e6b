// HP-RTL's row compression: each transfer decoded against its plane's
// seed row (the row before), as the file's compression mode says.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varnu::host::hpgl {

// Decodes `data` of mode 0 (none), 1 (run lengths), 2 (TIFF PackBits) or 3
// (delta row) into `seed`, which holds the plane's last row and keeps
// its size; what a row leaves out is zero (or, for mode 3, as before).
// False when a delta row changed nothing.
bool DecodeRow(int mode, std::string_view data, std::vector<std::uint8_t>* seed);

// Mode 5 (adaptive): a block of rows, each handed to `row` as it is
// decoded into `seed`; false with `error` set when the block is broken
// or would make more than `maxRows` rows.
bool DecodeAdaptive(std::string_view data, std::vector<std::uint8_t>* seed, std::int64_t maxRows,
                    const std::function<void(const std::vector<std::uint8_t>&)>& row,
                    std::string* error);

// Mode 8: the rows of `width` pixels coded with ITU-T T.6 (MMR) up to the
// block's end of block, at most `rows`, after the four bytes of the block's
// width (most significant first; the rows perhaps padded past `width`) that
// the printer expects before the code, decoded by libtiff; each row (a bit a
// pixel, 1 black) is handed to `row`. False with `error` set when the code
// is broken.
bool DecodeMmr(std::string_view data, std::int64_t width, std::int64_t rows,
               const std::function<void(const std::uint8_t*)>& row, std::string* error);

}  // namespace varnu::host::hpgl
