// The plot file read command by command: PJL around HP-GL/2 (and HP-GL as
// older programs write it) and HP-RTL raster, handing what each page draws
// to a sink. A page ends at PG, at a new page size or a reset after
// drawing, and at the end of the file.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "readers/hpgl/drawing.h"
#include "readers/hpgl/state.h"
#include "readers/hpgl/stream.h"

namespace varnu::host::hpgl {

class RasterBuilder;

// Where a page starts: the byte and the state there.
struct PageStart {
    std::size_t offset = 0;
    State state;
};

struct PageInfo {
    bool sized = false;           // PS gave its size
    double pageX = 0, pageY = 0;  // plotter units, pageX >= pageY
    std::size_t end = 0;          // the byte after it
};

// What was read but not drawn, by name, for the report.
using Skipped = std::map<std::string, int>;

class Interpreter {
  public:
    // Reads from `start`; a page the file does not size is `defaultX` by
    // `defaultY` plotter units (the sheet a plotter would have loaded).
    Interpreter(std::string_view bytes, const PageStart& start, double defaultX, double defaultY,
                Sink* sink);
    ~Interpreter();
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    // The state where reading begins: a file without PJL is HP-GL, or HP-RTL
    // when it starts with an escape sequence.
    static PageStart FileStart(std::string_view bytes, double defaultX, double defaultY);

    // Reads the next page that draws something; false, with nothing read
    // into `page`, when the file ends first.
    bool NextPage(PageInfo* page);
    // Where the next page starts.
    PageStart Here() const { return {in_.offset(), s_}; }
    const Skipped& skipped() const { return skipped_; }

  private:
    // interpreter.cpp: the bytes, the modes, the page's end.
    void Step();  // one command or escape
    void Escape();
    void Pjl();
    void GlCommand();
    // commands.cpp: each true when it knew the command.
    bool SetupCommand(int code);
    bool PenCommand(int code);
    bool VectorCommand(int code);
    bool LabelCommand(int code);
    bool LabelSetting(int code);
    void Unknown(const std::string& what);
    void EndPage();
    void MarkDrawn() { drawn_ = true; }
    [[noreturn]] void Fail(const std::string& what) const { in_.Fail(what, commandStart_); }

    // setup.cpp: the page, scaling, window, pens and line styles.
    void Initialize(bool everything);  // IN, DF
    bool PageSize();                   // PS; false when it ends the page first
    void InputPoints(bool relative);   // IP, IR
    void Scale();                      // SC
    void InputWindow();                // IW
    void Rotate();                     // RO
    void SelectPen();                  // SP
    void PenColour();                  // PC
    void ColourRange();                // CR
    void PenCount();                   // NP
    void PenWidth();                   // PW
    void WidthUnits();                 // WU
    void LineTypeCommand();            // LT
    void UserLineType();               // UL
    void FillType();                   // FT

    // vectors.cpp: pen motion, arcs, circles, rectangles, wedges, polygons.
    void Plot(bool setDown, bool down, bool setRelative, bool relative);  // PU PD PA PR
    void Encoded();                                                       // PE
    void PenTo(Point2 plotter, bool down);
    void Circle();                             // CI
    void Arc(bool relative);                   // AA AR
    void ThreePointArc(bool relative);         // AT RT
    void Rectangle(bool relative, bool fill);  // EA ER RA RR
    void Wedge(bool fill);                     // EW WG
    void PolygonMode();                        // PM
    void FillPolygon();                        // FP
    void EdgePolygon();                        // EP
    void Ticks(bool x);                        // XT YT
    void Flush();                              // the stroke being drawn, to the sink
    Stroke StrokeStyle() const;
    void FillRings(std::vector<Ring> rings, bool nonzero);
    void EdgeRings(const std::vector<Ring>& rings);
    double ChordAngle(Stream& in);

    // labels.cpp
    void Label();                       // LB
    std::string ReadLabelText();        // up to the terminator
    void DefineTerminator();            // DT
    void CharacterSize(bool relative);  // SI SR
    void Direction(bool relative);      // DI DR
    void CharacterPlot();               // CP
    void FontDefinition(int which);     // SD AD
    void SymbolMode();                  // SM
    void DrawText(const std::string& text, bool symbol);

    // rtl.cpp
    void RtlEscape(int family);
    void RtlCommand(int family, int group, int op, double value);
    void RtlSetting(int family, int group, int op, double value);
    void RasterRows(std::int64_t bytes, bool lastPlane);
    void AddRasterRow(const std::uint8_t* bytes);
    void SkipRows(std::int64_t rows);
    void EndRaster();
    void ConfigureImageData(std::int64_t bytes);

    Stream in_;
    State s_;
    double defaultX_, defaultY_;
    Sink* sink_;
    std::size_t commandStart_ = 0;
    bool drawn_ = false;      // the page has drawn something
    bool pageEnded_ = false;  // the page ended at the last step
    Stroke path_;             // the polyline being drawn
    bool polygonMode_ = false;
    std::size_t polygonStart_ = 0;              // PM0's byte
    std::vector<Ring> polygon_;                 // subpolygons, page units
    std::vector<std::vector<bool>> edgesDown_;  // which edges were drawn with the pen down
    std::size_t polygonPoints_ = 0, pagePoints_ = 0, labelChars_ = 0, strayBytes_ = 0;
    std::unique_ptr<RasterBuilder> raster_;
    Skipped skipped_;
};

}  // namespace varnu::host::hpgl
