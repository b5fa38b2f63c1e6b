#include "readers/hpgl.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "model/fit.h"
#include "readers/hpgl/interpreter.h"
#include "readers/hpgl/limits.h"
#include "readers/hpgl/page_plot.h"
#include "readers/sized_pages.h"

namespace varnu::host {

namespace {

using hpgl::Interpreter;
using hpgl::kUnitsPerInch;
using hpgl::PageStart;
using hpgl::Refusal;

// The page a file without PS is read on to count its pages: a roll's
// width by a length.
constexpr double kReadX = 48 * kUnitsPerInch, kReadY = 36 * kUnitsPerInch;

std::string Why(const Refusal& r) {
    return r.offset == std::string::npos ? r.what
                                         : "byte " + std::to_string(r.offset) + ": " + r.what;
}

}  // namespace

bool LooksLikeHpgl(const std::string& bytes) {
    std::size_t i = 0;
    while (i < bytes.size() && (std::isspace(static_cast<unsigned char>(bytes[i])) ||
                                bytes[i] == ';' || bytes[i] == '\0'))
        ++i;
    if (i >= bytes.size()) return false;
    if (bytes[i] == 0x1b || bytes.compare(i, 4, "@PJL") == 0) return true;
    if (i + 1 >= bytes.size()) return false;
    const std::string m{static_cast<char>(std::toupper(static_cast<unsigned char>(bytes[i]))),
                        static_cast<char>(std::toupper(static_cast<unsigned char>(bytes[i + 1])))};
    // A plot file's first command. Its parameters are numbers or a
    // separator, so a text whose first word only starts with these letters
    // (a job script's "pen 1") is none; a label's and a terminator's are text.
    static const char* const kFirst[] = {"IN", "DF", "BP", "PS", "SP", "PU", "PA", "PD", "PR",
                                         "IP", "SC", "RO", "IW", "LT", "PW", "NP", "PC", "CO",
                                         "PG", "VS", "DT", "SI", "LB", "WU", "CR", "TR"};
    const bool textFollows = m == "LB" || m == "DT";
    if (!textFollows && i + 2 < bytes.size() &&
        std::isalpha(static_cast<unsigned char>(bytes[i + 2])))
        return false;
    for (const char* f : kFirst)
        if (m == f) return true;
    return false;
}

struct HpglDocument::Data {
    std::string path, bytes;
    int pages = 0;
    // Where each page starts, for the page size a file without PS takes.
    struct Page {
        PageStart start;
        hpgl::PageInfo info;
    };
    mutable std::map<std::pair<double, double>, std::vector<Page>> starts;
    // What was read but not drawn: by the reading, and by each page's plot
    // (the last made of it).
    mutable std::map<std::string, int> skipped;
    mutable std::map<int, std::map<std::string, int>> pageSkipped;

    const std::vector<Page>& Starts(double x, double y) const;
    // The box of what the page at `start` draws (page units, and inches).
    bool Drawn(const PageStart& start, double x, double y, Point2* low, Area* size) const;
};

const std::vector<HpglDocument::Data::Page>& HpglDocument::Data::Starts(double x, double y) const {
    auto found = starts.find({x, y});
    if (found != starts.end()) return found->second;
    if (starts.size() > 4) starts.clear();
    std::vector<Page> list;
    hpgl::NullSink none;
    Interpreter in(bytes, Interpreter::FileStart(bytes, x, y), x, y, &none);
    for (PageStart at = in.Here();; at = in.Here()) {
        hpgl::PageInfo info;
        if (!in.NextPage(&info)) break;
        if (list.size() >= static_cast<std::size_t>(hpgl::kMaxPages))
            throw Refusal{at.offset, "more than 1000 pages"};
        list.push_back({std::move(at), info});
    }
    for (const auto& [what, count] : in.skipped()) skipped[what] = std::max(skipped[what], count);
    return starts.emplace(std::pair{x, y}, std::move(list)).first->second;
}

HpglDocument::HpglDocument() : d_(std::make_unique<Data>()) {}
HpglDocument::~HpglDocument() = default;

bool HpglDocument::Open(const std::string& path, std::string* error) {
    d_ = std::make_unique<Data>();
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        *error = "cannot be read";
        return false;
    }
    const std::streamoff size = file.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > hpgl::kMaxFileBytes) {
        *error = "a plot file of more than 1 GiB";
        return false;
    }
    file.seekg(0);
    d_->bytes.assign(static_cast<std::size_t>(size), '\0');
    if (!file.read(d_->bytes.data(), size)) {
        *error = "cannot be read";
        return false;
    }
    d_->path = path;
    if (!LooksLikeHpgl(d_->bytes.substr(0, 4096))) {
        *error = "not an HP-GL/2, HP-GL or HP-RTL plot file";
        return false;
    }
    try {
        d_->pages = static_cast<int>(d_->Starts(kReadX, kReadY).size());
    } catch (const Refusal& r) {
        *error = Why(r);
        return false;
    }
    if (d_->pages == 0) {
        *error = "nothing to draw";
        return false;
    }
    return true;
}

