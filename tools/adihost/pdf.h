// PDF drawings through poppler: each page rendered band by band at the
// device resolution, straight into the lines the driver asks for.
#pragma once

#include <string>

namespace adihost {

struct PdfOptions {
    std::string pages = "1";  // a page number from 1, or "all"
    bool fit = false;         // scale the page to the sheet; else its own size
    double scale = 1;         // with fit off: the page's size times this
    bool rotateAuto = false;  // turn the page a quarter when only then it fits
    std::string label;
    bool progress = true;
};

// Plots the chosen pages into `output`, each page its own job. False with
// a message, and no output file, when the document or a page is refused.
bool PlotPdf(const std::string& path, const std::string& output, const PdfOptions& options,
             std::string* error);

}  // namespace adihost
