// A host for the driver under test: the six service slots at their byte
// offsets, every call recorded in order, switches to make the host fail, and
// a low arena for what is handed over by a 4-byte address.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "low_arena.h"
#include "varnu/packet_layouts.h"

namespace varnu::testing {

enum class CallKind {
    PrintMessage,
    SendDeviceString,
    WriteOutput,
    LoadConfig,
    StoreConfig,
    NotifyHost
};

struct HostCall {
    CallKind kind;
    std::string bytes;          // message, device string, output piece, or the 40 bytes
    std::int32_t a = 0, b = 0;  // NotifyHost arguments; WriteOutput: its first and second
    std::int32_t c = 0;         // WriteOutput: its fifth argument
};

class TestHost {
  public:
    // The one host of the test binary; the service slots reach it statically.
    static TestHost& Get();

    void Reset();
    const void* ServiceTable() const { return table_; }

    // Calls recorded since the last Reset/ClearCalls.
    const std::vector<HostCall>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }
    std::vector<HostCall> CallsOf(CallKind kind) const;
    // Every WriteOutput byte, in order.
    std::string Output() const;
    std::vector<std::string> Messages() const;

    // Switches.
    std::int64_t writesBeforeFailure = -1;        // fail the write after this many; <0 never
    bool discardOutput = false;                   // count but do not record WriteOutput bytes
    std::int32_t loadResult = 0;                  // LoadConfig's answer
    std::int32_t storeResult = 0;                 // StoreConfig's answer
    std::int32_t notifyResult = 5;                // NotifyHost's answer
    bool hasStoredConfig = false;                 // LoadConfig fills the record only with one
    std::array<std::uint8_t, 40> storedConfig{};  // what the host keeps between runs

    std::uint64_t writeCalls = 0;
    std::uint64_t writtenBytes = 0;

    hostkit::LowArena& arena() { return arena_; }

  private:
    TestHost();
    friend struct HostSlots;
    std::uint8_t* table_ = nullptr;
    std::vector<HostCall> calls_;
    hostkit::LowArena arena_;
};

// The module as a host has just loaded it, this host installed again through
// PLADI (request 50 not yet sent); the host's switches and its stored record
// stay as they are. Returns the header, or nullptr.
std::uint8_t* ReloadModule();

// Fixture: every test starts from the module-loaded state with the test host
// installed through PLADI (request 50 not yet sent).
class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override;
    TestHost& host() { return TestHost::Get(); }
    std::uint8_t* header = nullptr;
};

// Bytes as two hexadecimal digits each, blank-separated: "9B 5E 00 02".
inline std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// Bytes of a string literal with embedded NULs, for exact comparisons.
template <std::size_t N>
std::string Bytes(const char (&s)[N]) {
    return std::string(s, N - 1);
}

}  // namespace varnu::testing

namespace varnu::testing {

// A request packet in the low arena, large enough for every request.
class Packet {
  public:
    static constexpr std::size_t kSize = 2100;
    explicit Packet(std::int16_t code);

    std::uint8_t* data() const { return bytes_; }
    template <typename T>
    T Get(std::size_t offset) const {
        T v;
        std::memcpy(&v, bytes_ + offset, sizeof v);
        return v;
    }
    template <typename T>
    Packet& Set(std::size_t offset, T v) {
        std::memcpy(bytes_ + offset, &v, sizeof v);
        return *this;
    }
    std::int16_t result() const { return Get<std::int16_t>(layout::kCode); }
    std::string Text(std::size_t offset) const {
        return reinterpret_cast<const char*>(bytes_ + offset);
    }

  private:
    std::uint8_t* bytes_;
};

// Send a packet to a handler; returns it for inspection.
Packet& SendDriver(Packet& packet);
Packet& SendPlot(Packet& packet);

}  // namespace varnu::testing
