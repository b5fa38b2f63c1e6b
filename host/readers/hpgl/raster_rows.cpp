#include "readers/hpgl/raster_rows.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "readers/hpgl/limits.h"
#include "sinks/mmr_rows.h"

namespace varnu::host::hpgl {

namespace {

// A block's rows may be padded past the raster's width to whole words.
constexpr std::int64_t kMaxRowPadding = 64;

void RunLengths(std::string_view d, std::vector<std::uint8_t>* row) {
    std::size_t at = 0;
    for (std::size_t i = 0; i + 1 < d.size() && at < row->size(); i += 2) {
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::uint8_t>(d[i]) + 1u, row->size() - at);
        std::memset(row->data() + at, static_cast<std::uint8_t>(d[i + 1]), n);
        at += n;
    }
}

void PackBits(std::string_view d, std::vector<std::uint8_t>* row) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < d.size() && at < row->size();) {
        const auto control = static_cast<std::int8_t>(d[i++]);
        if (control >= 0) {  // control + 1 bytes as they are
            const std::size_t n =
                std::min({static_cast<std::size_t>(control) + 1, d.size() - i, row->size() - at});
            std::memcpy(row->data() + at, d.data() + i, n);
            at += n;
            i += static_cast<std::size_t>(control) + 1;
        } else if (control != -128 && i < d.size()) {  // the next byte 1 - control times
            const std::size_t n = std::min<std::size_t>(1 - control, row->size() - at);
            std::memset(row->data() + at, static_cast<std::uint8_t>(d[i++]), n);
            at += n;
        }
    }
}

// Each command byte: (bytes - 1) in its top three bits, the offset from
// the last byte replaced in its low five (31: more offset bytes follow).
bool DeltaRow(std::string_view d, std::vector<std::uint8_t>* row) {
    std::size_t at = 0;
    bool changed = false;
    for (std::size_t i = 0; i < d.size();) {
        const auto command = static_cast<std::uint8_t>(d[i++]);
        std::size_t count = (command >> 5) + 1u, offset = command & 31u;
        if (offset == 31)
            for (std::uint8_t more = 255; more == 255 && i < d.size(); offset += more)
                more = static_cast<std::uint8_t>(d[i++]);
        at += offset;
        for (; count > 0 && i < d.size(); --count, ++at, ++i)
            if (at < row->size()) {
                changed = changed || (*row)[at] != static_cast<std::uint8_t>(d[i]);
                (*row)[at] = static_cast<std::uint8_t>(d[i]);
            }
    }
    return changed;
}

}  // namespace

bool DecodeRow(int mode, std::string_view data, std::vector<std::uint8_t>* seed) {
    if (mode == 3) return DeltaRow(data, seed);
    std::fill(seed->begin(), seed->end(), 0);
    if (mode == 1) RunLengths(data, seed);
    if (mode == 2) PackBits(data, seed);
    if (mode == 0) std::memcpy(seed->data(), data.data(), std::min(data.size(), seed->size()));
    return true;
}

bool DecodeAdaptive(std::string_view data, std::vector<std::uint8_t>* seed, std::int64_t maxRows,
                    const std::function<void(const std::vector<std::uint8_t>&)>& row,
                    std::string* error) {
    std::int64_t made = 0;
    for (std::size_t i = 0; i < data.size();) {
        if (data.size() - i < 3) {
            *error = "an adaptive raster block cut short";
            return false;
        }
        const int command = static_cast<std::uint8_t>(data[i]);
        const std::size_t n =
            static_cast<std::uint8_t>(data[i + 1]) << 8 | static_cast<std::uint8_t>(data[i + 2]);
        i += 3;
        if (command <= 3) {
            const std::size_t take = std::min(n, data.size() - i);
            DecodeRow(command, data.substr(i, take), seed);
            i += take;
        } else if (command == 4) {
            std::fill(seed->begin(), seed->end(), 0);
        } else if (command != 5) {
            *error = "an adaptive raster block with command " + std::to_string(command);
            return false;
        }
        const std::int64_t rows = command <= 3 ? 1 : static_cast<std::int64_t>(n);
        if ((made += rows) > maxRows) {
            *error = "an adaptive raster block of more rows than the image may hold";
            return false;
        }
        for (std::int64_t r = 0; r < rows; ++r) row(*seed);
    }
    return true;
}

