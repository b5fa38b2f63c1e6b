// adihost as a user runs it: the program started as a process on scripts,
// images and configuration changes, its files and exit status checked.
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

    ProcessResult Adihost(const std::string& arguments) {
        const std::string err = Path("stderr.txt");
        const std::string command = std::string(ADIHOST_PATH) + " --config " + Path("varnu.cfg") +
                                    " " + arguments + " > " + Path("stdout.txt") + " 2> " + err;
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

TEST_F(AdihostTest, MalformedScriptNamesTheLineAndWritesNothing) {
    Write("bad.adi", "move 1 2\n\n# fine so far\ndraw 5\n");
    const ProcessResult run = Adihost("plot " + Path("bad.adi") + " -o " + Path("bad.prn"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("bad.adi:4: expected \"draw X Y\""), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(Path("bad.prn")));
    EXPECT_FALSE(fs::exists(Path("bad.prn.part")));

    // Found by fuzzing: a raw request without its code.
    Write("raw.adi", "request\n");
    const ProcessResult raw = Adihost("plot " + Path("raw.adi") + " -o " + Path("raw.prn"));
    EXPECT_EQ(raw.status, 1);
    EXPECT_NE(raw.err.find("raw.adi:1: expected \"request CODE"), std::string::npos) << raw.err;

    Write("range.adi", "move 70000 2\n");
    const ProcessResult range = Adihost("plot " + Path("range.adi") + " -o " + Path("range.prn"));
    EXPECT_EQ(range.status, 1);
    EXPECT_NE(range.err.find("range.adi:1: expected X from 0 to 65535"), std::string::npos)
        << range.err;
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

// The curve is set by dragging the dialog's handles (and its shift bar for
// the values between two pixel rows); what the dialog cannot reach is refused.
TEST_F(AdihostTest, CurveValuesAreDraggedIntoTheImageCorrectionDialog) {
    auto curve = [this] {
        const std::string r = Read(Path("varnu.cfg"));
        return r.size() == 40 ? r.substr(34, 5) : std::string();
    };
    for (const std::string values : {"0,64,128,192,255", "3,67,129,191,250", "5,15,25,35,45",
                                     "200,210,220,230,240", "1,9,17,25,33", "0,64,128,246,255"}) {
        ASSERT_EQ(Adihost("configure --defaults --curve " + values).status, 0) << values;
        std::string expected;
        std::stringstream in(values);
        for (std::string v; std::getline(in, v, ',');) expected += static_cast<char>(std::stoi(v));
        EXPECT_EQ(curve(), expected) << values;
    }
    const std::string before = Read(Path("varnu.cfg"));
    for (const char* unreachable : {"1,2,3,4,5", "255,128,0,4,9", "0,5,10,15,20"}) {
        const ProcessResult run = Adihost(std::string("configure --curve ") + unreachable);
        EXPECT_EQ(run.status, 1) << unreachable;
        EXPECT_NE(run.err.find("the image-correction dialog set the curve to"), std::string::npos)
            << run.err;
        EXPECT_EQ(Read(Path("varnu.cfg")), before) << unreachable;
    }
    // A paper is picked from the dialog's list by name as well as by number.
    ASSERT_EQ(Adihost("configure --paper ' a1 ' --show").status, 0);
    EXPECT_NE(Read(Path("stdout.txt")).find("Format: A1"), std::string::npos);
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

TEST_F(AdihostTest, PngAndGroup4TiffPlot) {
    WritePng(Path("photo.png"));
    WriteGroup4Tiff(Path("scan.tif"));
    const ProcessResult png = Adihost("plot " + Path("photo.png") + " -o " + Path("photo.prn") +
                                      " --quiet --at 10,10,160,85");
    ASSERT_EQ(png.status, 0) << png.err;
    const std::string photo = Read(Path("photo.prn"));
    EXPECT_NE(photo.find("\x1b*b8M"), std::string::npos);
    EXPECT_NE(photo.find("TR0;"), std::string::npos);
    EXPECT_EQ(photo.substr(photo.size() - 21), ";PUSP0;PG;\x1b%-12345X\r\n");

    const ProcessResult scan = Adihost("plot " + Path("scan.tif") + " -o " + Path("scan.prn") +
                                       " --at 10,10,110,60 --color 5 --transparent");
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(Read(Path("scan.prn")).find("TR1;"), std::string::npos);

    Write("broken.png", "not a png");
    EXPECT_EQ(Adihost("plot " + Path("broken.png") + " -o " + Path("broken.prn")).status, 1);
    EXPECT_FALSE(fs::exists(Path("broken.prn")));
}

TEST_F(AdihostTest, LabelAndDemo) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    Write("job.adi", "draw 10 10\n");
    ASSERT_EQ(
        Adihost("plot " + Path("job.adi") + " -o " + Path("label.prn") + " --label \"Plan 7\"")
            .status,
        0);
    EXPECT_NE(Read(Path("label.prn")).find("BP1,\"Plan 7\",2,1;IN;"), std::string::npos);
    const ProcessResult umlaut = Adihost("plot " + Path("job.adi") + " -o " + Path("umlaut.prn") +
                                         " --label \"Gr\xc3\xb6\xc3\x9f"
                                         "e\"");
    EXPECT_EQ(umlaut.status, 1);
    EXPECT_FALSE(fs::exists(Path("umlaut.prn")));

    const ProcessResult demo = Adihost("demo --quiet -o " + Path("demo"));
    ASSERT_EQ(demo.status, 0) << demo.err;
    const std::string rtl = Read(Path("demo/demo-rtl.prn")),
                      vcgl = Read(Path("demo/demo-vcgl.prn"));
    EXPECT_EQ(rtl.substr(0, 14), "\x1b%-12345X@PJL\r");
    EXPECT_NE(rtl.find("LT-8,2.0"), std::string::npos);
    EXPECT_EQ(static_cast<unsigned char>(vcgl[0]), 0x9B);
    EXPECT_EQ(Read(Path("varnu.cfg")).size(), 40u);  // the user's record untouched by the demo
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

std::string VcglRecord() {
    ConfigRecord c = DefaultConfigRecord(0);
    c.modeFlags = kModeVcgl | kResolution400;
    std::string record(40, '\0');
    EncodeConfigRecord(c, reinterpret_cast<std::uint8_t*>(record.data()));
    return record;
}

TEST_F(AdihostTest, RenderedVectorsLandOnTheirPixels) {
    for (const bool vcgl : {false, true}) {
        if (vcgl) {
            Write("varnu.cfg", VcglRecord());
        } else {
            ASSERT_EQ(Adihost("configure --defaults").status, 0);
        }
        // A 0.5 mm line from 2 to 10 inches at 2 inches, and a filled square at (12, 6) inches.
        const double steps = vcgl ? 800 : 1016;
        auto at = [steps](double inches) {
            return std::to_string(static_cast<long>(inches * steps));
        };
        Write("line.adi", "width 0.5mm\nmove " + at(2) + " " + at(2) + "\ndraw " + at(10) + " " +
                              at(2) + "\npolygon 7 " + at(12) + "," + at(6) + " " + at(13) + "," +
                              at(6) + " " + at(13) + "," + at(7) + " " + at(12) + "," + at(7) +
                              "\n");
        ASSERT_EQ(Adihost("plot " + Path("line.adi") + " -o " + Path("line.prn")).status, 0);
        const ProcessResult render =
            Adihost("render " + Path("line.prn") + " -o " + Path("line.png") + " --dpi 100");
        ASSERT_EQ(render.status, 0) << render.err;
        int w = 0, h = 0;
        std::vector<std::uint8_t> rgb;
        ASSERT_TRUE(ReadPng(Path("line.png"), &w, &h, &rgb));
        auto grey = [&](int x, int y) { return rgb[(static_cast<std::size_t>(y) * w + x) * 3]; };
        const int row = h - 200;  // y = 2 inches at 100 dpi
        for (int x : {210, 600, 990}) EXPECT_LT(grey(x, row), 60) << (vcgl ? "VCGL " : "RTL ") << x;
        EXPECT_EQ(grey(600, row - 4), 255);  // 0.5 mm is two pixels wide at 100 dpi
        EXPECT_EQ(grey(600, row + 4), 255);
        EXPECT_EQ(grey(190, row), 255);  // before the start
        EXPECT_EQ(grey(1010, row), 255);
        // Inside the square: black (RTL) or its halftone (VCGL) darkens the area.
        double sum = 0;
        for (int y = h - 690; y < h - 610; ++y)
            for (int x = 1210; x < 1290; ++x) sum += grey(x, y);
        EXPECT_LT(sum / (80.0 * 80.0), vcgl ? 200 : 40) << (vcgl ? "VCGL" : "RTL");
    }
}

TEST_F(AdihostTest, ImageComesBackBitForBit) {
    ASSERT_EQ(Adihost("configure --defaults --resolution 400").status, 0);
    // A 1-bit scan of 500 x 100 pixels placed so that the grid is the scan itself.
    const int sw = 500, sh = 100;
    std::vector<std::uint8_t> rows(static_cast<std::size_t>((sw + 7) / 8) * sh, 0);
    auto set = [&](int x, int y) {
        return (x * 7 + y * 3) % 11 < 4 || (x - 250) * (x - 250) + (y - 50) * (y - 50) < 900;
    };
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x)
            if (set(x, y))
                rows[static_cast<std::size_t>(y) * ((sw + 7) / 8) + x / 8] |=
                    static_cast<std::uint8_t>(0x80 >> (x % 8));
    TIFF* tif = TIFFOpen(Path("scan.tif").c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(sw));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(sh));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(sh));
    TIFFWriteEncodedStrip(tif, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
    TIFFClose(tif);
    // 400 dpi: 2.54 host steps (1/1016 inch) a pixel.
    Write("scan.adi", "image scan.tif 2000 3000 " + std::to_string(2000 + sw * 254 / 100) + " " +
                          std::to_string(3000 + sh * 254 / 100) + "\n");
    const ProcessResult plot = Adihost("plot " + Path("scan.adi") + " -o " + Path("scan.prn"));
    ASSERT_EQ(plot.status, 0) << plot.err;
    fs::create_directories(Path("bands"));
    const ProcessResult render = Adihost("render " + Path("scan.prn") + " -o " + Path("scan.png") +
                                         " --bands " + Path("bands"));
    ASSERT_EQ(render.status, 0) << render.err;
    const std::string pbm = Read(Path("bands/band-000.pbm"));
    ASSERT_FALSE(pbm.empty());
    int width = 0, height = 0, skip = 0;
    ASSERT_EQ(std::sscanf(pbm.c_str(), "P4\n%d %d\n%n", &width, &height, &skip), 2);
    // Along the sheet's long edge a raster row is a column of the scan, its
    // pixels running up the sheet; the row is padded white to a multiple of 32, plus 32.
    ASSERT_EQ(height, sw);
    ASSERT_EQ(width, 160);
    const int rowBytes = (width + 7) / 8;
    for (int r = 0; r < height; ++r)
        for (int p = 0; p < width; ++p) {
            const bool black =
                static_cast<unsigned char>(pbm[skip + r * rowBytes + p / 8]) & (0x80 >> (p % 8));
            ASSERT_EQ(black, p < sh && set(r, sh - 1 - p)) << r << "," << p;
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

// A configuration record: either data mode, the default paper (long edge
// along x) or a user-defined one wider than long (lines are rows).
std::string Record(bool vcgl, bool across) {
    ConfigRecord c = DefaultConfigRecord(0);
    if (vcgl) c.modeFlags = kModeVcgl | kResolution400;
    if (across) {
        c.paperIndex = 33;  // A0 width, user-defined length
        c.customLengthMm = 600;
    }
    std::string record(40, '\0');
    EncodeConfigRecord(c, reinterpret_cast<std::uint8_t*>(record.data()));
    return record;
}

TEST_F(AdihostTest, BandsOfALargeImageAbut) {
    // A black image of 7,200 lines, cut into bands. At 600 dpi the first
    // line is not fetched, and the 7,199 rows sent make bands of 224 rows
    // while 7,200 would make 256: the device must still move by 224.
    ASSERT_TRUE(
        WritePixels(Path("black.png"), 16, 16, std::vector<std::uint8_t>(16 * 16, 0), true));
    constexpr int kDpi = 50;
    for (const bool vcgl : {false, true}) {
        for (const bool across : {false, true}) {
            SCOPED_TRACE(std::string(vcgl ? "VCGL" : "RTL") + (across ? ", across" : ", along"));
            Write("varnu.cfg", Record(vcgl, across));
            // 7,200 lines: 12,193 units at 600 dpi, 14,400 at 400 dpi; lines
            // of 2,126 pixels, wide enough to be cut into bands.
            const int lines = vcgl ? 14400 : 12193, pixels = vcgl ? 4252 : 3601;
            const int dx = across ? pixels : lines, dy = across ? lines : pixels;
            Write("big.adi", "image black.png 1000 1000 " + std::to_string(1000 + dx) + " " +
                                 std::to_string(1000 + dy) + "\n");
            ASSERT_EQ(Adihost("plot " + Path("big.adi") + " -o " + Path("big.prn")).status, 0);
            const ProcessResult render =
                Adihost("render " + Path("big.prn") + " -o " + Path("big.png") + " --dpi " +
                        std::to_string(kDpi));
            ASSERT_EQ(render.status, 0) << render.err;
            int w = 0, h = 0;
            std::vector<std::uint8_t> rgb;
            ASSERT_TRUE(ReadPng(Path("big.png"), &w, &h, &rgb));
            auto dark = [&](int x, int y) {
                return rgb[(static_cast<std::size_t>(y) * w + x) * 3] < 128;
            };
            int left = w, right = -1, top = h, bottom = -1;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (dark(x, y)) {
                        left = std::min(left, x), right = std::max(right, x);
                        top = std::min(top, y), bottom = std::max(bottom, y);
                    }
            ASSERT_GE(right, left);
            // The image is as long as the rows sent, not longer...
            const int rows = vcgl ? 7200 : 7199, dpi = vcgl ? 400 : 600;
            const int along = across ? bottom - top + 1 : right - left + 1;
            EXPECT_NEAR(along, rows * kDpi / dpi, 2);
            // ...and no row or column inside it is white.
            int light = 0;
            for (int y = top + 1; y < bottom; ++y)
                for (int x = left + 1; x < right; ++x) light += dark(x, y) ? 0 : 1;
            EXPECT_EQ(light, 0);
        }
    }
}

TEST_F(AdihostTest, DemoPreviewsOfBothModesAgree) {
    ASSERT_EQ(Adihost("demo --quiet -o " + Path("demo")).status, 0);
    int w[2], h[2];
    std::vector<std::uint8_t> rgb[2];
    ASSERT_TRUE(ReadPng(Path("demo/demo-rtl.png"), &w[0], &h[0], &rgb[0]));
    ASSERT_TRUE(ReadPng(Path("demo/demo-vcgl.png"), &w[1], &h[1], &rgb[1]));
    // Ink per quarter-inch block, counted from the bottom-left corner of the sheet.
    auto ink = [&](int k, int bx, int by) {
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
    // The polygons' fills differ (grey against halftone); everything else lands alike.
    EXPECT_GT(static_cast<double>(both) / either, 0.85) << both << " of " << either;
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

void PlotDrawings(AdihostTest& test, const std::vector<std::string>& files, std::size_t every) {
    int plotted = 0, refused = 0;
    for (std::size_t i = 0; i < files.size(); i += every) {
        const ProcessResult run = test.Plot(files[i]);
        ASSERT_TRUE(run.status == 0 || run.status == 1) << files[i] << ": " << run.err;
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
    PlotDrawings(*this, files, 1);
}

TEST_F(AdihostTest, DxfEntitiesAndSkippedReport) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    Write("d.dxf",
          "0\nSECTION\n2\nENTITIES\n"
          "0\nLINE\n8\n0\n62\n1\n10\n0\n20\n0\n11\n100\n21\n50\n"
          "0\nCIRCLE\n8\n0\n10\n50\n20\n25\n40\n20\n"
          "0\nSOLID\n8\n0\n10\n10\n20\n10\n11\n20\n21\n10\n12\n10\n22\n20\n13\n20\n23\n20\n"
          "0\nTEXT\n8\n0\n10\n10\n20\n40\n40\n5\n1\nAB\n"
          "0\nXLINE\n8\n0\n10\n0\n20\n0\n11\n1\n21\n0\n"
          "0\nENDSEC\n0\nEOF\n");
    const ProcessResult run = Plot(Path("d.dxf"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("skipped: 1 XLINE"), std::string::npos) << run.err;
    const std::string bytes = Read(Path("drawing.prn"));
    EXPECT_NE(bytes.find("SP"), std::string::npos);
    EXPECT_NE(bytes.find(";PM0"), std::string::npos);  // the solid and the text as polygons

    // Found by fuzzing: blocks that insert arrays of each other multiply
    // without end; such a drawing is refused, not allowed to exhaust memory.
    std::string blocks =
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB0\n10\n0\n20\n0\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n1\n"
        "21\n1\n0\nENDBLK\n";
    for (int level = 1; level <= 6; ++level)
        blocks += "0\nBLOCK\n2\nB" + std::to_string(level) +
                  "\n10\n0\n20\n0\n0\nINSERT\n8\n0\n2\nB" + std::to_string(level - 1) +
                  "\n10\n0\n20\n0\n70\n20\n71\n20\n44\n2\n45\n2\n0\nENDBLK\n";
    blocks +=
        "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nINSERT\n8\n0\n2\nB6\n10\n0\n20\n0\n0\nENDSEC\n0\nEO"
        "F\n";
    Write("bomb.dxf", blocks);
    fs::remove(Path("drawing.prn"));
    const ProcessResult bomb = Plot(Path("bomb.dxf"));
    EXPECT_EQ(bomb.status, 1);
    EXPECT_NE(bomb.err.find("more than 2 million points"), std::string::npos) << bomb.err;
    EXPECT_FALSE(fs::exists(Path("drawing.prn")));

    // Found by fuzzing: a block that inserts itself, directly or through
    // another, is skipped, not copied 2^16 times down to the depth limit.
    const auto drawing = [](const std::string& b1, const std::string& b2) {
        return "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB1\n10\n0\n20\n0\n0\nLINE\n8\n0\n10\n0\n20\n0\n"
               "11\n9\n21\n9\n" +
               b1 + "0\nENDBLK\n0\nBLOCK\n2\nB2\n10\n0\n20\n0\n" + b2 +
               "0\nENDBLK\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nINSERT\n8\n0\n2\nB1\n10\n5\n"
               "20\n5\n0\nENDSEC\n0\nEOF\n";
    };
    const auto insert = [](const char* block) {
        return std::string("0\nINSERT\n8\n0\n2\n") + block + "\n10\n1\n20\n1\n";
    };
    Write("plain.dxf", drawing("", ""));
    ASSERT_EQ(Plot(Path("plain.dxf")).status, 0);
    const std::string plain = Read(Path("drawing.prn"));
    Write("self.dxf", drawing(insert("B1") + insert("B1"), ""));
    const ProcessResult self = Plot(Path("self.dxf"));
    ASSERT_EQ(self.status, 0) << self.err;
    EXPECT_NE(self.err.find("2 INSERT (block inserts itself)"), std::string::npos) << self.err;
    EXPECT_EQ(Read(Path("drawing.prn")), plain);
    Write("cycle.dxf", drawing(insert("B2"), insert("B1")));
    const ProcessResult cycle = Plot(Path("cycle.dxf"));
    ASSERT_EQ(cycle.status, 0) << cycle.err;
    EXPECT_NE(cycle.err.find("1 INSERT (block inserts itself)"), std::string::npos) << cycle.err;
    EXPECT_EQ(Read(Path("drawing.prn")), plain);

    fs::remove(Path("drawing.prn"));
    Write("broken.dxf", "this is not a drawing");
    const ProcessResult broken = Plot(Path("broken.dxf"));
    EXPECT_EQ(broken.status, 1);
    EXPECT_FALSE(fs::exists(Path("drawing.prn")));
}

// The box of dark pixels of a sheet rendered at 100 dpi, y counted up from
// the sheet's bottom edge; empty (right < left) without ink.
struct InkBox {
    int left = 1 << 30, bottom = 1 << 30, right = -1, top = -1;
    int Width() const { return right - left + 1; }
    int Height() const { return top - bottom + 1; }
};

// Plots `dxf` (entities only, or a whole file when it starts with "0\nSECTION"
// or "999") and renders it; the ink box of the sheet and its size in pixels.
InkBox DxfInk(AdihostTest& test, const std::string& dxf, int* sheetW = nullptr,
              int* sheetH = nullptr, std::vector<std::uint8_t>* pixels = nullptr,
              const std::string& options = "", std::string* err = nullptr) {
    const bool whole = dxf.rfind("0\nSECTION", 0) == 0 || dxf.rfind("999", 0) == 0;
    test.Write("ink.dxf", whole ? dxf : "0\nSECTION\n2\nENTITIES\n" + dxf + "0\nENDSEC\n0\nEOF\n");
    InkBox box;
    const ProcessResult run = test.Adihost("plot " + test.Path("ink.dxf") + " -o " +
                                           test.Path("drawing.prn") + " --quiet " + options);
    EXPECT_EQ(run.status, 0) << run.err;
    if (err) *err = run.err;
    if (run.status != 0) return box;
    const ProcessResult render = test.Adihost("render " + test.Path("drawing.prn") + " -o " +
                                              test.Path("ink.png") + " --dpi 100");
    EXPECT_EQ(render.status, 0) << render.err;
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgb;
    EXPECT_TRUE(ReadPng(test.Path("ink.png"), &w, &h, &rgb));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (rgb[(static_cast<std::size_t>(y) * w + x) * 3] < 224) {
                box.left = std::min(box.left, x), box.right = std::max(box.right, x);
                box.bottom = std::min(box.bottom, h - 1 - y),
                box.top = std::max(box.top, h - 1 - y);
            }
    if (sheetW) *sheetW = w;
    if (sheetH) *sheetH = h;
    if (pixels) *pixels = std::move(rgb);
    return box;
}

// Rotation means degrees counter-clockwise whoever wrote the file: dxflib
// reads MTEXT angles otherwise when a comment claims dxflib wrote the file.
TEST_F(AdihostTest, DxfTextAnglesAreDegrees) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    for (const char* kind : {"TEXT", "MTEXT"})
        for (const char* comment : {"", "999\ndxflib 3.26.4\n", "999\ndxflib\n"})
            for (const int angle : {0, 90}) {
                const std::string entities = std::string("0\n") + kind +
                                             "\n8\n0\n10\n0\n20\n0\n40\n10\n50\n" +
                                             std::to_string(angle) + "\n1\nHHHHHHHHHH\n";
                const InkBox box =
                    DxfInk(*this, std::string(comment) + "0\nSECTION\n2\nENTITIES\n" + entities +
                                      "0\nENDSEC\n0\nEOF\n");
                const std::string what = std::string(kind) + " at " + std::to_string(angle) +
                                         " degrees, comment " + comment;
                ASSERT_GT(box.right, box.left) << what;
                if (angle == 0)
                    EXPECT_GT(box.Width(), 4 * box.Height()) << what;
                else
                    EXPECT_GT(box.Height(), 4 * box.Width()) << what;
            }
}

// Fitting to the sheet takes the extents of what is drawn: a circle's top,
// an arc's swept part, an ellipse's minor axis, a block's contents.
TEST_F(AdihostTest, DxfFitsTheGeometryDrawn) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const struct {
        const char* what;
        std::string entities;
        double width, height;  // of the drawing, in its units
    } cases[] = {
        {"circle on top",
         "0\nLINE\n8\n0\n10\n0\n20\n0\n11\n0\n21\n100\n0\nCIRCLE\n8\n0\n10\n0\n20\n100\n40\n30\n",
         60, 130},
        {"arc from 180 to 300 degrees",
         "0\nLINE\n8\n0\n10\n-50\n20\n0\n11\n50\n21\n0\n"
         "0\nARC\n8\n0\n10\n0\n20\n0\n40\n50\n50\n180\n51\n300\n",
         100, 50},
        {"ellipse", "0\nELLIPSE\n8\n0\n10\n0\n20\n0\n11\n100\n21\n0\n40\n0.2\n41\n0\n42\n6.2832\n",
         200, 40},
        {"inserted circle",
         "0\nLINE\n8\n0\n10\n0\n20\n0\n11\n0\n21\n50\n0\nINSERT\n8\n0\n2\nC\n10\n0\n20\n50\n", 20,
         60},
    };
    for (const auto& c : cases) {
        const std::string blocks =
            "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nC\n10\n0\n20\n0\n0\nCIRCLE\n8\n0\n10\n0\n20\n0\n40"
            "\n"
            "10\n0\nENDBLK\n0\nENDSEC\n";
        int w = 0, h = 0;
        const InkBox box =
            DxfInk(*this, blocks + "0\nSECTION\n2\nENTITIES\n" + c.entities + "0\nENDSEC\n0\nEOF\n",
                   &w, &h);
        ASSERT_GT(box.right, box.left) << c.what;
        // 2% margins, centred; the line's width adds a dot either side.
        const double scale = std::min(0.96 * w / c.width, 0.96 * h / c.height);
        EXPECT_NEAR(box.Width(), scale * c.width, 3) << c.what;
        EXPECT_NEAR(box.Height(), scale * c.height, 3) << c.what;
        EXPECT_NEAR(box.left, w - 1 - box.right, 2) << c.what;
        EXPECT_NEAR(box.bottom, h - 1 - box.top, 2) << c.what;
    }
}

// At a given scale, what lies beyond the sheet is cut at its edge: nothing
// off the sheet is pressed onto the border, on either side.
TEST_F(AdihostTest, DxfCutAtTheSheetEdge) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    int w = 0, h = 0;
    DxfInk(*this, "0\nPOINT\n8\n0\n10\n0\n20\n0\n", &w, &h);
    ASSERT_GT(w, 0);
    const auto mm = [](double v) { return std::to_string(v); };
    const double right = w * 0.254, top = h * 0.254;  // the sheet in millimetres
    const auto line = [&](double x1, double y1, double x2, double y2) {
        return "0\nLINE\n8\n0\n10\n" + mm(x1) + "\n20\n" + mm(y1) + "\n11\n" + mm(x2) + "\n21\n" +
               mm(y2) + "\n";
    };
    // Wholly off the sheet beyond each edge; lines and a solid across the
    // left and right edges at 100 and 150..180 mm.
    const std::string entities =
        line(right + 20, 20, right + 20, 80) + line(-20, 20, -20, 80) +
        line(20, top + 20, 80, top + 20) + line(20, -20, 80, -20) +
        line(right - 50, 100, right + 50, 100) + line(-50, 100, 50, 100) + "0\nSOLID\n8\n0\n10\n" +
        mm(right - 30) + "\n20\n150\n11\n" + mm(right + 30) + "\n21\n150\n12\n" + mm(right - 30) +
        "\n22\n180\n13\n" + mm(right + 30) + "\n23\n180\n" +
        "0\nSOLID\n8\n0\n10\n-30\n20\n150\n11\n30\n21\n150\n12\n-30\n22\n180\n13\n30\n23\n180\n";
    std::vector<std::uint8_t> rgb;
    const InkBox box = DxfInk(*this, entities, &w, &h, &rgb, "--scale 1:1");
    auto dark = [&](int x, int yUp) {
        return rgb[(static_cast<std::size_t>(h - 1 - yUp) * w + x) * 3] < 224;
    };
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.right, w - 1);
    for (const int x : {0, w - 1}) {
        int stray = 0;
        for (int y = 0; y < h; ++y) {
            const double at = y * 0.254;
            stray += !(std::fabs(at - 100) < 1 || (at > 149 && at < 181)) && dark(x, y);
        }
        EXPECT_EQ(stray, 0) << "dark dots on the edge at x = " << x;
        EXPECT_TRUE(dark(x, static_cast<int>(100 / 0.254)));
        EXPECT_TRUE(dark(x, static_cast<int>(165 / 0.254)));
    }
    int bottom = 0;
    for (int x = 0; x < w; ++x) bottom += dark(x, 0);
    EXPECT_EQ(bottom, 0) << "dark dots on the bottom edge";
    EXPECT_LT(box.top, static_cast<int>(181 / 0.254) + 2);  // nothing pressed onto the top
}

// TEXT alignment (72, 73) places the text at its second point: centred,
// right, middle, top; aligned and fit run it from the first point to the second.
TEST_F(AdihostTest, DxfTextAlignment) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const auto text = [&](int h, int v, double x1, double x2, int angle = 0) {
        const std::string entity =
            "0\nTEXT\n8\n0\n10\n" + std::to_string(x1) + "\n20\n100\n40\n10\n50\n" +
            std::to_string(angle) + "\n1\nHHHHHHHHHH\n72\n" + std::to_string(h) + "\n73\n" +
            std::to_string(v) + "\n11\n" + std::to_string(x2) + "\n21\n100\n";
        return DxfInk(*this, entity, nullptr, nullptr, nullptr, "--scale 1:1");
    };
    const double px = 1 / 0.254;  // dots a millimetre at 100 dpi
    // Left on its baseline at the first point; H's side bearings are equal,
    // which gives the advance the alignments use.
    const InkBox left = text(0, 0, 200, 0);
    ASSERT_GT(left.right, left.left);
    EXPECT_NEAR(left.bottom, 100 * px, 1.5);
    const double bearing = left.left - 200 * px;
    EXPECT_GT(bearing, 0);
    const double advance = left.Width() + 2 * bearing;

    const InkBox centre = text(1, 0, 0, 200);
    EXPECT_NEAR(centre.left, left.left - advance / 2, 2);
    EXPECT_NEAR(centre.bottom, left.bottom, 1);
    const InkBox rightTop = text(2, 3, 0, 200);
    EXPECT_NEAR(rightTop.right, left.right - advance, 2);
    EXPECT_NEAR(rightTop.top, 100 * px, 2);  // the cap height is the text height
    const InkBox middle = text(4, 0, 0, 200);
    EXPECT_NEAR((middle.left + middle.right) / 2.0, 200 * px, 2);
    EXPECT_NEAR((middle.bottom + middle.top) / 2.0, 100 * px, 2);
    const InkBox leftMiddle = text(0, 2, 0, 200);
    EXPECT_NEAR(leftMiddle.left, left.left, 1);
    EXPECT_NEAR((leftMiddle.bottom + leftMiddle.top) / 2.0, 100 * px, 2);

    // From 50 to 250 mm: fit keeps the height, aligned scales it with the width.
    const double stretch = 200 * px / advance;
    const InkBox fit = text(5, 0, 50, 250);
    EXPECT_NEAR((fit.left + fit.right) / 2.0, 150 * px, 2);
    EXPECT_NEAR(fit.Width(), left.Width() * stretch, 3);
    EXPECT_NEAR(fit.Height(), left.Height(), 1);
    const InkBox aligned = text(3, 0, 50, 250);
    EXPECT_NEAR((aligned.left + aligned.right) / 2.0, 150 * px, 2);
    EXPECT_NEAR(aligned.Width(), left.Width() * stretch, 3);
    EXPECT_NEAR(aligned.Height(), left.Height() * stretch, 2);

    // Centred and turned 90 degrees: reads upwards, its baseline at x = 200.
    const InkBox turned = text(1, 0, 0, 200, 90);
    EXPECT_NEAR(turned.right, 200 * px, 1.5);
    EXPECT_NEAR((turned.bottom + turned.top) / 2.0, 100 * px, 2);
    EXPECT_NEAR(turned.Height(), left.Width(), 2);
}

// Text escapes draw the characters they stand for: the same sheet as the
// characters written out in UTF-8.
TEST_F(AdihostTest, DxfTextEscapes) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const auto plot = [&](const char* kind, const std::string& text) {
        Write("t.dxf", std::string("0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n200\n"
                                   "21\n0\n0\n") +
                           kind + "\n8\n0\n10\n10\n20\n10\n40\n10\n1\n" + text +
                           "\n0\nENDSEC\n0\nEOF\n");
        const ProcessResult run =
            Adihost("plot " + Path("t.dxf") + " -o " + Path("t.prn") + " --quiet --scale 1:1");
        EXPECT_EQ(run.status, 0) << run.err;
        return Read(Path("t.prn"));
    };
    const struct {
        const char* kind;
        const char* escaped;
        const char* plain;
    } cases[] = {
        {"TEXT", "%%d45 %%p1 %%c20 100%%%", "\u00b045 \u00b11 \u230020 100%"},
        {"TEXT", "%%176C", "\u00b0C"},
        {"TEXT", "\\U+00B1\\U+00b0", "\u00b1\u00b0"},
        {"MTEXT", "\\U+00B1 5%%d", "\u00b1 5\u00b0"},
        {"MTEXT", "A\\~B", "A\u00a0B"},
    };
    for (const auto& c : cases) {
        const std::string escaped = plot(c.kind, c.escaped);
        EXPECT_FALSE(escaped.empty()) << c.escaped;
        EXPECT_TRUE(escaped == plot(c.kind, c.plain)) << c.kind << " " << c.escaped;
        EXPECT_NE(escaped, plot(c.kind, "A")) << c.escaped;  // the text is drawn at all
    }
}

// Extrusion (0, 0, -1) mirrors an entity's own coordinates in x, and turns
// ELLIPSE's sweep clockwise seen from above.
TEST_F(AdihostTest, DxfExtrusionDownMirrors) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const std::string down = "210\n0\n220\n0\n230\n-1\n";
    const double px = 1 / 0.254;
    const auto ink = [&](const std::string& entity) {
        return DxfInk(*this, entity, nullptr, nullptr, nullptr, "--scale 1:1");
    };
    // Centre (-200, 100) of its own is (200, 100); 0 to 90 degrees goes up and left.
    const InkBox arc = ink("0\nARC\n8\n0\n10\n-200\n20\n100\n40\n50\n50\n0\n51\n90\n" + down);
    EXPECT_NEAR(arc.left, 150 * px, 2);
    EXPECT_NEAR(arc.right, 200 * px, 2);
    EXPECT_NEAR(arc.bottom, 100 * px, 2);
    EXPECT_NEAR(arc.top, 150 * px, 2);
    const InkBox circle = ink("0\nCIRCLE\n8\n0\n10\n-200\n20\n100\n40\n20\n" + down);
    EXPECT_NEAR((circle.left + circle.right) / 2.0, 200 * px, 1);
    // In world coordinates, from (350, 100) clockwise to (300, 75).
    const InkBox ellipse =
        ink("0\nELLIPSE\n8\n0\n10\n300\n20\n100\n11\n50\n21\n0\n40\n0.5\n41\n0\n" + down +
            "42\n1.5708\n");
    EXPECT_NEAR(ellipse.left, 300 * px, 2);
    EXPECT_NEAR(ellipse.right, 350 * px, 2);
    EXPECT_NEAR(ellipse.bottom, 75 * px, 2);
    EXPECT_NEAR(ellipse.top, 100 * px, 2);
    // Text mirrored: it runs leftwards from (200, 200).
    const InkBox text = ink("0\nTEXT\n8\n0\n10\n-200\n20\n200\n40\n10\n1\nHHHH\n" + down);
    EXPECT_LT(text.right, 200 * px);
    EXPECT_GT(text.right, 195 * px);
    EXPECT_NEAR(text.bottom, 200 * px, 1.5);
    // A polyline and a solid likewise.
    const InkBox poly =
        ink("0\nLWPOLYLINE\n8\n0\n90\n2\n10\n-100\n20\n50\n10\n-150\n20\n60\n" + down);
    EXPECT_NEAR(poly.left, 100 * px, 2);
    EXPECT_NEAR(poly.right, 150 * px, 2);
    const InkBox solid =
        ink("0\nSOLID\n8\n0\n10\n-100\n20\n50\n11\n-120\n21\n50\n12\n-100\n22\n"
            "70\n13\n-120\n23\n70\n" +
            down);
    EXPECT_NEAR(solid.left, 100 * px, 2);
    EXPECT_NEAR(solid.right, 120 * px, 2);
}

