#include "readers/pdf_work.h"

// qpdf 11 without its old PointerHolder.
#define POINTERHOLDER_TRANSITION 4
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <set>
#include <vector>

#include "readers/pdf_content.h"

namespace varnu::host {

namespace {

double Number(QPDFObjectHandle dict, const char* key, const char* shortKey = nullptr) {
    QPDFObjectHandle value = dict.getKey(key);
    if (shortKey != nullptr && value.isNull()) value = dict.getKey(shortKey);
    return value.isNumber() ? value.getNumericValue() : 0;
}

std::string ImageRefusal(double w, double h, double bytes) {
    char text[160];
    std::snprintf(text, sizeof text, "an image declares %.0f x %.0f pixels in %.0f bytes of data",
                  w, h, bytes);
    return text;
}

// The part of a PDF matrix that stretches a stroke's width.
struct Linear {
    double a = 1, b = 0, c = 0, d = 1;
};

// cm's operands: a b c d e f.
Linear MatrixOf(const std::vector<ContentOperand>& operands) {
    Linear m;
    double* v[] = {&m.a, &m.b, &m.c, &m.d};
    for (std::size_t i = 0; i < 4 && i < operands.size(); ++i)
        if (operands[i].kind == ContentOperand::Kind::Number) *v[i] = operands[i].number;
    return m;
}

Linear MatrixOf(QPDFObjectHandle array) {
    Linear m;
    if (!array.isArray() || array.getArrayNItems() < 4) return m;
    double* v[] = {&m.a, &m.b, &m.c, &m.d};
    for (int i = 0; i < 4; ++i)
        if (array.getArrayItem(i).isNumber()) *v[i] = array.getArrayItem(i).getNumericValue();
    return m;
}

// `first`, then `then` (PDF's row vectors: first x then).
Linear Then(const Linear& f, const Linear& t) {
    return {f.a * t.a + f.b * t.c, f.a * t.b + f.b * t.d, f.c * t.a + f.d * t.c,
            f.c * t.b + f.d * t.d};
}

// The smaller singular value: how thin a width can get in some direction.
double LeastStretch(const Linear& m) {
    const double s = m.a * m.a + m.b * m.b + m.c * m.c + m.d * m.d;
    const double det = m.a * m.d - m.b * m.c;
    return std::sqrt(std::max(0.0, (s - std::sqrt(std::max(0.0, s * s - 4 * det * det))) / 2));
}

// The graphics state a stroke's width depends on, through q and Q.
class Strokes {
  public:
    explicit Strokes(double width) : stack_{{Linear{}, width}} {}

    // Follows q, Q, cm, w and gs; notes the width of S, s, B, B*, b, b*.
    void Take(const std::string& op, const std::vector<ContentOperand>& operands,
              QPDFObjectHandle resources, PageWork* work) {
        State& now = stack_.back();
        if (op == "q") {
            stack_.push_back(now);
        } else if (op == "Q") {
            if (stack_.size() > 1) stack_.pop_back();
        } else if (op == "cm" && operands.size() == 6) {
            now.ctm = Then(MatrixOf(operands), now.ctm);
        } else if (op == "w" && operands.size() == 1 &&
                   operands[0].kind == ContentOperand::Kind::Number) {
            now.width = std::fabs(operands[0].number);
        } else if (op == "gs" && operands.size() == 1 &&
                   operands[0].kind == ContentOperand::Kind::Name) {
            QPDFObjectHandle lw = resources.getKeyIfDict("/ExtGState")
                                      .getKeyIfDict(operands[0].name)
                                      .getKeyIfDict("/LW");
            if (lw.isNumber()) now.width = std::fabs(lw.getNumericValue());
        } else if (op == "S" || op == "s" || op == "B" || op == "B*" || op == "b" || op == "b*") {
            Note(now.width, LeastStretch(now.ctm), work);
        }
    }

