// What a plotter prints of the driver's images, read by two interpreters:
// the project's preview and, where it stands beside the repository,
// GhostPCL's gpcl6, a standard HP-GL/2 and HP-RTL interpreter (VCGL is the
// preview's alone). The images are drawn pixel for pixel (the grid the
// driver asks for is the picture itself) with diagonals every 97 pixels,
// so that each raster row the sheet shows can be told from its neighbours:
// a blank, repeated or lost row at a band join breaks the diagonals.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "preview/preview.h"
#include "sinks/mmr_rows.h"
#include "support.h"
#include "varnu/config_record.h"

namespace varnu::host::testing {
namespace {

constexpr int kPeriod = 97;

// A rendered sheet's ink, a byte a pixel (1 = ink), rows top down.
struct Ink {
    int width = 0, height = 0;
    std::vector<std::uint8_t> at;
    bool operator()(int x, int y) const { return at[static_cast<std::size_t>(y) * width + x] != 0; }
};

Ink PreviewInk(const std::string& stream, double dpi, std::string* error) {
    preview::Options options;
    options.dpi = dpi;
    const preview::Rendering r = preview::Render(stream, options);
    if (!r.ok) {
        *error = "preview: " + r.error;
        return {};
    }
    Ink ink{r.Width(), r.Height(), {}};
    ink.at.reserve(static_cast<std::size_t>(ink.width) * ink.height);
    r.ForEachRow([&](const std::uint8_t* grey) {
        for (int x = 0; x < ink.width; ++x) ink.at.push_back(grey[x] < 128);
    });
    return ink;
}

const std::string kGpcl6 = VARNU_GPCL6;

bool HaveGpcl6() {
    return access(kGpcl6.c_str(), X_OK) == 0;
}

// gpcl6's page at `dpi` as a PBM, read back.
Ink Gpcl6Ink(const std::string& stream, int dpi, const std::string& scratch, std::string* error) {
    const std::string in = scratch + ".prn", out = scratch + ".pbm";
    std::ofstream(in, std::ios::binary) << stream;
    const std::string resolution = "-r" + std::to_string(dpi), file = "-sOutputFile=" + out;
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(kGpcl6.c_str(), "gpcl6", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pbmraw",
              resolution.c_str(), file.c_str(), in.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream pbm(out, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(pbm)), {});
    std::remove(in.c_str());
    std::remove(out.c_str());
    // "P4", then width and height, each after white space or a comment.
    std::size_t at = 2;
    const auto number = [&] {
        while (at < bytes.size() &&
               (std::isspace(static_cast<unsigned char>(bytes[at])) || bytes[at] == '#'))
            at = bytes[at] == '#' ? bytes.find('\n', at) : at + 1;
        return std::strtol(bytes.c_str() + std::min(at, bytes.size()), nullptr, 10);
    };
    Ink ink;
    ink.width = static_cast<int>(number());
    at = bytes.find_first_of(" \t\r\n", at);
    ink.height = static_cast<int>(number());
    at = bytes.find_first_of(" \t\r\n", at) + 1;
    const std::size_t stride = (static_cast<std::size_t>(ink.width) + 7) / 8;
    if (bytes.compare(0, 2, "P4") != 0 || ink.width <= 0 || ink.height <= 0 ||
        bytes.size() < at + stride * ink.height) {
        *error = "gpcl6 made no page (exit status " + std::to_string(status) + ")";
        return {};
    }
    ink.at.resize(static_cast<std::size_t>(ink.width) * ink.height);
    for (int y = 0; y < ink.height; ++y)
        for (int x = 0; x < ink.width; ++x)
            ink.at[static_cast<std::size_t>(y) * ink.width + x] =
                (bytes[at + y * stride + x / 8] >> (7 - x % 8)) & 1;
    return ink;
}

// The box of a sheet's ink: x0, y0, x1, y1 (x1 < 0 for none).
struct Box {
    int x0, y0, x1, y1;
};
Box BoxOf(const Ink& ink) {
    Box b{ink.width, ink.height, -1, -1};
    for (int y = 0; y < ink.height; ++y)
        for (int x = 0; x < ink.width; ++x)
            if (ink(x, y))
                b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
    return b;
}

// The raster rows a sheet shows, in the order they lie across it: the
// diagonals' phase in each (-1 for a row without ink). Rows run along the
// side of the ink's box that is nearer `rows` long.
std::vector<int> Phases(const Ink& ink, int rows) {
    const auto [x0, y0, x1, y1] = BoxOf(ink);
    if (x1 < 0) return {};
    const bool alongX = std::abs(x1 - x0 + 1 - rows) < std::abs(y1 - y0 + 1 - rows);
    std::vector<int> phases;
    for (int r = alongX ? x0 : y0; r <= (alongX ? x1 : y1); ++r) {
        int phase = -1;
        for (int p = 0, end = alongX ? y1 - y0 : x1 - x0; p <= end && phase < 0; ++p)
            if (alongX ? ink(r, y0 + p) : ink(x0 + p, r)) phase = p % kPeriod;
        phases.push_back(phase);
    }
    return phases;
}

// Steps between neighbouring rows' phases, -48..48 (-99 next to a row
// without ink).
std::vector<int> Steps(const std::vector<int>& phases) {
    std::vector<int> steps;
    for (std::size_t i = 1; i < phases.size(); ++i) {
        if (phases[i] < 0 || phases[i - 1] < 0) {
            steps.push_back(-99);
            continue;
        }
        const int d = ((phases[i] - phases[i - 1]) % kPeriod + kPeriod) % kPeriod;
        steps.push_back(d > kPeriod / 2 ? d - kPeriod : d);
    }
    return steps;
}

// The rows of each ESC*b#W block of an RTL stream, as its codes say.
std::vector<long> BlockRows(const std::string& s) {
    std::vector<long> rows;
    for (std::size_t at = s.find("\x1b*b"); at != std::string::npos;
         at = s.find("\x1b*b", at + 1)) {
        char* end = nullptr;
        const long n = std::strtol(s.c_str() + at + 3, &end, 10);
        if (*end != 'W' || n < 4) continue;
        const std::size_t data = static_cast<std::size_t>(end + 1 - s.c_str());
        const auto* w = reinterpret_cast<const std::uint8_t*>(s.data() + data);
        const long width = static_cast<long>(w[0]) << 24 | w[1] << 16 | w[2] << 8 | w[3];
        rows.push_back(host::CountMmrRows(w + 4, static_cast<std::size_t>(n - 4), width, 1 << 24));
        at = data + static_cast<std::size_t>(n) - 1;
    }
    return rows;
}

// What gpcl6 shows of one raster: it leaves out the last row of every MMR
// block (its decoder stops at the end-of-block code before it hands that
// row on; it does so with libtiff's blocks as well), so the rows after it
// close up and the raster's last rows stay paper. The preview shows every
// row; either way no row is blank and no row repeats at a join.
std::vector<int> Gpcl6Steps(const std::vector<long>& blocks, int step) {
    std::vector<int> rows;
    long start = 0;
    for (const long n : blocks) {
        for (long r = start; r < start + n - 1; ++r) rows.push_back(static_cast<int>(r));
        start += n;
    }
    std::vector<int> steps;
    for (std::size_t i = 1; i < rows.size(); ++i) steps.push_back(step * (rows[i] - rows[i - 1]));
    return steps;
}

bool SameEitherWay(std::vector<int> steps, const std::vector<int>& expected) {
    if (steps == expected) return true;
    std::reverse(steps.begin(), steps.end());
    for (int& s : steps) s = -s;
    return steps == expected;
}

// One image filling a grid of `pixels` x `lines` (the lines fetched, and
// line 0 first at 600 dpi), its first pixel's corner half an inch in.
struct Case {
    const char* name;
    bool vcgl;
    int dpi;
    int paper, lengthMm;  // a custom paper's length, or 0
    bool longEdge;
};

RecordBytes RecordOf(const Case& c) {
    ConfigRecord record = DefaultConfigRecord(0);
    const std::uint16_t resolution = c.dpi == 600   ? kResolution600
                                     : c.dpi == 400 ? kResolution400
                                     : c.dpi == 300 ? kResolution300
                                                    : kResolution200;
    record.modeFlags = static_cast<std::uint16_t>((c.vcgl ? kModeVcgl : 0) | resolution);
    record.paperIndex = static_cast<std::uint8_t>(c.paper);
    if (c.lengthMm > 0) record.customLengthMm = static_cast<std::uint16_t>(c.lengthMm);
    RecordBytes bytes;
    EncodeConfigRecord(record, bytes.data());
    return bytes;
}

// Host steps of `n` grid cells: VCGL asks for the steps halved (400 dpi) or
// quartered (200 dpi); RTL/GL2 for steps x dpi / 1016, truncated.
int Steps(const Case& c, int n) {
    return c.vcgl ? n * (c.dpi == 400 ? 2 : 4) : n * 1016 / c.dpi + 1;
}

Image Diagonals(int width, int height) {
    Image picture;
    picture.width = width;
    picture.height = height;
    picture.bilevel = true;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) picture.pixels.push_back((x + y) % kPeriod == 0);
    return picture;
}

std::string ImageStream(const Case& c, int pixels, int lines, bool transparent,
                        std::string* error) {
    // Host steps of `n` grid cells: VCGL asks for the steps halved (400 dpi)
    // or quartered (200 dpi); RTL/GL2 for steps x dpi / 1016, truncated.
    const int gridX = c.longEdge ? lines : pixels, gridY = c.longEdge ? pixels : lines;
    const int margin = c.vcgl ? 400 : 508;
    Plot plot("diagonals");
    Placement place{margin, margin, margin + Steps(c, gridX), margin + Steps(c, gridY)};
    place.transparent = transparent;
    plot.DrawImage(plot.AddImage(Diagonals(gridX, gridY)), place);
    return StreamOf(plot, RecordOf(c), error);
}

class PrintedImages : public HostTest, public ::testing::WithParamInterface<Case> {};

// 6,000 pixels a row and 3,200 rows are cut into 25 bands of 128 rows,
// coded alternately on two cores.
constexpr int kPixels = 6000, kRows = 3200;

TEST_P(PrintedImages, BandsJoinWithoutABlankLostOrRepeatedRow) {
    InstallDriver();
    const Case& c = GetParam();
    std::string error;
    const int lines = kRows + (!c.vcgl && c.dpi == 600 ? 1 : 0);
    const std::string stream = ImageStream(c, kPixels, lines, false, &error);
    ASSERT_FALSE(stream.empty()) << error;
    const int dpi = c.vcgl ? (c.dpi >= 400 ? 400 : 200) : c.dpi;

    // The preview shows every row once, each the next along the diagonals.
    const Ink preview = PreviewInk(stream, dpi, &error);
    ASSERT_GT(preview.width, 0) << error;
    const std::vector<int> steps = Steps(Phases(preview, kRows));
    ASSERT_EQ(steps.size(), static_cast<std::size_t>(kRows - 1));
    const int step = steps.front();
    EXPECT_EQ(std::abs(step), 1);
    for (std::size_t i = 0; i < steps.size(); ++i) ASSERT_EQ(steps[i], step) << "after row " << i;
    if (c.vcgl) return;

    const std::vector<long> blocks = BlockRows(stream);
    ASSERT_EQ(blocks.size(), 25u);
    EXPECT_EQ(stream.find("\x1b*r1A"), stream.rfind("\x1b*r1A"));  // one raster
    long total = 0;
    for (long n : blocks) total += n;
    EXPECT_EQ(total, kRows);
    if (!HaveGpcl6()) GTEST_SKIP() << kGpcl6 << " is not here: the preview alone was checked";
    const Ink gpcl6 = Gpcl6Ink(stream, dpi, Path("gpcl6"), &error);
    ASSERT_GT(gpcl6.width, 0) << error;
    const std::vector<int> shown = Steps(Phases(gpcl6, kRows - static_cast<int>(blocks.size())));
    EXPECT_TRUE(SameEitherWay(shown, Gpcl6Steps(blocks, step)) ||
                SameEitherWay(shown, Gpcl6Steps(blocks, -step)));
    EXPECT_EQ(std::count(shown.begin(), shown.end(), -99), 0);  // no blank row
}

INSTANTIATE_TEST_SUITE_P(Joins, PrintedImages,
                         ::testing::Values(Case{"Rtl600LongEdge", false, 600, 14, 0, true},
                                           Case{"Rtl600Normal", false, 600, 36, 250, false},
                                           Case{"Rtl400LongEdge", false, 400, 2, 0, true},
                                           Case{"Rtl400Normal", false, 400, 24, 400, false},
                                           Case{"Rtl300LongEdge", false, 300, 2, 0, true},
                                           Case{"Rtl300Normal", false, 300, 24, 400, false},
                                           Case{"Rtl200LongEdge", false, 200, 1, 0, true},
                                           Case{"Rtl200Normal", false, 200, 23, 600, false},
                                           Case{"Vcgl400LongEdge", true, 400, 2, 0, true},
                                           Case{"Vcgl400Normal", true, 400, 24, 400, false},
                                           Case{"Vcgl200LongEdge", true, 200, 1, 0, true},
                                           Case{"Vcgl200Normal", true, 200, 23, 600, false}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

// Whether every pixel along each side of the ink's box is ink, a side's
// width `inward` pixels counted in: a frame drawn whole.
bool FrameWhole(const Ink& ink, int inward) {
    const auto [x0, y0, x1, y1] = BoxOf(ink);
    if (x1 < 0) return false;
    const auto inkNear = [&](int x, int y, int dx, int dy) {
        for (int k = 0; k < inward; ++k)
            if (ink(x + k * dx, y + k * dy)) return true;
        return false;
    };
    for (int x = x0; x <= x1; ++x)
        if (!inkNear(x, y0, 0, 1) || !inkNear(x, y1, 0, -1)) return false;
    for (int y = y0; y <= y1; ++y)
        if (!inkNear(x0, y, 1, 0) || !inkNear(x1, y, -1, 0)) return false;
    return true;
}

class ImagesOnTheSheet : public HostTest {
  protected:
    // The preview's and, where it is here, gpcl6's ink of an RTL stream.
    std::vector<Ink> Read(const std::string& stream, int dpi) {
        std::string error;
        std::vector<Ink> inks = {PreviewInk(stream, dpi, &error)};
        EXPECT_GT(inks[0].width, 0) << error;
        if (HaveGpcl6()) inks.push_back(Gpcl6Ink(stream, dpi, Path("gpcl6"), &error));
        EXPECT_GT(inks.back().width, 0) << error;
        return inks;
    }
};

TEST_F(ImagesOnTheSheet, AnOpaqueImageLeavesWhatLiesBesideItsWindow) {
    InstallDriver();
    // 2,401 pixels a row: the rows are padded to 2,464. A frame 1 mm outside
    // the window, drawn first, must stay whole: the padding past the window
    // would print white over the side the rows run towards.
    for (const bool longEdge : {true, false}) {
        SCOPED_TRACE(longEdge ? "long edge" : "normal");
        const Case c{"", false, 600, longEdge ? 14 : 36, longEdge ? 0 : 250, longEdge};
        const int across = longEdge ? 600 : 2401, up = longEdge ? 2401 : 600;
        const int x0 = 1016, y0 = 1016, x1 = x0 + Steps(c, across), y1 = y0 + Steps(c, up);
        const int mm = 40;
        Plot plot("framed");
        plot.Pen(7);
        plot.Width(0.5 / 25.4);
        plot.Move(static_cast<std::uint16_t>(x0 - mm), static_cast<std::uint16_t>(y0 - mm));
        for (const auto& [x, y] : {std::pair{x1 + mm, y0 - mm},
                                   {x1 + mm, y1 + mm},
                                   {x0 - mm, y1 + mm},
                                   {x0 - mm, y0 - mm}})
            plot.Draw(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y));
        const std::size_t image = plot.AddImage(Diagonals(across, up));
        plot.DrawImage(image, {x0, y0, x1, y1});
        std::string error;
        const std::string stream = StreamOf(plot, RecordOf(c), &error);
        ASSERT_FALSE(stream.empty()) << error;
        // Told the window's width, the rows' MMR still padded.
        EXPECT_NE(stream.find("\x1b*r2401S"), std::string::npos);
        for (const Ink& ink : Read(stream, 600)) EXPECT_TRUE(FrameWhole(ink, 8));

        // A transparent image prints no white: its rows' padded width stays.
        plot = Plot("framed");
        Placement transparent{x0, y0, x1, y1};
        transparent.transparent = true;
        plot.DrawImage(plot.AddImage(Diagonals(across, up)), transparent);
        EXPECT_NE(StreamOf(plot, RecordOf(c), &error).find("\x1b*r2464S"), std::string::npos);
    }
}

TEST_F(ImagesOnTheSheet, AnImagePastTheFarEdgePrintsItsPartOnTheSheet) {
    InstallDriver();
    // The normal orientation on a sheet 11.68 inches across: an image from 2
    // inches to an inch past the edge, whose rows start at its far end.
    const Case c{"", false, 600, 36, 250, false};
    const int pixels = 6408, rows = 1200;  // 10.68 x 2 inches
    const int x0 = 2032, y0 = 1016, x1 = x0 + Steps(c, pixels), y1 = y0 + Steps(c, rows + 1);
    Plot plot("past");
    plot.DrawImage(plot.AddImage(Diagonals(pixels, rows + 1)), {x0, y0, x1, y1});
    std::string error;
    const std::string stream = StreamOf(plot, RecordOf(c), &error);
    ASSERT_FALSE(stream.empty()) << error;
    // Anchored on the sheet, within a pixel of its edge, the window cut to
    // it: the columns past it are not sent.
    const int sheetX = 11866;  // 11.68 inches, truncated
    const std::size_t window = stream.find("IW2032,1016," + std::to_string(sheetX) + ",");
    ASSERT_NE(window, std::string::npos);
    int anchorX = 0;
    std::sscanf(stream.c_str() + stream.rfind("PA", window), "PA%d", &anchorX);
    EXPECT_LE(anchorX, sheetX);
    EXPECT_GE(anchorX, sheetX - 2);
    const int onSheet = (anchorX - x0) * 600 / 1016;
    const std::vector<Ink> inks = Read(stream, 600);
    for (const Ink& ink : inks) {
        // Every row there, each whole from the window's edge to the sheet's
        // (gpcl6 repeats the row before in place of a block's last row).
        const std::vector<int> steps = Steps(Phases(ink, rows));
        ASSERT_EQ(steps.size(), static_cast<std::size_t>(rows - 1));
        const std::size_t checked = &ink == &inks.front() ? steps.size() : steps.size() - 1;
        for (std::size_t i = 0; i < checked; ++i) ASSERT_EQ(std::abs(steps[i]), 1) << i;
        const Box box = BoxOf(ink);
        const int w = box.x1 - box.x0 + 1, h = box.y1 - box.y0 + 1;
        EXPECT_EQ(std::min(w, h), rows);
        EXPECT_NEAR(std::max(w, h), onSheet, 2);
    }
    // An image wholly past the sheet sends nothing of itself.
    plot = Plot("beyond");
    plot.DrawImage(plot.AddImage(Diagonals(100, 100)), {sheetX + 500, y0, sheetX + 700, y0 + 200});
    EXPECT_EQ(StreamOf(plot, RecordOf(c), &error).find("\x1b*r1A"), std::string::npos) << error;
}

}  // namespace
}  // namespace varnu::host::testing
