#include "ink_agreement.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace varnu::host::testing {

GreyPicture ReadGreyPng(const std::string& path) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    GreyPicture p;
    if (png_image_begin_read_from_file(&png, path.c_str()) == 0) return p;
    png.format = PNG_FORMAT_GRAY;
    p.width = static_cast<int>(png.width);
    p.height = static_cast<int>(png.height);
    p.grey.resize(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, p.grey.data(), 0, nullptr) == 0) return {};
    return p;
}

bool WriteGreyPng(const std::string& path, const GreyPicture& p) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(p.width);
    png.height = static_cast<png_uint_32>(p.height);
    png.format = PNG_FORMAT_GRAY;
    return png_image_write_to_file(&png, path.c_str(), 0, p.grey.data(), 0, nullptr) != 0;
}

GreyPicture Reduce(const GreyPicture& p, int k) {
    GreyPicture out;
    out.width = p.width / k;
    out.height = p.height / k;
    out.grey.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            int sum = 0;
            for (int j = 0; j < k; ++j)
                for (int i = 0; i < k; ++i) sum += p.At(x * k + i, y * k + j);
            out.grey[static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width) +
                     static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(sum / (k * k));
        }
    return out;
}

GreyPicture TurnLeft(const GreyPicture& p) {
    GreyPicture out;
    out.width = p.height;
    out.height = p.width;
    out.grey.resize(p.grey.size());
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            out.grey[static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width) +
                     static_cast<std::size_t>(x)] = p.At(p.width - 1 - y, x);
    return out;
}

namespace {

// Counts of ink in every rectangle from the summed-area table of a mask.
struct InkTable {
    int width = 0, height = 0;
    std::vector<int> sums;  // (width + 1) x (height + 1)
    InkTable(const GreyPicture& p, int threshold) : width(p.width), height(p.height) {
        sums.assign(static_cast<std::size_t>(width + 1) * static_cast<std::size_t>(height + 1), 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                Sum(x + 1, y + 1) =
                    Sum(x, y + 1) + Sum(x + 1, y) - Sum(x, y) + (p.At(x, y) < threshold ? 1 : 0);
    }
    int& Sum(int x, int y) {
        return sums[static_cast<std::size_t>(y) * static_cast<std::size_t>(width + 1) +
                    static_cast<std::size_t>(x)];
    }
    int Near(int x, int y, int r) {
        const int x0 = std::max(0, x - r), y0 = std::max(0, y - r);
        const int x1 = std::min(width, x + r + 1), y1 = std::min(height, y + r + 1);
        if (x0 >= x1 || y0 >= y1) return 0;
        return Sum(x1, y1) - Sum(x0, y1) - Sum(x1, y0) + Sum(x0, y0);
    }
};

double Covered(const GreyPicture& from, InkTable& other, int reach, int threshold) {
    long ink = 0, near = 0;
    for (int y = 0; y < from.height; ++y)
        for (int x = 0; x < from.width; ++x) {
            if (from.At(x, y) >= threshold) continue;
            ++ink;
            near += other.Near(x, y, reach) > 0 ? 1 : 0;
        }
    return ink == 0 ? 1.0 : static_cast<double>(near) / static_cast<double>(ink);
}

struct Box {
    int x0, y0, x1, y1;  // inclusive
};

Box InkBox(const GreyPicture& p, int threshold) {
    Box b{p.width, p.height, -1, -1};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.At(x, y) < threshold)
                b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
    return b;
}

// The box of `p` at w x h, each cell its darkest pixel.
GreyPicture Resample(const GreyPicture& p, Box b, int w, int h) {
    GreyPicture out;
    out.width = w, out.height = h;
    out.grey.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 255);
    const double sx = (b.x1 - b.x0 + 1.0) / w, sy = (b.y1 - b.y0 + 1.0) / h;
    for (int y = b.y0; y <= b.y1; ++y)
        for (int x = b.x0; x <= b.x1; ++x) {
            const int u = std::min(w - 1, static_cast<int>((x - b.x0) / sx));
            const int v = std::min(h - 1, static_cast<int>((y - b.y0) / sy));
            std::uint8_t& cell =
                out.grey[static_cast<std::size_t>(v) * static_cast<std::size_t>(w) +
                         static_cast<std::size_t>(u)];
            cell = std::min(cell, p.At(x, y));
        }
    return out;
}

}  // namespace

Agreement InkAgreement(const GreyPicture& reference, const GreyPicture& ours, int reach,
                       int threshold) {
    InkTable ref(reference, threshold), our(ours, threshold);
    return {Covered(ours, ref, reach, threshold), Covered(reference, our, reach, threshold)};
}

Agreement FittedInkAgreement(const GreyPicture& reference, const GreyPicture& ours, int size,
                             int reach, int threshold) {
    const Box a = InkBox(reference, threshold), b = InkBox(ours, threshold);
    if (a.x1 < 0 || b.x1 < 0) return {};
    const int bw = a.x1 - a.x0 + 1, bh = a.y1 - a.y0 + 1;
    const int w = std::max(1, bw >= bh ? size : size * bw / bh);
    const int h = std::max(1, bh >= bw ? size : size * bh / bw);
    return InkAgreement(Resample(reference, a, w, h), Resample(ours, b, w, h), reach, threshold);
}

}  // namespace varnu::host::testing
