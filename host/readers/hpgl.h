// HP-GL/2 plot files (with their PJL wrapper and HP-RTL raster), and HP-GL
// as older programs write it: each page a plot of vectors, filled areas,
// outlined labels and raster images, placed as the file says (plotter
// units of 1/1016 inch on its page, PS, RO, IP and SC) or fitted to the
// sheet.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "model/document.h"
#include "model/plot.h"
#include "session/job.h"

namespace varnu::host {

struct HpglOptions {
    bool fit = false;         // the page (a PS page, else what is drawn) fitted to the sheet
    double scale = 1;         // with fit off: plotter units times this
    bool rotateAuto = false;  // turn the page a quarter when only then it fits
    bool progress = true;
};

class HpglDocument {
  public:
    HpglDocument();
    ~HpglDocument();
    HpglDocument(const HpglDocument&) = delete;
    HpglDocument& operator=(const HpglDocument&) = delete;

    // Reads the whole file once, bounded in time and memory: refuses what
    // is no plot file, and a hostile one (a page larger than any paper, a
    // polygon or label that never ends, raster data past the file's end)
    // with the byte where reading stopped.
    bool Open(const std::string& path, std::string* error);
    // Pages that draw: a page ends at PG, at a new page size or a reset.
    int pages() const;
    // Whether pages `first` to `last` (from 0) can be plotted, before any is.
    bool Check(int first, int last, const Sheet& sheet, int dpi, const HpglOptions& options,
               std::string* error) const;
    // The page of `index` (from 0) on `sheet`. Raster images draw from the
    // document, which must outlive the plot.
    bool PagePlot(int index, const Sheet& sheet, int dpi, const HpglOptions& options, Plot* plot,
                  std::string* error) const;
    // The size of page `index` in inches where the file gives it (PS), else
    // none: the page is the sheet it is plotted on.
    std::optional<Area> PageInches(int index) const;
    // What the file holds that was not drawn ("2 unknown command ZZ, 1
    // white lines"), once pages were read; empty when everything was.
    std::string Skipped() const;

  private:
    struct Data;
    std::unique_ptr<Data> d_;
};

// A plot file as a document: each page sized as the file says, fitted
// where `options` ask; what was not drawn is its note.
std::unique_ptr<Document> OpenHpgl(const std::string& path, const DocumentOptions& options,
                                   std::string* error);

// Whether `bytes` (a file's start) look like a plot file: PJL, an escape
// sequence, or an HP-GL command.
bool LooksLikeHpgl(const std::string& bytes);

}  // namespace varnu::host