namespace {

// libtiff reading a TIFF made in memory around the code.
struct Memory {
    std::string bytes;
    toff_t at = 0;
};

tsize_t Read(thandle_t h, tdata_t to, tsize_t n) {
    auto* m = static_cast<Memory*>(h);
    const auto left =
        static_cast<tsize_t>(m->bytes.size() - std::min<toff_t>(m->at, m->bytes.size()));
    const tsize_t k = std::min(n, left);
    if (k > 0) std::memcpy(to, m->bytes.data() + m->at, static_cast<std::size_t>(k));
    m->at += static_cast<toff_t>(std::max<tsize_t>(k, 0));
    return k;
}
tsize_t Write(thandle_t, tdata_t, tsize_t) {
    return 0;
}
toff_t Seek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<Memory*>(h);
    const toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at : m->bytes.size();
    m->at = base + off;
    return m->at;
}
int Close(thandle_t) {
    return 0;
}
toff_t Size(thandle_t h) {
    return static_cast<Memory*>(h)->bytes.size();
}
int Map(thandle_t, tdata_t*, toff_t*) {
    return 0;
}
void Unmap(thandle_t, tdata_t, toff_t) {}

void Put16(std::string* s, std::uint16_t v) {
    s->push_back(static_cast<char>(v & 0xff));
    s->push_back(static_cast<char>(v >> 8));
}
void Put32(std::string* s, std::uint32_t v) {
    Put16(s, static_cast<std::uint16_t>(v & 0xffff));
    Put16(s, static_cast<std::uint16_t>(v >> 16));
}

// A little-endian TIFF of one strip holding `code`, Group 4, black 1.
std::string TiffAround(std::string_view code, std::uint32_t width, std::uint32_t rows) {
    const std::uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3},
                                     {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const std::uint32_t values[] = {
        width, rows, 1, 4, 0, 0, 1, rows, static_cast<std::uint32_t>(code.size())};
    const std::uint32_t ifd = 8, n = sizeof values / sizeof values[0];
    const std::uint32_t data = ifd + 2 + 12 * n + 4;
    std::string t = "II*";
    t.push_back('\0');
    Put32(&t, ifd);
    Put16(&t, static_cast<std::uint16_t>(n));
    for (std::uint32_t i = 0; i < n; ++i) {
        Put16(&t, tags[i][0]);
        Put16(&t, tags[i][1]);
        Put32(&t, 1);
        const std::uint32_t v = tags[i][0] == 273 ? data : values[i];
        if (tags[i][1] == 3) {
            Put16(&t, static_cast<std::uint16_t>(v));
            Put16(&t, 0);
        } else {
            Put32(&t, v);
        }
    }
    Put32(&t, 0);
    t.append(code);
    return t;
}

}  // namespace

bool DecodeMmr(std::string_view data, std::int64_t width, std::int64_t rows,
               const std::function<void(const std::uint8_t*)>& row, std::string* error) {
    // The block's own width before the code, when it is there: the raster's
    // or its rows padded wider (the padding is not part of the image).
    if (data.size() >= 4) {
        const auto w = static_cast<std::int64_t>(static_cast<std::uint8_t>(data[0])) << 24 |
                       static_cast<std::uint8_t>(data[1]) << 16 |
                       static_cast<std::uint8_t>(data[2]) << 8 | static_cast<std::uint8_t>(data[3]);
        if (w >= width && w < width + kMaxRowPadding) {
            data.remove_prefix(4);
            width = w;
        }
    }
    // libtiff reads on past an end of block as white rows: count them first.
    rows = CountMmrRows(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(),
                        static_cast<long>(width),
                        static_cast<long>(std::min<std::int64_t>(rows, kMaxRasterRows)));
    if (rows < 0) {
        *error = "a broken MMR raster block (its codes are not rows of its width)";
        return false;
    }
    if (rows == 0) return true;
    Memory memory{
        TiffAround(data, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(rows))};
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFClientOpen("raster", "rm", &memory, Read, Write, Seek, Close, Size, Map, Unmap);
    if (tif == nullptr) {
        *error = "an MMR raster block libtiff cannot open";
        return false;
    }
    std::vector<std::uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(tif)) + 1);
    bool ok = true;
    for (std::int64_t r = 0; r < rows && ok; ++r) {
        ok = TIFFReadScanline(tif, line.data(), static_cast<std::uint32_t>(r), 0) >= 0;
        if (ok) row(line.data());
    }
    TIFFClose(tif);
    if (!ok) *error = "a broken MMR raster block (libtiff cannot decode it)";
    return ok;
}

}  // namespace varnu::host::hpgl
