// The entities of a DXF drawing as dxflib hands them over, collected by
// block with their layers, styles and placing transforms; curves kept as
// functions of the tolerance they are flattened with.
#pragma once

#include <dxflib/dl_creationadapter.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/clip.h"
#include "readers/dxf/geometry.h"
#include "readers/dxf/limits.h"
#include "readers/dxf/records.h"
#include "readers/dxf/text_codes.h"

namespace varnu::host::dxf {

struct Style {
    int pen = 7;           // kByBlock: the pen of the INSERT placing it
    int lineType = 0;      // into Reader::lineTypes; 0 is continuous
    double typeScale = 1;  // the entity's scale of its line type's lengths (48)
    double widthMm = 0.25;
    // Taken from the layer: in a block on layer "0", from the INSERT's layer.
    bool penByLayer = false, typeByLayer = false, widthByLayer = false;
};

constexpr int kByBlock = 0;

struct Entity {
    enum class Kind { Path, Fill, Insert } kind;
    Style style;
    std::string layer = "0";  // upper case, as layer names compare
    int line = 0;             // where the entity starts in the file
    std::vector<Ring>
        rings;  // Path: one open or closed polyline a ring; Fill: the rings of one area
    bool closed = false;
    std::string block;       // Insert
    Transform place;         // Insert
    bool dimension = false;  // Insert: a DIMENSION's own block
    std::string fallback;    // Insert: drawn instead of a block the drawing lacks
    // Curves are kept as functions of a tolerance, flattened once the scale is known.
    std::function<Ring(double tolerance)> curve;
    // Fill: rings made when drawn (text's letters, as coarse as asked), not held.
    std::function<std::vector<Ring>(int coarseness)> shape;
};

// One of the printer's eight line types for a DXF line type name that the
// drawing's LTYPE table does not define.
int LineTypeOf(std::string name);
// The printer's line type of a standard name (DASHED, CENTER2, ...); 0 for another.
int StandardLineType(std::string name);

// A line type by name; `defined` when the LTYPE table has it, with its
// dashes in drawing units (a dash when positive, a gap when negative, a
// dot when 0; none for a solid line).
struct LineType {
    std::string name;
    bool defined = false;
    std::vector<double> dashes;
};

// A dimension style's sizes, in drawing units before its scale, decimals,
// zeros dropped and arrows.
struct DimStyle {
    double scale = 1, arrow = 0.18, text = 0.18, extensionOffset = 0.0625, extensionBeyond = 0.18;
    double factor = 1;  // of the measured lengths
    int decimals = 4, angleDecimals = 0;
    int zeros = 0, angleZeros = 0;  // DIMZIN, DIMAZIN
    // DIMBLK: the arrow block's name, or the handle of its block record;
    // neither for the closed filled arrow.
    std::string arrowBlock, arrowRecord;
};

// Collects the entities of every block and of model space.
class Reader : public DL_CreationAdapter {
  public:
    std::map<std::string, std::vector<Entity>> blocks;  // "" is model space
    std::map<std::string, int> skipped;
    std::vector<LineType> lineTypes{{"CONTINUOUS", true, {}}};
    double lineTypeScale = 1;  // $LTSCALE
    // The index of a line type name in lineTypes, added when new.
    int LineTypeId(const std::string& name);

    void setVariableString(const std::string& key, const std::string& value, int) override;
    // Text that is not UTF-8 is read in the drawing's code page (Windows-1252
    // when it names none); what cannot be is reported and not drawn.
    std::string Decoded(const std::string& text);

    void addTextStyle(const DL_StyleData& data) override;
    std::string FontOf(const std::string& style) const;
    void addLayer(const DL_LayerData& data) override;
    void addBlock(const DL_BlockData& data) override;
    void endBlock() override { current_.clear(); }

    void addPoint(const DL_PointData& p) override { Add(Path({{p.x, p.y}, {p.x, p.y}}, false)); }
    void addLine(const DL_LineData& l) override { Add(Path({{l.x1, l.y1}, {l.x2, l.y2}}, false)); }
    void addArc(const DL_ArcData& a) override;
    void addCircle(const DL_CircleData& cd) override;
    void addEllipse(const DL_EllipseData& el) override;
    void addPolyline(const DL_PolylineData& data) override;
    void addVertex(const DL_VertexData& v) override;
    void endEntity() override { FinishPolyline(); }
    void endSequence() override { FinishPolyline(); }