// MTEXT's attachment point (71) holds the block of lines there: the caps of
// the first line reach the top, the last baseline is the bottom, baselines
// 5/3 of the height apart; the reference width (41) breaks lines at spaces.
TEST_F(AdihostTest, DxfMTextLayout) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const double px = 1 / 0.254;
    const auto mtext = [&](int attach, const std::string& text, double width = 0) {
        return DxfInk(*this,
                      "0\nMTEXT\n8\n0\n10\n200\n20\n100\n40\n10\n41\n" + std::to_string(width) +
                          "\n71\n" + std::to_string(attach) + "\n1\n" + text + "\n",
                      nullptr, nullptr, nullptr, "--scale 1:1");
    };
    const double block = (10 + 50.0 / 3) * px;  // two lines
    const InkBox topLeft = mtext(1, "HHHH\\PHHHH");
    EXPECT_NEAR(topLeft.top, 100 * px, 2);
    EXPECT_NEAR(topLeft.Height(), block, 3);  // H stands a little above the text height
    EXPECT_GT(topLeft.left, 200 * px);
    EXPECT_LT(topLeft.left, 202 * px);
    const InkBox middleCentre = mtext(5, "HHHH\\PHHHH");
    EXPECT_NEAR((middleCentre.left + middleCentre.right) / 2.0, 200 * px, 2);
    EXPECT_NEAR((middleCentre.bottom + middleCentre.top) / 2.0, 100 * px, 2);
    EXPECT_NEAR(middleCentre.Width(), topLeft.Width(), 1);
    const InkBox bottomRight = mtext(9, "HHHH\\PHHHH");
    EXPECT_NEAR(bottomRight.bottom, 100 * px, 1.5);
    EXPECT_LT(bottomRight.right, 200 * px);
    EXPECT_GT(bottomRight.right, 198 * px);

    // Four words that fit one a line in 30 mm: four lines, none wider.
    const InkBox wrapped = mtext(1, "HH HH HH HH", 30);
    EXPECT_NEAR(wrapped.Height(), (10 + 3 * 50.0 / 3) * px, 3);
    EXPECT_LT(wrapped.Width(), 30 * px);
}

