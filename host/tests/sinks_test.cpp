// The PNG sink's image data: deflated in blocks on two threads, read back
// by zlib's inflate and by libpng's own reader.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sinks/block_deflate.h"
#include "sinks/png_file.h"

namespace {

using varnu::host::BlockDeflate;

// Runs of one byte between stretches of noise, as a preview's rows are.
std::vector<std::uint8_t> Bytes(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = (i / 5000) % 3 == 0 ? std::uint8_t(seed >> 24) : std::uint8_t(i / 5000);
    }
    return bytes;
}

std::vector<std::uint8_t> Deflated(const std::vector<std::uint8_t>& input, std::size_t piece) {
    std::vector<std::uint8_t> out;
    BlockDeflate stream(1, [&out](const std::uint8_t* data, std::size_t n) {
        out.insert(out.end(), data, data + n);
    });
    for (std::size_t at = 0; at < input.size(); at += piece)
        stream.Write(input.data() + at, std::min(piece, input.size() - at));
    EXPECT_TRUE(stream.Finish());
    return out;
}

TEST(Sinks, BlocksMakeOneZlibStreamWhateverTheSizes) {
    constexpr std::size_t kBlock = BlockDeflate::kBlockBytes;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{40000}, kBlock - 1,
                                   kBlock, kBlock + 1, 3 * kBlock + 12345}) {
        SCOPED_TRACE(size);
        const std::vector<std::uint8_t> input = Bytes(size, static_cast<std::uint32_t>(size));
        const std::vector<std::uint8_t> deflated = Deflated(input, 70001);
        // Inflate checks the header and the combined checksum.
        std::vector<std::uint8_t> back(size + 1);
        uLongf length = static_cast<uLongf>(back.size());
        ASSERT_EQ(uncompress(back.data(), &length, deflated.data(), deflated.size()), Z_OK);
        back.resize(length);
        EXPECT_EQ(back, input);
        // The same bytes however the input arrives and the threads run.
        EXPECT_EQ(Deflated(input, 1 << 20), deflated);
    }
}

TEST(Sinks, GreyPngReadsBackRowForRow) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("sinks-test-" + std::to_string(getpid()) + ".png"))
                                 .string();
    const int width = 3001, height = 2000;  // several blocks, rows across their ends
    const std::vector<std::uint8_t> pixels = Bytes(std::size_t(width) * height, 7);
    std::string error;
    ASSERT_TRUE(varnu::host::WriteGreyPng(
        path, width, height,
        [&](const std::function<void(const std::uint8_t*)>& row) {
            for (int y = 0; y < height; ++y) row(pixels.data() + std::size_t(y) * width);
        },
        &error))
        << error;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str())) << image.message;
    EXPECT_EQ(image.width, png_uint_32(width));
    EXPECT_EQ(image.height, png_uint_32(height));
    image.format = PNG_FORMAT_GRAY;
    std::vector<std::uint8_t> back(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, back.data(), 0, nullptr)) << image.message;
    EXPECT_EQ(back, pixels);
    std::filesystem::remove(path);
}

}  // namespace
