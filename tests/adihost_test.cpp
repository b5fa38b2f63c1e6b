// adihost as a user runs it: the program started as a process on scripts,
// images and configuration changes, its files and exit status checked. What
// the host library does inside is tested in process (host/tests); these
// check the program itself and its render subcommand; what the preview
// draws is tested in process (host/tests/preview_test.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host_table.h"
#include "plot_session.h"
#include "reference_jobs.h"
#include "test_host.h"
#include "varnu/config_record.h"
#include "varnu/pladi.h"

namespace varnu::testing {
namespace {

namespace fs = std::filesystem;

struct ProcessResult {
    int status;
    std::string err;
};

class AdihostTest : public DriverTest {
  public:
    void SetUp() override {
        DriverTest::SetUp();
        dir_ = fs::temp_directory_path() /
               ("adihost-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    ProcessResult Plot(const std::string& input) {
        return Adihost("plot \"" + input + "\" -o " + Path("drawing.prn") + " --quiet");
    }

    // With the record in `config` (varnu.cfg when none is named).
    ProcessResult Adihost(const std::string& arguments, const std::string& config = "") {
        const std::string err = Path("stderr.txt");
        const std::string command = std::string(ADIHOST_PATH) + " --config " +
                                    (config.empty() ? Path("varnu.cfg") : config) + " " +
                                    arguments + " > " + Path("stdout.txt") + " 2> " + err;
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read(err)};
    }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(Path(name), std::ios::binary) << text;
    }