// Text in the drawing's code page is drawn as its characters; what the code
// page cannot decode is reported.
TEST_F(AdihostTest, DxfTextInTheCodePage) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const auto plot = [&](const std::string& page, const std::string& text, std::string* err) {
        Write("t.dxf", "0\nSECTION\n2\nHEADER\n9\n$DWGCODEPAGE\n3\n" + page +
                           "\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n"
                           "200\n21\n0\n0\nTEXT\n8\n0\n10\n10\n20\n10\n40\n10\n1\n" +
                           text + "\n0\nMTEXT\n8\n0\n10\n10\n20\n50\n40\n10\n1\n" + text +
                           "\n0\nENDSEC\n0\nEOF\n");
        const ProcessResult run =
            Adihost("plot " + Path("t.dxf") + " -o " + Path("t.prn") + " --scale 1:1");
        EXPECT_EQ(run.status, 0) << run.err;
        *err = run.err;
        return Read(Path("t.prn"));
    };
    std::string err;
    const std::string utf8 = plot("ANSI_1252", "\u00c4rger \u00b0", &err);
    EXPECT_EQ(plot("ANSI_1252", "\xc4rger \xb0", &err), utf8);
    EXPECT_EQ(err.find("skipped"), std::string::npos) << err;
    EXPECT_NE(plot("ANSI_1252", "rger", &err), utf8);  // the characters are drawn
    EXPECT_EQ(plot("ANSI_1251", "\xc4", &err), plot("ANSI_1252", "\u0414", &err));  // Cyrillic
    plot("ANSI_932", "\x81", &err);  // half a Shift-JIS character
    EXPECT_NE(err.find("2 text not in code page ANSI_932"), std::string::npos) << err;
}

