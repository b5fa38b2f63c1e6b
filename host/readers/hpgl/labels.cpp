// The label commands: LB with DT, SI, SR, DI, DR, CP, SD, AD and SM.
#include <algorithm>
#include <cmath>

#include "readers/hpgl/interpreter.h"
#include "readers/hpgl/limits.h"
#include "readers/hpgl/text.h"

namespace varnu::host::hpgl {

void Interpreter::DefineTerminator() {
    const int c = in_.Peek();
    if (c == ';' || c < 0) {
        in_.Skip(c < 0 ? 0 : 1);
        s_.labels.terminator = 3;
        s_.labels.printTerminator = false;
        return;
    }
    in_.Skip(1);
    s_.labels.terminator = c;
    s_.labels.printTerminator = NextInt(in_, 1) == 0;
    EndCommand(in_);
}

std::string Interpreter::ReadLabelText() {
    std::string text;
    const std::size_t start = in_.offset();
    for (int c = in_.Get(); c != s_.labels.terminator; c = in_.Get()) {
        if (c < 0) in_.Fail("a label without its terminator", start);
        if (text.size() >= kMaxLabelChars)
            in_.Fail("a label longer than 16384 characters (no terminator?)", start);
        text += static_cast<char>(c);
    }
    if (s_.labels.printTerminator && s_.labels.terminator >= 32)
        text += static_cast<char>(s_.labels.terminator);
    return text;
}

void Interpreter::Label() {
    const std::string text = ReadLabelText();
    if ((labelChars_ += text.size()) > kMaxPageLabelChars)
        Fail("more than 1000000 label characters on a page: refused rather than followed");
    DrawText(text, false);
}

void Interpreter::CharacterSize(bool relative) {
    double w = 0, h = 0;
    const bool given = NextNumber(in_, &w) && NextNumber(in_, &h);
    EndCommand(in_);
    Labels& l = s_.labels;
    l.size = !given     ? Labels::Size::Font
             : relative ? Labels::Size::Relative
                        : Labels::Size::Absolute;
    l.width = w, l.height = h;
}

void Interpreter::Direction(bool relative) {
    double run = 1, rise = 0;
    const bool given = NextNumber(in_, &run) && NextNumber(in_, &rise);
    EndCommand(in_);
    Labels& l = s_.labels;
    if (!given || (run == 0 && rise == 0)) run = 1, rise = 0;
    l.direction = {run, rise};
    l.relativeDirection = given && relative;
}

void Interpreter::FontDefinition(int which) {
    Font& f = s_.labels.fonts[static_cast<std::size_t>(which)];
    double kind = 0, value = 0;
    bool any = false;
    while (NextNumber(in_, &kind) && NextNumber(in_, &value)) {
        any = true;
        switch (static_cast<int>(kind)) {
            case 2:
                f.proportional = value == 1;
                break;
            case 3:
                if (value > 0) f.pitch = std::min(value, 1000.0);
                break;
            case 4:
                if (value > 0) f.height = std::min(value, 10000.0);
                break;
            case 5:
                f.posture = static_cast<int>(value);
                break;
            case 6:
                f.weight = static_cast<int>(value);
                break;
        }
    }
    EndCommand(in_);
    if (!any) f = Font{};
}

void Interpreter::SymbolMode() {
    const int c = in_.Peek();
    s_.labels.symbol = c > 32 && c != ';' && c < 127 ? c : 0;
    if (s_.labels.symbol != 0) in_.Skip(1);
    EndCommand(in_);
}

void Interpreter::CharacterPlot() {
    double spaces = 0, lines = 0;
    const bool given = NextNumber(in_, &spaces) && NextNumber(in_, &lines);
    EndCommand(in_);
    Flush();
    const Cell cell = CellOf(s_);
    const Point2 d = TextDirection(s_);
    if (!given) {  // carriage return and line feed
        s_.pen = {s_.labels.lineStart.x + d.y * cell.line, s_.labels.lineStart.y - d.x * cell.line};
        s_.labels.lineStart = s_.pen;
        return;
    }
    const double x = spaces * cell.advance, y = -lines * cell.line;
    s_.pen = {s_.pen.x + d.x * x - d.y * y, s_.pen.y + d.y * x + d.x * y};
    Point2& start = s_.labels.lineStart;  // lines move it with the pen
    start = {start.x - d.y * y, start.y + d.x * y};
}

}  // namespace varnu::host::hpgl
