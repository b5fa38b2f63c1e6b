// rastertovarnu against cups-filters' rastertopclx (an HP DesignJet, the
// wide-format PCL driver) on the same CUPS raster: an E-size drawing
// (36 x 48 inches, 8-bit grey, 600 dpi, drawn with cairo band by band),
// one page and three. Prints each filter's time to the last byte, the time
// until its first byte reaches standard output, its peak memory and the
// ratio of the times.
//
//   varnu_cups_bench [scratch directory]
#include <cairo.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sheet_drawing.h"

namespace {

constexpr int kDpi = 600;
constexpr double kWidthInches = 36, kLengthInches = 48;

// The drawing in points of a portrait E-Arch page, as a CAD program plots
// it: the benchmarks' sheet of parts (circles and arcs) and grey areas.
void DrawDrawing(cairo_t* cr) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    bench_drawing::DrawSheet(cr, kWidthInches * 72, kLengthInches * 72,
                             bench_drawing::Content{4000, 300, 0, 0});
}

// `pages` copies of the drawing as a compressed CUPS raster stream (as
// CUPS's own raster filters write it); the header as a
// PPD would set it for this page size and resolution.
void WriteRaster(const std::string& path, int pages) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = kDpi;
    h.PageSize[0] = static_cast<unsigned>(kWidthInches * 72);
    h.PageSize[1] = static_cast<unsigned>(kLengthInches * 72);
    h.cupsPageSize[0] = static_cast<float>(h.PageSize[0]);
    h.cupsPageSize[1] = static_cast<float>(h.PageSize[1]);
    h.ImagingBoundingBox[2] = h.PageSize[0], h.ImagingBoundingBox[3] = h.PageSize[1];
    h.cupsWidth = static_cast<unsigned>(kWidthInches * kDpi);
    h.cupsHeight = static_cast<unsigned>(kLengthInches * kDpi);
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = h.cupsWidth;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_W;
    h.NumCopies = 1;
    constexpr int kBand = 512;
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    for (int page = 0; page < pages; ++page) {
        cupsRasterWriteHeader2(raster, &h);
        for (unsigned top = 0; top < h.cupsHeight; top += kBand) {
            const int rows = static_cast<int>(std::min<unsigned>(kBand, h.cupsHeight - top));
            cairo_surface_t* s =
                cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(h.cupsWidth), rows);
            cairo_t* cr = cairo_create(s);
            cairo_scale(cr, kDpi / 72.0, kDpi / 72.0);
            cairo_translate(cr, 0, -(top * 72.0 / kDpi));
            DrawDrawing(cr);
            cairo_destroy(cr);
            cairo_surface_flush(s);
            const unsigned char* data = cairo_image_surface_get_data(s);
            const int rgbStride = cairo_image_surface_get_stride(s);
            for (int r = 0; r < rows; ++r) {
                const auto* px = reinterpret_cast<const std::uint32_t*>(data + r * rgbStride);
                for (unsigned x = 0; x < h.cupsWidth; ++x)
                    line[x] = static_cast<unsigned char>(px[x] >> 8);  // green
                cupsRasterWritePixels(raster, line.data(), h.cupsBytesPerLine);
            }
            cairo_surface_destroy(s);
        }
    }
    cupsRasterClose(raster);
    close(fd);
}

