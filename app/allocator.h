#pragma once

// Keeps frame-sized buffers (tens of megabytes) in the heap instead of
// handing them back to the system after every frame: faulting a fresh 24 MB
// buffer in again costs far more than the pixel work done on it.
void tuneAllocatorForFrames();
