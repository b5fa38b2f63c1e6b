#include "model/plot.h"

#include <algorithm>

namespace varnu::host {

Step& Plot::Add(Step::Kind kind, int line) {
    Step& step = steps_.emplace_back();
    step.kind = kind;
    step.line = line;
    return step;
}

void Plot::Move(std::uint16_t x, std::uint16_t y, int line) {
    Step& s = Add(Step::Kind::Move, line);
    s.a = x, s.b = y;
}

void Plot::Draw(std::uint16_t x, std::uint16_t y, int line) {
    Step& s = Add(Step::Kind::Draw, line);
    s.a = x, s.b = y;
}

void Plot::PenUp(int line) {
    Add(Step::Kind::PenUp, line);
}

void Plot::Abort(int line) {
    Add(Step::Kind::Abort, line);
}

void Plot::Pen(std::uint16_t pen, int line) {
    Add(Step::Kind::Pen, line).a = pen;
}

void Plot::LineType(std::uint16_t type, int line) {
    Add(Step::Kind::LineType, line).a = type;
}

void Plot::LineTypes(std::int16_t count, int line) {
    Add(Step::Kind::LineTypes, line).a = count;
}

void Plot::Width(double inches, int line) {
    Add(Step::Kind::Width, line).inches = inches;
}

void Plot::Polygon(std::int16_t fill, std::vector<Vertex> vertices, int line) {
    Step& s = Add(Step::Kind::Polygon, line);
    s.a = fill;
    s.vertices = std::move(vertices);
}

std::size_t Plot::AddImage(Image image) {
    images_.push_back(std::move(image));
    return images_.size() - 1;
}

void Plot::DrawImage(std::size_t image, const Placement& placement, int line) {
    Step& s = Add(Step::Kind::Image, line);
    s.index = image;
    s.placement = placement;
}

void Plot::DrawPicture(Picture picture, const Placement& placement) {
    pictures_.push_back(std::move(picture));
    Step& s = Add(Step::Kind::Picture, 0);
    s.index = pictures_.size() - 1;
    s.placement = placement;
}

void Plot::Summary(int line) {
    Add(Step::Kind::Summary, line);
}

void Plot::Catalogue(int line) {
    Add(Step::Kind::Catalogue, line);
}

void Plot::Raw(std::int16_t code, std::vector<RawField> fields, int line) {
    Step& s = Add(Step::Kind::Raw, line);
    s.a = code;
    s.fields = std::move(fields);
}

void Plot::Append(Plot other, std::int32_t dx, std::int32_t dy) {
    using Kind = Step::Kind;
    const std::size_t images = images_.size(), pictures = pictures_.size();
    for (Image& image : other.images_) images_.push_back(std::move(image));
    for (Picture& picture : other.pictures_) pictures_.push_back(std::move(picture));
    const auto moved = [](std::int32_t v, std::int32_t d) {
        return static_cast<std::uint16_t>(std::clamp<std::int32_t>(v + d, 0, 65535));
    };
    for (Step& s : other.steps_) {
        if (s.kind == Kind::Move || s.kind == Kind::Draw)
            s.a = moved(s.a, dx), s.b = moved(s.b, dy);
        for (Vertex& v : s.vertices) v = {moved(v.first, dx), moved(v.second, dy)};
        if (s.kind == Kind::Image || s.kind == Kind::Picture) {
            s.index += s.kind == Kind::Image ? images : pictures;
            s.placement.x0 += dx, s.placement.x1 += dx;
            s.placement.y0 += dy, s.placement.y1 += dy;
        }
        steps_.push_back(std::move(s));
    }
}

bool Plot::DrawsSomething() const {
    using Kind = Step::Kind;
    for (const Step& s : steps_)
        if (s.kind == Kind::Draw || s.kind == Kind::Polygon || s.kind == Kind::Image ||
            s.kind == Kind::Picture || s.kind == Kind::Raw)
            return true;
    return false;
}

}  // namespace varnu::host