    fs::path dir_;
};

// The same job through the in-process test host: the requests adihost sends.
std::string InProcessJob(const std::string& storedRecord, const std::function<void()>& drawing) {
    TestHost& host = TestHost::Get();
    std::memcpy(host.storedConfig.data(), storedRecord.data(), 40);
    host.hasStoredConfig = true;
    Packet messages(50);
    SendDriver(messages);
    Packet version(11);
    version.Set<std::int16_t>(layout::version::kVersion, 14);
    SendDriver(version);
    Packet configure(21);
    SendDriver(configure);
    const double x = configure.Get<double>(layout::configure::kExtentX),
                 y = configure.Get<double>(layout::configure::kExtentY),
                 resolution = configure.Get<double>(layout::configure::kResolutionX);
    hostkit::JobOpening opening;
    opening.extentX = x;
    opening.extentY = y;
    opening.resolution = resolution;
    std::string error;
    EXPECT_EQ(hostkit::OpenPlotJob(&PlotRequest, opening, &error), 0) << error;
    drawing();
    Packet end(2);
    SendPlot(end);
    return host.Output();
}

TEST_F(AdihostTest, ScriptGivesTheSameBytesAsTheInProcessHost) {
    ASSERT_EQ(Adihost("configure --defaults --copies 2").status, 0);
    Write("job.adi",
          "# a short job\nmove 100 200\ndraw 150 200\npenup\ndraw 150 300\npen 3\nwidth 0.35mm\n"
          "polygon 3 0,0 100,0 100,100\n");
    const ProcessResult run = Adihost("plot " + Path("job.adi") + " -o " + Path("job.prn"));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string bytes = Read(Path("job.prn"));
    EXPECT_NE(bytes.find("BP2,2;IN;"), std::string::npos);
    EXPECT_NE(bytes.find("PE7<GeOkCb_<___Ge;SP7PW0.350"), std::string::npos);
    EXPECT_EQ(bytes.substr(bytes.size() - 21), ";PUSP0;PG;\x1b%-12345X\r\n");

    const std::string expected = InProcessJob(Read(Path("varnu.cfg")), [] {
        auto point = [](std::int16_t code, std::uint16_t x, std::uint16_t y) {
            Packet p(code);
            p.Set<std::uint16_t>(layout::point::kX, x).Set<std::uint16_t>(layout::point::kY, y);
            SendPlot(p);
        };
        point(3, 100, 200);
        point(4, 150, 200);
        Packet up(8);
        SendPlot(up);
        point(4, 150, 300);
        Packet pen(5);
        pen.Set<std::uint16_t>(layout::pen::kPen, 3);
        SendPlot(pen);
        Packet width(41);
        width.Set<double>(layout::pen::kWidth, 0.35 / 25.4);
        SendPlot(width);
        Packet polygon(33);
        polygon.Set<std::int16_t>(layout::polygon::kFill, 3)
            .Set<std::int16_t>(layout::polygon::kCount, 3);
        const std::uint16_t v[] = {0, 0, 100, 0, 100, 100};
        for (int i = 0; i < 6; ++i)
            polygon.Set<std::uint16_t>(layout::polygon::kVertices + 2 * i, v[i]);
        SendPlot(polygon);
    });
    EXPECT_EQ(bytes, expected);
}

TEST_F(AdihostTest, RefusedConfigureValueLeavesTheRecordAlone) {
    ASSERT_EQ(Adihost("configure --defaults --margin 4").status, 0);
    const std::string before = Read(Path("varnu.cfg"));
    ASSERT_EQ(before.size(), 40u);
    for (const char* refused :
         {"--copies 0", "--copies 150", "--margin 11", "--paper 30 --length 16000", "--paper Q9"}) {
        const ProcessResult run = Adihost(std::string("configure ") + refused);
        EXPECT_EQ(run.status, 1) << refused;
        EXPECT_EQ(Read(Path("varnu.cfg")), before) << refused;
    }
    const ProcessResult warned = Adihost("configure --copies 0");
    EXPECT_NE(warned.err.find(
                  "Anzahl an Kopien: Legen Sie die Zahl der Kopien im Bereich von 1 bis 99 fest."),
              std::string::npos)
        << warned.err;
    // Accepted values are stored and shown.
    ASSERT_EQ(Adihost("configure --paper 30 --length 2000 --program 2 --bin 3 --show").status, 0);
    const std::string shown = Read(Path("stdout.txt"));
    EXPECT_NE(shown.find("Format: Benutzerdef. Format von C-ANSI(17Zoll) Breite"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("Ausgabe -Fach: Fach 2"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Linienart Nr. 0 = Solide Linie"), std::string::npos);
}

TEST_F(AdihostTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(Adihost("plot").status, 2);
    EXPECT_EQ(Adihost("configure --resolution 500").status, 2);
    EXPECT_EQ(Adihost("nonsense").status, 2);
    EXPECT_EQ(Adihost("--help").status, 0);
}

// An 8-bit PNG of `pixels` (RGB, or grey when `grey`), rows top to bottom.
bool WritePixels(const std::string& path, int width, int height,
                 const std::vector<std::uint8_t>& pixels, bool grey = false) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, path.c_str(), 0, pixels.data(), 0, nullptr) != 0;
}

void WritePng(const std::string& path) {
    std::vector<std::uint8_t> rgb(64 * 32 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7);
    WritePixels(path, 64, 32, rgb);
}

void WriteGroup4Tiff(const std::string& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 200u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 100u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 100u);
    std::vector<std::uint8_t> rows(25 * 100, 0);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            if ((x - 100) * (x - 100) + (y - 50) * (y - 50) < 40 * 40)
                rows[y * 25 + x / 8] |= 0x80 >> (x % 8);
    TIFFWriteEncodedStrip(tif, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
    TIFFClose(tif);
}

// Reads a PNG as RGB through libpng.
bool ReadPng(const std::string& path, int* width, int* height, std::vector<std::uint8_t>* rgb) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_RGB;
    rgb->resize(PNG_IMAGE_SIZE(png));
    *width = static_cast<int>(png.width);
    *height = static_cast<int>(png.height);
    return png_image_finish_read(&png, nullptr, rgb->data(), 0, nullptr) != 0;
}

TEST_F(AdihostTest, ImagesLabelAndDemo) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    WritePng(Path("photo.png"));
    WriteGroup4Tiff(Path("scan.tif"));
    const ProcessResult png = Adihost("plot " + Path("photo.png") + " -o " + Path("photo.prn") +
                                      " --quiet --at 10,10,160,85 --label \"Plan 7\"");
    ASSERT_EQ(png.status, 0) << png.err;
    const std::string photo = Read(Path("photo.prn"));
    EXPECT_NE(photo.find("BP1,\"Plan 7\",2,1;IN;"), std::string::npos);
    EXPECT_NE(photo.find("\x1b*b8M"), std::string::npos);
    EXPECT_NE(photo.find("TR0;"), std::string::npos);
    const ProcessResult scan = Adihost("plot " + Path("scan.tif") + " -o " + Path("scan.prn") +
                                       " --at 10,10,110,60 --color 5 --transparent");
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(Read(Path("scan.prn")).find("TR1;"), std::string::npos);

    const std::string record = Read(Path("varnu.cfg"));
    const ProcessResult demo = Adihost("demo --quiet -o " + Path("demo"));
    ASSERT_EQ(demo.status, 0) << demo.err;
    const std::string rtl = Read(Path("demo/demo-rtl.prn")),
                      vcgl = Read(Path("demo/demo-vcgl.prn"));
    EXPECT_EQ(rtl.substr(0, 14), "\x1b%-12345X@PJL\r");
    EXPECT_NE(rtl.find("LT-8,2.0"), std::string::npos);
    EXPECT_EQ(static_cast<unsigned char>(vcgl[0]), 0x9B);
    EXPECT_EQ(Read(Path("varnu.cfg")), record);  // the user's record untouched by the demo
    EXPECT_EQ(std::distance(fs::directory_iterator(Path("demo")), fs::directory_iterator()), 4);
    // Its previews of both modes agree: the polygons' fills differ (grey
    // against halftone); everything else lands alike.
    int w[2], h[2];
    std::vector<std::uint8_t> rgb[2];
    ASSERT_TRUE(ReadPng(Path("demo/demo-rtl.png"), &w[0], &h[0], &rgb[0]));
    ASSERT_TRUE(ReadPng(Path("demo/demo-vcgl.png"), &w[1], &h[1], &rgb[1]));
    auto ink = [&](int k, int bx, int by) {  // in a quarter-inch block from the bottom left
        for (int y = 0; y < 25; ++y)
            for (int x = 0; x < 25; ++x) {
                const int px = bx * 25 + x, py = h[k] - 1 - (by * 25 + y);
                if (px >= w[k] || py < 0) continue;
                if (rgb[k][(static_cast<std::size_t>(py) * w[k] + px) * 3] < 160) return true;
            }
        return false;
    };
    int both = 0, either = 0;
    for (int by = 0; by < 36 * 4; ++by)
        for (int bx = 0; bx < 48 * 4; ++bx) {
            const bool a = ink(0, bx, by), b = ink(1, bx, by);
            both += a && b;
            either += a || b;
        }
    ASSERT_GT(either, 200);
    EXPECT_GT(static_cast<double>(both) / either, 0.85) << both << " of " << either;
}