int HpglDocument::pages() const {
    return d_->pages;
}

bool HpglDocument::Check(int first, int last, const Sheet& sheet, int dpi,
                         const HpglOptions& options, std::string* error) const {
    for (int i = first; i <= last; ++i) {
        Plot plot;
        if (!PagePlot(i, sheet, dpi, options, &plot, error)) return false;
    }
    return true;
}

bool HpglDocument::PagePlot(int index, const Sheet& sheet, int, const HpglOptions& o, Plot* plot,
                            std::string* error) const {
    const std::string name = "page " + std::to_string(index + 1);
    if (!(o.scale >= 1e-6 && o.scale <= 1e6) || !(sheet.extentX > 0 && sheet.extentY > 0)) {
        *error = name + ": no scale or sheet to draw it at";
        return false;
    }
    // A file without PS draws on the sheet, as on the paper a plotter has loaded.
    const double dx = sheet.extentX * kUnitsPerInch, dy = sheet.extentY * kUnitsPerInch;
    try {
        const std::vector<Data::Page>& pages = d_->Starts(dx, dy);
        if (index < 0 || static_cast<std::size_t>(index) >= pages.size()) {
            *error = name + ": the file has " + std::to_string(pages.size()) + " page(s)";
            return false;
        }
        const Data::Page& page = pages[static_cast<std::size_t>(index)];
        // The page: its PS, what it draws when fitted, else the sheet.
        Area size{sheet.extentX / o.scale, sheet.extentY / o.scale};
        Point2 low{0, 0};
        if (page.info.sized) {
            size = {page.info.pageX / kUnitsPerInch, page.info.pageY / kUnitsPerInch};
        } else if (o.fit && !d_->Drawn(page.start, dx, dy, &low, &size)) {
            *error = name + ": nothing to draw";
            return false;
        }
        const auto fit = FitPage(size, sheet, {o.fit, o.scale, o.rotateAuto});
        if (!fit) {
            *error = name + ": " + PageDoesNotFit(size, o.scale, sheet);
            return false;
        }
        Plot drawn(d_->path);
        hpgl::PlotSink sink(hpgl::PlacingOf(*fit, size, low, sheet), sheet, name, o.progress,
                            &drawn);
        hpgl::PageInfo info;
        Interpreter(d_->bytes, page.start, dx, dy, &sink).NextPage(&info);
        d_->pageSkipped[index] = sink.skipped;
        if (!drawn.DrawsSomething()) {
            *error = name + ": nothing of it lands on the sheet" +
                     (o.fit ? std::string() : "; use --fit");
            return false;
        }
        *plot = std::move(drawn);
        return true;
    } catch (const Refusal& r) {
        *error = name + ": " + Why(r);
        return false;
    }
}

bool HpglDocument::Data::Drawn(const PageStart& start, double x, double y, Point2* low,
                               Area* size) const {
    hpgl::ExtentSink extent;
    hpgl::PageInfo info;
    Interpreter(bytes, start, x, y, &extent).NextPage(&info);
    if (!extent.Any()) return false;
    *low = extent.low;
    *size = {std::max(extent.high.x - low->x, 1.0) / kUnitsPerInch,
             std::max(extent.high.y - low->y, 1.0) / kUnitsPerInch};
    return true;
}

std::optional<Area> HpglDocument::PageInches(int index) const {
    try {  // the pages Open read
        const std::vector<Data::Page>& pages = d_->Starts(kReadX, kReadY);
        if (index < 0 || static_cast<std::size_t>(index) >= pages.size()) return std::nullopt;
        const hpgl::PageInfo& info = pages[static_cast<std::size_t>(index)].info;
        if (!info.sized) return std::nullopt;
        return Area{info.pageX / kUnitsPerInch, info.pageY / kUnitsPerInch};
    } catch (const Refusal&) {
        return std::nullopt;
    }
}

std::string HpglDocument::Skipped() const {
    std::map<std::string, int> all = d_->skipped;
    for (const auto& [page, skipped] : d_->pageSkipped)
        for (const auto& [what, count] : skipped) all[what] += count;
    std::ostringstream report;
    for (const auto& [what, count] : all)
        report << (report.tellp() > 0 ? ", " : "") << count << ' ' << what;
    return report.str();
}

namespace {

// What was not drawn is the document's note.
class HpglPages : public SizedPages<HpglDocument, HpglOptions> {
  public:
    using SizedPages::SizedPages;
    std::vector<std::string> notes() const override {
        const std::string skipped = reader().Skipped();
        if (skipped.empty()) return {};
        return {"not drawn: " + skipped};
    }
};

}  // namespace

std::unique_ptr<Document> OpenHpgl(const std::string& path, const DocumentOptions& options,
                                   std::string* error) {
    auto document = std::make_unique<HpglPages>(options);
    if (!document->Open(path, error)) return nullptr;
    return document;
}

}  // namespace varnu::host
