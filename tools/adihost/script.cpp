#include "adihost/script.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "adihost/host.h"
#include "varnu/adi_abi.h"
#include "varnu/packet_layouts.h"

namespace adihost {

namespace layout = varnu::layout;

namespace {

using Kind = ScriptStep::Kind;

// Vertices that fit the packet of request 33 (from +12, 4 bytes each).
constexpr std::size_t kInlineVertices = (Packet::kSize - 12) / 4;

struct LineParser {
    const std::string& path;
    int line;
    std::string* error;

    bool Fail(const std::string& what) {
        *error = path + ":" + std::to_string(line) + ": " + what;
        return false;
    }
    bool Integer(const std::string& word, long long low, long long high, const char* what,
                 long long* out) {
        errno = 0;
        char* end = nullptr;
        const long long v = std::strtoll(word.c_str(), &end, 10);
        if (word.empty() || *end != '\0' || errno != 0 || v < low || v > high)
            return Fail(std::string("expected ") + what + " from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", found \"" + word + "\"");
        *out = v;
        return true;
    }
    bool Number(const std::string& word, const char* what, double* out) {
        char* end = nullptr;
        const double v = std::strtod(word.c_str(), &end);
        if (word.empty() || *end != '\0' || !std::isfinite(v))
            return Fail(std::string("expected ") + what + ", found \"" + word + "\"");
        *out = v;
        return true;
    }
};

// Fields the driver reads as addresses (routines to call, vertices to read):
// a data file may not choose them; `image` and `polygon` fill them in.
struct AddressField {
    std::int32_t code;
    std::size_t offset;
    const char* use;
};
constexpr AddressField kAddressFields[] = {{52, 4, "the row fetch routine (use \"image\")"},
                                           {52, 8, "the row release routine (use \"image\")"},
                                           {54, 8, "the vertex array (use \"polygon\")"}};

const AddressField* SetsAnAddress(std::int32_t code, std::size_t offset, std::size_t size) {
    for (const AddressField& a : kAddressFields)
        if (a.code == code && offset < a.offset + 4 && a.offset < offset + size) return &a;
    return nullptr;
}

bool ValidType(const std::string& type) {
    for (const char* t : {"i8", "u8", "i16", "u16", "i32", "u32", "f64", "str"})
        if (type == t) return true;
    return false;
}

std::size_t TypeSize(const std::string& type, const std::string& value) {
    if (type == "i8" || type == "u8") return 1;
    if (type == "i16" || type == "u16") return 2;
    if (type == "i32" || type == "u32") return 4;
    if (type == "f64") return 8;
    return value.size() + 1;  // str: the text and its NUL
}

}  // namespace

bool ParseScriptText(const std::string& text, const std::string& path, Script* script,
                     std::string* error) {
    script->path = path;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    std::map<std::string, std::size_t> loaded;  // image file -> index into script->images
    while (std::getline(in, raw)) {
        ++number;
        if (const std::size_t hash = raw.find('#'); hash != std::string::npos) raw.resize(hash);
        std::istringstream words(raw);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) continue;
        LineParser p{path, number, error};
        ScriptStep step{};
        step.line = number;
        const std::string& op = w[0];
        long long v1 = 0, v2 = 0;
        auto expectArgs = [&](std::size_t n, const char* usage) {
            return w.size() == n + 1 || p.Fail(std::string("expected \"") + usage + "\"");
        };
        if (op == "move" || op == "draw") {
            if (!expectArgs(2, (op + " X Y").c_str())) return false;
            if (!p.Integer(w[1], 0, 65535, "X", &v1) || !p.Integer(w[2], 0, 65535, "Y", &v2))
                return false;
            step.kind = op == "move" ? Kind::Move : Kind::Draw;
            step.a = static_cast<std::int32_t>(v1);
            step.b = static_cast<std::int32_t>(v2);
        } else if (op == "penup" || op == "abort" || op == "summary" || op == "catalogue") {
            if (!expectArgs(0, op.c_str())) return false;
            step.kind = op == "penup"     ? Kind::PenUp
                        : op == "abort"   ? Kind::Abort
                        : op == "summary" ? Kind::Summary
                                          : Kind::Catalogue;
        } else if (op == "pen" || op == "linetype") {
            if (!expectArgs(1, (op + " N").c_str()) || !p.Integer(w[1], 0, 65535, "a number", &v1))
                return false;
            step.kind = op == "pen" ? Kind::Pen : Kind::LineType;
            step.a = static_cast<std::int32_t>(v1);
        } else if (op == "linetypes") {
            if (!expectArgs(1, "linetypes N") || !p.Integer(w[1], -32768, 32767, "a count", &v1))
                return false;
            step.kind = Kind::LineTypes;
            step.a = static_cast<std::int32_t>(v1);
        } else if (op == "width") {
            if (!expectArgs(1, "width INCHES or width MMmm")) return false;
            std::string value = w[1];
            const bool mm = value.size() > 2 && value.compare(value.size() - 2, 2, "mm") == 0;
            if (mm) value.resize(value.size() - 2);
            if (!p.Number(value, "a width", &step.inches)) return false;
            if (mm) step.inches /= 25.4;
            step.kind = Kind::Width;
        } else if (op == "polygon") {
            if (w.size() < 2) return p.Fail("expected \"polygon PEN X,Y X,Y ...\"");
            if (!p.Integer(w[1], -32768, 32767, "a pen", &v1)) return false;
            step.kind = Kind::Polygon;
            step.a = static_cast<std::int32_t>(v1);
            if (w.size() - 2 > 32767) return p.Fail("a polygon has at most 32767 vertices");
            for (std::size_t i = 2; i < w.size(); ++i) {
                const std::size_t comma = w[i].find(',');
                if (comma == std::string::npos)
                    return p.Fail("expected a vertex X,Y, found \"" + w[i] + "\"");
                if (!p.Integer(w[i].substr(0, comma), 0, 65535, "X", &v1) ||
                    !p.Integer(w[i].substr(comma + 1), 0, 65535, "Y", &v2))
                    return false;
                step.vertices.emplace_back(static_cast<std::uint16_t>(v1),
                                           static_cast<std::uint16_t>(v2));
            }
        } else if (op == "image") {
            if (w.size() < 6)
                return p.Fail("expected \"image FILE X0 Y0 X1 Y1 [transparent] [color=N]\"");
            long long c[4];
            for (int k = 0; k < 4; ++k)
                if (!p.Integer(w[2 + k], -2147483647LL, 2147483647LL, "a corner", &c[k]))
                    return false;
            step.kind = Kind::Image;
            step.placement = {static_cast<std::int32_t>(c[0]),
                              static_cast<std::int32_t>(c[1]),
                              static_cast<std::int32_t>(c[2]),
                              static_cast<std::int32_t>(c[3]),
                              false,
                              7};
            for (std::size_t i = 6; i < w.size(); ++i) {
                if (w[i] == "transparent") {
                    step.placement.transparent = true;
                } else if (w[i].rfind("color=", 0) == 0) {
                    if (!p.Integer(w[i].substr(6), 0, 7, "a colour index", &v1)) return false;
                    step.placement.colour = static_cast<std::int16_t>(v1);
                } else {
                    return p.Fail("expected \"transparent\" or \"color=N\", found \"" + w[i] +
                                  "\"");
                }
            }
            std::filesystem::path file(w[1]);
            if (file.is_relative()) file = std::filesystem::path(path).parent_path() / file;
            // An image named again is read once: memory follows the distinct images.
            if (const auto known = loaded.find(file.string()); known != loaded.end()) {
                step.image = known->second;
            } else {
                Image image;
                std::string why;
                if (!LoadImage(file.string(), &image, &why))
                    return p.Fail(file.string() + ": " + why);
                step.image = script->images.size();
                loaded.emplace(file.string(), step.image);
                script->images.push_back(std::move(image));
            }
        } else if (op == "request") {
            if (w.size() < 2) return p.Fail("expected \"request CODE OFFSET:TYPE=VALUE ...\"");
            if (!p.Integer(w[1], -32768, 32767, "a request code", &v1)) return false;
            step.kind = Kind::Raw;
            step.a = static_cast<std::int32_t>(v1);
            for (std::size_t i = 2; i < w.size(); ++i) {
                const std::size_t colon = w[i].find(':'), equals = w[i].find('=');
                if (colon == std::string::npos || equals == std::string::npos || equals < colon)
                    return p.Fail("expected OFFSET:TYPE=VALUE, found \"" + w[i] + "\"");
                RawField f{0, w[i].substr(colon + 1, equals - colon - 1), w[i].substr(equals + 1)};
                if (!ValidType(f.type))
                    return p.Fail("unknown type \"" + f.type +
                                  "\" (i8 u8 i16 u16 i32 u32 f64 str)");
                long long offset = 0;
                if (!p.Integer(w[i].substr(0, colon), 2, static_cast<long long>(Packet::kSize) - 1,
                               "an offset", &offset))
                    return false;
                f.offset = static_cast<std::size_t>(offset);
                if (f.offset + TypeSize(f.type, f.value) > Packet::kSize)
                    return p.Fail("the field ends past the packet");
                if (const AddressField* a =
                        SetsAnAddress(step.a, f.offset, TypeSize(f.type, f.value)))
                    return p.Fail("request " + std::to_string(a->code) + " bytes " +
                                  std::to_string(a->offset) + ".." + std::to_string(a->offset + 3) +
                                  " hold " + a->use + "; a job script cannot set them");
                if (f.type != "str") {
                    double check = 0;
                    if (!p.Number(f.value, "a number", &check)) return false;
                }
                step.fields.push_back(f);
            }
        } else {
            return p.Fail("unknown request \"" + op + "\"");
        }
        script->steps.push_back(std::move(step));
    }
    return true;
}

