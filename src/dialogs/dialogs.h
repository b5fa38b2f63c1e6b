// The configuration dialogs the request handlers open. The platform layer
// (headless or Win32) is chosen at link time.
#pragma once

#include <cstdint>

namespace varnu {

enum class DialogResult : std::int32_t { Cancel = 2, Ok = 1 };

// "DRIVERCFG2_GER", opened by plot request 46.
DialogResult ShowDriverDialog();
// "DETAILCFG2_GER", opened by driver request 21.
DialogResult ShowDetailDialog();

}  // namespace varnu
