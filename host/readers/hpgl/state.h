// The interpreter's state between commands: everything a page start needs
// to be read again on its own, held by value.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "readers/hpgl/drawing.h"
#include "readers/hpgl/frame.h"

namespace varnu::host::hpgl {

inline constexpr int kPens = 256;

struct Pens {
    int count = 8;  // NP
    int selected = 1;
    std::array<Colour, kPens> colour{};
    std::array<double, kPens> width{};  // millimetres, or percent of the P1-P2 diagonal
    bool relativeWidth = false;         // WU1
    std::array<double, 3> black{0, 0, 0}, white{255, 255, 255};  // CR

    void Defaults();  // colours, ranges and widths as IN leaves them
    void DefaultWidths();
    // A pen number of the file as one of the palette's.
    int Index(int pen) const;
};

struct LineType {
    bool solid = true;
    int type = 0;  // 0: dots at the points; 1 to 8
    bool adaptive = false;
    double length = 4;    // percent of the P1-P2 diagonal, or millimetres
    bool metric = false;  // LT's mode 1
};

struct Lines {
    LineType current, previous;                 // LT, and what LT99 returns to
    std::array<std::vector<double>, 8> user{};  // UL: percent of the pattern
    std::array<bool, 8> redefined{};            // UL changed the standard shape
    void Defaults();
};

struct FillStyle {
    int type = 1;        // FT: 1 and 2 solid, 3 hatched, 4 cross-hatched, 10 shaded, others shaded
    double spacing = 0;  // hatching, user or plotter units; 0: 1% of the P1-P2 diagonal
    double angle = 0;
    double level = 50;  // shading, percent
};

struct Font {
    bool proportional = false;
    double pitch = 9;      // characters an inch
    double height = 11.5;  // points
    int posture = 0;
    int weight = 0;
};

struct Labels {
    int terminator = 3;  // DT
    bool printTerminator = false;
    enum class Size { Font, Absolute, Relative } size = Size::Font;
    double width = 0, height = 0;  // SI: centimetres; SR: percent of P2 - P1
    Point2 direction{1, 0};        // DI, or DR in percent of P2 - P1
    bool relativeDirection = false;
    int origin = 1;  // LO
    double slant = 0;
    double extraSpace = 0, extraLine = 0;  // ES
    std::array<Font, 2> fonts{};           // SD, AD
    bool alternate = false;                // SA selected
    int symbol = 0;                        // SM: drawn at each point; 0 none
    Point2 lineStart{0, 0};                // plotter units: where a carriage return goes
    std::string buffered;                  // BL, printed by PB
};

// HP-RTL's raster settings and its active position.
struct RtlSettings {
    int dpi = 300;
    std::int64_t width = 0, rows = 0;  // *r#S, *r#T; 0: not given
    int compression = 0;
    bool transparent = true;  // *v#N
    int colours = 1;          // *r#U: 1, 3 or -3; or planes by *v#W
    int planes = 1;
    int bitsPerIndex = 1;
    int encoding = 0;  // *v#W: 0 indexed by plane, 1 by pixel, 3 direct by pixel
    bool configured = false;
    std::array<std::array<std::uint8_t, 3>, 256> palette{};
    std::array<int, 3> component{};  // *v#A, #B, #C waiting for #I
    // The active position: page units along the pixels and along the rows
    // from the raster's origin (the page's corner where its rows begin).
    Point2 cap{0, 0};
    double unitsPerInch = 300;  // &u#D, of *p#X and *p#Y
    // *t#H and *t#V: the size the image is drawn at when *r2A or *r3A
    // starts it scaled, decipoints; 0: its size at the resolution.
    double scaledWidth = 0, scaledHeight = 0;
    bool scaled = false;
    void DefaultPalette();
};

enum class Mode { Pjl, Gl, Rtl };

struct State {
    Mode mode = Mode::Gl;
    Frame frame;
    bool pageSized = false;  // PS gave the page
    // The paper's feed runs along the page's x (PS's length the longer side):
    // raster rows advance along x, else along y.
    bool longEdge = true;
    Pens pens;
    Lines lines;
    FillStyle fill;
    Labels labels;
    RtlSettings rtl;
    Point2 pen{0, 0};  // plotter units of the turned system
    bool down = false, relative = false;
    double chordAngle = 5;                   // degrees
    double tickPlus = 0.5, tickMinus = 0.5;  // TL, percent of P2 - P1
    bool transparent = true;                 // TR
};

}  // namespace varnu::host::hpgl
