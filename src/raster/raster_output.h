// One raster image from its pixel grid to the last byte on the wire: device
// resolution, raster mode, the 1-bit page buffer, dithered rows, MMR bands
// and their HP-RTL or VCGL framing. Everything here goes straight to the
// host's WriteOutput.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "raster/mmr.h"

namespace varnu {

// Bytes of the coder output area above which an image is cut into bands.
inline constexpr std::int64_t kSingleBandLimit = 0xA00000;

// What codes one band: an output area, the two run lists, the bit writer.
struct BandCoder {
    std::uint8_t* area;
    std::size_t capacity;
    std::int32_t* runLists;
    BitWriterState writer;
    std::int32_t status;  // of the last band coded: 0, or -1 when it found no room
};

struct RasterStateRecord {
    bool vcgl;  // data mode of the image
    std::int32_t transparent;
    std::int32_t anchorX;  // VCGL: device units, advanced band by band
    std::int32_t anchorY;
    std::int32_t replication;    // n: each host pixel becomes n x n device pixels
    bool longEdge;               // long-edge bit of the configuration
    std::int32_t pixelsPerLine;  // grid
    std::int32_t rowPixels;      // pixels per line x n
    std::int32_t nominalRows;    // line count x n
    std::int32_t width;          // W: row pixels raised to a multiple of 32, plus 32
    std::int32_t stride;         // W / 8 bytes
    std::int32_t rowCounter;     // rows written into the page buffer
    std::int64_t rowsMoved;      // RTL/GL2: rows the band moves have advanced
    std::int64_t unitsMoved;     // and the HP-GL/2 units sent for them

    // Buffers, allocated before anything of the image is sent.
    std::uint8_t* pageBuffer;  // nominalRows rows of stride bytes
    std::uint8_t* levels;      // dither level per replicated pixel of a line, W entries
    BandCoder coder;           // on the host's thread; its area grows when a band needs it
    BandCoder secondCoder;     // on a second core, for every other band of a banded image
};
extern RasterStateRecord RasterState;

// Kept across images and jobs.
extern std::int32_t CurrentDpi;  // 0 until a resolution is selected
inline constexpr int kResolutionCommandSize = 22 + 1;
extern char ResolutionCommand[kResolutionCommandSize];  // 22 blanks until one is selected

// The dpi of a resolution code (600, 400, 300, 200); any other code keeps
// the current dpi. In RTL/GL2 mode it also prepares the resolution command.
double SelectResolution(std::uint16_t modeFlags, bool vcgl);

// Sizes and allocates everything the image needs; false (nothing allocated,
// nothing sent) when a size does not fit or a buffer cannot be had.
bool PrepareRaster(std::int32_t pixelsPerLine, std::int32_t lineCount, bool vcgl,
                   std::int32_t transparent, std::int32_t anchorX, std::int32_t anchorY,
                   std::int32_t replication, bool longEdge);

// Builds the masks and sends the raster-mode opening.
std::int32_t BeginRaster();

// Codes the collected rows in one block or in bands and sends them framed.
// An image without rows sends no band. 0, or -1 when the coder could not
// get room for a band.
std::int32_t EncodeAndSendBands();

// Leaves raster mode and frees the buffers.
void EndRaster();

// Frees whatever an image left allocated (also when it was refused).
void ReleaseRasterBuffers();

void ResetRasterOnLoad();

// Straight to the host's WriteOutput: an image's own commands bypass the
// command buffer, and their results are not looked at.
void SendDirectBytes(const void* bytes, std::size_t count);
void SendDirectText(const char* format, ...) __attribute__((format(printf, 1, 2)));
template <std::size_t N>
void SendDirect(const std::array<std::uint8_t, N>& bytes) {
    SendDirectBytes(bytes.data(), N);
}

}  // namespace varnu
