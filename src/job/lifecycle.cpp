// Configuration-time requests and the plot-time requests around a job:
// host checks, identity, messages, tables for the host, the configuration
// record's load and store, and the page data.
#include <cstring>

#include "config/config_record.h"
#include "config/device_tables.h"
#include "config/page_geometry.h"
#include "config/tone_curve.h"
#include "dialogs/dialogs.h"
#include "interface/host_services.h"
#include "interface/messages.h"
#include "interface/output_buffer.h"
#include "interface/packet.h"
#include "job/driver_entry.h"
#include "job/job.h"
#include "job/requests.h"
#include "modes/data_mode.h"
#include "varnu/packet_layouts.h"

namespace varnu {

namespace {

// Host version word at +4: 3 or more is a host we can serve.
constexpr std::int16_t kMinimumHostVersion = 3;
// Identity reply: the host must say it is the CAD host (1) at +4, of a
// release of at least 2 in byte +7.
constexpr std::int16_t kExpectedHostKind = 1;
constexpr std::uint8_t kMinimumHostRelease = 2;
constexpr std::int16_t kForeignHostReply = -3;
constexpr std::int16_t kOldHostReply = -5;

constexpr std::size_t kHostTableSize = 262;  // requests 22, 23, 25
constexpr double kRequest44Value = 0.00278;

bool VersionCheck() {
    if (PacketGet<std::int16_t>(layout::version::kVersion) < kMinimumHostVersion) {
        ReportSlot(kMsgBadHostVersion);
        JobState.ErrorLatch = kLatchHostInterface;
        SetResult(kResultFailed);
        return false;
    }
    PacketPut<std::int16_t>(layout::version::kVersion, 3);
    PacketPut<std::int16_t>(layout::version::kZero, 0);
    return true;
}

void IdentityReply() {
    PacketPut<std::int16_t>(layout::reset::kKindAnswer, 0);
    PacketPut<std::int16_t>(layout::reset::kZero, 0);
    std::memcpy(CurrentPacket + layout::reset::kIdentity, Module.DriverHeader, kIdentityReplySize);
    if (PacketGet<std::int16_t>(layout::reset::kHostKind) != kExpectedHostKind) {
        ReportSlot(kMsgForeignHost);
        PacketPut<std::int16_t>(layout::reset::kKindAnswer, kForeignHostReply);
        JobState.ErrorLatch = kLatchHostInterface;
    } else if (PacketGet<std::uint8_t>(layout::reset::kHostRelease) < kMinimumHostRelease) {
        ReportSlot(kMsgBadHostVersion);
        PacketPut<std::int16_t>(layout::reset::kKindAnswer, kOldHostReply);
        JobState.ErrorLatch = kLatchHostInterface;
    }
}

bool StoreOrReport() {
    if (StoreConfigToHost() == 0) return true;
    ReportSlot(kMsgConfigNotStored);
    JobState.ErrorLatch = kLatchHostInterface;
    SetResult(kResultFailed);
    return false;
}

void ByteTable(std::int16_t tag, std::uint8_t fill) {
    SetResult(kResultOk);
    PacketPut<std::int16_t>(layout::byte_table::kReplySize, kHostTableSize);
    PacketPut<std::int16_t>(layout::byte_table::kTag, tag);
    std::memset(CurrentPacket + layout::byte_table::kEntries, fill, 256);
}

}  // namespace

bool PassLatchGate() {
    if (JobState.ErrorLatch == kLatchClear) return true;
    SetResult(kResultFailed);
    return false;
}

void DriverVersionCheck() {
    if (!PassLatchGate()) return;
    if (!VersionCheck()) return;
    SetResult(kResultOk);
    Module.HostWindow = PacketGet<std::uint32_t>(layout::version::kHostWindow);
}

void DriverModelDescription() {
    LoadConfigFromHost();  // a host without a stored record leaves ours as it is
    Configuration.CurrentModel = 0;
    PacketPut<std::int16_t>(layout::model::kZero, 0);
    PacketPut<std::int16_t>(layout::model::kModelCount, kModelCount);
    std::memcpy(CurrentPacket + layout::model::kName, ModelTable[0].name,
                sizeof ModelTable[0].name);
    SetResult(kResultOk);
    PacketPut<std::int16_t>(layout::model::kReplySize, 40);
}

void DriverConfigure() {
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    if (PacketGet<std::int16_t>(layout::configure::kDefaults) == 1 ||
        Configuration.Config.modelIndex != Configuration.CurrentModel ||
        LoadConfigFromHost() != 0) {
        applyConfigDefaults(Configuration.CurrentModel);
    }

    // The fixed part of the reply, before the dialog.
    namespace cfg = layout::configure;
    PacketPut<std::int16_t>(cfg::kFixed40, 395);
    PacketPut<std::int16_t>(cfg::kPort, (Configuration.Config.optionFlags & kOptionSerial) ? 1 : 2);
    PacketPut<std::int16_t>(cfg::kStopBits, 1);
    PacketPut<std::int16_t>(cfg::kParity, 0);
    PacketPut<std::int16_t>(cfg::kDataBits, 8);
    PacketPut<std::int16_t>(cfg::kBaud, 9600);
    PacketPut<std::uint8_t>(cfg::kFixed58, 0);

    ShowDetailDialog();

    PacketPut<std::int16_t>(cfg::kReplySize, 59);
    double x = 0, y = 0;
    ComputePageGeometry(true, &x, &y);
    PacketPut<double>(cfg::kExtentX, x);
    PacketPut<double>(cfg::kExtentY, y);
    PacketPut<double>(cfg::kResolutionX, Configuration.PageGeometry.HostResolution[0]);
    PacketPut<double>(cfg::kResolutionY, Configuration.PageGeometry.HostResolution[1]);
    PacketPut<std::int16_t>(cfg::kPenCount, 255);
    PacketPut<std::int16_t>(cfg::kFixed44, 1);
    PacketPut<std::int16_t>(cfg::kFixed46, 7);
    rebuildToneCurveFromConfig();
}

void DriverZeroTable() {
    ByteTable(7, 0);
}

void DriverOneTable() {
    ByteTable(255, 1);
}

void DriverIdentityTable() {
    ByteTable(255, 0);
    std::uint8_t* entries = CurrentPacket + layout::byte_table::kEntries;
    for (int i = 1; i < 256; ++i) entries[i] = static_cast<std::uint8_t>(i);
    entries[0] = 1;
}

void DriverCapabilities() {
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    namespace caps = layout::capabilities;
    PacketPut<std::uint8_t>(caps::kFlag4, 1);
    PacketPut<std::uint8_t>(caps::kFlag139, 2);
    PacketPut<std::uint8_t>(caps::kFlag140, 0);
    PacketPut<std::uint32_t>(caps::kOptions, PacketGet<std::uint32_t>(caps::kOptions) | 0x80000u);
}

void DriverDoubleTable() {
    SetResult(kResultOk);
    namespace table = layout::double_table;
    const std::uint32_t sum = PacketGet<std::uint32_t>(table::kValue) +
                              static_cast<std::uint32_t>(PacketGet<std::int16_t>(table::kAddend));
    PacketPut<std::uint16_t>(table::kSum, static_cast<std::uint16_t>(sum));
    PacketPut<std::int32_t>(table::kCount, 255);
    for (int i = 0; i < 256; ++i) PacketPut<double>(table::kEntries + 8 * i, kRequest44Value);
}

void DriverSaveConfig() {
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    Configuration.Config.modelIndex = static_cast<std::int16_t>(Configuration.CurrentModel);
    StoreOrReport();
}

void DriverReset() {
    JobState.ErrorLatch = kLatchClear;
    IdentityReply();
}

void InstallMessagesRequest() {
    InstallMessages();
}

void PlotOpen() {
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    if (!VersionCheck()) return;
    if (LoadConfigFromHost() != 0) {
        ReportSlot(kMsgConfigNotLoaded);
        JobState.ErrorLatch = kLatchHostInterface;
        SetResult(kResultFailed);
        return;
    }
    // A record stored for a model we do not have plots with the first model.
    Configuration.CurrentModel =
        Model(Configuration.Config.modelIndex) != nullptr ? Configuration.Config.modelIndex : 0;
    if (Configuration.Config.copies > kMaxCopies) Configuration.Config.copies = 1;
    Configuration.JobCopies = Configuration.Config.copies;
    PacketPut<std::int16_t>(layout::version::kVersion, 3);
    PacketPut<std::int16_t>(layout::version::kZero, 0);
    Module.HostWindow = PacketGet<std::uint32_t>(layout::version::kHostWindow);
    Configuration.LabelText[0] = '\0';
    rebuildToneCurveFromConfig();
}

void PlotConfigure() {
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    namespace pg = layout::page;
    std::uint8_t copy[pg::kConfigureSize];
    std::memcpy(copy, CurrentPacket, sizeof copy);
    Configuration.HostOptionBits = LoadLe<std::uint32_t>(copy, pg::kOptionBits);
    copy[pg::kFlag139] = 2;
    copy[pg::kFlag140] = 0;

    ShowDriverDialog();

    double x = 0, y = 0;
    ComputePageGeometry(true, &x, &y);
    StoreLe(copy, pg::kExtentX, x);
    StoreLe(copy, pg::kPaperX, x);
    StoreLe(copy, pg::kExtentY, y);
    StoreLe(copy, pg::kPaperY, y);
    StoreLe(copy, pg::kResolutionX, Configuration.PageGeometry.HostResolution[0]);
    StoreLe(copy, pg::kResolutionY, Configuration.PageGeometry.HostResolution[0]);
    JobState.PlotExtentX = x;
    JobState.PlotExtentY = y;
    std::memcpy(copy + pg::kPaperName, "MAX", 4);
    std::memcpy(CurrentPacket, copy, sizeof copy);
    SetResult(kResultPageData);

    // Stored whether the dialog ended with "OK" or "Abbrechen".
    StoreOrReport();
}

void PlotExtents() {
    if (!PassLatchGate()) return;
    JobState.PlotExtentX = PacketGet<double>(layout::page::kExtentX);
    JobState.PlotExtentY = PacketGet<double>(layout::page::kExtentY);
    UpdateVcglShortCoordinates();
    PacketPut<std::uint8_t>(layout::page::kFlag139, 2);
    Configuration.HostOptionBits = PacketGet<std::uint32_t>(layout::page::kOptionBits);
}

void PlotPageData() {
    if (!PassLatchGate()) return;
    namespace pg = layout::page;
    SetResult(kResultOk);
    Configuration.HostOptionBits = PacketGet<std::uint32_t>(pg::kOptionBits);
    if (Configuration.PaperListStale != 1) return;
    Configuration.PaperListStale = 0;
    RebuildPaperNameList(Configuration.CurrentModel);

    PacketPut<std::uint8_t>(pg::kFlag139, 2);
    PacketPut<std::uint8_t>(pg::kFlag140, 0);
    if (Configuration.Config.paperIndex > Configuration.PaperNameList.count)
        Configuration.Config.paperIndex = 1;
    double x = 0, y = 0;
    ComputePageGeometry(false, &x, &y);
    PacketPut<double>(pg::kPaperX, x);
    PacketPut<double>(pg::kPaperY, y);
    if (x <= PacketGet<double>(pg::kExtentX) && y <= PacketGet<double>(pg::kExtentY)) {
        // The page fits the extents the host offered.
        PacketPut<double>(pg::kExtentX, x);
        PacketPut<double>(pg::kExtentY, y);
        std::memcpy(CurrentPacket + pg::kPaperName, "MAX", 4);
    }
    JobState.PlotExtentX = PacketGet<double>(pg::kExtentX);
    JobState.PlotExtentY = PacketGet<double>(pg::kExtentY);
    Configuration.PageGeometry.HostResolution[0] = PacketGet<double>(pg::kResolutionX);
    Configuration.PageGeometry.HostResolution[1] = PacketGet<double>(pg::kResolutionY);
    UpdateVcglShortCoordinates();
    SetResult(kResultPageData);
}

void PlotReset() {
    Configuration.PaperListStale = 1;
    // A new plot: the latch clear, no page open and nothing on it to close.
    ReleaseCommandBuffer();
    JobState = JobStateRecord{};
    PageState.PageHasContent = 0;
    IdentityReply();
}

}  // namespace varnu