// Whether a sheet rendered at 100 dpi has ink in the rectangle of
// millimetres [x0, x1] x [y0, y1] (y up from the bottom edge).
bool InkIn(const std::vector<std::uint8_t>& rgb, int w, int h, double x0, double y0, double x1,
           double y1) {
    for (int y = std::max(0, static_cast<int>(y0 / 0.254));
         y <= std::min(h - 1, static_cast<int>(y1 / 0.254)); ++y)
        for (int x = std::max(0, static_cast<int>(x0 / 0.254));
             x <= std::min(w - 1, static_cast<int>(x1 / 0.254)); ++x)
            if (rgb[(static_cast<std::size_t>(h - 1 - y) * w + x) * 3] < 224) return true;
    return false;
}

std::string DxfLine(const std::string& layer, double x1, double y1, double x2, double y2) {
    return "0\nLINE\n8\n" + layer + "\n10\n" + std::to_string(x1) + "\n20\n" + std::to_string(y1) +
           "\n11\n" + std::to_string(x2) + "\n21\n" + std::to_string(y2) + "\n";
}

// Layers off (negative colour) or frozen (flag 1) are not plotted; entities
// of a block on layer 0 go with the INSERT's layer, for that and for their
// colour BYLAYER (seen in fills: lines are drawn with one pen), and a frozen
// INSERT hides all it places. --layers plots the layers it names,
// whatever their state.
TEST_F(AdihostTest, DxfLayersOffFrozenAndChosen) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    // On layer 0, BYLAYER, from 10 to 40 mm and 5 mm high from `y`.
    const auto solid = [](int y) {
        const std::string y0 = std::to_string(y), y1 = std::to_string(y + 5);
        return "0\nSOLID\n8\n0\n10\n10\n20\n" + y0 + "\n11\n40\n21\n" + y0 + "\n12\n10\n22\n" + y1 +
               "\n13\n40\n23\n" + y1 + "\n";
    };
    const std::string dxf =
        "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n"
        "0\nLAYER\n2\nOn\n70\n0\n62\n3\n0\nLAYER\n2\nOff\n70\n0\n62\n-1\n"
        "0\nLAYER\n2\nFrozen\n70\n1\n62\n1\n0\nENDTAB\n0\nENDSEC\n"
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB\n10\n0\n20\n0\n" +
        DxfLine("0", 0, 0, 40, 0) + "0\nCIRCLE\n8\nON\n10\n20\n20\n10\n40\n5\n" + solid(-12) +
        "0\nENDBLK\n0\nENDSEC\n" + "0\nSECTION\n2\nENTITIES\n" + DxfLine("On", 10, 10, 50, 10) +
        DxfLine("Off", 10, 30, 50, 30) + DxfLine("Frozen", 10, 50, 50, 50) +
        "0\nINSERT\n8\nOff\n2\nB\n10\n100\n20\n10\n0\nINSERT\n8\nFrozen\n2\nB\n10\n100\n20\n50\n"
        "0\nINSERT\n8\nOn\n2\nB\n10\n100\n20\n90\n" +
        solid(78) + "0\nENDSEC\n0\nEOF\n";
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgb;
    DxfInk(*this, dxf, &w, &h, &rgb, "--scale 1:1");
    ASSERT_GT(w, 0);
    EXPECT_TRUE(InkIn(rgb, w, h, 20, 8, 40, 12));
    EXPECT_FALSE(InkIn(rgb, w, h, 5, 25, 55, 55)) << "lines on layers off or frozen";
    EXPECT_FALSE(InkIn(rgb, w, h, 105, 8, 135, 12)) << "the block's line on 0 of an INSERT off";
    EXPECT_TRUE(InkIn(rgb, w, h, 110, 18, 130, 26)) << "its circle on a layer shown";
    EXPECT_FALSE(InkIn(rgb, w, h, 95, 45, 145, 70)) << "a frozen INSERT";
    // The block's solid on 0 BYLAYER is filled in the colour of ON (green, pen
    // 3), lighter than the black one on 0 outside the block.
    const auto grey = [&](double x, double y) {
        return rgb[(static_cast<std::size_t>(h - 1 - static_cast<int>(y / 0.254)) * w +
                    static_cast<int>(x / 0.254)) *
                   3];
    };
    EXPECT_LT(grey(25, 80.5), 30);
    EXPECT_GT(grey(125, 80.5), 100);
    EXPECT_LT(grey(125, 80.5), 224);

    std::string err;
    DxfInk(*this, dxf, &w, &h, &rgb, "--scale 1:1 --layers frozen,Nowhere", &err);
    EXPECT_NE(err.find("no layer named \"Nowhere\""), std::string::npos) << err;
    EXPECT_TRUE(InkIn(rgb, w, h, 20, 48, 40, 52));
    EXPECT_TRUE(InkIn(rgb, w, h, 110, 48, 130, 52)) << "the block's line on 0 goes with FROZEN";
    EXPECT_FALSE(InkIn(rgb, w, h, 110, 58, 130, 66)) << "its circle on ON";
    EXPECT_FALSE(InkIn(rgb, w, h, 5, 5, 55, 35));
    EXPECT_FALSE(InkIn(rgb, w, h, 5, 75, 145, 95)) << "layers 0 and ON";
}

