#include "readers/hpgl/stream.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "readers/hpgl/limits.h"

namespace varnu::host::hpgl {

std::string_view Stream::Take(std::size_t n, const char* what) {
    if (n > Left())
        Fail(std::string(what) + " of " + std::to_string(n) + " bytes, but the file ends after " +
             std::to_string(Left()));
    const std::string_view taken = bytes_.substr(at_, n);
    at_ += n;
    return taken;
}

void Stream::Fail(const std::string& what, std::size_t at) const {
    throw Refusal{at, what};
}

void SkipToCommand(Stream& in) {
    for (int c = in.Peek();
         c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == 0;
         c = in.Peek())
        in.Skip(1);
}

namespace {

bool Blank(int c) {
    return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool NextNumber(Stream& in, double* value) {
    while (Blank(in.Peek())) in.Skip(1);
    const int c = in.Peek();
    if (!(std::isdigit(c) || c == '-' || c == '+' || c == '.')) return false;
    char text[kMaxNumberChars + 1];
    std::size_t n = 0;
    bool point = false;
    for (int d = in.Peek(); n < kMaxNumberChars; d = in.Peek()) {
        const bool sign = n == 0 && (d == '-' || d == '+');
        if (!(std::isdigit(d) || sign || (d == '.' && !point))) break;
        point = point || d == '.';
        text[n++] = static_cast<char>(in.Get());
    }
    if (std::isdigit(in.Peek())) in.Fail("a number longer than 40 characters");
    text[n] = '\0';
    const double v = std::strtod(text, nullptr);  // a lone sign or point reads 0
    *value = std::isfinite(v) ? std::clamp(v, -kMaxMagnitude, kMaxMagnitude) : 0.0;
    return true;
}

void EndCommand(Stream& in) {
    // Numbers and quoted strings (BP's name, CO's comment), in any order.
    for (bool more = true; more;) {
        for (double ignored; NextNumber(in, &ignored);) {
        }
        while (Blank(in.Peek())) in.Skip(1);
        more = in.Peek() == '"';
        if (!more) break;
        in.Skip(1);
        std::size_t n = 0;
        for (int c = in.Get(); c != '"'; c = in.Get(), ++n)
            if (c < 0 || n > kMaxLabelChars) in.Fail("a quoted string without its end");
    }
    if (in.Peek() == ';') in.Skip(1);
}

int NextInt(Stream& in, int fallback) {
    double v = 0;
    return NextNumber(in, &v) ? static_cast<int>(std::trunc(v)) : fallback;
}

}  // namespace varnu::host::hpgl
