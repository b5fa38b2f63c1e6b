#include "model/nesting.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "model/clip.h"

namespace varnu::host {

namespace {

// A page's size the way round it lies: across the roll, along it.
Area Lying(const Area& page, bool turned) {
    return turned ? Area{page.height, page.width} : page;
}

struct Shelf {
    double y = 0, length = 0, used = 0;  // inches: where it starts, how long, how full
};

// How much of a shelf's width a page takes after what is there.
double Taken(const Shelf& shelf, double width, double gap) {
    return shelf.used == 0 ? width : shelf.used + gap + width;
}

// How a page lies before shelves are tried: the way round shorter along the
// roll, as it comes, or narrower across it.
enum class Way { Shorter, AsItComes, Narrower };

bool TurnedFirst(const Area& page, double rollWidth, bool mayTurn, Way way) {
    constexpr double kSlack = 1e-6;
    const bool fits = page.width <= rollWidth + kSlack;
    const bool fitsTurned = mayTurn && page.height <= rollWidth + kSlack;
    if (!fits) return true;
    if (!fitsTurned) return false;
    switch (way) {
        case Way::Shorter:
            return page.width < page.height;
        case Way::Narrower:
            return page.height < page.width;
        default:
            return false;
    }
}

// The pages on shelves, each first tried the way `way` says.
Nest Shelve(const std::vector<Area>& pages, double rollWidth, double gap, bool mayTurn, Way way) {
    constexpr double kSlack = 1e-6;
    Nest nest;
    nest.places.assign(pages.size(), NestPlace{});
    std::vector<bool> first(pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i)
        first[i] = TurnedFirst(pages[i], rollWidth, mayTurn, way);
    std::vector<std::size_t> order(pages.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return Lying(pages[a], first[a]).height > Lying(pages[b], first[b]).height;
    });
    std::vector<Shelf> shelves;
    for (const std::size_t i : order) {
        bool placed = false;
        for (Shelf& shelf : shelves)
            for (const bool turned : {bool(first[i]), !first[i]}) {
                const Area size = Lying(pages[i], turned);
                if (placed || (turned && !mayTurn) || size.height > shelf.length + kSlack ||
                    Taken(shelf, size.width, gap) > rollWidth + kSlack)
                    continue;
                nest.places[i] = {shelf.used + gap, shelf.y, turned, size};
                shelf.used = Taken(shelf, size.width, gap);
                placed = true;
            }
        if (placed) continue;
        const Area size = Lying(pages[i], first[i]);
        const double y = shelves.empty() ? 0 : shelves.back().y + shelves.back().length + gap;
        shelves.push_back({y, size.height, size.width});
        nest.places[i] = {0, y, bool(first[i]), size};
    }
    if (!shelves.empty()) nest.length = shelves.back().y + shelves.back().length;
    return nest;
}

}  // namespace

bool NestPages(const std::vector<Area>& pages, const NestRules& rules, Nest* nest,
               std::string* error) {
    constexpr double kSlack = 1e-6;
    const double border = rules.cutMarks ? rules.gap : 0;
    const double rollWidth = rules.rollWidth - 2 * border;
    for (std::size_t i = 0; i < pages.size(); ++i)
        if (pages[i].width > rollWidth + kSlack &&
            (!rules.mayTurn || pages[i].height > rollWidth + kSlack)) {
            char text[160];
            std::snprintf(text, sizeof text, "page %zu (%.0f x %.0f mm) is wider than the roll",
                          i + 1, pages[i].width * 25.4, pages[i].height * 25.4);
            *error = text;
            return false;
        }
    // The shortest of three ways of setting out: turns where they save roll.
    *nest = Shelve(pages, rollWidth, rules.gap, rules.mayTurn, Way::AsItComes);
    for (const Way way : {Way::Shorter, Way::Narrower}) {
        Nest other = Shelve(pages, rollWidth, rules.gap, rules.mayTurn, way);
        if (other.length < nest->length - kSlack) *nest = std::move(other);
    }
    for (NestPlace& place : nest->places) {
        place.x += border;
        place.y += border;
    }
    nest->border = border;
    if (!pages.empty()) nest->length += 2 * border;
    return true;
}

namespace {

constexpr double kFitSlack = 0.05;  // inches, as the fit policy allows

bool Fits(const Area& area, double x, double y) {
    return area.width <= x + kFitSlack && area.height <= y + kFitSlack;
}

// Where the sheet's X runs along the roll (the driver's X is a long
// sheet's length) the nest lies on it transposed: each page in a cell
// turned a quarter, which the page fills turned.
bool Transposed(const Nest& nest, const Sheet& sheet) {
    return !Fits(NestArea(nest), sheet.extentX, sheet.extentY);
}

// The part of the sheet a nested page lies on, as a sheet of its own.
Sheet Cell(const Sheet& sheet, const NestPlace& place, bool transposed) {
    const Area& s = place.size;
    return transposed ? Sheet{s.height, s.width, sheet.resolution}
                      : Sheet{s.width, s.height, sheet.resolution};
}

}  // namespace