// A DIMENSION is drawn from the block it names (not its DEFPOINTS; BYBLOCK
// in its colour, seen in a fill), or reported without one; ATTRIBs are drawn as text unless
// invisible, and of the ATTDEFs only constant ones; WIPEOUT and MLEADER are reported.
TEST_F(AdihostTest, DxfDimensionsAndAttributes) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const std::string blocks =
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\n*D1\n10\n0\n20\n0\n" + DxfLine("0", 10, 10, 60, 10) +
        "0\nSOLID\n8\n0\n62\n0\n10\n10\n20\n20\n11\n60\n21\n20\n12\n10\n22\n25\n13\n60\n23\n25\n" +
        "0\nPOINT\n8\nDefpoints\n10\n10\n20\n40\n0\nENDBLK\n"
        "0\nBLOCK\n2\nA\n10\n0\n20\n0\n"
        "0\nATTDEF\n8\n0\n10\n0\n20\n0\n40\n10\n1\nHHHH\n2\nTAG\n70\n0\n"
        "0\nATTDEF\n8\n0\n10\n0\n20\n-30\n40\n10\n1\nHHHH\n2\nFIXED\n70\n2\n0\nENDBLK\n0\nENDSEC\n";
    const std::string entities =
        "0\nDIMENSION\n8\n0\n62\n1\n2\n*D1\n70\n0\n0\nDIMENSION\n8\n0\n2\n*D9\n70\n1\n"
        "0\nINSERT\n8\n0\n2\nA\n66\n1\n10\n100\n20\n100\n"
        "0\nATTRIB\n8\n0\n10\n150\n20\n50\n40\n10\n1\nHHHH\n2\nTAG\n70\n0\n"
        "0\nATTRIB\n8\n0\n10\n150\n20\n80\n40\n10\n1\nHHHH\n2\nHIDDEN\n70\n1\n"
        "0\nATTRIB\n8\n0\n10\n0\n20\n0\n11\n250\n21\n50\n40\n10\n1\nHHHH\n2\nC\n70\n0\n72\n1\n"
        "0\nSEQEND\n8\n0\n0\nWIPEOUT\n8\n0\n0\nMULTILEADER\n8\n0\n";
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgb;
    std::string err;
    DxfInk(*this, blocks + "0\nSECTION\n2\nENTITIES\n" + entities + "0\nENDSEC\n0\nEOF\n", &w, &h,
           &rgb, "--scale 1:1", &err);
    ASSERT_GT(w, 0);
    EXPECT_NE(err.find("skipped: 1 DIMENSION, 1 MLEADER, 1 WIPEOUT"), std::string::npos) << err;
    EXPECT_TRUE(InkIn(rgb, w, h, 12, 9, 58, 11)) << "the dimension's block";
    // Its solid BYBLOCK is filled in the DIMENSION's red (pen 1): not black.
    const int red = rgb[(static_cast<std::size_t>(h - 1 - static_cast<int>(22.5 / 0.254)) * w +
                         static_cast<int>(35 / 0.254)) *
                        3];
    EXPECT_GT(red, 50);
    EXPECT_LT(red, 224);
    EXPECT_FALSE(InkIn(rgb, w, h, 5, 35, 15, 45)) << "its point on DEFPOINTS";
    EXPECT_TRUE(InkIn(rgb, w, h, 152, 51, 170, 59)) << "the ATTRIB";
    EXPECT_FALSE(InkIn(rgb, w, h, 145, 75, 190, 95)) << "the invisible ATTRIB";
    EXPECT_FALSE(InkIn(rgb, w, h, 95, 95, 140, 115)) << "the ATTDEF, a template";
    EXPECT_TRUE(InkIn(rgb, w, h, 102, 71, 120, 79)) << "the constant ATTDEF";
    // The centred ATTRIB at its second point: as far left of 250 mm as right.
    int left = w, right = -1;
    for (int x = 0; x < w; ++x)
        if (InkIn(rgb, w, h, x * 0.254, 52, x * 0.254, 58) && x * 0.254 > 200)
            left = std::min(left, x), right = std::max(right, x);
    EXPECT_NEAR((left + right) / 2.0, 250 / 0.254, 2);
}

// LEADER: its polyline, with a filled arrowhead at the first vertex when
// its flag says so, $DIMASZ x $DIMSCALE long and a third of that wide.
TEST_F(AdihostTest, DxfLeaderArrow) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const auto leader = [&](int arrow, std::vector<std::uint8_t>* rgb, int* w, int* h) {
        return DxfInk(*this,
                      "0\nSECTION\n2\nHEADER\n9\n$DIMASZ\n40\n5\n9\n$DIMSCALE\n40\n2\n0\nENDSEC\n"
                      "0\nSECTION\n2\nENTITIES\n0\nLEADER\n8\n0\n71\n" +
                          std::to_string(arrow) +
                          "\n76\n3\n10\n10\n20\n150\n10\n60\n20\n150\n10\n60\n20\n180\n"
                          "0\nENDSEC\n0\nEOF\n",
                      w, h, rgb, "--scale 1:1");
    };
    const double px = 1 / 0.254;
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgb;
    const InkBox plain = leader(0, &rgb, &w, &h);
    EXPECT_NEAR(plain.left, 10 * px, 1.5);
    EXPECT_NEAR(plain.top, 180 * px, 1.5);
    EXPECT_FALSE(InkIn(rgb, w, h, 18, 150.7, 19.5, 151));
    const InkBox arrow = leader(1, &rgb, &w, &h);
    EXPECT_NEAR(arrow.left, plain.left, 1);
    EXPECT_NEAR(arrow.bottom, (150 - 10.0 / 6) * px, 1.5);  // the arrow's base, 10 mm from its tip
    EXPECT_TRUE(InkIn(rgb, w, h, 18, 150.7, 19.5, 151));
    EXPECT_FALSE(InkIn(rgb, w, h, 21, 150.7, 58, 151)) << "no wider than its line past the arrow";
}

