#include "plot_session.h"

#include "config/config_record.h"
#include "host_table.h"
#include "interface/output_buffer.h"
#include "job/driver_entry.h"

namespace varnu::testing {

void OpenPlotSession(const SessionOptions& options) {
    applyConfigDefaults(0);
    Configuration.Config.modelIndex = 0;
    if (options.configure) options.configure(Configuration.Config);
    TestHost& host = TestHost::Get();
    EncodeConfigRecord(Configuration.Config, host.storedConfig.data());
    host.hasStoredConfig = true;
    Configuration.Config = ConfigRecord{};

    hostkit::JobOpening opening;
    opening.extentX = options.extentX;
    opening.extentY = options.extentY;
    opening.resolution = options.hostResolution;
    opening.hostVersion = 3;
    opening.startJob = false;  // StartJob sends 30
    std::string error;
    ASSERT_EQ(hostkit::OpenPlotJob(&PlotRequest, opening, &error), 0) << error;
}

std::int16_t StartJob() {
    Packet start(30);
    return SendPlot(start).result();
}

void EndJob() {
    Packet end(2);
    SendPlot(end);
}

std::string Waiting() {
    if (PageState.CommandBuffer == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(PageState.CommandBuffer),
                       static_cast<std::size_t>(PageState.CommandFill));
}

}  // namespace varnu::testing
