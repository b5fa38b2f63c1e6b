#include "raster/dither.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "config/tone_curve.h"
#include "raster/raster_output.h"
#include "varnu/threshold_matrix.h"

namespace varnu {

namespace {

// Level per grey for the current image: 255 - ToneCurve[grey].
std::uint8_t LevelOfGrey[256];

// Level per weighted sum 30 R + 59 G + 11 B of a colour pixel: the grey is
// the sum / 100, truncated (a grey pixel R = G = B gives R). One table read
// instead of a division and a second read.
constexpr int kLargestSum = 100 * 255;
std::uint8_t LevelOfSum[kLargestSum + 1];

// A colour pixel as one number, to compare pixels whole.
inline std::uint32_t PackedColour(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16;
}

inline std::uint8_t LevelOf(const std::uint8_t* rgb) {
    return LevelOfSum[30 * rgb[0] + 59 * rgb[1] + 11 * rgb[2]];
}

// A page word stored past the caches: the page is written once, row after
// row, and read only when the whole image is in, so reading each line of it
// into the cache first (and evicting what the dither uses) buys nothing.
inline void StorePageWord(std::uint32_t* at, std::uint32_t word) {
#if defined(__SSE2__)
    _mm_stream_si32(reinterpret_cast<int*>(at), static_cast<int>(word));
#else
    *at = word;
#endif
}

}  // namespace

void FinishPageWrites() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

bool OneColourPortable(const std::uint8_t* p, std::int32_t pixels) {
    // Each byte equals the one three later: every pixel is the first.
    return pixels <= 1 || std::memcmp(p, p + 3, 3 * static_cast<std::size_t>(pixels) - 3) == 0;
}

namespace {

// OneColour, inlined where the count is a constant.
inline bool SameColour(const std::uint8_t* p, std::int32_t pixels) {
#if defined(__SSE2__)
    // The same test 16 bytes at a time; the last block overlaps the one before.
    if (pixels < 7) return OneColourPortable(p, pixels);
    const std::int32_t last = 3 * pixels - 19;
    __m128i same = _mm_set1_epi8(-1);
    for (std::int32_t k = 0;; k += 16) {
        if (k > last) k = last;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 3));
        same = _mm_and_si128(same, _mm_cmpeq_epi8(a, b));
        if (k == last) break;
    }
    return _mm_movemask_epi8(same) == 0xFFFF;
#else
    return OneColourPortable(p, pixels);
#endif
}

}  // namespace

bool OneColour(const std::uint8_t* p, std::int32_t pixels) {
    return SameColour(p, pixels);
}

namespace {

// Levels of `count` colour pixels. Paper and filled areas are the common
// case of drawings: 16 pixels of one colour cost one test, one read and one
// store.
void ColourLevels(const std::uint8_t* pixels, std::int32_t count, std::uint8_t* level) {
    std::int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const std::uint8_t* p = pixels + 3 * i;
        // A photograph's pixels rarely end as they start: no test of all 16.
        if (PackedColour(p) == PackedColour(p + 45) && SameColour(p, 16)) {
            std::memset(level + i, LevelOf(p), 16);
            continue;
        }
        for (int k = 0; k < 16; ++k) level[i + k] = LevelOf(p + 3 * k);
    }
    for (; i < count; ++i) level[i] = LevelOf(pixels + 3 * i);
}

// Widens `count` levels at the start of `level` to n each, in place, from
// the back so that nothing is overwritten before it is read.
void Replicate(std::uint8_t* level, std::int32_t count, std::int32_t n) {
    for (std::int32_t i = count - 1; i >= 0; --i) {
        const std::uint8_t v = level[i];
        std::uint8_t* out = level + static_cast<std::size_t>(i) * n;
        for (std::int32_t k = 0; k < n; ++k) out[k] = v;
    }
}

// Thresholds with 256 taken as 255, so that "level >= threshold" makes level
// 255 black everywhere and level 0 white everywhere, as the masks do.
constexpr ThresholdRows BuildCappedThresholds() {
    ThresholdRows capped{};
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c)
            capped[r][c] = ThresholdMatrix[r][c] > 255 ? 255 : ThresholdMatrix[r][c];
    return capped;
}
constexpr ThresholdRows kCappedThresholds = BuildCappedThresholds();