// MTEXT's inline formatting: \H height (absolute, or relative with x), \C
// colour, \L and \O under- and overline, fonts read past; TEXT's %%u and
// %%o toggle the lines.
TEST_F(AdihostTest, DxfTextFormatting) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgb;
    // Bottom left at (100, 100): the baseline is there whatever the height.
    const auto mtext = [&](const std::string& text) {
        return DxfInk(*this, "0\nMTEXT\n8\n0\n10\n100\n20\n100\n40\n10\n71\n7\n1\n" + text + "\n",
                      &w, &h, &rgb, "--scale 1:1");
    };
    const InkBox plain = mtext("HHHH");
    ASSERT_GT(plain.right, plain.left);
    const InkBox absolute = mtext("\\H20;HHHH");
    EXPECT_NEAR(absolute.Height(), 2 * plain.Height(), 2);
    EXPECT_NEAR(absolute.Width(), 2 * plain.Width(), 3);
    const InkBox relative = mtext("\\H2x;HHHH");
    EXPECT_NEAR(relative.Height(), absolute.Height(), 1);
    EXPECT_NEAR(relative.Width(), absolute.Width(), 1);
    const InkBox grouped = mtext("{\\H2x;HH}HH");  // the group ends the larger height
    EXPECT_NEAR(grouped.Height(), absolute.Height(), 1);
    EXPECT_NEAR(grouped.Width(), 1.5 * plain.Width(), 3);
    const InkBox font = mtext("{\\fArial|b1|i0|c0;HH}HH");
    EXPECT_EQ(font.left, plain.left);
    EXPECT_EQ(font.right, plain.right);
    EXPECT_EQ(font.top, plain.top);

    // HH is about 21 mm long: lines under or over the first pair only, 2 mm
    // below the baseline or above the height.
    const auto lines = [&](const char* what, bool under) {
        const double y = under ? 98 : 112;
        EXPECT_TRUE(InkIn(rgb, w, h, 102, y - 0.4, 118, y + 0.4)) << what;
        EXPECT_FALSE(InkIn(rgb, w, h, 124, y - 0.6, 140, y + 0.6)) << what;
        EXPECT_FALSE(InkIn(rgb, w, h, 95, under ? 110.5 : 95, 150, under ? 115 : 99.5)) << what;
    };
    mtext("\\LHH\\lHH");
    lines("\\L", true);
    mtext("\\OHH\\oHH");
    lines("\\O", false);
    DxfInk(*this, "0\nTEXT\n8\n0\n10\n100\n20\n100\n40\n10\n1\n%%uHH%%uHH\n", &w, &h, &rgb,
           "--scale 1:1");
    lines("%%u", true);
    DxfInk(*this, "0\nTEXT\n8\n0\n10\n100\n20\n100\n40\n10\n1\n%%oHH%%oHH\n", &w, &h, &rgb,
           "--scale 1:1");
    lines("%%o", false);

    // \C1; is pen 1, red: lighter than black on the grey sheet.
    mtext("HH\\C1;HH");
    const auto darkest = [&](double x0, double x1) {
        int value = 255;
        for (int y = static_cast<int>(101 / 0.254); y < static_cast<int>(109 / 0.254); ++y)
            for (int x = static_cast<int>(x0 / 0.254); x < static_cast<int>(x1 / 0.254); ++x)
                value =
                    std::min<int>(value, rgb[(static_cast<std::size_t>(h - 1 - y) * w + x) * 3]);
        return value;
    };
    EXPECT_LT(darkest(100, 120), 30);
    EXPECT_GT(darkest(122, 142), 50);
    EXPECT_LT(darkest(122, 142), 200);
}

// A pattern HATCH draws its line families inside its boundary, even-odd:
// nothing in a hole or outside; dashes where the pattern has them. Boundary
// edges are joined end to end whatever their order; bulges are arcs.
TEST_F(AdihostTest, DxfPatternHatch) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    // Its edges in order, or as a file may list them: out of order, one turned round.
    const auto square = [](double x0, double y0, double x1, double y1, bool scrambled = false) {
        std::string loop = "92\n1\n93\n4\n";
        const double x[] = {x0, x1, x1, x0}, y[] = {y0, y0, y1, y1};
        for (const int i :
             scrambled ? std::vector<int>{0, 2, 1, 3} : std::vector<int>{0, 1, 2, 3}) {
            const int a = scrambled && i == 2 ? 3 : i, b = scrambled && i == 2 ? 2 : (i + 1) % 4;
            loop += "72\n1\n10\n" + std::to_string(x[a]) + "\n20\n" + std::to_string(y[a]) +
                    "\n11\n" + std::to_string(x[b]) + "\n21\n" + std::to_string(y[b]) + "\n";
        }
        return loop + "97\n0\n";
    };
    const auto hatch = [](const std::string& loops, int count, const std::string& pattern) {
        return "0\nHATCH\n8\n0\n10\n0\n20\n0\n30\n0\n2\nUSER\n70\n0\n71\n0\n91\n" +
               std::to_string(count) + "\n" + loops + "75\n0\n76\n1\n52\n0\n41\n1\n78\n1\n" +
               pattern + "98\n0\n";
    };
    // Lines at y = 5, 15, ... 95 in a square with a hole from 40 to 60; upright
    // dashes 5 mm long every 10 mm at x = 205, 215, ... 295.
    const std::string entities =
        hatch(square(0, 0, 100, 100) + square(40, 40, 60, 60), 2,
              "53\n0\n43\n0\n44\n5\n45\n0\n46\n10\n79\n0\n") +
        hatch(square(200, 0, 300, 100, true), 1,
              "53\n90\n43\n205\n44\n0\n45\n-10\n46\n0\n79\n2\n49\n5\n49\n-5\n");
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgb;
    std::string err;
    DxfInk(*this, entities, &w, &h, &rgb, "--scale 1:1", &err);
    ASSERT_GT(w, 0);
    EXPECT_EQ(err.find("HATCH"), std::string::npos) << err;
    EXPECT_TRUE(InkIn(rgb, w, h, 1, 34.8, 99, 35.2));
    EXPECT_TRUE(InkIn(rgb, w, h, 1, 44.8, 39, 45.2));
    EXPECT_FALSE(InkIn(rgb, w, h, 41, 41, 59, 59)) << "in the hole";
    EXPECT_FALSE(InkIn(rgb, w, h, 1, 36, 99, 44)) << "between the lines";
    EXPECT_FALSE(InkIn(rgb, w, h, 101, 0, 199, 100)) << "beyond the boundary";
    EXPECT_TRUE(InkIn(rgb, w, h, 224.8, 51, 225.2, 54));
    EXPECT_FALSE(InkIn(rgb, w, h, 224.5, 56, 225.5, 59)) << "the dashes' gaps";
    EXPECT_FALSE(InkIn(rgb, w, h, 226, 1, 234, 99));

    // A polyline loop's bulges are arcs: two half circles make a disc.
    const InkBox disc =
        DxfInk(*this,
               "0\nHATCH\n8\n0\n10\n0\n20\n0\n30\n0\n2\nSOLID\n70\n1\n71\n0\n91\n1\n"
               "92\n2\n72\n1\n73\n1\n93\n2\n10\n100\n20\n100\n42\n1\n10\n200\n20\n"
               "100\n42\n1\n97\n0\n75\n0\n76\n1\n98\n0\n",
               nullptr, nullptr, nullptr, "--scale 1:1");
    const double px = 1 / 0.254;
    EXPECT_NEAR(disc.left, 100 * px, 1.5);
    EXPECT_NEAR(disc.right, 200 * px, 1.5);
    EXPECT_NEAR(disc.bottom, 50 * px, 1.5);
    EXPECT_NEAR(disc.top, 150 * px, 1.5);

    // Lines or dashes a millionth of a millimetre apart are reported, not
    // drawn for ever; the rest of the drawing is.
    for (const char* pattern : {"53\n0\n43\n0\n44\n0\n45\n0\n46\n0.000001\n79\n0\n",
                                "53\n0\n43\n0\n44\n0\n45\n0\n46\n10\n79\n2\n49\n"
                                "0.000001\n49\n-0.000001\n"}) {
        DxfInk(*this, DxfLine("0", 0, 0, 10, 10) + hatch(square(0, 0, 100, 100), 1, pattern), &w,
               &h, &rgb, "--scale 1:1", &err);
        EXPECT_NE(err.find("1 HATCH (pattern too dense)"), std::string::npos) << err;
        EXPECT_TRUE(InkIn(rgb, w, h, 4, 4, 6, 6));
    }
    // So far from the origin that a line's number plus one is the same number:
    // counted to the end all the same, and reported as out of range.
    DxfInk(*this,
           DxfLine("0", 0, 0, 10, 10) + hatch(square(1e17, 0, 1e17 + 100, 100), 1,
                                              "53\n90\n43\n0\n44\n0\n45\n1\n46\n0\n79\n0\n"),
           &w, &h, &rgb, "--scale 1:1", &err);
    EXPECT_NE(err.find("beyond 1e12"), std::string::npos) << err;
}

// A STYLE naming a TrueType file the system has draws in that font; one it
// does not have, in the system sans like any other.
TEST_F(AdihostTest, DxfStyleFonts) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    const auto text = [&](const std::string& font, const char* kind) {
        return DxfInk(*this,
                      "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nSTYLE\n0\nSTYLE\n2\nNamed\n70\n0\n3\n" +
                          font + "\n0\nENDTAB\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\n" + kind +
                          "\n8\n0\n7\nnamed\n10\n100\n20\n100\n40\n10\n1\nHHHHHHHHHH\n"
                          "0\nENDSEC\n0\nEOF\n",
                      nullptr, nullptr, nullptr, "--scale 1:1");
    };
    if (std::system("fc-list | grep -q DejaVuSerif.ttf") != 0)
        GTEST_SKIP() << "DejaVu Serif is not installed";
    for (const char* kind : {"TEXT", "MTEXT"}) {
        const InkBox sans = text("txt", kind), serif = text("DejaVuSerif.ttf", kind);
        ASSERT_GT(sans.right, sans.left) << kind;
        EXPECT_GT(std::abs(serif.Width() - sans.Width()), sans.Width() / 20) << kind;
        const InkBox missing = text("NoSuchFont.ttf", kind);
        EXPECT_EQ(missing.left, sans.left) << kind;
        EXPECT_EQ(missing.right, sans.right) << kind;
    }
}

