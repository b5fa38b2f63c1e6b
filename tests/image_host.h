// The host's side of a raster image: the row fetch and release routines,
// serving lines of a test image from the low arena and recording what the
// driver asked for.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "test_host.h"
#include "varnu/adi_abi.h"

namespace varnu::testing {

struct ImageHost {
    // Bytes of line i (3 per pixel for colour, 1 for bilevel).
    std::function<std::string(std::int32_t line)> lineBytes;
    std::int32_t stopAtCall = -1;       // reply "stop" on this fetch call (0-based)
    std::int32_t failAtCall = -1;       // reply "failure" on this fetch call
    std::vector<std::string> requests;  // each RowRequest as fetched (144 bytes)
    std::int32_t releases = 0;

    static ImageHost& Get();
    void Reset();
};

// The packet of plot request 52 with the test routines filled in.
Packet ImagePacket(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1,
                   std::int32_t kind, std::int32_t sourceWidth, std::int32_t sourceHeight,
                   std::int16_t transparent = 0, std::int16_t bits = 24, std::int16_t colour = 7);

}  // namespace varnu::testing
