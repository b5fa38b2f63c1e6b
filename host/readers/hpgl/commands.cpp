// HP-GL commands by their mnemonics.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "readers/hpgl/interpreter.h"
#include "readers/hpgl/limits.h"

namespace varnu::host::hpgl {

namespace {

constexpr int Code(char a, char b) {
    return (a << 8) | b;
}

// Commands that change nothing this reader draws: device, output and
// media settings, and look that the driver cannot give (line ends and
// joins, screened vectors, fill patterns' anchors).
bool Ignored(int code) {
    static const char* const kIgnored[] = {
        "BP", "CO", "LA", "PT", "VS", "FS", "AS", "OA", "OC", "OD", "OE", "OF", "OG", "OH",
        "OI", "OL", "OO", "OP", "OS", "OT", "OW", "MC", "PP", "QL", "RF", "SV", "CF", "FI",
        "FN", "SB", "DL", "NR", "RP", "EC", "CT", "GC", "IV", "KY", "GM", "IM", "DC", "DP",
        "MT", "XF", "AC", "LM", "CA", "CS", "DV", "ST", "MG", "UF", "TD", "BF", "CM", "DS"};
    for (const char* m : kIgnored)
        if (Code(m[0], m[1]) == code) return true;
    return false;
}

}  // namespace

void Interpreter::GlCommand() {
    const int a = std::toupper(in_.Get());
    const int b = in_.Peek();
    if (!std::isalpha(b)) {  // a letter alone is no command
        if (++strayBytes_ > kMaxStrayBytes)
            Fail("more than 65536 bytes that are no HP-GL command: not a plot file?");
        return;
    }
    in_.Skip(1);
    const int code = Code(static_cast<char>(a), static_cast<char>(std::toupper(b)));
    if (SetupCommand(code) || VectorCommand(code) || LabelCommand(code)) return;
    if (!Ignored(code))
        Unknown(std::string("command ") + static_cast<char>(a) +
                static_cast<char>(std::toupper(b)));
    EndCommand(in_);
}

bool Interpreter::SetupCommand(int code) {
    switch (code) {
        case Code('I', 'N'):
            Initialize(true);
            break;
        case Code('D', 'F'):
            Initialize(false);
            break;
        case Code('P', 'S'):
            if (!PageSize()) {  // it sizes the next page
                in_.Seek(commandStart_);
                EndPage();
            }
            break;
        case Code('I', 'P'):
        case Code('I', 'R'):
            Flush();
            InputPoints(code == Code('I', 'R'));
            break;
        case Code('S', 'C'):
            Flush();
            Scale();
            break;
        case Code('I', 'W'):
            InputWindow();
            break;
        case Code('R', 'O'):
            Rotate();
            break;
        case Code('P', 'G'):
        case Code('F', 'R'):
        case Code('A', 'F'):
        case Code('A', 'H'):
            EndCommand(in_);
            if (drawn_) EndPage();
            break;
        default:
            return PenCommand(code);
    }
    return true;
}

bool Interpreter::PenCommand(int code) {
    switch (code) {
        case Code('S', 'P'):
            SelectPen();
            break;
        case Code('P', 'C'):
            PenColour();
            break;
        case Code('C', 'R'):
            ColourRange();
            break;
        case Code('N', 'P'):
            PenCount();
            break;
        case Code('P', 'W'):
            PenWidth();
            break;
        case Code('W', 'U'):
            WidthUnits();
            break;
        case Code('L', 'T'):
            LineTypeCommand();
            break;
        case Code('U', 'L'):
            UserLineType();
            break;
        case Code('F', 'T'):
            FillType();
            break;
        case Code('T', 'R'):
            s_.transparent = NextInt(in_, 1) != 0;
            EndCommand(in_);
            break;
        case Code('T', 'L'): {
            double plus = 0.5, minus = 0.5;
            if (NextNumber(in_, &plus) && !NextNumber(in_, &minus)) minus = 0;
            s_.tickPlus = std::clamp(plus, -100.0, 100.0);
            s_.tickMinus = std::clamp(minus, -100.0, 100.0);
            EndCommand(in_);
            break;
        }
        default:
            return false;
    }
    return true;
}

bool Interpreter::VectorCommand(int code) {
    switch (code) {
        case Code('P', 'U'):
            Plot(true, false, false, false);
            break;
        case Code('P', 'D'):
            Plot(true, true, false, false);
            break;
        case Code('P', 'A'):
            Plot(false, false, true, false);
            break;
        case Code('P', 'R'):
            Plot(false, false, true, true);
            break;
        case Code('P', 'E'):
            Encoded();
            break;
        case Code('C', 'I'):
            Circle();
            break;
        case Code('A', 'A'):
        case Code('A', 'R'):
            Arc(code == Code('A', 'R'));
            break;
        case Code('A', 'T'):
        case Code('R', 'T'):
            ThreePointArc(code == Code('R', 'T'));
            break;
        case Code('E', 'A'):
        case Code('E', 'R'):
        case Code('R', 'A'):
        case Code('R', 'R'):
            Rectangle(code == Code('E', 'R') || code == Code('R', 'R'),
                      code == Code('R', 'A') || code == Code('R', 'R'));
            break;
        case Code('E', 'W'):
        case Code('W', 'G'):
            Wedge(code == Code('W', 'G'));
            break;
        case Code('P', 'M'):
            PolygonMode();
            break;
        case Code('F', 'P'):
            FillPolygon();
            break;
        case Code('E', 'P'):
            EdgePolygon();
            break;
        case Code('X', 'T'):
        case Code('Y', 'T'):
            Ticks(code == Code('X', 'T'));
            break;
        default:
            return false;
    }
    return true;
}

bool Interpreter::LabelCommand(int code) {
    Labels& l = s_.labels;
    switch (code) {
        case Code('L', 'B'):
            Label();
            break;
        case Code('B', 'L'):
            l.buffered = ReadLabelText();
            break;
        case Code('P', 'B'):
            EndCommand(in_);
            DrawText(l.buffered, false);
            break;
        case Code('D', 'T'):
            DefineTerminator();
            break;
        case Code('S', 'I'):
        case Code('S', 'R'):
            CharacterSize(code == Code('S', 'R'));
            break;
        case Code('D', 'I'):
        case Code('D', 'R'):
            Direction(code == Code('D', 'R'));
            break;
        case Code('C', 'P'):
            CharacterPlot();
            break;
        case Code('S', 'D'):
        case Code('A', 'D'):
            FontDefinition(code == Code('A', 'D') ? 1 : 0);
            break;
        case Code('S', 'S'):
        case Code('S', 'A'):
            l.alternate = code == Code('S', 'A');
            EndCommand(in_);
            break;
        case Code('S', 'M'):
            SymbolMode();
            break;
        default:
            return LabelSetting(code);
    }
    return true;
}

bool Interpreter::LabelSetting(int code) {
    Labels& l = s_.labels;
    double v = 0;
    switch (code) {
        case Code('L', 'O'):
            l.origin = NextInt(in_, 1);
            break;
        case Code('S', 'L'):
            l.slant = NextNumber(in_, &v) ? std::clamp(v, -100.0, 100.0) : 0;
            break;
        case Code('E', 'S'):
            l.extraSpace = NextNumber(in_, &v) ? std::clamp(v, -100.0, 100.0) : 0;
            l.extraLine = NextNumber(in_, &v) ? std::clamp(v, -100.0, 100.0) : 0;
            break;
        case Code('W', 'D'):  // text for the plotter's display
            ReadLabelText();
            break;
        default:
            return false;
    }
    EndCommand(in_);
    return true;
}

}  // namespace varnu::host::hpgl
