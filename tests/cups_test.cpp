// The CUPS driver with real CUPS: the PPD checked by cupstestppd, PDFs
// through cupsfilter's filter chain and through a private cupsd's queue,
// each stream read back with adihost render and compared with poppler's
// rendering of the pages; broken raster streams fed to the filter itself.
#include <cups/raster.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "pdf_sheets.h"
#include "private_cupsd.h"

namespace varnu::testing {
namespace {

class CupsTest : public SheetTest {
  public:
    std::string MakeServerBin() { return MakeCupsServerBin(dir_); }

    // Compares each job of the stream with poppler's rendering of the
    // same page of the PDF.
    void ExpectPages(const std::string& stream, const std::string& pdf, int pages) {
        const std::vector<std::string> jobs = SplitJobs(stream);
        ASSERT_EQ(static_cast<int>(jobs.size()), pages);
        for (int page = 1; page <= pages; ++page) {
            SCOPED_TRACE("page " + std::to_string(page));
            const Picture sheet = RenderJob(jobs[page - 1], "job" + std::to_string(page));
            const Match m = BestMatch(sheet, PopplerPage(pdf, page, 0));
            EXPECT_LT(m.meanDifference, 6.0);
            EXPECT_LT(m.worstBlock, 80.0);
        }
    }
};

TEST_F(CupsTest, PpdPassesCupstestppd) {
    const ProcessResult r =
        Run(std::string("cupstestppd -I filters ") + PPD_PATH + " > " + Path("cupstestppd.txt"));
    EXPECT_EQ(r.status, 0) << Read(Path("cupstestppd.txt"));
    const std::string ppd = Read(PPD_PATH);
    for (const char* line :
         {"*cupsFilter2: \"application/vnd.cups-raster application/vnd.varnu-rtl 0 "
          "rastertovarnu\"",
          "*cupsFilter2: \"application/pdf application/vnd.varnu-rtl 0 pdftovarnu\"",
          "*PageSize A0/A0: \"<</PageSize[2384 3370]/ImagingBBox null>>setpagedevice\"",
          "*PageSize A1/A1: \"<</PageSize[1684 2384]/ImagingBBox null>>setpagedevice\"",
          "*PageSize Letter/A-ANSI (8.5 in): \"<</PageSize[612 792]/ImagingBBox null>>",
          "*PageSize ARCHA/A-Arch (9 in): \"<</PageSize[648 864]/ImagingBBox null>>",
          "*Resolution 200dpi/200 dpi:", "*MediaType film/Film:",
          "*MediaType stationery/Plain paper:", "*de.MediaType stationery/Postpapier: \"\"",
          "*VarnuFinishProgram program20/Program 20:",
          "*de.VarnuFinishProgram program20/Programm 20: \"\"",
          "*VarnuFinishMargin marginsoff/Always on:",
          "*de.VarnuFinishMargin marginsoff/Immer ein: \"\"", "*cupsLanguages: \"de\"",
          "*cupsMaxCopies: 99", "*1284DeviceID: \"MFG:Varnu;MDL:4820/4810 Wide Format;",
          "*ParamCustomPageSize Width: 1 points 612 2592",
          "*ParamCustomPageSize Height: 2 points 72 42520"})
        EXPECT_NE(ppd.find(line), std::string::npos) << line;
}

TEST_F(CupsTest, CupsfilterTurnsAPdfIntoTheSheets) {
    const std::string bin = MakeServerBin();
    Write("cups-files.conf", "ServerBin " + bin + "\nDataDir /usr/share/cups\n");
    const std::string cupsfilter =
        "cupsfilter -c " + Path("cups-files.conf") + " -p " + PPD_PATH + " -m printer/varnu -e ";
    WriteDrawingPdf(Path("two.pdf"), 400, 250, 2);
    // A PDF goes straight to pdftovarnu, as do the PDFs CUPS makes of text
    // and PostScript, and PNG and JPEG to imagetovarnu.
    Write("text.txt", "A line of text\n");
    Write("drawing.ps", "%!PS\n72 72 moveto 500 700 lineto stroke showpage\n");
    for (const char* device : {"png16m", "jpeg"})
        ASSERT_EQ(
            Run(std::string("gs -q -dSAFER -dBATCH -dNOPAUSE -r20 -sDEVICE=") + device +
                " -sOutputFile=" + Path(std::string("image.") + device) + " " + Path("drawing.ps"))
                .status,
            0);
    const struct {
        const char* file;
        const char* chain;
    } chains[] = {{"two.pdf", "pdftovarnu\n"},
                  {"text.txt", "texttopdf\npdftovarnu\n"},
                  {"drawing.ps", "gstopdf\npdftovarnu\n"},
                  {"image.png16m", "imagetovarnu\n"},
                  {"image.jpeg", "imagetovarnu\n"}};
    for (const auto& c : chains) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(
            Run(cupsfilter + "--list-filters " + Path(c.file) + " > " + Path("chain.txt")).status,
            0);
        EXPECT_EQ(Read(Path("chain.txt")), c.chain);
    }
    const ProcessResult r = Run(cupsfilter + "-n 2 -o PageSize=A2 -o Resolution=200dpi " +
                                Path("two.pdf") + " > " + Path("two.prn"));
    ASSERT_EQ(r.status, 0) << r.err;
    // The printer makes the copies: each job asks for two.
    EXPECT_NE(r.err.find("PAGE: 2 2"), std::string::npos);
    const std::string stream = Read(Path("two.prn"));
    for (const std::string& job : SplitJobs(stream))
        EXPECT_NE(job.find("BP2,2;IN;"), std::string::npos);
    ExpectPages(stream, Path("two.pdf"), 2);
    // The same bytes as adihost's with the same settings.
    ASSERT_EQ(Adihost("configure --defaults --paper A2 --resolution 200 --copies 2").status, 0);
    ASSERT_EQ(Adihost("plot " + Path("two.pdf") + " --page all --rotate auto --quiet -o " +
                      Path("adihost.prn"))
                  .status,
              0);
    EXPECT_TRUE(stream == Read(Path("adihost.prn"))) << "the PPD's stream differs from adihost's";
}

// A raster stream of grey pages written with libcups, cut after `lines`
// lines of the last page when asked.
void WriteRaster(const std::string& path, int pages, unsigned widthPt, unsigned lengthPt,
                 unsigned bitsPerColor, int cutAfterLines = -1) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    for (int page = 1; page <= pages; ++page) {
        cups_page_header2_t h;
        std::memset(&h, 0, sizeof h);
        h.HWResolution[0] = h.HWResolution[1] = 200;
        h.PageSize[0] = widthPt, h.PageSize[1] = lengthPt;
        h.cupsWidth = widthPt * 200 / 72, h.cupsHeight = lengthPt * 200 / 72;
        h.cupsBitsPerColor = h.cupsBitsPerPixel = bitsPerColor;
        h.cupsBytesPerLine = (h.cupsWidth * bitsPerColor + 7) / 8;
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsColorSpace = CUPS_CSPACE_SW;
        cupsRasterWriteHeader2(raster, &h);
        std::vector<unsigned char> line(h.cupsBytesPerLine, 0x80);
        const unsigned lines = page == pages && cutAfterLines >= 0
                                   ? static_cast<unsigned>(cutAfterLines)
                                   : h.cupsHeight;
        for (unsigned y = 0; y < lines; ++y)
            cupsRasterWritePixels(raster, line.data(), h.cupsBytesPerLine);
    }
    cupsRasterClose(raster);
    close(fd);
}