    // A form drawn here through `matrix`: its strokes in this content's units.
    void Drawn(const Linear& matrix, const PageWork& form, PageWork* work) const {
        const double stretch = LeastStretch(Then(matrix, stack_.back().ctm));
        if (std::isfinite(form.thinnestStroke))
            work->thinnestStroke = std::min(work->thinnestStroke, form.thinnestStroke * stretch);
        if (std::isfinite(form.inheritedStretch))
            Note(stack_.back().width, form.inheritedStretch * stretch, work);
    }

  private:
    struct State {
        Linear ctm;
        double width;  // below 0: the width the content inherits
    };
    static void Note(double width, double stretch, PageWork* work) {
        if (width < 0)
            work->inheritedStretch = std::min(work->inheritedStretch, stretch);
        else if (width > 0)  // 0 is the device's thinnest line
            work->thinnestStroke = std::min(work->thinnestStroke, width * stretch);
    }
    std::vector<State> stack_;
};

// Counts a content stream and what it draws, each form once however often
// it is drawn: the work of a form is kept and multiplied.
class Counter {
  public:
    explicit Counter(const WorkLimits& limits) : limits_(limits) {}

    // `width`: the content's line width to begin with, below 0 for a form's
    // inherited one.
    bool Content(QPDFObjectHandle owner, QPDFObjectHandle resources, int depth, double width,
                 PageWork* work, std::string* error);
    // The appearances of the page's annotations, which are printed too.
    bool Annotations(QPDFObjectHandle page, PageWork* work, std::string* error);

  private:
    struct Reading;  // one content stream being read
    bool Operator(Reading& r, const std::string& op, const std::vector<ContentOperand>& operands,
                  std::size_t inlineBytes);
    // The decoded content of `owner`, if it stays within what a page may
    // hold (counted to its end, never kept past it).
    bool Decode(QPDFObjectHandle owner, std::string* data, std::string* error);
    bool Draw(QPDFObjectHandle resources, const std::string& name, int depth,
              const Strokes& strokes, PageWork* work, std::string* error);
    // `at`: the state the form is drawn in, or none where its strokes are
    // not measured (a Type 3 glyph's are in glyph space).
    bool Form(QPDFObjectHandle form, QPDFObjectHandle resources, int depth, const Strokes* at,
              PageWork* work, std::string* error);
    bool Image(double w, double h, double bytes, PageWork* work, std::string* error) const;

