// The staging buffer, the error latch, PE numbers and the big-endian packers.
#include "interface/output_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "config/config_record.h"
#include "interface/messages.h"
#include "modes/data_mode.h"
#include "test_host.h"

namespace varnu::testing {
namespace {

constexpr std::int32_t kCap = kCommandBufferCapacity;

class OutputBufferTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        InstallMessages();
        ASSERT_TRUE(AllocateCommandBuffer());
    }
    void TearDown() override { ReleaseCommandBuffer(); }

    std::vector<std::int32_t> WriteSizes() {
        std::vector<std::int32_t> sizes;
        for (const auto& call : host().CallsOf(CallKind::WriteOutput))
            sizes.push_back(static_cast<std::int32_t>(call.bytes.size()));
        return sizes;
    }

    static std::string Pattern(std::size_t n) {
        std::string s(n, '\0');
        for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
        return s;
    }
};

TEST_F(OutputBufferTest, FlushSendsPiecesOfAtMost128Bytes) {
    const std::string data = Pattern(300);
    ASSERT_EQ(AppendBytes(300, data.data()), 0);
    EXPECT_TRUE(host().Calls().empty());
    ASSERT_EQ(FlushOutput(), 0);
    EXPECT_EQ(WriteSizes(), (std::vector<std::int32_t>{128, 128, 44}));
    EXPECT_EQ(host().Output(), data);
    for (const auto& call : host().CallsOf(CallKind::WriteOutput)) {
        EXPECT_EQ(call.a, 1);
        EXPECT_EQ(call.b, 0);
        EXPECT_EQ(call.c, 0);
    }
    EXPECT_EQ(PageState.CommandFill, 0);
    ASSERT_EQ(FlushOutput(), 0);  // nothing waiting: no call
    EXPECT_EQ(WriteSizes().size(), 3u);
}

TEST_F(OutputBufferTest, BufferNeverWaitsFull) {
    const std::string big = Pattern(kCap - 1);
    ASSERT_EQ(AppendBytes(kCap - 1, big.data()), 0);
    EXPECT_TRUE(host().Calls().empty());
    EXPECT_EQ(PageState.CommandFill, kCap - 1);

    ASSERT_EQ(AppendText("Z"), 0);
    const auto sizes = WriteSizes();
    ASSERT_EQ(sizes.size(), 16384u);
    EXPECT_EQ(sizes.back(), 127);
    EXPECT_EQ(host().Output(), big);
    EXPECT_EQ(PageState.CommandFill, 1);
    EXPECT_EQ(PageState.CommandBuffer[0], 'Z');
}

TEST_F(OutputBufferTest, WholeBlocksGoOutAfterWhatWaits) {
    ASSERT_EQ(AppendText("0123456789"), 0);
    const std::string block = Pattern(kCap);
    ASSERT_EQ(AppendBytes(kCap, block.data()), 0);
    const auto sizes = WriteSizes();
    ASSERT_EQ(sizes.size(), 1u + 16384u);
    EXPECT_EQ(sizes[0], 10);
    for (std::size_t i = 1; i < sizes.size(); ++i) ASSERT_EQ(sizes[i], 128);
    EXPECT_EQ(host().Output(), "0123456789" + block);
    EXPECT_EQ(PageState.CommandFill, 0);
}

TEST_F(OutputBufferTest, TwoBlocksAndARemainderKeepTheRemainderWaiting) {
    const std::string data = Pattern(2 * std::size_t{kCap} + 300);
    ASSERT_EQ(AppendBytes(static_cast<std::int32_t>(data.size()), data.data()), 0);
    EXPECT_EQ(WriteSizes().size(), 2u * 16384u);
    EXPECT_EQ(PageState.CommandFill, 300);
    ASSERT_EQ(FlushOutput(), 0);
    EXPECT_EQ(host().Output(), data);
}

TEST_F(OutputBufferTest, EmptyTextAndZeroCountCallNothing) {
    EXPECT_EQ(AppendText(""), 0);
    EXPECT_EQ(AppendBytes(0, nullptr), 0);
    EXPECT_EQ(PageState.CommandFill, 0);
    EXPECT_TRUE(host().Calls().empty());
}

TEST_F(OutputBufferTest, ZeroBytesInsideBinaryDataAreKept) {
    ASSERT_EQ(AppendBytes(4, "\x9B\x00\x02\x00"), 0);
    ASSERT_EQ(FlushOutput(), 0);
    EXPECT_EQ(host().Output(), Bytes("\x9B\x00\x02\x00"));
}

TEST_F(OutputBufferTest, WithoutABufferEverythingSucceedsAndStoresNothing) {
    ReleaseCommandBuffer();
    JobState.ErrorLatch = kLatchOutput;
    EXPECT_EQ(AppendText("PA0,0;"), 0);
    EXPECT_EQ(AppendPeNumber(5, false), 0);
    EXPECT_EQ(FlushOutput(), 0);
    EXPECT_EQ(PageState.CommandFill, 0);
    EXPECT_TRUE(host().Calls().empty());
}

