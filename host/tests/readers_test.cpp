// The job script and image readers: what each line becomes in the plot, the
// errors that name the line, and images read as the files hold them.
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>  // before jpeglib.h, which needs FILE
#include <cstdlib>
#include <cstring>
#include <vector>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "readers/images.h"
#include "readers/script.h"
#include "support.h"

namespace varnu::host::testing {
namespace {

using Kind = Step::Kind;

class Readers : public HostTest {
  protected:
    bool Script(const std::string& text, Plot* plot, std::string* error) {
        Write("job.adi", text);
        return ReadScript(Path("job.adi"), plot, error);
    }
    std::string Refusal(const std::string& text) {
        Plot plot;
        std::string error;
        EXPECT_FALSE(Script(text, &plot, &error)) << text;
        return error;
    }
};

bool WritePixels(const std::string& path, int width, int height,
                 const std::vector<std::uint8_t>& pixels, std::uint32_t format = PNG_FORMAT_RGB) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = format;
    return png_image_write_to_file(&png, path.c_str(), 0, pixels.data(), 0, nullptr) != 0;
}

std::vector<std::uint8_t> Ramp(int width, int height) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7);
    return rgb;
}

TEST_F(Readers, EveryRequestBecomesItsStep) {
    ASSERT_TRUE(WritePixels(Path("photo.png"), 4, 2, Ramp(4, 2)));
    Plot plot;
    std::string error;
    ASSERT_TRUE(
        Script("# a job\nmove 100 200\ndraw 150 200 # on\npenup\nabort\npen 3\n"
               "linetype 4\nlinetypes -8\nwidth 0.35mm\nwidth 0.02\n"
               "polygon -3 0,0 100,0 100,100\nimage photo.png 1 2 3 4 transparent color=5\n"
               "image photo.png 5 6 7 8\nsummary\ncatalogue\n"
               "request 41 4:f64=0.5 12:str=ab 20:i8=-1\n",
               &plot, &error))
        << error;
    const std::vector<Step>& s = plot.steps();
    ASSERT_EQ(s.size(), 15u);
    const Kind kinds[] = {Kind::Move,    Kind::Draw,      Kind::PenUp,     Kind::Abort,
                          Kind::Pen,     Kind::LineType,  Kind::LineTypes, Kind::Width,
                          Kind::Width,   Kind::Polygon,   Kind::Image,     Kind::Image,
                          Kind::Summary, Kind::Catalogue, Kind::Raw};
    for (std::size_t i = 0; i < 15; ++i) EXPECT_EQ(s[i].kind, kinds[i]) << i;
    EXPECT_EQ(s[0].a, 100);
    EXPECT_EQ(s[0].b, 200);
    EXPECT_EQ(s[1].line, 3);
    EXPECT_EQ(s[6].a, -8);
    EXPECT_EQ(s[7].inches, 0.35 / 25.4);
    EXPECT_EQ(s[8].inches, 0.02);
    EXPECT_EQ(s[9].a, -3);
    EXPECT_EQ(s[9].vertices, (std::vector<Vertex>{{0, 0}, {100, 0}, {100, 100}}));
    EXPECT_EQ(s[10].placement.x1, 3);
    EXPECT_TRUE(s[10].placement.transparent);
    EXPECT_EQ(s[10].placement.colour, 5);
    EXPECT_EQ(s[11].placement.colour, 7);
    EXPECT_EQ(plot.images().size(), 1u);  // an image named again is read once
    EXPECT_EQ(s[10].index, s[11].index);
    ASSERT_EQ(s[14].fields.size(), 3u);
    EXPECT_EQ(s[14].a, 41);
    EXPECT_EQ(s[14].fields[1].type, "str");
    EXPECT_EQ(s[14].fields[1].value, "ab");
    EXPECT_TRUE(plot.DrawsSomething());
    ASSERT_TRUE(Script("move 1 1\npen 3\n", &plot, &error));
    EXPECT_FALSE(plot.DrawsSomething());
}

