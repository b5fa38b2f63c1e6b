// Drawing state shared by the vector requests, job start, job end and the
// output buffer's failure path.
#pragma once

#include <cstdint>

namespace varnu {

// 1 once something was drawn on the page; job end only closes a page that has
// content. Cleared by every output failure.
extern std::int32_t PageHasContent;

// Module load.
void ResetVectorStateOnLoad();

}  // namespace varnu
