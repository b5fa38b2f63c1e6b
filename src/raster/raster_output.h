// One raster image from its pixel grid to the last byte on the wire: device
// resolution, raster mode, the 1-bit page buffer, dithered rows, MMR bands
// and their HP-RTL or VCGL framing. Everything here goes straight to the
// host's WriteOutput.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "raster/image_state.h"
#include "raster/mmr.h"

namespace varnu {

// Bytes of the coder output area above which an image is cut into bands.
inline constexpr std::int64_t kSingleBandLimit = 0xA00000;

// The dpi of a resolution code (600, 400, 300, 200); any other code keeps
// the current dpi. In RTL/GL2 mode it also prepares the resolution command.
double SelectResolution(std::uint16_t modeFlags, DataMode mode);

// Sizes and allocates everything the image needs; false (nothing allocated,
// nothing sent) when a size does not fit or a buffer cannot be had.
bool PrepareRaster(std::int32_t pixelsPerLine, std::int32_t lineCount, DataMode mode,
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

}  // namespace varnu
