#include "readers/script.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "readers/images.h"
#include "session/driver.h"

namespace varnu::host {

namespace {

using Words = std::vector<std::string>;

// One line of a script being read into the plot.
struct LineReader {
    const std::string& path;
    int line;
    std::string* error;
    Plot* plot;
    std::map<std::string, std::size_t>* loaded;  // image file -> index into the plot's images

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
    bool Arguments(const Words& w, std::size_t n, const std::string& usage) {
        return w.size() == n + 1 || Fail("expected \"" + usage + "\"");
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

bool ReadPoint(LineReader& r, const Words& w) {
    long long x = 0, y = 0;
    if (!r.Arguments(w, 2, w[0] + " X Y") || !r.Integer(w[1], 0, 65535, "X", &x) ||
        !r.Integer(w[2], 0, 65535, "Y", &y))
        return false;
    const auto ux = static_cast<std::uint16_t>(x), uy = static_cast<std::uint16_t>(y);
    if (w[0] == "move")
        r.plot->Move(ux, uy, r.line);
    else
        r.plot->Draw(ux, uy, r.line);
    return true;
}

bool ReadBare(LineReader& r, const Words& w) {
    if (!r.Arguments(w, 0, w[0])) return false;
    if (w[0] == "penup") r.plot->PenUp(r.line);
    if (w[0] == "abort") r.plot->Abort(r.line);
    if (w[0] == "summary") r.plot->Summary(r.line);
    if (w[0] == "catalogue") r.plot->Catalogue(r.line);
    return true;
}

bool ReadNumbered(LineReader& r, const Words& w) {
    long long v = 0;
    if (w[0] == "linetypes") {
        if (!r.Arguments(w, 1, "linetypes N") || !r.Integer(w[1], -32768, 32767, "a count", &v))
            return false;
        r.plot->LineTypes(static_cast<std::int16_t>(v), r.line);
        return true;
    }
    if (!r.Arguments(w, 1, w[0] + " N") || !r.Integer(w[1], 0, 65535, "a number", &v)) return false;
    if (w[0] == "pen")
        r.plot->Pen(static_cast<std::uint16_t>(v), r.line);
    else
        r.plot->LineType(static_cast<std::uint16_t>(v), r.line);
    return true;
}

bool ReadWidth(LineReader& r, const Words& w) {
    if (!r.Arguments(w, 1, "width INCHES or width MMmm")) return false;
    std::string value = w[1];
    const bool mm = value.size() > 2 && value.compare(value.size() - 2, 2, "mm") == 0;
    if (mm) value.resize(value.size() - 2);
    double inches = 0;
    if (!r.Number(value, "a width", &inches)) return false;
    if (mm) inches /= 25.4;
    r.plot->Width(inches, r.line);
    return true;
}

bool ReadPolygon(LineReader& r, const Words& w) {
    long long fill = 0, x = 0, y = 0;
    if (w.size() < 2) return r.Fail("expected \"polygon PEN X,Y X,Y ...\"");
    if (!r.Integer(w[1], -32768, 32767, "a pen", &fill)) return false;
    if (w.size() - 2 > 32767) return r.Fail("a polygon has at most 32767 vertices");
    std::vector<Vertex> vertices;
    for (std::size_t i = 2; i < w.size(); ++i) {
        const std::size_t comma = w[i].find(',');
        if (comma == std::string::npos)
            return r.Fail("expected a vertex X,Y, found \"" + w[i] + "\"");
        if (!r.Integer(w[i].substr(0, comma), 0, 65535, "X", &x) ||
            !r.Integer(w[i].substr(comma + 1), 0, 65535, "Y", &y))
            return false;
        vertices.emplace_back(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y));
    }
    r.plot->Polygon(static_cast<std::int16_t>(fill), std::move(vertices), r.line);
    return true;
}

// An image named again is read once: memory follows the distinct images.
bool ImageIndex(LineReader& r, const std::string& name, std::size_t* index) {
    std::filesystem::path file(name);
    if (file.is_relative()) file = std::filesystem::path(r.path).parent_path() / file;
    if (const auto known = r.loaded->find(file.string()); known != r.loaded->end()) {
        *index = known->second;
        return true;
    }
    Image image;
    std::string why;
    if (!LoadImage(file.string(), &image, &why)) return r.Fail(file.string() + ": " + why);
    *index = r.plot->AddImage(std::move(image));
    r.loaded->emplace(file.string(), *index);
    return true;
}

bool ReadImage(LineReader& r, const Words& w) {
    if (w.size() < 6) return r.Fail("expected \"image FILE X0 Y0 X1 Y1 [transparent] [color=N]\"");
    long long c[4], colour = 7;
    for (int k = 0; k < 4; ++k)
        if (!r.Integer(w[2 + k], -2147483647LL, 2147483647LL, "a corner", &c[k])) return false;
    Placement at{static_cast<std::int32_t>(c[0]),
                 static_cast<std::int32_t>(c[1]),
                 static_cast<std::int32_t>(c[2]),
                 static_cast<std::int32_t>(c[3]),
                 false,
                 7};
    for (std::size_t i = 6; i < w.size(); ++i) {
        if (w[i] == "transparent") {
            at.transparent = true;
        } else if (w[i].rfind("color=", 0) == 0) {
            if (!r.Integer(w[i].substr(6), 0, 7, "a colour index", &colour)) return false;
            at.colour = static_cast<std::int16_t>(colour);
        } else {
            return r.Fail("expected \"transparent\" or \"color=N\", found \"" + w[i] + "\"");
        }
    }
    std::size_t index = 0;
    if (!ImageIndex(r, w[1], &index)) return false;
    r.plot->DrawImage(index, at, r.line);
    return true;
}

bool ReadField(LineReader& r, std::int32_t code, const std::string& word, RawField* f) {
    const std::size_t colon = word.find(':'), equals = word.find('=');
    if (colon == std::string::npos || equals == std::string::npos || equals < colon)
        return r.Fail("expected OFFSET:TYPE=VALUE, found \"" + word + "\"");
    *f = RawField{0, word.substr(colon + 1, equals - colon - 1), word.substr(equals + 1)};
    if (!ValidType(f->type))
        return r.Fail("unknown type \"" + f->type + "\" (i8 u8 i16 u16 i32 u32 f64 str)");
    long long offset = 0;
    if (!r.Integer(word.substr(0, colon), 2, static_cast<long long>(Packet::kSize) - 1, "an offset",
                   &offset))
        return false;
    f->offset = static_cast<std::size_t>(offset);
    const std::size_t size = TypeSize(f->type, f->value);
    if (f->offset + size > Packet::kSize) return r.Fail("the field ends past the packet");
    if (const AddressField* a = SetsAnAddress(code, f->offset, size))
        return r.Fail("request " + std::to_string(a->code) + " bytes " + std::to_string(a->offset) +
                      ".." + std::to_string(a->offset + 3) + " hold " + a->use +
                      "; a job script cannot set them");
    double check = 0;
    return f->type == "str" || r.Number(f->value, "a number", &check);
}

bool ReadRequest(LineReader& r, const Words& w) {
    if (w.size() < 2) return r.Fail("expected \"request CODE OFFSET:TYPE=VALUE ...\"");
    long long code = 0;
    if (!r.Integer(w[1], -32768, 32767, "a request code", &code)) return false;
    std::vector<RawField> fields;
    for (std::size_t i = 2; i < w.size(); ++i)
        if (!ReadField(r, static_cast<std::int32_t>(code), w[i], &fields.emplace_back()))
            return false;
    r.plot->Raw(static_cast<std::int16_t>(code), std::move(fields), r.line);
    return true;
}

bool ReadLine(LineReader& r, const Words& w) {
    const std::string& op = w[0];
    if (op == "move" || op == "draw") return ReadPoint(r, w);
    if (op == "penup" || op == "abort" || op == "summary" || op == "catalogue")
        return ReadBare(r, w);
    if (op == "pen" || op == "linetype" || op == "linetypes") return ReadNumbered(r, w);
    if (op == "width") return ReadWidth(r, w);
    if (op == "polygon") return ReadPolygon(r, w);
    if (op == "image") return ReadImage(r, w);
    if (op == "request") return ReadRequest(r, w);
    return r.Fail("unknown request \"" + op + "\"");
}

}  // namespace

bool ReadScriptText(const std::string& text, const std::string& path, Plot* plot,
                    std::string* error) {
    *plot = Plot(path);
    std::istringstream in(text);
    std::map<std::string, std::size_t> loaded;
    std::string raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        if (const std::size_t hash = raw.find('#'); hash != std::string::npos) raw.resize(hash);
        std::istringstream words(raw);
        Words w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) continue;
        LineReader r{path, number, error, plot, &loaded};
        if (!ReadLine(r, w)) return false;
    }
    return true;
}

bool ReadScript(const std::string& path, Plot* plot, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    return ReadScriptText(text.str(), path, plot, error);
}

namespace {

class ScriptPage : public Document {
  public:
    explicit ScriptPage(Plot plot) : plot_(std::move(plot)) {}
    int pages() const override { return 1; }
    bool Plan(int, const Sheet&, int, std::string*) override { return true; }
    bool Draw(int, const Sheet&, int, Plot* plot, std::string*) override {
        *plot = plot_;
        return true;
    }

  private:
    Plot plot_;
};

}  // namespace

std::unique_ptr<Document> OpenScript(const std::string& path, const DocumentOptions&,
                                     std::string* error) {
    Plot plot;
    if (!ReadScript(path, &plot, error)) return nullptr;
    if (!plot.DrawsSomething()) {
        *error = path + ": nothing to draw (no draw, polygon or image line)";
        return nullptr;
    }
    return std::make_unique<ScriptPage>(std::move(plot));
}

}  // namespace varnu::host
