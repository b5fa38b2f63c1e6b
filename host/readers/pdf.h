// PDF drawings through poppler: each page a plot of one picture, rendered
// band by band at the device resolution as the driver asks for its lines.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/document.h"
#include "model/fit.h"
#include "model/plot.h"
#include "session/job.h"

namespace varnu::host {

struct PdfOptions {
    bool fit = false;         // scale the page to the sheet; else its own size
    double scale = 1;         // with fit off: the page's size times this
    bool rotateAuto = false;  // turn the page a quarter when only then it fits
    bool progress = true;
};

class PdfDocument {
  public:
    PdfDocument();
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    // Refuses a truncated or password-protected file and one without pages.
    bool Open(const std::string& path, std::string* error);
    int pages() const;
    // The page's size in inches (as viewers show it); 0 x 0 for one it cannot read.
    Area PageInches(int index) const;
    // "all" or a page number from 1: the first and last page's index.
    bool Pages(const std::string& pages, int* first, int* last, std::string* error) const;
    // Whether pages `first` to `last` (from 0) can be plotted, before any is:
    // each fits at the options' scale, is at least a printer dot, and asks
    // for no more drawing work than its size warrants.
    bool Check(int first, int last, const Sheet& sheet, int dpi, const PdfOptions& options,
               std::string* error) const;
    // The page of `index` (from 0) on `sheet` at `dpi` device pixels an inch.
    // The plot draws from the document, which must outlive it.
    bool PagePlot(int index, const Sheet& sheet, int dpi, const PdfOptions& options, Plot* plot,
                  std::string* error) const;

  private:
    struct PageLayout;
    bool Layout(int index, const Sheet& sheet, int dpi, const PdfOptions& options,
                PageLayout* layout, std::string* error) const;

    struct Poppler;
    std::unique_ptr<Poppler> poppler_;
};

// A PDF as a document of pages: each sized as `options` ask (Scaling::Auto
// fits only a page that does not fit), turned where only then it fits.
std::unique_ptr<Document> OpenPdf(const std::string& path, const DocumentOptions& options,
                                  std::string* error);

}  // namespace varnu::host