TEST_F(Readers, ErrorsNameTheLine) {
    const std::string job = Path("job.adi");
    EXPECT_EQ(Refusal("move 1 2\n\n# fine so far\ndraw 5\n"), job + ":4: expected \"draw X Y\"");
    // Found by fuzzing: a raw request without its code.
    EXPECT_EQ(Refusal("request\n"), job + ":1: expected \"request CODE OFFSET:TYPE=VALUE ...\"");
    EXPECT_EQ(Refusal("move 70000 2\n"), job + ":1: expected X from 0 to 65535, found \"70000\"");
    EXPECT_EQ(Refusal("bogus\n"), job + ":1: unknown request \"bogus\"");
    EXPECT_EQ(Refusal("width 1e999\n"), job + ":1: expected a width, found \"1e999\"");
    EXPECT_EQ(Refusal("polygon 3 1;2\n"), job + ":1: expected a vertex X,Y, found \"1;2\"");
    EXPECT_EQ(
        Refusal("image none.png 0 0 1 1\n"),
        job + ":1: " + Path("none.png") + ": not a readable PNG: " + "No such file or directory");
    EXPECT_EQ(Refusal("request 41 4:x32=1\n"),
              job + ":1: unknown type \"x32\" (i8 u8 i16 u16 i32 u32 f64 str)");
    EXPECT_EQ(Refusal("request 41 2196:f64=1\n"), job + ":1: the field ends past the packet");
    EXPECT_EQ(Refusal("request 41 4:f64=abc\n"), job + ":1: expected a number, found \"abc\"");
}

// Raw requests may not set what the driver reads as an address: images and
// polygons go through `image` and `polygon`.
TEST_F(Readers, NoScriptSetsAnAddress) {
    for (const char* line :
         {"request 54 4:i16=3 6:i16=3 8:u32=4096", "request 54 7:u16=1", "request 54 10:str=ab",
          "request 52 4:u32=4096", "request 52 8:u32=4096 16:i32=0", "request 52 2:f64=1e300"}) {
        const std::string error = Refusal(std::string("draw 1 1\n") + line + "\n");
        EXPECT_NE(error.find("job.adi:2: request 5"), std::string::npos) << error;
        EXPECT_NE(error.find("a job script cannot set them"), std::string::npos) << error;
    }
    Plot plot;
    std::string error;
    EXPECT_TRUE(Script("draw 1 1\nrequest 52 16:i32=0 24:i32=100 28:i32=100\n", &plot, &error))
        << error;
}

