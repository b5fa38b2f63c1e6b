// The two request handlers named in the DriverHeader.
#include "host/driver_entry.h"

namespace varnu {}  // namespace varnu

extern "C" void ADI_CALLER_CLEANS DriverRequest(void* packet) {
    varnu::CurrentPacket = static_cast<std::uint8_t*>(packet);
}

extern "C" void ADI_CALLER_CLEANS PlotRequest(void* packet) {
    varnu::CurrentPacket = static_cast<std::uint8_t*>(packet);
}
