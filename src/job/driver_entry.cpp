#include "job/driver_entry.h"

#include <array>
#include <cstring>

#include "config/config_record.h"
#include "config/device_tables.h"
#include "config/page_geometry.h"
#include "config/tone_curve.h"
#include "dialogs/dialogs.h"
#include "interface/host_services.h"
#include "interface/messages.h"
#include "interface/output_buffer.h"
#include "job/job.h"
#include "job/requests.h"
#include "modes/data_mode.h"
#include "raster/image_request.h"
#include "raster/raster_output.h"
#include "varnu/byte_order.h"
#include "vector/pens.h"

namespace varnu {

namespace {

// The header without the handler addresses, laid out at compile time.
constexpr std::array<std::uint8_t, kDriverHeaderSize> BuildHeaderTemplate() {
    std::array<std::uint8_t, kDriverHeaderSize> h{};
    auto text = [&h](int offset, const char* s) {
        for (int i = 0; s[i] != '\0'; ++i) h[offset + i] = static_cast<std::uint8_t>(s[i]);
    };
    auto number16 = [&h](int offset, std::uint16_t v) {
        h[offset] = static_cast<std::uint8_t>(v);
        h[offset + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    text(0, "Varnu 4820/4810 Wide Format [Ver. 3.0.0] ADI 4.3 ");  // identity, NUL-padded
    // 410, 414: handler addresses, filled by PLADI
    number16(418, 4);
    // 420..431: zero
    number16(432, 3);
    text(434, "$ACADPLNAME$");
    text(449, "Microsoft Windows Win32");
    number16(481, 6);
    text(483, "14.0-1");
    return h;
}
constexpr auto kHeaderTemplate = BuildHeaderTemplate();

bool StoreHandlerAddresses() {
    HostAddress driverRequest = 0, plotRequest = 0;
    if (!FunctionToHostAddress(&DriverRequest, &driverRequest) ||
        !FunctionToHostAddress(&PlotRequest, &plotRequest)) {
        return false;
    }
    StoreLe(Module.DriverHeader, kRequestHandlerOffset, driverRequest);
    StoreLe(Module.DriverHeader, kPlotHandlerOffset, plotRequest);
    return true;
}

}  // namespace

std::uint8_t* CurrentPacket = nullptr;

void RestoreModuleLoadStateForTesting() {
    CurrentPacket = nullptr;
    ReleaseCommandBuffer();
    Module = ModuleStateRecord{};
    JobState = JobStateRecord{};
    PageState = PageStateRecord{};
    Configuration = ConfigurationRecord{};
    ReleaseRasterBuffers();
    Image = ImageStateRecord{};
    Dialogs = DialogStateRecord{};
}

}  // namespace varnu

extern "C" void* ADI_CALLEE_CLEANS PLADI(const void* hostServices, std::uint32_t /*reserved*/) {
    using namespace varnu;
    Module.HostServices = static_cast<const std::uint8_t*>(hostServices);
    std::memcpy(Module.DriverHeader, kHeaderTemplate.data(), kDriverHeaderSize);
    // A build whose handlers load above 4 GiB cannot describe itself to the
    // host; it hands back no header rather than truncated addresses.
    if (!StoreHandlerAddresses()) return nullptr;
    return Module.DriverHeader;
}
