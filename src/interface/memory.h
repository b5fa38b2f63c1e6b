// The driver's heap blocks: the CommandBuffer of a job and the raster
// buffers of an image. One place, so that tests can make any of them fail.
#pragma once

#include <cstddef>

namespace varnu {

// Zero-filled block, or nullptr when it cannot be had.
void* AllocateZeroed(std::size_t size);
void ReleaseBlock(void* block);

// Test-only: let the next `successes` allocations succeed and fail every one
// after them; a negative count (the default) never fails.
void FailAllocationsAfterForTesting(int successes);

}  // namespace varnu
