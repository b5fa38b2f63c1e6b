#include "readers/hpgl/line_types.h"

#include <algorithm>
#include <cmath>

namespace varnu::host::hpgl {

namespace {

// Walks segments of a polyline through a pattern of on and off lengths.
class Walker {
  public:
    Walker(std::vector<double> lengths, std::size_t* budget,
           const std::function<void(Ring&&)>& dash)
        : lengths_(std::move(lengths)), budget_(budget), dash_(dash) {
        Restart(1);
    }
    // The pattern anew, its lengths times `scale`.
    void Restart(double scale) {
        End();
        scale_ = scale;
        index_ = 0;
        left_ = lengths_[0] * scale_;
    }
    bool Segment(Point2 a, Point2 b) {
        const double length = std::hypot(b.x - a.x, b.y - a.y);
        auto at = [&](double t) {
            return length > 0
                       ? Point2{a.x + (b.x - a.x) * t / length, a.y + (b.y - a.y) * t / length}
                       : a;
        };
        for (double t = 0;;) {
            const bool on = index_ % 2 == 0;
            if (on && dash_points_.empty()) dash_points_.push_back(at(t));
            const double step = std::min(left_, length - t);
            t += step;
            left_ -= step;
            if (on && step > 0) dash_points_.push_back(at(t));
            if (left_ > 1e-9 * scale_ || (t >= length && left_ > 0)) {
                if (t >= length) return true;
                continue;
            }
            if (on && !End()) return false;
            index_ = (index_ + 1) % lengths_.size();
            left_ = lengths_[index_] * scale_;
            if (t >= length && left_ > 0) return true;
        }
    }
    // The dash under way, drawn; false when the budget is spent.
    bool End() {
        if (dash_points_.empty()) return true;
        if (dash_points_.size() == 1) dash_points_.push_back(dash_points_.front());  // a dot
        dash_(std::move(dash_points_));
        dash_points_.clear();
        if (*budget_ == 0) return false;
        --*budget_;
        return true;
    }

  private:
    std::vector<double> lengths_;
    std::size_t* budget_;
    const std::function<void(Ring&&)>& dash_;
    double scale_ = 1, left_ = 0;
    std::size_t index_ = 0;
    Ring dash_points_;
};

}  // namespace

bool Dashes(const Ring& points, const Pattern& pattern, std::size_t* budget,
            const std::function<void(Ring&&)>& dash) {
    std::vector<double> lengths;
    double total = 0;
    for (const double s : pattern.segments) {
        lengths.push_back(std::max(s, 0.0) / 100 * pattern.length);
        total += lengths.back();
    }
    if (lengths.size() % 2 == 1) lengths.push_back(0);  // each dash has its gap
    if (!(total > 0) || points.size() < 2) {
        Ring all = points;
        dash(std::move(all));
        return true;
    }
    Walker walk(std::move(lengths), budget, dash);
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (pattern.adaptive) {
            const double length =
                std::hypot(points[i].x - points[i - 1].x, points[i].y - points[i - 1].y);
            const double whole = std::max(1.0, std::round(length / total));
            walk.Restart(length > 0 ? length / (whole * total) : 1);
        }
        if (!walk.Segment(points[i - 1], points[i])) return false;
    }
    return walk.End();
}

}  // namespace varnu::host::hpgl
