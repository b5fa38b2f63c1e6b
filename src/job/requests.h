// The request handlers' shared state and the handlers of the configuration
// and job life cycle.
#pragma once

#include <cstdint>

namespace varnu {

// The latch gate of the gated requests: false (and -1 written) while latched.
bool PassLatchGate();

// Driver requests.
void DriverVersionCheck();      // 11
void DriverModelDescription();  // 20
void DriverConfigure();         // 21
void DriverZeroTable();         // 22
void DriverOneTable();          // 23
void DriverIdentityTable();     // 25
void DriverCapabilities();      // 40
void DriverDoubleTable();       // 44
void DriverSaveConfig();        // 47
void DriverReset();             // 49
void InstallMessagesRequest();  // 50, either handler

// Plot requests of the life cycle.
void PlotOpen();       // 29
void PlotConfigure();  // 46
void PlotExtents();    // 47
void PlotPageData();   // 48
void PlotReset();      // 49

}  // namespace varnu
