#include "readers/ipp_media.h"

#include <cups/cups.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "varnu/printer_tables.h"

namespace varnu {

namespace {

constexpr int kModel = 0;
// How far a requested size may be from a format's (hundredths of mm):
// a size rounded to points or to a tenth of a millimetre.
constexpr int kSizeSlack = 100;

int Hundredths(double inches) {
    return static_cast<int>(std::lround(inches * 2540));
}

// The standard size the table's approximation stands for: the formats are
// stored to a few thousandths of an inch, so try whole millimetres and
// half inches around them.
const pwg_media_t* StandardMedia(double widthInches, double lengthInches) {
    auto standard = [](int w, int l) -> const pwg_media_t* {
        const pwg_media_t* m = pwgMediaForSize(w, l);
        return m != nullptr && std::strncmp(m->pwg, "custom_", 7) != 0 ? m : nullptr;
    };
    const int w = Hundredths(widthInches), l = Hundredths(lengthInches);
    if (const pwg_media_t* m = standard(w, l)) return m;
    const double hw = std::round(widthInches * 2) / 2, hl = std::round(lengthInches * 2) / 2;
    if (std::fabs(Hundredths(hw) - w) <= kSizeSlack && std::fabs(Hundredths(hl) - l) <= kSizeSlack)
        if (const pwg_media_t* m = standard(Hundredths(hw), Hundredths(hl))) return m;
    const int mw = static_cast<int>(std::lround(w / 100.0)),
              ml = static_cast<int>(std::lround(l / 100.0));
    for (int dw = -1; dw <= 1; ++dw)
        for (int dl = -1; dl <= 1; ++dl)
            if (const pwg_media_t* m = standard((mw + dw) * 100, (ml + dl) * 100)) return m;
    return nullptr;
}

std::string Trimmed(const char* name) {
    std::string s(name);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// A format of the printer's own ("Sp. A0 880 x 1230"): an "om_" name of
// its label and the millimetres it gives.
FixedMedia OwnFormat(int row, const PaperFormatRecord& p) {
    const std::string name = Trimmed(p.name);
    std::string label;
    int w = 0, l = 0;
    std::size_t digits = name.find_first_of("0123456789", name.find(' ', name.find(' ') + 1));
    if (digits == std::string::npos || std::sscanf(name.c_str() + digits, "%d x %d", &w, &l) != 2) {
        digits = name.size();
        w = static_cast<int>(std::lround(p.width * 25.4));
        l = static_cast<int>(std::lround(p.length * 25.4));
    }
    for (std::size_t i = 0; i < digits; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (std::isalnum(c))
            label += static_cast<char>(std::tolower(c));
        else if (!label.empty() && label.back() != '-')
            label += '-';
    }
    while (!label.empty() && label.back() == '-') label.pop_back();
    char pwg[128];
    std::snprintf(pwg, sizeof pwg, "om_%s_%dx%dmm", label.c_str(), w, l);
    std::string ppd;  // letters and digits of the name, as the PPD always had them
    for (char c : name)
        if (std::isalnum(static_cast<unsigned char>(c))) ppd += c;
    return {row, pwg, ppd, w * 100, l * 100};
}

std::vector<std::string> PjlKeywords(const FinishingChoiceRecord* (*row)(std::int32_t,
                                                                         std::int32_t),
                                     int count) {
    std::vector<std::string> keywords;
    for (int i = 0; i < count; ++i) {
        const std::string line = row(kModel, i)->pjlLine;
        std::string k;
        for (std::size_t c = line.find('=') + 1; c < line.size() && line[c] != '\r'; ++c)
            k += static_cast<char>(std::tolower(static_cast<unsigned char>(line[c])));
        keywords.push_back(k);
    }
    return keywords;
}

}  // namespace

const std::vector<FixedMedia>& FixedFormats() {
    static const std::vector<FixedMedia> formats = [] {
        std::vector<FixedMedia> list;
        for (int row = 1; row <= PaperRowCount(kModel); ++row) {
            const PaperFormatRecord& p = *PaperFormat(kModel, row);
            if (p.custom != 0) continue;
            const pwg_media_t* m = StandardMedia(p.width, p.length);
            list.push_back(m != nullptr ? FixedMedia{row, m->pwg, m->ppd, m->width, m->length}
                                        : OwnFormat(row, p));
        }
        return list;
    }();
    return formats;
}

const std::vector<RollWidth>& RollWidths() {
    static const std::vector<RollWidth> rolls = [] {
        std::vector<RollWidth> list;
        for (int row = 1; row <= PaperRowCount(kModel); ++row) {
            const PaperFormatRecord& p = *PaperFormat(kModel, row);
            if (p.custom != 0) list.push_back({row, Hundredths(p.width), p.maxLengthMm});
        }
        return list;
    }();
    return rolls;
}

std::optional<PaperChoice> ChoosePaper(const std::string& pwgName, int width, int length) {
    for (const FixedMedia& f : FixedFormats())
        if (f.pwg == pwgName) return PaperChoice{f.row, std::nullopt};
    auto near = [](int a, int b) { return std::abs(a - b) <= kSizeSlack; };
    for (const FixedMedia& f : FixedFormats())
        if ((near(width, f.width) && near(length, f.length)) ||
            (near(width, f.length) && near(length, f.width)))
            return PaperChoice{f.row, std::nullopt};
    // The narrowest roll the width fits on, cut to the length.
    const int mm = static_cast<int>(std::lround(length / 100.0));
    const RollWidth* roll = nullptr;
    for (const RollWidth& r : RollWidths())
        if (r.width >= width - kSizeSlack && mm >= 1 && mm <= r.maxLengthMm &&
            (roll == nullptr || r.width < roll->width))
            roll = &r;
    if (roll == nullptr) return std::nullopt;
    return PaperChoice{roll->row, mm};
}

const std::vector<std::string>& MediaTypes() {
    // The PWG media type of each command the printer knows.
    static const std::vector<std::string> types = [] {
        struct Known {
            const char* command;
            const char* keyword;
        };
        static const Known known[] = {{"MT0;", "stationery"},
                                      {"MT1;", "film"},
                                      {"MT2;", "auto"},
                                      {"MT4;", "com.varnu.vellum"}};
        std::vector<std::string> list;
        for (int row = 0; row < MediaRowCount(kModel); ++row) {
            std::string keyword = "com.varnu.media-" + std::to_string(row);
            for (const Known& k : known)
                if (std::strcmp(Media(kModel, row)->hpglCommand, k.command) == 0)
                    keyword = k.keyword;
            list.push_back(keyword);
        }
        return list;
    }();
    return types;
}

std::vector<std::string> ProgramKeywords() {
    return PjlKeywords(FinishProgram, FinishProgramRowCount(kModel));
}
std::vector<std::string> FinishMarginKeywords() {
    return PjlKeywords(FinishMargin, FinishMarginRowCount(kModel));
}
std::vector<std::string> OutputBinKeywords() {
    return PjlKeywords(OutputBin, OutputBinRowCount(kModel));
}

std::vector<std::string> IppOutputBins() {
    std::vector<std::string> bins = OutputBinKeywords();
    for (std::string& bin : bins)
        if (bin == "dontcare")
            bin = "auto";
        else if (bin.rfind("bin_", 0) == 0)
            bin = "tray-" + bin.substr(4);
    return bins;
}

std::string ChoiceLabel(const std::string& keyword) {
    struct Label {
        const char* keyword;
        const char* english;
    };
    static constexpr Label kLabels[] = {
        {"stationery", "Plain paper"},    {"film", "Film"},
        {"auto", "Use plotter settings"}, {"com.varnu.vellum", "Vellum"},
        {"bypass", "Folder bypass"},      {"useprogram", "Use program settings"},
        {"marginsoff", "Always on"},      {"dontcare", "Any bin"},
        {"fanfold", "Fanfold output"},
    };
    for (const Label& l : kLabels)
        if (keyword == l.keyword) return l.english;
    if (keyword.rfind("program", 0) == 0) return "Program " + keyword.substr(7);
    if (keyword.rfind("bin_", 0) == 0) return "Bin " + keyword.substr(4);
    return keyword;
}

int RowOf(const std::vector<std::string>& keywords, const std::string& keyword) {
    for (std::size_t i = 0; i < keywords.size(); ++i)
        if (keywords[i] == keyword) return static_cast<int>(i);
    return -1;
}

}  // namespace varnu