    const WorkLimits& limits_;
    std::map<QPDFObjGen, PageWork> forms_;
    std::set<QPDFObjGen> open_;  // forms being counted: one drawing itself
    double contentBytes_ = 0;    // decoded, of the page and its forms
    double operators_ = 0;       // read, forms once each
};

struct Counter::Reading {
    QPDFObjectHandle resources;
    int depth;
    PageWork* work;
    std::string* error;
    Strokes strokes;
    std::vector<ContentOperand> inlineDict;  // the operands of ID
};

bool Counter::Image(double w, double h, double bytes, PageWork* work, std::string* error) const {
    const double pixels = w * h;
    if (pixels > limits_.pixelsPerByte * std::max(bytes, 1.0)) {
        *error = ImageRefusal(w, h, bytes);
        return false;
    }
    work->imagePixels += pixels;
    return true;
}

bool Counter::Draw(QPDFObjectHandle resources, const std::string& name, int depth,
                   const Strokes& strokes, PageWork* work, std::string* error) {
    QPDFObjectHandle object = resources.getKeyIfDict("/XObject").getKeyIfDict(name);
    if (!object.isStream()) return true;  // poppler skips it too
    QPDFObjectHandle dict = object.getDict();
    const std::string subtype =
        dict.getKey("/Subtype").isName() ? dict.getKey("/Subtype").getName() : std::string();
    if (subtype == "/Image")
        return Image(Number(dict, "/Width", "/W"), Number(dict, "/Height", "/H"),
                     Number(dict, "/Length"), work, error);
    if (subtype != "/Form") return true;
    return Form(object, resources, depth, &strokes, work, error);
}

bool Counter::Form(QPDFObjectHandle object, QPDFObjectHandle resources, int depth,
                   const Strokes* at, PageWork* work, std::string* error) {
    QPDFObjectHandle dict = object.getDict();
    work->formDraws += 1;
    const QPDFObjGen id = object.getObjGen();
    auto known = forms_.find(id);
    if (known == forms_.end()) {
        if (open_.count(id) != 0) {
            *error = "a form draws itself";
            return false;
        }
        if (depth >= limits_.formDepth) {
            *error = "forms nested more than " + std::to_string(limits_.formDepth) + " deep";
            return false;
        }
        open_.insert(id);
        PageWork form;
        QPDFObjectHandle own = dict.getKey("/Resources");
        const bool ok =
            Content(object, own.isDictionary() ? own : resources, depth + 1, -1, &form, error);
        open_.erase(id);
        if (!ok) return false;
        known = forms_.emplace(id, form).first;
    }
    work->operators += known->second.operators;
    work->formDraws += known->second.formDraws;
    work->imagePixels += known->second.imagePixels;
    if (at != nullptr) at->Drawn(MatrixOf(dict.getKey("/Matrix")), known->second, work);
    return true;
}

bool Counter::Decode(QPDFObjectHandle owner, std::string* data, std::string* error) {
    double bytes = 0;
    const bool kept = DecodeContent(owner, limits_.contentBytes - contentBytes_, data, &bytes);
    contentBytes_ += bytes;
    if (kept && contentBytes_ <= limits_.contentBytes) return true;
    char text[160];
    std::snprintf(text, sizeof text, "its content holds %.0f MB decoded (at most %.0f MB)",
                  contentBytes_ / 1e6, limits_.contentBytes / 1e6);
    *error = text;
    return false;
}

bool Counter::Content(QPDFObjectHandle owner, QPDFObjectHandle resources, int depth, double width,
                      PageWork* work, std::string* error) {
    std::string data;
    if (!Decode(owner, &data, error)) return false;
    Reading r{resources, depth, work, error, Strokes(width), {}};
    bool failed = false;
    const bool read = ReadOperators(
        data,
        [&](const std::string& op, const std::vector<ContentOperand>& operands,
            std::size_t inlineBytes) {
            failed = !Operator(r, op, operands, inlineBytes);
            return !failed;
        },
        error);
    return read && !failed;
}

// The value of `key`, or else of `shortKey`, in an inline image's
// dictionary (pairs of a name and its value; the last of a name counts).
double InlineNumber(const std::vector<ContentOperand>& dict, const char* key,
                    const char* shortKey) {
    for (const char* k : {key, shortKey}) {
        const ContentOperand* value = nullptr;
        for (std::size_t i = 0; i + 1 < dict.size(); i += 2)
            if (dict[i].kind == ContentOperand::Kind::Name && dict[i].name == k)
                value = &dict[i + 1];
        if (value != nullptr)
            return value->kind == ContentOperand::Kind::Number ? value->number : 0;
    }
    return 0;
}

bool Counter::Operator(Reading& r, const std::string& op,
                       const std::vector<ContentOperand>& operands, std::size_t inlineBytes) {
    r.work->operators += 1;
    if (++operators_ > limits_.operators) {
        char text[120];
        std::snprintf(text, sizeof text, "it draws more than %.0f operators", limits_.operators);
        *r.error = text;
        return false;
    }
    r.strokes.Take(op, operands, r.resources, r.work);
    const bool named = !operands.empty() && operands.back().kind == ContentOperand::Kind::Name;
    if (op == "ID") r.inlineDict = operands;
    if (op == "Do" && named)
        return Draw(r.resources, operands.back().name, r.depth, r.strokes, r.work, r.error);
    if ((op == "scn" || op == "SCN") && named) {
        // A tiling pattern draws its content like a form.
        QPDFObjectHandle pattern =
            r.resources.getKeyIfDict("/Pattern").getKeyIfDict(operands.back().name);
        return !pattern.isStream() ||
               Form(pattern, r.resources, r.depth, &r.strokes, r.work, r.error);
    }
    if (op == "Tf" && operands.size() == 2 && operands[0].kind == ContentOperand::Kind::Name) {
        // A Type 3 font's glyphs are content streams too.
        QPDFObjectHandle procs = r.resources.getKeyIfDict("/Font")
                                     .getKeyIfDict(operands[0].name)
                                     .getKeyIfDict("/CharProcs");
        if (procs.isDictionary())
            for (const std::string& glyph : procs.getKeys())
                if (procs.getKey(glyph).isStream() &&
                    !Form(procs.getKey(glyph), r.resources, r.depth, nullptr, r.work, r.error))
                    return false;
        return true;
    }
    if (op == "EI") {
        // The inline image's dictionary: the operands of ID, before it.
        return Image(InlineNumber(r.inlineDict, "/Width", "/W"),
                     InlineNumber(r.inlineDict, "/Height", "/H"), static_cast<double>(inlineBytes),
                     r.work, r.error);
    }
    return true;
}

bool Counter::Annotations(QPDFObjectHandle page, PageWork* work, std::string* error) {
    QPDFObjectHandle annotations = page.getKey("/Annots");
    if (!annotations.isArray()) return true;
    const Strokes onPage(1);
    for (int i = 0; i < annotations.getArrayNItems(); ++i) {
        QPDFObjectHandle normal =
            annotations.getArrayItem(i).getKeyIfDict("/AP").getKeyIfDict("/N");
        std::vector<QPDFObjectHandle> appearances;
        if (normal.isStream())
            appearances.push_back(normal);
        else if (normal.isDictionary())
            for (const std::string& key : normal.getKeys())
                appearances.push_back(normal.getKey(key));
        for (QPDFObjectHandle& a : appearances)
            if (a.isStream() &&
                !Form(a, QPDFObjectHandle::newDictionary(), 1, &onPage, work, error))
                return false;
    }
    return true;
}

}  // namespace

struct PdfWork::Qpdf {
    QPDF pdf;
    std::vector<QPDFPageObjectHelper> pages;
};

PdfWork::PdfWork() : qpdf_(std::make_unique<Qpdf>()) {}
PdfWork::~PdfWork() = default;

bool PdfWork::Open(const std::string& path, std::string* error) {
    try {
        qpdf_->pdf.setSuppressWarnings(true);
        qpdf_->pdf.processFile(path.c_str());
        qpdf_->pages = QPDFPageDocumentHelper(qpdf_->pdf).getAllPages();
        return true;
    } catch (const std::exception& e) {
        *error = std::string("not a readable PDF: ") + e.what();
        return false;
    }
}

bool PdfWork::Count(int index, const WorkLimits& limits, PageWork* work, std::string* error) const {
    *work = PageWork{};
    if (index < 0 || static_cast<std::size_t>(index) >= qpdf_->pages.size()) {
        *error = "the page cannot be read";
        return false;
    }
    try {
        QPDFPageObjectHelper& page = qpdf_->pages[static_cast<std::size_t>(index)];
        Counter counter(limits);
        return counter.Content(page.getObjectHandle(), page.getAttribute("/Resources", false), 0, 1,
                               work, error) &&
               counter.Annotations(page.getObjectHandle(), work, error);
    } catch (const std::exception& e) {
        *error = std::string("its content cannot be read: ") + e.what();
        return false;
    }
}

std::string TooMuchWork(const PageWork& work, double devicePixels, const WorkLimits& limits) {
    char text[200];
    if (work.formDraws > limits.formDraws) {
        std::snprintf(text, sizeof text, "it draws forms %.0f times (at most %.0f)", work.formDraws,
                      limits.formDraws);
        return text;
    }
    if (work.operators > limits.operators) {
        std::snprintf(text, sizeof text, "it draws %.0f operators (at most %.0f)", work.operators,
                      limits.operators);
        return text;
    }
    const double pixels =
        limits.imagePixelsPerDevicePixel * devicePixels + limits.imagePixelsBeside;
    if (work.imagePixels > pixels) {
        std::snprintf(text, sizeof text,
                      "its images hold %.0f million pixels, more than %.0f million for the "
                      "page at this size",
                      work.imagePixels / 1e6, pixels / 1e6);
        return text;
    }
    return {};
}

}  // namespace varnu::host
