// Fuzzes the MMR coder: rows from the input, coded, decoded by libtiff's
// Group 4 decoder, and compared bit for bit.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "g4_decoder.h"
#include "raster/mmr.h"

namespace {

std::vector<std::uint32_t> Area;
varnu::BitWriterState BitWriter;

bool Grow(varnu::BitWriterState& writer, std::size_t bytes) {
    (void)writer;  // the one writer below
    const std::size_t used = BitWriter.byteCount;
    Area.resize((BitWriter.capacity + bytes) / 4 * 2 + 16);
    BitWriter.area = reinterpret_cast<std::uint8_t*>(Area.data());
    BitWriter.position = Area.data() + used / 4;
    BitWriter.capacity = Area.size() * 4;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::int32_t width = 32 * (1 + data[0] % 64);
    const std::int32_t rows = 1 + data[1] % 64;
    const std::int32_t stride = width / 8;
    // Rows from the input; a pattern byte decides how runs repeat.
    std::vector<std::uint8_t> page(static_cast<std::size_t>(stride) * rows);
    for (std::size_t i = 0; i < page.size(); ++i) {
        const std::uint8_t b = data[2 + i % (size - 2)];
        page[i] = data[2] & 1        ? b
                  : (i / stride) % 2 ? page[i - stride]
                                     : b;  // some rows repeat the row above
        if (i < static_cast<std::size_t>(stride)) page[i] = b;
    }
    Area.assign(16, 0);  // start small: the coder must grow the area, never overrun it
    varnu::ResetBitWriter(BitWriter, reinterpret_cast<std::uint8_t*>(Area.data()), Area.size() * 4);
    std::vector<std::int32_t> lists(2 * varnu::RunListEntries(width));
    std::int32_t* reference = lists.data() + varnu::RunListEntries(width);
    reference[0] = 1;
    reference[1] = reference[2] = width;
    if (varnu::EncodeMmrRows(BitWriter, page.data(), rows, stride, width, lists.data(), reference,
                             Grow) != 0)
        __builtin_trap();
    varnu::WriteEndOfBlock(BitWriter);
    varnu::SwapWordBytes(BitWriter.area, BitWriter.area, BitWriter.byteCount);
    const std::string coded(reinterpret_cast<const char*>(BitWriter.area), BitWriter.byteCount);
    const auto decoded = varnu::testing::DecodeGroup4(coded, width, rows);
    if (decoded != varnu::testing::PackRows(page.data(), width, rows, stride)) __builtin_trap();
    return 0;
}