TEST_F(Readers, PngPixelsAsTheFileHoldsThem) {
    const std::vector<std::uint8_t> rgb = Ramp(64, 32);
    ASSERT_TRUE(WritePixels(Path("photo.png"), 64, 32, rgb));
    Image image;
    std::string error;
    ASSERT_TRUE(LoadImage(Path("photo.png"), &image, &error)) << error;
    EXPECT_EQ(image.width, 64);
    EXPECT_FALSE(image.bilevel);
    EXPECT_EQ(image.pixels, rgb);
    // Alpha composited onto white paper; a one-bit grey PNG is a scan.
    std::vector<std::uint8_t> rgba(8 * 4, 0);
    for (int x = 4; x < 8; ++x) rgba[x * 4 + 3] = 255;
    ASSERT_TRUE(WritePixels(Path("alpha.png"), 8, 1, rgba, PNG_FORMAT_RGBA));
    ASSERT_TRUE(LoadImage(Path("alpha.png"), &image, &error)) << error;
    EXPECT_EQ(image.pixels[0], 255);
    EXPECT_EQ(image.pixels[4 * 3], 0);
    Write("broken.png", "not a png");
    EXPECT_FALSE(LoadImage(Path("broken.png"), &image, &error));
    EXPECT_EQ(error.rfind("not a readable PNG", 0), 0u) << error;
    EXPECT_FALSE(LoadImage(Path("photo.gif"), &image, &error));
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

TEST_F(Readers, TiffStripsTilesAndScans) {
    const std::vector<std::uint8_t> rgb = Ramp(64, 32);
    for (const bool tiled : {false, true}) {
        WriteRgbTiff(Path("photo.tif"), 64, 32, tiled, rgb);
        Image image;
        std::string error;
        ASSERT_TRUE(LoadImage(Path("photo.tif"), &image, &error)) << error;
        EXPECT_EQ(image.pixels, rgb) << (tiled ? "tiles" : "strips");
    }
    // A Group 4 scan: its black pixels are the set ones.
    TIFF* tif = TIFFOpen(Path("scan.tif").c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 16u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2u);
    std::uint8_t rows[4] = {0xF0, 0x00, 0x00, 0x01};
    TIFFWriteEncodedStrip(tif, 0, rows, sizeof rows);
    TIFFClose(tif);
    Image scan;
    std::string error;
    ASSERT_TRUE(LoadImage(Path("scan.tif"), &scan, &error)) << error;
    EXPECT_TRUE(scan.bilevel);
    ASSERT_EQ(scan.pixels.size(), 32u);
    for (int x = 0; x < 16; ++x) EXPECT_EQ(scan.pixels[x], x < 4 ? 1 : 0) << x;
    EXPECT_EQ(scan.pixels[31], 1);
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

// Memory follows what a file holds: under a gigabyte and a half of address
// space (in a child process) every such header is refused by the reader,
// never by a failed allocation.
TEST_F(Readers, ImagesAreBoundedByWhatTheFileHolds) {
    const std::string zlibEmpty("\x78\x9c\x03\x00\x00\x00\x00\x01", 8);
    const std::pair<std::string, std::string> cases[] = {
        {"wide.tif", DeclaringTiff(60000, 60000, 60000, 64)},
        {"vast.tif", DeclaringTiff(1u << 20, 1u << 20, 1u << 20, 64)},
        {"limit.tif", DeclaringTiff(16384, 16384, 16384, 64)},
        {"rows.tif", DeclaringTiff(16384, 16384, 1, 64)},
        {"wide.png", DeclaringPng(60000, 60000, zlibEmpty)},
        {"limit.png", DeclaringPng(16384, 16384, zlibEmpty)},
        {"empty.tif", DeclaringTiff(0, 10, 10, 64)}};
    for (const auto& [name, bytes] : cases) {
        Write(name, bytes);
        const pid_t child = fork();
        if (child == 0) {
#if !defined(__SANITIZE_ADDRESS__)
            const rlimit limit{std::size_t{1500} << 20, std::size_t{1500} << 20};
            setrlimit(RLIMIT_AS, &limit);
#endif
            Image image;
            std::string error;
            try {
                _exit(!LoadImage(Path(name), &image, &error) && !error.empty() ? 0 : 1);
            } catch (...) {
                _exit(2);  // an allocation failed
            }
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name;
    }
}

// A JPEG of 16 x 16 grey pixels, its rows cut off after `keep` bytes of
// data, its header saying `side` x `side`.
std::string Jpeg(unsigned side, std::size_t keep) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &bytes, &size);
    info.image_width = info.image_height = 64;
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) row[x] = static_cast<unsigned char>((x * y) & 0xff);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    std::string jpeg(reinterpret_cast<char*>(bytes), size);
    jpeg_destroy_compress(&info);
    std::free(bytes);
    const std::size_t sof = jpeg.find("\xff\xc0");
    jpeg[sof + 5] = jpeg[sof + 7] = static_cast<char>(side >> 8);
    jpeg[sof + 6] = jpeg[sof + 8] = static_cast<char>(side & 0xff);
    const std::size_t data = jpeg.find("\xff\xda");
    return keep < jpeg.size() - data ? jpeg.substr(0, data + keep) : jpeg;
}

TEST_F(Readers, JpegsHoldWhatTheyDeclareAndEndWhole) {
    const struct {
        const char* name;
        std::string bytes;
        const char* message;
    } cases[] = {{"bomb.jpg", Jpeg(16384, 1 << 20), "more than its"},
                 {"cut.jpg", Jpeg(64, 200), "Premature end"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(c.name, c.bytes);
        Image image;
        std::string error;
        EXPECT_FALSE(LoadJpeg(Path(c.name), &image, &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    Write("whole.jpg", Jpeg(64, 1 << 20));
    Image image;
    std::string error;
    EXPECT_TRUE(LoadJpeg(Path("whole.jpg"), &image, &error)) << error;
    EXPECT_EQ(image.width, 64);
}

}  // namespace
}  // namespace varnu::host::testing
