#include "readers/dxf/expand.h"

#include <algorithm>
#include <cmath>

namespace varnu::host::dxf {

namespace {

// `open` holds the blocks being expanded, outermost first: a block that
// inserts itself, directly or through others, is skipped rather than
// expanded until the depth limit (2^16 copies for a block inserting itself twice).
// What the INSERT placing a block passes to its entities: its layer to
// those on layer "0" for whether they are plotted, its pen to those BYBLOCK.
struct Inherited {
    const std::string& layer;
    int pen;
};

// A line of a type the LTYPE table defines drawn as its dashes, at its
// lengths times $LTSCALE, the entity's scale (48) and the scale of the
// blocks placing it (`placed`); in model space
// $PSLTSCALE scales nothing. Dashes finer than a host step, or more than
// the budget holds, are drawn as the solid line they look like. A type the
// table lacks is the printer's of its name.
void Dash(const Reader& reader, double placed, double tolerance, Primitive* p, Budget* budget) {
    const LineType& type = reader.lineTypes[static_cast<std::size_t>(p->style.lineType)];
    if (!type.defined) {
        p->style.lineType = LineTypeOf(type.name);
        return;
    }
    // An entry without dashes is solid, unless it names a standard type: some
    // programs write those without their patterns.
    p->style.lineType = type.dashes.empty() ? StandardLineType(type.name) : 0;
    if (type.dashes.empty()) return;
    const double scale = reader.lineTypeScale * p->style.typeScale * placed;
    double period = 0;
    for (const double d : type.dashes) period += std::fabs(d) * scale;
    // In drawing units here: the tolerance is half a host step.
    if (!(period > 2 * tolerance * static_cast<double>(type.dashes.size()))) return;
    std::vector<double> dashes = type.dashes;
    for (double& d : dashes) d *= scale;
    std::vector<Ring> out;
    for (Ring& r : p->rings) {
        if (p->closed && r.size() > 1) r.push_back(r.front());
        const std::size_t room = kMaxPoints > budget->points ? kMaxPoints - budget->points : 0;
        std::vector<Ring> dashed = Dashed(r, dashes, room / 2);
        if (dashed.empty()) dashed.push_back(std::move(r));
        for (Ring& d : dashed) out.push_back(std::move(d));
    }
    p->rings = std::move(out);
    p->closed = false;
}

bool ExpandBlock(const Reader& reader, const std::string& block, const Inherited& from,
                 const Transform& t, std::vector<const std::string*>* open, double tolerance,
                 const Sink& out, std::map<std::string, int>* skipped, Budget* budget) {
    const int coarseness = budget->coarseness;
    const auto it = reader.blocks.find(block);
    if (it == reader.blocks.end()) return true;
    for (const Entity& e : it->second) {
        ++budget->visits;
        if (budget->Spent()) return false;
        const std::string& layer = e.layer == "0" ? from.layer : e.layer;
        Style style = e.style;
        if (&layer != &e.layer) {
            const Style of = reader.LayerStyle(layer);
            if (style.penByLayer) style.pen = of.pen;
            if (style.typeByLayer) style.lineType = of.lineType;
            if (style.widthByLayer) style.widthMm = of.widthMm;
        }
        const int pen = style.pen == kByBlock ? from.pen : style.pen;
        if (e.kind == Entity::Kind::Insert) {
            if (reader.Frozen(layer)) continue;  // a frozen reference hides all it places
            // A DIMENSION whose block the drawing lacks is drawn from its own points.
            const std::string& block =
                reader.blocks.count(e.block) != 0 || e.fallback.empty() ? e.block : e.fallback;
            const char* refusal = nullptr;
            if (reader.blocks.count(block) == 0)
                refusal = e.dimension ? "DIMENSION" : "INSERT (no such block)";
            else if (std::any_of(open->begin(), open->end(),
                                 [&](const std::string* name) { return *name == block; }))
                refusal = "INSERT (block inserts itself)";
            else if (static_cast<int>(open->size()) > kMaxInsertDepth)
                refusal = "INSERT (nested too deep)";
            if (refusal) {
                ++(*skipped)[refusal];
                continue;
            }
            const auto base = reader.basePoints_.find(block);
            Transform inner;
            if (base != reader.basePoints_.end())
                inner = {1, 0, 0, 1, -base->second.x, -base->second.y};
            open->push_back(&block);
            const bool ok = ExpandBlock(reader, block, {layer, pen}, inner.Then(e.place).Then(t),
                                        open, tolerance, out, skipped, budget);
            open->pop_back();
            if (!ok) return false;
            continue;
        }
        if (!reader.Plotted(layer)) continue;
        Primitive p{e.kind == Entity::Kind::Fill, style, {}, e.closed, e.line};
        p.style.pen = pen;
        if (e.shape) {
            p.rings = e.shape(coarseness);
        } else if (e.curve) {
            const double scale = t.Scale() > 0 ? t.Scale() : 1;
            p.rings.push_back(e.curve(tolerance / scale));
        } else {
            p.rings = e.rings;
        }
        bool inRange = true;
        const bool moved = !t.Identity();  // model space is most of most drawings
        for (Ring& r : p.rings)
            for (Point2& q : r) {
                if (moved) q = t.Apply(q);
                inRange = inRange && std::fabs(q.x) <= kMaxCoordinate &&
                          std::fabs(q.y) <= kMaxCoordinate;  // false for NaN too
            }
        if (!inRange) {
            ++(*skipped)["entity with coordinates beyond 1e12 or not numbers"];
            continue;
        }
        std::erase_if(p.rings, [](const Ring& r) { return r.empty(); });
        if (!p.fill) Dash(reader, t.Scale(), tolerance, &p, budget);
        for (const Ring& r : p.rings) (p.fill ? budget->areaPoints : budget->points) += r.size();
        if (budget->Spent()) return false;
        if (!p.rings.empty() && !out(std::move(p))) return false;
    }
    return !budget->Spent();
}

}  // namespace

bool Expand(const Reader& reader, double tolerance, const Sink& out,
            std::map<std::string, int>* skipped, const std::string& path, std::string* error,
            Pass* pass) {
    // The entities outside blocks are kept as the block "", which an INSERT
    // may name too.
    static const std::string kModelSpace;
    std::vector<const std::string*> open{&kModelSpace};
    Budget budget;
    Pass plain;
    if (!pass) pass = &plain;
    budget.coarseness = pass->coarseness;
    budget.areaLimit = pass->areaLimit;
    static const std::string kLayer0 = "0";
    const bool ok =
        ExpandBlock(reader, kModelSpace, {kLayer0, 7}, {}, &open, tolerance, out, skipped, &budget);
    pass->areaPoints = budget.areaPoints;
    pass->areaSpent = budget.areaPoints > budget.areaLimit;
    if (ok) return true;
    if (pass->areaSpent)
        *error = path + ": the drawing expands to more than " +
                 std::to_string(budget.areaLimit / 1000000) +
                 " million points of filled areas (more text than a plot holds)";
    else if (budget.Spent())
        *error = path +
                 ": the drawing expands to more than 2 million points or block entities (nested "
                 "block arrays?)";
    return false;
}

}  // namespace varnu::host::dxf