// A file is known by its first bytes before its name: a PNG named .Png or
// .jpg, and a JPEG named .png, plot as what they are, the same bytes as
// under their own names; a stream of several sheets renders each.
TEST_F(AdihostTest, FilesAreKnownByTheirBytesAndEverySheetIsRendered) {
    ASSERT_EQ(Adihost("configure --defaults --resolution 200").status, 0);
    WritePng(Path("photo.png"));
    ASSERT_EQ(Adihost("plot " + Path("photo.png") + " -o " + Path("own.prn") + " --quiet").status,
              0);
    for (const char* name : {"photo.Png", "photo.jpg", "photo"}) {
        SCOPED_TRACE(name);
        fs::copy_file(Path("photo.png"), Path(name), fs::copy_options::overwrite_existing);
        const ProcessResult r =
            Adihost(std::string("plot ") + Path(name) + " -o " + Path("named.prn") + " --quiet");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Read(Path("named.prn")) == Read(Path("own.prn")));
    }
    const ProcessResult papers = Adihost("configure --list-papers");
    ASSERT_EQ(papers.status, 0) << papers.err;
    const std::string listed = Read(Path("stdout.txt"));
    EXPECT_EQ(listed.rfind(" 1  E-Arch(36Zoll)\n", 0), 0u) << listed;
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 41);
    // Two jobs in one stream: two sheets, each its own PNG.
    Write("two.prn", Read(Path("own.prn")) + Read(Path("own.prn")));
    const ProcessResult render =
        Adihost("render " + Path("two.prn") + " -o " + Path("two.png") + " --dpi 20");
    ASSERT_EQ(render.status, 0) << render.err;
    EXPECT_NE(render.err.find("sheet 2: " + Path("two-2.png")), std::string::npos) << render.err;
    int w[2], h[2];
    std::vector<std::uint8_t> rgb[2];
    ASSERT_TRUE(ReadPng(Path("two-1.png"), &w[0], &h[0], &rgb[0]));
    ASSERT_TRUE(ReadPng(Path("two-2.png"), &w[1], &h[1], &rgb[1]));
    EXPECT_TRUE(rgb[0] == rgb[1]);
}

// The test page's rulers: a long tick every 100 mm from the ruler's start,
// where the preview of the printed sheet puts them (its scale is right).
TEST_F(AdihostTest, TheTestPageRulersMeasureTrue) {
    ASSERT_EQ(Adihost("configure --defaults --paper A2 --resolution 200").status, 0);
    const ProcessResult page = Adihost("test-page -o " + Path("test.prn"));
    ASSERT_EQ(page.status, 0) << page.err;
    ASSERT_EQ(
        Adihost("render " + Path("test.prn") + " -o " + Path("test.png") + " --dpi 100").status, 0);
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgb;
    ASSERT_TRUE(ReadPng(Path("test.png"), &w, &h, &rgb));
    const auto dark = [&](int x, int y) {
        return rgb[(static_cast<std::size_t>(y) * w + x) * 3] < 128;
    };
    const int ruler = h - 1 - 50;  // half an inch up from the sheet's lower edge
    for (int k = 1; k <= 4; ++k) {
        SCOPED_TRACE(k * 100);
        const int x = static_cast<int>(std::lround(50 + k * 100 / 25.4 * 100));
        const int above = ruler - 20;  // 5 mm up: only the long ticks reach
        EXPECT_TRUE(dark(x, above) || dark(x - 1, above) || dark(x + 1, above));
        EXPECT_FALSE(dark(x + 20, above));
    }
}