    void addSpline(const DL_SplineData& data) override;
    void addControlPoint(const DL_ControlPointData& p) override;
    void addKnot(const DL_KnotData& k) override { knots_.push_back(k.k); }
    // A spline given by the points it passes through alone is drawn through them.
    void addFitPoint(const DL_FitPointData& p) override { fit_.push_back({p.x, p.y}); }

    void addInsert(const DL_InsertData& data) override;
    void addSolid(const DL_SolidData& s) override { Quad(s); }
    void addTrace(const DL_TraceData& t) override { Quad(t); }
    void addText(const DL_TextData& t) override { Text(t); }
    // Attributes are text placed on their own, after the INSERT they belong
    // to; invisible ones (flag 1) are not drawn.
    void addAttribute(const DL_AttributeData& a) override;
    // A dimension is drawn from the block it names, as it was last drawn by
    // the program that wrote the file.
    void Dimension();
    void addDimAlign(const DL_DimensionData&, const DL_DimAlignedData&) override { Dimension(); }
    void addDimLinear(const DL_DimensionData&, const DL_DimLinearData&) override { Dimension(); }
    void addDimRadial(const DL_DimensionData&, const DL_DimRadialData&) override { Dimension(); }
    void addDimDiametric(const DL_DimensionData&, const DL_DimDiametricData&) override;
    void addDimAngular(const DL_DimensionData&, const DL_DimAngular2LData&) override;
    void addDimAngular3P(const DL_DimensionData&, const DL_DimAngular3PData&) override;
    void addDimOrdinate(const DL_DimensionData&, const DL_DimOrdinateData&) override;

    void addLeader(const DL_LeaderData& data) override;
    void addLeaderVertex(const DL_LeaderVertexData& v) override;
    void setVariableDouble(const std::string& key, double value, int) override;
    void setVariableInt(const std::string& key, int value, int) override;

    void Text(const DL_TextData& t);
    void addMText(const DL_MTextData& t) override;
    void addMTextChunk(const std::string& text) override { mtextChunks_ += text; }

    void addHatch(const DL_HatchData& data) override;
    void addHatchLoop(const DL_HatchLoopData&) override;
    // Each edge of a loop kept apart: loops need not list them end to end.
    void addHatchEdge(const DL_HatchEdgeData& e) override;
    void endHatch() {}

    // Entities we read but do not draw.
    void addXLine(const DL_XLineData&) override { ++skipped["XLINE"]; }
    void addRay(const DL_RayData&) override { ++skipped["RAY"]; }
    void add3dFace(const DL_3dFaceData&) override { ++skipped["3DFACE"]; }
    void addImage(const DL_ImageData&) override { ++skipped["IMAGE"]; }
    void addArcAlignedText(const DL_ArcAlignedTextData&) override { ++skipped["ARCALIGNEDTEXT"]; }

    void Finish();
    std::map<std::string, Point2> basePoints_;

    void SetRecords(Records records) { records_ = std::move(records); }
    // dxflib ends every object with this, after handing it over.
    void endSection() override;

    // Layers that are off (negative colour) or frozen; every layer named in
    // the table or by an entity.
    std::map<std::string, bool> layerOff, layerFrozen;
    std::set<std::string> layerNoPlot;  // shown but not plotted (290 = 0)
    std::set<std::string> layerNames;
    std::set<std::string> onlyLayers;  // the layers to plot; empty for all

    // Layers named to plot are plotted whatever their state.
    Style LayerStyle(const std::string& layer) const;
    bool Frozen(const std::string& layer) const;
    // DEFPOINTS holds the points dimensions measure from, never plotted.
    bool Plotted(const std::string& layer) const;

