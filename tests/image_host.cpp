#include "image_host.h"

#include <cstring>

#include "interface/byte_order.h"

namespace varnu::testing {
namespace {

std::uint8_t* Reply = nullptr;
std::int32_t FetchCalls = 0;

void* Fetch(void* rowRequest) {
    ImageHost& h = ImageHost::Get();
    h.requests.emplace_back(static_cast<const char*>(rowRequest), 144);
    const std::int32_t call = FetchCalls++;
    Reply = static_cast<std::uint8_t*>(TestHost::Get().arena().Allocate(16));
    if (call == h.stopAtCall) {
        StoreLe<std::int16_t>(Reply, 12, 1);
        return Reply;
    }
    if (call == h.failAtCall) {
        StoreLe<std::int32_t>(Reply, 4, 99);
        StoreLe<std::int16_t>(Reply, 14, 1);
        return Reply;
    }
    const std::int32_t line =
        LoadLe<std::int32_t>(rowRequest, 4) + LoadLe<std::int32_t>(rowRequest, 0);
    const std::string bytes = h.lineBytes ? h.lineBytes(line) : std::string();
    auto* pixels = static_cast<std::uint8_t*>(TestHost::Get().arena().Allocate(bytes.size() + 1));
    std::memcpy(pixels, bytes.data(), bytes.size());
    HostAddress address = 0;
    ToHostAddress(pixels, &address);
    StoreLe<HostAddress>(Reply, 0, address);
    StoreLe<std::int32_t>(Reply, 4, static_cast<std::int32_t>(bytes.size()));
    return Reply;
}

std::int32_t Release(void*) {
    ++ImageHost::Get().releases;
    return 0;
}

}  // namespace

ImageHost& ImageHost::Get() {
    static ImageHost host;
    return host;
}

void ImageHost::Reset() {
    lineBytes = nullptr;
    stopAtCall = failAtCall = -1;
    requests.clear();
    releases = 0;
    FetchCalls = 0;
}

Packet ImagePacket(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1,
                   std::int32_t kind, std::int32_t sourceWidth, std::int32_t sourceHeight,
                   std::int16_t transparent, std::int16_t bits, std::int16_t colour) {
    Packet p(52);
    HostAddress fetch = 0, release = 0;
    FunctionToHostAddress(&Fetch, &fetch);
    FunctionToHostAddress(&Release, &release);
    p.Set<HostAddress>(4, fetch).Set<HostAddress>(8, release).Set<std::uint32_t>(12, 0xABCD1234);
    p.Set<std::int32_t>(16, x0)
        .Set<std::int32_t>(20, y0)
        .Set<std::int32_t>(24, x1)
        .Set<std::int32_t>(28, y1);
    p.Set<std::int32_t>(32, kind)
        .Set<std::int32_t>(36, sourceWidth)
        .Set<std::int32_t>(40, sourceHeight);
    p.Set<std::int16_t>(44, transparent).Set<std::int16_t>(46, bits).Set<std::int16_t>(48, colour);
    for (int i = 50; i < 122; ++i) p.data()[i] = static_cast<std::uint8_t>(i);
    return p;
}

}  // namespace varnu::testing