TEST_F(OutputBufferTest, FailedWriteReportsOnceLatchesAndDropsTheRest) {
    PageState.PageHasContent = 1;
    Configuration.JobCopies = 4;
    const std::string data = Pattern(1000);
    ASSERT_EQ(AppendBytes(1000, data.data()), 0);
    host().writesBeforeFailure = 2;
    EXPECT_EQ(FlushOutput(), -1);
    EXPECT_EQ(JobState.ErrorLatch, kLatchOutput);
    EXPECT_EQ(PageState.CommandFill, 0);
    EXPECT_EQ(PageState.PageHasContent, 0);
    EXPECT_EQ(Configuration.JobCopies, 1);
    EXPECT_EQ(host().Output(), data.substr(0, 256));
    EXPECT_EQ(host().Messages(), std::vector<std::string>{"\nFehler bei der Plotter-Ausgabe. \n"});

    // Later output of the job fails quietly: no host call, no second message.
    host().ClearCalls();
    host().writesBeforeFailure = -1;
    PageState.PageHasContent = 1;
    EXPECT_EQ(AppendText("SP1;"), -1);
    EXPECT_EQ(PageState.PageHasContent, 0);
    EXPECT_EQ(AppendPeNumber(1, false), -1);
    EXPECT_EQ(FlushOutput(), -1);
    EXPECT_EQ(PageState.CommandFill, 0);
    EXPECT_TRUE(host().Calls().empty());
}

TEST_F(OutputBufferTest, FailureWhileFlushingForABigAppendStopsTheAppend) {
    ASSERT_EQ(AppendText("abc"), 0);
    host().writesBeforeFailure = 0;
    const std::string block = Pattern(kCap);
    EXPECT_EQ(AppendBytes(kCap, block.data()), -1);
    EXPECT_EQ(JobState.ErrorLatch, kLatchOutput);
    EXPECT_EQ(host().Messages().size(), 1u);
}

TEST_F(OutputBufferTest, FormattedTextIsBoundedByTheScratch) {
    ASSERT_EQ(AppendFormat("BP2,%d;IN;", 3), 0);
    const std::string longLabel(2000, 'L');
    ASSERT_EQ(AppendFormat("%s", longLabel.c_str()), 0);
    EXPECT_EQ(PageState.CommandFill, 9 + kCommandScratchSize - 1);
}

// PE numbers --------------------------------------------------------------

std::string Pe(std::int32_t value) {
    const std::int32_t before = PageState.CommandFill;
    EXPECT_EQ(AppendPeNumber(value, (Configuration.Config.optionFlags & kOptionPe8Bit) != 0), 0);
    return std::string(reinterpret_cast<const char*>(PageState.CommandBuffer) + before,
                       PageState.CommandFill - before);
}

// Reference: the sign-folded value written in base 32 (or 64), low group first.
std::string PeReference(std::int64_t v, bool eightBit) {
    std::uint64_t z =
        v >= 0 ? 2 * static_cast<std::uint64_t>(v) : 2 * static_cast<std::uint64_t>(-v) + 1;
    const std::uint64_t base = eightBit ? 64 : 32;
    std::string out;
    while (z >= base) {
        out += static_cast<char>(z % base + 63);
        z /= base;
    }
    out += static_cast<char>(z + (eightBit ? 191 : 95));
    return out;
}

TEST_F(OutputBufferTest, PeNumbersInTheSevenBitForm) {
    EXPECT_EQ(Pe(0), "_");
    EXPECT_EQ(Pe(-1), "b");
    EXPECT_EQ(Pe(100), "Ge");
    EXPECT_EQ(Pe(15), "}");
    EXPECT_EQ(Pe(-15), "~");
    EXPECT_EQ(Pe(16), "?`");
    for (std::int32_t v = -70000; v <= 70000; v += 7) ASSERT_EQ(Pe(v), PeReference(v, false)) << v;
}

TEST_F(OutputBufferTest, PeNumbersInTheEightBitForm) {
    Configuration.Config.optionFlags |= kOptionPe8Bit;
    EXPECT_EQ(Pe(0), "\xbf");
    EXPECT_EQ(Pe(31), "\xfd");
    EXPECT_EQ(Pe(32), "?\xc0");
    for (std::int32_t v = -70000; v <= 70000; v += 7) ASSERT_EQ(Pe(v), PeReference(v, true)) << v;
}

TEST_F(OutputBufferTest, PeNumbersAtTheEndsOfThe32BitRange) {
    for (std::int32_t v : {std::numeric_limits<std::int32_t>::max(),
                           std::numeric_limits<std::int32_t>::min(), (1 << 30), -(1 << 30)}) {
        EXPECT_EQ(Pe(v), PeReference(v, false)) << v;
    }
    EXPECT_EQ(Pe(std::numeric_limits<std::int32_t>::min()).size(), 7u);
}

TEST(PackerTest, BigEndianPackersWriteMostSignificantFirstThenNul) {
    std::uint8_t s[8];
    std::fill(std::begin(s), std::end(s), 0xEE);
    EXPECT_EQ(PackBigEndian16(400, s), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s), 3), Bytes("\x01\x90\x00"));
    EXPECT_EQ(PackBigEndian16(static_cast<std::uint16_t>(-1), s), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s), 2), "\xFF\xFF");
    EXPECT_EQ(PackBigEndian32(static_cast<std::uint32_t>(-2), s), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s), 5), Bytes("\xFF\xFF\xFF\xFE\x00"));
    EXPECT_EQ(PackBigEndian32(0x12345678, s), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s), 4), "\x12\x34\x56\x78");
    EXPECT_EQ(PackBigEndian8(0x9B, s), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s), 2), Bytes("\x9B\x00"));
}

}  // namespace
}  // namespace varnu::testing
