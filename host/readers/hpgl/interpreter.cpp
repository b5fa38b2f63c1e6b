#include "readers/hpgl/interpreter.h"

#include <cctype>
#include <cstring>

#include "readers/hpgl/limits.h"
#include "readers/hpgl/rtl.h"

namespace varnu::host::hpgl {

namespace {

constexpr int kEscape = 0x1b;
constexpr std::string_view kUel = "\x1b%-12345X";

// Language names of PJL's ENTER LANGUAGE that are HP-GL/2.
bool IsGl(std::string line) {
    for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return line.find("HPGL") != std::string::npos || line.find("HP-GL") != std::string::npos;
}

}  // namespace

Interpreter::Interpreter(std::string_view bytes, const PageStart& start, double defaultX,
                         double defaultY, Sink* sink)
    : in_(bytes, start.offset),
      s_(start.state),
      defaultX_(defaultX),
      defaultY_(defaultY),
      sink_(sink),
      raster_(std::make_unique<RasterBuilder>()) {}

Interpreter::~Interpreter() = default;

PageStart Interpreter::FileStart(std::string_view bytes, double defaultX, double defaultY) {
    PageStart start;
    State& s = start.state;
    s.frame.pageX = defaultX;
    s.frame.pageY = defaultY;
    s.frame.DefaultPoints();
    s.pens.Defaults();
    s.lines.Defaults();
    s.rtl.DefaultPalette();
    Stream in(bytes);
    while (!in.AtEnd() && std::isspace(in.Peek())) in.Skip(1);
    s.mode = in.StartsWith("@PJL") ? Mode::Pjl : in.Peek() == kEscape ? Mode::Rtl : Mode::Gl;
    return start;
}

bool Interpreter::NextPage(PageInfo* page) {
    drawn_ = false;
    while (!in_.AtEnd()) {
        pageEnded_ = false;
        Step();
        if (!pageEnded_) continue;
        if (drawn_) break;
    }
    if (in_.AtEnd() && !pageEnded_) {
        if (polygonMode_ && polygonPoints_ > 1)
            in_.Fail("the polygon buffer opened here is never closed (no PM2 before the end)",
                     polygonStart_);
        EndPage();
    }
    if (!drawn_) return false;
    page->sized = s_.pageSized;
    page->pageX = s_.frame.pageX;
    page->pageY = s_.frame.pageY;
    page->end = in_.offset();
    return true;
}

void Interpreter::EndPage() {
    Flush();
    if (polygonMode_) {
        ++skipped_["polygon buffer left open at a page's end"];
        polygonMode_ = false;
        polygon_.clear();
        edgesDown_.clear();
        polygonPoints_ = 0;
    }
    EndRaster();
    raster_->FlushPending(sink_);
    pageEnded_ = true;
    pagePoints_ = labelChars_ = 0;
    raster_->held = 0;
    raster_->pixels = 0;
}

void Interpreter::Step() {
    commandStart_ = in_.offset();
    if (s_.mode == Mode::Pjl) return Pjl();
    if (s_.mode == Mode::Gl) SkipToCommand(in_);
    const int c = in_.Peek();
    if (c < 0) return;
    if (c == kEscape) return Escape();
    if (s_.mode == Mode::Gl && std::isalpha(c)) return GlCommand();
    in_.Skip(1);
    // HP-RTL prints no text; HP-GL has no bytes outside its commands.
    if (s_.mode == Mode::Gl && ++strayBytes_ > kMaxStrayBytes)
        Fail("more than 65536 bytes that are no HP-GL command: not a plot file?");
}

// PJL lines up to ENTER LANGUAGE, or up to the first line that is not PJL.
void Interpreter::Pjl() {
    while (true) {
        while (in_.Peek() == '\r' || in_.Peek() == '\n' || in_.Peek() == ' ') in_.Skip(1);
        if (in_.StartsWith(kUel)) {
            in_.Skip(kUel.size());
            continue;
        }
        if (!in_.StartsWith("@PJL")) break;
        std::string line;
        for (int c = in_.Get(); c != '\n' && c >= 0; c = in_.Get()) {
            if (line.size() >= kMaxPjlLine) in_.Fail("a PJL line longer than 4096 bytes");
            line += static_cast<char>(c);
        }
        std::string upper = line;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper.find("ENTER") != std::string::npos &&
            upper.find("LANGUAGE") != std::string::npos) {
            s_.mode = IsGl(upper) ? Mode::Gl : Mode::Rtl;
            return;
        }
    }
    s_.mode = in_.Peek() == kEscape ? Mode::Rtl : Mode::Gl;
}

void Interpreter::Escape() {
    if (in_.StartsWith(kUel)) {
        in_.Skip(kUel.size());
        EndRaster();
        s_.mode = Mode::Pjl;
        if (drawn_) EndPage();
        return;
    }
    in_.Skip(1);
    const int family = in_.Get();
    if (family == 'E') {  // reset: a new page when this one drew
        EndRaster();
        s_.rtl = RtlSettings{};
        s_.rtl.DefaultPalette();
        if (drawn_) EndPage();
        return;
    }
    if (family == '%') {
        double v = 0;
        const bool given = NextNumber(in_, &v);
        const int end = in_.Get();
        if (end == 'A') {
            Flush();
            if (given && v >= 1) s_.rtl.cap = PageToCap(s_, s_.frame.Page(s_.pen));
            s_.mode = Mode::Rtl;
        } else if (end == 'B') {
            EndRaster();
            if (given && v >= 1 && s_.mode == Mode::Rtl) s_.pen = RtlCapToPen(s_);
            s_.mode = Mode::Gl;
        } else {
            Unknown("escape sequence");
        }
        return;
    }
    if (family == '.') {  // a pen plotter's device control: not drawing
        const int op = in_.Get();
        if (op >= 0 && std::strchr("@HIMNTPS", op) != nullptr)
            for (std::size_t n = 0; in_.Peek() >= 0 && in_.Get() != ':'; ++n)
                if (n > kMaxPjlLine) Fail("a device control sequence without its end");
        return;
    }
    if (family >= 0x21 && family <= 0x2f) return RtlEscape(family);
    Unknown("escape sequence");
}

void Interpreter::Unknown(const std::string& what) {
    ++skipped_["unknown " + what];
}

}  // namespace varnu::host::hpgl