  private:
    // The object dxflib is handing over now.
    const Records::Object* Current() const;
    const std::vector<std::pair<int, std::string>>& Pairs() const;
    // The value of `code` in the object dxflib is handing over; "" or `otherwise` without one.
    std::string ValueOf(int code) const;
    int IntOf(int code) const { return std::atoi(ValueOf(code).c_str()); }
    double RealOf(int code, double otherwise = 0) const;
    // A leader's polyline, with a filled arrowhead at its first vertex when it has one.
    void FinishLeader();
    Entity Begin(Entity::Kind kind);
    Style StyleNow();
    // The current entity's coordinate system seen from above, by the arbitrary
    // axis algorithm; (0, 0, -1) mirrors x.
    Transform Ocs();
    // `e`, drawn in the coordinate system `ocs` (the current entity's by default).
    Entity Planar(Entity e) { return Planar(std::move(e), Ocs()); }
    Entity Planar(Entity e, const Transform& ocs);

    Entity Path(Ring points, bool closed);
    void Add(Entity e) { blocks[current_].push_back(std::move(e)); }

    template <typename Q>
    void Quad(const Q& q) {
        Entity e = Begin(Entity::Kind::Fill);
        // Corners 1, 2, 4, 3 go round the quadrilateral.
        e.rings.push_back({{q.x[0], q.y[0]}, {q.x[1], q.y[1]}, {q.x[3], q.y[3]}, {q.x[2], q.y[2]}});
        Add(Planar(std::move(e)));
    }

    // Text at `at`, placed by the TEXT alignments: h 0 left, 1 centre, 2 right,
    // 4 middle (centred both ways); v 0 baseline, 1 bottom, 2 middle, 3 top
    // (of `height`).
    // `mirror`: TEXT's 71, 2 backwards and 4 upside down, about `at`.
    void AddText(const std::vector<Run>& runs, double height, double angle, Point2 at, int h = 0,
                 int v = 0, double widthFactor = 1, int mirror = 0);
    double Advance(const std::vector<Run>& runs);
    // A paragraph broken into lines at spaces to fit `width` (none when 0).
    std::vector<std::vector<Run>> Wrap(const std::vector<Run>& paragraph, double width);
    void AddMText(const std::string& chunk);

    void DefineLineType();
    void DefineDimStyle();
    const DimStyle& DimStyleOf(const std::string& name) const;
    // The current DIMENSION drawn into a block of its own; its name, or ""
    // for a kind not drawn so (ordinate).
    std::string DrawDimension();
    struct DimSizes;
    void LinearDimension(const DimSizes& s, bool aligned);
    void RadialDimension(const DimSizes& s, bool diameter);
    void AngularDimension(const DimSizes& s, bool vertex);
    // The closed filled arrow, or an architectural tick, at a dimension line's end.
    void DimArrow(Point2 tip, Point2 toward, const DimSizes& s);
    bool ArchitecturalTicks(const DimStyle& style) const;
    void DimText(const std::string& value, Point2 at, double angle, double height);
    // An MLINE's element lines, from its own vertices and miters.
    void MultiLine();
    // A polyline with widths as filled segments.
    void WidePolyline(Entity e, const std::vector<BulgeVertex>& vertices);
    void FinishPolyline();
    void FinishSpline();
    void FinishHatch();

    std::string codePage_;
    Records records_;
    std::size_t sections_ = 0;
    std::map<std::string, Style> layers_;
    std::map<std::string, int> lineTypeIds_{{"CONTINUOUS", 0}};
    std::map<std::string, std::string> styleFonts_;  // of each STYLE
    std::string current_;
    std::unique_ptr<Entity> polyline_, spline_, hatch_, leader_;
    bool leaderArrow_ = false;
    double arrowSize_ = 0.18, dimScale_ = 1;
    DimStyle dimHeader_;  // of the header's $DIM variables
    std::map<std::string, DimStyle> dimStyles_;
    std::map<std::string, std::string> blockRecords_;  // block names by handle (upper case)
    Transform polylineOcs_, hatchOcs_;
    std::vector<BulgeVertex> vertices_;
    std::vector<Point2> control_;
    std::vector<double> knots_;
    std::vector<Point2> fit_;
    // An LWPOLYLINE's widths at each vertex (40, 41; 43 for all of them).
    std::vector<std::pair<double, double>> widths_;
    int splineDegree_ = 3;
    bool hatchSolid_ = false;
    std::vector<PatternLine> hatchLines_;
    PatternBudget patternBudget_;
    std::vector<std::vector<Ring>> hatchEdges_;  // of each loop
    DL_MTextData mtext_{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", "", 0};
    std::string mtextChunks_;
};

}  // namespace varnu::host::dxf
