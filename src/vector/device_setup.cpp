#include "vector/device_setup.h"

#include <cstdio>

#include "config/config_record.h"
#include "interface/output_buffer.h"
#include "varnu/pen_palette.h"
#include "varnu/vcgl_commands.h"

namespace varnu {

namespace {

constexpr char kPenColour[] = "PC%d,%d,%d,%d";
constexpr char kRedPenColour[] = "PC%d,255,0,0";

template <std::size_t N>
std::int32_t Append(const std::array<std::uint8_t, N>& bytes) {
    return AppendBytes(static_cast<std::int32_t>(N), bytes.data());
}

}  // namespace

bool RedPenApplies(const ModelRecord& model, int pen) {
    return model.redPrinting == 1 && (Configuration.Config.modeFlags & kModeRedPrinting) != 0 &&
           Configuration.Config.redPen == pen;
}

std::int32_t AppendWords(std::initializer_list<std::int32_t> values) {
    std::uint8_t packed[2 * 8 + 1];
    std::int32_t n = 0;
    for (std::int32_t v : values) n += PackBigEndian16(static_cast<std::uint16_t>(v), packed + n);
    return AppendBytes(n, packed);
}

int FormatPenColour(int pen, char* text, std::size_t size) {
    const ModelRecord* model = Model(Configuration.CurrentModel);
    if (model != nullptr && RedPenApplies(*model, pen))
        return std::snprintf(text, size, kRedPenColour, pen);
    const std::int32_t grey = PenGrey(pen);
    return std::snprintf(text, size, kPenColour, pen, grey, grey, grey);
}

std::int32_t VcglJobHeader() {
    if (Append(vcgl::kVcglPreamble) != 0 || Append(vcgl::kModelIdentification) != 0 ||
        Append(vcgl::kJobHeaderTail1) != 0 || Append(vcgl::kJobHeaderTail2) != 0) {
        return -1;
    }
    return 0;
}

std::int32_t VcglDefaultAttributes() {
    if (Append(vcgl::kLinePenHead) != 0 || AppendWords({7}) != 0) return -1;
    if (Append(vcgl::kHostPenHead) != 0 || AppendWords({7}) != 0) return -1;
    for (const auto& pattern : vcgl::kLineTypePatterns)
        if (AppendBytes(pattern.length, pattern.bytes) != 0) return -1;
    for (const auto& setting : vcgl::kDefaultSettings)
        if (Append(setting) != 0) return -1;
    return 0;
}

}  // namespace varnu
