// adihost as a user runs it: the program started as a process on scripts,
// images and configuration changes, its files and exit status checked.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "plot_session.h"
#include "test_host.h"

namespace varnu::testing {
namespace {

namespace fs = std::filesystem;

struct ProcessResult {
    int status;
    std::string err;
};

class AdihostTest : public DriverTest {
  protected:
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
    version.Set<std::int16_t>(4, 14);
    SendDriver(version);
    Packet configure(21);
    SendDriver(configure);
    const double x = configure.Get<double>(8), y = configure.Get<double>(16),
                 resolution = configure.Get<double>(24);
    Packet reset(49);
    reset.Set<std::int16_t>(4, 1).Set<std::uint8_t>(7, 2);
    SendPlot(reset);
    Packet plotMessages(50);
    SendPlot(plotMessages);
    Packet open(29);
    open.Set<std::int16_t>(4, 14);
    SendPlot(open);
    Packet extents(47);
    extents.Set<double>(9, x).Set<double>(17, y);
    SendPlot(extents);
    Packet page(48);
    page.Set<double>(9, x)
        .Set<double>(17, y)
        .Set<double>(41, resolution)
        .Set<double>(49, resolution);
    SendPlot(page);
    Packet start(30);
    SendPlot(start);
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
            p.Set<std::uint16_t>(4, x).Set<std::uint16_t>(6, y);
            SendPlot(p);
        };
        point(3, 100, 200);
        point(4, 150, 200);
        Packet up(8);
        SendPlot(up);
        point(4, 150, 300);
        Packet pen(5);
        pen.Set<std::uint16_t>(4, 3);
        SendPlot(pen);
        Packet width(41);
        width.Set<double>(4, 0.35 / 25.4);
        SendPlot(width);
        Packet polygon(33);
        polygon.Set<std::int16_t>(6, 3).Set<std::int16_t>(10, 3);
        const std::uint16_t v[] = {0, 0, 100, 0, 100, 100};
        for (int i = 0; i < 6; ++i) polygon.Set<std::uint16_t>(12 + 2 * i, v[i]);
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

TEST_F(AdihostTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(Adihost("plot").status, 2);
    EXPECT_EQ(Adihost("configure --resolution 500").status, 2);
    EXPECT_EQ(Adihost("nonsense").status, 2);
    EXPECT_EQ(Adihost("--help").status, 0);
}

void WritePng(const std::string& path) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = 64;
    png.height = 32;
    png.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(64 * 32 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7);
    png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr);
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
    const ProcessResult png =
        Adihost("plot " + Path("photo.png") + " -o " + Path("photo.prn") + " --quiet");
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

}  // namespace
}  // namespace varnu::testing