// Reverses the bit order of a byte: movemask gives pixel 0 in bit 0, the
// page wants it in the top bit.
constexpr std::array<std::uint8_t, 256> BuildBitReversal() {
    std::array<std::uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        int r = 0;
        for (int b = 0; b < 8; ++b)
            if (v & (1 << b)) r |= 0x80 >> b;
        table[v] = static_cast<std::uint8_t>(r);
    }
    return table;
}
constexpr auto kBitReversal = BuildBitReversal();

std::uint32_t* CurrentPageRow(const RasterStateRecord& r) {
    return reinterpret_cast<std::uint32_t*>(r.pageBuffer +
                                            static_cast<std::size_t>(r.rowCounter) * r.stride);
}

void DitherRow(std::int32_t y, std::uint32_t* out) {
    DitherWords(Image.RasterState.levels, Image.RasterState.width / 32, y, out);
}

}  // namespace

void BuildDitherMasks() {
    for (int r = 0; r < 16; ++r) {
        for (int level = 0; level < 256; ++level) {
            std::uint16_t mask = 0;
            for (int c = 0; c < 16; ++c) {
                // Level 255 is black even where the threshold is 256.
                if (level == 255 || (level != 0 && level >= ThresholdMatrix[r][c]))
                    mask |= static_cast<std::uint16_t>(0x8000u >> c);
            }
            Image.DitherMasks[r][level] = mask;
        }
    }
    for (int g = 0; g < 256; ++g)
        LevelOfGrey[g] = static_cast<std::uint8_t>(255 - Configuration.ToneCurve[g]);
    for (int sum = 0; sum <= kLargestSum; ++sum) LevelOfSum[sum] = LevelOfGrey[sum / 100];
}

void DitherWordsPortable(const std::uint8_t* level, std::int32_t words, std::int32_t y,
                         std::uint32_t* out) {
    const std::uint16_t* masks = Image.DitherMasks[y % 16];
    for (std::int32_t w = 0; w < words; ++w, level += 32) {
        std::uint32_t bits = 0;
        for (int i = 0; i < 16; ++i)
            bits |= static_cast<std::uint32_t>(masks[level[i]] & (0x8000u >> i)) << 16;
        for (int i = 0; i < 16; ++i) bits |= masks[level[16 + i]] & (0x8000u >> i);
        out[w] = bits;
    }
}

void DitherWords(const std::uint8_t* level, std::int32_t words, std::int32_t y,
                 std::uint32_t* out) {
#if defined(__SSE2__)
    // The masks' decision as "level >= capped threshold", 16 pixels at a time.
    std::uint8_t row[16];
    for (int c = 0; c < 16; ++c) row[c] = static_cast<std::uint8_t>(kCappedThresholds[y % 16][c]);
    const __m128i thresholds = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
    for (std::int32_t w = 0; w < words; ++w, level += 32) {
        std::uint32_t halves[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(level + 16 * h));
            const __m128i black = _mm_cmpeq_epi8(_mm_max_epu8(v, thresholds), v);  // v >= threshold
            const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(black));
            halves[h] = static_cast<std::uint32_t>(kBitReversal[bits & 0xFF]) << 8 |
                        kBitReversal[bits >> 8];
        }
        StorePageWord(out + w, halves[0] << 16 | halves[1]);
    }
#else
    DitherWordsPortable(level, words, y, out);
#endif
}

