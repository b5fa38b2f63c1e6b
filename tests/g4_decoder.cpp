#include "g4_decoder.h"

#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace varnu::testing {

void SetGroup4Tags(TIFF* tif, std::int32_t width, std::int32_t rows) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(rows));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(rows));
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
}

std::vector<std::uint8_t> DecodeGroup4(const std::string& coded, std::int32_t width,
                                       std::int32_t rows) {
    char path[] = "/tmp/varnu-g4-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    close(fd);
    TIFFSetWarningHandler(nullptr);
    std::vector<std::uint8_t> out;
    if (TIFF* tif = TIFFOpen(path, "w")) {
        SetGroup4Tags(tif, width, rows);
        TIFFWriteRawStrip(tif, 0, const_cast<char*>(coded.data()),
                          static_cast<tmsize_t>(coded.size()));
        TIFFClose(tif);
    }
    if (TIFF* tif = TIFFOpen(path, "r")) {
        const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
        out.resize(rowBytes * static_cast<std::size_t>(rows));
        if (TIFFReadEncodedStrip(tif, 0, out.data(), static_cast<tmsize_t>(out.size())) < 0)
            out.clear();
        TIFFClose(tif);
    }
    std::remove(path);
    return out;
}

std::vector<std::uint8_t> PackRows(const std::uint8_t* rows, std::int32_t width, std::int32_t count,
                                   std::int32_t stride) {
    const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
    std::vector<std::uint8_t> out(rowBytes * static_cast<std::size_t>(count));
    for (std::int32_t y = 0; y < count; ++y) {
        for (std::int32_t p = 0; p < width; ++p) {
            std::uint32_t word;
            std::memcpy(&word, rows + static_cast<std::size_t>(y) * stride + 4 * (p / 32), 4);
            if (word & (0x80000000u >> (p % 32)))
                out[y * rowBytes + p / 8] |= static_cast<std::uint8_t>(0x80 >> (p % 8));
        }
    }
    return out;
}

}  // namespace varnu::testing
