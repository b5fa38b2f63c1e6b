#include "vector/vector_state.h"

namespace varnu {

std::int32_t PageHasContent = 0;

void ResetVectorStateOnLoad() {
    PageHasContent = 0;
}

}  // namespace varnu