TEST_F(AdihostTest, TransparentPngAreasPrintWhite) {
    // Black pixels of the image's bands (the padding to a multiple of 32 is white).
    auto blackInBands = [this](const std::string& folder) {
        std::size_t black = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string pbm = Read(entry.path().string());
            int width = 0, height = 0, skip = 0;
            if (std::sscanf(pbm.c_str(), "P4\n%d %d\n%n", &width, &height, &skip) != 2) continue;
            for (std::size_t i = static_cast<std::size_t>(skip); i < pbm.size(); ++i)
                black += static_cast<std::size_t>(
                    __builtin_popcount(static_cast<unsigned char>(pbm[i])));
        }
        return black;
    };
    // Black pixels, the left half of them fully transparent: RGBA and grey
    // with alpha, opaque and transparent images alike.
    const int w = 64, h = 32;
    for (const bool grey : {false, true}) {
        const int channels = grey ? 2 : 4;
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w * h * channels), 0);
        for (int y = 0; y < h; ++y)
            for (int x = w / 2; x < w; ++x) pixels[(y * w + x) * channels + channels - 1] = 255;
        png_image png;
        std::memset(&png, 0, sizeof png);
        png.version = PNG_IMAGE_VERSION;
        png.width = w;
        png.height = h;
        png.format = grey ? PNG_FORMAT_GA : PNG_FORMAT_RGBA;
        ASSERT_TRUE(
            png_image_write_to_file(&png, Path("alpha.png").c_str(), 0, pixels.data(), 0, nullptr));
        for (const char* transparent : {"", " --transparent"}) {
            SCOPED_TRACE(std::string(grey ? "grey" : "rgb") + transparent);
            ASSERT_EQ(Adihost("plot " + Path("alpha.png") + " -o " + Path("alpha.prn") +
                              " --quiet --at 10,10,74,42" + transparent)
                          .status,
                      0);
            fs::remove_all(Path("alpha-bands"));
            fs::create_directories(Path("alpha-bands"));
            ASSERT_EQ(Adihost("render " + Path("alpha.prn") + " -o " + Path("alpha-sheet.png") +
                              " --dpi 10 --bands " + Path("alpha-bands"))
                          .status,
                      0);
            // 64 x 32 mm at 600 dpi: 1512 x 756 device pixels, half of them black.
            const double black = static_cast<double>(blackInBands(Path("alpha-bands")));
            EXPECT_GT(black, 0.45 * 1512 * 756);
            EXPECT_LT(black, 0.55 * 1512 * 756);
        }
    }
}

TEST_F(AdihostTest, UnreadableStreamsNameTheOffset) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    Write("job.adi", "move 100 100\ndraw 2000 2000\n");
    ASSERT_EQ(Adihost("plot " + Path("job.adi") + " -o " + Path("job.prn")).status, 0);
    std::string bytes = Read(Path("job.prn"));
    Write("cut.prn", bytes.substr(0, bytes.size() - 40));
    const ProcessResult cut = Adihost("render " + Path("cut.prn") + " -o " + Path("cut.png"));
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("byte "), std::string::npos) << cut.err;
    EXPECT_FALSE(fs::exists(Path("cut.png")));
    EXPECT_EQ(Adihost("render " + Path("cut.prn") + " -o " + Path("cut.png") + " --partial").status,
              1);
    EXPECT_TRUE(fs::exists(Path("cut.png")));
    bytes.insert(bytes.find("PE7"), "ZZ1;");
    Write("odd.prn", bytes);
    const ProcessResult odd = Adihost("render " + Path("odd.prn") + " -o " + Path("odd.png"));
    EXPECT_EQ(odd.status, 1);
    EXPECT_NE(odd.err.find("unknown HP-GL/2 command ZZ"), std::string::npos) << odd.err;
    // A stream that never ends is read as it comes and refused at once.
    const ProcessResult zeros = Adihost("render /dev/zero -o " + Path("zero.png"));
    EXPECT_EQ(zeros.status, 1);
    EXPECT_EQ(zeros.err, "adihost: /dev/zero: byte 0: neither a PJL job nor a VCGL job\n");
    EXPECT_FALSE(fs::exists(Path("zero.png")));
}

// Drawings of Debian's librecad-data: every file plots or is refused cleanly.
std::vector<std::string> LibrecadDrawings() {
    std::vector<std::string> files;
    const fs::path root = "/usr/share/librecad";
    std::error_code ec;
    if (!fs::exists(root, ec)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(root, ec)) {
        std::string ext = entry.path().extension().string();
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".dxf") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// With `report`, each drawing's refusal or what it skipped goes to standard
// output, one line a drawing.
void PlotDrawings(AdihostTest& test, const std::vector<std::string>& files, std::size_t every,
                  bool report = false) {
    int plotted = 0, refused = 0;
    for (std::size_t i = 0; i < files.size(); i += every) {
        const ProcessResult run = test.Plot(files[i]);
        ASSERT_TRUE(run.status == 0 || run.status == 1) << files[i] << ": " << run.err;
        if (report && !run.err.empty()) {
            std::string said = run.err;
            while (!said.empty() && said.back() == '\n') said.pop_back();
            std::printf("%s: %s\n", files[i].c_str(), said.c_str());
        }
        if (run.status == 1) {
            ++refused;
            ASSERT_FALSE(fs::exists(test.Path("drawing.prn"))) << files[i];
        } else {
            ++plotted;
        }
        fs::remove(test.Path("drawing.prn"));
    }
    EXPECT_GT(plotted, refused);
}

TEST_F(AdihostTest, DxfDrawingsSample) {
    const auto files = LibrecadDrawings();
    if (files.empty()) GTEST_SKIP() << "librecad-data is not installed";
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    PlotDrawings(*this, files, 40);
}

// The whole package: ctest -L dxf-all
TEST_F(AdihostTest, DISABLED_DxfDrawingsAll) {
    const auto files = LibrecadDrawings();
    ASSERT_FALSE(files.empty());
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    PlotDrawings(*this, files, 1, true);
}

// ---------------------------------------------------------------------------
// Careless and hostile input: what adihost refuses, and what it never destroys.

// Starts adihost without waiting; the caller waits for `pid`.
pid_t StartAdihost(const std::vector<std::string>& arguments) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(ADIHOST_PATH)};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        freopen("/dev/null", "w", stderr);
        execv(ADIHOST_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

bool AnyNameContains(const fs::path& dir, const std::string& part) {
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().find(part) != std::string::npos) return true;
    return false;
}

