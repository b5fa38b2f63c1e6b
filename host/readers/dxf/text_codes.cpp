#include "readers/dxf/text_codes.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace varnu::host::dxf {

void AppendUtf8(std::string* out, unsigned cp) {
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | cp >> 6);
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out += static_cast<char>(0xE0 | cp >> 12);
        *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::size_t UnicodeEscape(const std::string& text, std::size_t i, std::string* out) {
    if (i + 7 > text.size() || text[i] != '\\' || (text[i + 1] != 'U' && text[i + 1] != 'u') ||
        text[i + 2] != '+')
        return 0;
    unsigned cp = 0;
    for (std::size_t k = i + 3; k < i + 7; ++k) {
        if (!std::isxdigit(static_cast<unsigned char>(text[k]))) return 0;
        cp = cp * 16 + std::stoul(std::string(1, text[k]), nullptr, 16);
    }
    AppendUtf8(out, cp);
    return 7;
}

Run PlainRun(double height, std::string font) {
    Run run;
    run.height = height;
    run.font = std::move(font);
    return run;
}

Run WithText(const Run& format, std::string text) {
    Run run;
    run.text = std::move(text);
    run.height = format.height;
    run.pen = format.pen;
    run.under = format.under, run.over = format.over;
    run.font = format.font;
    run.width = format.width, run.tracking = format.tracking;
    run.align = format.align;
    run.stack = format.stack;
    run.denominator = format.denominator;
    return run;
}

bool SameFormat(const Run& a, const Run& b) {
    return a.height == b.height && a.pen == b.pen && a.under == b.under && a.over == b.over &&
           a.font == b.font && a.width == b.width && a.tracking == b.tracking &&
           a.align == b.align && a.stack == 0 && b.stack == 0;
}

void Append(std::vector<Run>* runs, const Run& run) {
    if (!runs->empty() && SameFormat(runs->back(), run))
        runs->back().text += run.text;
    else
        runs->push_back(run);
}

std::string Joined(const std::vector<Run>& runs) {
    std::string text;
    for (const Run& r : runs) text += r.text;
    return text;
}

std::vector<Run> PercentCodes(const std::string& text, Run format) {
    std::vector<Run> runs;
    std::string out;
    auto cut = [&]() {
        if (!out.empty()) {
            runs.push_back(format);
            runs.back().text = std::move(out);
        }
        out.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "%%") != 0 || i + 2 >= text.size()) {
            out += text[i];
            continue;
        }
        const char code = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 2])));
        if (code == 'd') {
            AppendUtf8(&out, 0xB0);
        } else if (code == 'p') {
            AppendUtf8(&out, 0xB1);
        } else if (code == 'c') {
            AppendUtf8(&out, 0x2300);
        } else if (code == '%') {
            out += '%';
        } else if (code == 'u' || code == 'o') {
            cut();
            (code == 'u' ? format.under : format.over) ^= true;
        } else if (i + 4 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isdigit(static_cast<unsigned char>(text[i + 3])) &&
                   std::isdigit(static_cast<unsigned char>(text[i + 4]))) {
            AppendUtf8(&out, static_cast<unsigned>(std::stoi(text.substr(i + 2, 3))));
            i += 2;
        } else {
            out += text[i];
            continue;
        }
        i += 2;
    }
    cut();
    return runs;
}

bool ValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int n = c < 0x80         ? 0
                      : (c >> 5) == 6  ? 1
                      : (c >> 4) == 14 ? 2
                      : (c >> 3) == 30 ? 3
                                       : -1;
        if (n < 0 || i + n >= text.size()) return false;
        for (int k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        i += n + 1;
    }
    return true;
}

bool FromCodePage(const std::string& text, std::string name, std::string* out) {
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    if (name.rfind("ANSI_", 0) == 0) name = "CP" + name.substr(5);
    if (name.rfind("DOS", 0) == 0) name = "CP" + name.substr(3);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in = text;
    out->assign(in.size() * 4 + 4, '\0');
    char* src = in.data();
    char* dst = out->data();
    std::size_t left = in.size(), room = out->size();
    const bool ok = iconv(cd, &src, &left, &dst, &room) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out->resize(out->size() - room);
    return ok;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), ::toupper);
    return text;
}

namespace {

class MTextReader {
  public:
    MTextReader(Run format, double height) : format_(std::move(format)), height_(height) {}

