#include "interface/output_buffer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "interface/host_services.h"
#include "interface/memory.h"
#include "interface/messages.h"

namespace varnu {

char CommandScratch[kCommandScratchSize];

namespace {

// Every failure path of the buffer leaves the job in the same state: nothing
// waiting, no page content to close, a single copy for the next job.
std::int32_t FailQuietly() {
    PageState.CommandFill = 0;
    ForgetFailedJobOutput();
    return -1;
}

// Hands `count` bytes to the host in 128-byte pieces.
std::int32_t WritePieces(const std::uint8_t* bytes, std::int32_t count) {
    for (std::int32_t done = 0; done < count; done += kWritePieceSize) {
        const std::int32_t piece = count - done < kWritePieceSize ? count - done : kWritePieceSize;
        if (HostWriteOutput(bytes + done, piece) == 0) {
            ReportSlot(kMsgOutputFailed);
            JobState.ErrorLatch = kLatchOutput;
            return FailQuietly();
        }
    }
    PageState.CommandFill = 0;
    return 0;
}

}  // namespace

void SendDirectBytes(const void* bytes, std::size_t count) {
    HostWriteOutput(bytes, static_cast<std::int32_t>(count));
}

void SendDirectText(const char* format, ...) {
    char text[64];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n > 0)
        SendDirectBytes(text, static_cast<std::size_t>(
                                  n < static_cast<int>(sizeof text) ? n : sizeof text - 1));
}

void SendDirectBigEndian32(std::int32_t value) {
    std::uint8_t packed[5];
    PackBigEndian32(static_cast<std::uint32_t>(value), packed);
    SendDirectBytes(packed, 4);
}

std::int32_t FlushOutput() {
    if (PageState.CommandBuffer == nullptr) return 0;
    if (JobState.ErrorLatch != kLatchClear) return FailQuietly();
    return WritePieces(PageState.CommandBuffer, PageState.CommandFill);
}

std::int32_t AppendBytes(std::int32_t count, const void* bytes) {
    if (PageState.CommandBuffer == nullptr) return 0;
    if (JobState.ErrorLatch != kLatchClear) return FailQuietly();
    if (count <= 0) return 0;
    auto* src = static_cast<const std::uint8_t*>(bytes);

    // The usual case: the bytes fit behind the waiting ones with room to spare.
    if (count < kCommandBufferCapacity - PageState.CommandFill) {
        std::memcpy(PageState.CommandBuffer + PageState.CommandFill, src, count);
        PageState.CommandFill += count;
        return 0;
    }

    // Whole 2 MB blocks go out one buffer-full at a time, after what waits.
    if (count >= kCommandBufferCapacity) {
        if (PageState.CommandFill > 0 && FlushOutput() != 0) return -1;
        PageState.CommandFill = 0;
        while (count >= kCommandBufferCapacity) {
            std::memcpy(PageState.CommandBuffer, src, kCommandBufferCapacity);
            PageState.CommandFill = kCommandBufferCapacity;
            if (FlushOutput() != 0) return -1;
            src += kCommandBufferCapacity;
            count -= kCommandBufferCapacity;
        }
        if (count == 0) return 0;
    }

    // A piece that would fill the buffer to the brim or beyond first sends
    // what waits; so the buffer never waits full.
    if (PageState.CommandFill + count >= kCommandBufferCapacity) {
        if (PageState.CommandFill > 0 && FlushOutput() != 0) return -1;
        PageState.CommandFill = 0;
    }
    std::memcpy(PageState.CommandBuffer + PageState.CommandFill, src, count);
    PageState.CommandFill += count;
    return 0;
}

std::int32_t AppendText(const char* text) {
    return AppendBytes(static_cast<std::int32_t>(std::strlen(text)), text);
}

std::int32_t AppendFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(CommandScratch, sizeof CommandScratch, format, args);
    va_end(args);
    return AppendText(CommandScratch);
}

namespace {

// Writes the PE form of `value` to `out` (at most 7 bytes) and returns its
// length. The sign goes into bit 0; the magnitude follows in base 64 (final
// byte 191..254) or base 32 (final byte 95..126), low group first, each
// non-final group offset by 63. Done in 64 bits so that every 32-bit value
// encodes, INT32_MIN included, instead of overflowing.
inline std::int32_t EncodePe(std::int32_t value, bool eightBit, std::uint8_t* out) {
    const std::int64_t v = value;
    std::uint64_t z =
        v >= 0 ? static_cast<std::uint64_t>(2 * v) : static_cast<std::uint64_t>(1 - 2 * v);
    const unsigned shift = eightBit ? 6 : 5;
    const std::uint64_t base = std::uint64_t{1} << shift;
    std::int32_t n = 0;
    while (z >= base) {
        out[n++] = static_cast<std::uint8_t>((z & (base - 1)) + 63);
        z >>= shift;
    }
    out[n++] = static_cast<std::uint8_t>(z + (eightBit ? 191 : 95));
    return n;
}

}  // namespace

std::int32_t AppendPeNumber(std::int32_t value, bool eightBit) {
    std::uint8_t digits[8];
    return AppendBytes(EncodePe(value, eightBit, digits), digits);
}

std::int32_t AppendPePair(std::int32_t first, std::int32_t second, bool eightBit) {
    std::uint8_t digits[16];
    std::int32_t n = EncodePe(first, eightBit, digits);
    n += EncodePe(second, eightBit, digits + n);
    return AppendBytes(n, digits);
}

std::int32_t PackBigEndian32(std::uint32_t value, std::uint8_t* scratch) {
    scratch[0] = static_cast<std::uint8_t>(value >> 24);
    scratch[1] = static_cast<std::uint8_t>(value >> 16);
    scratch[2] = static_cast<std::uint8_t>(value >> 8);
    scratch[3] = static_cast<std::uint8_t>(value);
    scratch[4] = 0;
    return 4;
}

std::int32_t PackBigEndian16(std::uint16_t value, std::uint8_t* scratch) {
    scratch[0] = static_cast<std::uint8_t>(value >> 8);
    scratch[1] = static_cast<std::uint8_t>(value);
    scratch[2] = 0;
    return 2;
}

std::int32_t PackBigEndian8(std::uint8_t value, std::uint8_t* scratch) {
    scratch[0] = value;
    scratch[1] = 0;
    return 1;
}

bool AllocateCommandBuffer() {
    ReleaseCommandBuffer();
    PageState.CommandBuffer = static_cast<std::uint8_t*>(AllocateZeroed(kCommandBufferBlockSize));
    return PageState.CommandBuffer != nullptr;
}

void ReleaseCommandBuffer() {
    ReleaseBlock(PageState.CommandBuffer);
    PageState.CommandBuffer = nullptr;
    PageState.CommandFill = 0;
}

}  // namespace varnu