// Whatever is refused exits 1 with one line naming why, and writes nothing:
// a script's line, nothing to draw, an image that is none or lies off the
// sheet, a file that is no record (left alone).
TEST_F(AdihostTest, RefusedRunsWriteNothing) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    Write("bad.adi", "move 1 2\n\n# fine so far\ndraw 5\n");
    Write("empty.adi", "# nothing\nmove 10 10\npen 3\n");
    Write("broken.png", "not a png");
    Write("broken.dxf", "this is not a drawing");
    WritePng(Path("photo.png"));
    const std::pair<std::string, std::string> refused[] = {
        {"bad.adi", "bad.adi:4: expected \"draw X Y\""},
        {"empty.adi", "nothing to draw"},
        {"broken.png", "not a readable PNG"},
        {"broken.dxf", "broken.dxf: "},
        {"photo.png --at nan,nan,nan,nan", "--at expects"},
        {"photo.png --at 5,5,5,5", "--at expects"},
        {"photo.png --at 1300,10,1400,60", "outside the sheet"}};
    for (const auto& [input, why] : refused) {
        const ProcessResult run = Adihost("plot " + Path(input) + " -o " + Path("out.prn"));
        EXPECT_EQ(run.status, 1) << input;
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("adihost: "), run.err.rfind("adihost: ")) << run.err;
    }
    EXPECT_FALSE(fs::exists(Path("out.prn")));
    EXPECT_FALSE(AnyNameContains(dir_, ".part"));
    for (const std::string& content : {std::string(), std::string(41, 'x')}) {
        Write("varnu.cfg", content);
        for (const std::string& command : {std::string("configure --show"),
                                           "plot " + Path("empty.adi") + " -o " + Path("x.prn")}) {
            const ProcessResult run = Adihost(command);
            EXPECT_EQ(run.status, 1) << command;
            EXPECT_NE(run.err.find("not a configuration record"), std::string::npos) << run.err;
            EXPECT_EQ(Read(Path("varnu.cfg")), content) << command;
        }
    }
}

