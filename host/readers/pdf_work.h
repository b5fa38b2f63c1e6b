// What drawing a PDF page asks for, counted from the file's objects
// before anything is drawn (through qpdf, which parses without drawing):
// a small file can declare an image of a million pixels a side or forms
// that each draw the next many times, and poppler would spend minutes or
// gigabytes on them.
#pragma once

#include <limits>
#include <memory>
#include <string>

namespace varnu::host {

// Drawing work of one page; forms and images count each time they are drawn.
struct PageWork {
    double operators = 0;  // content operators
    double formDraws = 0;
    double imagePixels = 0;  // pixels of images decoded
    // The narrowest stroke of a width above 0, in the content's own units
    // (points on a page): the width times the least its transformation
    // stretches it. And the least stretch of a stroke drawn with the width
    // a form inherits from where it is drawn.
    double thinnestStroke = std::numeric_limits<double>::infinity();
    double inheritedStretch = std::numeric_limits<double>::infinity();
};

struct WorkLimits {
    double operators = 1e7;         // read, a form's once however often it is drawn
    double contentBytes = 1 << 27;  // decoded content, a form's once
    double formDraws = 1e5;
    int formDepth = 28;  // forms inside forms
    // Image pixels a page may decode: this many times its device pixels,
    // and this many beside.
    double imagePixelsPerDevicePixel = 4;
    double imagePixelsBeside = 1 << 26;
    // Pixels an image may declare for each byte of its data: well above
    // what Flate, CCITT or JBIG2 reach on any real picture.
    double pixelsPerByte = 1 << 20;
};

class PdfWork {
  public:
    PdfWork();
    ~PdfWork();
    PdfWork(const PdfWork&) = delete;
    PdfWork& operator=(const PdfWork&) = delete;

    bool Open(const std::string& path, std::string* error);
    // The work of page `index` (from 0), or false with why it is refused:
    // a form drawing itself, forms too deep, an image whose size its data
    // cannot hold.
    bool Count(int index, const WorkLimits& limits, PageWork* work, std::string* error) const;

  private:
    struct Qpdf;
    std::unique_ptr<Qpdf> qpdf_;
};

// Why `work` is too much for a page of `devicePixels`, or empty.
std::string TooMuchWork(const PageWork& work, double devicePixels, const WorkLimits& limits);

}  // namespace varnu::host
