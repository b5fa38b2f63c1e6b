#include "readers/dxf/text_outlines.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

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
// 1/256 (its path arithmetic), so that no glyph is flattened twice. Its
// outlines and metrics are the font's own, not hinted to the em's units.
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
    double capHeight = 0;  // of its capitals, in em units: what a text height measures
    bool kerning = false;  // whether it kerns pairs of glyphs
    std::map<std::pair<int, unsigned long>, std::vector<Ring>> glyphs;  // by coarseness
};

constexpr double kEm = 100.0;

// The cap height of a font without an H, or none that stands on its baseline.
constexpr double kCapHeight = kEm / 1.4;

// The height of the font's H, as CAD programs take it for the text height.
double CapHeightOf(cairo_t* cr) {
    cairo_text_extents_t h;
    cairo_text_extents(cr, "H", &h);
    const double height = -h.y_bearing;
    return height > kEm * 0.2 && height < kEm * 1.5 && std::isfinite(height) ? height : kCapHeight;
}

// The glyphs moved apart or together by the font's kerning of each pair.
void Kern(const Font& font, cairo_glyph_t* glyphs, int count) {
    if (!font.kerning || count < 2) return;
    cairo_scaled_font_t* scaled = cairo_get_scaled_font(font.cr);
    FT_Face face = cairo_ft_scaled_font_lock_face(scaled);
    if (face == nullptr) return;
    const double unit = kEm / face->units_per_EM;
    double shift = 0;
    for (int g = 1; g < count; ++g) {
        FT_Vector kern{0, 0};
        if (FT_Get_Kerning(face, static_cast<FT_UInt>(glyphs[g - 1].index),
                           static_cast<FT_UInt>(glyphs[g].index), FT_KERNING_UNSCALED, &kern) == 0)
            shift += static_cast<double>(kern.x) * unit;
        glyphs[g].x += shift;
    }
    cairo_ft_scaled_font_unlock_face(scaled);
}

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
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_set_font_options(font.cr, options);
    cairo_font_options_destroy(options);
    font.capHeight = CapHeightOf(font.cr);
    cairo_scaled_font_t* scaled = cairo_get_scaled_font(font.cr);
    if (cairo_scaled_font_get_type(scaled) == CAIRO_FONT_TYPE_FT) {
        if (FT_Face face = cairo_ft_scaled_font_lock_face(scaled)) {
            font.kerning = FT_HAS_KERNING(face) && face->units_per_EM > 0;
            cairo_ft_scaled_font_unlock_face(scaled);
        }
    }
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
    // The cap height stands for the text height.
    const double k = height / f.capHeight;
    cairo_scaled_font_t* scaled = cairo_get_scaled_font(f.cr);
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(scaled, 0, 0, text.c_str(), static_cast<int>(text.size()),
                                         &glyphs, &count, nullptr, nullptr,
                                         nullptr) != CAIRO_STATUS_SUCCESS)
        return shape;
    Kern(f, glyphs, count);
    cairo_text_extents_t extents;
    cairo_scaled_font_glyph_extents(scaled, glyphs, count, &extents);
    cairo_font_extents_t metrics;
    cairo_font_extents(f.cr, &metrics);
    shape.advance = extents.x_advance * k;
    shape.descent = metrics.descent * k;
    if (extents.width > 0) shape.reach = (extents.x_bearing + extents.width) * k;
    std::vector<Ring>& rings = shape.rings;
    for (int g = 0; g < count && outlines; ++g) {
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
