// PE: polyline encoded, coordinates as base-64 (8-bit) or base-32 (7-bit)
// digits, the lowest first, the last marked by its range.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "readers/hpgl/interpreter.h"
#include "readers/hpgl/limits.h"

namespace varnu::host::hpgl {

namespace {

bool Final(int d, bool sevenBit) {
    return sevenBit ? d >= 95 && d <= 126 : d >= 191 && d <= 254;
}

bool More(int d, bool sevenBit) {
    return sevenBit ? d >= 63 && d <= 94 : d >= 63 && d <= 126;
}

// One number whose first digit is `first`, its sign in its lowest bit.
double Decode(Stream& in, int first, bool sevenBit, int fraction) {
    const std::size_t start = in.offset() - 1;
    const int shift = sevenBit ? 5 : 6;
    std::uint64_t value = 0;
    int digits = 0;
    for (int d = first;; d = in.Get()) {
        if (d == '\r' || d == '\n') continue;  // lines wrapped by a writer
        const bool last = Final(d, sevenBit);
        if (!last && !More(d, sevenBit))
            in.Fail("a PE number cut short by a byte out of its digits' range", start);
        if (++digits > kMaxPeDigits) in.Fail("a PE number of more than 8 digits", start);
        value |= static_cast<std::uint64_t>(d - (last ? (sevenBit ? 95 : 191) : 63))
                 << (shift * (digits - 1));
        if (last) break;
    }
    const double magnitude = std::min(static_cast<double>(value >> 1), kMaxMagnitude) /
                             static_cast<double>(1u << fraction);
    return (value & 1) != 0 ? -magnitude : magnitude;
}

}  // namespace

void Interpreter::Encoded() {
    bool sevenBit = false, up = false, absolute = false;
    int fraction = 0;
    double pending[2];
    int have = 0;
    while (true) {
        const int c = in_.Peek();
        if (c < 0 || c == 0x1b) break;
        in_.Skip(1);
        if (c == ';') break;
        if (c == '7') {
            sevenBit = true;
        } else if (c == '<') {
            up = true;
        } else if (c == '=') {
            absolute = true;
        } else if (c == '>' || c == ':') {
            const int first = in_.Get();
            const double v = Decode(in_, first, sevenBit, 0);
            if (c == '>') fraction = static_cast<int>(std::clamp(v, 0.0, 26.0));
            if (c == ':') {
                Flush();
                s_.pens.selected = static_cast<int>(std::clamp(v, 0.0, 1e6));
            }
        } else if (More(c, sevenBit) || Final(c, sevenBit)) {
            pending[have++] = Decode(in_, c, sevenBit, fraction);
            if (have < 2) continue;
            have = 0;
            const Point2 here = s_.frame.User(s_.pen);
            const Point2 user = absolute ? Point2{pending[0], pending[1]}
                                         : Point2{here.x + pending[0], here.y + pending[1]};
            PenTo(s_.frame.Plotter(user), !up);
            s_.down = !up;
            up = absolute = false;
        } else if (c > ' ' && ++strayBytes_ > kMaxStrayBytes) {
            Fail("more than 65536 bytes that are no HP-GL command: not a plot file?");
        }
    }
}

}  // namespace varnu::host::hpgl
