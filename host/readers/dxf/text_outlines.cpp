#include "readers/dxf/text_outlines.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
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

}  // namespace

TextShape TextOutlines(const std::string& text, double height, bool outlines,
                       const std::string& font) {
    TextShape shape;
    if (text.empty() || !(height > 0)) return shape;
    cairo_surface_t* surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, nullptr);
    cairo_t* cr = cairo_create(surface);
    if (cairo_font_face_t* face = FontFace(font))
        cairo_set_font_face(cr, face);
    else
        cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    // Cap height near the text height: size the em at 1.4 times it.
    const double em = 100.0;
    cairo_set_font_size(cr, em);
    const double k = height * 1.4 / em;
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    cairo_font_extents_t metrics;
    cairo_font_extents(cr, &metrics);
    shape.advance = extents.x_advance * k;
    shape.descent = metrics.descent * k;
    if (!outlines) {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return shape;
    }
    cairo_move_to(cr, 0, 0);
    cairo_text_path(cr, text.c_str());
    cairo_set_tolerance(cr, 0.5);
    cairo_path_t* path = cairo_copy_path_flat(cr);
    std::vector<Ring>& rings = shape.rings;
    for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
        const cairo_path_data_t& h = path->data[i];
        if (h.header.type == CAIRO_PATH_MOVE_TO) rings.emplace_back();
        if ((h.header.type == CAIRO_PATH_MOVE_TO || h.header.type == CAIRO_PATH_LINE_TO) &&
            !rings.empty())
            rings.back().push_back({path->data[i + 1].point.x * k, -path->data[i + 1].point.y * k});
    }
    cairo_path_destroy(path);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    std::erase_if(rings, [](const Ring& r) { return r.size() < 3; });
    return shape;
}

}  // namespace varnu::host::dxf