TEST_F(AdihostTest, OutputGoesWhereTheUserSaidAndNeverOverTheInput) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    Write("job.adi", "move 0 0\ndraw 100 100\n");
    ASSERT_EQ(Adihost("plot " + Path("job.adi") + " -o " + Path("plain.prn")).status, 0);
    const std::string expected = Read(Path("plain.prn"));

    // Standard output.
    ASSERT_EQ(Adihost("plot " + Path("job.adi") + " -o -").status, 0);
    EXPECT_EQ(Read(Path("stdout.txt")), expected);

    // A symbolic link is followed: the link stays, its target gets the stream.
    fs::create_symlink("target.prn", Path("link.prn"));
    ASSERT_EQ(Adihost("plot " + Path("job.adi") + " -o " + Path("link.prn")).status, 0);
    EXPECT_TRUE(fs::is_symlink(Path("link.prn")));
    EXPECT_EQ(Read(Path("target.prn")), expected);

    // A FIFO stays a FIFO and gets the stream.
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    const int reader = open(Path("pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(Adihost("plot " + Path("job.adi") + " -o " + Path("pipe")).status, 0);
    std::string piped(expected.size() + 10, '\0');
    EXPECT_EQ(read(reader, piped.data(), piped.size()), static_cast<ssize_t>(expected.size()));
    close(reader);
    EXPECT_TRUE(fs::is_fifo(Path("pipe")));

    // The input itself, by name or through a link, is refused and kept.
    fs::create_symlink("job.adi", Path("job-link.prn"));
    for (const char* output : {"job.adi", "job-link.prn"}) {
        const ProcessResult same = Adihost("plot " + Path("job.adi") + " -o " + Path(output));
        EXPECT_EQ(same.status, 1) << output;
        EXPECT_NE(same.err.find("is the input file"), std::string::npos) << same.err;
        EXPECT_EQ(Read(Path("job.adi")), "move 0 0\ndraw 100 100\n");
    }
    const std::string record = Read(Path("varnu.cfg"));
    EXPECT_EQ(Adihost("plot " + Path("job.adi") + " -o " + Path("varnu.cfg")).status, 1);
    EXPECT_EQ(Read(Path("varnu.cfg")), record);
    ASSERT_EQ(Adihost("render " + Path("plain.prn") + " -o " + Path("plain.prn")).status, 1);
    EXPECT_EQ(Read(Path("plain.prn")), expected);
    EXPECT_FALSE(AnyNameContains(dir_, ".part"));
}

TEST_F(AdihostTest, TwoPlotsToOneFileNeverSplice) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    // A long and a short job: a shared temporary would splice them.
    std::string longJob, shortJob = "draw 10 10\n";
    for (int i = 0; i < 150000; ++i) longJob += "draw " + std::to_string(i * 7 % 60000) + " 100\n";
    Write("long.adi", longJob);
    Write("short.adi", shortJob);
    std::string streams[2];
    for (int k = 0; k < 2; ++k) {
        const std::string job = Path(k == 0 ? "long.adi" : "short.adi");
        ASSERT_EQ(Adihost("plot " + job + " -o " + Path("one.prn") + " --quiet").status, 0);
        streams[k] = Read(Path("one.prn"));
    }
    for (int round = 0; round < 4; ++round) {
        const pid_t a = StartAdihost({"--config", Path("varnu.cfg"), "plot", Path("long.adi"), "-o",
                                      Path("both.prn"), "--quiet"});
        // The short job starts while the long one is writing.
        for (int i = 0; i < 20000 && !AnyNameContains(dir_, ".part"); ++i) usleep(200);
        const pid_t b = StartAdihost({"--config", Path("varnu.cfg"), "plot", Path("short.adi"),
                                      "-o", Path("both.prn"), "--quiet"});
        int sa = 0, sb = 0;
        waitpid(a, &sa, 0);
        waitpid(b, &sb, 0);
        EXPECT_EQ(WEXITSTATUS(sa), 0);
        EXPECT_EQ(WEXITSTATUS(sb), 0);
        const std::string both = Read(Path("both.prn"));
        EXPECT_TRUE(both == streams[0] || both == streams[1]) << "round " << round;
    }
    EXPECT_FALSE(AnyNameContains(dir_, ".part"));
}

TEST_F(AdihostTest, InterruptedRunsRemoveWhatTheyStarted) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    std::string job;
    for (int i = 0; i < 400000; ++i) job += "draw " + std::to_string(i % 60000) + " 100\n";
    Write("long.adi", job);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t pid = StartAdihost(
            {"--config", Path("varnu.cfg"), "plot", Path("long.adi"), "-o", Path("long.prn")});
        // Interrupted once its temporary exists.
        for (int i = 0; i < 20000 && !AnyNameContains(dir_, ".part"); ++i) usleep(500);
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the signal";
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_FALSE(AnyNameContains(dir_, ".part")) << signal;
        EXPECT_FALSE(fs::exists(Path("long.prn")));
    }
    // The demo keeps its record in memory: only its stream's temporary is a file.
    fs::create_directories(Path("demo"));
    const pid_t demo = StartAdihost({"demo", "--quiet", "-o", Path("demo")});
    for (int i = 0; i < 20000 && !AnyNameContains(dir_ / "demo", ".part"); ++i) usleep(500);
    kill(demo, SIGTERM);
    int status = 0;
    waitpid(demo, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(fs::is_empty(Path("demo")));
}

TEST_F(AdihostTest, ConfigureRefusesRowsOutsideItsListsAndTakesTurns) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const std::string before = Read(Path("varnu.cfg"));
    for (const char* refused : {"--media 99", "--media 4", "--program 500", "--program 21",
                                "--bin 15", "--finish-margin 2", "--media -1"}) {
        const ProcessResult run = Adihost(std::string("configure ") + refused);
        EXPECT_EQ(run.status, 1) << refused;
        EXPECT_NE(run.err.find("is not a row of the list"), std::string::npos) << run.err;
        EXPECT_EQ(Read(Path("varnu.cfg")), before) << refused;
    }
    ASSERT_EQ(Adihost("configure --media 3 --program 20 --bin 14").status, 0);

    // Runs at once each read, change and store the record in turn: each
    // round's two changes both arrive.
    for (int round = 0; round < 10; ++round) {
        const std::string copies = std::to_string(2 + round), margin = std::to_string(1 + round);
        const pid_t a =
            StartAdihost({"--config", Path("varnu.cfg"), "configure", "--copies", copies});
        const pid_t b =
            StartAdihost({"--config", Path("varnu.cfg"), "configure", "--margin", margin});
        int sa = 0, sb = 0;
        waitpid(a, &sa, 0);
        waitpid(b, &sb, 0);
        EXPECT_EQ(WEXITSTATUS(sa), 0) << round;
        EXPECT_EQ(WEXITSTATUS(sb), 0) << round;
        const std::string bytes = Read(Path("varnu.cfg"));
        ASSERT_EQ(bytes.size(), 40u);
        ConfigRecord stored;
        DecodeConfigRecord(reinterpret_cast<const std::uint8_t*>(bytes.data()), &stored);
        EXPECT_EQ(stored.copies, 2 + round);
        EXPECT_EQ(stored.marginMm, 1 + round);
    }
    EXPECT_FALSE(AnyNameContains(dir_, ".tmp"));
    EXPECT_FALSE(AnyNameContains(dir_, ".part"));
}

