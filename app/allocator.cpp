#include "app/allocator.h"

#include <malloc.h>

namespace {
// Above the largest frame buffer (3264 x 2448 x 3 bytes is about 24 MB).
constexpr int kMmapThresholdBytes = 32 * 1024 * 1024;
// Free memory kept for the next frames before it is returned to the system.
constexpr int kTrimThresholdBytes = 1024 * 1024 * 1024;
} // namespace

void tuneAllocatorForFrames()
{
    mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
    mallopt(M_TRIM_THRESHOLD, kTrimThresholdBytes);
}
