#include "raster/mmr.h"

#include <bit>
#include <cstring>

namespace varnu {

namespace {

// The packer on a local copy of the state, so the coding loop keeps it in
// registers. The accumulator is 64 bits wide with the pending bits at the
// top: a code is ORed in below them and a full word leaves with one test.
struct Packer {
    std::uint32_t* position;
    std::uint32_t byteCount;
    std::uint32_t used;  // pending bits, always below 32 between codes
    std::uint64_t accumulator;

    explicit Packer(const BitWriterState& s)
        : position(s.position),
          byteCount(s.byteCount),
          used(s.used),
          accumulator(std::uint64_t{s.accumulator} << 32) {}
    void StoreTo(BitWriterState& s) const {
        s.position = position;
        s.byteCount = byteCount;
        s.accumulator = static_cast<std::uint32_t>(accumulator >> 32);
        s.used = used;
    }

    // REQUIRES: 1 <= count <= 32, code left-aligned with its free low bits 0.
    void Write(std::uint32_t code, std::uint32_t count) {
        accumulator |= std::uint64_t{code} << (32 - used);
        used += count;
        if (used >= 32) {
            *position++ = static_cast<std::uint32_t>(accumulator >> 32);
            byteCount += 4;
            accumulator <<= 32;
            used -= 32;
        }
    }
    void Write(const mmr::Code& code) { Write(code.bits, code.count); }

    // Runs of 64 pixels and more need make-up codes first; rare in halftones,
    // so kept out of the common path. It works on a copy: a packer whose
    // address went to a call would live in memory, and every code would
    // wait for the store of the one before.
    [[gnu::noinline]] static Packer WithMakeUp(Packer p, const mmr::RunTable& table,
                                               std::int32_t run) {
        while (run > 63) {
            std::int32_t m = run / 64;
            if (m > 40) m = 40;  // 2560, the longest make-up code
            p.Write(table[63 + m]);
            run -= 64 * m;
        }
        return p;
    }
    void Run(const mmr::RunTable& table, std::int32_t run) {
        if (run > 63) [[unlikely]] {
            *this = WithMakeUp(*this, table, run);
            run &= 63;  // what the make-ups leave: they take multiples of 64
        }
        Write(table[run]);
    }
};

}  // namespace

void ResetBitWriter(BitWriterState& writer, std::uint8_t* area, std::size_t capacity) {
    writer.area = area;
    writer.capacity = capacity;
    writer.position = reinterpret_cast<std::uint32_t*>(area);
    writer.byteCount = 0;
    writer.accumulator = 0;
    writer.used = 0;
}

void WriteBits(BitWriterState& writer, std::uint32_t code, std::uint32_t count) {
    Packer p(writer);
    p.Write(code, count);
    p.StoreTo(writer);
}

void WriteRunLength(BitWriterState& writer, const mmr::RunTable& table, std::int32_t run) {
    Packer p(writer);
    p.Run(table, run);
    p.StoreTo(writer);
}

namespace {

// `count` V(0) codes, the single bit 1 each, 13 at a time.
void WriteOnes(BitWriterState& writer, std::int32_t count) {
    Packer p(writer);
    for (; count >= 13; count -= 13) p.Write(0xFFF80000u, 13);
    if (count > 0) p.Write(0xFFFFFFFFu << (32 - count), static_cast<std::uint32_t>(count));
    p.StoreTo(writer);
}

}  // namespace

void WriteEndOfBlock(BitWriterState& writer) {
    Packer p(writer);
    p.Write(mmr::kEndOfLine);
    p.Write(mmr::kEndOfLine);
    if (p.used > 0) {
        // The code bits of the last word, its free low bits zero.
        *p.position = static_cast<std::uint32_t>(p.accumulator >> 32);
        p.byteCount += p.used < 16 ? 2 : 4;
    }
    p.StoreTo(writer);
}

void SwapWordBytes(const void* source, void* destination, std::size_t count) {
    const std::size_t words = (count + 3) / 4;
    const auto* in = static_cast<const std::uint8_t*>(source);
    auto* out = static_cast<std::uint8_t*>(destination);
    for (std::size_t i = 0; i < words; ++i) {
        std::uint32_t w;
        std::memcpy(&w, in + 4 * i, 4);
        w = __builtin_bswap32(w);
        std::memcpy(out + 4 * i, &w, 4);
    }
}

std::int32_t CountLeadingZeros(std::uint32_t word) {
    return std::countl_zero(word);
}
std::int32_t CountLeadingOnes(std::uint32_t word) {
    return std::countl_one(word);
}

namespace {

// Set bits of a word, summed in the register (SWAR): the x86 targets we build
// for have no population-count instruction, and the library's routine is a
// call per word pair.
inline int PopCount(std::uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555u);
    v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int>((v * 0x0101010101010101u) >> 56);
}

}  // namespace

