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
#include "vector/vector_state.h"

namespace varnu {

std::uint32_t HostOptionBits = 0;
std::uint8_t PaperListStale = 0;

namespace {

// Host version word at +4: 3 or more is a host we can serve.
constexpr std::int16_t kMinimumHostVersion = 3;
// Identity reply: the host must say it is the CAD host (1) at +4, of a
// release of at least 2 in byte +7.
constexpr std::int16_t kExpectedHostKind = 1;
constexpr std::uint8_t kMinimumHostRelease = 2;
constexpr std::int16_t kForeignHostReply = -3;
constexpr std::int16_t kOldHostReply = -5;

// The page-data block that plot request 46 reads and writes back whole.
constexpr std::size_t kPlotConfigureSize = 267;

constexpr std::size_t kHostTableSize = 262;  // requests 22, 23, 25
constexpr double kRequest44Value = 0.00278;

bool VersionCheck() {
    if (PacketGet<std::int16_t>(4) < kMinimumHostVersion) {
        ReportSlot(kMsgBadHostVersion);
        ErrorLatch = kLatchHostInterface;
        SetResult(kResultFailed);
        return false;
    }
    PacketPut<std::int16_t>(4, 3);
    PacketPut<std::int16_t>(6, 0);
    return true;
}

void IdentityReply() {
    PacketPut<std::int16_t>(10, 0);
    PacketPut<std::int16_t>(12, 0);
    std::memcpy(CurrentPacket + 86, DriverHeader, kIdentityReplySize);
    if (PacketGet<std::int16_t>(4) != kExpectedHostKind) {
        ReportSlot(kMsgForeignHost);
        PacketPut<std::int16_t>(10, kForeignHostReply);
        ErrorLatch = kLatchHostInterface;
    } else if (PacketGet<std::uint8_t>(7) < kMinimumHostRelease) {
        ReportSlot(kMsgBadHostVersion);
        PacketPut<std::int16_t>(10, kOldHostReply);
        ErrorLatch = kLatchHostInterface;
    }
}

bool StoreOrReport() {
    if (StoreConfigToHost() == 0) return true;
    ReportSlot(kMsgConfigNotStored);
    ErrorLatch = kLatchHostInterface;
    SetResult(kResultFailed);
    return false;
}

void ByteTable(std::int16_t tag, std::uint8_t fill) {
    SetResult(kResultOk);
    PacketPut<std::int16_t>(2, kHostTableSize);
    PacketPut<std::int16_t>(4, tag);
    std::memset(CurrentPacket + 6, fill, 256);
}

}  // namespace

bool PassLatchGate() {
    if (ErrorLatch == kLatchClear) return true;
    SetResult(kResultFailed);
    return false;
}

void DriverVersionCheck() {
    if (!PassLatchGate()) return;
    if (!VersionCheck()) return;
    SetResult(kResultOk);
    HostWindow = PacketGet<std::uint32_t>(11);
}

void DriverModelDescription() {
    LoadConfigFromHost();  // a host without a stored record leaves ours as it is
    CurrentModel = 0;
    PacketPut<std::int16_t>(6, 0);
    PacketPut<std::int16_t>(4, kModelCount);
    std::memcpy(CurrentPacket + 8, ModelTable[0].name, sizeof ModelTable[0].name);
    SetResult(kResultOk);
    PacketPut<std::int16_t>(2, 40);
}

void DriverConfigure() {
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    if (PacketGet<std::int16_t>(6) == 1 || Config.modelIndex != CurrentModel ||
        LoadConfigFromHost() != 0) {
        applyConfigDefaults(CurrentModel);
    }

    // The fixed part of the reply, before the dialog.
    PacketPut<std::int16_t>(40, 395);
    PacketPut<std::int16_t>(48, (Config.optionFlags & kOptionSerial) ? 1 : 2);
    PacketPut<std::int16_t>(56, 1);
    PacketPut<std::int16_t>(52, 0);
    PacketPut<std::int16_t>(54, 8);
    PacketPut<std::int16_t>(50, 9600);
    PacketPut<std::uint8_t>(58, 0);

    ShowDetailDialog();

    PacketPut<std::int16_t>(2, 59);
    double x = 0, y = 0;
    ComputePageGeometry(true, &x, &y);
    PacketPut<double>(8, x);
    PacketPut<double>(16, y);
    PacketPut<double>(24, PageGeometry.HostResolution[0]);
    PacketPut<double>(32, PageGeometry.HostResolution[1]);
    PacketPut<std::int16_t>(42, 255);
    PacketPut<std::int16_t>(44, 1);
    PacketPut<std::int16_t>(46, 7);
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
    for (int i = 1; i < 256; ++i) CurrentPacket[6 + i] = static_cast<std::uint8_t>(i);
    CurrentPacket[6] = 1;
}

void DriverCapabilities() {
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    PacketPut<std::uint8_t>(4, 1);
    PacketPut<std::uint8_t>(139, 2);
    PacketPut<std::uint8_t>(140, 0);
    PacketPut<std::uint32_t>(5, PacketGet<std::uint32_t>(5) | 0x80000u);
}

void DriverDoubleTable() {
    SetResult(kResultOk);
    const std::uint32_t sum =
        PacketGet<std::uint32_t>(8) + static_cast<std::uint32_t>(PacketGet<std::int16_t>(12));
    PacketPut<std::uint16_t>(2, static_cast<std::uint16_t>(sum));
    PacketPut<std::int32_t>(4, 255);
    for (int i = 0; i < 256; ++i) PacketPut<double>(16 + 8 * i, kRequest44Value);
}

void DriverSaveConfig() {
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    Config.modelIndex = static_cast<std::int16_t>(CurrentModel);
    StoreOrReport();
}

void DriverReset() {
    ErrorLatch = kLatchClear;
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
        ErrorLatch = kLatchHostInterface;
        SetResult(kResultFailed);
        return;
    }
    // A record stored for a model we do not have plots with the first model.
    CurrentModel = Model(Config.modelIndex) != nullptr ? Config.modelIndex : 0;
    if (Config.copies > kMaxCopies) Config.copies = 1;
    JobCopies = Config.copies;
    PacketPut<std::int16_t>(4, 3);
    PacketPut<std::int16_t>(6, 0);
    HostWindow = PacketGet<std::uint32_t>(11);
    LabelText[0] = '\0';
    rebuildToneCurveFromConfig();
}

