#include "plot_session.h"

#include "interface/output_buffer.h"

namespace varnu::testing {

void OpenPlotSession(const SessionOptions& options) {
    applyConfigDefaults(0);
    Config.modelIndex = 0;
    if (options.configure) options.configure(Config);
    TestHost& host = TestHost::Get();
    EncodeConfigRecord(Config, host.storedConfig.data());
    host.hasStoredConfig = true;
    Config = ConfigRecord{};

    Packet reset(49);
    reset.Set<std::int16_t>(4, 1).Set<std::uint8_t>(7, 2);
    SendPlot(reset);
    Packet messages(50);
    SendPlot(messages);
    Packet open(29);
    open.Set<std::int16_t>(4, 3);
    ASSERT_EQ(SendPlot(open).result(), 0);
    Packet extents(47);
    extents.Set<double>(9, options.extentX).Set<double>(17, options.extentY);
    SendPlot(extents);
    ASSERT_EQ(extents.result(), 47);
    Packet page(48);
    page.Set<double>(9, options.extentX).Set<double>(17, options.extentY);
    page.Set<double>(41, options.hostResolution).Set<double>(49, options.hostResolution);
    ASSERT_EQ(SendPlot(page).result(), 19);
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
    if (CommandBuffer == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(CommandBuffer),
                       static_cast<std::size_t>(CommandFill));
}

}  // namespace varnu::testing
