// Pages nested on a roll: side by side across its width, then along it,
// to use less paper than one page after another.
#pragma once

#include <string>
#include <vector>

#include "model/document.h"
#include "model/fit.h"

namespace varnu::host {

// Where a page lies on the nested sheet, in inches from the sheet's
// corner: `x` across the roll, `y` along it; turned a quarter when
// `turned`, so that its height runs across the roll.
struct NestPlace {
    double x = 0, y = 0;
    bool turned = false;
    Area size;  // as it lies: width across the roll, length along it
};

struct Nest {
    std::vector<NestPlace> places;  // one a page, in the pages' order
    double length = 0;              // of roll used, inches
    double border = 0;              // room left around the pages, inches
};

// How pages are nested: across a roll `rollWidth` inches wide, `gap`
// inches apart, turned where that saves roll when `mayTurn`; with
// `cutMarks`, a gap's width of roll around the pages for the marks.
struct NestRules {
    double rollWidth = 0, gap = 0;
    bool mayTurn = true, cutMarks = false;
};

// Shelf packing: each page takes the way round that is shorter along the
// roll (when it may turn and fits across so), the pages go longest first
// into the first shelf across the roll with room for them, turned there if
// only then they fit it, and each new shelf starts a gap after the last.
// False with `error` when a page does not fit across the roll either way.
bool NestPages(const std::vector<Area>& pages, const NestRules& rules, Nest* nest,
               std::string* error);

// The part of the roll the nest takes: across it, along it.
Area NestArea(const Nest& nest);

// The roll the pages take one after another, each the way round it comes
// (turned only where only then it fits), with `gap` between them.
double LengthOneAfterAnother(const std::vector<Area>& pages, double rollWidth, double gap);

// One page of a document that outlives the nest.
struct NestedPage {
    Document* document;
    int index;
};

// Pages nested on one sheet of the roll: one page, on which each page lies
// where the nest (made by `rules`) put it, at its own size; with cut
// marks, short lines in the gaps extend each page's edges from its corners
// to cut along.
class NestedPages : public Document {
  public:
    NestedPages(std::vector<NestedPage> pages, Nest nest, const NestRules& rules)
        : pages_(std::move(pages)), nest_(std::move(nest)), rules_(rules) {}
    int pages() const override { return 1; }
    bool Plan(int, const Sheet& sheet, int dpi, std::string* error) override;
    bool Draw(int, const Sheet& sheet, int dpi, Plot* plot, std::string* error) override;
    std::optional<Area> PageSize(int) const override;
    // Each document's notes once.
    std::vector<std::string> notes() const override;

  private:
    std::vector<NestedPage> pages_;
    Nest nest_;
    NestRules rules_;
};

}  // namespace varnu::host
