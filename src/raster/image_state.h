// Image: one raster image, from request 52 until it is drawn. Request 52
// assigns the record fresh (after the buffers of the image before it are
// released); drawing fills in its raster part.
#pragma once

#include <cstddef>
#include <cstdint>

#include "modes/data_mode.h"
#include "raster/mmr.h"

namespace varnu {

inline constexpr std::uint32_t kImagePending = 0x5A5A;
inline constexpr int kImagePacketCopySize = 124;

struct PendingImageRecord {
    std::uint32_t marker;  // kImagePending while an image waits
    std::uint8_t packet[kImagePacketCopySize];
    std::int32_t x0, y0, x1, y1, width;     // target area, host units
    std::int32_t pixelsPerLine, lineCount;  // source size, then the grid asked for
    std::int32_t transparent;
    std::int32_t bilevel;
    std::int16_t colourIndex;       // limited to 7
    std::uint8_t red, green, blue;  // colour of a bilevel image's set pixels
    std::int32_t savedX, savedY;    // DevicePosition when drawing began
};

// What codes one band: an output area, the two run lists, the bit writer.
struct BandCoder {
    std::uint8_t* area;
    std::size_t capacity;
    std::int32_t* runLists;
    BitWriterState writer;
    std::int32_t status;  // of the last band coded: 0, or -1 when it found no room
};

// The framing's part (the mode, transparency, anchor, orientation, row
// pixels, W, bands sent) comes first, as the data mode reads it.
struct RasterStateRecord : RasterFrame {
    std::int32_t replication;    // n: each host pixel becomes n x n device pixels
    std::int32_t pixelsPerLine;  // grid
    std::int32_t nominalRows;    // line count x n
    std::int32_t stride;         // W / 8 bytes
    std::int32_t rowCounter;     // rows written into the page buffer

    // Buffers, allocated before anything of the image is sent.
    std::uint8_t* pageBuffer;  // nominalRows rows of stride bytes
    std::uint8_t* levels;      // dither level per replicated pixel of a line, W entries
    BandCoder coder;           // on the host's thread; its area grows when a band needs it
    BandCoder secondCoder;     // on a second core, for every other band of a banded image
};

struct ImageStateRecord {
    PendingImageRecord PendingImage;
    RasterStateRecord RasterState;
    // Masks of the current image: bit 15 - (x % 16) of [y % 16][level] is
    // set when pixel x of row y is black at that level (level 0 never, 255 always).
    std::uint16_t DitherMasks[16][256];
};
extern ImageStateRecord Image;

}  // namespace varnu
