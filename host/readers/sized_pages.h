// A document whose pages have their own size (PDF, HP-GL/2 plot files):
// each page planned at that size, else fitted to the sheet where the
// scaling is auto, then drawn as planned.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/document.h"

namespace varnu::host {

// `Reader` opens a file and plans (`Check`) and draws (`PagePlot`) its
// pages with `ReaderOptions` (rotateAuto, progress, scale, fit); its
// `PageInches` is a page's size, when it has one.
template <class Reader, class ReaderOptions>
class SizedPages : public Document {
  public:
    explicit SizedPages(const DocumentOptions& options) : options_(options) {}
    bool Open(const std::string& path, std::string* error) {
        if (!reader_.Open(path, error)) return false;
        planned_.resize(static_cast<std::size_t>(reader_.pages()));
        return true;
    }
    int pages() const override { return reader_.pages(); }
    bool Plan(int index, const Sheet& sheet, int dpi, std::string* error) override {
        ReaderOptions planned;
        planned.rotateAuto = options_.mayTurn;
        planned.progress = options_.progress;
        planned.scale = options_.scale;
        planned.fit = options_.scaling == Scaling::Fit;
        bool fits = reader_.Check(index, index, sheet, dpi, planned, error);
        if (!fits && options_.scaling == Scaling::Auto) {
            planned.fit = true;
            error->clear();
            fits = reader_.Check(index, index, sheet, dpi, planned, error);
        }
        planned_[static_cast<std::size_t>(index)] = planned;
        return fits;
    }
    bool Draw(int index, const Sheet& sheet, int dpi, Plot* plot, std::string* error) override {
        return reader_.PagePlot(index, sheet, dpi, planned_[static_cast<std::size_t>(index)], plot,
                                error);
    }
    std::optional<Area> PageSize(int index) const override {
        const std::optional<Area> size = Inches(reader_.PageInches(index));
        if (!size) return std::nullopt;
        return Area{size->width * options_.scale, size->height * options_.scale};
    }

  protected:
    const Reader& reader() const { return reader_; }

  private:
    static std::optional<Area> Inches(const std::optional<Area>& size) { return size; }
    static std::optional<Area> Inches(const Area& size) {
        if (!(size.width > 0 && size.height > 0)) return std::nullopt;
        return size;
    }

    DocumentOptions options_;
    Reader reader_;
    std::vector<ReaderOptions> planned_;
};

}  // namespace varnu::host
