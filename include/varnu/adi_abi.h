// Calling conventions and the 32-bit host-address rule of the ADI interface.
//
// Every address stored inside a record that crosses the interface (the
// DriverHeader's handler fields, the HostServices slots, addresses inside
// request packets and row requests) is 4 bytes wide. On the shipping i686
// module that is simply a pointer. Native x86-64 builds (tests, tools,
// benchmarks) are linked non-PIE and allocate what they hand over from a low
// arena, so the same 4-byte fields hold real addresses there too; the helpers
// below refuse any address that does not fit instead of truncating it.
#pragma once

#include <cstdint>

// The two conventions of the interface, named once. PLADI is callee-cleans;
// the handlers, the host's service slots and its row routines are
// caller-cleans. On 32-bit x86 (the shipping DLL and the Linux i386 build)
// they differ; x86-64 has one convention, so there they are empty.
#if defined(__i386__)
#define ADI_CALLEE_CLEANS __attribute__((stdcall))
#define ADI_CALLER_CLEANS __attribute__((cdecl))
#else
#define ADI_CALLEE_CLEANS
#define ADI_CALLER_CLEANS
#endif

namespace varnu {

// A 32-bit address as stored in an interface record; 0 is the null address.
using HostAddress = std::uint32_t;

// REQUIRES: nothing. Returns false (and 0) when p does not fit in 32 bits.
inline bool ToHostAddress(const void* p, HostAddress* out) {
    const auto value = reinterpret_cast<std::uintptr_t>(p);
    if (value > UINT32_MAX) {
        *out = 0;
        return false;
    }
    *out = static_cast<HostAddress>(value);
    return true;
}

// The pointer behind a host address; nullptr for the null address.
template <typename T>
inline T* FromHostAddress(HostAddress address) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(address));
}

// Function addresses stored in records (handler fields, service slots).
template <typename Fn>
inline bool FunctionToHostAddress(Fn* fn, HostAddress* out) {
    return ToHostAddress(reinterpret_cast<const void*>(fn), out);
}

template <typename Fn>
inline Fn* FunctionFromHostAddress(HostAddress address) {
    return reinterpret_cast<Fn*>(static_cast<std::uintptr_t>(address));
}

}  // namespace varnu
