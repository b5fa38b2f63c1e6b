#include "test_host.h"

#include <cstring>

#include "host_table.h"
#include "interface/host_services.h"
#include "job/driver_entry.h"

namespace varnu::testing {

struct HostSlots {
    static std::int32_t PrintMessage(const char* text) {
        TestHost::Get().calls_.push_back({CallKind::PrintMessage, text});
        return 0;
    }
    static std::int32_t SendDeviceString(const char* text) {
        TestHost::Get().calls_.push_back({CallKind::SendDeviceString, text});
        return 0;
    }
    static std::int32_t WriteOutput(std::int32_t a, std::int32_t b, const void* bytes,
                                    std::int32_t count, std::int32_t c) {
        TestHost& host = TestHost::Get();
        if (host.writesBeforeFailure == 0) return 0;
        if (host.writesBeforeFailure > 0) --host.writesBeforeFailure;
        ++host.writeCalls;
        host.writtenBytes += static_cast<std::uint64_t>(count);
        if (!host.discardOutput) {
            HostCall call{CallKind::WriteOutput, std::string(static_cast<const char*>(bytes),
                                                             static_cast<std::size_t>(count))};
            call.a = a;
            call.b = b;
            call.c = c;
            host.calls_.push_back(std::move(call));
        }
        return 1;
    }
    static std::int32_t LoadConfig(std::int32_t size, void* record) {
        TestHost& host = TestHost::Get();
        HostCall call{CallKind::LoadConfig, {}};
        call.a = size;
        if (host.loadResult == 0 && host.hasStoredConfig) {
            std::memcpy(record, host.storedConfig.data(), 40);
            call.bytes.assign(reinterpret_cast<const char*>(host.storedConfig.data()), 40);
        }
        host.calls_.push_back(call);
        return host.hasStoredConfig ? host.loadResult : 1;
    }
    static std::int32_t StoreConfig(std::int32_t size, const void* record) {
        TestHost& host = TestHost::Get();
        HostCall call{CallKind::StoreConfig, std::string(static_cast<const char*>(record), 40)};
        call.a = size;
        host.calls_.push_back(call);
        if (host.storeResult == 0) {
            std::memcpy(host.storedConfig.data(), record, 40);
            host.hasStoredConfig = true;
        }
        return host.storeResult;
    }
    static std::int32_t NotifyHost(std::int32_t a, std::int32_t b) {
        TestHost& host = TestHost::Get();
        HostCall call{CallKind::NotifyHost, {}};
        call.a = a;
        call.b = b;
        host.calls_.push_back(call);
        return host.notifyResult;
    }
};

TestHost& TestHost::Get() {
    static TestHost host;
    return host;
}

TestHost::TestHost() {
    Reset();
}

void TestHost::Reset() {
    arena_.Reset();
    // A table larger than the highest slot, other slots left empty.
    table_ = static_cast<std::uint8_t*>(arena_.Allocate(hostkit::kServiceTableSize));
    if (!hostkit::FillServiceTable(table_, {&HostSlots::PrintMessage, &HostSlots::SendDeviceString,
                                            &HostSlots::WriteOutput, &HostSlots::LoadConfig,
                                            &HostSlots::StoreConfig, &HostSlots::NotifyHost})) {
        ADD_FAILURE() << "test host function above 4 GiB: is the test binary linked non-PIE?";
    }
    calls_.clear();
    writesBeforeFailure = -1;
    discardOutput = false;
    loadResult = 0;
    storeResult = 0;
    notifyResult = 5;
    hasStoredConfig = false;
    storedConfig.fill(0);
    writeCalls = 0;
    writtenBytes = 0;
}

std::vector<HostCall> TestHost::CallsOf(CallKind kind) const {
    std::vector<HostCall> out;
    for (const auto& call : calls_)
        if (call.kind == kind) out.push_back(call);
    return out;
}

std::string TestHost::Output() const {
    std::string out;
    for (const auto& call : calls_)
        if (call.kind == CallKind::WriteOutput) out += call.bytes;
    return out;
}

std::vector<std::string> TestHost::Messages() const {
    std::vector<std::string> out;
    for (const auto& call : calls_)
        if (call.kind == CallKind::PrintMessage) out.push_back(call.bytes);
    return out;
}

std::uint8_t* ReloadModule() {
    RestoreModuleLoadStateForTesting();
    return static_cast<std::uint8_t*>(PLADI(TestHost::Get().ServiceTable(), 0));
}

void DriverTest::SetUp() {
    host().Reset();
    header = ReloadModule();
    ASSERT_NE(header, nullptr);
}

}  // namespace varnu::testing

namespace varnu::testing {

Packet::Packet(std::int16_t code)
    : bytes_(static_cast<std::uint8_t*>(TestHost::Get().arena().Allocate(kSize))) {
    Set<std::int16_t>(layout::kCode, code);
}

Packet& SendDriver(Packet& packet) {
    DriverRequest(packet.data());
    return packet;
}

Packet& SendPlot(Packet& packet) {
    PlotRequest(packet.data());
    return packet;
}

}  // namespace varnu::testing