// One A4 page at 200 dpi of a drawing given in portrait coordinates: a black
// block at the top left, a grey ramp and a diagonal. `landscape` writes the
// page turned a quarter clockwise (as the filter turns a portrait page).
void WritePatternRaster(const std::string& path, cups_cspace_t space, bool landscape) {
    const unsigned pw = 595 * 200 / 72, ph = 841 * 200 / 72;
    auto grey = [&](unsigned x, unsigned y) -> unsigned char {
        if (x < 400 && y < 300) return 0;
        if (y > 1000 && y < 1200) return static_cast<unsigned char>(x * 255 / pw);
        if (x == y || x + 1 == y) return 0;
        return 255;
    };
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = 200;
    h.PageSize[0] = landscape ? 841 : 595, h.PageSize[1] = landscape ? 595 : 841;
    h.cupsWidth = landscape ? ph : pw, h.cupsHeight = landscape ? pw : ph;
    const unsigned channels = space == CUPS_CSPACE_SRGB ? 3 : 1;
    h.cupsBitsPerColor = 8, h.cupsBitsPerPixel = 8 * channels;
    h.cupsBytesPerLine = h.cupsWidth * channels;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = space;
    cupsRasterWriteHeader2(raster, &h);
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    for (unsigned v = 0; v < h.cupsHeight; ++v) {
        for (unsigned u = 0; u < h.cupsWidth; ++u) {
            unsigned char g = landscape ? grey(v, ph - 1 - u) : grey(u, v);
            if (space == CUPS_CSPACE_K) g = static_cast<unsigned char>(255 - g);
            for (unsigned c = 0; c < channels; ++c) line[u * channels + c] = g;
        }
        cupsRasterWritePixels(raster, line.data(), h.cupsBytesPerLine);
    }
    cupsRasterClose(raster);
    close(fd);
}