std::int32_t FindChangingElements(const std::uint32_t* row, std::int32_t width,
                                  std::int32_t* list) {
    // A changing element is a pixel whose colour differs from the one before
    // it (pixel -1 counts as white). In each word the transitions are the
    // bits of w ^ (w >> 1 with the previous word's last pixel shifted in);
    // they come out in order and alternate run start, run end.
    std::int32_t* element = list + 1;
    std::uint64_t previousLast = 0;
    const std::int32_t words = width / 32;
    // Two words at a time, the first in the upper half.
    for (std::int32_t i = 0; i < words; i += 2) {
        const std::uint64_t second = i + 1 < words ? row[i + 1] : 0;
        const std::uint64_t v = static_cast<std::uint64_t>(row[i]) << 32 | second;
        std::uint64_t transitions = v ^ ((v >> 1) | (previousLast << 63));
        if (i + 1 >= words) transitions &= 0xFFFFFFFF00000000u;  // no second word
        previousLast = i + 1 < words ? v & 1 : (v >> 32) & 1;
        if (transitions == 0) continue;
        // Taken from the low end, which clears in one step; the low bits are
        // the right-most pixels, so the elements are written back to front.
        const std::int32_t last = 32 * i + 63;
        const int n = PopCount(transitions);
        std::int32_t* out = element + n;
        while (transitions != 0) {
            *--out = last - std::countr_zero(transitions);
            transitions &= transitions - 1;
        }
        element += n;
    }
    if (previousLast) *element++ = width;  // a run still open at the row's end
    *element++ = width;                    // terminator (W, W)
    *element++ = width;
    const auto pairs = static_cast<std::int32_t>((element - (list + 1)) / 2);
    list[0] = pairs;
    return pairs;
}

std::int32_t EncodeMmrRows(BitWriterState& writer, const std::uint8_t* firstRow, std::int32_t rows,
                           std::int32_t stride, std::int32_t width, std::int32_t* current,
                           std::int32_t* reference, GrowOutputFn growOutput) {
    const std::size_t rowReserve = WorstCaseRowBytes(width) + kEndOfBlockBytes;
    for (std::int32_t y = 0; y < rows; ++y) {
        if (writer.capacity - writer.byteCount < rowReserve) {
            if (growOutput == nullptr || !growOutput(writer, rowReserve)) return -1;
        }
        const std::uint8_t* row = firstRow + static_cast<std::size_t>(y) * stride;
        if (y > 0 && std::memcmp(row, row - stride, static_cast<std::size_t>(width) / 8) == 0) {
            // The same pixels as the row above: every changing element lines
            // up with its b1, so the row is one V(0) per element of the
            // reference row, and one more for the row's end unless the last
            // run reaches it. The reference stays.
            const std::int32_t elements = 2 * (reference[0] - 1);
            WriteOnes(writer, elements + (elements == 0 || reference[elements] < width ? 1 : 0));
            continue;
        }
        FindChangingElements(reinterpret_cast<const std::uint32_t*>(row), width, current);
        // Flat changing elements: with a pointing at a run start the colour
        // of a0 is white, at a run end black. Both lists end with (W, W),
        // which stops every search below without a bounds check.
        const std::int32_t* a = current + 1;  // a1 = a[0], a2 = a[1]
        const std::int32_t* b = reference + 1;
        bool white = true;
        // a0 starts left of the first pixel, so that a reference row that
        // begins black gives b1 = 0; run lengths count from pixel 0.
        std::int32_t a0 = -1;

        Packer p(writer);
        for (;;) {
            // b1: the first changing element right of a0 of the colour
            // opposite to a0's. b moves only forward, one element at most
            // back when the colour changes (below), since a0 never moves left.
            while (*b <= a0) b += 2;
            const std::int32_t b1 = b[0];
            // Past the terminator nothing is read: a b1 at W has b2 at W.
            const std::int32_t b2 = b1 >= width ? width : b[1];
            const std::int32_t a1 = a[0];

            if (a1 > b2) {  // pass
                p.Write(mmr::kPass);
                a0 = b2;
                continue;
            }
            const std::int32_t d = a1 - b1;
            if (d >= -3 && d <= 3) {  // vertical
                p.Write(mmr::kVertical[d + 3]);
                a0 = a1;
                white = !white;
                a += 1;
                // The other colour's elements; the one before b1 may now be
                // right of a0. Before the first element, the first run end.
                b = b == reference + 1 ? b + 1 : b - 1;
            } else {  // horizontal: the runs a0..a1 and a1..a2
                const std::int32_t from = a0 < 0 ? 0 : a0;
                const std::int32_t a2 = a[1];
                p.Write(mmr::kHorizontal);
                p.Run(white ? mmr::kWhiteRuns : mmr::kBlackRuns, a1 - from);
                p.Run(white ? mmr::kBlackRuns : mmr::kWhiteRuns, a2 - a1);
                a0 = a2;
                a += 2;
            }
            if (a0 >= width) break;
        }
        p.StoreTo(writer);
        std::int32_t* swap = current;
        current = reference;
        reference = swap;
    }
    return 0;
}

}  // namespace varnu
