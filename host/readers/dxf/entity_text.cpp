#include <algorithm>
#include <cmath>

#include "readers/dxf/entities.h"
#include "readers/dxf/text_outlines.h"

namespace varnu::host::dxf {

std::string Reader::Decoded(const std::string& text) {
    if (ValidUtf8(text)) return text;
    std::string out;
    const std::string page = codePage_.empty() ? "ANSI_1252" : codePage_;
    if (FromCodePage(text, page, &out)) return out;
    ++skipped["text not in code page " + page];
    return "";
}

void Reader::addTextStyle(const DL_StyleData& data) {
    styleFonts_[Upper(data.name)] = data.primaryFontFile;
}

std::string Reader::FontOf(const std::string& style) const {
    const auto it = styleFonts_.find(Upper(style));
    return it != styleFonts_.end() ? it->second : "";
}

void Reader::addAttribute(const DL_AttributeData& a) {
    if ((IntOf(70) & 1) == 0) Text(a);
}

void Reader::Text(const DL_TextData& t) {
    std::string text;
    const std::string raw = Decoded(t.text);
    for (std::size_t i = 0; i < raw.size(); ++i)
        if (const std::size_t n = UnicodeEscape(raw, i, &text))
            i += n - 1;
        else
            text += raw[i];
    // dxflib gives TEXT's angle in radians already.
    double angle = t.angle, height = t.height;
    std::vector<Run> runs = PercentCodes(text, PlainRun(height, FontOf(t.style)));
    double widthFactor = t.xScaleFactor > 0 ? t.xScaleFactor : 1;
    int h = t.hJustification, v = t.vJustification;
    const Point2 first{t.ipx, t.ipy}, second{t.apx, t.apy};
    if ((h == 3 || h == 5) && v == 0) {
        // Aligned and fit: the text runs from the first point to the
        // second, aligned scaling its height with its width, fit only its width.
        const double length = std::hypot(second.x - first.x, second.y - first.y);
        const TextShape shape = TextOutlines(Joined(runs), height, false, FontOf(t.style));
        const double advance = shape.reach > 0 ? shape.reach : shape.advance;
        if (length > 0 && advance > 0) {
            angle = std::atan2(second.y - first.y, second.x - first.x);
            if (h == 3) height *= length / (advance * widthFactor);
            if (h == 3)
                for (Run& r : runs) r.height = height;
            else
                widthFactor = length / advance;
        }
        AddText(runs, height, angle, first, 0, 0, widthFactor, t.textGenerationFlags);
        return;
    }
    if (h > 5 || h < 0) h = 0;
    if (v > 3 || v < 0) v = 0;
    // Any alignment but left/baseline places the text at the second point.
    AddText(runs, height, angle, h == 0 && v == 0 ? first : second, h, v, widthFactor,
            t.textGenerationFlags);
}

// dxflib hands over the group-3 pieces of a long text before the entity
// with its group-1 tail: joined before any escape is read, since a piece
// may end inside one.
namespace {

// A run's letters as TextOutlines draws them, with MTEXT's width, tracking
// and stacking: stacked text at 70% of the height, the upper from half the
// height up, the lower below it; centred over each other, or for '#' side
// by side across a slash.
TextShape RunShape(const Run& run, bool outlines, int coarseness = 0) {
    TextShape shape;
    if (run.stack != 0) {
        const double h = run.height * 0.7;
        TextShape up = TextOutlines(run.text, h, outlines, run.font, coarseness);
        TextShape down = TextOutlines(run.denominator, h, outlines, run.font, coarseness);
        const bool slash = run.stack == '#';
        shape.advance = (slash ? up.advance + down.advance : std::max(up.advance, down.advance)) +
                        run.height * 0.1;
        shape.reach = shape.advance;  // the bar's end
        shape.descent = std::max(TextOutlines("x", run.height, false, run.font).descent,
                                 run.height * 0.3 + down.descent);
        const auto put = [&](TextShape& part, double y, double dx) {
            for (Ring& r : part.rings) {
                for (Point2& p : r) p = {p.x + dx, p.y + y};
                shape.rings.push_back(std::move(r));
            }
        };
        put(up, run.height * 0.6, slash ? 0 : (shape.advance - up.advance) / 2);
        put(down, run.height * 0.35 - h,
            slash ? shape.advance - down.advance : (shape.advance - down.advance) / 2);
        const double bar = run.height * 0.04, y = run.height * 0.475, w = shape.advance;
        if (run.stack == '/')
            shape.rings.push_back({{0, y - bar}, {w, y - bar}, {w, y + bar}, {0, y + bar}});
        if (run.stack == '#')
            shape.rings.push_back({{0, y - run.height * 0.6},
                                   {bar * 2, y - run.height * 0.6},
                                   {w, y + run.height * 0.6},
                                   {w - bar * 2, y + run.height * 0.6}});
    } else if (run.tracking != 1) {
        // Letter by letter, each advance times the tracking.
        for (std::size_t i = 0; i < run.text.size();) {
            std::size_t n = 1;
            while (i + n < run.text.size() &&
                   (static_cast<unsigned char>(run.text[i + n]) & 0xC0) == 0x80)
                ++n;
            TextShape letter =
                TextOutlines(run.text.substr(i, n), run.height, outlines, run.font, coarseness);
            for (Ring& r : letter.rings) {
                for (Point2& p : r) p.x += shape.advance;
                shape.rings.push_back(std::move(r));
            }
            if (letter.reach > 0) shape.reach = shape.advance + letter.reach;
            shape.advance += letter.advance * run.tracking;
            shape.descent = std::max(shape.descent, letter.descent);
            i += n;
        }
    } else {
        shape = TextOutlines(run.text, run.height, outlines, run.font, coarseness);
    }
    if (run.width != 1) {
        shape.advance *= run.width;
        shape.reach *= run.width;
        for (Ring& r : shape.rings)
            for (Point2& p : r) p.x *= run.width;
    }
    return shape;
}

}  // namespace

void Reader::addMText(const DL_MTextData& t) {
    mtext_ = t;
    AddMText(t.text);
}

namespace {

// Runs longer than this many bytes are outlined in pieces: one outline of a
// whole run is held at once, and a line without breaks may be megabytes.
constexpr std::size_t kLongestPiece = 4096;

std::vector<Run> Pieces(const std::vector<Run>& given) {
    std::vector<Run> runs;
    for (const Run& r : given) {
        if (r.text.size() <= kLongestPiece || r.stack != 0) {
            runs.push_back(r);
            continue;
        }
        for (std::size_t at = 0; at < r.text.size();) {
            std::size_t n = std::min(kLongestPiece, r.text.size() - at);
            while (at + n < r.text.size() &&
                   (static_cast<unsigned char>(r.text[at + n]) & 0xC0) == 0x80)
                --n;  // a whole character
            runs.push_back(WithText(r, r.text.substr(at, n)));
            at += n;
        }
    }
    return runs;
}

}  // namespace

void Reader::AddText(const std::vector<Run>& given, double height, double angle, Point2 at, int h,
                     int v, double widthFactor, int mirror) {
    const std::vector<Run> runs = Pieces(given);
    std::vector<TextShape> shapes;
    double advance = 0, descent = 0;
    double tallest = 0;
    double width = 0;  // to where the ink ends: what it is aligned by
    for (const Run& r : runs) {
        tallest = std::max(tallest, r.height);
        shapes.push_back(RunShape(r, false));
        if (shapes.back().reach > 0) width = advance + shapes.back().reach * widthFactor;
        advance += shapes.back().advance * widthFactor;
        descent = std::max(descent, shapes.back().descent);
    }
    if (!(width > 0)) width = advance;
    const double dx = h == 1 || h == 4 ? -width / 2 : h == 2 ? -width : 0;
    const double dy = h == 4 || v == 2 ? -height / 2 : v == 1 ? descent : v == 3 ? -height : 0;
    const double sx = (mirror & 2) != 0 ? -1 : 1, sy = (mirror & 4) != 0 ? -1 : 1;
    const double cos = std::cos(angle), sin = std::sin(angle);
    auto place = [at, cos, sin, dx, dy, sx, sy](double x, double y) {
        const double u = (x + dx) * sx, w = (y + dy) * sy;
        return Point2{at.x + u * cos - w * sin, at.y + u * sin + w * cos};
    };
    double x = 0;
    for (std::size_t k = 0; k < runs.size(); ++k) {
        const Run& run = runs[k];
        const double advance = shapes[k].advance * widthFactor;
        Entity e = Begin(Entity::Kind::Fill);
        if (run.pen > 0) e.style.pen = run.pen, e.style.penByLayer = false;
        // Outlined when drawn: a drawing's text held as outlines takes
        // hundreds of times the file's size.
        // \A: a run lower than the line centred in it, or at its top.
        const double lift = run.align == 0 ? 0 : (tallest - run.height) * run.align / 2;
        e.shape = [run, place, x, lift, widthFactor](int coarseness) {
            std::vector<Ring> rings = RunShape(run, true, coarseness).rings;
            for (Ring& r : rings)
                for (Point2& p : r) p = place(x + p.x * widthFactor, lift == 0 ? p.y : p.y + lift);
            return rings;
        };
        if (run.text.find_first_not_of(' ') != std::string::npos || run.stack != 0)
            Add(Planar(std::move(e)));
        // Under- and overlines a fifth of the height below the baseline and above the caps.
        for (const auto& [on, y] : {std::pair{run.under, -0.2}, std::pair{run.over, 1.2}}) {
            if (!on || !(advance > 0)) continue;
            Entity line = Begin(Entity::Kind::Path);
            if (run.pen > 0) line.style.pen = run.pen, line.style.penByLayer = false;
            line.rings.push_back({place(x, y * run.height), place(x + advance, y * run.height)});
            Add(Planar(std::move(line)));
        }
        x += advance;
    }
}

double Reader::Advance(const std::vector<Run>& runs) {
    double advance = 0;
    for (const Run& r : runs) advance += RunShape(r, false).advance;
    return advance;
}

std::vector<std::vector<Run>> Reader::Wrap(const std::vector<Run>& paragraph, double width) {
    if (!(width > 0)) return {paragraph};
    std::vector<std::vector<Run>> words(1);
    for (const Run& run : paragraph) {
        // Each word in the run's format, without a copy of all its text (a
        // paragraph may be megabytes).
        for (std::size_t at = 0; run.stack == 0 || at == 0;) {
            if (run.stack != 0) {
                words.back().push_back(run);
                break;
            }
            const std::size_t space = run.text.find(' ', at);
            Run piece =
                WithText(run, run.text.substr(at, space == std::string::npos ? space : space - at));
            if (!piece.text.empty()) words.back().push_back(std::move(piece));
            if (space == std::string::npos) break;
            words.emplace_back();
            at = space + 1;
        }
    }
    std::vector<std::vector<Run>> lines;
    std::vector<Run> line;
    double measured = 0;  // the line's advance, as measured whole
    for (std::size_t k = 0; k < words.size(); ++k) {
        std::vector<Run> added;  // the space before the word, and the word
        if (k > 0) {
            // In the format of what it follows, taken by reference: the line
            // may be long, and a conditional of a temporary would copy it.
            const Run plain = PlainRun(mtext_.height);
            const Run* before = &plain;
            if (!line.empty())
                before = &line.back();
            else if (!words[k].empty())
                before = &words[k][0];
            Run space = WithText(*before, " ");
            space.stack = 0;
            space.denominator.clear();
            added.push_back(std::move(space));
        }
        for (const Run& piece : words[k]) added.push_back(piece);
        // Measured whole only near the width: a line far from it takes the
        // word as it is (a paragraph without breaks would be measured anew
        // at every word).
        const double estimate = measured + Advance(added);
        const bool near = estimate > width * 0.98;
        std::vector<Run> longer;
        if (near) longer = line;
        for (const Run& piece : added) Append(near ? &longer : &line, piece);
        if (!near) {
            measured = estimate;
            continue;
        }
        if (!line.empty() && (measured = Advance(longer)) > width) {
            lines.push_back(std::move(line));
            line = words[k];
            measured = Advance(line);
        } else {
            line = std::move(longer);
        }
    }
    lines.push_back(std::move(line));
    return lines;
}

void Reader::AddMText(const std::string& chunk) {
    const std::string text = Decoded(mtextChunks_ + chunk);
    const std::vector<std::vector<Run>> paragraphs =
        MTextParagraphs(text, PlainRun(mtext_.height, FontOf(mtext_.style)), mtext_.height);
    const double angle = std::atan2(mtext_.diry, mtext_.dirx) +
                         (mtext_.dirx == 0 && mtext_.diry == 0 ? mtext_.angle * M_PI / 180 : 0);
    std::vector<std::vector<Run>> lines;
    for (const auto& paragraph : paragraphs) {
        std::vector<Run> runs;
        for (const Run& r : paragraph) {
            if (r.stack != 0) {
                runs.push_back(r);
                continue;
            }
            const std::vector<Run> coded = PercentCodes(r.text, WithText(r, ""));
            runs.insert(runs.end(), coded.begin(), coded.end());
        }
        for (auto& line : Wrap(runs, mtext_.width)) lines.push_back(std::move(line));
    }
    // Baselines 5/3 of the height apart at spacing factor 1 (of the
    // tallest text in a line); the caps of the first line reach the top,
    // the last baseline is the bottom.
    const double factor = mtext_.lineSpacingFactor > 0 ? mtext_.lineSpacingFactor : 1;
    std::vector<double> down;
    for (const auto& line : lines) {
        double tallest = line.empty() ? mtext_.height : 0;
        for (const Run& r : line) tallest = std::max(tallest, r.height);
        down.push_back(down.empty() ? tallest : down.back() + tallest * 5 / 3 * factor);
    }
    const int attach =
        mtext_.attachmentPoint >= 1 && mtext_.attachmentPoint <= 9 ? mtext_.attachmentPoint : 1;
    const double block = down.back();
    const double lift = attach >= 7 ? block : attach >= 4 ? block / 2 : 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const double d = down[k] - lift;
        AddText(lines[k], mtext_.height, angle,
                {mtext_.ipx + d * std::sin(angle), mtext_.ipy - d * std::cos(angle)},
                (attach - 1) % 3);
    }
    mtextChunks_.clear();
}

}  // namespace varnu::host::dxf