bool ParseScript(const std::string& path, Script* script, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    return ParseScriptText(text.str(), path, script, error);
}

namespace {

void SetField(Packet& p, const RawField& f) {
    if (f.type == "str") {
        std::memcpy(p.data() + f.offset, f.value.c_str(), f.value.size() + 1);
        return;
    }
    const double v = std::strtod(f.value.c_str(), nullptr);
    if (f.type == "i8") p.Set<std::int8_t>(f.offset, static_cast<std::int8_t>(v));
    if (f.type == "u8") p.Set<std::uint8_t>(f.offset, static_cast<std::uint8_t>(v));
    if (f.type == "i16") p.Set<std::int16_t>(f.offset, static_cast<std::int16_t>(v));
    if (f.type == "u16") p.Set<std::uint16_t>(f.offset, static_cast<std::uint16_t>(v));
    if (f.type == "i32") p.Set<std::int32_t>(f.offset, static_cast<std::int32_t>(v));
    if (f.type == "u32") p.Set<std::uint32_t>(f.offset, static_cast<std::uint32_t>(v));
    if (f.type == "f64") p.Set<double>(f.offset, v);
}

}  // namespace

bool DrawsSomething(const Script& script) {
    for (const ScriptStep& s : script.steps)
        if (s.kind == Kind::Draw || s.kind == Kind::Polygon || s.kind == Kind::Image ||
            s.kind == Kind::Raw)
            return true;
    return false;
}

