#include "readers/images.h"

#include <cctype>
#include <cstring>
#include <utility>

#include "model/image_placement.h"

namespace varnu::host {

namespace {

bool HasSuffix(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

class ImagePage : public Document {
  public:
    ImagePage(Image image, const DocumentOptions& options)
        : image_(std::move(image)), options_(options) {}
    int pages() const override { return 1; }
    bool Plan(int, const Sheet& sheet, int, std::string* error) override {
        if (!PlaceImage(sheet, options_.at, &image_, &placement_, &cut_, error)) return false;
        placement_.transparent = options_.transparent;
        placement_.colour = static_cast<std::int16_t>(options_.colour);
        return true;
    }
    bool Draw(int, const Sheet&, int, Plot* plot, std::string*) override {
        plot->DrawImage(plot->AddImage(std::move(image_)), placement_);
        return true;
    }
    std::vector<std::string> notes() const override {
        if (cut_) return {"the image is cut at the sheet's edge"};
        return {};
    }

  private:
    Image image_;
    DocumentOptions options_;
    Placement placement_{};
    bool cut_ = false;
};

std::unique_ptr<Document> OpenImage(bool (*load)(const std::string&, Image*, std::string*),
                                    const std::string& path, const DocumentOptions& options,
                                    std::string* error) {
    Image image;
    if (!load(path, &image, error)) return nullptr;
    return std::make_unique<ImagePage>(std::move(image), options);
}

}  // namespace

std::unique_ptr<Document> OpenPng(const std::string& path, const DocumentOptions& options,
                                  std::string* error) {
    return OpenImage(LoadPng, path, options, error);
}

std::unique_ptr<Document> OpenJpeg(const std::string& path, const DocumentOptions& options,
                                   std::string* error) {
    return OpenImage(LoadJpeg, path, options, error);
}

std::unique_ptr<Document> OpenTiff(const std::string& path, const DocumentOptions& options,
                                   std::string* error) {
    return OpenImage(LoadTiff, path, options, error);
}

bool LoadImage(const std::string& path, Image* image, std::string* error) {
    if (HasSuffix(path, ".png")) return LoadPng(path, image, error);
    if (HasSuffix(path, ".tif") || HasSuffix(path, ".tiff")) return LoadTiff(path, image, error);
    if (HasSuffix(path, ".jpg") || HasSuffix(path, ".jpeg")) return LoadJpeg(path, image, error);
    *error = "unknown image kind (expected .png, .tif, .tiff, .jpg or .jpeg)";
    return false;
}

}  // namespace varnu::host
