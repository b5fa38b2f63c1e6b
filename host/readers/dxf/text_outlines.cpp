#include "readers/dxf/text_outlines.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace varnu::host::dxf {

namespace {

// The font face of a TrueType or OpenType file a STYLE names ("arial.ttf"),
// found by fontconfig among the system's fonts by its file name; null when
// it has none by that name. Faces are made once and kept.
cairo_font_face_t* FontFace(const std::string& file) {
    static std::map<std::string, cairo_font_face_t*> faces;
    static std::map<std::string, FcPattern*> byName;  // lower-case file names
    static bool listed = false;
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), ::tolower);
        return s;
    };
    const std::string wanted = lower(file.substr(file.find_last_of("/\\") + 1));
    if (wanted.size() < 5 || (wanted.compare(wanted.size() - 4, 4, ".ttf") != 0 &&
                              wanted.compare(wanted.size() - 4, 4, ".otf") != 0))
        return nullptr;
    if (!listed) {
        listed = true;
        FcPattern* all = FcPatternCreate();
        FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, nullptr);
        if (FcFontSet* fonts = FcFontList(nullptr, all, objects)) {
            for (int i = 0; i < fonts->nfont; ++i) {
                FcChar8* path = nullptr;
                if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &path) != FcResultMatch)
                    continue;
                const std::string name = reinterpret_cast<const char*>(path);
                FcPatternReference(fonts->fonts[i]);
                byName.emplace(lower(name.substr(name.find_last_of('/') + 1)), fonts->fonts[i]);
            }
            FcFontSetDestroy(fonts);
        }
        FcObjectSetDestroy(objects);
        FcPatternDestroy(all);
    }
    const auto found = byName.find(wanted);
    if (found == byName.end()) return nullptr;
    auto& face = faces[wanted];
    if (!face) face = cairo_ft_font_face_create_for_pattern(found->second);
    return face;
}

// One font at an em of 100 units, and the flattened outline of each of its
// glyphs met so far: text is outlined glyph by glyph from these, as cairo
// outlines it itself, each glyph placed at its origin rounded to cairo's
// 1/256 (its path arithmetic), so that no glyph is flattened twice.
struct Font {
    Font() = default;
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    ~Font() {
        if (cr != nullptr) cairo_destroy(cr);
        if (surface != nullptr) cairo_surface_destroy(surface);
    }
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    std::map<std::pair<int, unsigned long>, std::vector<Ring>> glyphs;  // by coarseness
};

constexpr double kEm = 100.0;

Font& FontOf(const std::string& file) {
    static std::map<std::string, Font> fonts;
    Font& font = fonts[file];
    if (font.cr) return font;
    font.surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, nullptr);
    font.cr = cairo_create(font.surface);
    if (cairo_font_face_t* face = FontFace(file))
        cairo_set_font_face(font.cr, face);
    else
        cairo_select_font_face(font.cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                               CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(font.cr, kEm);
    cairo_set_tolerance(font.cr, 0.5);
    return font;
}

// The glyph's outline with its origin at (0, 0), as cairo flattens it.
const std::vector<Ring>& GlyphOutline(Font* font, unsigned long index, int coarseness) {
    const auto found = font->glyphs.find({coarseness, index});
    if (found != font->glyphs.end()) return found->second;
    std::vector<Ring>& rings = font->glyphs[{coarseness, index}];
    cairo_new_path(font->cr);
    cairo_set_tolerance(font->cr, 0.5 * std::pow(4.0, coarseness));
    const cairo_glyph_t glyph{index, 0, 0};
    cairo_glyph_path(font->cr, &glyph, 1);
    cairo_path_t* path = cairo_copy_path_flat(font->cr);
    for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
        const cairo_path_data_t& h = path->data[i];
        if (h.header.type == CAIRO_PATH_MOVE_TO) rings.emplace_back();
        if ((h.header.type == CAIRO_PATH_MOVE_TO || h.header.type == CAIRO_PATH_LINE_TO) &&
            !rings.empty())
            rings.back().push_back({path->data[i + 1].point.x, path->data[i + 1].point.y});
    }
    cairo_path_destroy(path);
    cairo_new_path(font->cr);
    return rings;
}

}  // namespace

TextShape TextOutlines(const std::string& text, double height, bool outlines,
                       const std::string& font, int coarseness) {
    TextShape shape;
    if (text.empty() || !(height > 0)) return shape;
    Font& f = FontOf(font);
    // Cap height near the text height: size the em at 1.4 times it.
    const double k = height * 1.4 / kEm;
    cairo_text_extents_t extents;
    cairo_text_extents(f.cr, text.c_str(), &extents);
    cairo_font_extents_t metrics;
    cairo_font_extents(f.cr, &metrics);
    shape.advance = extents.x_advance * k;
    shape.descent = metrics.descent * k;
    if (!outlines) return shape;
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(cairo_get_scaled_font(f.cr), 0, 0, text.c_str(),
                                         static_cast<int>(text.size()), &glyphs, &count, nullptr,
                                         nullptr, nullptr) != CAIRO_STATUS_SUCCESS)
        return shape;
    std::vector<Ring>& rings = shape.rings;
    for (int g = 0; g < count; ++g) {
        const double ox = std::nearbyint(glyphs[g].x * 256) / 256;
        const double oy = std::nearbyint(glyphs[g].y * 256) / 256;
        for (const Ring& r :
             GlyphOutline(&f, glyphs[g].index, std::clamp(coarseness, 0, kCoarsest))) {
            if (r.size() < 3) continue;
            Ring& placed = rings.emplace_back();
            placed.reserve(r.size());
            for (const Point2& p : r) placed.push_back({(p.x + ox) * k, -(p.y + oy) * k});
        }
    }
    cairo_glyph_free(glyphs);
    return shape;
}

}  // namespace varnu::host::dxf
