#include "model/send.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "model/bands.h"
#include "session/driver.h"
#include "varnu/adi_abi.h"
#include "varnu/packet_layouts.h"

namespace varnu::host {

namespace {

namespace layout = varnu::layout;
using Kind = Step::Kind;

// Vertices that fit the packet of request 33.
constexpr std::size_t kInlineVertices = (Packet::kSize - layout::polygon::kVertices) / 4;

// Where a step came from, for its errors.
std::string Where(const Plot& plot, const Step& s) {
    if (s.kind == Kind::Picture) return plot.pictures()[s.index].label;
    return plot.source() + ":" + std::to_string(s.line);
}

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

std::int16_t SendPolygon(const Step& s, std::string* why) {
    const auto n = static_cast<std::int16_t>(s.vertices.size());
    if (s.vertices.size() <= kInlineVertices) {
        Packet p(33);
        p.Set<std::int16_t>(layout::polygon::kFill, static_cast<std::int16_t>(s.a))
            .Set<std::int16_t>(layout::polygon::kCount, n);
        for (std::size_t i = 0; i < s.vertices.size(); ++i)
            p.Set<std::uint16_t>(layout::polygon::kVertices + 4 * i, s.vertices[i].first)
                .Set<std::uint16_t>(layout::polygon::kVertices + 4 * i + 2, s.vertices[i].second);
        return SendPlot(p);
    }
    // Too many for the packet: request 54 with the vertices in low memory.
    const LowScope scope;
    auto* vertices = static_cast<std::uint16_t*>(LowAllocate(4 * s.vertices.size()));
    varnu::HostAddress address = 0;
    if (vertices == nullptr || !varnu::ToHostAddress(vertices, &address)) {
        *why = "no low memory for the polygon";
        return -1;
    }
    for (std::size_t i = 0; i < s.vertices.size(); ++i) {
        vertices[2 * i] = s.vertices[i].first;
        vertices[2 * i + 1] = s.vertices[i].second;
    }
    Packet p(54);
    p.Set<std::int16_t>(layout::polygon_by_address::kFill, static_cast<std::int16_t>(s.a))
        .Set<std::int16_t>(layout::polygon_by_address::kCount, n)
        .Set<varnu::HostAddress>(layout::polygon_by_address::kVertices, address);
    return SendPlot(p);
}

// An image held in memory: one band, the whole of it.
RowPicture ImagePicture(const Image& image) {
    RowPicture picture;
    picture.width = image.width;
    picture.height = image.height;
    picture.bilevel = image.bilevel;
    // A line of the grid is at most the longer side at 16 times the source.
    picture.lineCapacity = std::size_t{1} << 26;
    picture.progressLabel = "image";
    picture.hold = [&image](bool, std::int32_t, Band* band, std::string*) {
        band->pixels = image.pixels.data();
        band->format = image.bilevel ? PixelFormat::Bilevel : PixelFormat::Rgb;
        band->stride = static_cast<std::ptrdiff_t>(image.width) * (image.bilevel ? 1 : 3);
        band->width = image.width;
        band->height = image.height;
        return true;
    };
    return picture;
}

// A picture drawn a band at a time: the bands it holds itself, or
// rendered (`bands`).
RowPicture BandedPicture(const Picture& source, PictureBands* bands) {
    RowPicture picture;
    picture.width = source.width;
    picture.height = source.height;
    // A line is at most the longer side, and the driver's grid may be a
    // little larger than the picture.
    picture.lineCapacity =
        3 * (2 * static_cast<std::size_t>(std::max(source.width, source.height)) + 64);
    picture.progressLabel = source.progressLabel;
    if (source.hold) {
        picture.bilevel = source.bilevel;
        picture.hold = source.hold;
        return picture;
    }
    picture.hold = [bands](bool column, std::int32_t index, Band* band, std::string* error) {
        return bands->Hold(column, index, band, error);
    };
    return picture;
}

std::int16_t SendPicture(const Plot& plot, const Step& s, bool progress, std::string* why) {
    if (s.kind == Kind::Image)
        return DrawPicture(ImagePicture(plot.images()[s.index]), s.placement, progress, why);
    const Picture& source = plot.pictures()[s.index];
    if (source.width <= 0 || source.height <= 0) {
        *why = "the picture is empty";
        return -1;
    }
    PictureBands bands(source);
    const std::int16_t taken =
        DrawPicture(BandedPicture(source, &bands), s.placement, progress, why);
    if (taken != 52 && why->empty()) *why = "the driver refused the image";
    return taken;
}

std::int16_t SendCode(std::int16_t code) {
    Packet p(code);
    return SendPlot(p);
}

// One step; -1 when the driver refused it, `why` set when we could not send it.
std::int16_t SendStep(const Plot& plot, const Step& s, bool progress, std::string* why) {
    switch (s.kind) {
        case Kind::Move:
        case Kind::Draw: {
            Packet p(s.kind == Kind::Move ? 3 : 4);
            p.Set<std::uint16_t>(layout::point::kX, static_cast<std::uint16_t>(s.a))
                .Set<std::uint16_t>(layout::point::kY, static_cast<std::uint16_t>(s.b));
            return SendPlot(p);
        }
        case Kind::PenUp:
            return SendCode(8);
        case Kind::Abort:
            return SendCode(9);
        case Kind::Summary:
            return SendCode(31);
        case Kind::Catalogue:
            return SendCode(15);
        case Kind::Pen:
        case Kind::LineType: {
            Packet p(s.kind == Kind::Pen ? 5 : 7);
            p.Set<std::uint16_t>(layout::pen::kPen, static_cast<std::uint16_t>(s.a));
            return SendPlot(p);
        }
        case Kind::LineTypes: {
            Packet p(36);
            p.Set<std::int16_t>(layout::pen::kLineTypeCount, static_cast<std::int16_t>(s.a));
            return SendPlot(p);
        }
        case Kind::Width: {
            Packet p(41);
            p.Set<double>(layout::pen::kWidth, s.inches);
            return SendPlot(p);
        }
        case Kind::Polygon:
            return SendPolygon(s, why);
        case Kind::Image:
        case Kind::Picture:
            return SendPicture(plot, s, progress, why);
        case Kind::Raw: {
            Packet p(static_cast<std::int16_t>(s.a));
            for (const RawField& f : s.fields) SetField(p, f);
            return SendPlot(p);
        }
    }
    return -1;
}

}  // namespace

bool Send(const Plot& plot, bool progress, std::string* error) {
    for (const Step& s : plot.steps()) {
        std::string why;
        const std::int16_t result = SendStep(plot, s, progress, &why);
        if (!why.empty()) {
            *error = Where(plot, s) + ": " + why;
            return false;
        }
        if (result == -1) {
            *error = Where(plot, s) + ": the driver refused this request";
            return false;
        }
        if (s.kind == Kind::Abort) {
            *error = Where(plot, s) + ": the job was aborted";
            return false;
        }
    }
    return true;
}

}  // namespace varnu::host
