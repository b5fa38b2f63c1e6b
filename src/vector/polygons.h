// Filled polygons: plot request 33 (vertices in the packet) and 54 (vertices
// behind a 4-byte address).
#pragma once

namespace varnu {

void PolygonInline();   // 33
void PolygonPointer();  // 54

}  // namespace varnu