void PlotConfigure() {
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    std::uint8_t copy[kPlotConfigureSize];
    std::memcpy(copy, CurrentPacket, sizeof copy);
    HostOptionBits = LoadLe<std::uint32_t>(copy, 5);
    copy[139] = 2;
    copy[140] = 0;

    ShowDriverDialog();

    double x = 0, y = 0;
    ComputePageGeometry(true, &x, &y);
    StoreLe(copy, 9, x);
    StoreLe(copy, 25, x);
    StoreLe(copy, 17, y);
    StoreLe(copy, 33, y);
    StoreLe(copy, 41, PageGeometry.HostResolution[0]);
    StoreLe(copy, 49, PageGeometry.HostResolution[0]);
    PageGeometry.PlotExtentX = x;
    PageGeometry.PlotExtentY = y;
    std::memcpy(copy + 73, "MAX", 4);
    std::memcpy(CurrentPacket, copy, sizeof copy);
    SetResult(kResultPageData);

    // Stored whether the dialog ended with "OK" or "Abbrechen".
    StoreOrReport();
}

void PlotExtents() {
    if (!PassLatchGate()) return;
    PageGeometry.PlotExtentX = PacketGet<double>(9);
    PageGeometry.PlotExtentY = PacketGet<double>(17);
    UpdateVcglShortCoordinates();
    PacketPut<std::uint8_t>(139, 2);
    HostOptionBits = PacketGet<std::uint32_t>(5);
}

void PlotPageData() {
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    HostOptionBits = PacketGet<std::uint32_t>(5);
    if (PaperListStale != 1) return;
    PaperListStale = 0;
    RebuildPaperNameList(CurrentModel);

    PacketPut<std::uint8_t>(139, 2);
    PacketPut<std::uint8_t>(140, 0);
    if (Config.paperIndex > PaperNameList.count) Config.paperIndex = 1;
    double x = 0, y = 0;
    ComputePageGeometry(false, &x, &y);
    PacketPut<double>(25, x);
    PacketPut<double>(33, y);
    if (x <= PacketGet<double>(9) && y <= PacketGet<double>(17)) {
        // The page fits the extents the host offered.
        PacketPut<double>(9, x);
        PacketPut<double>(17, y);
        std::memcpy(CurrentPacket + 73, "MAX", 4);
    }
    PageGeometry.PlotExtentX = PacketGet<double>(9);
    PageGeometry.PlotExtentY = PacketGet<double>(17);
    PageGeometry.HostResolution[0] = PacketGet<double>(41);
    PageGeometry.HostResolution[1] = PacketGet<double>(49);
    UpdateVcglShortCoordinates();
    SetResult(kResultPageData);
}

void PlotReset() {
    PaperListStale = 1;
    OutputHandle = -1;
    ErrorLatch = kLatchClear;
    PageHasContent = 0;
    ReleaseCommandBuffer();
    PageGeometry.PlotExtentX = 0;
    PageGeometry.PlotExtentY = 0;
    PendingPenReselect = 0;
    BlackPen = 7;
    IdentityReply();
}

void ResetRequestStateOnLoad() {
    HostOptionBits = 0;
    PaperListStale = 0;
    HostWindow = 0;
}

}  // namespace varnu
