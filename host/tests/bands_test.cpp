// A picture drawn a band at a time, the next band drawn ahead on a second
// thread: the same bands and pixels as drawn one by one, whatever the order
// the lines are asked in, and a band that cannot be drawn failing only
// when it is reached.
#include "model/bands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace varnu::host::testing {
namespace {

std::uint32_t PixelAt(std::int32_t x, std::int32_t y) {
    return static_cast<std::uint32_t>(x * 7919 + y * 104729) & 0xFFFFFF;
}

// A picture of PixelAt that notes each rectangle it draws, fails on row
// `failing`, and counts draws that overlap in time.
struct Drawn {
    std::mutex mutex;
    std::vector<std::vector<std::int32_t>> calls;
    std::atomic<int> drawing{0};
    std::atomic<bool> overlapped{false};
};

Picture Pattern(Drawn* drawn, bool ahead, std::int32_t failing) {
    Picture p;
    p.width = 300, p.height = 200;
    p.opaque = true;
    p.renderAhead = ahead;
    p.render = [drawn, failing](std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                                std::uint32_t* pixels, std::string* error) {
        if (drawn->drawing++ != 0) drawn->overlapped = true;
        {
            const std::lock_guard<std::mutex> lock(drawn->mutex);
            drawn->calls.push_back({x, y, w, h});
        }
        for (std::int32_t r = 0; r < h; ++r)
            for (std::int32_t c = 0; c < w; ++c) pixels[r * w + c] = PixelAt(x + c, y + r);
        --drawn->drawing;
        if (failing >= y && failing < y + h) {
            *error = "rendering failed";
            return false;
        }
        return true;
    };
    return p;
}

// Rows asked as the driver asks them, upwards, with one jump back down.
std::vector<std::int32_t> Asked() {
    std::vector<std::int32_t> rows;
    for (std::int32_t r = 199; r >= 0; r -= 3) rows.push_back(r);
    rows.push_back(150);
    for (std::int32_t r = 149; r >= 0; r -= 5) rows.push_back(r);
    return rows;
}

TEST(PictureBands, DrawnAheadTheSameBandsAsOneByOne) {
    const std::size_t bandBytes = 4 * 300 * 16;  // 16 rows a band
    std::vector<std::vector<std::int32_t>> calls[2];
    for (const bool ahead : {false, true}) {
        SCOPED_TRACE(ahead ? "ahead" : "one by one");
        Drawn drawn;
        const Picture picture = Pattern(&drawn, ahead, -1);
        PictureBands bands(picture, bandBytes);
        Band band;
        for (const std::int32_t row : Asked()) {
            std::string error;
            // As the row server asks: when the band it holds ends.
            if (band.pixels == nullptr || row < band.y || row >= band.y + band.height) {
                ASSERT_TRUE(bands.Hold(false, row, &band, &error)) << error;
            }
            ASSERT_TRUE(row >= band.y && row < band.y + band.height);
            for (std::int32_t x : {0, 123, 299}) {
                std::uint32_t v;
                std::memcpy(&v, band.pixels + (row - band.y) * band.stride + x * 4, 4);
                EXPECT_EQ(v, PixelAt(x, row)) << x << ", " << row;
            }
        }
        EXPECT_FALSE(drawn.overlapped);
        const std::lock_guard<std::mutex> lock(drawn.mutex);
        calls[ahead] = drawn.calls;
    }
    // Drawn ahead: the bands held are those drawn one by one, each after
    // the one before, and at most the band after the last one besides.
    ASSERT_GE(calls[1].size(), calls[0].size());
    std::vector<std::vector<std::int32_t>> held;
    for (const auto& c : calls[1])
        if (std::find(calls[0].begin(), calls[0].end(), c) != calls[0].end()) held.push_back(c);
    EXPECT_EQ(held, calls[0]);
    EXPECT_LE(calls[1].size(), calls[0].size() + 2);  // the jump and the last band's next
}

TEST(PictureBands, ABandThatCannotBeDrawnFailsWhenReached) {
    Drawn drawn;
    const Picture picture = Pattern(&drawn, true, 100);
    PictureBands bands(picture, 4 * 300 * 16);
    Band band;
    std::string error;
    // Bands of rows 184 to 199, 168 to 183, ... 104 to 119; that of rows
    // 88 to 103 is drawn ahead while row 104 is read, and failed.
    for (std::int32_t row = 199; row >= 104; row -= 16)
        ASSERT_TRUE(bands.Hold(false, row, &band, &error)) << row << ": " << error;
    EXPECT_EQ(band.y, 104);
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(bands.Hold(false, 103, &band, &error));
    EXPECT_EQ(error, "rendering failed");
}

}  // namespace
}  // namespace varnu::host::testing
