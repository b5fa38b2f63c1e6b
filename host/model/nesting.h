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
};

// Shelf packing: each page takes the way round that is shorter along the
// roll (when it may turn and fits across so), the pages go longest first
// into the first shelf across the roll with room for them, turned there if
// only then they fit it, and each new shelf starts `gap` after the last.
// False with `error` when a page does not fit across the roll either way.
bool NestPages(const std::vector<Area>& pages, double rollWidth, double gap, bool mayTurn,
               Nest* nest, std::string* error);

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
// where the nest put it, at its own size; with `cutMarks`, short lines in
// the gaps extend each page's edges from its corners to cut along.
class NestedPages : public Document {
  public:
    NestedPages(std::vector<NestedPage> pages, Nest nest, double gap, bool cutMarks)
        : pages_(std::move(pages)), nest_(std::move(nest)), gap_(gap), cutMarks_(cutMarks) {}
    int pages() const override { return 1; }
    bool Plan(int, const Sheet& sheet, int dpi, std::string* error) override;
    bool Draw(int, const Sheet& sheet, int dpi, Plot* plot, std::string* error) override;
    std::optional<Area> PageSize(int) const override;
    // Each document's notes once.
    std::vector<std::string> notes() const override;

  private:
    std::vector<NestedPage> pages_;
    Nest nest_;
    double gap_;
    bool cutMarks_;
};

}  // namespace varnu::host