// A request the driver refuses names the line of the DXF file its entity
// starts on: in VCGL on the default sheet (long coordinates) an area of more
// than 16,383 points is refused.
TEST_F(AdihostTest, DxfDriverErrorsNameTheFilesLine) {
    Write("varnu.cfg", VcglRecord());
    std::string loop = "92\n2\n72\n0\n73\n1\n93\n20000\n";
    for (int i = 0; i < 20000; ++i) {
        const double a = i * 2 * M_PI / 20000;
        loop += "10\n" + std::to_string(100 + 50 * std::cos(a)) + "\n20\n" +
                std::to_string(100 + 50 * std::sin(a)) + "\n";
    }
    const std::string head = "0\nSECTION\n2\nENTITIES\n" + DxfLine("0", 0, 0, 10, 10);
    Write("big.dxf", head + "0\nHATCH\n8\n0\n10\n0\n20\n0\n30\n0\n2\nSOLID\n70\n1\n71\n0\n91\n1\n" +
                         loop + "97\n0\n75\n0\n76\n1\n98\n0\n0\nENDSEC\n0\nEOF\n");
    const int line = static_cast<int>(std::count(head.begin(), head.end(), '\n')) + 1;
    const ProcessResult run = Plot(Path("big.dxf"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("big.dxf:" + std::to_string(line) + ": the driver refused"),
              std::string::npos)
        << run.err;
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
    const pid_t demo = StartAdihost({"demo", "--quiet", "-o", Path("demo")});
    for (int i = 0; i < 20000 && !fs::exists(Path("demo/.demo-config")); ++i) usleep(500);
    kill(demo, SIGTERM);
    int status = 0;
    waitpid(demo, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(fs::exists(Path("demo/.demo-config")));
    EXPECT_FALSE(AnyNameContains(dir_ / "demo", ".part"));
}

TEST_F(AdihostTest, NothingDrawnWritesNoFile) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    Write("empty.adi", "# nothing\nmove 10 10\npen 3\n");
    const ProcessResult empty = Adihost("plot " + Path("empty.adi") + " -o " + Path("empty.prn"));
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("nothing to draw"), std::string::npos) << empty.err;
    WritePng(Path("photo.png"));
    for (const char* at : {"nan,nan,nan,nan", "0,0,inf,10", "5,5,5,5", "1000,1000,5000,3000"}) {
        const ProcessResult run = Adihost("plot " + Path("photo.png") + " -o " + Path("photo.prn") +
                                          " --quiet --at " + at);
        EXPECT_EQ(run.status, 1) << at;
        EXPECT_NE(run.err.find(std::string(at)[0] == '1' ? "outside the sheet" : "--at expects"),
                  std::string::npos)
            << run.err;
    }
    EXPECT_FALSE(fs::exists(Path("empty.prn")));
    EXPECT_FALSE(fs::exists(Path("photo.prn")));
}

