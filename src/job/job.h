// Opening and closing a plot job: plot requests 30 and 2.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnu {

void JobStart();  // plot request 30
void JobEnd();    // plot request 2

}  // namespace varnu
