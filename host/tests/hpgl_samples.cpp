#include "hpgl_samples.h"

namespace varnu::host::testing {

namespace {

const std::string kOpen =
    "\x1b%-12345X@PJL\r\n@PJL ENTER LANGUAGE=HPGL2\r\n\x1b%0BIN;PS48768,36576;";
const std::string kClose = "PG;\x1b%-12345X";

// A PE number: its sign in the lowest bit, base 32 or 64 digits, the
// lowest first, the last in the upper range.
std::string Pe(long v, bool sevenBit) {
    unsigned long n =
        v >= 0 ? 2 * static_cast<unsigned long>(v) : 2 * static_cast<unsigned long>(-v) + 1;
    const unsigned long base = sevenBit ? 32 : 64;
    std::string out;
    for (; n >= base; n /= base) out += static_cast<char>(63 + n % base);
    return out + static_cast<char>((sevenBit ? 95 : 191) + n);
}

// A zigzag of relative moves, lifted half way.
std::string PeZigzag(bool sevenBit) {
    std::string s = sevenBit ? "PE7" : "PE";
    const long steps[][2] = {{1000, 0}, {0, 1000}, {-1000, 0}, {0, 0}, {1500, 500}, {500, -1500}};
    for (int i = 0; i < 6; ++i)
        s += (i == 3 ? "<" : "") + Pe(steps[i][0], sevenBit) + Pe(steps[i][1], sevenBit);
    return s + ";";
}

std::string Vectors() {
    return kOpen +
           // Lines absolute and relative, widths, a closed frame.
           "SP1;PW0.35;PU1000,1000;PD47768,1000,47768,35576,1000,35576,1000,1000;"
           "PW1;PU3000,3000;PD9000,3000;PR;PU0,1000;PD-6000,0,0,1000,6000,0;PA;"
           "PW0.1;PU3000,7000;PD9000,9000;PW2;PU3000,9000;PD9000,7000;PW0.35;"
           // Circles, arcs through a centre and through three points.
           "PU14000,5000;CI2500;CI1500,15;PU20000,3000;PD;AA20000,5000,180;AR0,1000,-90,2;PU;"
           "PU24000,3000;PD;AT26000,6000,28000,3000;RT2000,-2000,4000,0;PU;"
           // Rectangles and wedges, edged and filled.
           "PU2000,12000;EA6000,15000;ER2000,2000;PU7000,12000;RA9000,15000;RR1000,-1000;"
           "PU14000,13000;EW2500,30,120;WG2500,200,90,10;"
           // Polyline encoded, 7-bit and 8-bit.
           "PU20000,12000;" +
           PeZigzag(true) + "PU23000,12000;" + PeZigzag(false) +
           // The polygon buffer: a square with a hole filled, and edged.
           "PU28000,11000;PM0;PD34000,11000,34000,17000,28000,17000,28000,11000;PM1;"
           "PU30000,13000;PD32000,13000,32000,15000,30000,15000,30000,13000;PM2;FP;EP;"
           // Hatching and cross-hatching.
           "FT3,300,45;PU36000,11000;RA40000,15000;FT4,400,0;PU41000,11000;RA45000,15000;FT1;"
           // Line types of their own lengths, adaptive and fixed, and one redefined.
           "LT2,2;PU2000,20000;PD20000,20000;LT-3,3;PU2000,21000;PD20000,21000;"
           "LT4,1.5;PU2000,22000;PD20000,22000;LT6,3,1;PU2000,23000;PD20000,23000;"
           "UL1,60,20,10,10;LT1,2;PU2000,24000;PD20000,24000;LT;"
           // Scaled user units and a window.
           "IP24000,19000,34000,29000;SC0,100,0,100;PU0,0;PD100,0,100,100,0,100,0,0,100,100;"
           "IW0,50,50,100;PU0,100;PD100,0;IW;SC;IP;"
           "PU38000,20000;PD46000,20000;PU38000,21000;" +
           kClose;
}

std::string Labels() {
    return kOpen +
           "SP1;PU2000,33000;LBHP-GL/2 labels: the default font\x03"
           "SI0.6,0.9;PU2000,30000;LBAbsolute size 0.6 x 0.9 cm\x03"
           "SI1.5,2.5;PU2000,26000;LBLarger size\x03SI0.5,0.7;"
           "DI0,1;PU46000,4000;LBRunning up the page\x03"
           "DI;"
           "DI1,1;PU30000,2000;LBAt 45 degrees\x03"
           "DI;"
           "DT#,1;PU2000,22000;LBOwn terminator#DT;"
           "PU2000,18000;LBFirst line\r\nSecond line\r\nThird\x03"
           "PU2000,12000;LBOne\x03"
           "CP2,0;LBTwo\x03"
           "CP;LBNext line\x03"
           // Origins around a cross.
           "PU30000,22000;PD30000,24000;PU29000,23000;PD31000,23000;PU30000,23000;"
           "LO1;LB1\x03PU30000,23000;LO3;LB3\x03PU30000,23000;LO7;LB7\x03PU30000,23000;LO9;"
           "LB9\x03PU30000,23000;LO5;LB5\x03PU30000,23000;LO16;LB16\x03LO1;"
           "SL0.4;PU30000,16000;LBSlanted\x03SL;"
           "SD2,1,4,20;SS;PU30000,12000;LBProportional 20 point\x03SS;" +
           kClose;
}

std::string Rotated() {
    return kOpen +
           "RO90;IP0,0,36576,48768;SC0,360,0,480;SP1;PW0.5;PU20,20;PD340,20,340,460,20,460,20,20;"
           "PU60,60;PD300,200;PU100,300;CI30;SI1,1.5;PU60,380;LBTurned\x03" +
           kClose;
}

std::string PensAndShades() {
    std::string s = kOpen + "NP8;SP1;";
    const char* colours[] = {"PC2,255,0,0;", "PC3,0,160,0;", "PC4,0,0,255;", "PC5,120,120,120;"};
    int x = 2000;
    for (int pen = 2; pen <= 5; ++pen, x += 6000)
        s += std::string(colours[pen - 2]) + "SP" + std::to_string(pen) + ";PU" +
             std::to_string(x) + ",3000;RR5000,5000;";
    s += "SP1;";
    for (int level = 20, i = 0; level <= 100; level += 20, ++i)
        s += "FT10," + std::to_string(level) + ";PU" + std::to_string(2000 + i * 6000) +
             ",10000;RR5000,5000;";
    s += "FT1;TR0;SP0;PU3000,11000;RR3000,3000;TR1;";  // white: the printer leaves it
    return s + kClose;
}

std::string Raster() {
    // A 600 x 400 pixel pattern at 300 dpi, rows along the feed, in mode 2.
    std::string rows;
    for (int r = 0; r < 400; ++r) {
        std::string row(75, '\0');
        for (int p = 0; p < 600; ++p)
            if ((r / 40 + p / 40) % 2 == 0 || (r > 180 && r < 220)) row[p / 8] |= 0x80 >> (p % 8);
        rows += "\x1b*b76W" + std::string(1, '\x4a') + row;
    }
    return kOpen +
           "SP1;PU10000,10000;PD15000,10000;PU10000,10000;\x1b%1A\x1b*t300R\x1b*r600S"
           "\x1b*r400T\x1b*r1A\x1b*b2M" +
           rows + "\x1b*rC\x1b%0BPU20000,20000;\x1b%1A\x1b*v1N\x1b*r1A\x1b*b0M" +
           [] {
               std::string r;
               for (int i = 0; i < 100; ++i)
                   r += "\x1b*b75W" + std::string(75, i % 2 ? '\xf0' : '\x0f');
               return r;
           }() +
           "\x1b*rC\x1b%0B" + kClose;
}

// As a pen plotter's program wrote it: no PJL, no page size, P1 and P2
// and user units, pens by number, labels in HP-GL's sizes.
std::string PenPlotter() {
    return "IN;IP250,596,10250,7796;SC0,1000,0,720;SP1;"
           "PA0,0;PD1000,0,1000,720,0,720,0,0;PU;"
           "PA100,100;PD;PR200,0,0,200,-200,0,0,-200;PU;"
           "PA500,360;CI100;PA700,200;PD;AA700,300,270;PU;"
           "SP2;LT2;PA100,600;PD900,600;PU;LT;"
           "PA100,450;SI0.3,0.45;LBPEN PLOTTER\x03"
           "PA600,450;DI0,1;LBUP\x03"
           "DI;SP0;";
}

}  // namespace

const std::vector<PlotSample>& PlotSamples() {
    static const std::vector<PlotSample> samples = {
        {"gl2-vectors.plt", Vectors()}, {"gl2-labels.plt", Labels(), true, 4, 0.8},
        {"gl2-rotated.plt", Rotated()}, {"gl2-pens.plt", PensAndShades()},
        {"rtl-raster.plt", Raster()},   {"hpgl1-plotter.hpgl", PenPlotter(), true, 4, 0.85},
    };
    return samples;
}

}  // namespace varnu::host::testing
