#include "interface/host_services.h"

#include "interface/lifetimes.h"
#include "varnu/byte_order.h"

namespace varnu {

namespace {

template <typename Fn>
Fn* Slot(HostServiceSlot offset) {
    if (Module.HostServices == nullptr) return nullptr;
    return FunctionFromHostAddress<Fn>(LoadLe<HostAddress>(Module.HostServices, offset));
}

constexpr std::int32_t kConfigRecordSize = 40;

}  // namespace

void HostPrintMessage(const char* text) {
    if (auto* fn = Slot<PrintMessageFn>(kPrintMessageSlot)) fn(text);
}

void HostSendDeviceString(const char* text) {
    if (auto* fn = Slot<SendDeviceStringFn>(kSendDeviceStringSlot)) fn(text);
}

std::int32_t HostWriteOutput(const void* bytes, std::int32_t count) {
    auto* fn = Slot<WriteOutputFn>(kWriteOutputSlot);
    return fn ? fn(1, 0, bytes, count, 0) : 0;
}

std::int32_t HostLoadConfig(void* record40) {
    auto* fn = Slot<LoadConfigFn>(kLoadConfigSlot);
    return fn ? fn(kConfigRecordSize, record40) : -1;
}

std::int32_t HostStoreConfig(const void* record40) {
    auto* fn = Slot<StoreConfigFn>(kStoreConfigSlot);
    return fn ? fn(kConfigRecordSize, record40) : -1;
}

std::int32_t HostNotify(std::int32_t a, std::int32_t b) {
    auto* fn = Slot<NotifyHostFn>(kNotifyHostSlot);
    return fn ? fn(a, b) : -1;
}

}  // namespace varnu
