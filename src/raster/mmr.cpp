#include "raster/mmr.h"

#include <bit>
#include <cstring>

namespace varnu {

BitWriterState BitWriter;

namespace {

// The packer on a local copy of the state, so the coding loop keeps it in
// registers.
struct Packer {
    std::uint32_t* position;
    std::uint32_t byteCount;
    std::uint32_t accumulator;
    std::uint32_t used;

    explicit Packer(const BitWriterState& s)
        : position(s.position), byteCount(s.byteCount), accumulator(s.accumulator), used(s.used) {}
    void StoreTo(BitWriterState& s) const {
        s.position = position;
        s.byteCount = byteCount;
        s.accumulator = accumulator;
        s.used = used;
    }

    // REQUIRES: 1 <= count <= 13. The shifts are logical, so no code bit
    // lands left of the bits already used.
    void Write(std::uint32_t code, std::uint32_t count) {
        const std::uint32_t total = used + count;
        if (total < 32) {
            accumulator |= code >> used;
            used = total;
            return;
        }
        *position++ = accumulator | (code >> used);
        byteCount += 4;
        // total > 32 only with used >= 20, so the shift stays below 32.
        accumulator = total == 32 ? 0 : code << (32 - used);
        used = total - 32;
    }
    void Write(const mmr::Code& code) { Write(code.bits, code.count); }

    void Run(const mmr::RunTable& table, std::int32_t run) {
        while (run > 63) {
            std::int32_t m = run / 64;
            if (m > 40) m = 40;  // 2560, the longest make-up code
            Write(table[63 + m]);
            run -= 64 * m;
        }
        Write(table[run]);
    }
};

}  // namespace

void ResetBitWriter(std::uint8_t* area, std::size_t capacity) {
    BitWriter.area = area;
    BitWriter.capacity = capacity;
    BitWriter.position = reinterpret_cast<std::uint32_t*>(area);
    BitWriter.byteCount = 0;
    BitWriter.accumulator = 0;
    BitWriter.used = 0;
}

void WriteBits(std::uint32_t code, std::uint32_t count) {
    Packer p(BitWriter);
    p.Write(code, count);
    p.StoreTo(BitWriter);
}

void WriteRunLength(const mmr::RunTable& table, std::int32_t run) {
    Packer p(BitWriter);
    p.Run(table, run);
    p.StoreTo(BitWriter);
}

void WriteEndOfBlock() {
    Packer p(BitWriter);
    p.Write(mmr::kEndOfLine);
    p.Write(mmr::kEndOfLine);
    if (p.used > 0) {
        // The code bits of the last word, its free low bits zero.
        *p.position = p.accumulator;
        p.byteCount += p.used < 16 ? 2 : 4;
    }
    p.StoreTo(BitWriter);
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

std::int32_t FindChangingElements(const std::uint32_t* row, std::int32_t width,
                                  std::int32_t* list) {
    // A changing element is a pixel whose colour differs from the one before
    // it (pixel -1 counts as white). In each word the transitions are the
    // bits of w ^ (w >> 1 with the previous word's last pixel shifted in);
    // they come out in order and alternate run start, run end.
    std::int32_t* element = list + 1;
    std::uint32_t previousLast = 0;
    const std::int32_t words = width / 32;
    for (std::int32_t i = 0; i < words; ++i) {
        const std::uint32_t w = row[i];
        std::uint32_t transitions = w ^ ((w >> 1) | (previousLast << 31));
        previousLast = w & 1;
        const std::int32_t base = 32 * i;
        while (transitions != 0) {
            const int z = std::countl_zero(transitions);
            *element++ = base + z;
            transitions &= ~(0x80000000u >> z);
        }
    }
    if (previousLast) *element++ = width;  // a run still open at the row's end
    *element++ = width;                    // terminator (W, W)
    *element++ = width;
    const auto pairs = static_cast<std::int32_t>((element - (list + 1)) / 2);
    list[0] = pairs;
    return pairs;
}

std::int32_t EncodeMmrRows(const std::uint8_t* firstRow, std::int32_t rows, std::int32_t stride,
                           std::int32_t width, std::int32_t* current, std::int32_t* reference,
                           GrowOutputFn growOutput) {
    const std::size_t rowReserve = WorstCaseRowBytes(width) + kEndOfBlockBytes;
    for (std::int32_t y = 0; y < rows; ++y) {
        if (BitWriter.capacity - BitWriter.byteCount < rowReserve) {
            if (growOutput == nullptr || !growOutput(rowReserve)) return -1;
        }
        FindChangingElements(
            reinterpret_cast<const std::uint32_t*>(firstRow + static_cast<std::size_t>(y) * stride),
            width, current);
        // Flat changing elements: a[k] with k even a run start (white to
        // black), k odd a run end; both lists end with (W, W), which stops
        // every search below without a bounds check.
        const std::int32_t* a = current + 1;
        const std::int32_t* b = reference + 1;

        Packer p(BitWriter);
        std::int32_t a0 = 0;
        std::int32_t k = 0;           // a1 = a[k], a2 = a[k + 1]
        bool white = true;            // colour of a0
        std::int32_t searchPair = 0;  // where the next b1 search may begin
        std::int32_t bound = -1;      // first search: a reference start at 0 counts
        for (;;) {
            const std::int32_t a1 = a[k];
            // b1: the first changing element of the opposite colour right of a0.
            std::int32_t j = 2 * searchPair + (white ? 0 : 1);
            while (b[j] <= bound) j += 2;
            const std::int32_t b1 = b[j];
            // Past the terminator nothing is read: a b1 at W has b2 at W.
            const std::int32_t b2 = b1 >= width ? width : b[j + 1];
            searchPair = j / 2 > 0 ? j / 2 - 1 : 0;

            if (a1 > b2) {  // pass
                p.Write(mmr::kPass);
                a0 = b2;
                bound = a0;
                continue;
            }
            const std::int32_t d = a1 - b1;
            if (d >= -3 && d <= 3) {  // vertical
                p.Write(mmr::kVertical[d + 3]);
                a0 = a1;
                white = !white;
                k += 1;
            } else {  // horizontal: the runs a0..a1 and a1..a2
                const std::int32_t a2 = a[k + 1];
                p.Write(mmr::kHorizontal);
                p.Run(white ? mmr::kWhiteRuns : mmr::kBlackRuns, a1 - a0);
                p.Run(white ? mmr::kBlackRuns : mmr::kWhiteRuns, a2 - a1);
                a0 = a2;
                k += 2;
            }
            if (a0 >= width) break;
            bound = a0;
        }
        p.StoreTo(BitWriter);
        std::int32_t* swap = current;
        current = reference;
        reference = swap;
    }
    return 0;
}

}  // namespace varnu
