#pragma once

#include "engine/capturedframe.h"

// Takes every frame a capture loop reads (a recording), on the loop's thread.
// It must return at once: the loop does not wait for anyone.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void frameCaptured(const CapturedFrame &frame) = 0;
};
