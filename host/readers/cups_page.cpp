#include "readers/cups_page.h"

#include <cups/ppd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <set>

#include "readers/cups_options.h"
#include "varnu/printer_tables.h"

namespace varnu::host {

namespace {

// A fixed format of this size, either way round, or else the narrowest
// roll the page's width fits on, cut to its length; false when there is
// neither.
bool ChoosePaper(double w, double l, ConfigureOptions* o) {
    auto near = [](double a, double b) { return std::fabs(a - b) <= kSizeSlackPoints; };
    int fixed = 0, roll = 0;
    double rollWidth = 0;
    for (int row = 1; row <= varnu::PaperRowCount(0); ++row) {
        const varnu::PaperFormatRecord& p = *varnu::PaperFormat(0, row);
        const double pw = p.width * 72, pl = p.length * 72;
        if (p.custom == 0 && fixed == 0 &&
            ((near(w, pw) && near(l, pl)) || (near(w, pl) && near(l, pw))))
            fixed = row;
        if (p.custom != 0 && pw >= w - kSizeSlackPoints && (roll == 0 || pw < rollWidth))
            roll = row, rollWidth = pw;
    }
    if (fixed != 0) {
        o->paper = std::to_string(fixed);
    } else if (roll != 0) {
        o->paper = std::to_string(roll);
        o->length = static_cast<int>(std::lround(l / 72 * 25.4));
    }
    return fixed != 0 || roll != 0;
}

// The PPD's own options, each a field of the header holding row plus one.
void ChooseOptions(const cups_page_header2_t& h, ConfigureOptions* o) {
    if (h.cupsMediaType > 0) o->media = static_cast<int>(h.cupsMediaType) - 1;
    if (h.cupsInteger[varnu::kFillField] > 0)
        o->fill = h.cupsInteger[varnu::kFillField] == 1 ? "solid" : "halftone";
    if (h.cupsInteger[varnu::kProgramField] > 0)
        o->program = static_cast<int>(h.cupsInteger[varnu::kProgramField]) - 1;
    // The finishing margin is offered only with a finishing program.
    const varnu::FinishingChoiceRecord* program = varnu::FinishProgram(0, o->program.value_or(0));
    if (h.cupsInteger[varnu::kFinishMarginField] > 0 && program != nullptr &&
        !varnu::IsBypassProgram(*program))
        o->finishMargin = static_cast<int>(h.cupsInteger[varnu::kFinishMarginField]) - 1;
    if (h.cupsInteger[varnu::kMarginField] > 0)
        o->margin = static_cast<int>(h.cupsInteger[varnu::kMarginField]) - 1;
}

// A page number from 1, or nothing where `empty` lets it be (then `value`
// is left as it is).
bool Number(const std::string& text, bool empty, long* value) {
    if (text.empty()) return empty;
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || !std::isdigit(static_cast<unsigned char>(text[0])) || n < 1) return false;
    *value = n;
    return true;
}

// CUPS 2.4 marks the PPD API deprecated, yet it is the one way a PPD
// queue's filter reads the queue's choices (as CUPS' own filters do).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

struct PpdCloser {
    void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};

}  // namespace

bool HeaderSettings(const cups_page_header2_t& h, int copies, const std::string& what,
                    ConfigureOptions* o, std::string* error) {
    *o = ConfigureOptions{};
    o->defaults = true;
    o->copies = std::clamp(copies, 1, 99);
    if (!ChoosePaper(h.PageSize[0], h.PageSize[1], o)) {
        *error = "no paper format or roll width of " + std::to_string(h.PageSize[0]) + " x " +
                 std::to_string(h.PageSize[1]) + " points";
        return false;
    }
    const int dpi = static_cast<int>(h.HWResolution[0]);
    if (h.HWResolution[1] != h.HWResolution[0]) {
        *error = what + ": resolution " + std::to_string(dpi) + " x " +
                 std::to_string(h.HWResolution[1]) + " dpi: only the same both ways is printed";
        return false;
    }
    if (dpi != 600 && dpi != 400 && dpi != 300 && dpi != 200) {
        *error = "resolution " + std::to_string(dpi) + " dpi is not offered (600, 400, 300, 200)";
        return false;
    }
    o->resolution = dpi;
    ChooseOptions(h, o);
    if (h.cupsInteger[varnu::kDataModeField] > 1) {
        *error = "the VCGL+MMR data mode is not offered by this printer";
        return false;
    }
    return true;
}

bool JobHeader(const char* path, int count, cups_option_t* options, cups_page_header2_t* h,
               std::string* error) {
    if (path == nullptr || path[0] == '\0') {
        *error = "no PPD: the filter runs under CUPS, which names it in PPD";
        return false;
    }
    const std::unique_ptr<ppd_file_t, PpdCloser> ppd(ppdOpenFile(path));
    if (ppd == nullptr) {
        int line = 0;
        const ppd_status_t status = ppdLastError(&line);
        *error = std::string("cannot read the PPD ") + path + ": " + ppdErrorString(status) +
                 " (line " + std::to_string(line) + ")";
        return false;
    }
    ppdMarkDefaults(ppd.get());
    cupsMarkOptions(ppd.get(), count, options);
    // The scheduler writes IPP's printer-resolution as "200x200dpi", the
    // PPD's choice is "200dpi".
    for (const char* name : {"printer-resolution", "resolution"}) {
        const char* value = cupsGetOption(name, count, options);
        int x = 0, y = 0;
        char unit[4] = "";
        if (value != nullptr && std::sscanf(value, "%dx%d%3s", &x, &y, unit) == 3 && x == y &&
            std::string(unit) == "dpi")
            ppdMarkOption(ppd.get(), "Resolution", (std::to_string(x) + "dpi").c_str());
    }
    *h = cups_page_header2_t{};
    if (cupsRasterInterpretPPD(h, ppd.get(), count, options, nullptr) != 0) {
        *error = std::string("the PPD's choices make no page: ") + cupsRasterErrorString();
        return false;
    }
    return true;
}

#pragma GCC diagnostic pop

bool PageRanges(const std::string& text, int pages, std::vector<int>* chosen, std::string* error) {
    chosen->clear();
    std::set<int> seen;
    // Each item "A", "A-B", "A-" or "-B", pages from 1.
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const std::size_t dash = item.find('-');
        long from = 1, to = std::numeric_limits<long>::max();
        const bool read =
            Number(item.substr(0, dash), dash != std::string::npos, &from) &&
            (dash == std::string::npos ? (to = from, true)
                                       : Number(item.substr(dash + 1), true, &to) && from <= to);
        if (!read && !text.empty()) {
            *error = "page-ranges \"" + text + "\" is not a list of pages such as 1-3,5";
            return false;
        }
        for (long p = from; p <= std::min<long>(to, pages); ++p)
            if (seen.insert(static_cast<int>(p)).second) chosen->push_back(static_cast<int>(p) - 1);
        at = comma + 1;
    }
    if (chosen->empty()) {
        *error = "page-ranges \"" + text + "\" names no page of the " + std::to_string(pages) +
                 " the document has";
        return false;
    }
    return true;
}

bool JobSettings(const FilterOptions& options, const char* copies, ConfigureOptions* settings,
                 std::string* error) {
    cups_page_header2_t header;
    return JobHeader(std::getenv("PPD"), options.count, options.values, &header, error) &&
           HeaderSettings(header, std::atoi(copies), "the job", settings, error);
}

}  // namespace varnu::host
