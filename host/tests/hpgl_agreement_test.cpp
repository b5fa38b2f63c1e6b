// Plot files checked against readers we did not write: GhostPCL's gpcl6
// renders each sample, and our plot of it, sent through the driver and
// drawn by the preview, agrees with it; Debian's hp2xx reads the HP-GL
// sample; files written by pstoedit and GNU libplot read as they draw.
// Each skips, saying why, where its tool is absent. With HPGL_KEEP set to a
// folder, the renderings are kept there to be looked at.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "hpgl_samples.h"
#include "ink_agreement.h"
#include "preview/preview.h"
#include "readers/hpgl.h"
#include "support.h"

namespace varnu::host::testing {
namespace {

const std::string kGpcl6 = std::string(VARNU_SOURCE_DIR) + "/../shared/tools/ghostpcl/gpcl6";
const std::string kPjl = "\x1b%-12345X@PJL\r\n@PJL ENTER LANGUAGE=HPGL2\r\n";
constexpr int kDpi = 50;  // of the comparisons; references are drawn at twice it

bool Runs(const std::string& command) {
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

bool Have(const std::string& tool) {
    return Runs("command -v " + tool);
}

// A PostScript drawing: a frame, lines, a curve, a filled circle and box,
// a dashed line and a line of text.
const char* const kDrawing = R"(%!PS-Adobe-3.0
%%BoundingBox: 0 0 612 792
%%Pages: 1
%%Page: 1 1
2 setlinewidth
newpath 72 72 moveto 540 72 lineto 540 720 lineto 72 720 lineto closepath stroke
0.5 setlinewidth
newpath 100 100 moveto 300 400 lineto 500 100 lineto stroke
newpath 150 500 moveto 200 650 350 650 450 500 curveto stroke
newpath 400 300 60 0 360 arc 0 setgray fill
newpath 120 420 moveto 260 420 lineto 260 480 lineto 120 480 lineto closepath 0.6 setgray fill
0 setgray 4 setlinewidth [12 8] 0 setdash
newpath 100 600 moveto 500 600 lineto stroke [] 0 setdash
/Helvetica findfont 36 scalefont setfont
120 680 moveto (Plot 42) show
showpage
%%EOF
)";

class HpglAgreement : public HostTest {
  protected:
    // Our plot of `file` on the default sheet, sent and drawn at kDpi.
    GreyPicture Ours(const std::string& file, const HpglOptions& o = HpglOptions{}) {
        HpglDocument document;
        Plot plot;
        std::string error;
        HpglOptions options = o;
        options.progress = false;
        EXPECT_TRUE(document.Open(file, &error) &&
                    document.PagePlot(0, kSheet, 600, options, &plot, &error))
            << error;
        const std::string stream = StreamOf(plot, Record(), &error);
        EXPECT_FALSE(stream.empty()) << error;
        preview::Options view;
        view.dpi = kDpi;
        const preview::Rendering r = preview::Render(stream, view);
        EXPECT_TRUE(r.ok) << r.error;
        GreyPicture p;
        if (!r.ok) return p;
        p.width = r.Width(), p.height = r.Height(), p.grey = r.Grey();
        Keep(file + ".ours.png", p);
        return p;
    }
    // gpcl6's picture of `file` at kDpi. A file without PJL is wrapped in it,
    // on a page the size of the sheet (after its own switch into HP-GL/2),
    // which its IN keeps: gpcl6 would draw it on a letter page else.
    GreyPicture GhostPcl(const std::string& file, std::string bytes) {
        const std::string input = file + ".pcl";
        if (bytes.rfind("\x1b%-12345X", 0) != 0) {
            const std::size_t gl = bytes.find("\x1b%0B");
            const std::size_t at = gl != std::string::npos && gl < 16 ? gl + 4 : 0;
            bytes = kPjl + bytes.substr(0, at) + "IN;PS48768,36576;" + bytes.substr(at);
        }
        Write(fs::path(input).filename().string(), bytes);
        const std::string png = file + ".gpcl6.png";
        EXPECT_TRUE(Runs(kGpcl6 + " -dNOPAUSE -dBATCH -sDEVICE=pnggray -r" +
                         std::to_string(2 * kDpi) + " -sOutputFile=" + png + " " + input));
        GreyPicture p = ReadGreyPng(png);
        if (p.width == 0) return p;
        if (p.width < p.height) p = TurnLeft(p);  // a portrait page on its long side
        p = Reduce(p, 2);
        Keep(png, p);
        return p;
    }
    static void Keep(const std::string& path, const GreyPicture& p) {
        const char* keep = std::getenv("HPGL_KEEP");
        if (keep != nullptr)
            WriteGreyPng(std::string(keep) + "/" + fs::path(path).filename().string(), p);
    }
    // One line of what was measured; `pixels` null where positions do not compare.
    static void Report(const std::string& name, const char* against, const Agreement* pixels,
                       const Agreement& fitted) {
        char at[32] = "         -";
        if (pixels != nullptr)
            std::snprintf(at, sizeof at, "%.3f/%.3f", pixels->precision, pixels->recall);
        std::printf("[ agrees   ] %-20s with %-6s  pixels %s  fitted %.3f/%.3f\n", name.c_str(),
                    against, at, fitted.precision, fitted.recall);
    }
};

TEST_F(HpglAgreement, GhostPclDrawsEachSampleAsWeDo) {
    if (!fs::exists(kGpcl6)) GTEST_SKIP() << "no gpcl6 at " << kGpcl6;
    for (const PlotSample& sample : PlotSamples()) {
        SCOPED_TRACE(sample.name);
        Write(sample.name, sample.bytes);
        const GreyPicture reference = GhostPcl(Path(sample.name), sample.bytes);
        const GreyPicture ours = Ours(Path(sample.name));
        ASSERT_GT(reference.width, 0);
        ASSERT_EQ(reference.width, ours.width);
        ASSERT_EQ(reference.height, ours.height);
        const Agreement pixels = InkAgreement(reference, ours, sample.reach);
        const Agreement fitted = FittedInkAgreement(reference, ours, 600, sample.reach);
        Report(sample.name, "gpcl6", &pixels, fitted);
        EXPECT_GT(pixels.Score(), sample.agreement);
        EXPECT_GT(fitted.Score(), sample.agreement);
    }
}

// Files of pstoedit (HP-GL, and HP-GL/2 with -hpgl2) and of GNU libplot,
// converted from a PostScript drawing, draw what Ghostscript draws of the
// drawing itself, fitted, and what gpcl6 draws of each file.
TEST_F(HpglAgreement, PstoeditAndLibplotFilesDrawTheirPostScript) {
    if (!Have("pstoedit") || !Have("gs")) GTEST_SKIP() << "no pstoedit or gs (Ghostscript)";
    Write("drawing.ps", kDrawing);
    ASSERT_TRUE(Runs("gs -q -dNOPAUSE -dBATCH -sDEVICE=pnggray -r" + std::to_string(kDpi) +
                     " -sOutputFile=" + Path("ps.png") + " " + Path("drawing.ps")));
    const GreyPicture postscript = ReadGreyPng(Path("ps.png"));
    ASSERT_GT(postscript.width, 0);
    HpglOptions fit;
    fit.fit = true;
    const std::pair<std::string, std::string> writers[] = {{"hpgl", "pstoedit.hpgl"},
                                                           {"hpgl:-hpgl2", "pstoedit2.hpgl"},
                                                           {"plot-hpgl", "libplot.hpgl"}};
    for (const auto& [format, name] : writers) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Runs("pstoedit -q -f " + format + " " + Path("drawing.ps") + " " + Path(name)))
            << "pstoedit -f " << format << " (plot-hpgl needs plotutils)";
        const GreyPicture ours = Ours(Path(name), fit);
        const Agreement drawn = FittedInkAgreement(postscript, ours, 600, 2);
        Report(name, "gs", nullptr, drawn);
        EXPECT_GT(drawn.Score(), 0.85);
        if (!fs::exists(kGpcl6)) continue;
        // Without a page size of their own (pstoedit's), they draw from the
        // sheet's corner, where gpcl6 draws them on a page of the sheet's size.
        const GreyPicture ghost = GhostPcl(Path(name), Read(Path(name)));
        const GreyPicture asIs = Ours(Path(name));
        const Agreement read = FittedInkAgreement(ghost, ours, 600, 2);
        Agreement pixels;
        const bool samePage = ghost.width == asIs.width && ghost.height == asIs.height;
        if (samePage) pixels = InkAgreement(ghost, asIs, 2);
        Report(name, "gpcl6", samePage ? &pixels : nullptr, read);
        EXPECT_GT(read.Score(), 0.9);
        if (samePage) {
            EXPECT_GT(pixels.Score(), 0.9);
        }
    }
}

