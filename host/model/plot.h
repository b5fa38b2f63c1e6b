// The plot model: what one job draws, as the readers build it and as it is
// sent to the driver, request by request.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "model/image.h"
#include "session/row_server.h"

namespace varnu::host {

// A field of a raw request packet: i8 u8 i16 u16 i32 u32 f64 str, and its
// value as written.
struct RawField {
    std::size_t offset = 0;
    std::string type;
    std::string value;
};

// A picture too large to hold, drawn a band at a time: `render` fills the
// rectangle at (x, y) of w x h pixels, w words a row, each 0x00RRGGBB
// (cairo's RGB24, so that poppler draws straight into the band); or, where
// it is set, `hold` makes `band` hold line `index` (a column when `column`)
// in pixels of the picture's own, as the row server asks.
struct Picture {
    std::int32_t width = 0, height = 0;  // pixels, rows top to bottom
    std::function<bool(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                       std::uint32_t* pixels, std::string* error)>
        render;
    // When set: fills columns x to x + w - 1, each `height` words from the
    // top, one column after the other (the picture mirrored on its
    // diagonal), for the driver's column lines.
    std::function<bool(std::int32_t x, std::int32_t w, std::uint32_t* pixels, std::string* error)>
        renderColumns;
    bool opaque = false;  // render and renderColumns set every pixel, white or not
    // `hold` serves one byte a pixel, 1 set: a one-bit scan, drawn in the
    // placement's colour (else colour, three bytes a pixel).
    bool bilevel = false;
    // render and renderColumns may run on a second thread, one call at a
    // time and in the order the bands are read, while the driver reads the
    // band before.
    bool renderAhead = false;
    std::function<bool(bool column, std::int32_t index, Band* band, std::string* error)> hold;
    std::string label;  // "page 2": names it in errors
    std::string progressLabel;
};

using Vertex = std::pair<std::uint16_t, std::uint16_t>;

struct Step {
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
        Picture,
        Summary,
        Catalogue,
        Raw
    };
    Kind kind = Kind::PenUp;
    int line = 0;               // of the input, for errors; 0 for none
    std::int32_t a = 0, b = 0;  // point, pen, line type, count, fill, request code
    double inches = 0;          // width
    std::vector<Vertex> vertices;
    std::size_t index = 0;  // of the image or picture
    Placement placement{};
    std::vector<RawField> fields;
};

class Plot {
  public:
    // `source` names the input in errors ("drawing.dxf:12: ...").
    explicit Plot(std::string source = {}) : source_(std::move(source)) {}

    void Move(std::uint16_t x, std::uint16_t y, int line = 0);
    void Draw(std::uint16_t x, std::uint16_t y, int line = 0);
    void PenUp(int line = 0);
    void Abort(int line = 0);
    void Pen(std::uint16_t pen, int line = 0);
    void LineType(std::uint16_t type, int line = 0);
    void LineTypes(std::int16_t count, int line = 0);
    void Width(double inches, int line = 0);
    void Polygon(std::int16_t fill, std::vector<Vertex> vertices, int line = 0);
    // Images are held once, however often they are drawn.
    std::size_t AddImage(Image image);
    void DrawImage(std::size_t image, const Placement& placement, int line = 0);
    void DrawPicture(Picture picture, const Placement& placement);
    void Summary(int line = 0);
    void Catalogue(int line = 0);
    void Raw(std::int16_t code, std::vector<RawField> fields, int line = 0);

    // `other`'s steps after these, moved by (dx, dy) host steps; its images
    // and pictures become this plot's.
    void Append(Plot other, std::int32_t dx, std::int32_t dy);

    // Whether anything goes on the sheet (a draw, polygon, image or raw request).
    bool DrawsSomething() const;
    const std::string& source() const { return source_; }
    const std::vector<Step>& steps() const { return steps_; }
    const std::vector<Image>& images() const { return images_; }
    const std::vector<Picture>& pictures() const { return pictures_; }

  private:
    Step& Add(Step::Kind kind, int line);

    std::string source_;
    std::vector<Step> steps_;
    std::vector<Image> images_;
    std::vector<Picture> pictures_;
};

}  // namespace varnu::host