// plot says when an image is cut at the sheet's edge and sends only what
// lands on it: the same stream as the visible part placed by itself.
TEST_F(AdihostTest, AnImageCutAtTheSheetsEdgeSendsWhatLandsOnIt) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);  // 1219.2 x 914.4 mm
    auto writeRgb = [](const std::string& path, int width, int height, int left, int top) {
        std::vector<std::uint8_t> rgb;
        for (int y = top; y < top + height; ++y)
            for (int x = left; x < left + width; ++x)
                rgb.insert(rgb.end(),
                           {static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 8),
                            static_cast<std::uint8_t>(x ^ y)});
        WritePixels(path, width, height, rgb);
    };
    writeRgb(Path("whole.png"), 64, 32, 0, 0);     // 10 mm a pixel at the place below
    writeRgb(Path("visible.png"), 32, 22, 0, 10);  // what lies on the sheet
    const ProcessResult cut = Adihost("plot " + Path("whole.png") + " -o " + Path("cut.prn") +
                                      " --quiet --at 900,700,1540,1020");
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_NE(cut.err.find("cut at the sheet's edge"), std::string::npos) << cut.err;
    ASSERT_EQ(Adihost("plot " + Path("visible.png") + " -o " + Path("visible.prn") +
                      " --quiet --at 900,700,1220,920")
                  .status,
              0);
    EXPECT_TRUE(Read(Path("cut.prn")) == Read(Path("visible.prn")));
    EXPECT_EQ(Adihost("render " + Path("cut.prn") + " -o " + Path("cut.png") + " --dpi 20").status,
              0);
}

TEST_F(AdihostTest, AnImageNamedAgainIsReadOnce) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit needs a build without AddressSanitizer";
#endif
    // 12 MB of pixels, named 200 times: 2.4 GB if each line kept its own copy.
    ASSERT_TRUE(
        WritePixels(Path("big.png"), 2000, 2000, std::vector<std::uint8_t>(2000 * 2000 * 3, 200)));
    std::string job;
    for (int i = 0; i < 200; ++i) job += "image big.png 0 0 100 100\n";
    Write("many.adi", job + "bogus\n");
    const int raw = std::system(("bash -c 'ulimit -v 1500000; " + std::string(ADIHOST_PATH) +
                                 " --config " + Path("varnu.cfg") + " plot " + Path("many.adi") +
                                 " -o " + Path("many.prn") + " 2> " + Path("err.txt") + "'")
                                    .c_str());
    const std::string err = Read(Path("err.txt"));
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << err;
    EXPECT_NE(err.find("many.adi:201: unknown request \"bogus\""), std::string::npos) << err;
}

// ---------------------------------------------------------------------------
// HP-GL/2 plot files.

// How far two renderings agree: the share of each one's ink (grey below
// 160) with ink of the other within a pixel, the lesser of the two. The
// first may be smaller: it is then compared with the middle of the second
// (a page centred on a larger sheet), and the second's ink outside it counts
// as disagreeing.
double InkAgreement(const std::string& a, const std::string& b) {
    int w[2], h[2];
    std::vector<std::uint8_t> rgb[2];
    if (!ReadPng(a, &w[0], &h[0], &rgb[0]) || !ReadPng(b, &w[1], &h[1], &rgb[1])) return 0;
    const int ox = (w[1] - w[0]) / 2, oy = (h[1] - h[0]) / 2;
    if (ox < 0 || oy < 0) return 0;
    auto ink = [&](int k, int x, int y) {
        if (x < 0 || y < 0 || x >= w[k] || y >= h[k]) return false;
        return rgb[k][(static_cast<std::size_t>(y) * w[k] + x) * 3] < 160;
    };
    auto near = [&](int k, int x, int y) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (ink(k, x + dx, y + dy)) return true;
        return false;
    };
    std::size_t inked[2] = {0, 0}, met[2] = {0, 0};
    for (int y = 0; y < h[1]; ++y)
        for (int x = 0; x < w[1]; ++x) {
            if (ink(1, x, y)) ++inked[1], met[1] += near(0, x - ox, y - oy) ? 1 : 0;
            if (ink(0, x - ox, y - oy)) ++inked[0], met[0] += near(1, x, y) ? 1 : 0;
        }
    if (inked[0] == 0 || inked[1] == 0) return 0;
    return std::min(static_cast<double>(met[0]) / inked[0], static_cast<double>(met[1]) / inked[1]);
}