namespace {

// The page word of 32 pixels of one level in row y: the row's mask twice.
inline std::uint32_t SolidWord(const std::uint16_t* masks, std::uint8_t level) {
    return static_cast<std::uint32_t>(masks[level]) * 0x10001u;
}

// Which of 4 pixels are whole, by 12 bits of byte matches (a pixel's three
// bytes from the low bit up): pixel j's bit is bit 3 - j.
constexpr std::array<std::uint8_t, 4096> BuildWholePixels() {
    std::array<std::uint8_t, 4096> table{};
    for (int bits = 0; bits < 4096; ++bits)
        for (int j = 0; j < 4; ++j)
            if (((bits >> (3 * j)) & 7) == 7) table[bits] |= static_cast<std::uint8_t>(8 >> j);
    return table;
}
constexpr auto kWholePixels = BuildWholePixels();

// One colour's three bytes repeated over 48 bytes, for comparing 16 pixels
// at once, and its level.
struct ColourPattern {
    std::uint32_t rgb = 0xFFFFFFFF;  // no colour yet
    std::uint8_t level = 0;
    alignas(16) std::uint8_t bytes[48];
};

// The patterns of the last two colours a line's words met (paper and ink,
// mostly); a third takes the place of the one used longer ago.
class ColourPatterns {
  public:
    const ColourPattern& Of(const std::uint8_t* p) {
        const std::uint32_t v = PackedColour(p);
        if (patterns_[last_].rgb == v) return patterns_[last_];
        last_ ^= 1;
        ColourPattern& c = patterns_[last_];
        if (c.rgb == v) return c;
        c.rgb = v;
        c.level = LevelOf(p);
        std::memcpy(c.bytes, p, 3);
        for (std::size_t n = 3; n < 48; n *= 2)
            std::memcpy(c.bytes + n, c.bytes, std::min<std::size_t>(n, 48 - n));
        return c;
    }

  private:
    ColourPattern patterns_[2];
    int last_ = 0;
};

// The 32 pixels at p of the pattern's colour, pixel 0 in bit 31.
std::uint32_t PixelsOfColour(const std::uint8_t* p, const ColourPattern& colour) {
    std::uint64_t low = 0;  // a bit per byte that matches: bytes 0-63, then 64-95
    std::uint32_t high = 0;
#if defined(__SSE2__)
    const auto matches = [&](int at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(colour.bytes + at % 48));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, c)));
    };
    low = matches(0) | std::uint64_t{matches(16)} << 16 | std::uint64_t{matches(32)} << 32 |
          std::uint64_t{matches(48)} << 48;
    high = matches(64) | matches(80) << 16;
#else
    for (int i = 0; i < 64; ++i)
        if (p[i] == colour.bytes[i % 48]) low |= std::uint64_t{1} << i;
    for (int i = 64; i < 96; ++i)
        if (p[i] == colour.bytes[i % 48]) high |= 1u << (i - 64);
#endif
    if (low == ~std::uint64_t{0} && high == 0xFFFFFFFFu) return 0xFFFFFFFFu;  // all of them
    std::uint32_t pixels = 0;
    for (int at = 0; at < 96; at += 12) {
        const std::uint64_t group = at + 12 <= 64 ? low >> at
                                    : at >= 64    ? high >> (at - 64)
                                                  : low >> at | std::uint64_t{high} << (64 - at);
        pixels = pixels << 4 | kWholePixels[group & 0xFFF];
    }
    return pixels;
}

}  // namespace

