#include "image_host.h"

#include <cstring>

#include "varnu/byte_order.h"
#include "varnu/packet_layouts.h"

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
        StoreLe<std::int16_t>(Reply, layout::row_reply::kStop, 1);
        return Reply;
    }
    if (call == h.failAtCall) {
        StoreLe<std::int32_t>(Reply, layout::row_reply::kCount, 99);
        StoreLe<std::int16_t>(Reply, layout::row_reply::kFailed, 1);
        return Reply;
    }
    const std::int32_t line = LoadLe<std::int32_t>(rowRequest, layout::row_request::kFirstRow) +
                              LoadLe<std::int32_t>(rowRequest, layout::row_request::kFirstColumn);
    const std::string bytes = h.lineBytes ? h.lineBytes(line) : std::string();
    auto* pixels = static_cast<std::uint8_t*>(TestHost::Get().arena().Allocate(bytes.size() + 1));
    std::memcpy(pixels, bytes.data(), bytes.size());
    HostAddress address = 0;
    ToHostAddress(pixels, &address);
    StoreLe<HostAddress>(Reply, layout::row_reply::kPixels, address);
    StoreLe<std::int32_t>(Reply, layout::row_reply::kCount,
                          static_cast<std::int32_t>(bytes.size()));
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
    namespace img = layout::image;
    p.Set<HostAddress>(img::kFetch, fetch)
        .Set<HostAddress>(img::kRelease, release)
        .Set<std::uint32_t>(img::kHandle, 0xABCD1234);
    p.Set<std::int32_t>(img::kCorners, x0)
        .Set<std::int32_t>(img::kCorners + 4, y0)
        .Set<std::int32_t>(img::kCorners + 8, x1)
        .Set<std::int32_t>(img::kCorners + 12, y1);
    p.Set<std::int32_t>(img::kKind, kind)
        .Set<std::int32_t>(img::kSourceWidth, sourceWidth)
        .Set<std::int32_t>(img::kSourceHeight, sourceHeight);
    p.Set<std::int16_t>(img::kTransparent, transparent)
        .Set<std::int16_t>(img::kBits, bits)
        .Set<std::int16_t>(img::kColour, colour);
    for (int i = 50; i < 122; ++i) p.data()[i] = static_cast<std::uint8_t>(i);
    return p;
}

}  // namespace varnu::testing
