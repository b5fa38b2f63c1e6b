// The T.4 code words (varnu/t4_codes.h) as the MMR coder writes them, each
// turned at compile time into a 32-bit value with its bits left-aligned
// (first bit in bit 31) and a count.
#pragma once

#include <array>
#include <cstdint>

#include "varnu/t4_codes.h"

namespace varnu::mmr {

struct Code {
    std::uint32_t bits;   // left-aligned
    std::uint32_t count;  // 1..13
};

constexpr Code ParseCode(const char* pattern) {
    Code c{0, 0};
    for (; pattern[c.count] != '\0'; ++c.count)
        if (pattern[c.count] == '1') c.bits |= 0x80000000u >> c.count;
    return c;
}

// Run-length tables: terminating codes 0..63 (entries 0-63), make-up codes
// 64..1728 (entries 64-90) and the shared extended make-up codes 1792..2560
// (entries 91-103).
inline constexpr int kRunCodes = 104;
using RunTable = std::array<Code, kRunCodes>;

constexpr RunTable BuildRunTable(const char* const (&patterns)[91]) {
    RunTable table{};
    for (int i = 0; i < 91; ++i) table[i] = ParseCode(patterns[i]);
    for (int i = 0; i < 13; ++i) table[91 + i] = ParseCode(t4::kExtendedMakeUp[i]);
    return table;
}

inline constexpr RunTable kWhiteRuns = BuildRunTable(t4::kWhitePatterns);
inline constexpr RunTable kBlackRuns = BuildRunTable(t4::kBlackPatterns);

// Mode codes; the vertical modes by a1 - b1 + 3.
inline constexpr Code kPass = ParseCode(t4::kPassPattern);
inline constexpr Code kHorizontal = ParseCode(t4::kHorizontalPattern);
inline constexpr std::array<Code, 7> kVertical = {
    ParseCode(t4::kVerticalPatterns[0]), ParseCode(t4::kVerticalPatterns[1]),
    ParseCode(t4::kVerticalPatterns[2]), ParseCode(t4::kVerticalPatterns[3]),
    ParseCode(t4::kVerticalPatterns[4]), ParseCode(t4::kVerticalPatterns[5]),
    ParseCode(t4::kVerticalPatterns[6]),
};
inline constexpr Code kEndOfLine = ParseCode(t4::kEndOfLinePattern);

}  // namespace varnu::mmr