TEST_F(CupsTest, GreyRgbBlackAndTurnedRastersPrintTheSameBytes) {
    const std::string filter =
        "TMPDIR=" + dir_.string() + " " + RASTERTOVARNU_PATH + " 1 user title 1 '' ";
    const struct {
        const char* name;
        cups_cspace_t space;
        bool landscape;
    } rasters[] = {{"grey", CUPS_CSPACE_SW, false},
                   {"rgb", CUPS_CSPACE_SRGB, false},
                   {"black", CUPS_CSPACE_K, false},
                   {"landscape", CUPS_CSPACE_W, true}};
    std::string first;
    for (const auto& r : rasters) {
        SCOPED_TRACE(r.name);
        const std::string ras = Path(std::string(r.name) + ".ras");
        const std::string prn = Path(std::string(r.name) + ".prn");
        WritePatternRaster(ras, r.space, r.landscape);
        const ProcessResult run = Run(filter + ras + " > " + prn);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string stream = Read(prn);
        if (first.empty()) {
            first = stream;
            // The block lands black on the sheet: the picture was drawn.
            const Picture sheet = RenderJob(stream, "grey-sheet");
            int dark = 0;
            for (std::uint8_t g : sheet.grey) dark += g < 64 ? 1 : 0;
            EXPECT_GT(dark, 1500);  // the block: 2 x 1.5 inches at 50 dpi
        }
        EXPECT_TRUE(stream == first) << "stream differs from the grey page's";
    }
}

// A raster stream of one grey page whose header says `lines` lines of
// `width` pixels at 600 dpi on A4 paper, holding only `written` of them.
void WriteCarelessRaster(const std::string& path, unsigned width, unsigned lines,
                         unsigned written) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = 600;
    h.PageSize[0] = 595, h.PageSize[1] = 842;
    h.cupsWidth = width, h.cupsHeight = lines;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = width;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_W;
    cupsRasterWriteHeader2(raster, &h);
    std::vector<unsigned char> line(width, 0);
    for (unsigned y = 0; y < written; ++y) cupsRasterWritePixels(raster, line.data(), width);
    cupsRasterClose(raster);
    close(fd);
}

