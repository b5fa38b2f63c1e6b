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

}  // namespace

bool ReadRecords(std::string* textToMend, Records* out, std::string* why) {
    std::string& text = *textToMend;
    Records& records = *out;
    std::vector<std::size_t> zeros;  // where an empty real's value line starts
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
    while (at < text.size()) {
        std::string_view code = next();
        const std::size_t valueAt = at;
        const std::string_view value = at <= text.size() ? next() : std::string_view();
        while (!code.empty() && (code.front() == ' ' || code.front() == '\t'))
            code.remove_prefix(1);
        const int number = std::atoi(std::string(code.substr(0, 16)).c_str());
        const std::size_t first = value.find_first_not_of(" \t");
        const bool comment = code.substr(0, 3) == "999" &&
                             code.find_first_not_of(" \t", 3) == std::string_view::npos;
        if (first == std::string_view::npos) {
            if (IsRealCode(number) && valueAt < text.size()) zeros.push_back(valueAt);
        } else if (comment && value.substr(first, 6) == "dxflib") {
            text[valueAt + first] = 'D';
        }
        if (number == 0 || number == 9) {
            std::string_view type = value;
            while (!type.empty() && (type.front() == ' ' || type.front() == '\t'))
                type.remove_prefix(1);
            while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
                type.remove_suffix(1);
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
        }
        line += 2;
    }
    if (zeros.empty()) return true;
    std::string mended;
    mended.reserve(text.size() + zeros.size());
    std::size_t from = 0;
    for (const std::size_t z : zeros) {
        mended.append(text, from, z - from).push_back('0');
        from = z;
    }
    mended.append(text, from, std::string::npos);
    text = std::move(mended);
    return true;
}

}  // namespace varnu::host::dxf