bool NestedPages::Plan(int, const Sheet& sheet, int dpi, std::string* error) {
    const Area area = NestArea(nest_);
    if (!Fits(area, sheet.extentX, sheet.extentY) && !Fits(area, sheet.extentY, sheet.extentX)) {
        char text[160];
        std::snprintf(text, sizeof text, "the nest (%.0f x %.0f mm) does not fit the sheet",
                      area.width * 25.4, area.height * 25.4);
        *error = text;
        return false;
    }
    const bool transposed = Transposed(nest_, sheet);
    for (std::size_t i = 0; i < pages_.size(); ++i)
        if (!pages_[i].document->Plan(pages_[i].index, Cell(sheet, nest_.places[i], transposed),
                                      dpi, error))
            return false;
    return true;
}

namespace {

// Lines on the edges' extensions, from a little off each corner into the
// gap, where they meet no other page; none that would leave the nest.
void CutMarks(const Nest& nest, double gap, double resolution, bool transposed, Plot* plot) {
    constexpr double kMm = 1 / 25.4;
    const double off = std::min(1 * kMm, gap / 4), reach = std::min(gap, 10 * kMm);
    const double width = NestArea(nest).width;
    const auto line = [&](double x0, double y0, double x1, double y1) {
        constexpr double kSlack = 1e-6;
        if (std::min(x0, x1) < -kSlack || std::max(x0, x1) > width + kSlack ||
            std::min(y0, y1) < -kSlack || std::max(y0, y1) > nest.length + kSlack)
            return;
        if (transposed) std::swap(x0, y0), std::swap(x1, y1);
        const auto a = ToSteps({x0 * resolution, y0 * resolution});
        const auto b = ToSteps({x1 * resolution, y1 * resolution});
        plot->Move(a.first, a.second);
        plot->Draw(b.first, b.second);
        plot->PenUp();
    };
    plot->Pen(7);
    plot->Width(0.1 * kMm);
    for (const NestPlace& p : nest.places) {
        const double x[2] = {p.x, p.x + p.size.width}, y[2] = {p.y, p.y + p.size.height};
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) {
                const double out = i == 0 ? -1 : 1, down = j == 0 ? -1 : 1;
                line(x[i] + out * off, y[j], x[i] + out * reach, y[j]);
                line(x[i], y[j] + down * off, x[i], y[j] + down * reach);
            }
    }
}

}  // namespace

bool NestedPages::Draw(int, const Sheet& sheet, int dpi, Plot* plot, std::string* error) {
    const bool transposed = Transposed(nest_, sheet);
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        const NestPlace& place = nest_.places[i];
        const Sheet cell = Cell(sheet, place, transposed);
        Document& document = *pages_[i].document;
        Plot page;
        if (!document.Plan(pages_[i].index, cell, dpi, error) ||
            !document.Draw(pages_[i].index, cell, dpi, &page, error))
            return false;
        const double x = transposed ? place.y : place.x, y = transposed ? place.x : place.y;
        plot->Append(std::move(page), static_cast<std::int32_t>(std::lround(x * sheet.resolution)),
                     static_cast<std::int32_t>(std::lround(y * sheet.resolution)));
    }
    if (rules_.cutMarks && rules_.gap > 0)
        CutMarks(nest_, rules_.gap, sheet.resolution, transposed, plot);
    return true;
}

std::optional<Area> NestedPages::PageSize(int) const {
    return NestArea(nest_);
}

std::vector<std::string> NestedPages::notes() const {
    std::vector<std::string> notes;
    std::vector<const Document*> seen;
    for (const NestedPage& page : pages_) {
        if (std::find(seen.begin(), seen.end(), page.document) != seen.end()) continue;
        seen.push_back(page.document);
        for (std::string& note : page.document->notes()) notes.push_back(std::move(note));
    }
    return notes;
}

Area NestArea(const Nest& nest) {
    double width = 0;
    for (const NestPlace& p : nest.places) width = std::max(width, p.x + p.size.width);
    return {width + nest.border, nest.length};
}

double LengthOneAfterAnother(const std::vector<Area>& pages, double rollWidth, double gap) {
    double length = 0;
    for (const Area& page : pages)
        length += (page.width <= rollWidth ? page.height : page.width) + gap;
    return pages.empty() ? 0 : length - gap;
}

}  // namespace varnu::host
