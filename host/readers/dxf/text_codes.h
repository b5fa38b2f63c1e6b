// The text codes of DXF files: escapes, %% codes, code pages, and the runs
// of text drawn alike that TEXT and MTEXT are made of.
#pragma once

#include <string>
#include <vector>

namespace varnu::host::dxf {

// A piece of text drawn alike: its height, pen (0 for the entity's) and lines.
struct Run {
    std::string text;
    double height = 0;
    int pen = 0;
    bool under = false, over = false;
    std::string font;     // a font file of the text's STYLE; "" for the system sans
    double width = 1;     // MTEXT's \W: of the letters' widths
    double tracking = 1;  // MTEXT's \T: of the letters' advances
    int align = 0;        // MTEXT's \A: 0 on the baseline, 1 centred, 2 at the top of the line
    // MTEXT's \S: `text` stacked over `denominator`, with a bar ('/'), a
    // slash ('#') or neither ('^') between them; 0 when not stacked.
    char stack = 0;
    std::string denominator;
};

// Plain text of `height` in `font`.
Run PlainRun(double height, std::string font = "");
// `text` in the format of `format`, without copying its text (which may be
// a paragraph of megabytes).
Run WithText(const Run& format, std::string text);
bool SameFormat(const Run& a, const Run& b);
// `run` at the end of `runs`, as part of the last run when drawn alike: each
// run is measured and outlined once.
void Append(std::vector<Run>* runs, const Run& run);
std::string Joined(const std::vector<Run>& runs);

void AppendUtf8(std::string* out, unsigned cp);
// A \U+XXXX escape at text[i] appended as UTF-8; its length, 0 when there is none.
std::size_t UnicodeEscape(const std::string& text, std::size_t i, std::string* out);
// The %% codes: %%d degree, %%p plus-minus, %%c diameter, %%% percent, %%nnn
// a character code; %%u and %%o turn under- and overlining on and off.
std::vector<Run> PercentCodes(const std::string& text, Run format);

// MTEXT's paragraphs (\P) of runs in `format` as its inline codes change
// it: \H height (absolute, or relative ending in x; kept within a thousand
// times `height` either way), \W width, \T tracking, \A alignment, \C
// colour, \L \l underline, \O \o overline, \S stacking, in groups { };
// fonts and the other codes with a value are read past.
std::vector<std::vector<Run>> MTextParagraphs(const std::string& text, Run format, double height);

bool ValidUtf8(const std::string& text);
// `text` from the code page `name` ("ANSI_1252", as $DWGCODEPAGE gives it)
// into UTF-8; false when it cannot be.
bool FromCodePage(const std::string& text, std::string name, std::string* out);
std::string Upper(std::string text);

}  // namespace varnu::host::dxf
