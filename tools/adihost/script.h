// Job scripts (.adi): one request a line, parsed and checked whole before
// any request reaches the driver.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "adihost/images.h"

namespace adihost {

struct RawField {
    std::size_t offset;
    std::string type;   // i8 u8 i16 u16 i32 u32 f64 str
    std::string value;  // as written
};

struct ScriptStep {
    enum class Kind {
        Move,
        Draw,
        PenUp,
        Abort,
        Pen,
        LineType,
        LineTypes,
        Width,
        Polygon,
        Image,
        Summary,
        Catalogue,
        Raw
    };
    Kind kind;
    int line = 0;
    std::int32_t a = 0, b = 0;  // point, pen, line type, count, request code
    double inches = 0;          // width
    std::vector<std::pair<std::uint16_t, std::uint16_t>> vertices;
    std::size_t image = 0;  // index into Script::images
    Placement placement{};
    std::vector<RawField> fields;
};

struct Script {
    std::string path;
    std::vector<ScriptStep> steps;
    std::vector<Image> images;
};

// Errors read "FILE:LINE: what was expected".
bool ParseScript(const std::string& path, Script* script, std::string* error);
bool ParseScriptText(const std::string& text, const std::string& path, Script* script,
                     std::string* error);

// Whether any step puts something on the sheet (draw, polygon, image, raw request).
bool DrawsSomething(const Script& script);

// Sends the steps inside an open plot job; stops at the first refused request.
bool RunScript(const Script& script, bool progress, std::string* error);

}  // namespace adihost
