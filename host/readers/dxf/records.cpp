#include "readers/dxf/records.h"

#include <algorithm>
#include <cstdlib>

namespace varnu::host::dxf {

namespace {

// dxflib makes room for as many points, knots or edges as an entity says it
// has before reading them: a count beyond the pairs the whole file holds is
// refused (`why` says where) rather than allowed to take gigabytes.
struct CountCode {
    std::string_view type;
    int code;
    const char* what;
};
constexpr CountCode kCounts[] = {
    {"LWPOLYLINE", 90, "vertices"},     {"SPLINE", 72, "knots"},
    {"SPLINE", 73, "control points"},   {"SPLINE", 74, "fit points"},
    {"LEADER", 76, "vertices"},         {"HATCH", 91, "boundary loops"},
    {"HATCH", 93, "edges or vertices"}, {"HATCH", 95, "knots"},
    {"HATCH", 96, "control points"},    {"HATCH", 97, "source objects"},
    {"HATCH", 78, "pattern lines"},     {"HATCH", 79, "dash lengths"},
    {"HATCH", 98, "seed points"}};

// Group codes whose values dxflib reads as reals.
bool IsRealCode(long code) {
    return (code >= 10 && code <= 59) || (code >= 110 && code <= 149) ||
           (code >= 210 && code <= 239) || (code >= 460 && code <= 469) ||
           (code >= 1010 && code <= 1059);
}

// Group codes whose values are text (names, handles, comments).
bool IsTextCode(long code) {
    return (code >= 0 && code <= 9) || (code >= 100 && code <= 105) ||
           (code >= 300 && code <= 369) || (code >= 390 && code <= 399) ||
           (code >= 410 && code <= 419) || (code >= 430 && code <= 439) ||
           (code >= 470 && code <= 481) || code == 999 || (code >= 1000 && code <= 1009);
}

// A change to the text: `length` bytes at `at` replaced.
struct Edit {
    std::size_t at, length;
    std::string with;
};

// A value past kMaxLine: MTEXT's text (1, 3) split into pieces of 250
// bytes, each a group 3 but the last, which takes the group it had; other
// text cut at kMaxLine. False for a code or number.
bool LongValue(std::string_view type, long number, std::size_t codeAt, std::size_t valueAt,
               std::string_view value, std::vector<Edit>* edits, int* cuts) {
    if (!IsTextCode(number)) return false;
    if (type == "MTEXT" && (number == 1 || number == 3)) {
        std::string pairs;
        std::size_t from = 0;
        for (; value.size() - from > 250; from += 250)
            pairs.append("3\n").append(value.substr(from, 250)).push_back('\n');
        pairs.append(std::to_string(number)).push_back('\n');
        pairs.append(value.substr(from));
        edits->push_back({codeAt, valueAt + value.size() - codeAt, std::move(pairs)});
        return true;
    }
    std::size_t keep = kMaxLine;
    while (keep > 0 && (static_cast<unsigned char>(value[keep]) & 0xC0) == 0x80) --keep;
    edits->push_back({valueAt + keep, value.size() - keep, ""});
    if (number != 999) ++*cuts;  // a comment is not drawn
    return true;
}

void Apply(const std::vector<Edit>& edits, std::string* text) {
    if (edits.empty()) return;
    std::string mended;
    mended.reserve(text->size() + edits.size());
    std::size_t from = 0;
    for (const Edit& e : edits) {
        mended.append(*text, from, e.at - from).append(e.with);
        from = e.at + e.length;
    }
    mended.append(*text, from, std::string::npos);
    *text = std::move(mended);
}

// A type from its value line, without the blanks around it.
std::string_view Trimmed(std::string_view type) {
    while (!type.empty() && (type.front() == ' ' || type.front() == '\t')) type.remove_prefix(1);
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
    return type;
}

}  // namespace

bool ReadRecords(std::string* textToMend, Records* out, std::string* why) {
    std::string& text = *textToMend;
    Records& records = *out;
    std::vector<Edit> edits;  // in the order of the text
    const auto pairs = static_cast<long long>(std::count(text.begin(), text.end(), '\n') / 2 + 1);
    std::string_view current;
    std::size_t at = 0;
    int line = 1;
    auto next = [&]() {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string_view value(text.data() + at, end - at);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n'))
            value.remove_suffix(1);
        at = end + 1;
        return value;
    };
    std::vector<std::pair<int, std::string>>* kept = nullptr;
    bool width = false;  // of the LWPOLYLINE read now
    while (at < text.size()) {
        const std::size_t codeAt = at;
        std::string_view code = next();
        const std::size_t valueAt = at;
        const std::string_view value = at <= text.size() ? next() : std::string_view();
        if (code.size() > kMaxLine) {
            *why = "line " + std::to_string(line) + ": a group code of " +
                   std::to_string(code.size()) + " characters";
            return false;
        }
        while (!code.empty() && (code.front() == ' ' || code.front() == '\t'))
            code.remove_prefix(1);
        const int number = std::atoi(std::string(code.substr(0, 16)).c_str());
        const std::size_t first = value.find_first_not_of(" \t");
        const bool comment = code.substr(0, 3) == "999" &&
                             code.find_first_not_of(" \t", 3) == std::string_view::npos;
        if (value.size() > kMaxLine &&
            !LongValue(current, number, codeAt, valueAt, value, &edits, &records.textCuts)) {
            *why = "line " + std::to_string(line + 1) + ": a value of " +
                   std::to_string(value.size()) + " characters for group " + std::to_string(number);
            return false;
        }
        if (first == std::string_view::npos) {
            if (IsRealCode(number) && valueAt < text.size()) edits.push_back({valueAt, 0, "0"});
        } else if (comment && value.substr(first, 6) == "dxflib") {
            text[valueAt + first] = 'D';
        }
        if (number == 0 || number == 9) {
            const std::string_view type = Trimmed(value);
            if (kept && current == "LWPOLYLINE" && !width)
                records.pairs.erase(records.objects.size() - 1);
            width = false;
            const auto found = std::find(std::begin(kTypes), std::end(kTypes), type);
            const int index = found == std::end(kTypes) ? -1 : static_cast<int>(found - kTypes);
            kept = index >= 0 && static_cast<std::size_t>(index) < kPairsKept
                       ? &records.pairs[records.objects.size()]
                       : nullptr;
            records.objects.push_back({line, index});
            current = type;
        } else {
            for (const CountCode& c : kCounts) {
                if (c.code != number || c.type != current) continue;
                const long long count = std::atoll(std::string(value.substr(0, 24)).c_str());
                if (count >= 0 && count <= pairs) continue;
                *why = "line " + std::to_string(line + 1) + ": " + std::string(current) + " with " +
                       std::to_string(count) + " " + c.what + ", which the file cannot hold";
                return false;
            }
            if (kept) kept->emplace_back(number, value);
            if ((number == 40 || number == 41 || number == 43) && current == "LWPOLYLINE")
                width =
                    width || std::strtod(std::string(value.substr(0, 32)).c_str(), nullptr) != 0;
        }
        line += 2;
    }
    Apply(edits, &text);
    return true;
}

}  // namespace varnu::host::dxf
