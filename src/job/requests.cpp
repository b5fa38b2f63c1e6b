// The two request handlers named in the DriverHeader: keep the packet, then
// dispatch on its code. A code without a handler leaves the packet untouched.
#include "job/requests.h"

#include <array>

#include "config/summary.h"
#include "interface/packet.h"
#include "job/driver_entry.h"
#include "job/job.h"
#include "raster/image_request.h"
#include "varnu/packet_layouts.h"
#include "vector/pens.h"
#include "vector/polygons.h"
#include "vector/vectors.h"

namespace varnu {
namespace {

using Handler = void (*)();

struct RequestEntry {
    std::int16_t code;
    Handler handler;
};

// clang-format off
constexpr RequestEntry kDriverRequests[] = {
    { 2, [] {}},                    // no operation
    {11, DriverVersionCheck},
    {20, DriverModelDescription},
    {21, DriverConfigure},
    {22, DriverZeroTable},
    {23, DriverOneTable},
    {25, DriverIdentityTable},
    {40, DriverCapabilities},
    {44, DriverDoubleTable},
    {47, DriverSaveConfig},
    {49, DriverReset},
    {50, InstallMessagesRequest},
};

constexpr RequestEntry kPlotRequests[] = {
    { 2, JobEnd},
    { 3, MoveTo},
    { 4, DrawTo},
    { 5, SelectPen},
    { 7, SelectLineType},
    { 8, PenUp},
    { 9, AbortPlot},
    {15, DescribeLineTypes},
    {29, PlotOpen},
    {30, JobStart},
    {31, PrintConfigurationSummary},
    {33, PolygonInline},
    {36, SetLineTypeCount},
    {41, SelectPenWidth},
    {43, RefreshModel},
    {46, PlotConfigure},
    {47, PlotExtents},
    {48, PlotPageData},
    {49, PlotReset},
    {50, InstallMessagesRequest},
    {52, AcceptImage},
    {54, PolygonPointer},
};
// clang-format on

constexpr int kHighestCode = 54;
using DispatchTable = std::array<Handler, kHighestCode + 1>;

template <std::size_t N>
constexpr DispatchTable BuildDispatch(const RequestEntry (&entries)[N]) {
    DispatchTable table{};
    for (const auto& entry : entries) table[entry.code] = entry.handler;
    return table;
}

constexpr DispatchTable kDriverDispatch = BuildDispatch(kDriverRequests);
constexpr DispatchTable kPlotDispatch = BuildDispatch(kPlotRequests);

void Dispatch(const DispatchTable& table) {
    const std::int16_t code = PacketGet<std::int16_t>(layout::kCode);
    if (code < 0 || code > kHighestCode || table[code] == nullptr) return;
    table[code]();
}

}  // namespace
}  // namespace varnu

extern "C" void ADI_CALLER_CLEANS DriverRequest(void* packet) {
    using namespace varnu;
    if (packet == nullptr) return;
    CurrentPacket = static_cast<std::uint8_t*>(packet);
    Dispatch(kDriverDispatch);
}

extern "C" void ADI_CALLER_CLEANS PlotRequest(void* packet) {
    using namespace varnu;
    if (packet == nullptr) return;
    CurrentPacket = static_cast<std::uint8_t*>(packet);
    // An image recorded by request 52 is drawn before any request is served.
    FlushPendingImage();
    Dispatch(kPlotDispatch);
}