// hp2xx, Debian's HP-GL reader, draws the HP-GL files as we do (fitted: it
// draws the drawing's own box).
TEST_F(HpglAgreement, Hp2xxReadsTheHpglFilesAsWeDo) {
    if (!Have("hp2xx")) GTEST_SKIP() << "no hp2xx";
    std::vector<std::string> files;
    for (const PlotSample& sample : PlotSamples())
        if (sample.bytes.rfind("\x1b", 0) != 0) {
            Write(sample.name, sample.bytes);
            files.push_back(sample.name);
        }
    if (Have("pstoedit")) {
        Write("drawing.ps", kDrawing);
        if (Runs("pstoedit -q -f hpgl " + Path("drawing.ps") + " " + Path("pstoedit.hpgl")))
            files.push_back("pstoedit.hpgl");
    }
    ASSERT_FALSE(files.empty());
    HpglOptions fit;
    fit.fit = true;
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Runs("hp2xx -q -m png -d " + std::to_string(kDpi) + " -f " +
                         Path(name + ".hp2xx.png") + " " + Path(name)));
        const GreyPicture reference = ReadGreyPng(Path(name + ".hp2xx.png"));
        ASSERT_GT(reference.width, 0);
        Keep(name + ".hp2xx.png", reference);
        const Agreement fitted = FittedInkAgreement(reference, Ours(Path(name), fit), 600, 2);
        Report(name, "hp2xx", nullptr, fitted);
        EXPECT_GT(fitted.Score(), 0.8);
    }
}

}  // namespace
}  // namespace varnu::host::testing
