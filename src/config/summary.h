// Plot request 31: the current configuration on the host's text screen.
#pragma once

namespace varnu {

void PrintConfigurationSummary();

}  // namespace varnu
