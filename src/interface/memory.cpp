#include "interface/memory.h"

#include <cstdlib>

namespace varnu {

namespace {
int AllocationsBeforeFailure = -1;  // test hook; negative = never fail
}

void* AllocateZeroed(std::size_t size) {
    if (AllocationsBeforeFailure == 0) return nullptr;
    if (AllocationsBeforeFailure > 0) --AllocationsBeforeFailure;
    return std::calloc(1, size);
}

void ReleaseBlock(void* block) {
    std::free(block);
}

void FailAllocationsAfterForTesting(int successes) {
    AllocationsBeforeFailure = successes;
}

}  // namespace varnu
