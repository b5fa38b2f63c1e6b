// The device set-up that job start sends and that an image must send again
// afterwards: the palette entries, the VCGL job header and default
// attributes, the saved window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "config/device_tables.h"

namespace varnu {

// The palette's size and colour range: job start sends them before the
// pens' colours, and an image again before it sends the colours again.
inline constexpr char kPenCount[] = "NP256";
inline constexpr char kColourRange[] = "CR0,255,0,255,0,255";

// Whether `pen` prints red: the model can, red printing is on, it is the red pen.
bool RedPenApplies(const ModelRecord& model, int pen);

// The RTL/GL2 palette entry of a pen as job start sends it ("PC…"), into
// `text`; returns its length.
int FormatPenColour(int pen, char* text, std::size_t size);

// 16-bit big-endian words appended to the command buffer; 0 or -1.
std::int32_t AppendWords(std::initializer_list<std::int32_t> values);

// VCGL groups of job start; 0 or -1.
std::int32_t VcglJobHeader();
std::int32_t VcglDefaultAttributes();

}  // namespace varnu
