#include "readers/test_page.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "model/clip.h"
#include "readers/dxf/text_outlines.h"
#include "session/configure.h"

namespace varnu::host {

namespace {

constexpr double kMm = 1 / 25.4;

// Draws in inches from the sheet's lower left corner, at the sheet's host
// steps, everything scaled by `scale` (a sheet smaller than the layout).
class Pen {
  public:
    Pen(const Sheet& sheet, double scale, Plot* plot)
        : r_(sheet.resolution), scale_(scale), plot_(plot) {}
    Vertex At(double x, double y) const {
        return {static_cast<std::uint16_t>(std::lround(std::clamp(x * scale_ * r_, 0.0, 65535.0))),
                static_cast<std::uint16_t>(std::lround(std::clamp(y * scale_ * r_, 0.0, 65535.0)))};
    }
    void Line(double x0, double y0, double x1, double y1) {
        const Vertex a = At(x0, y0), b = At(x1, y1);
        plot_->Move(a.first, a.second);
        plot_->Draw(b.first, b.second);
        plot_->PenUp();
    }
    void Box(double x, double y, double w, double h, std::int16_t pen) {
        plot_->Polygon(pen, {At(x, y), At(x + w, y), At(x + w, y + h), At(x, y + h)});
    }
    // Text with its baseline at (x, y), capitals `height` inches tall.
    void Text(const std::string& text, double x, double y, double height) {
        const dxf::TextShape shape = dxf::TextOutlines(text, height * scale_ * r_);
        std::vector<Ring> rings;
        for (const Ring& glyph : shape.rings) {
            Ring ring;
            for (const Point2& q : glyph)
                ring.push_back({q.x + x * scale_ * r_, q.y + y * scale_ * r_});
            rings.push_back(std::move(ring));
        }
        AddArea(plot_, 7, rings);
    }
    Plot* plot() { return plot_; }
    double scale() const { return scale_; }

  private:
    double r_, scale_;
    Plot* plot_;
};

// Centimetre ticks along the bottom and the left edge, every tenth one
// numbered, to check the scale with a rule.
void Rulers(Pen& pen, double w, double h) {
    pen.plot()->Width(0.25 * kMm);
    pen.Line(0.5, 0.5, w - 0.5, 0.5);
    pen.Line(0.5, 0.5, 0.5, h - 0.5);
    for (int cm = 0; 0.5 + cm * 10 * kMm <= w - 0.5; ++cm) {
        const double x = 0.5 + cm * 10 * kMm, tick = (cm % 10 == 0 ? 8 : cm % 5 == 0 ? 5 : 3) * kMm;
        pen.Line(x, 0.5, x, 0.5 + tick);
        if (cm % 10 == 0 && cm > 0) pen.Text(std::to_string(cm * 10) + " mm", x + 0.03, 0.6, 0.08);
    }
    for (int cm = 0; 0.5 + cm * 10 * kMm <= h - 0.5; ++cm) {
        const double y = 0.5 + cm * 10 * kMm, tick = (cm % 10 == 0 ? 8 : cm % 5 == 0 ? 5 : 3) * kMm;
        pen.Line(0.5, y, 0.5 + tick, y);
        if (cm % 10 == 0 && cm > 0) pen.Text(std::to_string(cm * 10) + " mm", 0.6, y + 0.03, 0.08);
    }
}

// Every line type, every width of the list, the greys of the first pens.
void Lines(Pen& pen, double top) {
    pen.plot()->LineTypes(8);
    pen.plot()->Width(0.35 * kMm);
    for (int type = 0; type <= 8; ++type) {
        const double y = top - type * 0.3;
        pen.plot()->LineType(static_cast<std::uint16_t>(type));
        pen.Line(1.0, y, 5.0, y);
        pen.Text("line type " + std::to_string(type), 5.2, y - 0.04, 0.1);
    }
    pen.plot()->LineType(0);
    const double widths[] = {0.1, 0.18, 0.25, 0.35, 0.5, 0.7, 1.0, 2.0};
    for (std::size_t i = 0; i < std::size(widths); ++i) {
        const double y = top - 3.0 - static_cast<double>(i) * 0.3;
        pen.plot()->Width(widths[i] * kMm);
        pen.Line(1.0, y, 5.0, y);
        std::ostringstream label;
        label << widths[i] << " mm";
        pen.Text(label.str(), 5.2, y - 0.04, 0.1);
    }
    pen.plot()->Width(0.35 * kMm);
    for (int p = 1; p <= 8; ++p) {
        const double x = 1.0 + (p - 1) * 0.55;
        pen.Box(x, top - 5.9, 0.45, 0.45, static_cast<std::int16_t>(p));
        pen.Text("pen " + std::to_string(p), x, top - 6.1, 0.08);
    }
}

// A grey wedge at 200, 300, 400 and 600 source pixels an inch.
void Wedges(Pen& pen, double top) {
    const int densities[] = {200, 300, 400, 600};
    for (std::size_t i = 0; i < std::size(densities); ++i) {
        Image wedge;
        wedge.width = 3 * densities[i];
        wedge.height = densities[i] / 4;
        wedge.pixels.resize(static_cast<std::size_t>(wedge.width) * wedge.height * 3);
        for (int y = 0; y < wedge.height; ++y)
            for (int x = 0; x < wedge.width; ++x) {
                const auto g = static_cast<std::uint8_t>(255 * x / (wedge.width - 1));
                for (int c = 0; c < 3; ++c)
                    wedge.pixels[(static_cast<std::size_t>(y) * wedge.width + x) * 3 + c] = g;
            }
        const double y = top - static_cast<double>(i) * 0.5;
        const Vertex a = pen.At(1.0, y - 0.25), b = pen.At(4.0, y);
        pen.plot()->DrawImage(pen.plot()->AddImage(std::move(wedge)),
                              {a.first, a.second, b.first, b.second, false, 7});
        pen.Text(std::to_string(densities[i]) + " pixels an inch", 4.2, y - 0.16, 0.1);
    }
}

class TestPage : public Document {
  public:
    int pages() const override { return 1; }
    bool Plan(int, const Sheet& sheet, int, std::string* error) override {
        summary_ = DriverSummary();
        if (sheet.extentX < 4 || sheet.extentY < 4) {
            *error = "the test page needs a sheet of 4 x 4 inches at least";
            return false;
        }
        return true;
    }
    bool Draw(int, const Sheet& sheet, int, Plot* plot, std::string*) override {
        // Laid out on 11 x 11 inches, smaller on a smaller sheet.
        const double scale = std::min({1.0, sheet.extentX / 11, sheet.extentY / 11});
        const double w = sheet.extentX / scale, h = sheet.extentY / scale;
        Pen pen(sheet, scale, plot);
        plot->Pen(7);
        Rulers(pen, w, h);
        pen.Text("Varnu 4820/4810 test page", 1.0, h - 0.9, 0.25);
        Lines(pen, h - 1.4);
        Wedges(pen, h - 8.0);
        std::istringstream lines(summary_);
        double y = h - 1.4;
        for (std::string line; std::getline(lines, line) && y > 1.0; y -= 0.16)
            if (line.find_first_not_of(' ') != std::string::npos) pen.Text(line, 6.6, y, 0.09);
        return true;
    }

  private:
    std::string summary_;
};

}  // namespace

std::unique_ptr<Document> OpenTestPage() {
    return std::make_unique<TestPage>();
}

}  // namespace varnu::host
