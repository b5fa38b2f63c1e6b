// What the PDF and CUPS tests share: drawings written as PDF with cairo,
// driver streams cut into their jobs and drawn by `adihost render`, and
// poppler's own rendering of a page (pdftoppm) to compare them with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace varnu::testing {

namespace fs = std::filesystem;

// Preview pixels per inch; compared in blocks of kBlock pixels, coarse
// enough that the printer's dither averages out.
inline constexpr double kPreviewDpi = 50;
inline constexpr int kBlock = 5;

struct ProcessResult {
    int status;
    std::string err;
};

struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> grey;  // rows top to bottom
};

// A page drawing: a border, a filled bar on the left (odd pages) or the
// right (even pages), a circle whose size grows with the page number, a
// heavy diagonal and a grey triangle.
void WriteDrawingPdf(const std::string& path, double widthMm, double heightMm, int pages);

// The jobs of a driver stream, each from its opening PJL to its end.
std::vector<std::string> SplitJobs(const std::string& stream);

// Poppler's rendering of a page at `dpi`, turned clockwise by `rotation`
// (0 or 90) degrees.
Picture PopplerPage(const std::string& pdf, int page, int rotation, double dpi = kPreviewDpi);

struct Match {
    double meanDifference = 1e9;  // mean of |block grey difference|, 0..255
    double worstBlock = 1e9;
    int x = 0, y = 0;  // where the page lies on the sheet
};
// The reference placed on the sheet near its centre where it matches best.
Match BestMatch(const Picture& sheet, const Picture& reference);

bool ReadPngGrey(const std::string& path, Picture* picture);

// The columns `x` to `x + width` of `picture` (as many as it has).
Picture Columns(const Picture& picture, int x, int width);

// Where the nest of `page` (from 1) of pages `pageMm` wide, `gapMm` apart,
// lies across a sheet of `sheetMm`: its columns, with a few pixels of paper
// on either side.
// The sheet a job's stream asks for: PS length,width in plotter units
// (40 a millimetre); 0, 0 without one.
std::pair<int, int> SheetOf(const std::string& job);

Picture NestedColumns(const Picture& sheet, double sheetMm, int page, double pageMm, double gapMm);

class SheetTest : public ::testing::Test {
  public:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    ProcessResult Adihost(const std::string& arguments);
    ProcessResult Run(const std::string& command);
    // Draws one job with adihost render at kPreviewDpi.
    Picture RenderJob(const std::string& job, const std::string& name);

    static std::string Read(const std::string& path);
    void Write(const std::string& name, const std::string& bytes);

    fs::path dir_;
};

}  // namespace varnu::testing
