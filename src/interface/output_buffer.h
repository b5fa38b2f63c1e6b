// The one output path for vector and job-level data: the CommandBuffer, the
// error latch, HP-GL/2 PE numbers and the big-endian packers of VCGL.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "interface/lifetimes.h"

namespace varnu {

// Bytes collected before a flush; the block has 8 bytes of slack behind it.
inline constexpr std::int32_t kCommandBufferCapacity = 2097152;
inline constexpr std::int32_t kCommandBufferBlockSize = kCommandBufferCapacity + 8;
// The host never receives more than this per WriteOutput call.
inline constexpr std::int32_t kWritePieceSize = 128;

// Room for the longest formatted command (the label line with 64 characters).
inline constexpr int kCommandScratchSize = 512;
extern char CommandScratch[kCommandScratchSize];

// Appends return 0 or -1. With no buffer they succeed and store nothing,
// whatever the latch holds; with a latched error they fail quietly.
std::int32_t AppendText(const char* text);
std::int32_t AppendBytes(std::int32_t count, const void* bytes);
// printf-style into CommandScratch, then AppendText.
std::int32_t AppendFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::int32_t FlushOutput();

// A constant command of the printer's tables.
template <std::size_t N>
std::int32_t AppendCommand(const std::array<std::uint8_t, N>& bytes) {
    return AppendBytes(static_cast<std::int32_t>(N), bytes.data());
}

// Straight to the host's WriteOutput: an image's own commands bypass the
// command buffer, and their results are not looked at.
void SendDirectBytes(const void* bytes, std::size_t count);
void SendDirectText(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SendDirectBigEndian32(std::int32_t value);
template <std::size_t N>
void SendDirect(const std::array<std::uint8_t, N>& bytes) {
    SendDirectBytes(bytes.data(), N);
}

// HP-GL/2 polyline-encoded integer, in the 7-bit form (base 32) or the
// 8-bit form (base 64) the configuration chooses.
std::int32_t AppendPeNumber(std::int32_t value, bool eightBit);
// Two PE numbers in one append: the offsets of one point.
std::int32_t AppendPePair(std::int32_t first, std::int32_t second, bool eightBit);

// Most significant byte first, then a NUL; return the count of value bytes.
std::int32_t PackBigEndian32(std::uint32_t value, std::uint8_t* scratch);
std::int32_t PackBigEndian16(std::uint16_t value, std::uint8_t* scratch);
std::int32_t PackBigEndian8(std::uint8_t value, std::uint8_t* scratch);

// Job start: a fresh zero-filled buffer; false when it cannot be allocated.
// Defined by the job layer, called on every failure of the buffer: a job
// whose output failed has no page content to close and one copy.
void ForgetFailedJobOutput();

bool AllocateCommandBuffer();
// Job end and request 49: no buffer, nothing waiting.
void ReleaseCommandBuffer();

}  // namespace varnu