// A wide-format HP PCL queue's PPD, as cups-filters' driver file makes it
// for the DesignJet 600 (monochrome, HP-GL/2 with PJL): what rastertopclx
// reads of it.
void WritePclPpd(const std::string& path) {
    std::ofstream(path) << R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "dsgnjt600pcl.ppd"
*Product: "(DesignJet 600 pcl)"
*Manufacturer: "HP"
*ModelName: "HP DesignJet 600 pcl"
*ShortNickName: "HP DesignJet 600 pcl"
*NickName: "HP DesignJet 600 pcl, 1.0"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*cupsVersion: 2.4
*cupsModelNumber: 1376257
*cupsManualCopies: False
*cupsFilter: "application/vnd.cups-raster 50 rastertopclx"
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: ARCHE
*PageSize ARCHE/ARCH E: "<</PageSize[2592 3456]/ImagingBBox null>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: ARCHE
*PageRegion ARCHE/ARCH E: "<</PageSize[2592 3456]/ImagingBBox null>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: ARCHE
*ImageableArea ARCHE/ARCH E: "14.4 28.8 2577.6 3427.2"
*DefaultPaperDimension: ARCHE
*PaperDimension ARCHE/ARCH E: "2592 3456"
*HWMargins: 14.4 28.8 14.4 28.8
*OpenUI *Resolution/Output Resolution: PickOne
*OrderDependency: 20 AnySetup *Resolution
*DefaultResolution: 600dpi
*Resolution 600dpi/600 DPI: "<</HWResolution[600 600]>>setpagedevice"
*CloseUI: *Resolution
*DefaultFont: Courier
*Font Courier: Standard "(001.004S)" Standard ROM
)PPD";
}

struct Run {
    double seconds = 0, firstByte = -1, cpu = 0;
    double peakMb = 0;
    std::uint64_t bytes = 0;
    int status = -1;
};

// Runs the filter with the raster on standard input and its output read
// here; when its first byte came, when it ended, its peak resident memory.
Run Timed(const std::vector<std::string>& argv, const std::string& input, const std::string& env) {
    int out[2];
    if (pipe(out) != 0) return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(input.c_str(), O_RDONLY), 0);
        dup2(out[1], 1);
        dup2(open("/dev/null", O_WRONLY), 2);
        close(out[0]);
        if (!env.empty()) putenv(const_cast<char*>(env.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    Run run;
    std::vector<char> piece(1 << 16);
    for (ssize_t n; (n = read(out[0], piece.data(), piece.size())) > 0;) {
        if (run.firstByte < 0)
            run.firstByte =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.bytes += static_cast<std::uint64_t>(n);
    }
    close(out[0]);
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMb = usage.ru_maxrss / 1024.0;
    auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    run.cpu = secs(usage.ru_utime) + secs(usage.ru_stime);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

void Print(const char* name, const Run& r) {
    std::printf(
        "  %-14s %6.2f s (CPU %6.2f s), first byte at %6.2f s, peak %5.0f MB, %10ju bytes%s\n",
        name, r.seconds, r.cpu, r.firstByte, r.peakMb, static_cast<std::uintmax_t>(r.bytes),
        r.status == 0 ? "" : "  (FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path dir =
        argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "varnu-cups-bench";
    fs::create_directories(dir / "tmp");
    const std::string ppd = (dir / "designjet.ppd").string();
    WritePclPpd(ppd);
    const std::string tmp = "TMPDIR=" + (dir / "tmp").string();
    const std::string pclx = "/usr/lib/cups/filter/rastertopclx";
    int failed = 0;
    for (const int pages : {1, 3}) {
        const std::string raster = (dir / ("esize-" + std::to_string(pages) + ".ras")).string();
        if (!fs::exists(raster)) WriteRaster(raster, pages);
        std::printf("E-size 600 dpi grey raster, %d page(s), %ju bytes:\n", pages,
                    static_cast<std::uintmax_t>(fs::file_size(raster)));
        const Run varnu = Timed({RASTERTOVARNU_PATH, "1", "user", "bench", "1", ""}, raster, tmp);
        Print("rastertovarnu", varnu);
        failed += varnu.status != 0;
        if (!fs::exists(pclx)) {
            std::printf("  (no %s: cups-filters is not installed)\n", pclx.c_str());
            continue;
        }
        const Run pcl = Timed({pclx, "1", "user", "bench", "1", ""}, raster, "PPD=" + ppd);
        Print("rastertopclx", pcl);
        failed += pcl.status != 0;
        std::printf("  rastertovarnu / rastertopclx: %.2f (time), %.2f (CPU)\n",
                    varnu.seconds / pcl.seconds, varnu.cpu / pcl.cpu);
    }
    return failed == 0 ? 0 : 1;
}
