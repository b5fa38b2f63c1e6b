#include "session/rgb24_lines.h"

#include <cstring>
#include <initializer_list>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VARNU_X86_SHUFFLES 1
#include <immintrin.h>
#endif

namespace varnu::host {

namespace {

// A word (B, G, R, 0 in memory) a pixel, each written as four bytes R, G,
// B, 0 whose spare byte the next one overwrites.
void Words(const std::uint8_t* origin, std::int64_t pixels, std::uint8_t* out) {
    const std::uint8_t* word = origin;
    for (std::int64_t p = 0; p + 1 < pixels; ++p, word -= 4, out += 3) {
        std::uint32_t v;
        std::memcpy(&v, word, 4);
        const std::uint32_t rgb = __builtin_bswap32(v << 8);  // R, G, B, 0 in memory
        std::memcpy(out, &rgb, 4);
    }
    if (pixels > 0) {
        std::uint32_t v;
        std::memcpy(&v, word, 4);
        out[0] = static_cast<std::uint8_t>(v >> 16);
        out[1] = static_cast<std::uint8_t>(v >> 8);
        out[2] = static_cast<std::uint8_t>(v);
    }
}

#ifdef VARNU_X86_SHUFFLES
// Four words into 12 bytes, the last word first, R, G, B each; the rest
// of the 16 bytes stored is overwritten by the next store.
#define VARNU_REVERSED_RGB 14, 13, 12, 10, 9, 8, 6, 5, 4, 2, 1, 0, -1, -1, -1, -1

__attribute__((target("ssse3"))) void Ssse3(const std::uint8_t* origin, std::int64_t pixels,
                                            std::uint8_t* out) {
    const __m128i shuffle = _mm_setr_epi8(VARNU_REVERSED_RGB);
    std::int64_t p = 0;
    for (; p + 6 <= pixels; p += 4, out += 12) {  // no store past the line's end
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(origin - 4 * p - 12));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, shuffle));
    }
    Words(origin - 4 * p, pixels - p, out);
}

// Eight words at a time: the later four, in the upper half, go first.
__attribute__((target("avx2"))) void Avx2(const std::uint8_t* origin, std::int64_t pixels,
                                          std::uint8_t* out) {
    const __m256i shuffle = _mm256_setr_epi8(VARNU_REVERSED_RGB, VARNU_REVERSED_RGB);
    std::int64_t p = 0;
    for (; p + 10 <= pixels; p += 8, out += 24) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(origin - 4 * p - 28));
        const __m256i rgb = _mm256_shuffle_epi8(v, shuffle);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(rgb, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_castsi256_si128(rgb));
    }
    Words(origin - 4 * p, pixels - p, out);
}
#undef VARNU_REVERSED_RGB

bool Has(Rgb24Way way) {
    __builtin_cpu_init();
    switch (way) {
        case Rgb24Way::Words:
            return true;
        case Rgb24Way::Ssse3:
            return __builtin_cpu_supports("ssse3");
        case Rgb24Way::Avx2:
            return __builtin_cpu_supports("avx2");
    }
    return false;
}
#else
bool Has(Rgb24Way way) {
    return way == Rgb24Way::Words;
}
#endif

using Put = void (*)(const std::uint8_t*, std::int64_t, std::uint8_t*);

Put Of(Rgb24Way way) {
#ifdef VARNU_X86_SHUFFLES
    if (way == Rgb24Way::Avx2) return Avx2;
    if (way == Rgb24Way::Ssse3) return Ssse3;
#endif
    return Words;
}

// Chosen once: every line of a rendered page passes here.
Put Fastest() {
    for (const Rgb24Way way : {Rgb24Way::Avx2, Rgb24Way::Ssse3})
        if (Has(way)) return Of(way);
    return Words;
}

}  // namespace

void PutRgb24Reversed(const std::uint8_t* origin, std::int64_t pixels, std::uint8_t* out) {
    static const Put put = Fastest();
    put(origin, pixels, out);
}

bool PutRgb24Reversed(Rgb24Way way, const std::uint8_t* origin, std::int64_t pixels,
                      std::uint8_t* out) {
    if (!Has(way)) return false;
    Of(way)(origin, pixels, out);
    return true;
}

}  // namespace varnu::host
