// The reference jobs the Windows test host replays under Wine: they must pass
// here, write the same bytes every time from a freshly loaded module, and
// their hand-built records must mean what the jobs' names say.
#include "reference_jobs.h"

#include <gtest/gtest.h>

#include <cstring>

#include "job/driver_entry.h"
#include "low_arena.h"
#include "varnu/config_record.h"

namespace varnu::testing {
namespace {

hostkit::LowArena& Arena() {
    static hostkit::LowArena arena(std::size_t{256} << 20);
    return arena;
}

void* LowAllocate(std::size_t size) {
    return Arena().TryAllocate(size);
}

std::vector<reference::JobResult> RunAll() {
    RestoreModuleLoadStateForTesting();
    std::vector<reference::JobResult> results;
    for (const auto& job : reference::Jobs()) {
        results.push_back(reference::RunJob(job, &PLADI, &LowAllocate));
        Arena().Reset();
    }
    return results;
}

TEST(ReferenceJobs, PassAndRepeatByteForByte) {
    const auto first = RunAll();
    const auto second = RunAll();
    const auto& jobs = reference::Jobs();
    ASSERT_EQ(first.size(), jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(jobs[i].name);
        EXPECT_EQ(first[i].error, "");
        EXPECT_TRUE(first[i].messages.empty());
        EXPECT_GT(first[i].output.size(), 10000u);
        EXPECT_EQ(reference::FirstDifference(first[i].output, second[i].output), "");
    }
}

TEST(ReferenceJobs, RecordsSayWhatTheJobsAreNamedFor) {
    const auto& jobs = reference::Jobs();
    ASSERT_EQ(jobs.size(), 6u);
    ConfigRecord r{};
    DecodeConfigRecord(jobs[0].record, &r);
    EXPECT_EQ(r.modeFlags, kResolution600);
    EXPECT_EQ(r.optionFlags, kOptionHalftoneFill);
    DecodeConfigRecord(jobs[1].record, &r);
    EXPECT_EQ(r.copies, 3);
    EXPECT_EQ(r.marginMm, 7);
    EXPECT_EQ(r.finishProgramIndex, 2);
    EXPECT_EQ(r.modeFlags, kResolution300 | kModeManualOutput | kModeLongEdgeAlongX);
    DecodeConfigRecord(jobs[2].record, &r);
    EXPECT_EQ(r.modeFlags, kModeVcgl | kResolution400);
    DecodeConfigRecord(jobs[3].record, &r);
    EXPECT_EQ(r.paperIndex, 33);
    EXPECT_EQ(r.customLengthMm, 2400);
    EXPECT_EQ(r.optionFlags, kOptionPe8Bit);
    EXPECT_EQ(r.modeFlags, kModeVcgl | kResolution200);
    const std::uint8_t curve[5] = {0, 70, 135, 200, 255};
    EXPECT_EQ(0, std::memcmp(r.curvePoints, curve, 5));
    DecodeConfigRecord(jobs[4].record, &r);
    EXPECT_EQ(r.modeFlags, kResolution600);
    DecodeConfigRecord(jobs[5].record, &r);
    EXPECT_EQ(r.paperIndex, 33);
    EXPECT_EQ(r.customLengthMm, 600);
    EXPECT_EQ(r.modeFlags, kModeVcgl | kResolution400);
}

TEST(ReferenceJobs, DifferencesAreReportedWithTheirOffset) {
    EXPECT_EQ(reference::FirstDifference("abc", "abc"), "");
    EXPECT_EQ(reference::FirstDifference("abcd", "abXd"),
              "4 bytes expected, 4 written; first difference at 2:\n"
              "  expected 61 62[63 64\n  written  61 62[58 64");
}

}  // namespace
}  // namespace varnu::testing
