// A document as every door prints it: pages a reader yields, each planned
// on its sheet before any is sent, then drawn as a plot of its own.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/fit.h"
#include "model/image_placement.h"
#include "model/plot.h"
#include "session/job.h"

namespace varnu::host {

// How a page is sized on the sheet, as IPP's print-scaling asks: auto
// keeps a page's size where it fits and fits the others, fit fits every
// page, none keeps every page's size (times a scale).
enum class Scaling { Auto, Fit, None };

// What a door asks of a document's pages.
struct DocumentOptions {
    // Pages (PDF, HP-GL/2): sized by `scaling` (`scale` times their size
    // with None); turned a quarter where only then they fit, when allowed.
    Scaling scaling = Scaling::Auto;
    double scale = 1;
    bool mayTurn = true;
    bool progress = false;  // a progress bar as bands are drawn
    // Images: at these corners in millimetres, else fitted; their white
    // shows what lies under it; a scan's set pixels in this pen.
    std::optional<Corners> at;
    bool transparent = false;
    int colour = 7;
    // Drawings (DXF): at 1:N with units in millimetres (0 fits the sheet),
    // the drawing's origin at this point of the sheet; these layers only.
    double scaleDenominator = 0;
    double originX = 0, originY = 0;
    std::vector<std::string> layers;
};

class Document {
  public:
    virtual ~Document() = default;
    // How many pages it has.
    virtual int pages() const = 0;
    // How page `index` (from 0) lands on `sheet` at `dpi` device pixels an
    // inch, decided before any page is sent: false with why it cannot be
    // printed. A page is planned before it is drawn.
    virtual bool Plan(int index, const Sheet& sheet, int dpi, std::string* error) = 0;
    // The planned page as a plot; what it draws may come from the
    // document, which outlives the plot.
    virtual bool Draw(int index, const Sheet& sheet, int dpi, Plot* plot, std::string* error) = 0;
    // The page's own size in inches, where it has one (a PDF page, a plot
    // file's page); none where it is made for the sheet (an image, a DXF).
    virtual std::optional<Area> PageSize(int) const { return std::nullopt; }
    // What the user is told of a drawn page: what was left out or cut.
    virtual std::vector<std::string> notes() const { return {}; }
};

// A document of one page drawn by a function on its job's sheet (a raster
// page placed as its rows arrive).
class DrawnPage : public Document {
  public:
    using Drawing = std::function<bool(const Sheet& sheet, Plot* plot, std::string* error)>;
    explicit DrawnPage(Drawing draw) : draw_(std::move(draw)) {}
    int pages() const override { return 1; }
    bool Plan(int, const Sheet&, int, std::string*) override { return true; }
    bool Draw(int, const Sheet& sheet, int, Plot* plot, std::string* error) override {
        return draw_(sheet, plot, error);
    }

  private:
    Drawing draw_;
};

}  // namespace varnu::host
