#include "readers/documents.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#include "readers/dxf.h"
#include "readers/hpgl.h"
#include "readers/images.h"
#include "readers/pdf.h"
#include "readers/script.h"

namespace varnu::host {

namespace {

bool StartsWith(const std::string& head, const char* bytes, std::size_t n) {
    return head.size() >= n && std::memcmp(head.data(), bytes, n) == 0;
}

bool LooksLikePdf(const std::string& head) {
    return head.find("%PDF-") != std::string::npos;  // poppler allows bytes before it
}

bool LooksLikePng(const std::string& head) {
    return StartsWith(head, "\x89PNG\r\n\x1a\n", 8);
}

bool LooksLikeJpeg(const std::string& head) {
    return StartsWith(head, "\xff\xd8\xff", 3);
}

bool LooksLikeTiff(const std::string& head) {
    return StartsWith(head, "II*\0", 4) || StartsWith(head, "MM\0*", 4);
}

// The first group of an ASCII DXF file: a 0 and SECTION, on lines of their own.
bool LooksLikeDxf(const std::string& head) {
    if (StartsWith(head, "AutoCAD Binary DXF", 18)) return true;
    std::istringstream lines(head);
    std::string code, name;
    std::getline(lines, code);
    std::getline(lines, name);
    auto trimmed = [](std::string s) {
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
        std::size_t i = 0;
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        return s.substr(i);
    };
    return trimmed(code) == "0" && trimmed(name) == "SECTION";
}

bool LooksLikeScript(const std::string&) {
    return false;  // any text; chosen by its suffix or as the last resort
}

std::string Head(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

bool HasSuffix(const std::string& path, const char* suffixes) {
    std::istringstream list(suffixes);
    for (std::string suffix; list >> suffix;) {
        if (path.size() < suffix.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < suffix.size() && same; ++i)
            same =
                std::tolower(static_cast<unsigned char>(path[path.size() - suffix.size() + i])) ==
                suffix[i];
        if (same) return true;
    }
    return false;
}

}  // namespace

const std::vector<DocumentFormat>& DocumentFormats() {
    static const std::vector<DocumentFormat> formats = {
        {"application/pdf", ".pdf", LooksLikePdf, OpenPdf},
        {"image/png", ".png", LooksLikePng, OpenPng},
        {"image/jpeg", ".jpg .jpeg", LooksLikeJpeg, OpenJpeg},
        {"image/tiff", ".tif .tiff", LooksLikeTiff, OpenTiff},
        {"image/vnd.dxf", ".dxf", LooksLikeDxf, OpenDxf},
        {"application/vnd.hp-HPGL", ".plt .hpgl .hpg .hgl", LooksLikeHpgl, OpenHpgl},
        {"application/vnd.varnu-job-script", ".adi", LooksLikeScript, OpenScript},
    };
    return formats;
}

const DocumentFormat* FormatOf(const std::string& path, const std::string& mime,
                               std::string* error) {
    const std::vector<DocumentFormat>& formats = DocumentFormats();
    if (!mime.empty()) {
        for (const DocumentFormat& f : formats)
            if (strcasecmp(f.mime, mime.c_str()) == 0) return &f;
        *error = "documents of type " + mime + " are not printed";
        return nullptr;
    }
    const std::string head = Head(path);
    for (const DocumentFormat& f : formats)
        if (f.looksLike(head)) return &f;
    for (const DocumentFormat& f : formats)
        if (HasSuffix(path, f.suffixes)) return &f;
    return &formats.back();  // a job script
}

std::unique_ptr<Document> OpenDocument(const std::string& path, const std::string& mime,
                                       const DocumentOptions& options, std::string* error) {
    const DocumentFormat* format = FormatOf(path, mime, error);
    return format != nullptr ? format->open(path, options, error) : nullptr;
}

}  // namespace varnu::host