    std::vector<std::vector<Run>> Read(const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\\' && i + 1 < text.size() && Code(text, &i)) continue;
            if (text[i] == '{') {
                if (groups_.size() < 64) groups_.push_back(format_);
                continue;
            }
            if (text[i] == '}') {
                if (!groups_.empty()) format_ = groups_.back(), groups_.pop_back();
                continue;
            }
            Put(std::string(1, text[i]));
        }
        return std::move(paragraphs_);
    }

  private:
    void Put(const std::string& piece) {
        Run run = format_;
        run.text = piece;
        Append(&paragraphs_.back(), run);
    }

    // The code at text[*i] (a backslash); false when it is none, and the
    // backslash is text.
    bool Code(const std::string& text, std::size_t* i) {
        const char code = text[*i + 1];
        std::string character;
        if (code == 'P') {
            paragraphs_.emplace_back();
            ++*i;
        } else if (const std::size_t n = UnicodeEscape(text, *i, &character)) {
            Put(character);
            *i += n - 1;
        } else if (code == '~' || code == '\\' || code == '{' || code == '}') {
            if (code == '~')
                AppendUtf8(&character, 0xA0);  // a space that does not break
            else
                character = code;
            Put(character);
            ++*i;
        } else if (code == 'S' && text.find(';', *i) != std::string::npos) {
            Stack(text.substr(*i + 2, text.find(';', *i) - *i - 2));
            *i = text.find(';', *i);
        } else if (std::string("LlOoKk").find(code) != std::string::npos) {
            if (code == 'L' || code == 'l') format_.under = code == 'L';
            if (code == 'O' || code == 'o') format_.over = code == 'O';
            ++*i;
        } else {
            return ValueCode(text, i);
        }
        return true;
    }

    // A code with a value up to ';'.
    bool ValueCode(const std::string& text, std::size_t* i) {
        const char code = text[*i + 1];
        const std::size_t end = text.find(';', *i);
        if (std::string("ACFHQTWfcp").find(code) == std::string::npos || end == std::string::npos)
            return false;
        const std::string value = text.substr(*i + 2, end - *i - 2);
        char* stop = nullptr;
        const double number = std::strtod(value.c_str(), &stop);
        if (code == 'H' && stop != value.c_str() && number > 0 && std::isfinite(number)) {
            const bool relative = *stop == 'x' || *stop == 'X';
            format_.height = std::clamp(relative ? format_.height * number : number, height_ * 1e-3,
                                        std::max(height_, 1e-9) * 1e3);
        }
        const bool numeric = stop != value.c_str() && std::isfinite(number);
        const bool relative = numeric && (*stop == 'x' || *stop == 'X');
        if (code == 'W' && numeric && number > 0)
            format_.width = std::clamp(relative ? format_.width * number : number, 0.01, 100.0);
        if (code == 'T' && numeric) format_.tracking = std::clamp(number, 0.75, 4.0);
        if (code == 'A' && numeric && number >= 0 && number <= 2)
            format_.align = static_cast<int>(number);
        if (code == 'C') {
            const int pen = std::atoi(value.c_str());
            format_.pen = pen >= 1 && pen <= 255 ? pen : 0;  // 0 and 256: the entity's
        }
        *i = end;
        return true;
    }

    // "1/2", "1^2", "1#2": what stands above and below, and between them;
    // escaped separators (\/) stand for themselves.
    void Stack(const std::string& value) {
        Run run = format_;
        std::string* part = &run.text;
        for (std::size_t k = 0; k < value.size(); ++k) {
            if (value[k] == '\\' && k + 1 < value.size()) {
                *part += value[++k];
            } else if (run.stack == 0 && std::string("/^#").find(value[k]) != std::string::npos) {
                run.stack = value[k];
                part = &run.denominator;
            } else {
                *part += value[k];
            }
        }
        if (run.stack == 0) {
            Put(run.text);
            return;
        }
        paragraphs_.back().push_back(std::move(run));
    }

    Run format_;
    double height_;
    std::vector<Run> groups_;
    std::vector<std::vector<Run>> paragraphs_{1};
};

}  // namespace

std::vector<std::vector<Run>> MTextParagraphs(const std::string& text, Run format, double height) {
    return MTextReader(std::move(format), height).Read(text);
}

}  // namespace varnu::host::dxf
