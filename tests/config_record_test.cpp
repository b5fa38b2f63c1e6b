// The stored configuration record, its defaults, and the tone curve.
#include "config/config_record.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "config/tone_curve.h"
#include "test_host.h"
#include "varnu/default_tone_curve.h"

namespace varnu::testing {
namespace {

using ConfigTest = DriverTest;

std::array<std::uint8_t, 40> Encoded(const ConfigRecord& r) {
    std::array<std::uint8_t, 40> out{};
    EncodeConfigRecord(r, out.data());
    return out;
}

TEST_F(ConfigTest, StoredBytesFollowTheFieldOffsets) {
    ConfigRecord r{};
    r.copies = 0x01020304;
    r.paperIndex = 0x05060708;
    r.customLengthMm = 0x090A0B0C;
    r.mediaIndex = 0x0D0E;
    r.finishProgramIndex = 0x0F10;
    r.finishMarginIndex = 0x1112;
    r.outputBinIndex = 0x1314;
    r.redPen = 0x15161718;
    r.spareWord = 0x191A;
    r.marginMm = 0x1B1C;
    r.optionFlags = 0x1D1E;
    r.modeFlags = 0x1F20;
    r.modelIndex = 0x2122;
    const std::uint8_t curve[5] = {0x23, 0x24, 0x25, 0x26, 0x27};
    std::memcpy(r.curvePoints, curve, 5);
    r.unusedByte = 0x28;
    const std::uint8_t expected[40] = {0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05, 0x0C, 0x0B,
                                       0x0A, 0x09, 0x0E, 0x0D, 0x10, 0x0F, 0x12, 0x11, 0x14, 0x13,
                                       0x18, 0x17, 0x16, 0x15, 0x1A, 0x19, 0x1C, 0x1B, 0x1E, 0x1D,
                                       0x20, 0x1F, 0x22, 0x21, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28};
    const auto bytes = Encoded(r);
    EXPECT_EQ(std::memcmp(bytes.data(), expected, 40), 0);

    ConfigRecord back{};
    DecodeConfigRecord(bytes.data(), &back);
    EXPECT_EQ(Encoded(back), bytes);
}

TEST_F(ConfigTest, DefaultsForTheShippedModel) {
    Configuration.Config.modelIndex = 7;  // kept as it was
    Configuration.Config.unusedByte = 0;
    applyConfigDefaults(0);
    const std::uint8_t expected[40] = {1,    0,    0,   0,  // copies
                                       1,    0,    0,   0,  // paperIndex
                                       0x8C, 0x01, 0,   0,  // customLengthMm 396
                                       0,    0,    0,   0,   0,
                                       0,    0,    0,              // media, program, margin, bin
                                       1,    0,    0,   0,         // redPen
                                       2,    0,                    // spareWord
                                       0,    0,                    // marginMm
                                       0x00, 0x10,                 // optionFlags: halftone fill
                                       0x00, 0x01,                 // modeFlags: 600 dpi, RTL/GL2
                                       7,    0,                    // modelIndex untouched
                                       0,    123,  187, 228, 255,  // curvePoints
                                       0};
    const auto bytes = Encoded(Configuration.Config);
    EXPECT_EQ(std::memcmp(bytes.data(), expected, 40), 0);
    // The curve through the five values, not the default table.
    EXPECT_EQ(Configuration.ToneCurve[64], 103);
    EXPECT_EQ(Configuration.ToneCurve[128], 174);
}

TEST_F(ConfigTest, RoundTripThroughTheHostByteForByte) {
    applyConfigDefaults(0);
    Configuration.Config.copies = 12;
    Configuration.Config.paperIndex = 23;
    Configuration.Config.customLengthMm = 1000;
    Configuration.Config.marginMm = 5;
    Configuration.Config.modeFlags = kResolution400 | kModeManualOutput;
    Configuration.Config.curvePoints[2] = 140;
    Configuration.Config.unusedByte = 0x5A;
    ASSERT_EQ(StoreConfigToHost(), 0);
    const auto stored = host().storedConfig;
    EXPECT_EQ(stored, Encoded(Configuration.Config));
    const auto storeCall = host().CallsOf(CallKind::StoreConfig).at(0);
    EXPECT_EQ(storeCall.a, 40);

    Configuration.Config = ConfigRecord{};
    ASSERT_EQ(LoadConfigFromHost(), 0);
    EXPECT_EQ(Encoded(Configuration.Config), stored);
    EXPECT_EQ(host().CallsOf(CallKind::LoadConfig).at(0).a, 40);
}

TEST_F(ConfigTest, FailedLoadLeavesTheRecordAsItWas) {
    applyConfigDefaults(0);
    const auto before = Encoded(Configuration.Config);
    host().hasStoredConfig = true;
    host().storedConfig.fill(0xFF);
    host().loadResult = 3;
    EXPECT_EQ(LoadConfigFromHost(), 3);
    EXPECT_EQ(Encoded(Configuration.Config), before);
}

TEST_F(ConfigTest, ModuleLoadState) {
    EXPECT_EQ(Encoded(Configuration.Config), (std::array<std::uint8_t, 40>{}));
    EXPECT_EQ(Configuration.JobCopies, 1);
    EXPECT_EQ(Configuration.LabelText[0], '\0');
    EXPECT_TRUE(std::equal(Configuration.ToneCurve.begin(), Configuration.ToneCurve.end(),
                           DefaultToneCurve.begin()));
}

TEST_F(ConfigTest, ToneCurveIdentityAndDefaults) {
    const std::int32_t identity[5] = {0, 64, 128, 192, 255};
    rebuildToneCurve(identity);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(Configuration.ToneCurve[i], i) << i;

    const std::int32_t defaults[5] = {0, 123, 187, 228, 255};
    rebuildToneCurve(defaults);
    EXPECT_EQ(Configuration.ToneCurve[0], 0);
    EXPECT_EQ(Configuration.ToneCurve[64], 103);
    EXPECT_EQ(Configuration.ToneCurve[124], 170);
    EXPECT_EQ(Configuration.ToneCurve[128], 174);
    EXPECT_EQ(Configuration.ToneCurve[192], 222);
    EXPECT_EQ(Configuration.ToneCurve[255], 255);
    EXPECT_EQ(std::memcmp(Configuration.ToneCurveEditPoints, defaults, sizeof defaults), 0);
}

TEST_F(ConfigTest, ToneCurveOutsideTheByteRangeIsHeldAtItsEnds) {
    const std::int32_t steep[5] = {-300, -300, 128, 600, 600};
    rebuildToneCurve(steep);
    EXPECT_EQ(Configuration.ToneCurve[0], 0);
    EXPECT_EQ(Configuration.ToneCurve[255], 255);
    EXPECT_TRUE(std::is_sorted(Configuration.ToneCurve.begin(), Configuration.ToneCurve.end()));
}

}  // namespace
}  // namespace varnu::testing