void DitherColourLine(const std::uint8_t* pixels, std::int32_t count, std::int32_t y,
                      std::uint32_t* out) {
    // Words of one colour (paper, fills) or two (strokes over paper, the
    // edges of fills) go straight from the masks; the words between them go
    // through levels and DitherWords a run at a time.
    const std::int32_t words = Image.RasterState.width / 32;
    const std::uint16_t* masks = Image.DitherMasks[y % 16];
    std::uint8_t* level = Image.RasterState.levels;
    std::int32_t pending = 0;  // first word not yet written
    const auto flush = [&](std::int32_t to, std::int32_t pixelsTo) {
        ColourLevels(pixels + 96 * static_cast<std::size_t>(pending), pixelsTo - 32 * pending,
                     level + 32 * pending);
        DitherWords(level + 32 * pending, to - pending, y, out + pending);
    };
    ColourPatterns colours;
    const std::int32_t whole = count / 32;
    for (std::int32_t w = 0; w < whole; ++w) {
        const std::uint8_t* p = pixels + 96 * static_cast<std::size_t>(w);
        // A photograph's word rarely meets its first colour again: such a
        // word goes to the levels at once.
        const std::uint32_t v = PackedColour(p);
        if (v != PackedColour(p + 3) && v != PackedColour(p + 93)) continue;
        const ColourPattern& first = colours.Of(p);
        const std::uint32_t same = PixelsOfColour(p, first);
        std::uint32_t word = SolidWord(masks, first.level);
        if (same != 0xFFFFFFFFu) {
            const std::uint8_t* q = p + 3 * __builtin_clz(~same);  // the first of another colour
            const ColourPattern& second = colours.Of(q);
            const std::uint32_t other = PixelsOfColour(p, second);
            if ((same | other) != 0xFFFFFFFFu) continue;
            word = (word & same) | (SolidWord(masks, second.level) & other);
        }
        if (pending < w) flush(w, 32 * w);
        StorePageWord(out + w, word);
        pending = w + 1;
    }
    // The word the line ends in, padded white; then white words to W.
    const std::uint8_t white = LevelOfGrey[255];
    const std::int32_t used = (count + 31) / 32;
    if (pending < used) {
        std::memset(level + count, white, static_cast<std::size_t>(32 * used - count));
        flush(used, count);
    }
    for (std::int32_t w = used; w < words; ++w) StorePageWord(out + w, SolidWord(masks, white));
}

void DitherColourLinePortable(const std::uint8_t* pixels, std::int32_t count, std::int32_t y,
                              std::uint32_t* out) {
    std::uint8_t* level = Image.RasterState.levels;
    for (std::int32_t i = 0; i < count; ++i) level[i] = LevelOf(pixels + 3 * i);
    std::memset(level + count, LevelOfGrey[255],
                static_cast<std::size_t>(Image.RasterState.width - count));
    DitherWordsPortable(level, Image.RasterState.width / 32, y, out);
}

std::int32_t AddImageLine(std::int32_t count, const std::uint8_t* pixels, bool bilevel,
                          std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    // A line longer than the grid is cut to it, a shorter one padded white.
    if (count > Image.RasterState.pixelsPerLine) count = Image.RasterState.pixelsPerLine;
    if (count < 0 || pixels == nullptr) count = 0;
    const std::int32_t n = Image.RasterState.replication;
    std::uint8_t* level = Image.RasterState.levels;
    const std::uint8_t white = LevelOfGrey[255];
    if (n == 1 && !bilevel && Image.RasterState.transparent == 0) {
        // A colour line unwidened: one page row, straight from the pixels.
        if (Image.RasterState.rowCounter < Image.RasterState.nominalRows) {
            DitherColourLine(pixels, count, Image.RasterState.rowCounter,
                             CurrentPageRow(Image.RasterState));
            ++Image.RasterState.rowCounter;
        }
        return 0;
    }

    // One level per source pixel, then widened to n device pixels each.
    if (bilevel) {
        const std::uint8_t ink = LevelOfGrey[(30 * red + 59 * green + 11 * blue) / 100];
        for (std::int32_t i = 0; i < count; ++i) level[i] = pixels[i] != 0 ? ink : white;
    } else if (Image.RasterState.transparent != 0) {
        // The key colour of a transparent image prints white.
        for (std::int32_t i = 0; i < count; ++i) {
            const std::uint8_t* p = pixels + 3 * i;
            level[i] = p[0] == 0 && p[1] == 1 && p[2] == 2 ? white : LevelOf(p);
        }
    } else {
        ColourLevels(pixels, count, level);
    }
    if (n > 1) Replicate(level, count, n);
    level += static_cast<std::size_t>(count) * n;
    // The rest of the row, up to W, is white paper through the same curve.
    std::memset(
        level, white,
        static_cast<std::size_t>(Image.RasterState.width - (level - Image.RasterState.levels)));

    for (std::int32_t k = 0; k < n && Image.RasterState.rowCounter < Image.RasterState.nominalRows;
         ++k) {
        DitherRow(Image.RasterState.rowCounter, CurrentPageRow(Image.RasterState));
        ++Image.RasterState.rowCounter;
    }
    return 0;
}

}  // namespace varnu