TEST_F(CupsTest, BrokenRasterIsAnErrorWithNoOutput) {
    WriteRaster(Path("good.ras"), 2, 842, 1191, 8);  // A3
    Write("garbage.ras", "RaS3 but nothing a raster stream holds");
    Write("empty.ras", "");
    WriteRaster(Path("onebit.ras"), 1, 842, 1191, 1);
    WriteRaster(Path("wide.ras"), 1, 3600, 144, 8);  // 50 inches: wider than any roll
    // 200,000 lines of A4 width (8.5 m) said, ten given: refused before a line is read.
    WriteCarelessRaster(Path("tall.ras"), 4960, 200000, 10);
    WriteCarelessRaster(Path("onepixel.ras"), 1, 2000, 2000);
    const std::string filter = std::string(RASTERTOVARNU_PATH) + " 1 user title 1 '' ";
    const ProcessResult good =
        Run("TMPDIR=" + dir_.string() + " " + filter + Path("good.ras") + " > " + Path("good.prn"));
    ASSERT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(SplitJobs(Read(Path("good.prn"))).size(), 2u);
    EXPECT_NE(good.err.find("PAGE: 1 1\n"), std::string::npos) << good.err;
    EXPECT_NE(good.err.find("PAGE: 2 1\n"), std::string::npos) << good.err;
    const struct {
        const char* file;
        const char* message;
    } cases[] = {
        {"garbage.ras", "ERROR: the raster stream holds no page"},
        {"empty.ras", "ERROR: the input is not a CUPS raster stream"},
        {"onebit.ras", "ERROR: page 1: only 8-bit grey or RGB raster"},
        {"wide.ras", "ERROR: no paper format or roll width of 3600 x 144 points"},
        {"tall.ras", "ERROR: page 1 (210 x 8467 mm) is larger than the sheet (297 x 210 mm)\n"},
        {"onepixel.ras", "ERROR: page 1: the driver wrote nothing\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const ProcessResult r = Run("TMPDIR=" + dir_.string() + " " + filter + " < " +
                                    Path(c.file) + " > " + Path("out.prn"));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(Read(Path("out.prn")).empty());
        EXPECT_EQ(r.err.find("PAGE:"), std::string::npos);
    }
    // Cut inside page 2: page 1 was sent whole when it was done, and stays
    // sent; nothing of page 2 is.
    WriteRaster(Path("cut.ras"), 2, 842, 1191, 8, 100);
    const ProcessResult cut =
        Run("TMPDIR=" + dir_.string() + " " + filter + Path("cut.ras") + " > " + Path("cut.prn"));
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("PAGE: 1 1\nINFO: Printing page 2\nERROR: the raster stream ends "
                           "inside page 2 (line 101 of 3308)\n"),
              std::string::npos)
        << cut.err;
    EXPECT_EQ(Read(Path("cut.prn")), SplitJobs(Read(Path("good.prn")))[0]);
    // Nothing left behind in the job's TMPDIR.
    for (const auto& entry : fs::directory_iterator(dir_))
        EXPECT_EQ(entry.path().filename().string().rfind("rastertovarnu-", 0), std::string::npos)
            << entry.path();
}