TEST_F(AdihostTest, AFileThatIsNoRecordIsLeftAlone) {
    Write("job.adi", "draw 10 10\n");
    for (const std::string& content : {std::string(), std::string(39, 'x'), std::string(41, 'x')}) {
        Write("varnu.cfg", content);
        for (const std::string& command :
             {std::string("configure --show"), std::string("configure --defaults"),
              "plot " + Path("job.adi") + " -o " + Path("job.prn")}) {
            const ProcessResult run = Adihost(command);
            EXPECT_EQ(run.status, 1) << command;
            EXPECT_NE(run.err.find("not a configuration record"), std::string::npos) << run.err;
            EXPECT_EQ(Read(Path("varnu.cfg")), content) << command;
        }
    }
    EXPECT_FALSE(fs::exists(Path("job.prn")));
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

// A one-bit PNG of `side` x `side`, grey (a scan) or with a two-colour
// palette, white but for its first row, packed as tightly as zlib can.
void WriteBlankPng(const std::string& path, std::uint32_t side, bool palette) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, side, side, 1, palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color colours[2] = {{0, 0, 0}, {255, 255, 255}};
    if (palette) png_set_PLTE(png, info, colours, 2);
    png_write_info(png, info);
    std::vector<std::uint8_t> row((side + 7) / 8, 0xFF);
    for (std::uint32_t y = 0; y < side; ++y) {
        std::fill(row.begin(), row.end(), y == 0 ? 0x00 : 0xFF);
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

// A TIFF of one uncompressed strip that declares `width` x `height` RGB
// pixels but holds only `held` bytes of them.
std::string DeclaringTiff(std::uint32_t width, std::uint32_t height, std::uint32_t rowsPerStrip,
                          std::uint32_t held) {
    std::string t("II*\0", 4);
    auto u16 = [&t](unsigned v) {
        t += static_cast<char>(v & 255), t += static_cast<char>(v >> 8);
    };
    auto u32 = [&u16](std::uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    u32(8 + held);
    t += std::string(held, '\x55');
    const std::uint32_t tags[][3] = {
        {256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 1},
        {262, 3, 2},     {273, 4, 8},      {277, 3, 3}, {278, 4, rowsPerStrip},
        {279, 4, held}};
    u16(9);
    for (const auto& tag : tags) {
        u16(tag[0]), u16(tag[1]), u32(1);
        if (tag[1] == 3)
            u16(tag[2]), u16(0);
        else
            u32(tag[2]);
    }
    u32(0);
    return t;
}

// A PNG whose header declares `width` x `height` RGB pixels, with `idat` as its data.
std::string DeclaringPng(std::uint32_t width, std::uint32_t height, const std::string& idat) {
    auto be32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    auto chunk = [&be32](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        std::uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char c : body) {
            crc ^= c;
            for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
        return be32(static_cast<std::uint32_t>(data.size())) + body + be32(~crc);
    };
    const std::string header = be32(width) + be32(height) + std::string("\x08\x02\0\0\0", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", idat) +
           chunk("IEND", "");
}

TEST_F(AdihostTest, ImagesAreBoundedByWhatTheFileHolds) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    // Under a gigabyte of address space the refusals must come from the
    // reader, not from a failed allocation (AddressSanitizer needs more).
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit;
#else
    const std::string limit = "ulimit -v 1500000; ";
#endif
    const std::string zlibEmpty("\x78\x9c\x03\x00\x00\x00\x00\x01", 8);
    const std::pair<std::string, std::string> cases[] = {
        {"wide.tif", DeclaringTiff(60000, 60000, 60000, 64)},
        {"vast.tif", DeclaringTiff(1u << 20, 1u << 20, 1u << 20, 64)},
        {"limit.tif", DeclaringTiff(16384, 16384, 16384, 64)},
        {"rows.tif", DeclaringTiff(16384, 16384, 1, 64)},
        {"wide.png", DeclaringPng(60000, 60000, zlibEmpty)},
        {"limit.png", DeclaringPng(16384, 16384, zlibEmpty)},
        {"empty.tif", DeclaringTiff(0, 10, 10, 64)}};
    // A real scan that zlib packs tightly is not mistaken for such a header.
    WriteBlankPng(Path("scan.png"), 6000, false);
    WriteBlankPng(Path("palette.png"), 3000, true);
    for (const char* packed : {"scan.png", "palette.png"}) {
        const ProcessResult run = Adihost("plot " + Path(packed) + " -o " + Path("packed.prn") +
                                          " --quiet --at 10,10,30,30");
        EXPECT_EQ(run.status, 0) << run.err;
    }
    for (const auto& [name, bytes] : cases) {
        Write(name, bytes);
        const std::string command = limit + ADIHOST_PATH + std::string(" --config ") +
                                    Path("varnu.cfg") + " plot " + Path(name) + " -o " +
                                    Path("out.prn") + " --quiet 2> " + Path("err.txt");
        const int raw = std::system(("bash -c '" + command + "'").c_str());
        const std::string err = Read(Path("err.txt"));
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << name << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(err.find("out of memory"), std::string::npos) << err;
        EXPECT_NE(err.find(name), std::string::npos) << err;
        EXPECT_FALSE(fs::exists(Path("out.prn")));
    }
}

void WriteRgbTiff(const std::string& path, int width, int height, bool tiled,
                  const std::vector<std::uint8_t>& rgb) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    if (tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
        std::vector<std::uint8_t> tile(16 * 16 * 3);
        for (int ty = 0; ty < height; ty += 16)
            for (int tx = 0; tx < width; tx += 16) {
                std::fill(tile.begin(), tile.end(), 0);
                for (int y = ty; y < std::min(ty + 16, height); ++y)
                    for (int x = tx; x < std::min(tx + 16, width); ++x)
                        std::memcpy(&tile[((y - ty) * 16 + (x - tx)) * 3],
                                    &rgb[(static_cast<std::size_t>(y) * width + x) * 3], 3);
                TIFFWriteTile(tif, tile.data(), static_cast<std::uint32_t>(tx),
                              static_cast<std::uint32_t>(ty), 0, 0);
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 7u);  // strips that do not divide the height
        for (int y = 0; y < height; ++y)
            TIFFWriteScanline(tif, const_cast<std::uint8_t*>(&rgb[y * width * 3]),
                              static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tif);
}

TEST_F(AdihostTest, TiffRowsReadInBandsMatchThePng) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    WritePng(Path("photo.png"));  // 64 x 32 RGB
    std::vector<std::uint8_t> rgb(64 * 32 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7);
    WriteRgbTiff(Path("strips.tif"), 64, 32, false, rgb);
    WriteRgbTiff(Path("tiles.tif"), 64, 32, true, rgb);
    const std::string at = " --quiet --at 10,10,74,42";
    ASSERT_EQ(Adihost("plot " + Path("photo.png") + " -o " + Path("png.prn") + at).status, 0);
    const std::string expected = Read(Path("png.prn"));
    for (const char* tiff : {"strips.tif", "tiles.tif"}) {
        const ProcessResult run = Adihost("plot " + Path(tiff) + " -o " + Path("tiff.prn") + at);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(Read(Path("tiff.prn")) == expected) << tiff;
    }
}

TEST_F(AdihostTest, LowMemoryComesBackAfterEachImageAndPolygon) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    WritePng(Path("photo.png"));
    std::string job;
    std::string polygon = "polygon 3";
    for (int i = 0; i < 2000; ++i)
        polygon += " " + std::to_string(1000 + i) + "," + std::to_string(i % 2 ? 1000 : 3000);
    // Each image takes 64 MiB of the 512 MiB the driver can address.
    for (int i = 0; i < 12; ++i)
        job += "image photo.png " + std::to_string(100 * i) + " 0 " + std::to_string(100 * i + 64) +
               " 32\n" + polygon + "\n";
    Write("many.adi", job);
    const ProcessResult run = Adihost("plot " + Path("many.adi") + " -o " + Path("many.prn"));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string bytes = Read(Path("many.prn"));
    std::size_t images = 0;
    for (std::size_t at = bytes.find("\x1b*b8M"); at != std::string::npos;
         at = bytes.find("\x1b*b8M", at + 1))
        ++images;
    EXPECT_GE(images, 12u);
}

TEST_F(AdihostTest, NothingInADataFileReachesOutsideItsJob) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    // Raw requests may not set what the driver reads as an address.
    for (const char* line :
         {"request 54 4:i16=3 6:i16=3 8:u32=4096", "request 54 4:i16=3 6:i16=3 8:u32=4194304",
          "request 54 7:u16=1", "request 54 10:str=ab", "request 52 4:u32=4096",
          "request 52 8:u32=4096 16:i32=0", "request 52 2:f64=1e300"}) {
        Write("raw.adi", std::string("draw 1 1\n") + line + "\n");
        const ProcessResult run = Adihost("plot " + Path("raw.adi") + " -o " + Path("raw.prn"));
        EXPECT_EQ(run.status, 1) << line;
        EXPECT_NE(run.err.find("raw.adi:2: request 5"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("a job script cannot set them"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Path("raw.prn")));
    }
    // Other fields of those requests still go through.
    Write("fine.adi", "draw 1 1\nrequest 52 16:i32=0 24:i32=100 28:i32=100\n");
    EXPECT_EQ(Adihost("plot " + Path("fine.adi") + " -o " + Path("fine.prn")).status, 0);

    // A label's quote stays inside the label's string.
    Write("job.adi", "draw 10 10\n");
    const ProcessResult label = Adihost("plot " + Path("job.adi") + " -o " + Path("label.prn") +
                                        " --label 'a\";PG;IN;BP1,\"b'");
    ASSERT_EQ(label.status, 0) << label.err;
    const std::string stream = Read(Path("label.prn"));
    EXPECT_NE(stream.find("BP1,\"a\"\";PG;IN;BP1,\"\"b\",2,1;IN;"), std::string::npos);
    // The printer reads the whole label as one string and the job to its end.
    EXPECT_EQ(Adihost("render " + Path("label.prn") + " -o " + Path("label.png")).status, 0);
}

TEST_F(AdihostTest, DxfWorkAndCoordinatesAreBounded) {
    ASSERT_EQ(Adihost("configure --defaults").status, 0);
    // 40 levels of 2 x 2 arrays of blocks that draw nothing: 4^16 copies
    // down to the depth limit unless the work itself is bounded.
    std::string nest = "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB0\n10\n0\n20\n0\n0\nENDBLK\n";
    for (int level = 1; level <= 40; ++level)
        nest += "0\nBLOCK\n2\nB" + std::to_string(level) + "\n10\n0\n20\n0\n0\nINSERT\n8\n0\n2\nB" +
                std::to_string(level - 1) +
                "\n10\n0\n20\n0\n70\n2\n71\n2\n44\n1\n45\n1\n0\nENDBLK\n";
    nest +=
        "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nINSERT\n8\n0\n2\nB40\n10\n0\n20\n0\n"
        "0\nLINE\n8\n0\n10\n0\n20\n0\n11\n1\n21\n1\n0\nENDSEC\n0\nEOF\n";
    Write("nest.dxf", nest);
    const ProcessResult nested = Plot(Path("nest.dxf"));
    EXPECT_EQ(nested.status, 1);
    EXPECT_NE(nested.err.find("more than 2 million points or block entities"), std::string::npos)
        << nested.err;
    EXPECT_FALSE(fs::exists(Path("drawing.prn")));

    // dxflib makes room for the points an entity says it has before reading
    // them: a count the file cannot hold is refused, naming its line.
    for (const char* entity : {"LWPOLYLINE\n90", "SPLINE\n73", "LEADER\n76", "HATCH\n91"}) {
        Write("count.dxf", std::string("0\nSECTION\n2\nENTITIES\n0\n") + entity +
                               "\n1000000\n10\n0\n20\n0\n" + DxfLine("0", 0, 0, 1, 1) +
                               "0\nENDSEC\n0\nEOF\n");
        const ProcessResult count = Plot(Path("count.dxf"));
        EXPECT_EQ(count.status, 1) << entity;
        EXPECT_NE(count.err.find("count.dxf: line 8: "), std::string::npos) << count.err;
        EXPECT_NE(count.err.find(" with 1000000 "), std::string::npos) << count.err;
    }

    // An empty coordinate reads as 0 (dxflib alone leaves it to chance).
    const std::pair<const char*, const char*> centres[] = {
        {"empty", ""}, {"blank", " \t"}, {"zero", "0"}};
    for (const auto& [name, value] : centres) {
        Write("empty.dxf", "0\nSECTION\n2\nENTITIES\n0\nCIRCLE\n8\n0\n10\n" + std::string(value) +
                               "\n20\n5\n40\n5\n" + DxfLine("0", 0, 0, 30, 20) +
                               "0\nENDSEC\n0\nEOF\n");
        ASSERT_EQ(Plot(Path("empty.dxf")).status, 0) << name;
        fs::rename(Path("drawing.prn"), Path(std::string(name) + ".prn"));
    }
    EXPECT_EQ(Read(Path("empty.prn")), Read(Path("zero.prn")));
    EXPECT_EQ(Read(Path("blank.prn")), Read(Path("zero.prn")));

    // An array beyond 100 x 100 is cut, and the cut reported.
    Write(
        "array.dxf",
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB1\n10\n0\n20\n0\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n1\n"
        "21\n1\n0\nENDBLK\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nINSERT\n8\n0\n2\nB1\n10\n0\n20\n"
        "0\n70\n300\n71\n2\n44\n2\n45\n2\n0\nENDSEC\n0\nEOF\n");
    const ProcessResult array = Plot(Path("array.dxf"));
    ASSERT_EQ(array.status, 0) << array.err;
    EXPECT_NE(array.err.find("skipped: 1 INSERT array cut to 100 x 100"), std::string::npos)
        << array.err;

    // Coordinates of +-1e308 (and their infinite and NaN results) are
    // dropped with a word, fitted or at a fixed scale.
    const std::string line = "0\nLINE\n8\n0\n10\n0\n20\n0\n11\n100\n21\n50\n";
    for (const char* far :
         {"-1e308\n20\n0\n11\n1e308\n21\n1e308\n", "1e300\n20\n1e300\n11\n1\n21\n1\n"}) {
        Write("far.dxf", "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n" + std::string(far) + line +
                             "0\nENDSEC\n0\nEOF\n");
        Write("near.dxf", "0\nSECTION\n2\nENTITIES\n" + line + "0\nENDSEC\n0\nEOF\n");
        for (const char* scale : {"", " --scale 1:1"}) {
            const ProcessResult nearRun = Adihost("plot " + Path("near.dxf") + " -o " +
                                                  Path("near.prn") + " --quiet" + scale);
            const ProcessResult farRun =
                Adihost("plot " + Path("far.dxf") + " -o " + Path("far.prn") + " --quiet" + scale);
            ASSERT_EQ(farRun.status, 0) << farRun.err;
            EXPECT_NE(farRun.err.find("skipped: 1 entity with coordinates beyond 1e12"),
                      std::string::npos)
                << farRun.err;
            EXPECT_EQ(Read(Path("far.prn")), Read(Path("near.prn"))) << far << scale;
        }
    }
    for (const char* bad : {"--scale 1:nan", "--scale 1:1e-300", "--scale 1:1 --origin inf,0",
                            "--scale 1:1 --origin 1e308,0"}) {
        const ProcessResult run =
            Adihost("plot " + Path("array.dxf") + " -o " + Path("bad.prn") + " " + bad);
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_FALSE(fs::exists(Path("bad.prn")));
    }
}

// An RTL job of one page, 10000 units square, with `body` in HP-GL/2.
std::string RtlJob(const std::string& body) {
    return "\x1b%-12345X@PJL\r\n@PJL ENTER LANGUAGE=HPGL2\r\n\x1b%0B;IN;PS10000,10000;" + body +
           "PG;\x1b%-12345X\r\n";
}

// A raster band of `width` x `rows` white pixels at the pen position
// (x, y): one coded bit a row.
std::string RtlBand(long x, long y, std::uint32_t width, long rows, const std::string& coded) {
    const std::string w{static_cast<char>(width >> 24), static_cast<char>(width >> 16),
                        static_cast<char>(width >> 8), static_cast<char>(width)};
    return "PU" + std::to_string(x) + "," + std::to_string(y) + ";\x1b%1A\x1b*t600R\x1b*r" +
           std::to_string(width) + "S\x1b*r" + std::to_string(rows) + "T\x1b*b8M\x1b*b" +
           std::to_string(4 + coded.size()) + "W" + w + coded + "\x1b%0B;";
}

TEST_F(AdihostTest, RenderClipsToTheSheetWhateverTheStreamSays) {
    // Bands beyond the sheet, and wider than a cairo surface can be.
    const std::pair<const char*, std::string> drawn[] = {
        {"beyond", RtlJob(RtlBand(50000, 50000, 40000, 8, "\xff"))},
        {"wide", RtlJob(RtlBand(5000, 5000, 100000, 8, "\xff"))},
        {"below", RtlJob(RtlBand(-90000, -90000, 64, 16, "\xff\xff"))},
        {"dashes", RtlJob("LT2,0.001;PW5;SP1;" +
                          [] {
                              std::string lines;
                              for (int i = 0; i < 200; ++i)
                                  lines += "PU0," + std::to_string(i * 50) + ";PD1e15," +
                                           std::to_string(i) + ";";
                              return lines;
                          }())},
        {"widths", RtlJob("PW1e300;SP1;PU0,0;PD1e300,-1e300;PD1e999,5;")},
        // Found by fuzzing: selections beyond int reached an integer cast.
        {"selections", RtlJob("LT1e15,3;SP-nan;PC1e99,1,2,3;PM1e300;PM2;PU0,0;PD100,100;")}};
    for (const auto& [name, stream] : drawn) {
        Write("s.prn", stream);
        const ProcessResult run =
            Adihost("render " + Path("s.prn") + " -o " + Path("s.png") + " --dpi 40");
        EXPECT_EQ(run.status, 0) << name << ": " << run.err;
        int width = 0, height = 0;
        std::vector<std::uint8_t> rgb;
        EXPECT_TRUE(ReadPng(Path("s.png"), &width, &height, &rgb)) << name;
        fs::remove(Path("s.png"));
    }
    // Bands the stream cannot hold, or placed before the sheet exists.
    const std::pair<std::string, const char*> refused[] = {
        {RtlJob(RtlBand(5000, 5000, 64, 8000000, std::string(1000, '\xff'))),
         "more rows than its data can code"},
        {RtlJob(RtlBand(5000, 5000, 1u << 30, 8, "\xff")), "raster band of"},
        {"\x1b%-12345X@PJL\r\n\x1b%0B;IN;" + RtlBand(0, 0, 64, 8, "\xff") + "PG;",
         "raster before the page size"},
        // Found by fuzzing: a lone sign was read as a number forever, and a
        // page size beyond int reached an integer cast.
        {RtlJob("PU-;PD1,1;"), "a sign or point without a number"},
        {"\x1b%-12345X@PJL\r\n\x1b%0B;IN;PS1e150,10;PG;", "too large to preview"}};
    for (const auto& [stream, why] : refused) {
        Write("r.prn", stream);
        const ProcessResult run = Adihost("render " + Path("r.prn") + " -o " + Path("r.png"));
        EXPECT_EQ(run.status, 1) << why;
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Path("r.png")));
    }
    // plot says when an image is cut at the sheet's edge and sends only what
    // lands on it: the same stream as the visible part placed by itself.
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

}  // namespace
}  // namespace varnu::testing