bool RunScript(const Script& script, bool progress, std::string* error) {
    for (const ScriptStep& s : script.steps) {
        std::int16_t result = 0;
        switch (s.kind) {
            case Kind::Move:
            case Kind::Draw: {
                Packet p(s.kind == Kind::Move ? 3 : 4);
                p.Set<std::uint16_t>(layout::point::kX, static_cast<std::uint16_t>(s.a))
                    .Set<std::uint16_t>(layout::point::kY, static_cast<std::uint16_t>(s.b));
                result = SendPlot(p);
                break;
            }
            case Kind::PenUp: {
                Packet p(8);
                result = SendPlot(p);
                break;
            }
            case Kind::Abort: {
                Packet p(9);
                result = SendPlot(p);
                break;
            }
            case Kind::Summary: {
                Packet p(31);
                result = SendPlot(p);
                break;
            }
            case Kind::Catalogue: {
                Packet p(15);
                result = SendPlot(p);
                break;
            }
            case Kind::Pen:
            case Kind::LineType: {
                Packet p(s.kind == Kind::Pen ? 5 : 7);
                p.Set<std::uint16_t>(layout::pen::kPen, static_cast<std::uint16_t>(s.a));
                result = SendPlot(p);
                break;
            }
            case Kind::LineTypes: {
                Packet p(36);
                p.Set<std::int16_t>(layout::pen::kLineTypeCount, static_cast<std::int16_t>(s.a));
                result = SendPlot(p);
                break;
            }
            case Kind::Width: {
                Packet p(41);
                p.Set<double>(layout::pen::kWidth, s.inches);
                result = SendPlot(p);
                break;
            }
            case Kind::Polygon: {
                const auto n = static_cast<std::int16_t>(s.vertices.size());
                if (s.vertices.size() <= kInlineVertices) {
                    Packet p(33);
                    p.Set<std::int16_t>(layout::polygon::kFill, static_cast<std::int16_t>(s.a))
                        .Set<std::int16_t>(layout::polygon::kCount, n);
                    for (std::size_t i = 0; i < s.vertices.size(); ++i)
                        p.Set<std::uint16_t>(layout::polygon::kVertices + 4 * i,
                                             s.vertices[i].first)
                            .Set<std::uint16_t>(layout::polygon::kVertices + 4 * i + 2,
                                                s.vertices[i].second);
                    result = SendPlot(p);
                } else {
                    // Too many for the packet: request 54 with the vertices in low memory.
                    const LowScope scope;
                    auto* vertices =
                        static_cast<std::uint16_t*>(LowAllocate(4 * s.vertices.size()));
                    varnu::HostAddress address = 0;
                    if (vertices == nullptr || !varnu::ToHostAddress(vertices, &address)) {
                        *error = script.path + ":" + std::to_string(s.line) +
                                 ": no low memory for the polygon";
                        return false;
                    }
                    for (std::size_t i = 0; i < s.vertices.size(); ++i) {
                        vertices[2 * i] = s.vertices[i].first;
                        vertices[2 * i + 1] = s.vertices[i].second;
                    }
                    Packet p(54);
                    p.Set<std::int16_t>(layout::polygon_by_address::kFill,
                                        static_cast<std::int16_t>(s.a))
                        .Set<std::int16_t>(layout::polygon_by_address::kCount, n)
                        .Set<varnu::HostAddress>(layout::polygon_by_address::kVertices, address);
                    result = SendPlot(p);
                }
                break;
            }
            case Kind::Image: {
                const LowScope scope;
                std::string why;
                result = SendImage(script.images[s.image], s.placement, progress, &why);
                if (result == 52) {
                    // Drawn now, by the next plot request, while the image is ours.
                    Packet drawIt(0);
                    SendPlot(drawIt);
                }
                if (result == -1 && !why.empty()) {
                    *error = script.path + ":" + std::to_string(s.line) + ": " + why;
                    return false;
                }
                break;
            }
            case Kind::Raw: {
                Packet p(static_cast<std::int16_t>(s.a));
                for (const RawField& f : s.fields) SetField(p, f);
                result = SendPlot(p);
                break;
            }
        }
        if (result == -1) {
            *error =
                script.path + ":" + std::to_string(s.line) + ": the driver refused this request";
            return false;
        }
        if (s.kind == Kind::Abort) {
            *error = script.path + ":" + std::to_string(s.line) + ": the job was aborted";
            return false;
        }
    }
    return true;
}

}  // namespace adihost
