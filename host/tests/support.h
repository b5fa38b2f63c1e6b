// What the host library's tests share: a scratch folder a test, files in
// it, the driver installed in this process, and the plot model read as the
// sheet it draws (boxes and ink in the units of a 100 dpi preview).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "model/plot.h"
#include "readers/dxf.h"
#include "session/config_store.h"
#include "session/job.h"
#include "varnu/config_record.h"

namespace varnu::host::testing {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path);

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const;
    static std::string Read(const std::string& path);  // ReadFile
    // Whether a name in the folder holds `part`.
    bool AnyNameContains(const std::string& part) const;

    fs::path dir_;
};

// The driver's default sheet: 48 x 36 inches at 1016 host steps an inch.
inline constexpr Sheet kSheet{48.0, 36.0, 1016.0};
inline constexpr double kPixelsPerStep = 100.0 / 1016;  // a 100 dpi preview
inline constexpr double kPixelsPerMm = 1 / 0.254;

// A record: the defaults, in VCGL at 400 dpi when asked.
RecordBytes Record(bool vcgl = false, int dpi = 600);

// The box of what a plot draws, in 100 dpi pixels from the sheet's lower
// left corner; empty (right < left) when it draws nothing.
struct InkBox {
    double left = 1e300, bottom = 1e300, right = -1e300, top = -1e300;
    double Width() const { return right - left; }
    double Height() const { return top - bottom; }
};
InkBox BoxOf(const Plot& plot);
// Whether the plot puts ink in the rectangle of millimetres [x0, x1] x [y0, y1].
bool InkIn(const Plot& plot, double x0, double y0, double x1, double y1);
// The pen of the last area covering the point (millimetres); -1 for none.
int FillPenAt(const Plot& plot, double x, double y);
// Whether two plots send the same requests.
bool SameSteps(const Plot& a, const Plot& b);

// `dxf` (entities only, or a whole file when it starts with "0\nSECTION" or
// "999") read onto kSheet; expects it to be read.
struct DxfResult {
    Plot plot;
    DxfReport report;
    std::string error;
    bool ok = false;
};
DxfResult ReadDxfEntities(const std::string& dxf, const DxfOptions& options = {});
DxfOptions AtScale(double denominator);
std::string DxfLine(const std::string& layer, double x1, double y1, double x2, double y2);

// The driver installed once for the test binary, its record in memory.
void InstallDriver();
// The stream one job of `plot` makes, after a job that leaves the driver in
// the same state for every measured one; empty with `error` set when refused.
std::string StreamOf(const Plot& plot, const RecordBytes& record, std::string* error = nullptr);

}  // namespace varnu::host::testing
