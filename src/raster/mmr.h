// Two-dimensional MMR (ITU-T T.6) coding of 1-bit rows, as Group 4 fax does:
// every row against the row above, the first against a white row, no EOLs
// between rows, EOFB at the end of a band.
//
// Row layout: pixel p is bit 31 - (p % 32) of the row's native 32-bit word
// p / 32; 1 is black.
#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/mmr_tables.h"

namespace varnu {

// Bit packer for one band, passed to every coding call: each band has its
// own, so bands can be coded side by side. Words are stored in native order
// and turned into the byte stream by SwapWordBytes at the end of the band.
struct BitWriterState {
    std::uint32_t* position;  // next word to store
    std::uint8_t* area;       // start of the output area
    std::size_t capacity;     // bytes in the output area
    std::uint32_t byteCount;  // bytes stored so far
    std::uint32_t accumulator;
    std::uint32_t used;  // bits of the accumulator in use
};

// Every row needs at most this many output bytes: each changing element of
// the row starts at most one mode of at most 53 bits (horizontal: 3 + two
// runs of at most 25 bits), passes consume two reference elements for 4 bits,
// and extended make-ups add 12 bits per 2560 pixels; W + 1 elements per row.
// Rounded up, with room for the accumulator's pending word.
inline std::size_t WorstCaseRowBytes(std::int32_t width) {
    return 7 * (static_cast<std::size_t>(width) + 1) + 16;
}
// End of block: two EOLs and the last word.
inline constexpr std::size_t kEndOfBlockBytes = 8;

// Pairs per RunList after its count: alternating pixels plus the terminator.
inline std::size_t RunListEntries(std::int32_t width) {
    return 1 + 2 * (width / 2 + 1);
}

// REQUIRES: area 4-byte aligned, capacity > 0.
void ResetBitWriter(BitWriterState& writer, std::uint8_t* area, std::size_t capacity);

// REQUIRES: 1 <= count <= 13; room for one more word.
void WriteBits(BitWriterState& writer, std::uint32_t code, std::uint32_t count);
void WriteRunLength(BitWriterState& writer, const mmr::RunTable& table, std::int32_t run);
void WriteEndOfBlock(BitWriterState& writer);
void SwapWordBytes(const void* source, void* destination, std::size_t count);

// Leading zero / one bits of a word, 32 for a word with none.
std::int32_t CountLeadingZeros(std::uint32_t word);
std::int32_t CountLeadingOnes(std::uint32_t word);

// The row's black runs: list[0] = pairs including the terminator, then
// (start, end) pairs, then (width, width). Returns the pair count.
// REQUIRES: width a multiple of 32; list holds RunListEntries(width).
std::int32_t FindChangingElements(const std::uint32_t* row, std::int32_t width, std::int32_t* list);

// Codes `rows` rows of `width` pixels, `stride` bytes apart. `reference`
// holds the list of the row above the first (1, W, W for a new band); the
// two lists exchange roles row by row. Returns 0, or -1 when the output area
// could not be grown for the worst case of a row (growOutput returned false).
// growOutput, when given, is asked to make room for at least `bytes` more.
using GrowOutputFn = bool (*)(BitWriterState& writer, std::size_t bytes);
std::int32_t EncodeMmrRows(BitWriterState& writer, const std::uint8_t* firstRow, std::int32_t rows,
                           std::int32_t stride, std::int32_t width, std::int32_t* current,
                           std::int32_t* reference, GrowOutputFn growOutput);

}  // namespace varnu
