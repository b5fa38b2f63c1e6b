// The records of a DXF file as dxflib reads them, and the text mended for
// dxflib where it would read a file differently from run to run.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnu::host::dxf {

// The objects of the file as dxflib reads them, each from a group code 0
// (or 9, a header variable) to the next: the n-th is the one dxflib hands
// over before its n-th endSection(). Of most only the line they start on is
// kept (memory stays near the file's size); of the types named here the type,
// and of the first kPairsKept the group pairs, which dxflib does not pass on.
inline constexpr std::string_view kTypes[] = {
    "DIMENSION", "ATTRIB",       "ATTDEF",     "HATCH",   "LTYPE",       "LAYER",  "MLINE",
    "DIMSTYLE",  "BLOCK_RECORD", "LWPOLYLINE", "WIPEOUT", "MULTILEADER", "MLEADER"};
// LWPOLYLINE's pairs are kept only when it has a width.
inline constexpr std::size_t kPairsKept = 10;
struct Records {
    struct Object {
        int line;
        int type;  // index into kTypes, -1 for the others
    };
    std::vector<Object> objects;
    std::map<std::size_t, std::vector<std::pair<int, std::string>>> pairs;  // by object
    int textCuts = 0;  // text values cut at kMaxLine
};

// dxflib reads no line longer than 1023 bytes: past that it loops for ever.
inline constexpr std::size_t kMaxLine = 1000;

// Reads the records and mends, line for line, two things dxflib would
// otherwise read differently from file to file, or from run to run:
// - It takes MTEXT angles as radians in files whose comment says a dxflib
//   newer than 2.0.2.0 wrote them, and throws on a bare "dxflib" comment.
//   The comment is renamed so that every file's angles read as degrees.
// - It reads a real from an empty value line as whatever its stack held.
//   An empty real reads as 0.
// - It never returns from a line longer than 1023 bytes. MTEXT's text is
//   split into pieces, other text cut at kMaxLine; a longer code or number
//   is refused.
// False with `why` set for a count the file cannot hold: dxflib makes room
// for as many points, knots or edges as an entity says it has.
bool ReadRecords(std::string* textToMend, Records* out, std::string* why);

}  // namespace varnu::host::dxf