// A stream the driver wrote, read as a plot file and plotted again with the
// same record, prints what it printed; in the other data mode too.
TEST_F(AdihostTest, OurStreamsReadBackAsTheyWereDrawn) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    ASSERT_EQ(Adihost("demo --quiet -o " + Path("demo")).status, 0);
    fs::copy_file(Path("demo/demo-rtl.prn"), Path("demo.PLT"));
    auto render = [&](const std::string& stream, const std::string& png) {
        return Adihost("render " + stream + " -o " + png + " --dpi 40").status;
    };
    ProcessResult run =
        Adihost("plot " + Path("demo.PLT") + " -o " + Path("back.prn") + " --quiet");
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(render(Path("demo.PLT"), Path("demo.png")), 0);
    ASSERT_EQ(render(Path("back.prn"), Path("back.png")), 0);
    const double demo = InkAgreement(Path("demo.png"), Path("back.png"));
    std::printf("[ read back ] %-24s %.4f\n", "demo (RTL/GL2)", demo);
    EXPECT_GT(demo, 0.995);
    // The same file through the VCGL+MMR mode at 400 dpi prints what the
    // demo's own job in that mode prints (its images dithered at 600 dpi
    // first, here).
    ConfigRecord vcgl = DefaultConfigRecord(0);
    vcgl.modeFlags =
        static_cast<std::uint16_t>((vcgl.modeFlags & ~0x0F40) | kModeVcgl | kResolution400);
    std::uint8_t bytes[kConfigRecordSize];
    EncodeConfigRecord(vcgl, bytes);
    Write("vcgl.cfg", std::string(reinterpret_cast<const char*>(bytes), sizeof bytes));
    run = Adihost("plot " + Path("demo.PLT") + " -o " + Path("vcgl.prn") + " --quiet",
                  Path("vcgl.cfg"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(static_cast<unsigned char>(Read(Path("vcgl.prn"))[0]), 0x9B);
    ASSERT_EQ(render(Path("vcgl.prn"), Path("vcgl.png")), 0);
    ASSERT_EQ(render(Path("demo/demo-vcgl.prn"), Path("demo-vcgl.png")), 0);
    const double vcglDemo = InkAgreement(Path("demo-vcgl.png"), Path("vcgl.png"));
    std::printf("[ read back ] %-24s %.4f\n", "demo (VCGL+MMR)", vcglDemo);
    EXPECT_GT(vcglDemo, 0.95);
    // Every reference job of the RTL/GL2 mode, with its own record: margins,
    // 300 dpi, the other edge along the feed, images cut into bands. Their
    // host chose a smaller sheet than the record's paper: the page is
    // centred on it.
    ASSERT_EQ(std::system(
                  (std::string(REFERENCE_STREAMS_PATH) + " " + Path("") + " > /dev/null").c_str()),
              0);
    for (const reference::Job& job : reference::Jobs()) {
        ConfigRecord record;
        DecodeConfigRecord(job.record, &record);
        if (record.modeFlags & kModeVcgl) continue;
        SCOPED_TRACE(job.name);
        const std::string name = job.name;
        Write(name + ".cfg", std::string(reinterpret_cast<const char*>(job.record), 40));
        fs::copy_file(Path(name + ".bin"), Path(name + ".plt"));
        run =
            Adihost("plot " + Path(name + ".plt") + " -o " + Path(name + "-back.prn") + " --quiet",
                    Path(name + ".cfg"));
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_EQ(render(Path(name + ".plt"), Path(name + ".png")), 0);
        ASSERT_EQ(render(Path(name + "-back.prn"), Path(name + "-back.png")), 0);
        const double agreement = InkAgreement(Path(name + ".png"), Path(name + "-back.png"));
        std::printf("[ read back ] %-24s %.4f\n", name.c_str(), agreement);
        EXPECT_GT(agreement, 0.99);
    }
}

// A hostile plot file is refused with the byte where reading stopped, and
// nothing is written.
TEST_F(AdihostTest, HostilePlotFilesAreRefusedAndWriteNothing) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const std::string pjl = "\x1b%-12345X@PJL\r\n@PJL ENTER LANGUAGE=HPGL2\r\nIN;SP1;";
    const std::pair<std::string, std::string> files[] = {
        {pjl + "PS1000000000,1000000000;PD1,1;", "byte 49: a page of 1000000000 x 1000000000"},
        {pjl + "PM0;PD100,0,100,100;", "never closed"},
        {pjl + "LB" + std::string(1000000, 'x'), "longer than 16384 characters"},
        {pjl + "\x1b%1A\x1b*r100S\x1b*b900000W12345", "the file ends after 5"},
        {"PG;PG;", "nothing to draw"},
    };
    for (const auto& [file, why] : files) {
        Write("hostile.hpgl", file);
        const ProcessResult run = Plot(Path("hostile.hpgl"));
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Path("drawing.prn")));
    }
    EXPECT_FALSE(AnyNameContains(dir_, ".part"));
}

}  // namespace
}  // namespace varnu::testing