// Each page reaches the printer as soon as it is done: page 1's stream is
// on standard output while the filter still waits for page 2.
// Hostile plot files and drawings end in the CUPS filters as in adihost:
// one error line, nothing sent, at once.
TEST_F(CupsTest, HostilePlotFilesAndDrawingsSendNothing) {
    Write("huge.plt", "IN;PS1000000000,1000000000;SP1;PD100,100;");
    Write("label.plt", "IN;SP1;LB" + std::string(1 << 20, 'A'));
    Write(
        "polygon.plt", "IN;SP1;PM0;" + [] {
            std::string s;
            for (int i = 0; i < 200000; ++i) s += "PD" + std::to_string(i % 1000) + ",5;";
            return s;
        }());
    Write("broken.dxf", "  0\nSECTION\n  2\nENTITIES\n  0\nLINE\n 10\nnot a number\n");
    const struct {
        const char* filter;
        const char* type;
        const char* file;
        const char* message;
    } cases[] = {
        {HPGLTOVARNU_PATH, "application/vnd.hp-HPGL", "huge.plt", "larger than any paper"},
        {HPGLTOVARNU_PATH, "application/vnd.hp-HPGL", "label.plt",
         "ERROR: byte 9: a label longer than 16384 characters"},
        {HPGLTOVARNU_PATH, "application/vnd.hp-HPGL", "polygon.plt",
         "ERROR: byte 7: the polygon buffer opened here is never closed"},
        {DXFTOVARNU_PATH, "image/vnd.dxf", "broken.dxf", "nothing to draw"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const ProcessResult r =
            Run("TMPDIR=" + dir_.string() + " CONTENT_TYPE=" + c.type + " PPD=" + PPD_PATH + " " +
                c.filter + " 1 user title 1 '' " + Path(c.file) + " > " + Path("out.prn"));
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(Read(Path("out.prn")).empty());
        EXPECT_EQ(r.err.find("PAGE:"), std::string::npos) << r.err;
    }
}

TEST_F(CupsTest, EachPageIsSentWhenItIsDone) {
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("TMPDIR", dir_.c_str(), 1);
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(open("/dev/null", O_WRONLY), 2);
        for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
        execl(RASTERTOVARNU_PATH, "rastertovarnu", "1", "user", "title", "1", "", nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    cups_raster_t* raster = cupsRasterOpen(in[1], CUPS_RASTER_WRITE_COMPRESSED);
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = 200;
    h.PageSize[0] = 842, h.PageSize[1] = 1191;
    h.cupsWidth = 842 * 200 / 72, h.cupsHeight = 1191 * 200 / 72;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = h.cupsWidth;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    std::vector<unsigned char> line(h.cupsBytesPerLine, 0x80);
    auto page = [&] {
        cupsRasterWriteHeader2(raster, &h);
        for (unsigned y = 0; y < h.cupsHeight; ++y)
            cupsRasterWritePixels(raster, line.data(), h.cupsBytesPerLine);
    };
    page();
    // Page 1's job, whole, before page 2 is written.
    std::string first;
    char piece[4096];
    pollfd ready{out[0], POLLIN, 0};
    while (first.find("\x1b%-12345X\r\n") == std::string::npos && poll(&ready, 1, 60000) == 1) {
        const ssize_t n = read(out[0], piece, sizeof piece);
        if (n <= 0) break;
        first.append(piece, static_cast<std::size_t>(n));
    }
    page();
    cupsRasterClose(raster);
    close(in[1]);
    std::string rest;
    for (ssize_t n; (n = read(out[0], piece, sizeof piece)) > 0;)
        rest.append(piece, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_EQ(SplitJobs(first).size(), 1u);
    EXPECT_EQ(first.rfind("\x1b%-12345X\r\n"), first.size() - 11) << "page 1's end came last";
    const std::vector<std::string> jobs = SplitJobs(first + rest);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0], jobs[1]);
}

// CUPS cancels a job with SIGTERM, a hang-up sends SIGHUP and a reader that
// goes away SIGPIPE; whenever a filter is stopped, even by SIGKILL, the
// job's TMPDIR keeps nothing of it (pdftovarnu keeps a PDF from standard
// input there), and it dies of that signal.
TEST_F(CupsTest, AStoppedFilterLeavesNothingInItsTmpdir) {
    WriteRaster(Path("pages.ras"), 8, 842, 1191, 8);  // A3 pages, each some work
    WriteDrawingPdf(Path("pages.pdf"), 297, 420, 8);
    const struct {
        const char* path;
        const char* input;
        const char* options;
    } filters[] = {{RASTERTOVARNU_PATH, "pages.ras", ""},
                   {PDFTOVARNU_PATH, "pages.pdf", "PageSize=A3 Resolution=600dpi"}};
    for (const auto& filter : filters)
        for (const int signal : {SIGTERM, SIGHUP, SIGPIPE, SIGKILL}) {
            SCOPED_TRACE(std::string(filter.path) + " " + std::to_string(signal));
            const fs::path tmp = dir_ / ("tmp-" + std::to_string(signal));
            fs::create_directories(tmp);
            int err[2];
            ASSERT_EQ(pipe(err), 0);
            const pid_t pid = fork();
            if (pid == 0) {
                setenv("TMPDIR", tmp.c_str(), 1);
                setenv("PPD", PPD_PATH, 1);
                dup2(open(Path(filter.input).c_str(), O_RDONLY), 0);
                dup2(open("/dev/null", O_WRONLY), 1);
                dup2(err[1], 2);
                close(err[0]);
                execl(filter.path, filter.path, "1", "user", "title", "1", filter.options, nullptr);
                _exit(127);
            }
            close(err[1]);
            // Stopped while it works on the second page, the first one done.
            std::string said;
            char piece[256];
            for (ssize_t n; said.find("INFO: Printing page 2") == std::string::npos &&
                            (n = read(err[0], piece, sizeof piece)) > 0;)
                said.append(piece, static_cast<std::size_t>(n));
            ASSERT_NE(said.find("PAGE: 1 1"), std::string::npos) << said;
            kill(pid, signal);
            int status = 0;
            waitpid(pid, &status, 0);
            close(err[0]);
            ASSERT_TRUE(WIFSIGNALED(status)) << status;
            EXPECT_EQ(WTERMSIG(status), signal);
            for (const auto& entry : fs::recursive_directory_iterator(tmp))
                ADD_FAILURE() << "left behind: " << entry.path();
        }
}

TEST_F(CupsTest, PdfPrintedThroughAPrivateCupsdQueue) {
    if (!fs::exists("/usr/sbin/cupsd")) GTEST_SKIP() << "cupsd is not installed (Debian: cups)";
    if (geteuid() != 0) GTEST_SKIP() << "a private cupsd that runs filters as lp needs root";
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    PrivateCupsd cupsd(dir_ / "cupsd");
    std::string error;
    ASSERT_TRUE(cupsd.Start(MakeServerBin(), &error))
        << error << "\n"
        << Read((dir_ / "cupsd/log/error_log").string());
    const std::string server = cupsd.Server();
    const std::string out = (dir_ / "cupsd/out/printed.prn").string();
    WriteDrawingPdf(Path("two.pdf"), 400, 250, 2);
    fs::permissions(Path("two.pdf"), fs::perms::others_read, fs::perm_options::add);
    ASSERT_EQ(Run(server + "lpadmin -p Varnu4820 -E -v file://" + out + " -P " + PPD_PATH).status,
              0);
    // IPP's names, which the scheduler gives the filter in the PPD's terms.
    const ProcessResult lp = Run(server +
                                 "lp -d Varnu4820 -n 2 -o media=iso_a2_420x594mm "
                                 "-o printer-resolution=200dpi -o VarnuFinishProgram=program3 " +
                                 Path("two.pdf") + " > " + Path("lp.txt"));
    ASSERT_EQ(lp.status, 0) << lp.err;
    auto waitFor = [&](const char* which, const std::string& until, bool has) {
        for (int i = 0; i < 600; ++i) {
            Run(server + "lpstat " + which + " > " + Path("lpstat.txt"));
            if ((Read(Path("lpstat.txt")).find(until) != std::string::npos) == has) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    };
    ASSERT_TRUE(waitFor("-W completed -o Varnu4820", "Varnu4820-", true))
        << "the job did not complete within a minute\n"
        << Read((dir_ / "cupsd/log/error_log").string());
    EXPECT_NE(Read((dir_ / "cupsd/log/page_log").string()).find("Varnu4820"), std::string::npos);
    const std::string stream = Read(out);
    // The option chosen with lp reaches the configuration record.
    EXPECT_NE(stream.find("@PJL DEFAULT FINISHPROGID=PROGRAM3\r\n"), std::string::npos);
    ExpectPages(stream, Path("two.pdf"), 2);
    ASSERT_EQ(
        Adihost("configure --defaults --paper A2 --resolution 200 --copies 2 --program 3").status,
        0);
    ASSERT_EQ(Adihost("plot " + Path("two.pdf") + " --page all --rotate auto --quiet -o " +
                      Path("adihost.prn"))
                  .status,
              0);
    EXPECT_TRUE(stream == Read(Path("adihost.prn"))) << "the queue's stream differs from adihost's";
    // A job cancelled while pdftovarnu draws it (A0 at 600 dpi) leaves
    // nothing in the filters' TMPDIR (the spool) but the scheduler's own
    // job files.
    WriteDrawingPdf(Path("big.pdf"), 841, 1189, 3);
    fs::permissions(Path("big.pdf"), fs::perms::others_read, fs::perm_options::add);
    ASSERT_EQ(
        Run(server + "lp -d Varnu4820 -o media=iso_a0_841x1189mm -o printer-resolution=600dpi " +
            Path("big.pdf"))
            .status,
        0);
    ASSERT_TRUE(waitFor("-p Varnu4820", "now printing", true));
    ASSERT_EQ(Run(server + "cancel -a Varnu4820").status, 0);
    ASSERT_TRUE(waitFor("-W not-completed -o Varnu4820", "Varnu4820-", false));
    ASSERT_TRUE(waitFor("-p Varnu4820", "now printing", false));
    cupsd.Stop();
    // Its first page, cut short, sent nothing (the file device starts
    // each job anew).
    EXPECT_EQ(Read(out), "");
    // The scheduler's own job files (c00001, d00001-001) stay.
    auto jobFile = [](const std::string& name) {
        if (name.size() < 2 || (name[0] != 'c' && name[0] != 'd')) return false;
        const std::size_t dash = name.find('-');
        const std::string number = name.substr(1, dash == std::string::npos ? dash : dash - 1);
        const std::string part = dash == std::string::npos ? "1" : name.substr(dash + 1);
        auto digits = [](const std::string& s) {
            return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
        };
        return digits(number) && digits(part);
    };
    for (const auto& entry : fs::recursive_directory_iterator(dir_ / "cupsd/spool"))
        if (!jobFile(entry.path().filename().string()))
            ADD_FAILURE() << "left behind: " << entry.path();
}

}  // namespace
}  // namespace varnu::testing
