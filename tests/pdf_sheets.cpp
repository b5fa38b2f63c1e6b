#include "pdf_sheets.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace varnu::testing {

void WriteDrawingPdf(const std::string& path, double widthMm, double heightMm, int pages) {
    const double mm = 72 / 25.4;
    const double w = widthMm * mm, h = heightMm * mm;
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), w, h);
    cairo_t* cr = cairo_create(surface);
    for (int page = 1; page <= pages; ++page) {
        const double u = std::min(w, h) / 100;  // a hundredth of the shorter side
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_set_line_width(cr, u);
        cairo_rectangle(cr, 3 * u, 3 * u, w - 6 * u, h - 6 * u);
        cairo_stroke(cr);
        cairo_rectangle(cr, page % 2 == 1 ? 8 * u : w - 38 * u, 8 * u, 30 * u, 20 * u);
        cairo_fill(cr);
        cairo_arc(cr, w / 2, h / 2, (10 + 8 * page) * u, 0, 2 * M_PI);
        cairo_stroke(cr);
        cairo_set_line_width(cr, 2 * u);
        cairo_move_to(cr, 6 * u, h - 6 * u);
        cairo_line_to(cr, w - 6 * u, h / 2);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
        cairo_move_to(cr, 10 * u, h - 10 * u);
        cairo_line_to(cr, 40 * u, h - 10 * u);
        cairo_line_to(cr, 10 * u, h - 40 * u);
        cairo_close_path(cr);
        cairo_fill(cr);
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

std::vector<std::string> SplitJobs(const std::string& stream) {
    const std::string opening = "\x1b%-12345X@PJL";
    std::vector<std::string> jobs;
    std::size_t at = stream.find(opening);
    while (at != std::string::npos) {
        const std::size_t next = stream.find(opening, at + 1);
        jobs.push_back(stream.substr(at, next == std::string::npos ? next : next - at));
        at = next;
    }
    return jobs;
}

bool ReadPngGrey(const std::string& path, Picture* picture) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_GRAY;
    picture->grey.resize(PNG_IMAGE_SIZE(png));
    picture->width = static_cast<int>(png.width);
    picture->height = static_cast<int>(png.height);
    return png_image_finish_read(&png, nullptr, picture->grey.data(), 0, nullptr) != 0;
}

Picture PopplerPage(const std::string& pdf, int page, int rotation, double dpi) {
    const std::string base = pdf + ".page" + std::to_string(page);
    const std::string command = "pdftoppm -png -singlefile -r " + std::to_string(dpi) + " -f " +
                                std::to_string(page) + " -l " + std::to_string(page) + " " + pdf +
                                " " + base;
    Picture picture;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_TRUE(ReadPngGrey(base + ".png", &picture)) << base;
    if (rotation != 90) return picture;
    Picture turned;
    turned.width = picture.height, turned.height = picture.width;
    turned.grey.resize(picture.grey.size());
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            turned.grey[static_cast<std::size_t>(x) * turned.width + (picture.height - 1 - y)] =
                picture.grey[static_cast<std::size_t>(y) * picture.width + x];
    return turned;
}

Match BestMatch(const Picture& sheet, const Picture& reference) {
    Match best;
    const int cx = (sheet.width - reference.width) / 2, cy = (sheet.height - reference.height) / 2;
    const int bw = reference.width / kBlock, bh = reference.height / kBlock;
    if (bw == 0 || bh == 0) return best;
    for (int dy = -3; dy <= 3; ++dy)
        for (int dx = -3; dx <= 3; ++dx) {
            const int ox = cx + dx, oy = cy + dy;
            if (ox < 0 || oy < 0 || ox + bw * kBlock > sheet.width ||
                oy + bh * kBlock > sheet.height)
                continue;
            double sum = 0, worst = 0;
            for (int by = 0; by < bh; ++by)
                for (int bx = 0; bx < bw; ++bx) {
                    double a = 0, b = 0;
                    for (int y = by * kBlock; y < (by + 1) * kBlock; ++y)
                        for (int x = bx * kBlock; x < (bx + 1) * kBlock; ++x) {
                            a += reference.grey[static_cast<std::size_t>(y) * reference.width + x];
                            b +=
                                sheet.grey[static_cast<std::size_t>(y + oy) * sheet.width + x + ox];
                        }
                    const double d = std::fabs(a - b) / (kBlock * kBlock);
                    sum += d;
                    worst = std::max(worst, d);
                }
            const double mean = sum / (static_cast<double>(bw) * bh);
            if (mean < best.meanDifference) best = {mean, worst, ox, oy};
        }
    return best;
}

void SheetTest::SetUp() {
    dir_ = fs::temp_directory_path() /
           ("sheet-test-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
}

void SheetTest::TearDown() {
    fs::remove_all(dir_);
}

ProcessResult SheetTest::Run(const std::string& command) {
    const std::string err = Path("stderr.txt");
    const int raw = std::system((command + " 2> " + err).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read(err)};
}

ProcessResult SheetTest::Adihost(const std::string& arguments) {
    return Run(std::string(ADIHOST_PATH) + " --config " + Path("varnu.cfg") + " " + arguments +
               " > " + Path("stdout.txt"));
}

Picture SheetTest::RenderJob(const std::string& job, const std::string& name) {
    Write(name + ".prn", job);
    const ProcessResult r = Adihost("render " + Path(name + ".prn") + " -o " + Path(name + ".png") +
                                    " --dpi " + std::to_string(kPreviewDpi));
    EXPECT_EQ(r.status, 0) << r.err;
    Picture picture;
    EXPECT_TRUE(ReadPngGrey(Path(name + ".png"), &picture));
    return picture;
}

std::string SheetTest::Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void SheetTest::Write(const std::string& name, const std::string& bytes) {
    std::ofstream(Path(name), std::ios::binary) << bytes;
}

Picture Columns(const Picture& picture, int x, int width) {
    Picture out;
    x = std::clamp(x, 0, picture.width);
    out.width = std::min(width, picture.width - x);
    out.height = picture.height;
    for (int y = 0; y < picture.height; ++y) {
        const auto row = picture.grey.begin() + y * picture.width + x;
        out.grey.insert(out.grey.end(), row, row + out.width);
    }
    return out;
}

std::pair<int, int> SheetOf(const std::string& job) {
    for (std::size_t at = job.find("PS"); at != std::string::npos; at = job.find("PS", at + 1)) {
        int length = 0, width = 0, used = 0;
        if (std::sscanf(job.c_str() + at, "PS%d,%d%n", &length, &width, &used) == 2 && used > 3)
            return {length, width};
    }
    return {0, 0};
}

Picture NestedColumns(const Picture& sheet, double sheetMm, int page, double pageMm, double gapMm) {
    const double perMm = sheet.width / sheetMm;
    const int x = static_cast<int>((page - 1) * (pageMm + gapMm) * perMm) - 4;
    return Columns(sheet, std::max(0, x), static_cast<int>(pageMm * perMm) + 8);
}

}  // namespace varnu::testing
